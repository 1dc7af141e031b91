#include "UnzipLibrary.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <zip.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <memory>
#include <optional>
#include <unordered_set>

#include "AtomicFile.h"
#include "InflatePipeline.h"
#include "ZipText.h"

namespace fs = std::filesystem;

namespace ravekzip {

namespace {

struct ZipCloser {
    void operator()(zip_t* archive) const { zip_discard(archive); }
};
struct ZipFileCloser {
    void operator()(zip_file_t* file) const { zip_fclose(file); }
};

// The disk filled up: nothing further can be written.
struct DiskFull {};

std::string MethodText(int32_t method) {
    switch (method) {
        case ZIP_CM_STORE: return "Stored";
        case ZIP_CM_DEFLATE: return "Defl:N";
        case ZIP_CM_DEFLATE64: return "Def64";
        case ZIP_CM_BZIP2: return "BZip2";
        default: return "Unk:" + std::to_string(method);
    }
}

class Extractor {
public:
    Extractor(const DCL& options, USERFUNCTIONS& functions) : options_(options), functions_(functions) {}
    int Run(const std::vector<std::string>& names, const std::vector<std::string>& excluded);

private:
    struct Entry {
        zip_uint64_t Index = 0;
        std::string Name;  // decoded, "/" between folders
        zip_stat_t Stat{};
        bool Symlink = false;
    };

    void Print(const std::string& line) const {
        if (functions_.print && !line.empty() && (options_.fQuiet < 2 || line.starts_with("  error")))
            functions_.print(line.c_str(), line.size());
    }
    void Worse(int result) { result_ = std::max(result_, result); }
    void Skip(const std::string& name, const std::string& why) {
        Print("Skipping: " + name + (why.empty() ? "" : " (" + why + ")"));
        Worse(PK_WARN);
    }
    void Failed(const std::string& what, int result) {
        Print("  error: " + what);
        Worse(result);
    }
    bool Selected(const std::string& name, const std::vector<std::string>& names, const std::vector<std::string>& excluded) const;
    std::optional<Entry> Read(zip_uint64_t index);
    void List(const Entry& entry) const;
    void Handle(const Entry& entry);
    // The folder `relative` below the extraction folder, made when missing; false (with the
    // entry skipped) when a part of it is a symbolic link or no folder.
    bool MakeFolders(const fs::path& relative, const std::string& name);
    bool MayReplace(const Entry& entry, const fs::path& target, const struct stat& existing);
    void Extract(const Entry& entry, const fs::path& target);
    // Copies the entry's data from libzip into `out`; false (reported) when it is damaged.
    bool Stream(const Entry& entry, zip_file_t* in, AtomicFile& out);
    void Test(const Entry& entry);
    bool FitsFreeSpace(uint64_t size, const fs::path& folder);

    const DCL& options_;
    USERFUNCTIONS& functions_;
    std::unique_ptr<zip_t, ZipCloser> archive_;
    std::unique_ptr<InflatePipeline> inflater_;  // when files are written
    fs::path folder_;
    std::unordered_set<std::string> madeFolders_;
    std::optional<int> replaceAll_;  // IDM_REPLACE_ALL or IDM_REPLACE_NONE once answered
    int result_ = PK_OK;
    bool spaceChecked_ = false;
    std::vector<char> buffer_ = std::vector<char>(1 << 16);  // one for every entry: no allocation per file
    uint64_t freeAtSpaceCheck_ = 0;
    uint64_t writtenSinceSpaceCheck_ = 0;
};

bool Extractor::Selected(const std::string& name, const std::vector<std::string>& names,
                         const std::vector<std::string>& excluded) const {
    const bool caseSensitive = options_.C_flag == 0;
    auto matches = [&](const std::string& pattern) { return WildcardMatch(pattern, name, caseSensitive); };
    if (!names.empty() && std::none_of(names.begin(), names.end(), matches)) return false;
    return std::none_of(excluded.begin(), excluded.end(), matches);
}

std::optional<Extractor::Entry> Extractor::Read(zip_uint64_t index) {
    Entry entry;
    entry.Index = index;
    if (zip_stat_index(archive_.get(), index, ZIP_FL_ENC_RAW, &entry.Stat) != 0) {
        Failed("cannot read entry " + std::to_string(index + 1) + ": " + zip_strerror(archive_.get()), PK_BADERR);
        return std::nullopt;
    }
    const char* raw = zip_get_name(archive_.get(), index, ZIP_FL_ENC_RAW);
    const char* strict = zip_get_name(archive_.get(), index, ZIP_FL_ENC_STRICT);
    const std::string rawName = raw ? raw : "";
    // libzip gives an unflagged name in strict mode converted from CP437, a flagged one as it is.
    const bool flagged = strict != nullptr && rawName == strict;
    const auto decoded = DecodeEntryName(rawName, flagged, options_.AnsiCodePage);
    if (!decoded) {
        // Show what can be shown of a name that means nothing in any code page.
        std::string shown;
        for (unsigned char c : rawName) shown += c < 0x80 && c >= 0x20 ? static_cast<char>(c) : '?';
        Skip(shown, "name not valid in any code page");
        return std::nullopt;
    }
    entry.Name = *decoded;
    zip_uint8_t system = 0;
    zip_uint32_t attributes = 0;
    if (zip_file_get_external_attributes(archive_.get(), index, 0, &system, &attributes) == 0 && system == ZIP_OPSYS_UNIX)
        entry.Symlink = ((attributes >> 16) & S_IFMT) == S_IFLNK;
    return entry;
}

void Extractor::List(const Entry& entry) const {
    if (!functions_.SendApplicationMessage) return;
    ListEntry item;
    item.ucsize = entry.Stat.size;
    item.csiz = entry.Stat.comp_size;
    item.cfactor = entry.Stat.size == 0 || entry.Stat.comp_size >= entry.Stat.size
                       ? 0
                       : static_cast<unsigned>((entry.Stat.size - entry.Stat.comp_size) * 100 / entry.Stat.size);
    std::tm tm{};
    const std::time_t time = entry.Stat.mtime;
    localtime_r(&time, &tm);
    item.mo = static_cast<unsigned>(tm.tm_mon + 1);
    item.dy = static_cast<unsigned>(tm.tm_mday);
    item.yr = static_cast<unsigned>(tm.tm_year + 1900);
    item.hh = static_cast<unsigned>(tm.tm_hour);
    item.mm = static_cast<unsigned>(tm.tm_min);
    item.ss = static_cast<unsigned>(tm.tm_sec);
    item.filename = entry.Name;
    item.methbuf = MethodText(entry.Stat.comp_method);
    item.crc = entry.Stat.crc;
    item.fCrypt = entry.Stat.encryption_method != ZIP_EM_NONE;
    item.symlink = entry.Symlink;
    functions_.SendApplicationMessage(item);
}

// The free space is asked of the file system again only when what was written since the last
// answer could have used up a large part of it; a disk filled meanwhile by another program still
// ends the restore cleanly at the failed write.
bool Extractor::FitsFreeSpace(uint64_t size, const fs::path& folder) {
    const uint64_t estimate = freeAtSpaceCheck_ > writtenSinceSpaceCheck_ ? freeAtSpaceCheck_ - writtenSinceSpaceCheck_ : 0;
    if (!spaceChecked_ || size > estimate / 2 || writtenSinceSpaceCheck_ > freeAtSpaceCheck_ / 4) {
        struct statvfs space {};
        if (::statvfs(folder.c_str(), &space) != 0) return true;  // unknown: the write itself will tell
        freeAtSpaceCheck_ = static_cast<uint64_t>(space.f_bavail) * space.f_frsize;
        writtenSinceSpaceCheck_ = 0;
        spaceChecked_ = true;
    }
    return size <= freeAtSpaceCheck_ - std::min(freeAtSpaceCheck_, writtenSinceSpaceCheck_);
}

bool Extractor::MakeFolders(const fs::path& relative, const std::string& name) {
    fs::path at = folder_;
    for (const fs::path& part : relative) {
        at /= part;
        if (madeFolders_.contains(at.string())) continue;
        struct stat st {};
        if (::lstat(at.c_str(), &st) == 0) {
            if (S_ISLNK(st.st_mode)) {
                Skip(name, "symbolic link in the path");
                return false;
            }
            if (!S_ISDIR(st.st_mode)) {
                Failed("cannot make folder " + at.string() + ": a file has that name", PK_ERR);
                return false;
            }
        } else if (::mkdir(at.c_str(), 0777) != 0 && errno != EEXIST) {
            const int error = errno;
            if (error == ENOSPC) throw DiskFull{};
            Failed("cannot make folder " + at.string() + ": " + std::strerror(error), PK_ERR);
            return false;
        }
        madeFolders_.insert(at.string());
    }
    return true;
}

bool Extractor::MayReplace(const Entry& entry, const fs::path& target, const struct stat& existing) {
    if (S_ISDIR(existing.st_mode)) {
        Failed("cannot replace folder " + target.string() + " with " + entry.Name, PK_ERR);
        return false;
    }
    if (options_.ExtractOnlyNewer) {
        // The archive keeps times to 2 seconds: a target within them counts as the same file.
        const std::time_t targetTime = existing.st_mtime + (existing.st_mtime & 1);
        if (targetTime >= entry.Stat.mtime) {
            Print("Skipping: " + entry.Name + "  Target file newer.");
            return false;
        }
    }
    if (options_.noflag) return true;
    if (options_.PromptToOverwrite && functions_.replace) {
        const int answer = replaceAll_ ? *replaceAll_ : functions_.replace(entry.Name.c_str());
        if (answer == IDM_REPLACE_ALL || answer == IDM_REPLACE_NONE) replaceAll_ = answer;
        if (answer == IDM_REPLACE_YES || answer == IDM_REPLACE_ALL) return true;
    }
    Print("Skipping: " + entry.Name);
    return false;
}

void Extractor::Extract(const Entry& entry, const fs::path& target) {
    Print("  inflating: " + entry.Name);
    std::optional<std::string> inflated = inflater_ ? inflater_->Take(entry.Index) : std::nullopt;
    std::unique_ptr<zip_file_t, ZipFileCloser> in;
    if (!inflated) {
        in.reset(zip_fopen_index(archive_.get(), entry.Index, 0));
        if (!in) {
            Failed("cannot read " + entry.Name + ": " + zip_strerror(archive_.get()), PK_ERR);
            return;
        }
    }
    try {
        AtomicFile out(target, AtomicFile::Staging::Unnamed);
        if (inflated) out.Write(*inflated);
        else if (!Stream(entry, in.get(), out)) return;  // the temporary file goes with `out`
        out.SetModificationTime(entry.Stat.mtime);
        // One flush of the file system at the end instead of one per file (see Run).
        out.CommitUnflushed();
    } catch (const fs::filesystem_error& e) {
        if (e.code().value() == ENOSPC) {
            Failed(std::string(e.what()), PK_DISK);
            throw DiskFull{};
        }
        Failed(e.what(), PK_ERR);
        return;
    }
    writtenSinceSpaceCheck_ += entry.Stat.size;
}

bool Extractor::Stream(const Entry& entry, zip_file_t* in, AtomicFile& out) {
    uint64_t total = 0;
    for (;;) {
        const zip_int64_t n = zip_fread(in, buffer_.data(), buffer_.size());
        if (n < 0) {
            Failed("invalid compressed data in " + entry.Name + ": " + zip_file_strerror(in), PK_ERR);
            return false;
        }
        if (n == 0) break;
        total += static_cast<uint64_t>(n);
        if (total > entry.Stat.size || total > kLargestEntry) {
            Failed(entry.Name + " expands beyond its stated size of " + std::to_string(entry.Stat.size) +
                       " bytes (damaged or hostile entry): not written", PK_ERR);
            return false;
        }
        out.Write(buffer_.data(), static_cast<std::size_t>(n));
    }
    if (total != entry.Stat.size) {
        Failed(entry.Name + " is shorter than its stated size", PK_ERR);
        return false;
    }
    return true;
}

void Extractor::Test(const Entry& entry) {
    std::unique_ptr<zip_file_t, ZipFileCloser> in(zip_fopen_index(archive_.get(), entry.Index, 0));
    zip_int64_t n = in ? 1 : -1;
    uint64_t total = 0;
    while (n > 0 && total <= kLargestEntry) {
        n = zip_fread(in.get(), buffer_.data(), buffer_.size());
        if (n > 0) total += static_cast<uint64_t>(n);
    }
    if (n < 0 || total != entry.Stat.size) Failed("bad data in " + entry.Name, PK_ERR);
    else Print("    testing: " + entry.Name + "   OK");
}

void Extractor::Handle(const Entry& entry) {
    const bool folder = entry.Name.ends_with('/');
    if (entry.Symlink) return Skip(entry.Name, "symbolic link");
    const auto safe = SafeRelativePath(entry.Name);
    if (!safe) return Skip(entry.Name, "path outside the target folder");
    std::string relative = options_.ndflag ? *safe : fs::path(*safe).filename().string();
    if (options_.SpaceToUnderscore) std::replace(relative.begin(), relative.end(), ' ', '_');
    if (folder) {
        if (!options_.ndflag) return;
        if (MakeFolders(relative, entry.Name)) Print("   creating: " + entry.Name);
        return;
    }
    if (entry.Stat.encryption_method != ZIP_EM_NONE) return Skip(entry.Name, "encrypted");
    if (entry.Stat.size > kLargestEntry)
        return Skip(entry.Name, "claims " + std::to_string(entry.Stat.size) + " bytes, more than a recording can be");
    const fs::path relativePath(relative);
    if (relativePath.has_parent_path() && !MakeFolders(relativePath.parent_path(), entry.Name)) return;
    const fs::path target = folder_ / relativePath;
    if (!FitsFreeSpace(entry.Stat.size, target.parent_path()))
        return Skip(entry.Name, "needs " + std::to_string(entry.Stat.size) + " bytes, more than the free space");
    struct stat existing {};
    if (::lstat(target.c_str(), &existing) == 0) {
        if (!MayReplace(entry, target, existing)) return;
    } else if (options_.nfflag) {
        return;  // freshen: only files that are there already
    }
    Extract(entry, target);
}

int Extractor::Run(const std::vector<std::string>& names, const std::vector<std::string>& excluded) {
    if (options_.ncflag) return Failed("writing to standard output is not provided", PK_PARAM), result_;
    int error = 0;
    archive_.reset(zip_open(options_.lpszZipFN.c_str(), ZIP_RDONLY, &error));
    if (!archive_) {
        zip_error_t reason;
        zip_error_init_with_code(&reason, error);
        const std::string text = zip_error_strerror(&reason);
        zip_error_fini(&reason);
        if (error == ZIP_ER_NOENT || error == ZIP_ER_OPEN || error == ZIP_ER_READ)
            Failed("cannot find or open " + options_.lpszZipFN + ": " + text, PK_NOZIP);
        else
            Failed(options_.lpszZipFN + " is not a zip archive, or it is damaged: " + text, PK_NOZIP);
        return result_;
    }
    const zip_int64_t count = zip_get_num_entries(archive_.get(), 0);
    functions_.NumMembers = static_cast<unsigned>(std::max<zip_int64_t>(count, 0));
    const bool writes = !options_.nvflag && !options_.ntflag;
    if (writes) {
        folder_ = options_.lpszExtractDir.empty() ? fs::current_path() : fs::path(options_.lpszExtractDir);
        std::error_code made;
        fs::create_directories(folder_, made);
        if (!fs::is_directory(folder_)) {
            Failed("cannot make the folder " + folder_.string() + (made ? ": " + made.message() : ""), PK_ERR);
            return result_;
        }
    }
    if (writes && count > 0) inflater_ = std::make_unique<InflatePipeline>(options_.lpszZipFN, static_cast<zip_uint64_t>(count));
    bool anySelected = false;
    try {
        for (zip_int64_t i = 0; i < count; ++i) {
            const auto entry = Read(static_cast<zip_uint64_t>(i));
            if (!entry || !Selected(entry->Name, names, excluded)) continue;
            anySelected = true;
            functions_.TotalSize += entry->Stat.size;
            functions_.TotalSizeComp += entry->Stat.comp_size;
            if (functions_.ServCallBk &&
                functions_.ServCallBk(entry->Name.c_str(), static_cast<unsigned long>(entry->Stat.size)) != 0) {
                Failed("cancelled", IZ_CTRLC);
                return result_;
            }
            if (options_.nvflag) List(*entry);
            else if (options_.ntflag) Test(*entry);
            else Handle(*entry);
        }
    } catch (const DiskFull&) {
    } catch (const std::bad_alloc&) {
        Failed("out of memory", PK_MEM);
    }
    inflater_.reset();  // nothing more to inflate ahead
    // The restored files reach the disk before success is reported.
    if (writes && !AtomicFile::FlushFileSystem(folder_)) Failed("cannot flush " + folder_.string() + " to the disk", PK_ERR);
    if (result_ >= PK_DISK) return result_;
    if (functions_.TotalSize > 0 && functions_.TotalSizeComp < functions_.TotalSize)
        functions_.CompFactor = static_cast<unsigned>((functions_.TotalSize - functions_.TotalSizeComp) * 100 / functions_.TotalSize);
    if (!names.empty() && !anySelected) {
        Print("caution: filename not matched");
        Worse(PK_FIND);
    }
    return result_;
}

}  // namespace

int Wiz_SingleEntryUnzip(const std::vector<std::string>& names, const std::vector<std::string>& excluded, const DCL& options,
                         USERFUNCTIONS& functions) {
    functions.TotalSize = functions.TotalSizeComp = 0;
    functions.CompFactor = functions.NumMembers = functions.cchComment = 0;
    return Extractor(options, functions).Run(names, excluded);
}

UzpVer UzpVersion2() {
    UzpVer version;
    version.Major = 6;
    version.Minor = 0;
    version.PatchLevel = 0;
    version.Date = "2024-01-01";
    version.BetaLevel = std::string("libzip ") + zip_libzip_version();
    return version;
}

}  // namespace ravekzip
