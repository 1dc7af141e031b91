#pragma once
// Packs the recordings of one dictionary voice into the files the engine reads:
//   Ravek-Index__<voice>.txt      index (Windows-1255, CR LF), version line first
//   Ravek-Dict__<voice>_<n>.bin   numbered binary files of MP3 clips with a 50-byte header
//   Ravek.db                      lookup database (prefixes, lookup table of the voice's sex,
//                                 version row of the voice), created or updated
// Every file is written to a temporary name and renamed into place only when all of them are
// complete, so a refused or failed run leaves the output folder as it was.
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace VoicePack {

// Why a pack was refused; the message names the offending line or file.
class PackError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

enum class Sex { Male, Female };

struct WordEntry {
    std::string Word;                 // UTF-8, pointed or not, one or several words
    std::filesystem::path Clip;       // an MP3 file
    int64_t TieBreak = 1;             // smaller is preferred among words of one naked spelling
    std::string Origin;               // where the entry came from ("words.txt line 3"), for messages
};

struct PrefixEntry {
    std::string Prefix;    // UTF-8, written as a pointed word
    std::string FileName;  // the recording spoken for it
    int64_t Priority = 0;
    std::string Origin;
};

inline constexpr uint64_t kDefaultMaxBinSize = 50ull * 1024 * 1024;
inline constexpr std::size_t kHeaderSize = 50;

struct Options {
    std::string Voice;        // e.g. "Galev"; used in the file names and the version row
    Sex VoiceSex = Sex::Male;  // chooses RavekLookup_Male or RavekLookup_Female
    std::string DataVersion;  // must contain ":" and fit in the 50-byte header
    std::vector<WordEntry> Words;
    // When set, the prefix table is replaced by these rows; when unset it is left as it is
    // (created empty if the database is new).
    std::optional<std::vector<PrefixEntry>> Prefixes;
    std::filesystem::path OutDir;
    uint64_t MaxBinSize = kDefaultMaxBinSize;  // every binary file stays within this many bytes
    int CodePage = 1255;
    // Called as clips are written (words done, words in all); may be empty.
    std::function<void(std::size_t done, std::size_t total)> Progress;
};

// The engine reads clip positions and file numbers as 32-bit numbers: no binary file may be larger.
inline constexpr uint64_t kLargestMaxBinSize = 2147483647;

// What a pack produced.
struct Result {
    int32_t BinFileCount = 0;
    std::size_t WordCount = 0;
    std::filesystem::path IndexFile;
    std::vector<std::filesystem::path> BinFiles;
    std::filesystem::path Database;
};

// Reads a words file: UTF-8 lines "word<TAB>clip[<TAB>tie-break]"; blank lines are skipped, a
// relative clip path is taken relative to the words file. Raises PackError naming the line, or
// the file when it is no regular file or holds no words.
std::vector<WordEntry> ReadWordsFile(const std::filesystem::path& file);
// Reads a prefixes file: UTF-8 lines "prefix<TAB>file name<TAB>priority".
std::vector<PrefixEntry> ReadPrefixesFile(const std::filesystem::path& file);

// Packs the voice. Raises PackError (nothing in OutDir changed) when the input is refused:
// no words, a data version without ":", text the code page cannot represent, a word with blanks
// around it, duplicate words, a tie-break outside 32 bits, missing or non-MP3 clips, a clip too
// large for one binary file, a prefix file name that is a path, --max-bin-size above
// kLargestMaxBinSize.
Result Pack(const Options& options);

// True when the bytes start like an MP3 stream: an ID3v2 tag or an MPEG audio frame sync.
bool LooksLikeMp3(const std::string& firstBytes);

// "male"/"female" (any case) -> Sex; nullopt otherwise.
std::optional<Sex> ParseSex(const std::string& text);

}  // namespace VoicePack
