#pragma once
// Private-profile (INI) files with the Windows semantics: sections and keys compare without
// regard to case, values are trimmed of blanks, reads are limited to a buffer size, writing a key
// without a value removes it. The file text is in an ANSI code page; the program sees UTF-8.
#include <filesystem>
#include <optional>
#include <string>

namespace IniFile {

struct ReadResult {
    std::string value;   // UTF-8
    std::size_t length;  // characters copied, as the platform reader reports it
};

// Reads section/key; `bufferSize` counts characters including the terminating NUL, so at most
// bufferSize - 1 characters come back. A missing file, section or key gives the default.
ReadResult GetPrivateProfileString(const std::string& section, const std::string& key, const std::string& defaultValue,
                                   std::size_t bufferSize, const std::filesystem::path& file, int codePage);

// Writes (or with nullopt removes) section/key, creating the file or section when needed.
// The file is replaced atomically.
void WritePrivateProfileString(const std::string& section, const std::string& key,
                               const std::optional<std::string>& value, const std::filesystem::path& file, int codePage);

}  // namespace IniFile
