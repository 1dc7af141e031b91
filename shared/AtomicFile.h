#pragma once
// The one way this system writes a file that matters (WAVE output, voice files, settings,
// archives): the bytes go to an exclusive temporary file beside the target, which is flushed to
// the disk and renamed onto the target only when complete. A reader never sees half a file, and a
// failure or an abandoned write leaves the target as it was.
#include <sys/types.h>

#include <cstddef>
#include <ctime>
#include <filesystem>
#include <string>
#include <string_view>

class AtomicFile {
public:
    // How the file is kept until Commit. Named: a hidden temporary file beside the target, which
    // the caller may open by TemporaryPath (a database written in place). Unnamed: a file with no
    // name in the target's folder (O_TMPFILE) that takes the target's name at Commit, one step
    // fewer for the file system when the target is new, and nothing left behind by a crash; where
    // the file system cannot make one, a named file is used.
    enum class Staging { Named, Unnamed };
    // Creates the temporary file in the target's folder (mode 0600 until Commit). Throws
    // std::filesystem::filesystem_error naming the target when it cannot be created.
    explicit AtomicFile(std::filesystem::path target, Staging staging = Staging::Named);
    // Removes the temporary file unless it was committed.
    ~AtomicFile();
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;
    AtomicFile(AtomicFile&& other) noexcept;
    AtomicFile& operator=(AtomicFile&&) = delete;

    // Appends bytes; throws filesystem_error naming the target on a failed write (a full disk).
    void Write(const void* data, std::size_t size);
    void Write(std::string_view bytes) { Write(bytes.data(), bytes.size()); }
    // Overwrites bytes at an offset already written (a header completed at the end).
    void WriteAt(std::size_t offset, const void* data, std::size_t size);
    std::size_t Size() const { return size_; }
    // Gives the file this modification (and access) time; the rename keeps it.
    void SetModificationTime(std::time_t seconds);

    // Flushes the data to the disk, gives the file the permissions of a new file (0666 less the
    // umask, or `mode` when given) and renames it onto the target. Throws filesystem_error
    // naming the target on failure; the target is then unchanged.
    void Commit(mode_t mode = 0);

    // Commit without flushing the data to the disk first: for callers that write a batch of
    // files (an archive's contents) and flush the file system once at the end with
    // FlushFileSystem. Readers still never see half a file.
    void CommitUnflushed(mode_t mode = 0);
    // Flushes the file system that holds `path` (syncfs); false when it could not be flushed.
    static bool FlushFileSystem(const std::filesystem::path& path);

    const std::filesystem::path& Target() const { return target_; }
    // Empty for an unnamed file.
    const std::filesystem::path& TemporaryPath() const { return temp_; }

    // Writes a whole file atomically in one call.
    static void WriteWhole(const std::filesystem::path& target, std::string_view bytes);

private:
    // Gives the file its permissions, closes it and renames it onto the target.
    void Rename(mode_t mode);
    // Gives an unnamed file the target's name when the target does not exist (true); otherwise a
    // temporary name beside it, in temp_, for Rename to finish (false).
    bool LinkUnnamed();
    std::filesystem::path TemporaryPattern() const;
    std::filesystem::path CreateNamedTemporary();
    [[noreturn]] void Fail(const std::string& what, int error) const;

    std::filesystem::path target_;
    std::filesystem::path temp_;
    int fd_ = -1;
    std::size_t size_ = 0;
    bool committed_ = false;
};
