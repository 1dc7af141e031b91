// The voice producer: what it writes, that the engine reads it back exactly, and what it refuses.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <string>

#include "AnsiText.h"
#include "Dictionary.h"
#include "Installation.h"
#include "PointedWord.h"
#include "VoicePack.h"
#include "mIndexFiles.h"

namespace fs = std::filesystem;
using ravektest::Clip;
using ravektest::ReadFileBytes;
using ravektest::TempFolder;
using ravektest::WriteFileBytes;

namespace {

VoicePack::Options Voice(const fs::path& out, std::vector<std::pair<std::string, std::string>> words,
                         VoicePack::Sex sex = VoicePack::Sex::Male) {
    VoicePack::Options o;
    o.Voice = sex == VoicePack::Sex::Male ? "Galev" : "Sevra";
    o.VoiceSex = sex;
    o.DataVersion = "2.0:pack";
    o.OutDir = out;
    int line = 0;
    for (auto& [word, clip] : words) o.Words.push_back({word, Clip(clip), 1, "line " + std::to_string(++line)});
    return o;
}

// Rows of a query, each row's columns joined by "|".
std::vector<std::string> Rows(const fs::path& db, const std::string& sql) {
    sqlite3* raw = nullptr;
    EXPECT_EQ(sqlite3_open_v2(db.c_str(), &raw, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
    std::unique_ptr<sqlite3, int (*)(sqlite3*)> handle(raw, sqlite3_close);
    std::vector<std::string> rows;
    auto collect = [](void* out, int n, char** values, char**) {
        std::string row;
        for (int i = 0; i < n; ++i) row += (i ? "|" : "") + std::string(values[i] ? values[i] : "NULL");
        static_cast<std::vector<std::string>*>(out)->push_back(row);
        return 0;
    };
    EXPECT_EQ(sqlite3_exec(handle.get(), sql.c_str(), collect, &rows, nullptr), SQLITE_OK) << sql;
    return rows;
}

std::map<std::string, std::string> FolderSnapshot(const fs::path& folder) {
    std::map<std::string, std::string> files;
    for (const auto& e : fs::directory_iterator(folder)) files[e.path().filename().string()] = ReadFileBytes(e.path());
    return files;
}

void ExpectRefused(const VoicePack::Options& o, const std::string& mustSay) {
    try {
        VoicePack::Pack(o);
        ADD_FAILURE() << "packed although: " << mustSay;
    } catch (const VoicePack::PackError& e) {
        EXPECT_NE(std::string(e.what()).find(mustSay), std::string::npos) << e.what();
    }
}

const std::vector<std::pair<std::string, std::string>> kWords = {
    {"שָׁלוֹם", ravektest::kToneA}, {"שלום", ravektest::kToneB},     {"בַּיִת", ravektest::kToneC},
    {"סֵפֶר", ravektest::kToneD},   {"בוקר טוב", ravektest::kToneE}, {"ילד", ravektest::kToneF},
    {"עוֹלָם", ravektest::kToneG},  {"ספר", ravektest::kToneH}};

}  // namespace

TEST(VoicePackRoundTrip, EveryClipComesBackByteForByte) {
    TempFolder out;
    VoicePack::Options o = Voice(out.Path(), kWords);
    o.MaxBinSize = 7000;
    VoicePack::Result r = VoicePack::Pack(o);
    EXPECT_GT(r.BinFileCount, 2);

    Dictionary index;
    int32_t fileCount = 0;
    ASSERT_EQ(mIndexFiles::LoadIndex(r.IndexFile.string(), index, fileCount, false, 1255), 0);
    EXPECT_EQ(fileCount, r.BinFileCount);
    EXPECT_EQ(index.Count(), kWords.size() + 1);
    for (const auto& [word, clip] : kWords) {
        ASSERT_TRUE(index.Exists(word)) << word;
        int64_t position = 0, length = 0;
        int32_t file = 0;
        ASSERT_EQ(std::sscanf(index.Item(word).c_str(), "%ld;%ld;%d", &position, &length, &file), 3);
        fs::path extracted = out / "clip.mp3";
        fs::path bin = out / ("Ravek-Dict__Galev_" + std::to_string(file) + ".bin");
        mIndexFiles::ExtractClip(bin.string(), position, length, extracted.string());
        EXPECT_EQ(ReadFileBytes(extracted), ReadFileBytes(Clip(clip))) << word;
    }
}

TEST(VoicePackFormat, HeadersIndexAndSizesFollowTheFileFormat) {
    TempFolder out;
    VoicePack::Options o = Voice(out.Path(), kWords);
    o.MaxBinSize = 7000;
    VoicePack::Result r = VoicePack::Pack(o);
    for (int32_t n = 1; n <= r.BinFileCount; ++n) {
        std::string bin = ReadFileBytes(out / ("Ravek-Dict__Galev_" + std::to_string(n) + ".bin"));
        EXPECT_LE(bin.size(), 7000u);
        std::string header = n < r.BinFileCount ? std::to_string(n) + ":C" : "2.0:pack";
        header.resize(50, ' ');
        EXPECT_EQ(bin.substr(0, 50), header) << n;
        EXPECT_EQ(bin.substr(50, 2), "\xFF\xF3") << "a clip starts right after the header";
    }
    std::string text = ReadFileBytes(r.IndexFile);
    EXPECT_EQ(text.substr(0, text.find("\r\n") + 2), "2.0:pack;0;0;0;" + std::to_string(r.BinFileCount) + "\r\n");
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\n') {
            ASSERT_TRUE(i > 0 && text[i - 1] == '\r') << "line ends are CR LF";
        }
    }
    // Windows-1255, not UTF-8.
    EXPECT_NE(text.find(AnsiText::CodecFor(1255).ToAnsi("שָׁלוֹם;51;")), std::string::npos);
    EXPECT_FALSE(AnsiText::IsValidUtf8(text));
}

TEST(VoicePackDatabase, LookupRowsVersionAndPrefixes) {
    TempFolder out;
    VoicePack::Options o = Voice(out.Path(), {{"שָׁלוֹם", ravektest::kToneA}, {"ספר", ravektest::kToneB}});
    o.Words[0].TieBreak = 4;
    o.Prefixes = std::vector<VoicePack::PrefixEntry>{{"וְ", "ve.mp3", 2, ""}, {"הַ", "ha.mp3", 1, ""}};
    VoicePack::Result r = VoicePack::Pack(o);
    std::string stored = PointedWords::SerialisePointedWord(PointedWords::ParsePointedWord("שָׁלוֹם"));
    EXPECT_EQ(Rows(r.Database, "SELECT * FROM RavekLookup_Male ORDER BY rowid"),
              (std::vector<std::string>{"שלום|" + stored + "|4", "ספר|ספר|ספר|False|0,0,0,0*0,0,0,0*0,0,0,0|1"}));
    EXPECT_TRUE(Rows(r.Database, "SELECT * FROM RavekLookup_Female").empty());
    EXPECT_EQ(Rows(r.Database, "SELECT Prefix, FileName, Priority FROM Ravek_Prefixes ORDER BY Priority"),
              (std::vector<std::string>{"הַ|ha.mp3|1", "וְ|ve.mp3|2"}));
    EXPECT_EQ(Rows(r.Database, "SELECT Voice, Version, ID FROM VersionInfo"), std::vector<std::string>{"Galev|2.0:pack|1"});
    EXPECT_EQ(Rows(r.Database, "SELECT typeof(TieBreak) FROM RavekLookup_Male LIMIT 1"), std::vector<std::string>{"integer"});
    EXPECT_EQ(Rows(r.Database, "SELECT count(*) FROM sqlite_master WHERE type = 'index' AND sql LIKE '%NakedWord%'"),
              std::vector<std::string>{"2"});
}

TEST(VoicePackDatabase, SecondVoiceJoinsAndRepackReplaces) {
    TempFolder out;
    VoicePack::Options male = Voice(out.Path(), {{"ספר", ravektest::kToneA}, {"בית", ravektest::kToneB}});
    male.Prefixes = std::vector<VoicePack::PrefixEntry>{{"ו", "ve.mp3", 1, ""}};
    male.MaxBinSize = 3000;
    VoicePack::Pack(male);
    ASSERT_TRUE(fs::exists(out / "Ravek-Dict__Galev_2.bin"));
    VoicePack::Options female = Voice(out.Path(), {{"ילד", ravektest::kToneC}}, VoicePack::Sex::Female);
    female.DataVersion = "3.0:f";
    VoicePack::Pack(female);
    fs::path db = out / "Ravek.db";
    EXPECT_EQ(Rows(db, "SELECT count(*) FROM RavekLookup_Male"), std::vector<std::string>{"2"});
    EXPECT_EQ(Rows(db, "SELECT NakedWord FROM RavekLookup_Female"), std::vector<std::string>{"ילד"});
    EXPECT_EQ(Rows(db, "SELECT Prefix FROM Ravek_Prefixes"), std::vector<std::string>{"ו"});  // kept
    EXPECT_EQ(Rows(db, "SELECT Voice, Version FROM VersionInfo ORDER BY ID"),
              (std::vector<std::string>{"Galev|2.0:pack", "Sevra|3.0:f"}));

    male.Words.pop_back();
    male.DataVersion = "2.1:pack";
    VoicePack::Result again = VoicePack::Pack(male);
    EXPECT_EQ(again.BinFileCount, 1);
    EXPECT_FALSE(fs::exists(out / "Ravek-Dict__Galev_2.bin"));  // the old second file is gone
    EXPECT_EQ(Rows(db, "SELECT NakedWord FROM RavekLookup_Male"), std::vector<std::string>{"ספר"});
    EXPECT_EQ(Rows(db, "SELECT Voice, Version FROM VersionInfo ORDER BY ID"),
              (std::vector<std::string>{"Galev|2.1:pack", "Sevra|3.0:f"}));
    EXPECT_EQ(ReadFileBytes(out / "Ravek-Dict__Galev_1.bin").substr(0, 8), "2.1:pack");
}

TEST(VoicePackRefusals, BadInputIsRefusedNamingTheLineAndNothingChanges) {
    TempFolder out;
    VoicePack::Pack(Voice(out.Path(), {{"ספר", ravektest::kToneA}}));
    const auto before = FolderSnapshot(out.Path());

    VoicePack::Options noColon = Voice(out.Path(), {{"ספר", ravektest::kToneB}});
    noColon.DataVersion = "2.0";
    ExpectRefused(noColon, "must contain \":\"");
    ExpectRefused(Voice(out.Path(), {{"ספר", ravektest::kToneA}, {"日本", ravektest::kToneB}}), "line 2: word \"日本\" cannot be written");
    ExpectRefused(Voice(out.Path(), {{"ספר", ravektest::kToneA}, {"בית", ravektest::kToneB}, {"ספר", ravektest::kToneC}}),
                  "line 3: duplicate word \"ספר\"");
    ExpectRefused(Voice(out.Path(), {{"2.0:pack", ravektest::kToneA}}), "line 1: word \"2.0:pack\" equals the data version");
    ExpectRefused(Voice(out.Path(), {{"ספר", "/nonexistent/clip.mp3"}}), "line 1: clip /nonexistent/clip.mp3 is missing");
    ExpectRefused(Voice(out.Path(), {{"ספר", ravektest::kToneWav}}), "is not an MP3 file");
    ExpectRefused(Voice(out.Path(), {{"a;b", ravektest::kToneA}}), "line 1: word \"a;b\" contains a forbidden character");
    ExpectRefused(Voice(out.Path(), {{"a|b", ravektest::kToneA}}), "forbidden character");
    VoicePack::Options tiny = Voice(out.Path(), {{"ספר", ravektest::kToneF}});
    tiny.MaxBinSize = 1000;
    ExpectRefused(tiny, "does not fit in a binary file of 1000 bytes");
    VoicePack::Options dupPrefix = Voice(out.Path(), {{"ספר", ravektest::kToneA}});
    dupPrefix.Prefixes = std::vector<VoicePack::PrefixEntry>{{"ו", "a", 1, "p.txt line 1"}, {"ו", "b", 2, "p.txt line 2"}};
    ExpectRefused(dupPrefix, "p.txt line 2: duplicate prefix");

    EXPECT_EQ(FolderSnapshot(out.Path()), before);
}

TEST(VoicePackRefusals, DamagedExistingDatabaseIsRefusedAndKept) {
    TempFolder out;
    WriteFileBytes(out / "Ravek.db", "this is not a database");
    ExpectRefused(Voice(out.Path(), {{"ספר", ravektest::kToneA}}), "Ravek.db");
    EXPECT_EQ(ReadFileBytes(out / "Ravek.db"), "this is not a database");
    EXPECT_EQ(FolderSnapshot(out.Path()).size(), 1u);  // no temporary files left behind
}

TEST(VoicePackFiles, WordsAndPrefixesFilesAreRead) {
    TempFolder folder;
    fs::copy_file(Clip(ravektest::kToneA), folder / "a.mp3");
    WriteFileBytes(folder / "words.txt", "\xEF\xBB\xBFשָׁלוֹם\ta.mp3\t3\r\n\r\nבוקר טוב\t" + Clip(ravektest::kToneB).string() + "\n");
    auto words = VoicePack::ReadWordsFile(folder / "words.txt");
    ASSERT_EQ(words.size(), 2u);
    EXPECT_EQ(words[0].Word, "שָׁלוֹם");
    EXPECT_EQ(words[0].Clip, folder / "a.mp3");
    EXPECT_EQ(words[0].TieBreak, 3);
    EXPECT_EQ(words[1].Word, "בוקר טוב");
    EXPECT_EQ(words[1].TieBreak, 1);
    EXPECT_EQ(words[1].Origin, "words.txt line 3");

    WriteFileBytes(folder / "bad.txt", "ספר\ta.mp3\n\nבית\ta.mp3\tfirst\n");
    try {
        VoicePack::ReadWordsFile(folder / "bad.txt");
        ADD_FAILURE();
    } catch (const VoicePack::PackError& e) {
        EXPECT_NE(std::string(e.what()).find("bad.txt line 3: tie-break \"first\""), std::string::npos) << e.what();
    }
    WriteFileBytes(folder / "short.txt", "ספר\n");
    EXPECT_THROW(VoicePack::ReadWordsFile(folder / "short.txt"), VoicePack::PackError);

    WriteFileBytes(folder / "prefixes.txt", "וְ\tve.mp3\t1\nהַ\tha.mp3\t2\r\n");
    auto prefixes = VoicePack::ReadPrefixesFile(folder / "prefixes.txt");
    ASSERT_EQ(prefixes.size(), 2u);
    EXPECT_EQ(prefixes[1].Prefix, "הַ");
    EXPECT_EQ(prefixes[1].Priority, 2);
    WriteFileBytes(folder / "badprefix.txt", "וְ\tve.mp3\n");
    EXPECT_THROW(VoicePack::ReadPrefixesFile(folder / "badprefix.txt"), VoicePack::PackError);
}

TEST(VoicePackFiles, Mp3DetectionAcceptsId3AndFrameSync) {
    EXPECT_TRUE(VoicePack::LooksLikeMp3("ID3\x04"));
    EXPECT_TRUE(VoicePack::LooksLikeMp3("\xFF\xFB\x90\x00"));
    EXPECT_TRUE(VoicePack::LooksLikeMp3("\xFF\xE3"));
    EXPECT_FALSE(VoicePack::LooksLikeMp3("RIFF"));
    EXPECT_FALSE(VoicePack::LooksLikeMp3("\xFF\x1F"));
    EXPECT_FALSE(VoicePack::LooksLikeMp3(""));
}

TEST(VoicePackProgram, RunsFromTheCommandLine) {
    fs::path program = fs::path(RAVEK_BUILD_DIR) / "bin" / "ravek-voicepack";
    if (!fs::exists(program)) GTEST_SKIP() << "ravek-voicepack is not built";
    TempFolder folder;
    WriteFileBytes(folder / "words.txt", "ספר\t" + Clip(ravektest::kToneA).string() + "\nספר\t" +
                                             Clip(ravektest::kToneB).string() + "\n");
    auto run = [&](const std::string& args, std::string& output) {
        std::string command = program.string() + " " + args + " 2>&1";
        std::unique_ptr<FILE, int (*)(FILE*)> pipe(::popen(command.c_str(), "r"), ::pclose);
        char buffer[512];
        output.clear();
        while (size_t n = std::fread(buffer, 1, sizeof buffer, pipe.get())) output.append(buffer, n);
        int status = ::pclose(pipe.release());
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    };
    std::string output;
    EXPECT_EQ(run("--help", output), 0);
    EXPECT_NE(output.find("--max-bin-size"), std::string::npos);
    std::string common = "--voice Galev --sex male --data-version 1.0:x --out " + (folder / "out").string() + " --words ";
    EXPECT_EQ(run(common + (folder / "words.txt").string(), output), 1);
    EXPECT_NE(output.find("words.txt line 2: duplicate word"), std::string::npos) << output;
    EXPECT_EQ(run("--voice Galev --sex other", output), 2);
    WriteFileBytes(folder / "words.txt", "ספר\t" + Clip(ravektest::kToneA).string() + "\n");
    EXPECT_EQ(run(common + (folder / "words.txt").string(), output), 0) << output;
    EXPECT_TRUE(fs::exists(folder / "out" / "Ravek-Index__Galev.txt"));
}

// ---- refusals of the command line: exit 1 with a clear message, the existing voice untouched ----

struct ProgramRefusal {
    const char* name;
    std::string words;     // words file text ("{clip}" a clip's path); "<folder>" makes --words a folder
    std::string prefixes;  // prefixes file text, "" for none
    std::string mustSay;
    std::string extraArgs;
};

class VoicePackProgramRefuses : public ::testing::TestWithParam<ProgramRefusal> {};

TEST_P(VoicePackProgramRefuses, ExitsOneAndLeavesTheVoiceAsItWas) {
    const ProgramRefusal& c = GetParam();
    const fs::path program = fs::path(RAVEK_BUILD_DIR) / "bin" / "ravek-voicepack";
    if (!fs::exists(program)) GTEST_SKIP() << "ravek-voicepack is not built";
    TempFolder folder;
    VoicePack::Pack(Voice(folder / "out", {{"ספר", ravektest::kToneA}}));
    const auto before = FolderSnapshot(folder / "out");
    std::string words = c.words;
    if (auto at = words.find("{clip}"); at != std::string::npos) words.replace(at, 6, Clip(ravektest::kToneB).string());
    if (c.words == "<folder>") fs::create_directory(folder / "words");
    else WriteFileBytes(folder / "words", words);
    WriteFileBytes(folder / "prefixes", c.prefixes);
    const std::string command = program.string() + " --voice Galev --sex male --data-version 3.0:x --out " + (folder / "out").string() +
                                " --words " + (folder / "words").string() + " " + c.extraArgs +
                                (c.prefixes.empty() ? "" : " --prefixes " + (folder / "prefixes").string()) + " 2>&1";
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(::popen(command.c_str(), "r"), ::pclose);
    std::string output(4096, '\0');
    output.resize(std::fread(output.data(), 1, output.size(), pipe.get()));
    const int status = ::pclose(pipe.release());
    EXPECT_EQ(WIFEXITED(status) ? WEXITSTATUS(status) : -1, 1) << output;
    EXPECT_NE(output.find(c.mustSay), std::string::npos) << output;
    EXPECT_EQ(FolderSnapshot(folder / "out"), before);
}

INSTANTIATE_TEST_SUITE_P(
    Input, VoicePackProgramRefuses,
    ::testing::Values(ProgramRefusal{"WordsFolder", "<folder>", "", "is not a regular file", ""},
                      ProgramRefusal{"EmptyWordsFile", "", "", "holds no words", ""},
                      ProgramRefusal{"BlankWordsFile", "\r\n \r\n", "", "holds no words", ""},
                      ProgramRefusal{"TieBreakAbove32Bits", "ספר\t{clip}\t2147483648\n", "", "line 1: tie-break 2147483648 is outside", ""},
                      ProgramRefusal{"TieBreakBelow32Bits", "ספר\t{clip}\t-2147483649\n", "", "is outside the 32-bit range", ""},
                      ProgramRefusal{"LeadingBlank", " ספר\t{clip}\n", "", "word \" ספר\" has blanks before or after it", ""},
                      ProgramRefusal{"TrailingBlank", "ספר \t{clip}\n", "", "has blanks before or after it", ""},
                      ProgramRefusal{"PrefixFileInAFolder", "ספר\t{clip}\n", "ו\tsub/ve.mp3\t1\n", "prefix file name \"sub/ve.mp3\" is a path", ""},
                      ProgramRefusal{"PrefixFileLeavingTheFolder", "ספר\t{clip}\n", "ו\t..\t1\n", "is a path", ""},
                      ProgramRefusal{"PrefixFileWithBackslash", "ספר\t{clip}\n", "ו\ta\\b.mp3\t1\n", "is a path", ""},
                      ProgramRefusal{"MaxBinSizeAbove31Bits", "ספר\t{clip}\n", "", "is above 2147483647", "--max-bin-size 2147483648"}),
    [](const ::testing::TestParamInfo<ProgramRefusal>& info) { return std::string(info.param.name); });
