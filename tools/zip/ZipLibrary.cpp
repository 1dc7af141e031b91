#include "ZipLibrary.h"

#include <sys/stat.h>
#include <zip.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <deque>
#include <filesystem>
#include <memory>
#include <system_error>

#include "AnsiText.h"
#include "ZipSources.h"
#include "ZipText.h"

namespace fs = std::filesystem;

namespace ravekzip {

namespace {

struct ZipCloser {
    void operator()(zip_t* archive) const { zip_discard(archive); }
};
using ZipHandle = std::unique_ptr<zip_t, ZipCloser>;

class Packer {
public:
    Packer(const ZPOPT& options, const ZIPUSERFUNCTIONS& functions) : options_(options), functions_(functions) {}

    int Run(const std::string& zipFile, const std::vector<std::string>& patterns);

private:
    void Print(const std::string& line) const {
        if (functions_.print && !line.empty()) functions_.print(line.c_str(), line.size());
    }
    int Error(int result, const std::string& what) const {
        Print("zip error: " + what);
        return result;
    }
    bool Matches(const std::string& fileName) const;
    bool Hidden(const fs::path& name) const { return !options_.fSystem && name.filename().string().starts_with('.'); }
    // Appends the entries of `folder` (relative name `relative`, "" for the root) and returns
    // whether any was found.
    bool Collect(const fs::path& folder, const std::string& relative);
    void AddEntry(const fs::path& file, const std::string& name, uint64_t size, std::time_t time);
    int Write(const std::string& zipFile);
    std::string ArchiveComment() const;

    const ZPOPT& options_;
    const ZIPUSERFUNCTIONS& functions_;
    std::vector<std::string> patterns_;
    std::deque<PackedEntry> entries_;  // stable addresses: the sources refer to them
    PackScratch scratch_;
    std::string readFailure_;
};

bool Packer::Matches(const std::string& fileName) const {
    return std::any_of(patterns_.begin(), patterns_.end(),
                       [&](const std::string& pattern) { return WildcardMatch(pattern, fileName); });
}

void Packer::AddEntry(const fs::path& file, const std::string& name, uint64_t size, std::time_t time) {
    PackedEntry& entry = entries_.emplace_back();
    entry.File = file;
    entry.Name = name;
    entry.Size = size;
    entry.ModificationTime = time;
    entry.Scratch = &scratch_;
    entry.Level = options_.fLevel >= '0' && options_.fLevel <= '9' ? options_.fLevel - '0' : 6;
}

bool Packer::Collect(const fs::path& folder, const std::string& relative) {
    std::vector<fs::path> files, folders;
    std::error_code error;
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
        const fs::path& path = it->path();
        if (Hidden(path)) continue;
        // Sub-folders are entered only when they are real folders (a link could loop);
        // a link to a recording is packed as the recording.
        if (it->is_directory(error) && !it->is_symlink(error)) folders.push_back(path);
        else if (it->is_regular_file(error) && Matches(path.filename().string())) files.push_back(path);
    }
    if (error) readFailure_ = "could not read folder " + folder.string() + ": " + error.message();
    std::sort(files.begin(), files.end());
    std::sort(folders.begin(), folders.end());

    const std::size_t start = entries_.size();
    for (const fs::path& file : files) {
        struct stat st {};
        if (::stat(file.c_str(), &st) != 0) {
            readFailure_ = "could not open for reading: " + file.string();
            continue;
        }
        const std::string name = options_.fJunkDir ? file.filename().string() : relative + file.filename().string();
        AddEntry(file, name, static_cast<uint64_t>(st.st_size), st.st_mtime);
    }
    if (options_.fRecurse)
        for (const fs::path& sub : folders) Collect(sub, relative + sub.filename().string() + "/");
    const bool found = entries_.size() > start;
    // A folder's own entry comes before what it holds, and only folders on the way to a
    // recording get one.
    if (found && !relative.empty() && !options_.fNoDirEntries && !options_.fJunkDir) {
        struct stat st {};
        const std::time_t time = ::stat(folder.c_str(), &st) == 0 ? st.st_mtime : 0;
        PackedEntry directory;
        directory.Name = relative;
        directory.ModificationTime = time;
        entries_.insert(entries_.begin() + static_cast<std::ptrdiff_t>(start), std::move(directory));
    }
    return found;
}

std::string Packer::ArchiveComment() const {
    if (!options_.fComment || !functions_.comment) return {};
    char buffer[256] = {};
    functions_.comment(buffer);
    buffer[255] = '\0';
    return buffer;
}

int Packer::Write(const std::string& zipFile) {
    std::string writeFailure;
    zip_error_t error;
    zip_error_init(&error);
    zip_source_t* target = NewArchiveTarget(zipFile, writeFailure, &error);
    ZipHandle archive(target ? zip_open_from_source(target, ZIP_CREATE | ZIP_TRUNCATE, &error) : nullptr);
    if (!archive) {
        if (target) zip_source_free(target);
        const std::string reason = zip_error_strerror(&error);
        zip_error_fini(&error);
        return Error(ZE_CREAT, "could not create " + zipFile + ": " + reason);
    }
    zip_error_fini(&error);

    bool cancelled = false;
    PackPipeline pipeline(entries_);
    for (std::size_t i = 0; i < entries_.size(); ++i) {
        PackedEntry& entry = entries_[i];
        entry.Pipeline = &pipeline;
        entry.Index = i;
        entry.Starting = [this](const PackedEntry& e, int percent) {
            if (functions_.service && functions_.service(e.Name.c_str(), static_cast<unsigned long>(e.Size)) != 0) return 1;
            if (!options_.fQuiet)
                Print("  adding: " + e.Name + (percent < 0 ? " (stored 0%)" : " (deflated " + std::to_string(percent) + "%)"));
            return 0;
        };
        zip_source_t* source = NewPackedSource(archive.get(), entry);
        const zip_flags_t encoding = AnsiText::IsValidUtf8(entry.Name) ? ZIP_FL_ENC_UTF_8 : ZIP_FL_ENC_GUESS;
        const zip_int64_t index = source ? zip_file_add(archive.get(), entry.Name.c_str(), source, encoding) : -1;
        if (index < 0) {
            if (source) zip_source_free(source);
            return Error(ZE_NAME, "could not add " + entry.Name + ": " + zip_strerror(archive.get()));
        }
        const auto at = static_cast<zip_uint64_t>(index);
        const bool directory = entry.File.empty();
        zip_file_set_mtime(archive.get(), at, entry.ModificationTime, 0);
        zip_file_set_external_attributes(archive.get(), at, 0, ZIP_OPSYS_UNIX,
                                         directory ? ((040755u << 16) | 0x10u) : (0100644u << 16));
        if (directory || entry.Size == 0) zip_set_file_compression(archive.get(), at, ZIP_CM_STORE, 0);
    }
    const std::string comment = ArchiveComment();
    if (!comment.empty()) zip_set_archive_comment(archive.get(), comment.c_str(), static_cast<zip_uint16_t>(comment.size()));

    if (zip_close(archive.get()) == 0) {
        archive.release();  // zip_close freed it
        return ZE_OK;
    }
    for (const PackedEntry& entry : entries_) {
        if (entry.Cancelled) cancelled = true;
        if (!entry.Failure.empty()) return Error(ZE_OPEN, entry.Failure);
    }
    if (cancelled) return Error(ZE_ABORT, "packing cancelled");
    if (!writeFailure.empty()) return Error(ZE_WRITE, writeFailure);
    return Error(ZE_WRITE, "could not write " + zipFile + ": " + zip_strerror(archive.get()));
}

int Packer::Run(const std::string& zipFile, const std::vector<std::string>& patterns) {
    if (options_.fEncrypt || options_.fGrow || options_.fUpdate || options_.fFreshen || options_.fDeleteEntries ||
        options_.fMove || options_.fExcludeDate || options_.fIncludeDate)
        return Error(ZE_PARMS, "option not provided by this packer");
    if (zipFile.empty()) return Error(ZE_PARMS, "no archive name");
    patterns_ = patterns;
    const fs::path root = options_.szRootDir.empty() ? fs::current_path() : fs::path(options_.szRootDir);
    std::error_code error;
    if (!fs::is_directory(root, error)) return Error(ZE_NONE, "Nothing to do! (folder " + root.string() + " not found)");
    Collect(root, "");
    if (!readFailure_.empty()) return Error(ZE_OPEN, readFailure_);
    if (std::none_of(entries_.begin(), entries_.end(), [](const PackedEntry& e) { return !e.File.empty(); }))
        return Error(ZE_NONE, "Nothing to do! (" + zipFile + ")");
    return Write(zipFile);
}

}  // namespace

int ZipLibrary::ZpInit(const ZIPUSERFUNCTIONS& functions) {
    functions_ = functions;
    return 1;
}

int ZipLibrary::ZpSetOptions(const ZPOPT& options) {
    options_ = options;
    return 1;
}

int ZipLibrary::ZpArchive(int argc, const std::string& zipFile, const std::vector<std::string>& names) {
    const std::size_t count = std::min<std::size_t>(argc < 0 ? 0 : static_cast<std::size_t>(argc), names.size());
    const std::vector<std::string> patterns(names.begin(), names.begin() + static_cast<std::ptrdiff_t>(count));
    try {
        return Packer(options_, functions_).Run(zipFile, patterns);
    } catch (const std::bad_alloc&) {
        const std::string line = "zip error: out of memory";
        if (functions_.print) functions_.print(line.c_str(), line.size());
        return ZE_MEM;
    }
}

}  // namespace ravekzip
