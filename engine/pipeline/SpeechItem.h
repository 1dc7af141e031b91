#pragma once
#include <cstdint>
#include <string>

enum class ItemKind : int32_t { Word = 1, WordBreak = 2, SentenceBreak = 3, Letter = 5, Sound = 6 };
enum class ItemSource : int32_t { NoSource = 0, FromUserRecordings = 1, FromDictionary = 2 };

// One element of an utterance: a word or phrase, a break, a spelled letter or an inserted sound.
struct SpeechItem {
    std::string Text;
    int32_t Position = 0;  // 1-based character position in the request text
    ItemKind Kind{};
    bool Found = false;
    std::string File;
    ItemSource Source = ItemSource::NoSource;

    bool operator==(const SpeechItem&) const = default;
};
