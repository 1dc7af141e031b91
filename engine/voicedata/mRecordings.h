#pragma once
// The user's and the system's recordings: one folder per voice, one file per word.
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

#include "Dictionary.h"

struct EngineState;

namespace mRecordings {
// How much a walk may do before it stops and answers with what it found so far.
struct WalkBound {
    std::chrono::milliseconds time;
    int64_t entries;  // files and folders listed
};
// The bound of a walk a client asks for over the bus (any folder, "/" included); the engine's own
// walks of its recordings folders are not bounded.
inline constexpr WalkBound kClientWalkBound{std::chrono::milliseconds(500), 100000};

// Adds the files of the tree `path` that match `searchStr` to `dict` (word -> full path).
// `path` gets a trailing "/"; counters are increased by the files and folders seen (error 6 when
// a counter would pass 2147483647). Entries are visited in name order, files of a folder before
// its sub-folders; the first file found for a word keeps it. Names without "." or whose word the
// code page cannot represent are skipped, unreadable folders are not entered; folders reached
// through symbolic links are walked, each folder (by device and inode) once. Returns false when
// the walk stopped at `bound` (what was found until then stays in `dict` and the counters).
bool EnumerateFiles(std::string& path, const std::string& searchStr, int32_t& fileCount, int32_t& dirCount,
                    Dictionary& dict, bool lowerCase, int codePage, const std::optional<WalkBound>& bound = std::nullopt);
// Whether a file name matches a wildcard pattern ("*", "?"; case ignored; "*.*" and the empty
// pattern match every name).
bool MatchesPattern(const std::string& name, const std::string& pattern);
// Total size in bytes of the files below `folder` (0 when it does not exist).
int64_t FolderSize(const std::string& folder);
// The MyRecords folder of a slot (0 male, 1 female).
std::string VoiceFolder(const EngineState& state, int slot);
// Creates the MyRecords root with both voice folders when it is missing, with its journal line.
void EnsureMyRecordsRoot(EngineState& state);
// Creates the voice folder of a slot (0 male, 1 female) when it is missing, with its journal line.
void EnsureVoiceFolder(EngineState& state, int slot);
// Sets a flag for each slot whose folder size differs from the cache (and updates the cache).
void CheckMyRecordsChanges(EngineState& state, bool& maleChanged, bool& femaleChanged);
// The folder-change check run at the start of a request (time test, check, reloads, log lines).
void RefreshIfChanged(EngineState& state);
// The same, with the current time given (for callers that already hold it, and for tests).
void RefreshIfChanged(EngineState& state, std::chrono::system_clock::time_point now);
}  // namespace mRecordings
