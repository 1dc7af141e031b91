#pragma once
// First two phases of utterance preparation: splitting the request text into words and break
// items by the two separator sets, then folding runs of breaks into one item.
#include <array>
#include <string>
#include <vector>

#include "Dictionary.h"
#include "SpeechItem.h"

struct EngineState;

namespace mTokeniser {

// Which ANSI character codes (0..255) a separator set holds. A key counts only when it is the
// decimal code written without leading zeros ("46", not "046" or " 46"), exactly as the set
// compares its keys; other pieces never match a character.
using SeparatorTable = std::array<bool, 256>;
SeparatorTable SeparatorTableOf(const Dictionary& set);

// Splits `text` into Word, WordBreak and SentenceBreak items. Positions count characters from 1
// (after lower-casing for the English language class). Each word is classified at once against
// the user recordings and the dictionary index. An empty text raises error 5.
std::vector<SpeechItem> Tokenise(EngineState& state, const std::string& text, const Dictionary& sentenceSet,
                                 const Dictionary& wordSet);

// A run of consecutive break items becomes one item (a sentence break wins over word breaks),
// except that the last item of the list always stays an item of its own.
std::vector<SpeechItem> CompactBreaks(const std::vector<SpeechItem>& items);

inline bool IsBreak(const SpeechItem& item) { return item.Kind == ItemKind::WordBreak || item.Kind == ItemKind::SentenceBreak; }

}  // namespace mTokeniser
