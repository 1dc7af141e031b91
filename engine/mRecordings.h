#pragma once
// The user's and the system's recordings: one folder per voice, one file per word.
#include <cstdint>
#include <string>

#include "Dictionary.h"

struct EngineState;

namespace mRecordings {
// Adds the files of the tree `path` that match `searchStr` to `dict` (word -> full path).
// `path` gets a trailing "/"; counters are increased by the files and folders seen.
void EnumerateFiles(std::string& path, const std::string& searchStr, int32_t& fileCount, int32_t& dirCount,
                    Dictionary& dict, bool lowerCase, int codePage);
// Total size in bytes of the files below `folder` (0 when it does not exist).
int64_t FolderSize(const std::string& folder);
// Creates the MyRecords root with both voice folders when it is missing, with its journal line.
void EnsureMyRecordsRoot(EngineState& state);
// Creates the voice folder of a slot (0 male, 1 female) when it is missing, with its journal line.
void EnsureVoiceFolder(EngineState& state, int slot);
// Sets a flag for each slot whose folder size differs from the cache (and updates the cache).
void CheckMyRecordsChanges(EngineState& state, bool& maleChanged, bool& femaleChanged);
// The folder-change check run at the start of a request (time test, check, reloads, log lines).
void RefreshIfChanged(EngineState& state);
}  // namespace mRecordings
