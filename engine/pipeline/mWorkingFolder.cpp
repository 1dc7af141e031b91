#include "mWorkingFolder.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <utility>
#include <vector>

#include "AnsiText.h"
#include "AutomationError.h"

namespace fs = std::filesystem;

namespace mWorkingFolder {

namespace {

// Random names tried in one folder: the 5-digit names practically never collide; the 4,096
// short names are tried about once each before the per-user folder takes over.
constexpr int kLongNameAttempts = 20000;
constexpr int kShortNameAttempts = 4096;

std::string WithoutTrailingSlash(std::string path) {
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    return path;
}

// A temporary name of the form "rad" + five hexadecimal digits + ".tmp".
std::string NextTempName(std::mt19937& generator) {
    std::uniform_int_distribution<unsigned> digits(0, 0xFFFFF);
    char name[16];
    std::snprintf(name, sizeof name, "rad%05X.tmp", digits(generator));
    return name;
}

[[noreturn]] void RaiseFolderError(const std::string& what, const std::string& path, int error) {
    RuntimeErrors::Raise(RuntimeErrors::PathFileAccessError, what + " " + path + ": " + std::strerror(error));
}

// A name the engine gives its working folders: "ravek" and 3 to 5 lower-case hexadecimal digits.
bool IsWorkingFolderName(const std::string& name) {
    if (name.size() < 8 || name.size() > 10 || name.compare(0, 5, "ravek") != 0) return false;
    for (std::size_t k = 5; k < name.size(); ++k)
        if (!std::isxdigit(static_cast<unsigned char>(name[k])) || std::isupper(static_cast<unsigned char>(name[k])))
            return false;
    return true;
}

// Makes `path` (mode 0700) with its lock file and takes the lock. Returns false when the name is
// taken, or when a sweep removed the new folder before the lock was ours (the caller tries
// another name); raises error 75 for any other failure.
bool TryCreate(CreatedFolders& created, const std::string& path) {
    if (::mkdir(path.c_str(), 0700) != 0) {
        if (errno == EEXIST) return false;
        RaiseFolderError("cannot create the working folder", path, errno);
    }
    const std::string lockPath = path + "/" + kLockFileName;
    UniqueFd lock(::open(lockPath.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!lock) {
        const int error = errno;
        ::rmdir(path.c_str());
        RaiseFolderError("cannot create the lock file of the working folder", path, error);
    }
    struct stat info {};
    // A sweep that found the lock file free between its creation and this lock removed the folder.
    if (::flock(lock.Get(), LOCK_EX) != 0 || ::fstat(lock.Get(), &info) != 0 || info.st_nlink == 0) return false;
    if (::lstat(path.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) return false;
    created.Folders[path] = OwnedFolder{info.st_dev, info.st_ino, std::move(lock)};
    return true;
}

// Tries `attempts` random names in `parent`; the path of the new folder, or "" when none was free.
std::string CreateIn(CreatedFolders& created, const std::string& parent, bool avoidShortNames, int attempts) {
    for (int attempt = 0; attempt < attempts; ++attempt) {
        const std::string path = parent + "/" + FolderNameFromTempName(NextTempName(created.Names), avoidShortNames);
        if (TryCreate(created, path)) return path;
    }
    return {};
}

// The per-user folder, created when missing; it must be a folder of this user that nobody else
// may enter (a symbolic link or someone else's folder is refused).
std::string EnsureUserFolder() {
    const std::string folder = UserFolder();
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) RaiseFolderError("cannot create the folder", folder, errno);
    struct stat info {};
    if (::lstat(folder.c_str(), &info) != 0) RaiseFolderError("cannot examine the folder", folder, errno);
    if (!S_ISDIR(info.st_mode) || info.st_uid != ::geteuid() || (info.st_mode & 077) != 0)
        RuntimeErrors::Raise(RuntimeErrors::PathFileAccessError,
                             "the folder " + folder + " is not a private folder of this user; no working folder made");
    return folder;
}

// Whether the folder at `path` holds a lock file that nobody holds locked; when so, removes the
// folder while holding that lock.
bool RemoveIfStale(const std::string& path) {
    UniqueFd lock(::open((path + "/" + kLockFileName).c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK));
    if (!lock) return false;
    struct stat info {};
    if (::fstat(lock.Get(), &info) != 0 || !S_ISREG(info.st_mode)) return false;
    if (::flock(lock.Get(), LOCK_EX | LOCK_NB) != 0) return false;  // a live engine holds it
    if (::fstat(lock.Get(), &info) != 0 || info.st_nlink == 0) return false;  // removed meanwhile
    std::error_code ec;
    fs::remove_all(path, ec);  // does not follow symbolic links inside the folder
    return !ec;
}

int RemoveStaleIn(const CreatedFolders& created, const std::string& parent) {
    std::vector<std::string> candidates;
    if (DIR* dir = ::opendir(parent.c_str())) {
        while (const dirent* entry = ::readdir(dir))
            if (IsWorkingFolderName(entry->d_name)) candidates.push_back(parent + "/" + entry->d_name);
        ::closedir(dir);
    }
    int removed = 0;
    for (const std::string& path : candidates) {
        struct stat info {};
        if (created.Folders.count(path) || ::lstat(path.c_str(), &info) != 0 || !S_ISDIR(info.st_mode) ||
            info.st_uid != ::geteuid())
            continue;
        removed += RemoveIfStale(path) ? 1 : 0;
    }
    return removed;
}

}  // namespace

UniqueFd& UniqueFd::operator=(UniqueFd&& other) noexcept {
    if (this != &other) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = other.Release();
    }
    return *this;
}

UniqueFd::~UniqueFd() {
    if (fd_ >= 0) ::close(fd_);
}

int UniqueFd::Release() { return std::exchange(fd_, -1); }

CreatedFolders::~CreatedFolders() {
    while (!Folders.empty()) {
        const std::string path = Folders.begin()->first;
        if (!RemoveWorkingFolder(*this, path)) Folders.erase(path);
    }
}

std::string TempFolder() {
    const char* tmp = std::getenv("TMPDIR");
    std::string folder = tmp && *tmp ? tmp : "/tmp";
    return WithoutTrailingSlash(folder);
}

std::string UserFolder() { return TempFolder() + "/ravek-" + std::to_string(::geteuid()); }

std::string FolderNameFromTempName(const std::string& tempName, bool avoidShortNames) {
    std::string name = AnsiText::ToLower(tempName.substr(0, tempName.find('.')));
    std::string renamed;
    for (std::size_t k = 0; k < name.size();) {
        if (name.compare(k, 3, "rad") == 0) {
            renamed += "ravek";
            k += 3;
        } else {
            renamed += name[k++];
        }
    }
    if (avoidShortNames && renamed.size() > 8) renamed.resize(8);
    return renamed;
}

std::string CreateWorkingFolder(CreatedFolders& created, bool avoidShortNames) {
    if (!created.StaleSwept) {
        created.StaleSwept = true;
        RemoveStaleFolders(created);
    }
    const std::string temp = TempFolder();
    std::string path = CreateIn(created, temp, avoidShortNames, avoidShortNames ? kShortNameAttempts : kLongNameAttempts);
    if (path.empty() && avoidShortNames) path = CreateIn(created, EnsureUserFolder(), true, kShortNameAttempts);
    if (path.empty())
        RuntimeErrors::Raise(RuntimeErrors::PathFileAccessError,
                             "no free working folder name in " + (avoidShortNames ? UserFolder() : temp));
    return path + "/";
}

bool RemoveWorkingFolder(CreatedFolders& created, const std::string& folder) {
    if (folder.empty()) return false;
    const std::string path = WithoutTrailingSlash(folder);
    auto known = created.Folders.find(path);
    if (known == created.Folders.end()) return false;
    struct stat info {};
    const bool same = ::lstat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode) &&
                      info.st_dev == known->second.Device && info.st_ino == known->second.Inode;
    if (!same) {
        // Gone, or replaced by something that is not ours: forget it, touch nothing.
        created.Folders.erase(known);
        return false;
    }
    std::error_code ec;
    fs::remove_all(path, ec);  // does not follow symbolic links inside the folder; the lock is held meanwhile
    if (ec) return false;
    created.Folders.erase(known);
    return true;
}

int RemoveStaleFolders(const CreatedFolders& created) {
    int removed = RemoveStaleIn(created, TempFolder());
    struct stat info {};
    const std::string user = UserFolder();
    if (::lstat(user.c_str(), &info) == 0 && S_ISDIR(info.st_mode) && info.st_uid == ::geteuid())
        removed += RemoveStaleIn(created, user);
    return removed;
}

}  // namespace mWorkingFolder
