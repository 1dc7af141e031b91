#pragma once
// The working folder of a request: a fresh private folder in the system's temporary folder that
// holds the audio files of one utterance.
//
// Every working folder holds a lock file (kLockFileName) on which its engine object keeps an
// exclusive lock (flock) for as long as the folder lives. A folder whose lock nobody holds
// belongs to no live engine (its service was killed): the first working folder an engine object
// creates sweeps such stale folders of this user away.
#include <sys/types.h>

#include <map>
#include <random>
#include <string>

namespace mWorkingFolder {

inline constexpr const char* kLockFileName = ".ravek.lock";

// An open file descriptor, closed with its owner.
class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd_(fd) {}
    UniqueFd(UniqueFd&& other) noexcept : fd_(other.Release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept;
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    ~UniqueFd();
    int Get() const { return fd_; }
    int Release();
    explicit operator bool() const { return fd_ >= 0; }

private:
    int fd_ = -1;
};

// A folder this engine object made: its identity (device, inode), so that it is only ever
// deleted while it is still the one the engine made, and the lock that marks it as in use.
struct OwnedFolder {
    dev_t Device = 0;
    ino_t Inode = 0;
    UniqueFd Lock;
};

// The working folders one engine object created, by path, and the source of their random names.
// Each engine object owns one (in its EngineState); the folders it still lists when it goes away
// (an engine object destroyed mid-speech, a service stopped by a signal) are removed then.
struct CreatedFolders {
    CreatedFolders() = default;
    ~CreatedFolders();
    CreatedFolders(const CreatedFolders&) = delete;
    CreatedFolders& operator=(const CreatedFolders&) = delete;

    std::map<std::string, OwnedFolder> Folders;
    std::mt19937 Names{std::random_device{}()};
    bool StaleSwept = false;  // the sweep of stale folders ran (once per engine object)
};

// The system's temporary folder: $TMPDIR, else /tmp (no trailing "/").
std::string TempFolder();
// The per-user folder below the temporary folder ("ravek-<uid>") that takes the working folders
// when the short names of a shared temporary folder run out.
std::string UserFolder();
// Folder name derived from a temporary file name "radXXXXX.tmp": the part before the first ".",
// lower-cased, every "rad" replaced by "ravek"; at most 8 characters when `avoidShortNames`.
std::string FolderNameFromTempName(const std::string& tempName, bool avoidShortNames);
// Creates a new folder (mode 0700, never an existing one) holding the locked lock file and
// returns its path ending in "/". With 8-character names, when every name of the temporary
// folder is taken, the folder is made in UserFolder(). The first call of an engine object first
// removes the stale working folders of this user (RemoveStaleFolders). Raises error 75 naming the
// folder when no folder can be created.
std::string CreateWorkingFolder(CreatedFolders& created, bool avoidShortNames);
// Deletes a working folder that `created` lists, with everything in it, and forgets it. Anything
// else - a symbolic link, a folder made by someone else, a path that is gone or was already
// removed - is left alone. Errors are swallowed. Returns true when the folder was removed.
bool RemoveWorkingFolder(CreatedFolders& created, const std::string& folder);
// Removes the working folders of this user in the temporary folder and in UserFolder() whose lock
// file no live engine holds locked. Folders without a lock file (made by someone else, or still
// being made) are left alone. Returns the number of folders removed.
int RemoveStaleFolders(const CreatedFolders& created);

}  // namespace mWorkingFolder
