#pragma once
// The extractor the restore program calls: Wiz_SingleEntryUnzip with its option record and
// callbacks, and UzpVersion2, reading the published zip format through libzip.
//
// Entry names: names flagged as UTF-8 are UTF-8; unflagged names that are valid UTF-8 (zip on
// Linux writes them so) too; other names are in the ANSI code page AnsiCodePage (an archive made
// on Windows). Backslashes count as folder separators. Texts cross as UTF-8.
//
// What is never written: entries whose name is absolute, has a ".." component, cannot be read
// in any code page, or is a symbolic link; entries below a symbolic link of the target folder;
// entries that claim or expand to more than 2 GiB or than the target's free space. Each is
// reported as "Skipping: <name> (<why>)" and makes the result PK_WARN.
//
// Each file is written under a temporary name beside its target and renamed when complete and
// its CRC checked, then given the entry's modification time: a failure leaves no half file.
//
// Messages, one line each: "  inflating: <name>", "   creating: <folder>/", "Skipping: <name>",
// "Skipping: <name>  Target file newer.", "  error: ..." and, for the whole archive,
// "  error: ..." lines. Results as unzip returns them.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace ravekzip {

enum UnzipResult : int {
    PK_OK = 0,      // everything done
    PK_WARN = 1,    // done, but some entries were skipped for safety or could not be named
    PK_ERR = 2,     // some entries are damaged or could not be written
    PK_BADERR = 3,  // the archive is damaged
    PK_MEM = 4,
    PK_NOZIP = 9,   // no archive, or not a zip archive
    PK_PARAM = 10,
    PK_FIND = 11,   // no entry matched the names asked for
    PK_DISK = 50,   // the disk is full
    IZ_CTRLC = 80,  // cancelled
};

// Answers to the overwrite question.
enum ReplaceAnswer : int { IDM_REPLACE_NO = 100, IDM_REPLACE_TEXT, IDM_REPLACE_YES, IDM_REPLACE_ALL, IDM_REPLACE_NONE, IDM_REPLACE_RENAME };

// The option record, field for field in the order the extractor has always taken it.
struct DCL {
    int32_t ExtractOnlyNewer = 0;   // replace an existing file only when the entry is newer
    int32_t SpaceToUnderscore = 0;
    int32_t PromptToOverwrite = 0;  // ask the replace callback before replacing
    int32_t fQuiet = 0;             // message level: 2 prints nothing but errors
    int32_t ncflag = 0;             // write to standard output (not provided)
    int32_t ntflag = 0;             // test the entries, write nothing
    int32_t nvflag = 0;             // list the entries through SendApplicationMessage, write nothing
    int32_t nfflag = 0;             // freshen: only replace existing files
    int32_t nzflag = 0;             // show the archive comment
    int32_t ndflag = 0;             // use the folder names of the entries
    int32_t noflag = 0;             // replace existing files without asking
    int32_t naflag = 0;             // CR to CR LF (not provided: recordings are binary)
    int32_t nZIflag = 0;            // archive information (not provided)
    int32_t C_flag = 0;             // names to extract compare without regard to case
    int32_t fPrivilege = 0;
    std::string lpszZipFN;          // the archive
    std::string lpszExtractDir;     // extraction folder ("" : the current folder)
    int32_t AnsiCodePage = 1255;    // code page of unflagged names that are not UTF-8
};

// One entry as the listing reports it.
struct ListEntry {
    uint64_t ucsize = 0, csiz = 0;
    unsigned cfactor = 0;  // saving in percent
    unsigned mo = 0, dy = 0, yr = 0, hh = 0, mm = 0, ss = 0;
    std::string filename;  // UTF-8, "/" between folders
    std::string methbuf;   // "Stored", "Defl:N"...
    uint32_t crc = 0;
    bool fCrypt = false;
    bool symlink = false;
};

struct USERFUNCTIONS {
    std::function<int(const char* buffer, unsigned long length)> print;
    std::function<void()> sound;
    std::function<int(const char* filename)> replace;  // returns a ReplaceAnswer
    std::function<int(char* password, int size, const char* prompt, const char* name)> password;
    std::function<void(const ListEntry& entry)> SendApplicationMessage;
    std::function<int(const char* name, unsigned long size)> ServCallBk;  // non-zero cancels
    // Filled by the extractor.
    uint64_t TotalSizeComp = 0, TotalSize = 0;
    unsigned CompFactor = 0, NumMembers = 0, cchComment = 0;
};

struct UzpVer {
    unsigned Major = 0, Minor = 0, PatchLevel = 0;
    std::string Date;       // release date, "YYYY-MM-DD"
    std::string BetaLevel;  // extra information
};

// Every entry when `names` is empty, else the entries matching one of `names` (wildcards) and
// none of `excluded`.
int Wiz_SingleEntryUnzip(const std::vector<std::string>& names, const std::vector<std::string>& excluded, const DCL& options,
                         USERFUNCTIONS& functions);
UzpVer UzpVersion2();

// Largest entry the extractor writes: no recording comes near it.
inline constexpr uint64_t kLargestEntry = uint64_t{2} << 30;

}  // namespace ravekzip
