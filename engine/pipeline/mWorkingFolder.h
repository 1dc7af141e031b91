#pragma once
// The working folder of a request: a fresh private folder in the system's temporary folder that
// holds the audio files of one utterance.
#include <string>

struct EngineState;

namespace mWorkingFolder {
// The system's temporary folder: $TMPDIR, else /tmp (no trailing "/").
std::string TempFolder();
// Folder name derived from a temporary file name "radXXXXX.tmp": the part before the first ".",
// lower-cased, every "rad" replaced by "ravek"; at most 8 characters when `avoidShortNames`.
std::string FolderNameFromTempName(const std::string& tempName, bool avoidShortNames);
// Creates a new folder (mode 0700, never an existing one) and returns its path ending in "/".
// Raises error 75 when no folder can be created.
std::string CreateWorkingFolder(bool avoidShortNames);
// Deletes a working folder that this process created, with everything in it. Anything else -
// a symbolic link, a folder made by someone else, a path that is gone - is left alone. Errors
// are swallowed. Returns true when the folder was removed.
bool RemoveWorkingFolder(const std::string& folder);
}  // namespace mWorkingFolder
