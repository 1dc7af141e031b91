// Producing the files of an utterance, the missing-word policy, and the Speak request around them.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <regex>
#include <tuple>

#include "mWorkingFolder.h"
#include "PipelineFixture.h"

using namespace ravektest;
namespace fs = std::filesystem;

namespace {

class UtteranceTest : public PipelineTest {
protected:
    static InstallationOptions With(const std::string& name, const std::string& value) {
        InstallationOptions o;
        o.Registry[name] = RegValue::String(value);
        return o;
    }
    static InstallationOptions Policy(const std::string& policy) {
        InstallationOptions o;
        o.Ini["General"]["MissingWordPolicy"] = policy;
        return o;
    }
    // Speaks and hands back the utterance. A speech still playing from an earlier call is stopped
    // first, so the files of the utterance stay in place for the test to read.
    std::vector<SpeechItem> Speak(const std::string& text, int voice = 3) {
        if (!State().IsIdle) api->StopSpeak();
        events.Seen.clear();
        api->SelectVoice(voice);
        api->Speak(text);
        return State().Utterance;
    }
    std::string Bytes(const std::string& file) { return ReadFileBytes(file); }
};

TEST_F(UtteranceTest, DictionaryWordsPlayFromTheWorkingFolderUserRecordingsFromTheirPlace) {
    Start();
    api->SelectVoice(3);
    api->Speak("שלום תודה");
    const std::string work = State().CurrentDumpFolder;
    // The hand-off announces the first word as it starts playing it.
    EXPECT_EQ(events.Seen, (std::vector<std::string>{"SpeechStart", "WordStart 1"}));
    EXPECT_TRUE(std::regex_match(work, std::regex(tmp.string() + "/ravek[0-9a-f]{5}/"))) << work;
    struct stat info {};
    ASSERT_EQ(::lstat(work.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);
    const auto& items = State().Utterance;
    ASSERT_EQ(items.size(), 3u);
    EXPECT_EQ(items[0], Item(Word, "שלום", 1, true, work + "שלום.mp3", FromDictionary));
    EXPECT_EQ(Bytes(items[0].File), Bytes(Clip(kToneA)));
    EXPECT_EQ(items[2], Item(Word, "תודה", 6, true, UserFile(0, "תודה.mp3"), FromUserRecordings));
    EXPECT_TRUE(inst->LogContains("Speak request arrived at "));
    EXPECT_TRUE(inst->LogContains("Processing before Speach is done in "));
}

TEST_F(UtteranceTest, ARepeatedDictionaryWordSharesOneFileHoldingItsClip) {
    Start();
    const auto items = Speak("שלום שלום. שלום");
    const std::string work = State().CurrentDumpFolder;
    std::vector<std::string> files;
    for (const SpeechItem& item : items)
        if (item.Source == FromDictionary) files.push_back(item.File);
    ASSERT_EQ(files, std::vector<std::string>(3, work + "שלום.mp3"));
    EXPECT_EQ(Bytes(files[0]), Bytes(Clip(kToneA)));
    EXPECT_EQ(std::distance(fs::directory_iterator(work), fs::directory_iterator()), 2);  // the clip and the lock file
}

TEST_F(UtteranceTest, AvoidShortNamesPlaysNumberedCopiesInListOrder) {
    Start(With("AvoidShortNames", "1"));
    auto items = Speak("שלום תודה בוקר אבג");
    const std::string work = State().CurrentDumpFolder;
    EXPECT_LE(fs::path(work).parent_path().filename().string().size(), 8u);
    std::vector<std::string> files;
    for (const auto& item : items)
        if (!item.File.empty()) files.push_back(item.File);
    EXPECT_EQ(files, (std::vector<std::string>{work + "f1.mp3", work + "f2.mp3", work + "f3.wav", work + "f4.wav"}));
    EXPECT_EQ(Bytes(work + "f2.mp3"), Bytes(Clip(kToneH)));
    EXPECT_EQ(Bytes(work + "f4.wav"), Bytes(Clip(kSignalWav)));
}

TEST_F(UtteranceTest, ConversionMakesWaveFilesOfEveryMp3) {
    InstallationOptions o = With("ConvertMP32WAV", "1");
    o.MaleRecordings["גדול.MP3"] = kToneB;
    o.MaleRecordings["x.wav/קטן.mp3"] = kToneC;
    Start(o);
    api->SelectVoice(3);
    api->Speak("שלום תודה גדול קטן בוקר");
    const std::string work = State().CurrentDumpFolder;
    std::vector<std::string> files;
    for (const auto& item : State().Utterance)
        if (item.Kind == Word) files.push_back(item.File);
    EXPECT_EQ(files, (std::vector<std::string>{work + "שלום.wav", work + "תודה.wav", work + "גדול.wav",
                                               UserFile(0, "x.wav/קטן.mp3"), UserFile(0, "בוקר.wav")}));
    for (const std::string name : {"שלום.wav", "תודה.wav", "גדול.wav"})
        EXPECT_EQ(Bytes(work + name).substr(0, 4), "RIFF") << name;
}

TEST_F(UtteranceTest, SpellPolicyAnnouncesAndSpellsLetterByLetter) {
    Start(Policy("  SpElL  "));
    EXPECT_EQ(Speak("x אָבּג", 1),
              (std::vector<SpeechItem>{Item(Sound, "איות", 1), Item(Letter, "x", 1), Item(WordBreak, " ", 2),
                                       Item(Sound, "איות", 3), Item(Letter, "א", 3), Item(Letter, "ב", 4),
                                       Item(Letter, "ג", 5)}));
    State().LanguageClass = 3;
    auto items = Speak("AB", 1);
    ASSERT_EQ(items.size(), 3u);
    EXPECT_EQ(items[1].Text, "a");
    EXPECT_EQ(items[2].Text, "b");
}

TEST_F(UtteranceTest, SpelledLettersGetNumberedCopiesWhenShortNamesAreAvoided) {
    InstallationOptions o = Policy("spell");
    o.Registry["AvoidShortNames"] = RegValue::String("1");
    Start(o);
    auto items = Speak("אב", 1);
    const std::string work = State().CurrentDumpFolder;
    ASSERT_EQ(items.size(), 3u);
    EXPECT_EQ(items[0], Item(Sound, "איות", 1, false, work + "f1.wav"));
    EXPECT_EQ(items[2], Item(Letter, "ב", 2, false, work + "f3.wav"));
    EXPECT_EQ(Bytes(work + "f3.wav"), Bytes(SystemFile(0, "ב.mp3")));
}

TEST_F(UtteranceTest, MissingOrEmptyPolicyBeepsOthersAreSilent) {
    InstallationOptions o;
    o.Ini["General"].erase("MissingWordPolicy");
    Start(o);
    EXPECT_EQ(Speak("אבג", 1), std::vector<SpeechItem>{Item(Sound, "signal", 1)});
    for (const char* policy : {"  ", "SAPI5", "whisper"}) {
        inst->Options().Ini["General"]["MissingWordPolicy"] = policy;
        inst->Write();
        fs::create_directories(tmp);
        api.emplace();
        api->SetEventSink(&events);
        api->Initialise();
        const bool beeps = std::string(policy) == "  ";
        EXPECT_EQ(Speak("אבג", 1).size(), beeps ? 1u : 0u) << "policy \"" << policy << "\"";
    }
}

TEST_F(UtteranceTest, NothingToPlayEndsTheSpeechAtOnce) {
    Start(Policy("sapi5"));
    for (const char* text : {".. ,!", "אבג"}) {
        events.Seen.clear();
        api->SelectVoice(1);
        EXPECT_EQ(api->Speak(text), 0);
        EXPECT_EQ(events.Seen, (std::vector<std::string>{"SpeechStart", "Speechend"})) << text;
        EXPECT_TRUE(State().IsIdle);
        EXPECT_FALSE(fs::exists(State().CurrentDumpFolder));
    }
}

// Short names: an item whose recording does not exist is skipped and logged, the rest is spoken;
// with all 4,096 names taken in a shared temporary folder the per-user folder below it is used.
TEST_F(UtteranceTest, ShortNamesSkipMissingRecordingsAndRunOutIntoThePerUserFolder) {
    Start(With("AvoidShortNames", "1"));
    char name[16];
    for (int n = 0; n < 4096; ++n) fs::create_directory(tmp / (std::snprintf(name, sizeof name, "ravek%03x", n), name));
    fs::remove(UserFile(0, "תודה.mp3"));
    auto items = Speak("תודה בוקר", 1);
    const std::string work = State().CurrentDumpFolder;
    EXPECT_EQ(fs::path(work).parent_path().parent_path(), tmp / ("ravek-" + std::to_string(::geteuid())));
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(items[1], Item(Word, "בוקר", 6, true, work + "f1.wav", FromUserRecordings));
    EXPECT_TRUE(inst->LogContains("Recording of (תודה) not found at " + UserFile(0, "תודה.mp3") + "; the item is skipped"));
    State().Settings.MissingWordSignal = "nosuch";  // nothing left to play: the speech ends at once
    EXPECT_EQ(Speak("אבג", 1), std::vector<SpeechItem>{});
    EXPECT_EQ(events.Seen, (std::vector<std::string>{"SpeechStart", "Speechend"}));
}

// Converted recordings: a prefix sound and a user recording of the same text get files of their own.
TEST_F(UtteranceTest, EveryConvertedItemHasItsOwnFile) {
    InstallationOptions o = With("ConvertMP32WAV", "1");
    o.MaleRecordings["ו.mp3"] = kToneC;
    Start(o);
    std::vector<std::string> files;
    for (const auto& item : Speak("ו וספר ו", 3))
        if (!item.File.empty()) files.push_back(fs::path(item.File).filename().string());
    EXPECT_EQ(files, (std::vector<std::string>{"ו.wav", "ו~2.wav", "ספר.wav", "ו~3.wav"}));
    EXPECT_NE(Bytes(State().CurrentDumpFolder + "ו.wav"), Bytes(State().CurrentDumpFolder + "ו~2.wav"));
}

TEST_F(UtteranceTest, BusyEngineIgnoresTheRequest) {
    Start();
    api->SelectVoice(1);
    api->Speak("תודה");
    const auto before = State().Utterance;
    const std::string folder = State().CurrentDumpFolder;
    events.Seen.clear();
    EXPECT_EQ(api->Speak("בוקר"), 0);
    EXPECT_TRUE(events.Seen.empty());
    EXPECT_EQ(State().Utterance, before);
    EXPECT_EQ(State().CurrentDumpFolder, folder);
}

TEST_F(UtteranceTest, VoiceOutsideTheFourIsSubscriptOutOfRange) {
    Start();
    for (int voice : {0, 9, -40000}) {
        api->SelectVoice(voice);
        AutomationError e = ErrorOf([&] { api->Speak("תודה"); });
        EXPECT_TRUE(e.Number() == 9 || (voice == -40000 && e.Number() == 6)) << voice << ": " << e.what();
        EXPECT_EQ(e.Source(), "RavekVoice.exe!Speak");
        EXPECT_TRUE(State().IsIdle);
    }
    EXPECT_TRUE(fs::is_empty(tmp));
    api->SelectVoice(1);
    EXPECT_EQ(api->Speak("תודה"), 0);
}

TEST_F(UtteranceTest, NextRequestRemovesOnlyTheFolderItCreated) {
    Start();
    Speak("תודה", 1);
    const std::string first = State().CurrentDumpFolder;
    ASSERT_TRUE(fs::is_directory(first));
    Speak("תודה", 1);
    EXPECT_FALSE(fs::exists(first));
    // A symbolic link put in place of the working folder is not followed.
    const std::string second = State().CurrentDumpFolder;
    const fs::path keep = inst->Root() / "keep";
    fs::create_directories(keep);
    WriteFileBytes(keep / "precious.txt", "x");
    fs::remove_all(second);
    fs::create_directory_symlink(keep, fs::path(second).parent_path());
    Speak("תודה", 1);
    EXPECT_TRUE(fs::exists(keep / "precious.txt"));
    // A folder the engine did not create is never removed.
    const fs::path foreign = tmp / "ravek12345";
    fs::create_directories(foreign);
    EXPECT_FALSE(mWorkingFolder::RemoveWorkingFolder(State().WorkingFolders, foreign.string() + "/"));
    EXPECT_TRUE(fs::is_directory(foreign));
}

// A killed service leaves folders whose lock nobody holds: the first Speak of an engine object
// removes them, and only them. An engine object that goes away mid-speech takes its folder along.
TEST_F(UtteranceTest, StaleWorkingFoldersGoAndAnEngineObjectTakesItsFolderAlong) {
    Start();
    for (const char* name : {"ravek0a1b2", "ravek0c3d4", "ravekstuff"}) WriteFileBytes(tmp / name / mWorkingFolder::kLockFileName, "");
    fs::create_directories(tmp / "ravek0e5f6");  // no lock file
    const int held = ::open((tmp / "ravek0c3d4" / mWorkingFolder::kLockFileName).c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_EQ(::flock(held, LOCK_EX), 0);
    Speak("תודה", 1);
    ::close(held);
    EXPECT_FALSE(fs::exists(tmp / "ravek0a1b2"));
    for (const char* name : {"ravek0c3d4", "ravekstuff", "ravek0e5f6"}) EXPECT_TRUE(fs::exists(tmp / name)) << name;
    const fs::path mine = State().CurrentDumpFolder;
    api.reset();  // mid-speech: the main loop never ran
    EXPECT_FALSE(fs::exists(mine));
}

// A temporary folder without room for the clips fails the request with error 75 naming the folder,
// before any event, whichever way the clips are made: extracted, copied (short names), converted.
class FullDiskTest : public UtteranceTest, public ::testing::WithParamInterface<std::tuple<const char*, const char*, int>> {};

TEST_P(FullDiskTest, ClipsThatCannotBeWrittenFailTheRequestWithError75) {
    const auto [setting, text, voice] = GetParam();
    Start(*setting ? With(setting, "1") : InstallationOptions());
    FullDisk full(tmp / "full");
    if (!full.Mounted()) GTEST_SKIP() << "no right to mount a small tmpfs";
    ::setenv("TMPDIR", full.Path().c_str(), 1);
    api->SelectVoice(voice);
    AutomationError e = ErrorOf([&] { api->Speak(text); });
    EXPECT_EQ(e.Number(), 75);
    EXPECT_NE(e.Description().find("working folder " + full.Path().string() + "/ravek"), std::string::npos) << e.Description();
    EXPECT_TRUE(events.Seen.empty() && State().IsIdle && State().CurrentDumpFolder.empty());
    EXPECT_TRUE(full.HoldsOnlyTheFiller());
}

INSTANTIATE_TEST_SUITE_P(Clips, FullDiskTest,
                         ::testing::Values(std::tuple("", "שלום", 3), std::tuple("AvoidShortNames", "תודה", 1),
                                           std::tuple("ConvertMP32WAV", "תודה", 1)));

// A missing word is spelled letter by letter in every language: only the Hebrew points are not
// letters (the bytes that are points in Windows-1255 are letters in the other code pages).
class SpellingTest : public UtteranceTest,
                     public ::testing::WithParamInterface<std::tuple<int, const char*, std::vector<std::string>>> {};

TEST_P(SpellingTest, EveryLetterIsSpelled) {
    Start(Policy("spell"));
    State().AnsiCodePage = std::get<0>(GetParam());
    std::vector<std::string> letters;
    for (const auto& item : Speak(std::get<1>(GetParam()), 1))
        if (item.Kind == Letter) letters.push_back(item.Text);
    EXPECT_EQ(letters, std::get<2>(GetParam()));
}

INSTANTIATE_TEST_SUITE_P(Languages, SpellingTest,
                         ::testing::Values(std::tuple(1255, "אָבּג", std::vector<std::string>{"א", "ב", "ג"}),
                                           std::tuple(1251, "Мир", std::vector<std::string>{"м", "и", "р"}),
                                           std::tuple(1256, "سلام", std::vector<std::string>{"س", "ل", "ا", "م"}),
                                           std::tuple(1252, "Été", std::vector<std::string>{"é", "t", "é"})));

}  // namespace
