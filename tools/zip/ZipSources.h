#pragma once
// libzip data sources of the packer and the extractor: the archive written through AtomicFile
// (so it takes its name only when complete), and one file of the recordings compressed as libzip
// asks for it.
#include <zip.h>

#include <condition_variable>
#include <deque>
#include <cstdint>
#include <ctime>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace ravekzip {

// A new archive at `target`, written under a temporary name and renamed when libzip commits it.
// Returns null with `error` set when libzip cannot make the source. `writeFailure` receives the
// reason of a failed write (a full disk, a read-only folder).
zip_source_t* NewArchiveTarget(const std::filesystem::path& target, std::string& writeFailure, zip_error_t* error);

// What the entries of one packing share, so that packing 10,000 small files costs no memory
// churn: one deflate stream (reset between files) and the buffers, reused.
class PackScratch {
public:
    PackScratch();
    ~PackScratch();
    PackScratch(const PackScratch&) = delete;
    PackScratch& operator=(const PackScratch&) = delete;
    // Raw deflate of `in` at `level` into `out` (its capacity reused); false on failure.
    bool Deflate(const std::string& in, int level, std::string& out);
    std::string Plain;  // the file being packed
    std::string Spare;  // a deflate buffer handed back by an entry already written

private:
    struct Stream;
    std::unique_ptr<Stream> stream_;
    int level_ = -1;
};

class PackPipeline;

// What the packer knows of one entry while libzip writes it.
struct PackedEntry {
    std::filesystem::path File;  // empty for a directory entry
    std::string Name;            // name in the archive
    uint64_t Size = 0;
    std::time_t ModificationTime = 0;
    int Level = 6;               // deflate level
    // Called when libzip starts writing the entry's data, with the deflate saving in percent
    // (stored entries: -1). A non-zero answer cancels the archive.
    std::function<int(const PackedEntry&, int percent)> Starting;
    PackScratch* Scratch = nullptr;
    PackPipeline* Pipeline = nullptr;  // when set, prepares the entry's data (Index is its place)
    std::size_t Index = 0;
    std::string Failure;         // why the entry could not be packed ("" when it could)
    bool Cancelled = false;
};

// Reads and deflates the entries of one packing ahead of libzip on a second thread, so that
// packing uses two cores: the thread and the caller of Take (while it waits) work through the
// entries in order, at most kBytesAhead bytes of files beyond those libzip has taken. The entries'
// files, sizes and levels must not change while the pipeline lives.
class PackPipeline {
public:
    static constexpr uint64_t kBytesAhead = 64ull << 20;
    explicit PackPipeline(std::deque<PackedEntry>& entries);
    ~PackPipeline();
    PackPipeline(const PackPipeline&) = delete;
    PackPipeline& operator=(const PackPipeline&) = delete;
    // The data (deflated, or empty for a stored entry) and CRC of entries[index], taken once;
    // false with the entry's Failure set when it could not be read or compressed.
    bool Take(std::size_t index, std::string& data, uint32_t& crc);

private:
    struct Prepared {
        bool Done = false;
        bool Ok = false;
        std::string Data;
        uint32_t Crc = 0;
        std::string Failure;
    };
    // Claims the next unclaimed entry and prepares it with `scratch`; the lock is released meanwhile.
    void PrepareNext(std::unique_lock<std::mutex>& lock, PackScratch& scratch);
    void Work();

    std::deque<PackedEntry>& entries_;
    std::vector<Prepared> prepared_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::size_t next_ = 0;     // the first entry nobody has claimed
    uint64_t bytesAhead_ = 0;  // file bytes of the entries claimed and not yet taken
    bool stop_ = false;
    std::unique_ptr<PackScratch> callerScratch_;
    std::thread worker_;  // last: it starts once everything it uses is ready
};

// The entry's data, deflated from its file on first use (directories and empty files are
// stored). The source refers to `entry`, which must outlive it.
zip_source_t* NewPackedSource(zip_t* archive, PackedEntry& entry);

}  // namespace ravekzip
