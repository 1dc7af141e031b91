#include "AtomicFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <random>
#include <system_error>
#include <utility>
#include <vector>

namespace fs = std::filesystem;

namespace {

fs::path FolderOf(const fs::path& target) {
    return target.has_parent_path() ? target.parent_path() : fs::path(".");
}

// The permissions of a new file. The umask can only be read by setting it, so it is read once:
// a program sets its umask at start, before it writes anything.
mode_t DefaultMode() {
    static const mode_t mode = [] {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        return static_cast<mode_t>(0666 & ~mask);
    }();
    return mode;
}

// A rename is durable only once the folder that holds the name is flushed too.
void SyncFolder(const fs::path& folder) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
}

}  // namespace

AtomicFile::AtomicFile(fs::path target, Staging staging) : target_(std::move(target)) {
    if (staging == Staging::Unnamed) {
        // Linking it later goes through /proc; without /proc the file is named from the start.
        if (::access("/proc/self/fd", X_OK) == 0)
            fd_ = ::open(FolderOf(target_).c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
        if (fd_ >= 0) return;
        // A file system without unnamed files: a named one instead. Other errors are the folder's.
        if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL && errno != ENOENT)
            Fail("cannot create a temporary file for", errno);
    }
    temp_ = CreateNamedTemporary();
}

fs::path AtomicFile::TemporaryPattern() const {
    // Built by appending: GCC 12 warns (-Wrestrict, wrongly) on "." + name + ".XXXXXX" at -O3.
    std::string leaf = ".";
    leaf.append(target_.filename().string()).append(".XXXXXX");
    return FolderOf(target_) / leaf;
}

fs::path AtomicFile::CreateNamedTemporary() {
    const std::string pattern = TemporaryPattern().string();
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    fd_ = ::mkostemp(name.data(), O_CLOEXEC);
    if (fd_ < 0) Fail("cannot create a temporary file for", errno);
    return name.data();
}

AtomicFile::AtomicFile(AtomicFile&& other) noexcept
    : target_(std::move(other.target_)), temp_(std::move(other.temp_)), fd_(std::exchange(other.fd_, -1)),
      size_(other.size_), committed_(std::exchange(other.committed_, true)) {}

AtomicFile::~AtomicFile() {
    if (fd_ >= 0) ::close(fd_);
    if (!committed_ && !temp_.empty()) ::unlink(temp_.c_str());
}

void AtomicFile::Fail(const std::string& what, int error) const {
    throw fs::filesystem_error(what + " " + target_.string(), target_, std::error_code(error, std::generic_category()));
}

void AtomicFile::Write(const void* data, std::size_t size) {
    WriteAt(size_, data, size);
}

void AtomicFile::WriteAt(std::size_t offset, const void* data, std::size_t size) {
    if (fd_ < 0) Fail("cannot write", EBADF);
    const auto* bytes = static_cast<const char*>(data);
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = ::pwrite(fd_, bytes + done, size - done, static_cast<off_t>(offset + done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) Fail("cannot write", n < 0 ? errno : ENOSPC);
        done += static_cast<std::size_t>(n);
    }
    if (offset + size > size_) size_ = offset + size;
}

void AtomicFile::Commit(mode_t mode) {
    if (fd_ < 0) Fail("cannot commit", EBADF);
    if (::fsync(fd_) != 0) Fail("cannot flush", errno);
    Rename(mode);
    SyncFolder(FolderOf(target_));
}

void AtomicFile::SetModificationTime(std::time_t seconds) {
    if (fd_ < 0) Fail("cannot set the time of", EBADF);
    const struct timespec times[2] = {{seconds, 0}, {seconds, 0}};
    if (::futimens(fd_, times) != 0) Fail("cannot set the time of", errno);
}

void AtomicFile::CommitUnflushed(mode_t mode) {
    if (fd_ < 0) Fail("cannot commit", EBADF);
    Rename(mode);
}

bool AtomicFile::FlushFileSystem(const fs::path& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool flushed = ::syncfs(fd) == 0;
    ::close(fd);
    return flushed;
}

void AtomicFile::Rename(mode_t mode) {
    if (::fchmod(fd_, mode != 0 ? mode : DefaultMode()) != 0) Fail("cannot set the permissions of", errno);
    if (temp_.empty() && LinkUnnamed()) return;
    const int fd = std::exchange(fd_, -1);
    if (::close(fd) != 0) Fail("cannot write", errno);
    if (::rename(temp_.c_str(), target_.c_str()) != 0) Fail("cannot rename the temporary file onto", errno);
    committed_ = true;
}

bool AtomicFile::LinkUnnamed() {
    const std::string self = "/proc/self/fd/" + std::to_string(fd_);
    // A new name: the file appears under it whole, in one step.
    if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, target_.c_str(), AT_SYMLINK_FOLLOW) == 0) {
        const int fd = std::exchange(fd_, -1);
        committed_ = true;
        if (::close(fd) != 0) Fail("cannot write", errno);
        return true;
    }
    if (errno != EEXIST) Fail("cannot give its name to", errno);
    // The target exists: the file takes a temporary name beside it, to be renamed over the target.
    const std::string pattern = TemporaryPattern().string();
    std::random_device random;
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string name = pattern.substr(0, pattern.size() - 6);
        for (int i = 0; i < 6; ++i) name += "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789"[random() % 62];
        if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0) {
            temp_ = name;
            return false;
        }
        if (errno != EEXIST) Fail("cannot create a temporary file for", errno);
    }
    Fail("cannot create a temporary file for", EEXIST);
}

void AtomicFile::WriteWhole(const fs::path& target, std::string_view bytes) {
    AtomicFile file(target);
    file.Write(bytes);
    file.Commit();
}
