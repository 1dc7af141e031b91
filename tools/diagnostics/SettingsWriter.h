#pragma once
// Writing the engine's settings: one value of the registry file or one entry of the INI file.
// Every other line of the file stays exactly as it was (keys, values, comments, blank lines,
// line ends, the file's encoding and permissions); the file is replaced atomically. A write
// that cannot be made raises AutomationError 75 naming the file and the reason, and leaves the
// file unchanged.
#include <filesystem>
#include <optional>
#include <string>

#include "CommonFunc.h"

namespace CommonFunc {

enum RegistryValueType { kRegString = 1, kRegDword = 4 };

// Sets `valueName` under root\key: type 1 a string value (the text trimmed of blanks), type 4 a
// 32-bit number (the text in decimal). The key is added when the file has none; the file itself
// must exist. `localMachineFile` replaces the default file of HKEY_LOCAL_MACHINE when not empty.
void SetRegistryValue(RootKey root, const std::string& key, const std::string& valueName, const std::string& value,
                      int type, const std::filesystem::path& localMachineFile = {});

// Sets section/key of an existing INI file (text in the active ANSI code page) to `value`, or
// with nullopt removes the key from the section.
void WriteIniValue(const std::filesystem::path& file, const std::string& section, const std::string& key,
                   const std::optional<std::string>& value);

}  // namespace CommonFunc
