#include "InflatePipeline.h"

#include <algorithm>
#include <memory>

namespace ravekzip {

namespace {

struct ArchiveCloser {
    void operator()(zip_t* archive) const { zip_discard(archive); }
};
struct EntryCloser {
    void operator()(zip_file_t* file) const { zip_fclose(file); }
};

}  // namespace

InflatePipeline::InflatePipeline(std::string archivePath, zip_uint64_t entries)
    : path_(std::move(archivePath)), entries_(entries), worker_([this] { Work(); }) {}

InflatePipeline::~InflatePipeline() {
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
    }
    changed_.notify_all();
    worker_.join();
}

std::optional<std::string> InflatePipeline::Inflate(zip_t* archive, zip_uint64_t index) const {
    zip_stat_t stat;
    if (zip_stat_index(archive, index, ZIP_FL_ENC_RAW, &stat) != 0) return std::nullopt;
    const bool folder = stat.name != nullptr && *stat.name != '\0' && stat.name[std::char_traits<char>::length(stat.name) - 1] == '/';
    if (folder || stat.encryption_method != ZIP_EM_NONE || stat.size > kLargestInMemory) return std::nullopt;
    std::unique_ptr<zip_file_t, EntryCloser> in(zip_fopen_index(archive, index, 0));
    if (!in) return std::nullopt;
    // One byte of room more than stated tells an entry that expands beyond its size.
    std::string bytes(stat.size + 1, '\0');
    zip_uint64_t total = 0;
    for (;;) {
        const zip_int64_t n = zip_fread(in.get(), bytes.data() + total, bytes.size() - total);
        if (n < 0) return std::nullopt;
        if (n == 0) break;
        total += static_cast<zip_uint64_t>(n);
        if (total > stat.size) return std::nullopt;
    }
    if (total != stat.size) return std::nullopt;
    bytes.resize(total);
    return bytes;
}

void InflatePipeline::Work() {
    int error = 0;
    const std::unique_ptr<zip_t, ArchiveCloser> archive(zip_open(path_.c_str(), ZIP_RDONLY, &error));
    if (!archive) return;  // the extractor inflates every entry itself
    std::unique_lock<std::mutex> lock(mutex_);
    for (zip_uint64_t index = 0;; ++index) {
        changed_.wait(lock, [&] { return stop_ || bytesAhead_ < kBytesAhead; });
        index = std::max(index, wanted_);
        if (stop_ || index >= entries_) return;
        working_ = index;
        lock.unlock();
        std::optional<std::string> bytes;
        try {
            bytes = Inflate(archive.get(), index);
        } catch (const std::bad_alloc&) {  // the extractor tries again, and reports it
        }
        lock.lock();
        working_.reset();
        if (bytes && index >= wanted_) {
            bytesAhead_ += bytes->size();
            ready_.emplace(index, std::move(*bytes));
        }
        changed_.notify_all();
    }
}

std::optional<std::string> InflatePipeline::Take(zip_uint64_t index) {
    std::unique_lock<std::mutex> lock(mutex_);
    // An entry being inflated now is worth waiting for; one not reached yet is not.
    changed_.wait(lock, [&] { return working_ != index; });
    wanted_ = std::max(wanted_, index + 1);
    std::optional<std::string> bytes;
    for (auto it = ready_.begin(); it != ready_.end() && it->first <= index;) {
        bytesAhead_ -= it->second.size();
        if (it->first == index) bytes = std::move(it->second);
        it = ready_.erase(it);
    }
    lock.unlock();
    changed_.notify_all();
    return bytes;
}

}  // namespace ravekzip
