// Parses, stores, restores and scores arbitrary words and stored forms: never a crash, and a
// parsed word restores to the same letters and marks.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "AutomationError.h"
#include "PointedWord.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    const size_t cut = input.find('\t');
    const std::string word = input.substr(0, cut);
    const std::string stored = cut == std::string::npos ? std::string() : input.substr(cut + 1);
    try {
        PointedWord parsed = PointedWords::ParsePointedWord(word);
        PointedWord again = PointedWords::DeserialisePointedWord(PointedWords::SerialisePointedWord(parsed));
        if (again.Vowel != parsed.Vowel || again.Dagesh != parsed.Dagesh || again.Dot != parsed.Dot) std::abort();
        PointedWords::StripMarks(word);
        try {
            PointedWords::ScorePointedWord(parsed, PointedWords::DeserialisePointedWord(stored));
        } catch (const AutomationError&) {
        }
        std::vector<PointedWords::Candidate> candidates{{PointedWords::StripMarks(word), stored, "1"},
                                                        {word, stored, stored}, {"", "", ""}};
        int32_t best = 0, index = 0;
        PointedWords::BestCandidate(word, candidates, best, index);
        if (index < -1 || index >= static_cast<int32_t>(candidates.size())) std::abort();
    } catch (const AutomationError&) {
    }
    return 0;
}
