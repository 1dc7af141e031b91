// Which recording speaks each word: user recordings, the dictionary index, the smart lookup and
// the prefix split, with sequences of several words.
#include <sqlite3.h>

#include <climits>
#include <filesystem>

#include "PipelineFixture.h"

using namespace ravektest;
namespace fs = std::filesystem;

namespace {

class WordResolutionTest : public PipelineTest {
protected:
    static InstallationOptions Options() {
        InstallationOptions o;
        o.MaleRecordings["תודה רבה.mp3"] = kToneA;
        o.MaleRecordings["א ב ג ד ה ו.mp3"] = kToneB;
        o.MaleRecordings["ספר.mp3"] = kToneC;
        o.MaleRecordings["ה.mp3"] = kToneD;
        o.MaleRecordings[",.mp3"] = kToneE;
        o.MaleRecordings["אחת.mp3"] = kToneF;
        o.MaleRecordings["שתיים.mp3"] = kToneF;
        o.MaleRecordings["שלוש.mp3"] = kToneF;
        o.Male.Words.push_back({"אחת שתיים שלוש", kToneG, 1});
        o.Female.Words.push_back({"אחת שתיים שלוש", kToneG, 1});
        return o;
    }
    void SetUp() override { Start(Options()); }
    std::string Clip(const std::string& word) { return Work() + word + ".mp3"; }
    SpeechItem User(const std::string& text, int32_t position, const std::string& file) {
        return Item(Word, text, position, true, UserFile(0, file), FromUserRecordings);
    }
    SpeechItem Dict(const std::string& text, int32_t position) {
        return Item(Word, text, position, true, Clip(text), FromDictionary);
    }
    SpeechItem Signal(int32_t position) { return Item(Sound, "signal", position); }
    SpeechItem Space(int32_t position) { return Item(WordBreak, " ", position); }
};

TEST_F(WordResolutionTest, UserRecordingOfTwoWordsIsOneItem) {
    EXPECT_EQ(Prepare("תודה רבה", 1), std::vector<SpeechItem>{User("תודה רבה", 1, "תודה רבה.mp3")});
}

TEST_F(WordResolutionTest, UserRecordingOfTheWholeTextBeatsSequenceLen) {
    EXPECT_EQ(Prepare("א ב ג ד ה ו.", 1),
              (std::vector<SpeechItem>{User("א ב ג ד ה ו", 1, "א ב ג ד ה ו.mp3"), Item(SentenceBreak, ".", 12)}));
    State().Settings.SequenceLen = 0;
    EXPECT_EQ(Prepare("א ב ג ד ה ו", 1).size(), 1u);
}

TEST_F(WordResolutionTest, DictionaryPhraseIsOneClipForDictionaryVoicesOnly) {
    for (int voice : {3, 4}) {
        auto items = Prepare("אחת שתיים שלוש", voice);
        EXPECT_EQ(items, std::vector<SpeechItem>{Dict("אחת שתיים שלוש", 1)}) << "voice " << voice;
        EXPECT_TRUE(fs::is_regular_file(Clip("אחת שתיים שלוש")));
    }
    EXPECT_EQ(Prepare("אחת שתיים שלוש", 1),
              (std::vector<SpeechItem>{User("אחת", 1, "אחת.mp3"), Space(4), User("שתיים", 5, "שתיים.mp3"), Space(10),
                                       User("שלוש", 11, "שלוש.mp3")}));
}

TEST_F(WordResolutionTest, UserRecordingWinsOverTheDictionary) {
    EXPECT_EQ(Prepare("ספר", 3), std::vector<SpeechItem>{User("ספר", 1, "ספר.mp3")});
    EXPECT_EQ(Prepare("שלום", 3), std::vector<SpeechItem>{Dict("שלום", 1)});
}

TEST_F(WordResolutionTest, SmartLookupFindsThePointedWordOfTheVoice) {
    EXPECT_EQ(Prepare("עולם", 3), std::vector<SpeechItem>{Dict("עוֹלָם", 1)});
    EXPECT_EQ(Prepare("עולם", 4), std::vector<SpeechItem>{Dict("עוֹלָם", 1)});
    EXPECT_EQ(Prepare("שָלום", 3), std::vector<SpeechItem>{Dict("שָׁלוֹם", 1)});
    // Voices without the smart lookup leave the word missing.
    EXPECT_EQ(Prepare("עולם", 1), std::vector<SpeechItem>{Signal(1)});
}

TEST_F(WordResolutionTest, RequestLeavesTheDatabaseFreeForWriters) {
    // The lookups of one request share one read transaction; it must be over when the request is.
    EXPECT_EQ(Prepare("עולם", 3), std::vector<SpeechItem>{Dict("עוֹלָם", 1)});
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(inst->DatabasePath().c_str(), &db), SQLITE_OK);
    EXPECT_EQ(sqlite3_exec(db, "BEGIN EXCLUSIVE; COMMIT;", nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
    sqlite3_close(db);
    // And the next request still finds its words.
    EXPECT_EQ(Prepare("עולם", 4), std::vector<SpeechItem>{Dict("עוֹלָם", 1)});
}

TEST_F(WordResolutionTest, PrefixSplitGivesThePrefixSoundAndTheStem) {
    const std::string ve = SystemFile(0, "ve.mp3");
    EXPECT_EQ(Prepare("וספר", 3),
              (std::vector<SpeechItem>{Item(Sound, "ו", 1, true, ve, FromUserRecordings), User("ספר", 1, "ספר.mp3")}));
    // A stem found by the smart lookup.
    EXPECT_EQ(Prepare("שלום הבית", 3),
              (std::vector<SpeechItem>{Dict("שלום", 1), Space(5),
                                       Item(Sound, "ה", 6, true, SystemFile(0, "ha.mp3"), FromUserRecordings),
                                       Dict("בַּיִת", 6)}));
    EXPECT_TRUE(fs::is_regular_file(Clip("בַּיִת")));
}

TEST_F(WordResolutionTest, ShortWordsAndOneLetterStemsAreNeverSplit) {
    EXPECT_EQ(Prepare("בה", 3), std::vector<SpeechItem>{Signal(1)});
    // "ה" has a user recording, but a stem of one letter is passed over.
    EXPECT_EQ(Prepare("וְה", 3), std::vector<SpeechItem>{Signal(1)});
}

TEST_F(WordResolutionTest, BreakCharacterWithARecordingIsSpokenLikeAWord) {
    EXPECT_EQ(Prepare("ספר,ספר", 1), (std::vector<SpeechItem>{User("ספר", 1, "ספר.mp3"), User(",", 4, ",.mp3"),
                                                                User("ספר", 5, "ספר.mp3")}));
}

TEST_F(WordResolutionTest, SequenceLenOfAnySizeGivesTheSameLongestMatches) {
    const std::string text = "בוקר טוב עולם";
    const std::vector<SpeechItem> expected{Dict("בוקר טוב", 1), Space(9), Dict("עוֹלָם", 10)};
    for (int32_t len : {4, 100, INT32_MAX}) {
        State().Settings.SequenceLen = len;
        EXPECT_EQ(Prepare(text, 3), expected) << "SequenceLen " << len;
    }
    State().Settings.SequenceLen = 1;
    EXPECT_EQ(Prepare(text, 3), (std::vector<SpeechItem>{User("בוקר", 1, "בוקר.wav"), Space(5), Signal(6), Space(9),
                                                         Dict("עוֹלָם", 10)}));
    // Below 1 only the single-word classification of the tokeniser and the whole-text match remain.
    for (int32_t len : {0, -5}) {
        State().Settings.SequenceLen = len;
        EXPECT_EQ(Prepare(text, 3), (std::vector<SpeechItem>{User("בוקר", 1, "בוקר.wav"), Space(5), Signal(6), Space(9),
                                                             Signal(10)}));
    }
}

class PrefixTableTest : public PipelineTest {};

TEST_F(PrefixTableTest, OneRowNeverSplitsTwoRowsTryEveryRowFromTheFirst) {
    InstallationOptions o;
    o.Prefixes = {{"ו", "ve.mp3", 1}};
    Start(o);
    EXPECT_EQ(Prepare("וספר", 3), std::vector<SpeechItem>{Item(Sound, "signal", 1)});
    api.reset();
    inst->Options().Prefixes = {{"ו", "VE.mp3", 1}, {"ה", "ha.mp3", 2}};
    inst->Write();
    api.emplace();
    api->Initialise();
    auto items = Prepare("וספר", 3);
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(items[0], Item(Sound, "ו", 1, true, SystemFile(0, "ve.mp3"), FromUserRecordings));  // lower-cased name
    EXPECT_EQ(items[1], Item(Word, "ספר", 1, true, Work() + "ספר.mp3", FromDictionary));
}

}  // namespace
