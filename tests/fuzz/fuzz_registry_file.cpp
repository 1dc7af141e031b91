// Feeds arbitrary text to the registry-file parser: it must either parse or raise an
// AutomationError naming the file, never crash; what parses must serialise and parse back.
#include <cstddef>
#include <cstdint>
#include <string>

#include "AutomationError.h"
#include "RegistryFile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    try {
        RegistryFile::Document doc = RegistryFile::Document::Parse(text, "fuzz.reg");
        RegistryFile::Document::Parse(doc.Serialise(), "fuzz-again.reg");
    } catch (const AutomationError&) {
    }
    return 0;
}
