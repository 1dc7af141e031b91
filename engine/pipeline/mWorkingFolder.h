#pragma once
// The working folder of a request: a fresh private folder in the system's temporary folder that
// holds the audio files of one utterance.
#include <sys/types.h>

#include <map>
#include <random>
#include <string>
#include <utility>

namespace mWorkingFolder {
// The working folders one engine object created, by path with their identity (device, inode), so
// that a folder is only ever deleted when it is still the one the engine made; and the source of
// the folders' random names. Each engine object owns one (in its EngineState).
struct CreatedFolders {
    std::map<std::string, std::pair<dev_t, ino_t>> Folders;
    std::mt19937 Names{std::random_device{}()};
};

// The system's temporary folder: $TMPDIR, else /tmp (no trailing "/").
std::string TempFolder();
// Folder name derived from a temporary file name "radXXXXX.tmp": the part before the first ".",
// lower-cased, every "rad" replaced by "ravek"; at most 8 characters when `avoidShortNames`.
std::string FolderNameFromTempName(const std::string& tempName, bool avoidShortNames);
// Creates a new folder (mode 0700, never an existing one) and returns its path ending in "/".
// Raises error 75 when no folder can be created.
std::string CreateWorkingFolder(CreatedFolders& created, bool avoidShortNames);
// Deletes a working folder that `created` lists, with everything in it. Anything else -
// a symbolic link, a folder made by someone else, a path that is gone - is left alone. Errors
// are swallowed. Returns true when the folder was removed.
bool RemoveWorkingFolder(CreatedFolders& created, const std::string& folder);
}  // namespace mWorkingFolder
