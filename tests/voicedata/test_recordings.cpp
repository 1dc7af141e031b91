// The user and system recordings store: folder walk into word dictionaries, folder sizes, folder
// creation with its journal, and the change check that reloads a user dictionary.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

#include "AutomationError.h"
#include "EngineState.h"
#include "Installation.h"
#include "mLog.h"
#include "mRecordings.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

using ravektest::TempFolder;

void WriteFile(const std::string& path, size_t size) {
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream(path, std::ios::binary) << std::string(size, 'x');
}

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

struct Walk {
    Dictionary dict;
    int32_t files = 0;
    int32_t dirs = 0;
    std::string path;
};

Walk Enumerate(const std::string& folder, const std::string& pattern = "*.*", bool lowerCase = false, int codePage = 1255) {
    Walk w;
    w.path = folder;
    mRecordings::EnumerateFiles(w.path, pattern, w.files, w.dirs, w.dict, lowerCase, codePage);
    return w;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// EnumerateFiles

TEST(EnumerateFiles, WordIsTextBeforeFirstDotAndFirstFoundWins) {
    TempFolder t;
    WriteFile(t / "shalom.wav", 3);
    WriteFile(t / "shalom.mp3", 3);
    WriteFile(t / "good.morning.wav", 1);
    Walk w = Enumerate(t.Path().string());
    EXPECT_EQ(w.path, t.Path().string() + "/");
    EXPECT_EQ(w.files, 3);
    EXPECT_EQ(w.dirs, 0);
    ASSERT_EQ(w.dict.Count(), 2u);
    // Name order: the MP3 is listed before the WAV and keeps the word.
    EXPECT_EQ(w.dict.Item("shalom"), t.Path().string() + "/shalom.mp3");
    EXPECT_EQ(w.dict.Item("good"), t.Path().string() + "/good.morning.wav");
    EXPECT_FALSE(w.dict.Exists("good.morning"));
}

TEST(EnumerateFiles, FilesOfAFolderComeBeforeItsSubFolders) {
    TempFolder t;
    WriteFile(t / "a/deep/word.wav", 1);  // sorts before the root's own file by path
    WriteFile(t / "word.mp3", 1);
    WriteFile(t / "b/other.wav", 1);
    Walk w = Enumerate(t.Path().string() + "/");
    EXPECT_EQ(w.path, t.Path().string() + "/");
    EXPECT_EQ(w.files, 3);
    EXPECT_EQ(w.dirs, 3);  // a, a/deep, b
    EXPECT_EQ(w.dict.Item("word"), t.Path().string() + "/word.mp3");
    EXPECT_EQ(w.dict.Item("other"), t.Path().string() + "/b/other.wav");
}

TEST(EnumerateFiles, CountersAreIncreasedNotReset) {
    TempFolder t;
    WriteFile(t / "one.wav", 1);
    WriteFile(t / "sub/two.wav", 1);
    Walk w;
    w.files = 10;
    w.dirs = 5;
    w.path = t.Path().string();
    mRecordings::EnumerateFiles(w.path, "*.*", w.files, w.dirs, w.dict, false, 1255);
    EXPECT_EQ(w.files, 12);
    EXPECT_EQ(w.dirs, 6);
}

TEST(EnumerateFiles, NameWithoutDotIsSkippedAndTheRestOfTheFolderKept) {
    TempFolder t;
    WriteFile(t / "aaa", 1);  // listed first, no extension
    WriteFile(t / "bbb.wav", 1);
    WriteFile(t / "sub/ccc.wav", 1);
    WriteFile(t / ".hidden", 1);  // nothing before the dot: not a word
    Walk w = Enumerate(t.Path().string());
    EXPECT_EQ(w.files, 4);
    EXPECT_EQ(w.dirs, 1);
    EXPECT_EQ(w.dict.Keys(), (std::vector<std::string>{"bbb", "ccc"}));
}

TEST(EnumerateFiles, LowerCasesWordsOnlyWhenAsked) {
    TempFolder t;
    WriteFile(t / "Hello.WAV", 1);
    EXPECT_TRUE(Enumerate(t.Path().string(), "*.*", true, 1252).dict.Exists("hello"));
    Walk mixed = Enumerate(t.Path().string(), "*.*", false, 1252);
    EXPECT_TRUE(mixed.dict.Exists("Hello"));
    EXPECT_FALSE(mixed.dict.Exists("hello"));
}

TEST(EnumerateFiles, NamesTheCodePageCannotRepresentAreSkipped) {
    TempFolder t;
    WriteFile(t / "\xD7\xA9\xD7\x9C\xD7\x95\xD7\x9D.wav", 1);  // Hebrew "shalom": fine in 1255
    WriteFile(t / "\xE4\xB8\x96\xE7\x95\x8C.wav", 1);          // Chinese: "?" in 1255
    WriteFile(t / "?literal.wav", 1);
    WriteFile(t / "\xD0\x96ук.wav", 1);  // Cyrillic: "?" in 1255, fine in 1251
    Walk hebrew = Enumerate(t.Path().string());
    EXPECT_EQ(hebrew.files, 4);
    EXPECT_EQ(hebrew.dict.Keys(), (std::vector<std::string>{"\xD7\xA9\xD7\x9C\xD7\x95\xD7\x9D"}));
    Walk russian = Enumerate(t.Path().string(), "*.*", false, 1251);
    EXPECT_TRUE(russian.dict.Exists("\xD0\x96ук"));
    EXPECT_FALSE(russian.dict.Exists("\xD7\xA9\xD7\x9C\xD7\x95\xD7\x9D"));
}

TEST(EnumerateFiles, InvalidUtf8NamesAreSkipped) {
    TempFolder t;
    WriteFile(t / "\xFF\xFEgarbage.wav", 1);
    WriteFile(t / "\xC3(/inside.wav", 1);  // a folder with a bad name is not entered either
    WriteFile(t / "fine.wav", 1);
    Walk w = Enumerate(t.Path().string());
    EXPECT_EQ(w.dict.Keys(), std::vector<std::string>{"fine"});
    EXPECT_EQ(w.files, 1);
}

struct PatternCase {
    const char* pattern;
    std::vector<std::string> words;
};

class PatternSelectsFiles : public ::testing::TestWithParam<PatternCase> {};

TEST_P(PatternSelectsFiles, ButSubFoldersAreStillWalked) {
    TempFolder t;
    WriteFile(t / "one.wav", 1);
    WriteFile(t / "two.mp3", 1);
    WriteFile(t / "sub/three.WAV", 1);
    Walk w = Enumerate(t.Path().string(), GetParam().pattern);
    EXPECT_EQ(w.files, static_cast<int32_t>(GetParam().words.size()));
    EXPECT_EQ(w.dirs, 1);
    EXPECT_EQ(w.dict.Keys(), GetParam().words);
}

// An empty pattern lists every file, as "*" does.
INSTANTIATE_TEST_SUITE_P(Patterns, PatternSelectsFiles,
                         ::testing::Values(PatternCase{"*.wav", {"one", "three"}}, PatternCase{"", {"one", "two", "three"}},
                                           PatternCase{"*", {"one", "two", "three"}}, PatternCase{"t*", {"two", "three"}}));

TEST(EnumerateFiles, WildcardPatterns) {
    using mRecordings::MatchesPattern;
    EXPECT_TRUE(MatchesPattern("noextension", "*.*"));
    EXPECT_TRUE(MatchesPattern("a.b.c", "*.*"));
    EXPECT_TRUE(MatchesPattern("noextension", "*"));
    EXPECT_TRUE(MatchesPattern("Word.MP3", "*.mp3"));
    EXPECT_FALSE(MatchesPattern("word.mp3x", "*.mp3"));
    EXPECT_TRUE(MatchesPattern("word", "word.*"));
    EXPECT_TRUE(MatchesPattern("abc.wav", "a?c.*"));
    EXPECT_FALSE(MatchesPattern("abbc.wav", "a?c.*"));
    EXPECT_TRUE(MatchesPattern("\xD7\xA9.wav", "?.wav"));  // "?" is one character, not one byte
    EXPECT_FALSE(MatchesPattern("aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaab", "*a*a*a*a*a*a*a*a*a*a*ac"));
}

TEST(EnumerateFiles, SymlinkedFoldersAreFollowedOnceEach) {
    TempFolder t;
    WriteFile(t / "voice/word.wav", 1);
    WriteFile(t / "voice/sub/deeper.wav", 1);
    WriteFile(t / "elsewhere/far.wav", 1);
    fs::create_directory_symlink("..", t / "voice/sub/loop");
    fs::create_directory_symlink(t / "voice", t / "voice/again");
    fs::create_directory_symlink(t / "elsewhere", t / "voice/linked");
    fs::create_directory_symlink(t / "elsewhere", t / "voice/sub/twice");
    fs::create_symlink(t / "voice/word.wav", t / "voice/linked.wav");
    fs::create_symlink(t / "missing.wav", t / "voice/dangling.wav");
    Walk w = Enumerate(t / "voice");
    EXPECT_EQ(w.dirs, 5);  // again, linked, sub, and below sub loop and twice; loops are not entered
    EXPECT_EQ(w.files, 4);
    EXPECT_EQ(w.dict.Keys(), (std::vector<std::string>{"linked", "word", "far", "deeper"}));
    EXPECT_EQ(w.dict.Item("far"), (t / "voice/linked/far.wav").string());
    EXPECT_EQ(mRecordings::FolderSize((t / "voice").string()), 4);
}

TEST(EnumerateFiles, BoundedWalkStopsAndKeepsWhatItFound) {
    TempFolder t;
    for (int i = 0; i < 30; ++i) WriteFile(t / ("d" + std::to_string(i % 3) + "/w" + std::to_string(i) + ".wav"), 1);
    Walk w;
    w.path = t.Path().string();
    EXPECT_FALSE(mRecordings::EnumerateFiles(w.path, "*.*", w.files, w.dirs, w.dict, false, 1255,
                                             mRecordings::WalkBound{std::chrono::seconds(60), 15}));
    EXPECT_GT(w.dict.Count(), 0u);
    EXPECT_LT(w.dict.Count(), 15u);
    EXPECT_EQ(w.files, static_cast<int32_t>(w.dict.Count()));
    EXPECT_TRUE(mRecordings::EnumerateFiles(w.path, "*.*", w.files, w.dirs, w.dict, false, 1255, mRecordings::kClientWalkBound));
    EXPECT_EQ(w.dict.Count(), 30u);
    // The whole file system is walked no longer than the client's bound (plus the folder at hand).
    std::string root = "/";
    Walk all;
    const auto start = std::chrono::steady_clock::now();
    mRecordings::EnumerateFiles(root, "*.*", all.files, all.dirs, all.dict, false, 1255, mRecordings::kClientWalkBound);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
}

TEST(EnumerateFiles, UnreadableSubFolderIsSkipped) {
    if (::geteuid() == 0) GTEST_SKIP() << "root reads every folder";
    TempFolder t;
    WriteFile(t / "locked/hidden.wav", 1);
    WriteFile(t / "open/seen.wav", 1);
    WriteFile(t / "top.wav", 1);
    fs::permissions(t / "locked", fs::perms::none);
    Walk w = Enumerate(t.Path().string());
    EXPECT_EQ(w.dirs, 2);
    EXPECT_EQ(w.dict.Keys(), (std::vector<std::string>{"top", "seen"}));
    EXPECT_EQ(mRecordings::FolderSize(t.Path().string()), 2);
}

TEST(EnumerateFiles, MissingFolderOrEmptyPathAddsNothing) {
    TempFolder t;
    Walk w = Enumerate(t / "nowhere");
    EXPECT_EQ(w.path, (t / "nowhere/").string());
    EXPECT_EQ(w.files, 0);
    EXPECT_EQ(w.dict.Count(), 0u);
    Walk empty = Enumerate("");
    EXPECT_EQ(empty.path, "/");
    EXPECT_EQ(empty.dirs, 0);
    EXPECT_EQ(empty.dict.Count(), 0u);
}

TEST(EnumerateFiles, ManyFilesInOneFolder) {
    TempFolder t;
    // RAVEK_LARGE_FOLDER_FILES=100000 for the full-size run; creating the files dominates the time.
    const char* env = std::getenv("RAVEK_LARGE_FOLDER_FILES");
    const int kFiles = env && *env ? std::atoi(env) : 20000;
    for (int i = 0; i < kFiles; ++i) {
        std::string name = t / ("w" + std::to_string(i) + ".mp3");
        int fd = ::creat(name.c_str(), 0644);
        ASSERT_GE(fd, 0);
        ::close(fd);
    }
    auto start = std::chrono::steady_clock::now();
    Walk w = Enumerate(t.Path().string());
    auto seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_EQ(w.files, kFiles);
    EXPECT_EQ(w.dict.Count(), static_cast<size_t>(kFiles));
    EXPECT_EQ(w.dict.Item("w" + std::to_string(kFiles - 1)), (t / ("w" + std::to_string(kFiles - 1) + ".mp3")).string());
    EXPECT_LT(seconds, 20.0);
    std::cout << "enumerated " << kFiles << " files in " << seconds << " s\n";
}

// ---------------------------------------------------------------------------------------------
// Folder sizes

TEST(FolderSize, SumsFilesOfTheWholeTree) {
    TempFolder t;
    WriteFile(t / "a.wav", 100);
    WriteFile(t / "sub/b.wav", 20);
    WriteFile(t / "sub/deeper/c", 3);
    fs::create_directory_symlink(t.Path().string(), t / "sub/loop");
    EXPECT_EQ(mRecordings::FolderSize(t.Path().string()), 123);
    EXPECT_EQ(mRecordings::FolderSize(t / "missing"), 0);
    EXPECT_EQ(mRecordings::FolderSize(""), 0);
}

TEST(FolderSize, SizesBeyond32BitsAreExact) {
    TempFolder t;
    const int64_t threeGiB = int64_t{3} << 30;
    for (const char* name : {"big1.wav", "sub/big2.wav"}) {
        fs::create_directories(fs::path(t / name).parent_path());
        std::ofstream(t / name).close();
        std::error_code ec;
        fs::resize_file(t / name, static_cast<uintmax_t>(threeGiB), ec);  // sparse: no disk used
        if (ec) GTEST_SKIP() << "no sparse files here: " << ec.message();
    }
    EXPECT_EQ(mRecordings::FolderSize(t.Path().string()), 2 * threeGiB);
}

// ---------------------------------------------------------------------------------------------
// Folder creation and the journal

namespace {

struct Engine {
    TempFolder temp;
    EngineState state;
    std::string logFile;

    explicit Engine(int16_t logLevel = 99) {
        state.Settings.MyRecordsPath = temp / "MyRecords";
        state.VoiceNames = {"Dan", "Dana", "Dan1", "Dana1", ""};
        state.Settings.TimeBetweenMyFoldersCheck = 60;
        state.LanguageClass = 1;
        state.AnsiCodePage = 1255;
        logFile = temp / "Tolvin_Log.log";
        state.Log.LogInit(logFile, logLevel);
    }
    std::string Folder(int slot) const { return mRecordings::VoiceFolder(state, slot); }
    std::string Journal() const { return ReadAll(state.Settings.MyRecordsPath + "/Ravek Log.txt"); }
    std::string Log() const { return ReadAll(logFile); }
    // Builds both voice folders and loads them as start-up does.
    void Load() {
        mRecordings::EnsureMyRecordsRoot(state);
        mRecordings::EnsureVoiceFolder(state, 0);
        mRecordings::EnsureVoiceFolder(state, 1);
        for (int slot = 0; slot < 2; ++slot) {
            state.MyRecordsSizeCache[slot] = mRecordings::FolderSize(Folder(slot));
            state.UserDictionaries[slot] = std::make_shared<Dictionary>();
            int32_t files = 0, dirs = 0;
            std::string path = Folder(slot);
            mRecordings::EnumerateFiles(path, "*.*", files, dirs, *state.UserDictionaries[slot], false, 1255);
        }
    }
};

const std::string kStamp = R"(\d\d/\d\d/\d{4} \d\d:\d\d:\d\d\r\n)";

}  // namespace

TEST(RecordingsFolders, MissingRootIsCreatedWithBothVoicesAndOneJournalLine) {
    Engine e;
    mRecordings::EnsureMyRecordsRoot(e.state);
    mRecordings::EnsureVoiceFolder(e.state, 0);
    mRecordings::EnsureVoiceFolder(e.state, 1);
    EXPECT_TRUE(fs::is_directory(e.temp / "MyRecords/Dan"));
    EXPECT_TRUE(fs::is_directory(e.temp / "MyRecords/Dana"));
    EXPECT_TRUE(std::regex_match(e.Journal(), std::regex("MyRecords folder created by Engine: " + kStamp)))
        << e.Journal();
}

TEST(RecordingsFolders, MissingVoiceFolderIsCreatedAndJournalAppended) {
    Engine e;
    e.state.VoiceNames[1] = "\xD7\x93\xD7\xA0\xD7\x94";  // Hebrew name: the journal is in 1255
    fs::create_directories(e.temp / "MyRecords/Dan");
    std::ofstream(e.temp / "MyRecords/Ravek Log.txt", std::ios::binary) << "earlier line\r\n";
    mRecordings::EnsureMyRecordsRoot(e.state);
    mRecordings::EnsureVoiceFolder(e.state, 0);
    mRecordings::EnsureVoiceFolder(e.state, 1);
    EXPECT_TRUE(fs::is_directory(e.Folder(1)));
    EXPECT_TRUE(std::regex_match(e.Journal(), std::regex("earlier line\r\n\xE3\xF0\xE4 folder created by Engine: " + kStamp)))
        << e.Journal();
}

TEST(RecordingsFolders, CreationFailureNamesTheFolder) {
    Engine e;
    WriteFile(e.temp / "plainfile", 1);
    e.state.Settings.MyRecordsPath = e.temp / "plainfile/MyRecords";
    try {
        mRecordings::EnsureMyRecordsRoot(e.state);
        FAIL() << "no error";
    } catch (const AutomationError& err) {
        EXPECT_NE(err.Description().find(e.temp / "plainfile/MyRecords"), std::string::npos) << err.Description();
    }
    e.state.Settings.MyRecordsPath = "";
    EXPECT_THROW(mRecordings::EnsureMyRecordsRoot(e.state), AutomationError);
}

// ---------------------------------------------------------------------------------------------
// The change check at the start of a request

TEST(ChangeCheck, RunsOnlyAfterMoreThanTheQuietTime) {
    Engine e;
    e.Load();
    const Dictionary* before = e.state.UserDictionaries[0].get();
    WriteFile(e.Folder(0) + "/added.wav", 5);
    auto now = std::chrono::system_clock::now();

    e.state.LastFolderCheck = now - 30s;
    mRecordings::RefreshIfChanged(e.state, now);
    EXPECT_FALSE(e.state.UserDictionaries[0]->Exists("added"));
    EXPECT_EQ(e.state.LastFolderCheck, now);

    e.state.LastFolderCheck = now - 60s;  // not strictly more than 60 s
    mRecordings::RefreshIfChanged(e.state, now);
    EXPECT_FALSE(e.state.UserDictionaries[0]->Exists("added"));

    e.state.LastFolderCheck = now - 61s;
    mRecordings::RefreshIfChanged(e.state, now + 100ms);
    EXPECT_TRUE(e.state.UserDictionaries[0]->Exists("added"));
    EXPECT_EQ(e.state.UserDictionaries[0].get(), before);  // same object, refilled
    EXPECT_EQ(e.state.MyRecordsSizeCache[0], 5);
    EXPECT_EQ(e.state.LastFolderCheck, now + 100ms);
}

TEST(ChangeCheck, SameSizeReplacementIsNotNoticed) {
    Engine e;
    WriteFile(e.temp / "MyRecords/Dan/old.wav", 10);
    e.Load();
    fs::rename(e.Folder(0) + "/old.wav", e.Folder(0) + "/new.wav");
    auto now = std::chrono::system_clock::now();
    e.state.LastFolderCheck = now - 120s;
    mRecordings::RefreshIfChanged(e.state, now);
    EXPECT_TRUE(e.state.UserDictionaries[0]->Exists("old"));
    EXPECT_FALSE(e.state.UserDictionaries[0]->Exists("new"));
    // A later change of size picks up both.
    WriteFile(e.Folder(0) + "/more.wav", 1);
    e.state.LastFolderCheck = now - 120s;
    mRecordings::RefreshIfChanged(e.state, now);
    EXPECT_EQ(e.state.UserDictionaries[0]->Keys(), (std::vector<std::string>{"more", "new"}));
}

TEST(ChangeCheck, RemovedVoiceFolderKeepsCacheAndWords) {
    Engine e;
    WriteFile(e.temp / "MyRecords/Dana/word.wav", 7);
    e.Load();
    fs::remove_all(e.Folder(1));
    bool male = false, female = false;
    mRecordings::CheckMyRecordsChanges(e.state, male, female);
    EXPECT_FALSE(male);
    EXPECT_FALSE(female);
    EXPECT_EQ(e.state.MyRecordsSizeCache[1], 7);
    EXPECT_TRUE(e.state.UserDictionaries[1]->Exists("word"));
}

TEST(ChangeCheck, LogLinesOfACheckWithAChange) {
    Engine e;
    WriteFile(e.temp / "MyRecords/Dan/a.wav", 10);
    e.Load();
    WriteFile(e.Folder(0) + "/b.wav", 5);
    e.state.LastFolderCheck = std::chrono::system_clock::now() - 1h;
    mRecordings::RefreshIfChanged(e.state);
    std::string log = e.Log();
    const std::string prefix = "Ravek Debug Message ";
    for (const std::string& line :
         {prefix + "Looking for changes in the Myrecords folders in ", prefix + "CHECKING FOR FOLDER CHANGES in ",
          prefix + "Male Folder : cached size 10 RT size 15 at ", prefix + "Female Folder : cached size 0 RT size 0 at ",
          prefix + "Changes found for male Voice TRUE  Changes found for Female Voice FALSE at ",
          prefix + "Going to reload Male MyRecords size in ",
          prefix + "Male user Dictionary RELOADED from " + e.Folder(0) + ": totally 2 Files :"})
        EXPECT_NE(log.find(line), std::string::npos) << "missing: " << line << "\nlog:\n" << log;
    EXPECT_EQ(log.find("No Changes detected"), std::string::npos);
    EXPECT_EQ(log.find("female"), std::string::npos);
}

TEST(ChangeCheck, LogLinesWithoutChangeAndQuietBelowLevel6) {
    {
        Engine e;
        e.Load();
        WriteFile(e.Folder(1) + "/x.wav", 1);
        e.state.LastFolderCheck = {};
        bool male = false, female = false;
        mRecordings::CheckMyRecordsChanges(e.state, male, female);
        EXPECT_TRUE(female);
        male = female = false;
        mRecordings::CheckMyRecordsChanges(e.state, male, female);
        EXPECT_FALSE(female);
        EXPECT_NE(e.Log().find("No Changes detected in the MyRecords "), std::string::npos);
    }
    {
        Engine e(5);
        e.Load();
        WriteFile(e.Folder(1) + "/x.wav", 1);
        e.state.LastFolderCheck = {};
        mRecordings::RefreshIfChanged(e.state);
        EXPECT_TRUE(e.state.UserDictionaries[1]->Exists("x"));
        EXPECT_EQ(e.Log(), "");
    }
}
