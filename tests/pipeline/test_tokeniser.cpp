// Splitting the request text into words and breaks, and folding runs of breaks.
#include <filesystem>

#include "mTokeniser.h"
#include "PipelineFixture.h"

using namespace ravektest;

namespace {

Dictionary SetOf(std::initializer_list<const char*> keys) {
    Dictionary set;
    for (const char* key : keys) set.Add(key, key);
    return set;
}

class TokeniserTest : public PipelineTest {
protected:
    void SetUp() override {
        InstallationOptions o;
        o.MaleRecordings["hello.mp3"] = kToneA;
        Start(o);
        State().ActiveVoice = 0;
    }
    std::vector<SpeechItem> Tokens(const std::string& text, const Dictionary& sentences, const Dictionary& words) {
        return mTokeniser::Tokenise(State(), text, sentences, words);
    }
    std::vector<SpeechItem> Tokens(const std::string& text) {
        return Tokens(text, *State().SentenceSet, *State().WordSet);
    }
};

TEST_F(TokeniserTest, TextWithoutSeparatorIsOneWordAtPositionOne) {
    EXPECT_EQ(Tokens("abc"), std::vector<SpeechItem>{Item(Word, "abc", 1)});
}

TEST_F(TokeniserTest, HolamHaserForVavStaysInsideItsWord) {
    // With "?" (63) a sentence separator, a point read as "?" would cut the word in two.
    EXPECT_EQ(Tokens("מצוֺת", SetOf({"46", "63"}), SetOf({"32"})), std::vector<SpeechItem>{Item(Word, "מצוֺת", 1)});
}

TEST_F(TokeniserTest, SentenceAndWordBreaksAreCompactedIntoTheSentenceBreak) {
    auto tokens = Tokens("a, b", SetOf({"44"}), SetOf({"32"}));
    EXPECT_EQ(tokens, (std::vector<SpeechItem>{Item(Word, "a", 1), Item(SentenceBreak, ",", 2), Item(WordBreak, " ", 3),
                                               Item(Word, "b", 4)}));
    EXPECT_EQ(mTokeniser::CompactBreaks(tokens),
              (std::vector<SpeechItem>{Item(Word, "a", 1), Item(SentenceBreak, ",", 2), Item(Word, "b", 4)}));
}

TEST_F(TokeniserTest, CharacterInBothSetsIsASentenceBreak) {
    EXPECT_EQ(Tokens("a.b", SetOf({"46"}), SetOf({"46"}))[1], Item(SentenceBreak, ".", 2));
}

TEST_F(TokeniserTest, CompactionKeepsEdgesAsWritten) {
    // A leading break stays; two breaks at the very end stay two items.
    EXPECT_EQ(mTokeniser::CompactBreaks(Tokens(" a..")),
              (std::vector<SpeechItem>{Item(WordBreak, " ", 1), Item(Word, "a", 2), Item(SentenceBreak, ".", 3),
                                       Item(SentenceBreak, ".", 4)}));
    // Three at the end: the run takes the last item's sentence break, and the last item stays too.
    EXPECT_EQ(mTokeniser::CompactBreaks(Tokens("a ,.")),
              (std::vector<SpeechItem>{Item(Word, "a", 1), Item(SentenceBreak, ".", 4), Item(SentenceBreak, ".", 4)}));
    // A run of word breaks keeps the first one's text and position.
    EXPECT_EQ(mTokeniser::CompactBreaks(Tokens("a ,b")),
              (std::vector<SpeechItem>{Item(Word, "a", 1), Item(WordBreak, " ", 2), Item(Word, "b", 4)}));
    EXPECT_EQ(mTokeniser::CompactBreaks({}), std::vector<SpeechItem>{});
}

TEST_F(TokeniserTest, OnlyExactDecimalKeysAreSeparators) {
    Dictionary odd = SetOf({" 32", "032", "abc", "", "32 ", "-1", "999"});
    EXPECT_EQ(Tokens("a b", odd, odd), std::vector<SpeechItem>{Item(Word, "a b", 1)});
}

TEST_F(TokeniserTest, PositionsCountCharactersNotBytes) {
    auto tokens = Tokens("שָׁלוֹם עולם");
    ASSERT_EQ(tokens.size(), 3u);
    EXPECT_EQ(tokens[2].Text, "עולם");
    EXPECT_EQ(tokens[2].Position, 9);  // six letters and marks, one blank
}

TEST_F(TokeniserTest, UnrepresentableCharacterHasCode63) {
    // The default sentence set holds 63, so a character no code page has ends a sentence.
    auto tokens = Tokens("a\U0001F600b");
    ASSERT_EQ(tokens.size(), 3u);
    EXPECT_EQ(tokens[1], Item(SentenceBreak, "\U0001F600", 2));
    EXPECT_EQ(tokens[2].Position, 3);
}

TEST_F(TokeniserTest, EnglishClassLooksUpInLowerCaseOtherClassesKeepCase) {
    std::string path = UserFile(0, "hello.mp3");
    EXPECT_EQ(Tokens("HeLLo")[0], Item(Word, "HeLLo", 1));
    State().LanguageClass = 3;
    EXPECT_EQ(Tokens("HeLLo World")[0], Item(Word, "hello", 1, true, path, FromUserRecordings));
    EXPECT_EQ(Tokens("HeLLo World")[2].Text, "world");
}

TEST_F(TokeniserTest, EmptyTextIsAnInvalidCallAndLeavesTheEngineIdle) {
    EXPECT_EQ(ErrorOf([&] { Tokens(""); }).Number(), 5);
    AutomationError e = ErrorOf([&] { api->Speak(""); });
    EXPECT_EQ(e.Number(), 5);
    EXPECT_EQ(e.Source(), "RavekVoice.exe!Speak");
    EXPECT_EQ(e.Description(), "Invalid procedure call or argument");
    EXPECT_TRUE(State().IsIdle);
    EXPECT_TRUE(events.Seen.empty());
    EXPECT_TRUE(std::filesystem::is_empty(tmp)) << "the working folder was left behind";
    // The engine takes the next request.
    EXPECT_EQ(api->Speak("תודה"), 0);
    EXPECT_EQ(events.Seen.front(), "SpeechStart");
}

TEST_F(TokeniserTest, ControlAndDirectionCharactersStayInsideWords) {
    auto tokens = Tokens("\x01\x7f\u200Fשלום\u200E\t");
    ASSERT_EQ(tokens.size(), 1u);
    EXPECT_EQ(tokens[0].Text, "\x01\x7f\u200Fשלום\u200E\t");
}

TEST_F(TokeniserTest, HugeTextAndHugeWordsAreSpoken) {
    // The longest text a request takes (1 MiB), ending in a giant word.
    std::string giant(30000, 'x');
    std::string text;
    while (text.size() + 16 + giant.size() <= (1u << 20)) text += "תודה abc, ";
    text += giant;
    api->SelectVoice(1);
    EXPECT_EQ(api->Speak(text), 0);  // a quadratic step would run into the test's time limit
    // Playback prepares the rest of the text slice by slice as it goes; here all of it at once.
    for (std::vector<size_t> late; Audio().PrepareMore;)
        if (!Audio().PrepareMore(late)) Audio().PrepareMore = nullptr;
    const auto& utterance = State().Utterance;
    ASSERT_FALSE(utterance.empty());
    EXPECT_EQ(utterance.front(), Item(Word, "תודה", 1, true, UserFile(0, "תודה.mp3"), FromUserRecordings));
    // The missing words got the signal sound; the last one is the giant word's.
    EXPECT_EQ(utterance.back().Kind, Sound);
    EXPECT_EQ(utterance.back().Text, "signal");
    EXPECT_EQ(utterance.back().Position, static_cast<int32_t>(AnsiText::CharacterCount(text) - giant.size() + 1));
}

}  // namespace
