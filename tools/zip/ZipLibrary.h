#pragma once
// The packer the backup program calls: the entry points ZpInit, ZpSetOptions and ZpArchive with
// their option record and callbacks, writing the published zip format through libzip.
//
// ZpArchive packs every file below the root folder (szRootDir) whose name matches one of the
// patterns (searching sub-folders when fRecurse is set), stores the names relative to the root
// in UTF-8 (flagged as UTF-8 when they are not plain ASCII), adds directory entries unless
// fNoDirEntries, keeps modification times (the format's 2-second resolution), compresses with
// deflate (level fLevel '0'-'9', else 6) and stores files that do not shrink. The archive is
// written under a temporary name and takes its final name only when complete.
//
// Messages go to the print callback, one line each, as zip prints them:
//   "  adding: Dan/a.wav (deflated 12%)", "  adding: sub/ (stored 0%)",
//   "zip warning: ...", "zip error: Nothing to do! (archive.zip)".
// Texts cross as UTF-8 (the file system's encoding), not as ANSI.
//
// Options that change an existing archive (fGrow, fUpdate, fFreshen, fDeleteEntries, fMove),
// encryption and the date filters are not provided: asking for them fails with ZE_PARMS.
// One instance holds the callbacks and options of its caller; instances are independent.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace ravekzip {

// Results of ZpArchive (0 success), as zip returns them.
enum ZipResult : int {
    ZE_OK = 0, ZE_MEM = 4, ZE_LOGIC = 5, ZE_BIG = 6, ZE_ABORT = 9, ZE_TEMP = 10, ZE_READ = 11, ZE_NONE = 12,
    ZE_NAME = 13, ZE_WRITE = 14, ZE_CREAT = 15, ZE_PARMS = 16, ZE_OPEN = 18
};

// The option record, field for field in the order the packer has always taken it.
struct ZPOPT {
    std::string Date;       // date limit (not provided)
    std::string szRootDir;  // folder the patterns and stored names are relative to
    std::string szTempDir;
    int32_t fTemp = 0, fSuffix = 0, fEncrypt = 0, fSystem = 0, fVolume = 0, fExtra = 0, fNoDirEntries = 0,
            fExcludeDate = 0, fIncludeDate = 0, fVerbose = 0, fQuiet = 0, fCRLF_LF = 0, fLF_CRLF = 0, fJunkDir = 0,
            fGrow = 0, fForce = 0, fMove = 0, fDeleteEntries = 0, fUpdate = 0, fFreshen = 0, fJunkSFX = 0,
            fLatestTime = 0, fComment = 0, fOffsets = 0, fPrivilege = 0, fEncryption = 0, fRecurse = 0, fRepair = 0;
    char fLevel = 0;
};

// The four callbacks. print gets each message line (without its line end); comment fills a
// buffer of 256 bytes with the archive comment (asked when fComment); password is never asked
// (no encryption); service is told each file before it is packed and cancels with a non-zero
// answer.
struct ZIPUSERFUNCTIONS {
    std::function<int(const char* buffer, unsigned long length)> print;
    std::function<int(char* comment)> comment;
    std::function<int(char* password, int size, const char* prompt, const char* name)> password;
    std::function<int(const char* name, unsigned long size)> service;
};

class ZipLibrary {
public:
    int ZpInit(const ZIPUSERFUNCTIONS& functions);
    int ZpSetOptions(const ZPOPT& options);
    ZPOPT ZpGetOptions() const { return options_; }
    // `names` holds at least `argc` patterns (the first argc are used).
    int ZpArchive(int argc, const std::string& zipFile, const std::vector<std::string>& names);

private:
    ZIPUSERFUNCTIONS functions_;
    ZPOPT options_;
};

}  // namespace ravekzip
