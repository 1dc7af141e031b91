// Loads arbitrary bytes as a voice index file: a status comes back, never a crash or a hang.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <fstream>
#include <string>

#include "AutomationError.h"
#include "Dictionary.h"
#include "mIndexFiles.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string path = [] {
        char name[] = "/tmp/ravek-fuzz-index-XXXXXX";
        int fd = ::mkstemp(name);
        if (fd >= 0) ::close(fd);
        return std::string(name);
    }();
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    Dictionary dict;
    int32_t files = 0;
    try {
        mIndexFiles::LoadIndex(path, dict, files, size % 2 == 0, 1255);
    } catch (const AutomationError&) {
    }
    return 0;
}
