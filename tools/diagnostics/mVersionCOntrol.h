#pragma once
// Versions written into the voice data files: the version line of an index file and the 50-byte
// header of a binary file; and the number of binary files an index refers to.
#include <cstdint>
#include <string>

#include "Dictionary.h"

namespace mVersionCOntrol {

enum FileKind { IndexFile = 1, BarSeparatedFile = 2, BinaryFile = 3 };
inline constexpr std::size_t kHeaderLength = 50;

// The version of a file of the given kind (UTF-8). Kind 1: field 0 of a first line whose fields
// 1 and 2 are the same number 0; kind 2: field 0 of a first line "v|v|False"; kind 3: the first
// 50 bytes, padded with blanks, when they hold a ":". Returns false when the file carries no
// version (or for another kind). A file that cannot be read raises AutomationError naming it.
bool GetFileVersion(const std::string& path, int kind, std::string& version);

// Reads every line of an index file into `entries` (word -> position;length;file) and sets
// `count` to the largest binary file number named, at least 1. Returns 0, or -1 when a line
// cannot be handled (count is then unchanged; the reason goes to `reason` when given).
int CountBinaryFiles(const std::string& indexPath, Dictionary& entries, int32_t& count, std::string* reason = nullptr);

// The largest n <= upTo for which the binary file n of the voice exists as a regular file, 0 when
// none does. Reads the dictionary folder once, so a huge file number costs nothing.
int32_t LastBinaryFileFound(const std::string& applicationPath, const std::string& voice, int32_t upTo);

}  // namespace mVersionCOntrol
