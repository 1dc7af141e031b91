#pragma once
// Names and texts of the zip stand-ins: wildcard patterns, the code page of a locale number,
// entry names as the archive holds them (UTF-8 or a Windows code page) and the check that keeps
// an entry inside the folder it is extracted to.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace ravekzip {

// Whether `name` matches a pattern with "*" (any run of characters, "/" included) and "?" (one
// character). ASCII letters compare without regard to case unless `caseSensitive`.
bool WildcardMatch(std::string_view pattern, std::string_view name, bool caseSensitive = false);

// The ANSI code page of a Windows locale number written in decimal ("1037" Hebrew -> 1255,
// "1033" English -> 1252, "11265" Arabic -> 1256, Russian -> 1251); `fallback` for an empty or
// unknown text.
int CodePageOfLcid(const std::string& lcid, int fallback);

// The UTF-8 form of an entry name read from an archive: names flagged as UTF-8 must be valid
// UTF-8; unflagged names that are valid UTF-8 (as zip on Linux writes them) are taken as they
// are; other names are in the ANSI code page `codePage` (an archive made on Windows). Backslashes
// become "/". No value when the name is valid in neither form.
std::optional<std::string> DecodeEntryName(std::string_view raw, bool flaggedUtf8, int codePage);

// The relative path an entry may be written to below the extraction folder: "." and empty
// components dropped. No value for absolute names, names with a ".." component or a NUL, and
// names that leave nothing.
std::optional<std::string> SafeRelativePath(std::string_view name);

// Names the system's time zone in TZ when TZ is unset. libzip converts every entry's time with
// mktime, and without TZ the C library looks at /etc/localtime again on each call: several file
// system calls per entry, which grow slow with the size of a restore. For main, before any
// thread starts; the zone is the same.
void NameTheTimeZone();

}  // namespace ravekzip
