#include "ZipSources.h"

#include <zlib.h>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <algorithm>
#include <memory>
#include <optional>
#include <vector>

#include "AtomicFile.h"

namespace ravekzip {

namespace {

// ---- the archive written through AtomicFile ----

struct ArchiveTarget {
    std::filesystem::path Target;
    std::string* WriteFailure;
    std::optional<AtomicFile> File;
    uint64_t Position = 0;
    zip_error_t Error;
    // libzip writes in pieces of a few KB: they are gathered into large writes.
    std::string Pending;
    uint64_t PendingAt = 0;
};

constexpr std::size_t kWriteBlock = 1 << 20;

void FlushPending(ArchiveTarget& self) {
    if (!self.Pending.empty()) self.File->WriteAt(self.PendingAt, self.Pending.data(), self.Pending.size());
    self.Pending.clear();
}

void WriteAtPosition(ArchiveTarget& self, const void* data, std::size_t length) {
    const bool contiguous = self.PendingAt + self.Pending.size() == self.Position;
    if (!contiguous || self.Pending.size() + length > kWriteBlock) FlushPending(self);
    if (self.Pending.empty()) self.PendingAt = self.Position;
    if (length >= kWriteBlock) self.File->WriteAt(self.Position, data, length);
    else self.Pending.append(static_cast<const char*>(data), length);
    self.Position += length;
}

uint64_t WrittenSize(const ArchiveTarget& self) {
    return std::max<uint64_t>(self.File->Size(), self.PendingAt + self.Pending.size());
}

zip_int64_t Fail(zip_error_t& error, int zipError, int systemError) {
    zip_error_set(&error, zipError, systemError);
    return -1;
}

zip_int64_t ArchiveTargetCallback(void* state, void* data, zip_uint64_t length, zip_source_cmd_t command) {
    auto& self = *static_cast<ArchiveTarget*>(state);
    try {
        switch (command) {
            case ZIP_SOURCE_SUPPORTS:
                return ZIP_SOURCE_SUPPORTS_WRITABLE;
            case ZIP_SOURCE_STAT:
                // The archive is always made afresh: as far as libzip is concerned it does not exist.
                return Fail(self.Error, ZIP_ER_READ, ENOENT);
            case ZIP_SOURCE_OPEN:
                return Fail(self.Error, ZIP_ER_OPEN, ENOENT);
            case ZIP_SOURCE_READ:
            case ZIP_SOURCE_SEEK:
            case ZIP_SOURCE_TELL:
                return Fail(self.Error, ZIP_ER_INTERNAL, 0);
            case ZIP_SOURCE_CLOSE:
                return 0;
            case ZIP_SOURCE_ERROR:
                return zip_error_to_data(&self.Error, data, length);
            case ZIP_SOURCE_FREE: {
                zip_error_fini(&self.Error);
                const std::unique_ptr<ArchiveTarget> released(&self);  // libzip hands the state back to be released
                return 0;
            }
            case ZIP_SOURCE_BEGIN_WRITE:
                self.File.emplace(self.Target);
                self.Position = 0;
                self.Pending.clear();
                self.Pending.reserve(kWriteBlock);
                self.PendingAt = 0;
                return 0;
            case ZIP_SOURCE_WRITE:
                WriteAtPosition(self, data, length);
                return static_cast<zip_int64_t>(length);
            case ZIP_SOURCE_SEEK_WRITE: {
                const zip_int64_t at = zip_source_seek_compute_offset(self.Position, WrittenSize(self), data, length, &self.Error);
                if (at < 0) return -1;
                self.Position = static_cast<uint64_t>(at);
                return 0;
            }
            case ZIP_SOURCE_TELL_WRITE:
                return static_cast<zip_int64_t>(self.Position);
            case ZIP_SOURCE_COMMIT_WRITE:
                FlushPending(self);
                self.File->Commit();
                self.File.reset();
                return 0;
            case ZIP_SOURCE_ROLLBACK_WRITE:
                self.Pending.clear();
                self.File.reset();  // removes the temporary file
                return 0;
            case ZIP_SOURCE_REMOVE:
                return 0;  // nothing was ever written under the final name
            default:
                return Fail(self.Error, ZIP_ER_OPNOTSUPP, 0);
        }
    } catch (const std::filesystem::filesystem_error& e) {
        *self.WriteFailure = e.what();
        return Fail(self.Error, ZIP_ER_WRITE, e.code().value());
    }
}

// ---- one file, deflated ----

struct PackedSource {
    PackedEntry* Entry;
    bool Prepared = false;
    std::string Data;        // what libzip copies into the archive (deflated or stored)
    uint32_t Crc = 0;
    uint64_t CompSize = 0;   // of Data, kept when Data is released after the copy
    uint64_t Offset = 0;     // read position in Data
    zip_error_t Error;
};

bool ReadWhole(const std::filesystem::path& file, uint64_t expected, std::string& bytes, std::string& failure) {
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        failure = "could not open for reading: " + file.string() + ": " + std::strerror(errno);
        return false;
    }
    bytes.resize(expected + 1);  // one byte more tells a file that grew
    std::size_t done = 0;
    for (;;) {
        const ssize_t n = ::read(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (n < 0) failure = "could not read " + file.string() + ": " + std::strerror(errno);
            break;
        }
        done += static_cast<std::size_t>(n);
        if (done == bytes.size()) break;
    }
    ::close(fd);
    if (!failure.empty()) return false;
    if (done != expected) {
        failure = "file changed size while being packed: " + file.string();
        return false;
    }
    bytes.resize(expected);
    return true;
}

// The bytes libzip copies for an entry: its file deflated (nothing for a folder or an empty file),
// and the CRC of the file.
bool ReadAndDeflate(const PackedEntry& entry, PackScratch& scratch, std::string& data, uint32_t& crc, std::string& failure) {
    crc = crc32(0, nullptr, 0);
    data.clear();
    if (entry.File.empty()) return true;
    if (entry.Size > UINT32_MAX) {  // one recording of 4 GB is no recording
        failure = "file too large to pack: " + entry.File.string();
        return false;
    }
    std::string& plain = scratch.Plain;
    if (!ReadWhole(entry.File, entry.Size, plain, failure)) return false;
    crc = crc32(crc, reinterpret_cast<const Bytef*>(plain.data()), static_cast<uInt>(plain.size()));
    if (entry.Size == 0) return true;
    if (!scratch.Deflate(plain, entry.Level, data)) {
        failure = "could not compress " + entry.File.string();
        return false;
    }
    return true;
}

// Reads and compresses the file once, when libzip first asks about it.
bool Prepare(PackedSource& self) {
    if (self.Prepared) return true;
    PackedEntry& entry = *self.Entry;
    if (entry.Pipeline) {
        if (!entry.Pipeline->Take(entry.Index, self.Data, self.Crc)) return false;
    } else {
        self.Data = std::move(entry.Scratch->Spare);
        if (!ReadAndDeflate(entry, *entry.Scratch, self.Data, self.Crc, entry.Failure)) return false;
    }
    self.CompSize = self.Data.size();
    self.Prepared = true;
    return true;
}

bool Stored(const PackedEntry& entry) { return entry.File.empty() || entry.Size == 0; }

zip_int64_t PackedSourceCallback(void* state, void* data, zip_uint64_t length, zip_source_cmd_t command) {
    auto& self = *static_cast<PackedSource*>(state);
    PackedEntry& entry = *self.Entry;
    switch (command) {
        case ZIP_SOURCE_SUPPORTS:
            return zip_source_make_command_bitmap(ZIP_SOURCE_OPEN, ZIP_SOURCE_READ, ZIP_SOURCE_CLOSE, ZIP_SOURCE_STAT,
                                                  ZIP_SOURCE_ERROR, ZIP_SOURCE_FREE, -1);
        case ZIP_SOURCE_STAT: {
            if (!Prepare(self)) return Fail(self.Error, ZIP_ER_READ, EIO);
            auto* st = static_cast<zip_stat_t*>(data);
            zip_stat_init(st);
            st->valid = ZIP_STAT_SIZE | ZIP_STAT_COMP_SIZE | ZIP_STAT_CRC | ZIP_STAT_MTIME | ZIP_STAT_COMP_METHOD;
            st->size = entry.Size;
            st->comp_size = Stored(entry) ? entry.Size : self.CompSize;
            st->crc = self.Crc;
            st->mtime = entry.ModificationTime;
            // Data handed over already deflated is copied as it is, not compressed again.
            st->comp_method = Stored(entry) ? ZIP_CM_STORE : ZIP_CM_DEFLATE;
            return sizeof(zip_stat_t);
        }
        case ZIP_SOURCE_OPEN: {
            if (!Prepare(self)) return Fail(self.Error, ZIP_ER_READ, EIO);
            int percent = -1;
            if (!Stored(entry)) {
                const auto saved = static_cast<int64_t>(entry.Size) - static_cast<int64_t>(self.CompSize);
                percent = saved <= 0 ? 0 : static_cast<int>(saved * 100 / static_cast<int64_t>(entry.Size));
            }
            if (entry.Starting && entry.Starting(entry, percent) != 0) {
                entry.Cancelled = true;
                return Fail(self.Error, ZIP_ER_CANCELLED, 0);
            }
            self.Offset = 0;
            return 0;
        }
        case ZIP_SOURCE_READ: {
            const uint64_t left = self.Data.size() - self.Offset;
            const uint64_t n = left < length ? left : length;
            std::copy_n(self.Data.data() + self.Offset, n, static_cast<char*>(data));
            self.Offset += n;
            return static_cast<zip_int64_t>(n);
        }
        case ZIP_SOURCE_CLOSE:
            // The data is in the archive now: keep only what stat reports, and the buffer for
            // the next entry.
            if (entry.Scratch && !entry.Pipeline) entry.Scratch->Spare = std::move(self.Data);
            // Released, not just emptied: a string's move assignment may hand its old buffer
            // back, and libzip keeps every source until the archive is closed.
            std::string().swap(self.Data);
            return 0;
        case ZIP_SOURCE_ERROR:
            return zip_error_to_data(&self.Error, data, length);
        case ZIP_SOURCE_FREE: {
            zip_error_fini(&self.Error);
            const std::unique_ptr<PackedSource> released(&self);  // libzip hands the state back to be released
            return 0;
        }
        default:
            return Fail(self.Error, ZIP_ER_OPNOTSUPP, 0);
    }
}

}  // namespace

struct PackScratch::Stream {
    z_stream Z{};
    bool Ready = false;
    ~Stream() {
        if (Ready) deflateEnd(&Z);
    }
};

PackScratch::PackScratch() : stream_(std::make_unique<Stream>()) {}
PackScratch::~PackScratch() = default;

bool PackScratch::Deflate(const std::string& in, int level, std::string& out) {
    z_stream& z = stream_->Z;
    if (!stream_->Ready || level != level_) {
        if (stream_->Ready) deflateEnd(&z);
        z = z_stream{};
        stream_->Ready = deflateInit2(&z, level, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) == Z_OK;
        level_ = level;
        if (!stream_->Ready) return false;
    } else if (deflateReset(&z) != Z_OK) {
        return false;
    }
    out.resize(deflateBound(&z, static_cast<uLong>(in.size())));
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(in.data()));
    z.avail_in = static_cast<uInt>(in.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = static_cast<uInt>(out.size());
    const int result = deflate(&z, Z_FINISH);
    out.resize(z.total_out);
    return result == Z_STREAM_END;
}

PackPipeline::PackPipeline(std::deque<PackedEntry>& entries)
    : entries_(entries), prepared_(entries.size()), callerScratch_(std::make_unique<PackScratch>()),
      worker_([this] { Work(); }) {}

PackPipeline::~PackPipeline() {
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
    }
    changed_.notify_all();
    worker_.join();
}

void PackPipeline::PrepareNext(std::unique_lock<std::mutex>& lock, PackScratch& scratch) {
    const std::size_t index = next_++;
    bytesAhead_ += entries_[index].Size;
    lock.unlock();
    Prepared made;
    try {
        made.Ok = ReadAndDeflate(entries_[index], scratch, made.Data, made.Crc, made.Failure);
    } catch (const std::exception& e) {  // out of memory: the entry fails, the packing reports it
        made.Ok = false;
        made.Failure = "could not pack " + entries_[index].File.string() + ": " + e.what();
    }
    made.Done = true;
    lock.lock();
    prepared_[index] = std::move(made);
    changed_.notify_all();
}

void PackPipeline::Work() {
    PackScratch scratch;
    std::unique_lock<std::mutex> lock(mutex_);
    while (!stop_ && next_ < entries_.size()) {
        if (bytesAhead_ >= kBytesAhead) {
            changed_.wait(lock);
            continue;
        }
        PrepareNext(lock, scratch);
    }
}

bool PackPipeline::Take(std::size_t index, std::string& data, uint32_t& crc) {
    std::unique_lock<std::mutex> lock(mutex_);
    // Waiting for the thread to finish the entry, the caller prepares the next ones meanwhile:
    // both cores deflate.
    while (!prepared_[index].Done) {
        if (next_ <= index || (next_ < entries_.size() && bytesAhead_ < kBytesAhead)) PrepareNext(lock, *callerScratch_);
        else changed_.wait(lock);
    }
    Prepared made = std::move(prepared_[index]);
    prepared_[index].Done = true;  // taken: its bytes no longer count
    bytesAhead_ -= std::min<uint64_t>(bytesAhead_, entries_[index].Size);
    lock.unlock();
    changed_.notify_all();
    data = std::move(made.Data);
    crc = made.Crc;
    if (!made.Ok) entries_[index].Failure = std::move(made.Failure);
    return made.Ok;
}

zip_source_t* NewArchiveTarget(const std::filesystem::path& target, std::string& writeFailure, zip_error_t* error) {
    auto state = std::make_unique<ArchiveTarget>();
    state->Target = target;
    state->WriteFailure = &writeFailure;
    zip_error_init(&state->Error);
    zip_source_t* source = zip_source_function_create(ArchiveTargetCallback, state.get(), error);
    if (source == nullptr) {
        zip_error_fini(&state->Error);
        return nullptr;
    }
    state.release();  // owned by the source from now on (released at ZIP_SOURCE_FREE)
    return source;
}

zip_source_t* NewPackedSource(zip_t* archive, PackedEntry& entry) {
    auto state = std::make_unique<PackedSource>(PackedSource{&entry, false, {}, 0, 0, 0, {}});
    zip_error_init(&state->Error);
    zip_source_t* source = zip_source_function(archive, PackedSourceCallback, state.get());
    if (source == nullptr) {
        zip_error_fini(&state->Error);
        return nullptr;
    }
    state.release();  // owned by the source from now on (released at ZIP_SOURCE_FREE)
    return source;
}

}  // namespace ravekzip
