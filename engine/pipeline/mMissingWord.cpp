#include "mMissingWord.h"

#include "AnsiText.h"
#include "EngineState.h"
#include "PointedWord.h"
#include "mUtterance.h"

namespace mMissingWord {

namespace {

constexpr int kHebrewCodePage = 1255;

// Appends a sound or letter item. With short names avoided the item gets a numbered ".wav" copy
// of its system recording, and an item whose recording does not exist is skipped (and logged);
// otherwise the hand-off takes the recording's path itself.
void AppendSystemItem(EngineState& state, ItemKind kind, int32_t position, const std::string& name,
                      std::vector<SpeechItem>& output) {
    SpeechItem item;
    item.Kind = kind;
    item.Position = position;
    item.Text = name;
    if (state.Settings.AvoidShortNames) {
        const std::string* source = state.SystemDictionary(state.ActiveSlot()).Find(name);
        // An empty name gives an item the hand-off skips anyway.
        if (!name.empty() && !mUtterance::RecordingExists(state, item, source ? *source : std::string())) return;
        if (source) {
            item.File = mUtterance::NextNumberedName(state, ".wav");
            mUtterance::CopyOver(*source, item.File);
        }
    }
    output.push_back(std::move(item));
}

// The letters of a word, without the Hebrew vowel points and marks (those characters that
// Windows-1255 codes as marks). Every other character is a letter, whatever the language: the
// same byte values are letters in the other code pages.
std::vector<std::string> SpelledLetters(const std::string& word) {
    const AnsiText::Codec& hebrew = AnsiText::CodecFor(kHebrewCodePage);
    std::vector<std::string> letters;
    for (std::string& character : AnsiText::Characters(word)) {
        const std::vector<char32_t> code = AnsiText::DecodeUtf8(character);
        const int byte = code.size() == 1 && code[0] >= 0x0590 && code[0] <= 0x05FF ? hebrew.CodeOf(code[0]) : -1;
        if (byte >= 0 && PointedWords::IsMark(static_cast<unsigned char>(byte))) continue;
        letters.push_back(std::move(character));
    }
    return letters;
}

}  // namespace

void ExpandMissingWord(EngineState& state, const SpeechItem& word, std::vector<SpeechItem>& output) {
    switch (state.Settings.MissingWordPolicy) {
    case Signal:
        AppendSystemItem(state, ItemKind::Sound, word.Position, state.Settings.MissingWordSignal, output);
        break;
    case Spell: {
        AppendSystemItem(state, ItemKind::Sound, word.Position, state.Settings.PreSpellWord, output);
        int32_t position = word.Position;
        for (const std::string& letter : SpelledLetters(word.Text))
            AppendSystemItem(state, ItemKind::Letter, position++, AnsiText::ToLower(letter), output);
        break;
    }
    default:  // "sapi5" and unknown policies: the word is silent
        break;
    }
}

}  // namespace mMissingWord
