#pragma once
// The recorded dictionary of a voice: an index text file and numbered binary files of MP3 clips.
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "Dictionary.h"

namespace mIndexFiles {
// Loads an index file (ANSI text in `codePage`) into `dict`; sets fileCount to N on success.
// Returns 0, or -1 on any failure (the entries added so far stay; fileCount is unchanged); the
// failure's reason (the line number and what is wrong with it, or why the file cannot be read)
// goes to `reason` when given.
int LoadIndex(const std::string& path, Dictionary& dict, int32_t& fileCount, bool lowerCase, int codePage,
              std::string* reason = nullptr);
// Why `path` names no regular file ("no such file", "not a regular file", or the system's
// reason); empty when it names one.
std::string NotARegularFile(const std::string& path);
// The numbers n in 1..fileCount that have an entry "Ravek-Dict__<voice>_<n>.bin" (of any kind)
// in the dictionary folder, ascending. The folder is listed once, so the work is bounded by what
// the folder holds whatever number an index names; when it cannot be listed, the numbers are
// probed from 1 up to the first one missing.
std::vector<int32_t> ExistingBinFileNumbers(const std::string& applicationPath, const std::string& voiceName,
                                            int32_t fileCount);
// "<applicationPath>/RavekDictionary/Ravek-Dict__<voice>_<n>.bin"
std::string BinFilePath(const std::string& applicationPath, const std::string& voiceName, int32_t n);
// "<applicationPath>/RavekDictionary/Ravek-Index__<voice>.txt"
std::string IndexFilePath(const std::string& applicationPath, const std::string& voiceName);
// Bytes [position, position + length - 1] (1-based) of `binPath`. Raises an AutomationError naming
// the file when it cannot be read or the clip does not lie wholly inside it.
std::vector<char> ReadClip(const std::string& binPath, int64_t position, int64_t length);
// ReadClip for many clips: each binary file is opened (and its size read) once and stays open
// while the reader lives. Same checks and errors as ReadClip.
class ClipReader {
public:
    ClipReader() = default;
    ~ClipReader();
    ClipReader(const ClipReader&) = delete;
    ClipReader& operator=(const ClipReader&) = delete;
    std::vector<char> Read(const std::string& binPath, int64_t position, int64_t length);

private:
    struct OpenFile {
        int fd = -1;
        uint64_t size = 0;
    };
    std::map<std::string, OpenFile> open_;
};
// Copies bytes [position, position + length - 1] (1-based) of `binPath` into `outPath`, replacing
// it. Raises an AutomationError naming the file on failure; a partial output is removed.
void ExtractClip(const std::string& binPath, int64_t position, int64_t length, const std::string& outPath);
}  // namespace mIndexFiles
