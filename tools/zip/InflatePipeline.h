#pragma once
// Inflates an archive's file entries ahead of the extractor on a second thread, so that a restore
// uses two cores: one inflates while the other writes files. The thread has a handle of its own
// on the archive and works through the entries in order, at most kBytesAhead bytes ahead of the
// entry the extractor asked for last. It hands over only entries it inflated completely and to
// their stated size; for any other the extractor inflates the entry itself, with its own checks
// and messages.
#include <zip.h>

#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

namespace ravekzip {

class InflatePipeline {
public:
    static constexpr uint64_t kBytesAhead = 64ull << 20;
    // Larger entries are left to the extractor, which streams them to their file.
    static constexpr uint64_t kLargestInMemory = 16ull << 20;

    InflatePipeline(std::string archivePath, zip_uint64_t entries);
    ~InflatePipeline();
    InflatePipeline(const InflatePipeline&) = delete;
    InflatePipeline& operator=(const InflatePipeline&) = delete;

    // The bytes of entry `index`, or nothing when the caller is to inflate it itself. Asked in
    // ascending order: entries before `index` that were never asked for are dropped.
    std::optional<std::string> Take(zip_uint64_t index);

private:
    void Work();
    std::optional<std::string> Inflate(zip_t* archive, zip_uint64_t index) const;

    const std::string path_;
    const zip_uint64_t entries_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::map<zip_uint64_t, std::string> ready_;
    uint64_t bytesAhead_ = 0;             // bytes in ready_
    zip_uint64_t wanted_ = 0;             // the first entry the extractor may still ask for
    std::optional<zip_uint64_t> working_;  // the entry being inflated
    bool stop_ = false;
    std::thread worker_;  // last: it starts once everything it uses is ready
};

}  // namespace ravekzip
