// Reads and writes keys of arbitrary INI bytes: never a crash, and a value written is read back.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>

#include "AutomationError.h"
#include "IniFile.h"

namespace {
const std::string& FuzzFile() {
    static const std::string path = [] {
        char name[] = "/tmp/ravek-fuzz-ini-XXXXXX";
        int fd = ::mkstemp(name);
        if (fd >= 0) ::close(fd);
        return std::string(name);
    }();
    return path;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string& file = FuzzFile();
    {
        std::ofstream out(file, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    try {
        IniFile::GetPrivateProfileString("General", "MissingWordPolicy", "", 250, file, 1255);
        IniFile::GetPrivateProfileString("TXRS", "words", "", 250, file, 1255);
        IniFile::WritePrivateProfileString("TXRS", "sentences", std::string("46,63"), file, 1255);
        if (IniFile::GetPrivateProfileString("TXRS", "sentences", "", 250, file, 1255).value != "46,63") std::abort();
    } catch (const AutomationError&) {
    }
    return 0;
}
