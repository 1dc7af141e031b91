#pragma once
// libzip data sources of the packer and the extractor: the archive written through AtomicFile
// (so it takes its name only when complete), and one file of the recordings compressed as libzip
// asks for it.
#include <zip.h>

#include <cstdint>
#include <ctime>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

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
    std::string Failure;         // why the entry could not be packed ("" when it could)
    bool Cancelled = false;
};

// The entry's data, deflated from its file on first use (directories and empty files are
// stored). The source refers to `entry`, which must outlive it.
zip_source_t* NewPackedSource(zip_t* archive, PackedEntry& entry);

}  // namespace ravekzip
