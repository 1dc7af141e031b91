#include "mRecordings.h"

#include "AutomationError.h"
#include "EngineState.h"

namespace mRecordings {
void EnumerateFiles(std::string& path, const std::string&, int32_t&, int32_t&, Dictionary&, bool, int) {
    if (path.empty() || path.back() != '/') path += "/";
}
int64_t FolderSize(const std::string&) { return 0; }
void EnsureMyRecordsRoot(EngineState&) {}
void EnsureVoiceFolder(EngineState&, int) {}
void CheckMyRecordsChanges(EngineState&, bool& maleChanged, bool& femaleChanged) { maleChanged = femaleChanged = false; }
void RefreshIfChanged(EngineState&) {}
}  // namespace mRecordings
