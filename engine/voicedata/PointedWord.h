#pragma once
// A Hebrew word split into letters with the vowel, vowel class, dagesh and dot of each letter,
// worked out on the Windows-1255 bytes of the word.
#include <cstdint>
#include <string>
#include <vector>

struct PointedWord {
    std::string Text;     // the word as given (UTF-8)
    std::string Letters;  // the word without marks (UTF-8), one character per letter
    bool Pointed = false;
    std::vector<int32_t> Vowel;
    std::vector<int32_t> VowelClass;
    std::vector<int32_t> Dagesh;
    std::vector<int32_t> Dot;
};

namespace PointedWords {
// `codePage` is the ANSI code page of the engine's locale (1255 for Hebrew).
bool IsMark(unsigned char byte);
PointedWord ParsePointedWord(const std::string& word, int codePage = 1255);
std::string SerialisePointedWord(const PointedWord& word);
// Raises error 13 (type mismatch) naming the text when it is not a stored form.
PointedWord DeserialisePointedWord(const std::string& text);
std::string StripMarks(const std::string& word, int codePage = 1255);
int32_t ScorePointedWord(const PointedWord& word, const PointedWord& candidate);

// One lookup row: unpointed form, stored text form, tie-break value (as text).
struct Candidate {
    std::string NakedWord;
    std::string RavekWord;
    std::string TieBreak;
};
// Best candidate for `word`; bestIndex -1 when none is acceptable.
void BestCandidate(const std::string& word, const std::vector<Candidate>& candidates, int32_t& bestScore,
                   int32_t& bestIndex, int codePage = 1255);
}  // namespace PointedWords
