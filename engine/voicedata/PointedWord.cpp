#include "PointedWord.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <string_view>

#include "AnsiText.h"
#include "AutomationError.h"

namespace PointedWords {
namespace {

// Windows-1255 codes of the marks.
constexpr int kSheva = 192;
constexpr int kHatafSegol = 193;
constexpr int kHatafPatah = 194;
constexpr int kHatafQamats = 195;
constexpr int kHiriq = 196;
constexpr int kTsere = 197;
constexpr int kSegol = 198;
constexpr int kPatah = 199;
constexpr int kQamats = 200;
constexpr int kHolam = 201;
constexpr int kQubuts = 203;
constexpr int kDagesh = 204;
constexpr int kShinDot = 209;
constexpr int kSinDot = 210;
// The two letters that some marks treat differently.
constexpr int kVav = 229;
constexpr int kShin = 249;

// Sound class of a plain vowel mark (the marks whose effect does not depend on the letter).
int ClassOfVowel(int mark) {
    switch (mark) {
    case kHatafSegol:
    case kTsere:
    case kSegol: return kSegol;  // e
    case kHatafPatah:
    case kHatafQamats:
    case kPatah:
    case kQamats: return kQamats;  // a
    case kHiriq: return kHiriq;    // i
    case kHolam: return kHolam;    // o
    case kQubuts: return kQubuts;  // u
    default: return 0;
    }
}

struct LetterMarks {
    int32_t& vowel;
    int32_t& vowelClass;
    int32_t& dagesh;
    int32_t& dot;
};

void ApplyMark(int mark, int letter, bool firstLetter, LetterMarks m) {
    switch (mark) {
    case kSheva:
        m.vowel = kSheva;
        m.vowelClass = firstLetter ? kSegol : kSheva;
        return;
    case kDagesh:
        if (letter == kVav) {  // shuruk: a vowel, not a dagesh
            m.vowel = kDagesh;
            m.vowelClass = kDagesh;
        } else {
            m.dagesh = kDagesh;
        }
        return;
    case kShinDot:
    case kSinDot:
        if (letter == kShin)
            m.dot = mark;
        else
            m.vowel = kHolam;  // the dot over any other letter reads as a holam; its class stays
        return;
    default:
        m.vowel = mark;
        m.vowelClass = ClassOfVowel(mark);
        return;
    }
}

[[noreturn]] void Malformed(const std::string& text, const std::string& why) {
    RuntimeErrors::Raise(RuntimeErrors::TypeMismatch, "stored pointed word \"" + text + "\": " + why);
}

std::vector<std::string_view> Split(std::string_view text, char separator) {
    std::vector<std::string_view> parts;
    size_t start = 0;
    while (true) {
        size_t end = text.find(separator, start);
        if (end == std::string_view::npos) {
            parts.push_back(text.substr(start));
            return parts;
        }
        parts.push_back(text.substr(start, end - start));
        start = end + 1;
    }
}

bool ParseWhole(std::string_view digits, int64_t& value) {
    if (!digits.empty() && digits.front() == '+') digits.remove_prefix(1);
    if (digits.empty()) return false;
    auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    return ec == std::errc{} && end == digits.data() + digits.size();
}

int32_t WholeNumberOf(std::string_view digits, const std::string& text) {
    int64_t value = 0;
    if (!ParseWhole(digits, value) || value < std::numeric_limits<int32_t>::min() ||
        value > std::numeric_limits<int32_t>::max())
        Malformed(text, "\"" + std::string(digits) + "\" is not a whole number");
    return static_cast<int32_t>(value);
}

// The tie-break value of a lookup row: a whole number, or a decimal rounded to the nearest whole
// number. False when the text is neither or does not fit in 32 bits.
bool TieBreakOf(const std::string& text, int32_t& tie) {
    int64_t whole = 0;
    if (ParseWhole(text, whole)) {
        if (whole < std::numeric_limits<int32_t>::min() || whole > std::numeric_limits<int32_t>::max()) return false;
        tie = static_cast<int32_t>(whole);
        return true;
    }
    if (text.empty()) return false;
    char* end = nullptr;
    double value = std::strtod(text.c_str(), &end);
    if (end != text.c_str() + text.size() || !std::isfinite(value)) return false;
    value = std::nearbyint(value);
    if (value < std::numeric_limits<int32_t>::min() || value > std::numeric_limits<int32_t>::max()) return false;
    tie = static_cast<int32_t>(value);
    return true;
}

bool ConsistentSizes(const PointedWord& w) {
    size_t n = w.Vowel.size();
    return w.VowelClass.size() == n && w.Dagesh.size() == n && w.Dot.size() == n;
}

}  // namespace

bool IsMark(unsigned char byte) {
    return (byte >= kSheva && byte <= kQamats) || byte == kHolam || byte == kQubuts || byte == kDagesh ||
           byte == kShinDot || byte == kSinDot;
}

PointedWord ParsePointedWord(const std::string& word, int codePage) {
    const AnsiText::Codec& codec = AnsiText::CodecFor(codePage);
    PointedWord result;
    result.Text = word;
    const std::string ansi = codec.ToAnsi(word);
    // One element per letter at most: room made once (words are parsed many times per request).
    result.Letters.reserve(ansi.size() * 2);
    for (auto* marks : {&result.Vowel, &result.VowelClass, &result.Dagesh, &result.Dot}) marks->reserve(ansi.size());
    int currentLetter = -1;
    for (unsigned char byte : ansi) {
        if (!IsMark(byte)) {
            result.Vowel.push_back(0);
            result.VowelClass.push_back(0);
            result.Dagesh.push_back(0);
            result.Dot.push_back(0);
            codec.AppendUtf8(byte, result.Letters);
            currentLetter = byte;
            continue;
        }
        if (currentLetter < 0) continue;  // a mark before the first letter belongs to nothing
        result.Pointed = true;
        size_t i = result.Vowel.size() - 1;
        ApplyMark(byte, currentLetter, i == 0,
                  LetterMarks{result.Vowel[i], result.VowelClass[i], result.Dagesh[i], result.Dot[i]});
    }
    return result;
}

std::string SerialisePointedWord(const PointedWord& word) {
    std::string out = word.Text + "|" + word.Letters + "|" + (word.Pointed ? "True" : "False") + "|";
    size_t n = word.Vowel.size();
    for (size_t i = 0; i < n; ++i) {
        if (i > 0) out += "*";
        auto at = [&](const std::vector<int32_t>& v) { return i < v.size() ? std::to_string(v[i]) : std::string("0"); };
        out += at(word.Vowel) + "," + at(word.VowelClass) + "," + at(word.Dagesh) + "," + at(word.Dot);
    }
    return out;
}

PointedWord DeserialisePointedWord(const std::string& text) {
    std::vector<std::string_view> fields = Split(text, '|');
    if (fields.size() != 4) Malformed(text, "expected 4 fields separated by \"|\", found " + std::to_string(fields.size()));
    PointedWord word;
    word.Text = std::string(fields[0]);
    word.Letters = std::string(fields[1]);
    if (fields[2] == "True")
        word.Pointed = true;
    else if (fields[2] != "False")
        Malformed(text, "pointed flag \"" + std::string(fields[2]) + "\" is neither True nor False");
    size_t letters = AnsiText::CharacterCount(word.Letters);
    std::vector<std::string_view> groups = fields[3].empty() ? std::vector<std::string_view>{} : Split(fields[3], '*');
    if (groups.size() != letters)
        Malformed(text, std::to_string(letters) + " letters but " + std::to_string(groups.size()) + " mark groups");
    for (std::string_view group : groups) {
        std::vector<std::string_view> numbers = Split(group, ',');
        if (numbers.size() != 4) Malformed(text, "mark group \"" + std::string(group) + "\" does not hold 4 numbers");
        word.Vowel.push_back(WholeNumberOf(numbers[0], text));
        word.VowelClass.push_back(WholeNumberOf(numbers[1], text));
        word.Dagesh.push_back(WholeNumberOf(numbers[2], text));
        word.Dot.push_back(WholeNumberOf(numbers[3], text));
    }
    return word;
}

std::string StripMarks(const std::string& word, int codePage) {
    const AnsiText::Codec& codec = AnsiText::CodecFor(codePage);
    std::string naked;
    for (unsigned char byte : codec.ToAnsi(word))
        if (!IsMark(byte)) naked.push_back(static_cast<char>(byte));
    return codec.ToUtf8(naked);
}

int32_t ScorePointedWord(const PointedWord& word, const PointedWord& candidate) {
    // A candidate of another length cannot be the same spelling: reject it rather than compare
    // letters that do not line up.
    if (!ConsistentSizes(word) || !ConsistentSizes(candidate) || word.Vowel.size() != candidate.Vowel.size()) return -1;
    int64_t score = 0;  // wide, so that a very long word cannot overflow the sum
    for (size_t i = 0; i < word.Vowel.size(); ++i) {
        bool bothVowels = word.Vowel[i] != 0 && candidate.Vowel[i] != 0;
        bool bothDots = word.Dot[i] != 0 && candidate.Dot[i] != 0;
        if (bothVowels && word.VowelClass[i] != candidate.VowelClass[i]) return -1;
        if (bothDots && word.Dot[i] != candidate.Dot[i]) score = -1;
        if (bothVowels && word.VowelClass[i] == candidate.VowelClass[i]) score += 5;
        if (bothVowels && word.Vowel[i] == candidate.Vowel[i]) score += 5;
        if (bothDots && word.Dot[i] == candidate.Dot[i]) score += 5;
        if (word.Dagesh[i] == kDagesh && candidate.Dagesh[i] == kDagesh) score += 5;
        if (word.Vowel[i] == 0 && candidate.Vowel[i] == 0) score += 1;
    }
    return static_cast<int32_t>(std::min<int64_t>(score, std::numeric_limits<int32_t>::max()));
}

void BestCandidate(const std::string& word, const std::vector<Candidate>& candidates, int32_t& bestScore,
                   int32_t& bestIndex, int codePage) {
    PointedWord parsed = ParsePointedWord(word, codePage);
    int32_t best = -1;
    int32_t index = -1;
    int32_t tie = 0;
    for (size_t i = 0; i < candidates.size() && i <= static_cast<size_t>(std::numeric_limits<int32_t>::max()); ++i) {
        const Candidate& c = candidates[i];
        if (c.RavekWord.empty()) continue;
        int32_t rowTie = 0;
        if (!TieBreakOf(c.TieBreak, rowTie)) continue;  // a row without a usable tie-break is skipped
        PointedWord stored;
        try {
            stored = DeserialisePointedWord(c.RavekWord);
        } catch (const AutomationError&) {
            continue;  // a damaged stored form is no candidate
        }
        int32_t score = ScorePointedWord(parsed, stored);
        if (score > best) {
            best = score;
            index = static_cast<int32_t>(i);
            tie = rowTie;
        } else if (score == best && rowTie < tie) {
            index = static_cast<int32_t>(i);
            tie = rowTie;
        }
    }
    bestScore = best;
    bestIndex = index;
}

}  // namespace PointedWords
