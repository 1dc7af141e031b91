#include "mIndexFiles.h"

#include "AutomationError.h"

namespace mIndexFiles {
int LoadIndex(const std::string&, Dictionary&, int32_t&, bool, int) { return -1; }
std::string BinFilePath(const std::string& applicationPath, const std::string& voiceName, int32_t n) {
    return applicationPath + "/RavekDictionary/Ravek-Dict__" + voiceName + "_" + std::to_string(n) + ".bin";
}
std::string IndexFilePath(const std::string& applicationPath, const std::string& voiceName) {
    return applicationPath + "/RavekDictionary/Ravek-Index__" + voiceName + ".txt";
}
void ExtractClip(const std::string& binPath, int64_t, int64_t, const std::string&) {
    RuntimeErrors::Raise(RuntimeErrors::FileNotFound, binPath);
}
}  // namespace mIndexFiles
