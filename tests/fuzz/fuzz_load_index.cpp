// Loads arbitrary bytes as a voice index file: a status comes back, never a crash or a hang.
#include <cstddef>
#include <cstdint>
#include <string>

#include "AutomationError.h"
#include "Dictionary.h"
#include "FuzzScratchFile.h"
#include "mIndexFiles.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const FuzzScratchFile scratch("ravek-fuzz-index");
    const std::string& path = scratch.Write(data, size);
    Dictionary dict;
    int32_t files = 0;
    try {
        mIndexFiles::LoadIndex(path, dict, files, size % 2 == 0, 1255);
    } catch (const AutomationError&) {
    }
    return 0;
}
