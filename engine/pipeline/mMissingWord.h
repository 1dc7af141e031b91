#pragma once
// What is heard in place of a word that no recording speaks: the signal sound, the word spelled
// letter by letter after an announcing sound, or nothing.
#include <vector>

#include "SpeechItem.h"

struct EngineState;

namespace mMissingWord {
enum Policy : int32_t { Silent = 0, Signal = 1, Spell = 2, Sapi5 = 3 };
// Appends the items of the configured policy for the missing word `word` to `output`.
void ExpandMissingWord(EngineState& state, const SpeechItem& word, std::vector<SpeechItem>& output);
}  // namespace mMissingWord
