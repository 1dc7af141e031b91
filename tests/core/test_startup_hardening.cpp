// Start-up on settings and voice data as real machines have them: registry files in the
// encodings Windows writes (or missing), INI files that are no files, an index naming a huge
// binary file number, a full disk under the log, a database locked by another program.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "AnsiText.h"
#include "AutomationError.h"
#include "IAPI.h"
#include "Installation.h"
#include "mSpeak.h"

using namespace ravektest;
namespace fs = std::filesystem;

namespace {

AutomationError InitialiseError(IAPI& api) {
    try {
        api.Initialise();
    } catch (const AutomationError& e) {
        return e;
    }
    return AutomationError(0, "", "");
}

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// UTF-16LE with its byte order mark; the character U+0001 stands for an unpaired surrogate.
std::string Utf16Le(const std::string& utf8) {
    std::string out = "\xFF\xFE";
    for (char32_t c : AnsiText::DecodeUtf8(utf8)) {
        if (c == 1) c = 0xD800;
        if (c >= 0x10000) {
            c -= 0x10000;
            for (char32_t unit : {0xD800 + (c >> 10), 0xDC00 + (c & 0x3FF)}) out += {char(unit & 0xFF), char(unit >> 8)};
        } else {
            out += {char(c & 0xFF), char(c >> 8)};
        }
    }
    return out;
}

std::string Replace(std::string text, const std::string& from, const std::string& to) {
    if (auto at = text.find(from); at != std::string::npos) text.replace(at, from.size(), to);
    return text;
}

std::string AsRegedit4(const std::string& utf8) {
    return AnsiText::CodecFor(1255).ToAnsi(Replace(utf8, "Windows Registry Editor Version 5.00", "REGEDIT4"));
}

// ---- registry file encodings ----

struct EncodingCase {
    const char* name;
    std::function<std::string(const std::string& utf8File)> encode;  // the file as the test writes it
    bool decodes;  // else: error 5 naming the file, the line and MaleVoiceName
};

void PrintTo(const EncodingCase& c, std::ostream* os) { *os << c.name; }

class RegistryEncoding : public ::testing::TestWithParam<EncodingCase> {};

TEST_P(RegistryEncoding, HebrewNamesArriveIntactOrTheBadValueIsNamed) {
    InstallationOptions o;
    o.Registry["MaleVoiceName"] = RegValue::String("דן");
    Installation inst(o);
    const std::string utf8 = ReadFileBytes(inst.RegistryFile());
    WriteFileBytes(inst.RegistryFile(), GetParam().encode(utf8));
    IAPI api;
    AutomationError e = InitialiseError(api);
    if (GetParam().decodes) {
        EXPECT_EQ(e.Number(), 0) << e.Description();
        EXPECT_EQ(api.ListVoiceName(1), "דן");
        return;
    }
    const std::size_t line = std::count(utf8.begin(), utf8.begin() + utf8.find("\"MaleVoiceName\""), '\n') + 1;
    EXPECT_EQ(e.Number(), 5);
    EXPECT_TRUE(AnsiText::IsValidUtf8(e.Description())) << e.Description();
    for (const std::string& part : {inst.RegistryFile().string(), "line " + std::to_string(line) + ":", std::string("\"MaleVoiceName\"")})
        EXPECT_TRUE(Has(e.Description(), part)) << e.Description();
}

INSTANTIATE_TEST_SUITE_P(
    Files, RegistryEncoding,
    ::testing::Values(
        EncodingCase{"Utf16LeWithBom", [](const std::string& t) { return Utf16Le(t); }, true},
        EncodingCase{"Regedit4InWindows1255", [](const std::string& t) { return AsRegedit4(t); }, true},
        EncodingCase{"Utf16LeLoneSurrogate", [](const std::string& t) { return Utf16Le(Replace(t, "דן", "ד\x01")); }, false},
        EncodingCase{"Regedit4UndefinedByte", [](const std::string& t) { return Replace(AsRegedit4(t), "\xE3\xEF", "\xE3\xFF"); }, false},
        EncodingCase{"Utf8InvalidByte", [](const std::string& t) { return Replace(t, "דן", "\xD7"); }, false}));

// ---- a registry file that cannot serve: an error naming it, nothing written at "/" ----

struct RegistryProblem {
    const char* name;
    std::function<void(Installation&)> spoil;
    std::string mustSay;
};

void PrintTo(const RegistryProblem& c, std::ostream* os) { *os << c.name; }

class RegistryFileProblem : public ::testing::TestWithParam<RegistryProblem> {};

TEST_P(RegistryFileProblem, IsError75NamingTheFile) {
    const bool rootLogBefore = fs::exists("/Tolvin_Log.log");
    Installation inst;
    GetParam().spoil(inst);
    IAPI api;
    AutomationError e = InitialiseError(api);
    EXPECT_EQ(e.Number(), 75) << e.Description();
    EXPECT_TRUE(Has(e.Description(), "registry file " + inst.RegistryFile().string() + GetParam().mustSay)) << e.Description();
    if (!rootLogBefore) {
        EXPECT_FALSE(fs::exists("/Tolvin_Log.log"));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Files, RegistryFileProblem,
    ::testing::Values(
        RegistryProblem{"Missing", [](Installation& i) { fs::remove(i.RegistryFile()); }, " does not exist"},
        RegistryProblem{"Folder", [](Installation& i) { fs::remove(i.RegistryFile()); fs::create_directory(i.RegistryFile()); },
                        " is not a regular file"},
        // Opening /proc/self/mem works for every user, root included; reading its first page fails.
        RegistryProblem{"Unreadable", [](Installation& i) { fs::remove(i.RegistryFile()); fs::create_symlink("/proc/self/mem", i.RegistryFile()); },
                        " cannot be read ("},
        RegistryProblem{"NoLogLocation", [](Installation& i) { i.Options().Registry.erase("LogLocation"); i.Write(); },
                        " has no LogLocation under HKEY_LOCAL_MACHINE\\Software\\RavekVoice"}));

TEST(RegistryFileSize, TwentyThousandValuesReadOnceWithTheLaterLineWinning) {
    InstallationOptions o;
    o.ExtraRegistryText = "[HKEY_LOCAL_MACHINE\\Software\\RavekVoice\\Bulk]\r\n";
    for (int i = 0; i < 20000; ++i) o.ExtraRegistryText += "\"Value" + std::to_string(i) + "\"=\"" + std::to_string(i) + "\"\r\n";
    o.ExtraRegistryText += "[HKEY_LOCAL_MACHINE\\Software\\RavekVoice]\r\n\"MaleVoiceName1\"=\"Later\"\r\n";
    Installation inst(o);
    IAPI api;
    api.Initialise();
    EXPECT_EQ(api.ListVoiceName(3), "Later");
}

// ---- INI files ----

struct IniCase {
    const char* name;
    std::function<void(Installation&)> spoil;
    int32_t number;       // 0: Initialise succeeds
    std::string mustSay;  // with the INI path before it
    int wordCodes = -1;   // on success: the number of word separators read
};

void PrintTo(const IniCase& c, std::ostream* os) { *os << c.name; }

class IniFileCase : public ::testing::TestWithParam<IniCase> {};

TEST_P(IniFileCase, StartsOrFailsNamingTheFile) {
    const IniCase& c = GetParam();
    Installation inst;
    c.spoil(inst);
    IAPI api;
    AutomationError e = InitialiseError(api);
    EXPECT_EQ(e.Number(), c.number) << e.Description();
    if (c.number != 0) {
        EXPECT_TRUE(Has(e.Description(), c.mustSay + inst.IniPath().string()) ||
                    Has(e.Description(), inst.IniPath().string() + c.mustSay)) << e.Description();
    }
    if (c.wordCodes >= 0) {
        EXPECT_EQ(static_cast<int>(api.State().WordSet->Count()), c.wordCodes);
    }
}

void RawIni(Installation& inst, const std::string& bytes) {
    inst.Options().RawIniBytes = bytes;
    inst.Write();
}

void SeparatorsIni(Installation& inst, const std::string& key, const std::string& list) {
    inst.Options().Ini["TXRS"][key] = list;
    inst.Write();
}

INSTANTIATE_TEST_SUITE_P(
    Files, IniFileCase,
    ::testing::Values(
        IniCase{"Fifo", [](Installation& i) { fs::remove(i.IniPath()); ::mkfifo(i.IniPath().c_str(), 0600); }, 999,
                "Ini File does not exists at "},
        IniCase{"Unreadable", [](Installation& i) { fs::remove(i.IniPath()); fs::create_symlink("/proc/self/mem", i.IniPath()); }, 75,
                "cannot read the INI file "},
        IniCase{"SecondSectionOfTheSameNameIsNotRead",
                [](Installation& i) { RawIni(i, "[TXRS]\r\nsentences=46\r\n[General]\r\n[TXRS]\r\nwords=32,44\r\n"); }, 0, "", 0},
        IniCase{"RepeatedSentenceCode", [](Installation& i) { SeparatorsIni(i, "sentences", "46,46"); }, 457,
                ", section [TXRS], key sentences"},
        IniCase{"EmptyWordCodeTwice", [](Installation& i) { SeparatorsIni(i, "words", "32,,44,"); }, 457,
                ", section [TXRS], key words"}));

// ---- binary file detection bounded by the files that exist ----

struct BinaryCase {
    const char* name;
    int32_t indexedFile;  // file number of one more index line
    int32_t present;      // a further binary file that exists (0: none)
    std::vector<std::string> lines;  // log messages expected, "{bin N}" standing for a binary file path
};

void PrintTo(const BinaryCase& c, std::ostream* os) { *os << c.name; }

class BinaryFileDetection : public ::testing::TestWithParam<BinaryCase> {};

TEST_P(BinaryFileDetection, ReportsEachRunOfMissingFilesOnceAndQuickly) {
    const BinaryCase& c = GetParam();
    Installation inst;
    WriteFileBytes(inst.IndexFile(0), ReadFileBytes(inst.IndexFile(0)) + "far;51;1;0;" + std::to_string(c.indexedFile) + "\r\n");
    if (c.present) fs::copy_file(inst.BinFile(0, 1), inst.BinFile(0, c.present));
    IAPI api;
    const auto start = std::chrono::steady_clock::now();
    api.Initialise();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
    EXPECT_FALSE(api.State().VoiceReady[0]);
    EXPECT_TRUE(api.State().VoiceReady[1]);
    EXPECT_LT(inst.LogLines().size(), 100u);
    for (std::string line : c.lines) {
        for (int32_t n : {2, 3, 4})
            line = Replace(line, "{bin " + std::to_string(n) + "}", inst.BinFile(0, n).string());
        EXPECT_TRUE(inst.LogContains(line)) << line;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Numbers, BinaryFileDetection,
    ::testing::Values(
        BinaryCase{"Largest", 2147483647, 0,
                   {"FAILED to detect male voice binary file at {bin 2}", "Reason: no such file",
                    "male voice binary files #2 to #2147483647 do not exist"}},
        BinaryCase{"GapBeforeAFileThatExists", 3000000, 3,
                   {"FAILED to detect male voice binary file at {bin 2}", "male voice binary file #3 detected at {bin 3}",
                    "FAILED to detect male voice binary file at {bin 4}", "male voice binary files #4 to #3000000 do not exist"}}));

// ---- a full disk under the log ----

TEST(LogOnAFullDisk, IsError75NamingTheLogFile) {
    Installation inst;
    fs::create_symlink("/dev/full", inst.LogFile());  // writes to /dev/full fail with "No space left on device"
    IAPI api;
    AutomationError e = InitialiseError(api);
    EXPECT_EQ(e.Number(), 75);
    EXPECT_TRUE(Has(e.Description(), "cannot write the log file " + inst.LogFile().string())) << e.Description();
    EXPECT_FALSE(api.State().IsInitialised);
}

// ---- a database locked at start-up ----

TEST(LockedDatabase, IsConnectedAgainAtTheNextRequest) {
    Installation inst;
    sqlite3* raw = nullptr;
    ASSERT_EQ(sqlite3_open(inst.DatabasePath().c_str(), &raw), SQLITE_OK);
    std::unique_ptr<sqlite3, int (*)(sqlite3*)> other(raw, sqlite3_close);
    ASSERT_EQ(sqlite3_exec(other.get(), "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr), SQLITE_OK);
    IAPI api;
    api.Initialise();
    EXPECT_TRUE(inst.LogContains("DB Connection failed .. Assuming no smart lookup.. "));
    EXPECT_TRUE(inst.LogContains("Reason: database is locked"));
    EXPECT_FALSE(api.State().VoiceReady[0]);

    mSpeak::PrepareForRender(api.State(), "שלום");  // still locked: stays off, tried again later
    EXPECT_FALSE(api.State().VoiceReady[0]);
    ASSERT_EQ(sqlite3_exec(other.get(), "COMMIT", nullptr, nullptr, nullptr), SQLITE_OK);
    mSpeak::PrepareForRender(api.State(), "שלום");
    EXPECT_TRUE(api.State().VoiceReady[0]);
    EXPECT_TRUE(api.State().VoiceReady[1]);
    EXPECT_EQ(api.State().Prefixes.Count, static_cast<int32_t>(DefaultPrefixes().size()) - 1);
}

}  // namespace
