#include "PointedWord.h"

#include "AutomationError.h"

namespace PointedWords {
bool IsMark(unsigned char) { return false; }
PointedWord ParsePointedWord(const std::string& word, int) { return PointedWord{word, word, false, {}, {}, {}, {}}; }
std::string SerialisePointedWord(const PointedWord& word) { return word.Text; }
PointedWord DeserialisePointedWord(const std::string& text) { return PointedWord{text, text, false, {}, {}, {}, {}}; }
std::string StripMarks(const std::string& word, int) { return word; }
int32_t ScorePointedWord(const PointedWord&, const PointedWord&) { return -1; }
void BestCandidate(const std::string&, const std::vector<Candidate>&, int32_t& bestScore, int32_t& bestIndex, int) {
    bestScore = -1;
    bestIndex = -1;
}
}  // namespace PointedWords
