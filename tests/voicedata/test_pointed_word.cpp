// Pointed Hebrew words: parsing into letters and marks, the stored text form, mark stripping,
// scoring a candidate against the word as written, and choosing the best lookup candidate.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "AutomationError.h"
#include "PointedWord.h"

using namespace PointedWords;

namespace {

// Marks (Unicode points that Windows-1255 encodes as 192..210).
const std::string Sheva = "\u05B0", HatafSegol = "\u05B1", HatafPatah = "\u05B2", HatafQamats = "\u05B3",
                  Hiriq = "\u05B4", Tsere = "\u05B5", Segol = "\u05B6", Patah = "\u05B7", Qamats = "\u05B8",
                  Holam = "\u05B9", Qubuts = "\u05BB", Dagesh = "\u05BC", ShinDot = "\u05C1", SinDot = "\u05C2";
// Letters.
const std::string Alef = "א", Bet = "ב", Dalet = "ד", He = "ה", Vav = "ו", Yod = "י", Lamed = "ל", Mem = "מ",
                  FinalMem = "ם", Resh = "ר", Shin = "ש", Tav = "ת", Samekh = "ס", Pe = "פ";

std::vector<int32_t> V(std::initializer_list<int32_t> values) { return values; }

int32_t Score(const std::string& word, const std::string& candidate) {
    return ScorePointedWord(ParsePointedWord(word), ParsePointedWord(candidate));
}

Candidate Row(const std::string& pointed, const std::string& tie) {
    return Candidate{StripMarks(pointed), SerialisePointedWord(ParsePointedWord(pointed)), tie};
}

void ExpectTypeMismatchNaming(const std::string& text) {
    try {
        DeserialisePointedWord(text);
        FAIL() << "no error for " << text;
    } catch (const AutomationError& e) {
        EXPECT_EQ(e.Number(), 13);
        EXPECT_NE(e.Description().find(text), std::string::npos) << e.Description();
    }
}

}  // namespace

TEST(PointedWordParse, SplitsLettersAndMarks) {
    // shalom: shin+shin dot+qamats, lamed, vav+holam, final mem
    PointedWord w = ParsePointedWord(Shin + ShinDot + Qamats + Lamed + Vav + Holam + FinalMem);
    EXPECT_EQ(w.Text, Shin + ShinDot + Qamats + Lamed + Vav + Holam + FinalMem);
    EXPECT_EQ(w.Letters, "שלום");
    EXPECT_TRUE(w.Pointed);
    EXPECT_EQ(w.Vowel, V({200, 0, 201, 0}));
    EXPECT_EQ(w.VowelClass, V({200, 0, 201, 0}));
    EXPECT_EQ(w.Dagesh, V({0, 0, 0, 0}));
    EXPECT_EQ(w.Dot, V({209, 0, 0, 0}));
}

TEST(PointedWordParse, VowelClassesFollowTheMarkTable) {
    struct Case {
        std::string mark;
        int32_t vowel, vowelClass;
    } cases[] = {{HatafSegol, 193, 198}, {HatafPatah, 194, 200}, {HatafQamats, 195, 200}, {Hiriq, 196, 196},
                 {Tsere, 197, 198},      {Segol, 198, 198},      {Patah, 199, 200},      {Qamats, 200, 200},
                 {Holam, 201, 201},      {Qubuts, 203, 203}};
    for (const Case& c : cases) {
        PointedWord w = ParsePointedWord(Lamed + Mem + c.mark);
        EXPECT_EQ(w.Vowel, V({0, c.vowel})) << c.vowel;
        EXPECT_EQ(w.VowelClass, V({0, c.vowelClass})) << c.vowel;
    }
}

TEST(PointedWordParse, ShevaClassDependsOnPosition) {
    PointedWord w = ParsePointedWord(Bet + Sheva + Resh + Sheva);
    EXPECT_EQ(w.Vowel, V({192, 192}));
    EXPECT_EQ(w.VowelClass, V({198, 192}));
}

TEST(PointedWordParse, DageshOnVavIsShurukElseDagesh) {
    PointedWord w = ParsePointedWord(Bet + Dagesh + Vav + Dagesh);
    EXPECT_EQ(w.Dagesh, V({204, 0}));
    EXPECT_EQ(w.Vowel, V({0, 204}));
    EXPECT_EQ(w.VowelClass, V({0, 204}));
}

TEST(PointedWordParse, DotsMarkShinOrReadAsHolamElsewhere) {
    PointedWord sin = ParsePointedWord(Shin + SinDot);
    EXPECT_EQ(sin.Dot, V({210}));
    EXPECT_EQ(sin.Vowel, V({0}));
    // A dot over another letter is a holam whose class the dot does not set.
    PointedWord other = ParsePointedWord(Lamed + ShinDot);
    EXPECT_EQ(other.Dot, V({0}));
    EXPECT_EQ(other.Vowel, V({201}));
    EXPECT_EQ(other.VowelClass, V({0}));
}

TEST(PointedWordParse, UnpointedWordsAndStrayMarks) {
    PointedWord plain = ParsePointedWord("ספר");
    EXPECT_FALSE(plain.Pointed);
    EXPECT_EQ(plain.Letters, "ספר");
    EXPECT_EQ(plain.Vowel, V({0, 0, 0}));
    // A mark before the first letter belongs to nothing.
    PointedWord stray = ParsePointedWord(Patah + Samekh);
    EXPECT_FALSE(stray.Pointed);
    EXPECT_EQ(stray.Letters, Samekh);
    EXPECT_EQ(stray.Vowel, V({0}));
    PointedWord empty = ParsePointedWord("");
    EXPECT_EQ(empty.Letters, "");
    EXPECT_TRUE(empty.Vowel.empty());
    // Characters outside the code page become '?' letters.
    EXPECT_EQ(ParsePointedWord("日").Letters, "?");
}

TEST(PointedWordMarks, IsMarkExactlyForTheMarkCodes) {
    std::vector<int> marks;
    for (int b = 0; b < 256; ++b)
        if (IsMark(static_cast<unsigned char>(b))) marks.push_back(b);
    EXPECT_EQ(marks, (std::vector<int>{192, 193, 194, 195, 196, 197, 198, 199, 200, 201, 203, 204, 209, 210}));
}

TEST(PointedWordMarks, StripMarksLeavesTheNakedSpelling) {
    EXPECT_EQ(StripMarks(Shin + ShinDot + Qamats + Lamed + Vav + Holam + FinalMem), "שלום");
    EXPECT_EQ(StripMarks("צה\"ל"), "צה\"ל");
    EXPECT_EQ(StripMarks("abc 12"), "abc 12");
    EXPECT_EQ(StripMarks(""), "");
}

TEST(PointedWordStoredForm, ThreeLetterWordHasThreeGroups) {
    std::string bayit = Bet + Dagesh + Patah + Yod + Hiriq + Tav;
    EXPECT_EQ(SerialisePointedWord(ParsePointedWord(bayit)), bayit + "|בית|True|199,200,204,0*196,196,0,0*0,0,0,0");
    EXPECT_EQ(SerialisePointedWord(ParsePointedWord("")), "||False|");
}

TEST(PointedWordStoredForm, RoundTripsThroughDeserialise) {
    for (const std::string& word : {Shin + ShinDot + Qamats + Lamed + Vav + Holam + FinalMem, std::string("ספר"),
                                    Bet + Sheva + Resh + Sheva, std::string("")}) {
        PointedWord original = ParsePointedWord(word);
        PointedWord back = DeserialisePointedWord(SerialisePointedWord(original));
        EXPECT_EQ(back.Text, original.Text);
        EXPECT_EQ(back.Letters, original.Letters);
        EXPECT_EQ(back.Pointed, original.Pointed);
        EXPECT_EQ(back.Vowel, original.Vowel);
        EXPECT_EQ(back.VowelClass, original.VowelClass);
        EXPECT_EQ(back.Dagesh, original.Dagesh);
        EXPECT_EQ(back.Dot, original.Dot);
    }
}

TEST(PointedWordStoredForm, MalformedTextsRaiseTypeMismatchNamingTheText) {
    ExpectTypeMismatchNaming("just a word");
    ExpectTypeMismatchNaming("ab|ab|True");
    ExpectTypeMismatchNaming("ab|ab|True|0,0,0,0*0,0,0,0|extra");
    ExpectTypeMismatchNaming("ab|ab|Yes|0,0,0,0*0,0,0,0");
    ExpectTypeMismatchNaming("ab|ab|True|0,0,0,0");              // two letters, one group
    ExpectTypeMismatchNaming("ab|ab|True|0,0,0,0*0,0,0,0*0,0,0,0");  // three groups
    ExpectTypeMismatchNaming("ab|ab|True|0,0,0*0,0,0,0");
    ExpectTypeMismatchNaming("ab|ab|True|0,x,0,0*0,0,0,0");
    ExpectTypeMismatchNaming("ab|ab|True|0,,0,0*0,0,0,0");
    ExpectTypeMismatchNaming("ab|ab|True|0,99999999999,0,0*0,0,0,0");
}

TEST(PointedWordScore, UnpointedAgainstUnpointedScoresOnePerLetter) { EXPECT_EQ(Score("ספר", "ספר"), 3); }

TEST(PointedWordScore, SameClassOtherVowelScoresFive) {
    // patah against qamats under the first letter: both the a sound, vowels differ.
    EXPECT_EQ(Score(Samekh + Patah + Pe + Resh, Samekh + Qamats + Pe + Resh), 5 + 1 + 1);
    EXPECT_EQ(Score(Samekh + Patah + Pe + Resh, Samekh + Patah + Pe + Resh), 10 + 1 + 1);
}

TEST(PointedWordScore, DifferentVowelClassRejects) {
    EXPECT_EQ(Score(Samekh + Hiriq + Pe + Resh, Samekh + Patah + Pe + Resh), -1);
}

TEST(PointedWordScore, MarkOnOneSideOnlyNeitherAddsNorCosts) {
    EXPECT_EQ(Score("ספר", Samekh + Segol + Pe + Resh), 0 + 1 + 1);
    EXPECT_EQ(Score(Bet + Dagesh + Resh, Bet + Resh), 1 + 1);
    EXPECT_EQ(Score(Bet + Dagesh + Resh, Bet + Dagesh + Resh), 5 + 1 + 1);
}

TEST(PointedWordScore, ShinDotAgainstSinDotRestartsFromMinusOne) {
    // Four further letters, each with the same vowel on both sides: 10 points each.
    std::string rest = Lamed + Patah + Mem + Patah + Dalet + Patah + He + Patah;
    // The shin's vowel is written on one side only, so the shin itself earns nothing.
    EXPECT_EQ(Score(Shin + ShinDot + Qamats + rest, Shin + SinDot + rest), -1 + 40);
    // The reset happens where the dots differ; points earned at that letter still count.
    EXPECT_EQ(Score(Shin + ShinDot + rest, Shin + SinDot + rest), -1 + 1 + 40);
    EXPECT_EQ(Score(Shin + ShinDot + rest, Shin + ShinDot + rest), 5 + 1 + 40);
}

TEST(PointedWordScore, CandidateOfAnotherLengthIsRejected) {
    EXPECT_EQ(Score("ספר", "ספרים"), -1);
    EXPECT_EQ(Score("ספרים", "ספר"), -1);
    PointedWord damaged = ParsePointedWord("ספר");
    damaged.Dot.pop_back();
    EXPECT_EQ(ScorePointedWord(ParsePointedWord("ספר"), damaged), -1);
}

TEST(PointedWordBest, HighestScoreWins) {
    std::string word = Samekh + Segol + Pe + Segol + Resh;  // sefer
    std::vector<Candidate> rows = {Row(Samekh + Patah + Pe + Resh, "1"), Row(Samekh + Segol + Pe + Segol + Resh, "5"),
                                   Row(Samekh + Tsere + Pe + Segol + Resh, "1"), Candidate{}};
    int32_t best = 0, index = 0;
    BestCandidate(word, rows, best, index);
    EXPECT_EQ(index, 1);
    EXPECT_EQ(best, 10 + 10 + 1);
}

TEST(PointedWordBest, EqualScoresGoToTheSmallerTieBreakThenTheFirst) {
    std::vector<Candidate> rows = {Row("ספר", "3"), Row("ספר", "2"), Row("ספר", "2"), Candidate{}};
    int32_t best = 0, index = 0;
    BestCandidate("ספר", rows, best, index);
    EXPECT_EQ(best, 3);
    EXPECT_EQ(index, 1);
}

TEST(PointedWordBest, RejectedCandidatesAreTakenOnlyWithANegativeTieBreak) {
    std::string word = Samekh + Hiriq + Pe + Resh;
    int32_t best = 0, index = 0;
    BestCandidate(word, {Row(Samekh + Patah + Pe + Resh, "1"), Candidate{}}, best, index);
    EXPECT_EQ(best, -1);
    EXPECT_EQ(index, -1);
    BestCandidate(word, {Row(Samekh + Patah + Pe + Resh, "-1"), Candidate{}}, best, index);
    EXPECT_EQ(best, -1);
    EXPECT_EQ(index, 0);
}

TEST(PointedWordBest, DamagedRowsAreSkippedNotFatal) {
    std::vector<Candidate> rows = {Candidate{"ספר", "garbage", "1"}, Candidate{"ספר", "ספר|ספר|False|0,0,0,0", "1"},
                                   Candidate{"ספר", SerialisePointedWord(ParsePointedWord("ספר")), "not a number"},
                                   Row("ספר", "7"), Candidate{}};
    int32_t best = 0, index = 0;
    BestCandidate("ספר", rows, best, index);
    EXPECT_EQ(index, 3);
    EXPECT_EQ(best, 3);
    BestCandidate("ספר", {}, best, index);
    EXPECT_EQ(index, -1);
    EXPECT_EQ(best, -1);
}
