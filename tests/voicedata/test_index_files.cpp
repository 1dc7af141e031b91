// The recorded dictionary of a voice: loading the index, cutting clips out of the binary files,
// and what the engine's start-up reports about both.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "AnsiText.h"
#include "AutomationError.h"
#include "IAPI.h"
#include "Installation.h"
#include "mIndexFiles.h"

namespace fs = std::filesystem;
using ravektest::Installation;
using ravektest::InstallationOptions;
using ravektest::ReadFileBytes;
using ravektest::TempFolder;
using ravektest::WriteFileBytes;

namespace {

struct Loaded {
    int status;
    Dictionary dict;
    int32_t fileCount;
};

// Loads index bytes written as they stand; fileCount starts at 7 so that "unchanged" shows.
Loaded LoadBytes(const std::string& bytes, bool lowerCase = false) {
    TempFolder folder;
    WriteFileBytes(folder / "index.txt", bytes);
    Loaded result{0, {}, 7};
    result.status = mIndexFiles::LoadIndex((folder / "index.txt").string(), result.dict, result.fileCount, lowerCase, 1255);
    return result;
}

std::string Ansi(const std::string& utf8) { return AnsiText::CodecFor(1255).ToAnsi(utf8); }

int RaisedNumber(const std::function<void()>& call, const std::string& mustName) {
    try {
        call();
    } catch (const AutomationError& e) {
        EXPECT_NE(e.Description().find(mustName), std::string::npos) << e.Description();
        return e.Number();
    }
    return 0;
}

std::string Pattern(std::size_t size) {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 7 + 3) % 251);
    return bytes;
}

}  // namespace

// ---- LoadIndex ----

TEST(LoadIndex, MapsWordToPositionLengthAndFile) {
    Loaded l = LoadBytes(Ansi("1.0:x;0;0;0;2\r\nשלום;51;1000;9;1\r\nבית;1051;20;9;2\r\n"));
    ASSERT_EQ(l.status, 0);
    EXPECT_EQ(l.fileCount, 2);
    ASSERT_EQ(l.dict.Count(), 3u);
    EXPECT_EQ(l.dict.Item("1.0:x"), "0;0;2");  // the version line is an entry like any other
    EXPECT_EQ(l.dict.Item("שלום"), "51;1000;1");
    EXPECT_EQ(l.dict.Item("בית"), "1051;20;2");
    EXPECT_EQ(l.dict.Keys(), (std::vector<std::string>{"1.0:x", "שלום", "בית"}));
}

TEST(LoadIndex, FileCountIsTheLargestFileNumberAndAtLeastOne) {
    EXPECT_EQ(LoadBytes("a;51;1;0;1\r\nb;52;1;0;1\r\n").fileCount, 1);
    EXPECT_EQ(LoadBytes("a;51;1;0;1\r\nb;52;1;0;3\r\nc;53;1;0;2\r\n").fileCount, 3);
    EXPECT_EQ(LoadBytes("a;51;1;0;0\r\nb;52;1;0;-4\r\n").fileCount, 1);
    Loaded empty = LoadBytes("");
    EXPECT_EQ(empty.status, 0);
    EXPECT_EQ(empty.fileCount, 1);
}

TEST(LoadIndex, FailuresStopAtTheLineKeepEarlierEntriesAndTheFileCount) {
    Loaded dup = LoadBytes("a;51;1;0;1\r\nb;52;1;0;4\r\na;53;1;0;1\r\nc;54;1;0;1\r\n");
    EXPECT_EQ(dup.status, -1);
    EXPECT_EQ(dup.dict.Keys(), (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(dup.fileCount, 7);

    Loaded four = LoadBytes("a;51;1;0;1\r\nb;52;1;0\r\n");
    EXPECT_EQ(four.status, -1);
    EXPECT_EQ(four.dict.Count(), 1u);
    EXPECT_EQ(four.fileCount, 7);

    for (const char* bad : {"x", "", "1.5x", "99999999999", "0x10"}) {
        Loaded l = LoadBytes(std::string("a;51;1;0;1\r\nb;52;1;0;") + bad + "\r\n");
        EXPECT_EQ(l.status, -1) << bad;
        // The line is added before its file number is read, so its entry stays with the others.
        EXPECT_EQ(l.dict.Keys(), (std::vector<std::string>{"a", "b"})) << bad;
        EXPECT_EQ(l.fileCount, 7) << bad;
    }

    TempFolder folder;
    Dictionary dict;
    int32_t count = 7;
    EXPECT_EQ(mIndexFiles::LoadIndex((folder / "missing.txt").string(), dict, count, false, 1255), -1);
    EXPECT_EQ(count, 7);
}

TEST(LoadIndex, ToleratesLineEndsBomBlankLinesAndExtraFields) {
    const std::string expected = "51;1;1";
    for (const std::string& text :
         {std::string("a;51;1;0;1\rb;51;1;0;1\r"), std::string("a;51;1;0;1\nb;51;1;0;1"),
          std::string("a;51;1;0;1\r\n\r\n\nb;51;1;0;1\r\n\r\n"), std::string("a;51;1;0;1\r\nb;51;1;0;1;\r\n"),
          std::string("a;51;1;0;1;;extra;\nb;51;1;0; 1 \r\n")}) {
        Loaded l = LoadBytes(text);
        EXPECT_EQ(l.status, 0) << text;
        EXPECT_EQ(l.dict.Keys(), (std::vector<std::string>{"a", "b"})) << text;
        if (l.dict.Exists("a")) {
            EXPECT_EQ(l.dict.Item("a"), expected);
        }
    }
    // A UTF-8 byte order mark means the file was saved as UTF-8.
    Loaded bom = LoadBytes("\xEF\xBB\xBFשלום;51;1;0;1\r\n");
    EXPECT_EQ(bom.status, 0);
    EXPECT_EQ(bom.dict.Keys(), std::vector<std::string>{"שלום"});
    // ... unless what follows is not UTF-8: then it is ANSI after all.
    Loaded ansiBom = LoadBytes("\xEF\xBB\xBF" + Ansi("שלום;51;1;0;1\r\n"));
    EXPECT_EQ(ansiBom.status, 0);
    EXPECT_EQ(ansiBom.dict.Keys(), std::vector<std::string>{"שלום"});
}

TEST(LoadIndex, PositionsAreKeptAsWrittenForTheExtractorToCheck) {
    Loaded l = LoadBytes("a;fifty;ten;0;1\r\n");
    EXPECT_EQ(l.status, 0);
    EXPECT_EQ(l.dict.Item("a"), "fifty;ten;1");
}

TEST(LoadIndex, LowerCasesKeysOnlyWhenAsked) {
    Loaded lower = LoadBytes(Ansi("HELLO;51;1;0;1\r\nשלום;52;1;0;1\r\n"), true);
    EXPECT_TRUE(lower.dict.Exists("hello"));
    EXPECT_FALSE(lower.dict.Exists("HELLO"));
    EXPECT_TRUE(lower.dict.Exists("שלום"));
    Loaded asIs = LoadBytes("HELLO;51;1;0;1\r\n", false);
    EXPECT_TRUE(asIs.dict.Exists("HELLO"));
    // Two spellings that lower-case alike are one word.
    EXPECT_EQ(LoadBytes("Hello;51;1;0;1\r\nHELLO;52;1;0;1\r\n", true).status, -1);
}

// What a failed load says about its failure: the line (CR LF, CR and LF each end one line, blank
// lines count) and what is wrong with it, or why the file cannot be read.
struct ReasonCase {
    const char* name;
    std::string bytes;  // the index file's content; "<folder>" makes it a folder, "<none>" leaves it out
    std::string reason;
};

void PrintTo(const ReasonCase& c, std::ostream* os) { *os << c.name; }

class LoadIndexReason : public ::testing::TestWithParam<ReasonCase> {};

TEST_P(LoadIndexReason, NamesTheLineAndWhatIsWrong) {
    TempFolder folder;
    const fs::path index = folder / "index.txt";
    if (GetParam().bytes == "<folder>") fs::create_directory(index);
    else if (GetParam().bytes != "<none>") WriteFileBytes(index, GetParam().bytes);
    Dictionary dict;
    int32_t files = 7;
    std::string reason;
    EXPECT_EQ(mIndexFiles::LoadIndex(index.string(), dict, files, false, 1255, &reason), -1);
    EXPECT_EQ(reason, GetParam().reason);
    EXPECT_EQ(files, 7);
}

INSTANTIATE_TEST_SUITE_P(
    Failures, LoadIndexReason,
    ::testing::Values(
        ReasonCase{"TooFewFields", "1.0:v;0;0;0;1\r\na;51;1;0\r\n", "line 2: 4 fields separated by \";\", at least 5 needed"},
        ReasonCase{"WordTwiceAfterABlankLine", "1.0:v;0;0;0;1\n\n" + Ansi("שלום") + ";51;1;0;1\r\n" + Ansi("שלום") + ";52;1;0;1\r\n",
                   "line 4: the word \"שלום\" is listed twice"},
        ReasonCase{"FileNumberNotANumber", "a;51;1;0;1\rb;52;1;0;x1\r", "line 2: the file number \"x1\" is not a 32-bit whole number"},
        ReasonCase{"Missing", "<none>", "no such file"},
        ReasonCase{"Folder", "<folder>", "not a regular file"}),
    [](const ::testing::TestParamInfo<ReasonCase>& info) { return std::string(info.param.name); });

TEST(IndexFilePaths, NamesFollowTheVoiceAndNumber) {
    EXPECT_EQ(mIndexFiles::BinFilePath("/opt/ravek", "Galev", 12), "/opt/ravek/RavekDictionary/Ravek-Dict__Galev_12.bin");
    EXPECT_EQ(mIndexFiles::IndexFilePath("/opt/ravek", "Sevra"), "/opt/ravek/RavekDictionary/Ravek-Index__Sevra.txt");
}

// ---- ExtractClip ----

TEST(ExtractClip, CopiesTheOneBasedByteRange) {
    TempFolder folder;
    std::string bin = Pattern(3000);
    WriteFileBytes(folder / "d.bin", bin);
    mIndexFiles::ExtractClip((folder / "d.bin").string(), 51, 1000, (folder / "clip.mp3").string());
    EXPECT_EQ(ReadFileBytes(folder / "clip.mp3"), bin.substr(50, 1000));
    // The whole file, the last byte alone, nothing at all.
    mIndexFiles::ExtractClip((folder / "d.bin").string(), 1, 3000, (folder / "all").string());
    EXPECT_EQ(ReadFileBytes(folder / "all"), bin);
    mIndexFiles::ExtractClip((folder / "d.bin").string(), 3000, 1, (folder / "last").string());
    EXPECT_EQ(ReadFileBytes(folder / "last"), bin.substr(2999));
    mIndexFiles::ExtractClip((folder / "d.bin").string(), 3001, 0, (folder / "none").string());
    EXPECT_TRUE(fs::exists(folder / "none"));
    EXPECT_EQ(fs::file_size(folder / "none"), 0u);
}

TEST(ExtractClip, ReplacesALongerExistingFileExactly) {
    TempFolder folder;
    std::string bin = Pattern(500);
    WriteFileBytes(folder / "d.bin", bin);
    WriteFileBytes(folder / "clip.mp3", std::string(5000, 'x'));
    mIndexFiles::ExtractClip((folder / "d.bin").string(), 101, 10, (folder / "clip.mp3").string());
    EXPECT_EQ(ReadFileBytes(folder / "clip.mp3"), bin.substr(100, 10));
}

TEST(ExtractClip, RefusesClipsOutsideTheFileNamingIt) {
    TempFolder folder;
    std::string binPath = (folder / "short.bin").string();
    WriteFileBytes(binPath, Pattern(100));
    std::string out = (folder / "clip.mp3").string();
    auto extract = [&](int64_t position, int64_t length) {
        return [=] { mIndexFiles::ExtractClip(binPath, position, length, out); };
    };
    EXPECT_EQ(RaisedNumber(extract(51, 51), binPath), 62);
    EXPECT_EQ(RaisedNumber(extract(200, 1), binPath), 62);
    EXPECT_EQ(RaisedNumber(extract(2, INT64_MAX), binPath), 62);
    EXPECT_EQ(RaisedNumber(extract(0, 10), binPath), 5);
    EXPECT_EQ(RaisedNumber(extract(1, -1), binPath), 5);
    EXPECT_FALSE(fs::exists(out));
    std::string missing = (folder / "missing.bin").string();
    EXPECT_EQ(RaisedNumber([&] { mIndexFiles::ExtractClip(missing, 1, 1, out); }, missing), 53);
    std::string nowhere = (folder / "no" / "clip.mp3").string();
    EXPECT_EQ(RaisedNumber([&] { mIndexFiles::ExtractClip(binPath, 1, 1, nowhere); }, nowhere), 76);
}

// ---- start-up with a real installation ----

TEST(StartUpIndexes, ReportsLoadedIndexesAndDetectedBinaryFiles) {
    InstallationOptions o;
    o.Male.MaxBinSize = 6000;  // spreads Galev's clips over several files
    Installation inst(o);
    IAPI api;
    api.Initialise();
    const EngineState& s = api.State();
    EXPECT_TRUE(s.VoiceReady[0]);
    EXPECT_TRUE(s.VoiceReady[1]);
    EXPECT_GT(s.BinFileCount[0], 1);
    EXPECT_EQ(s.BinFileCount[1], 1);
    EXPECT_EQ(s.IndexDictionary(0).Count(), o.Male.Words.size() + 1);
    std::string malePath = inst.IndexFile(0).string();
    EXPECT_TRUE(inst.LogContains("Male index loaded from " + malePath));
    EXPECT_TRUE(inst.LogContains("Loaded 9 entries for male voice after"));
    EXPECT_TRUE(inst.LogContains("Female index loaded from " + inst.IndexFile(1).string()));
    EXPECT_TRUE(inst.LogContains("Loaded 9 entries for female voice after"));
    EXPECT_TRUE(inst.LogContains("Going to detect Binary files...."));
    for (int32_t n = 1; n <= s.BinFileCount[0]; ++n)
        EXPECT_TRUE(inst.LogContains("male voice binary file #" + std::to_string(n) + " detected at " + inst.BinFile(0, n).string()));
    EXPECT_TRUE(inst.LogContains("Female voice binary file #1 detected at " + inst.BinFile(1, 1).string()));
    EXPECT_TRUE(inst.LogContains("Detection of binary files after "));
    EXPECT_TRUE(inst.LogContains(" Male Voice initiated PROPERLY "));
    EXPECT_TRUE(inst.LogContains(" Female Voice initiated PROPERLY"));
}

TEST(StartUpIndexes, AGapInTheBinaryFilesMarksOnlyThatVoiceNotReady) {
    Installation inst;
    // Galev's index names files 1 and 3: file 2 must exist too.
    WriteFileBytes(inst.IndexFile(0), "1.0:v;0;0;0;3\r\na;51;1;0;1\r\nb;51;1;0;3\r\n");
    fs::copy_file(inst.BinFile(0, 1), inst.BinFile(0, 3));
    IAPI api;
    api.Initialise();
    EXPECT_EQ(api.State().BinFileCount[0], 3);
    EXPECT_FALSE(api.State().VoiceReady[0]);
    EXPECT_TRUE(api.State().VoiceReady[1]);
    EXPECT_TRUE(inst.LogContains("FAILED to detect male voice binary file at " + inst.BinFile(0, 2).string()));
    EXPECT_TRUE(inst.LogContains("male voice binary file #3 detected at "));
    EXPECT_TRUE(inst.LogContains(" Male Voice initiated >>> INPROPERLY <<< "));
    EXPECT_TRUE(api.State().IsIdle);
}

TEST(StartUpIndexes, BrokenOrMissingIndexesMarkTheirVoiceNotReady) {
    Installation inst;
    WriteFileBytes(inst.IndexFile(0), "1.0:v;0;0;0;1\r\na;51;1;0;1\r\nb;52;1;0;1\r\na;53;1;0;1\r\n");
    fs::remove(inst.IndexFile(1));
    IAPI api;
    api.Initialise();
    const EngineState& s = api.State();
    EXPECT_FALSE(s.VoiceReady[0]);
    EXPECT_FALSE(s.VoiceReady[1]);
    EXPECT_EQ(s.IndexDictionary(0).Count(), 3u);  // the words before the duplicate stay loaded
    EXPECT_TRUE(inst.LogContains("FAILED to load male voice index from " + inst.IndexFile(0).string()));
    EXPECT_TRUE(inst.LogContains("FAILED to load female voice index from " + inst.IndexFile(1).string()));
    EXPECT_FALSE(inst.LogContains("Loaded "));
    EXPECT_TRUE(inst.LogContains(" Female Voice initiated >>> INPROPERLY <<< "));
    EXPECT_TRUE(s.IsInitialised);
}

TEST(StartUpIndexes, FailuresAreFollowedByTheirReasonAtTheDetailLevelOnly) {
    for (uint32_t level : {6u, 5u}) {
        InstallationOptions o;
        o.Registry["LogLevel"] = ravektest::RegValue::Dword(level);
        Installation inst(o);
        WriteFileBytes(inst.IndexFile(0), "1.0:v;0;0;0;1\r\na;51;1;0;1\r\na;53;1;0;1\r\n");
        fs::remove(inst.IndexFile(1));
        WriteFileBytes(inst.DatabasePath(), "not a database, just text long enough to be read as a header............");
        IAPI api;
        api.Initialise();
        const auto log = inst.LogMessages();
        auto after = [&](const std::string& failure) {
            for (size_t i = 0; i + 1 < log.size(); ++i)
                if (log[i].rfind(failure, 0) == 0) return log[i + 1];
            ADD_FAILURE() << "no line " << failure;
            return std::string();
        };
        const std::string male = after("FAILED to load male voice index from ");
        const std::string female = after("FAILED to load female voice index from ");
        const std::string database = after("DB Connection failed .. Assuming no smart lookup.. ");
        if (level == 6) {
            EXPECT_EQ(male, "Reason: line 3: the word \"a\" is listed twice");
            EXPECT_EQ(female, "Reason: no such file");
            EXPECT_EQ(database, "Reason: file is not a database");
        } else {
            for (const std::string& line : {male, female, database})
                EXPECT_NE(line.rfind("Reason: ", 0), 0u) << "level 5: " << line;
        }
    }
}

TEST(StartUpIndexes, MissingFemaleFileIsReportedOnlyAboveLevelZero) {
    InstallationOptions o;
    o.Registry["LogLevel"] = ravektest::RegValue::Dword(0);
    Installation inst(o);
    fs::remove(inst.BinFile(1, 1));
    IAPI api;
    api.Initialise();
    EXPECT_TRUE(api.State().VoiceReady[0]);
    EXPECT_FALSE(api.State().VoiceReady[1]);
    EXPECT_TRUE(inst.LogContains("Male index loaded from "));
    EXPECT_TRUE(inst.LogContains("male voice binary file #1 detected at "));
    EXPECT_FALSE(inst.LogContains("FAILED to detect female voice binary file at "));
    EXPECT_FALSE(inst.LogContains("Loaded "));
    EXPECT_FALSE(inst.LogContains("Going to detect Binary files...."));
}

TEST(StartUpIndexes, EnglishSystemFindsCapitalisedWordsInLowerCase) {
    InstallationOptions o;
    o.LanguageDefault = "0409";
    // English settings live in the language sub-key.
    o.ExtraRegistryText =
        "[HKEY_LOCAL_MACHINE\\Software\\RavekVoice\\EN]\r\n"
        "\"ParametersINIFileName\"=\"RavekParams.ini\"\r\n\"MaleVoiceName\"=\"Dan\"\r\n"
        "\"FemaleVoiceName\"=\"Noa\"\r\n\"MaleVoiceName1\"=\"Galev\"\r\n\"FemaleVoiceName1\"=\"Sevra\"\r\n";
    o.Male.Words = {{"HELLO", ravektest::kToneA, 1}, {"World", ravektest::kToneB, 1}};
    Installation inst(o);
    IAPI api;
    api.Initialise();
    const Dictionary& index = api.State().IndexDictionary(0);
    EXPECT_TRUE(index.Exists("hello"));
    EXPECT_TRUE(index.Exists("world"));
    EXPECT_FALSE(index.Exists("HELLO"));
    EXPECT_TRUE(api.State().VoiceReady[0]);
}
