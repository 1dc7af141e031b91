// Reads and writes keys of arbitrary INI bytes: never a crash, and a value written is read back.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "AutomationError.h"
#include "FuzzScratchFile.h"
#include "IniFile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const FuzzScratchFile scratch("ravek-fuzz-ini");
    const std::string& file = scratch.Write(data, size);
    try {
        IniFile::GetPrivateProfileString("General", "MissingWordPolicy", "", 250, file, 1255);
        IniFile::GetPrivateProfileString("TXRS", "words", "", 250, file, 1255);
        IniFile::WritePrivateProfileString("TXRS", "sentences", std::string("46,63"), file, 1255);
        if (IniFile::GetPrivateProfileString("TXRS", "sentences", "", 250, file, 1255).value != "46,63") std::abort();
    } catch (const AutomationError&) {
    }
    return 0;
}
