#include "mMissingWord.h"

#include "AnsiText.h"
#include "EngineState.h"
#include "PointedWord.h"
#include "mUtterance.h"

namespace mMissingWord {

namespace {

// The item gets a numbered ".wav" copy of its system recording when short names are avoided;
// otherwise the hand-off takes the recording's path itself.
SpeechItem SystemItem(EngineState& state, ItemKind kind, int32_t position, const std::string& name) {
    SpeechItem item;
    item.Kind = kind;
    item.Position = position;
    item.Text = name;
    if (state.Settings.AvoidShortNames) {
        const std::string* source = state.SystemDictionary(state.ActiveSlot()).Find(name);
        item.File = mUtterance::NextNumberedName(state, ".wav");
        mUtterance::CopyOver(source ? *source : std::string(), item.File);
    }
    return item;
}

}  // namespace

void ExpandMissingWord(EngineState& state, const SpeechItem& word, std::vector<SpeechItem>& output) {
    switch (state.Settings.MissingWordPolicy) {
    case Signal:
        output.push_back(SystemItem(state, ItemKind::Sound, word.Position, state.Settings.MissingWordSignal));
        break;
    case Spell: {
        output.push_back(SystemItem(state, ItemKind::Sound, word.Position, state.Settings.PreSpellWord));
        const PointedWord parsed = PointedWords::ParsePointedWord(word.Text, state.AnsiCodePage);
        int32_t position = word.Position;
        for (const std::string& letter : AnsiText::Characters(parsed.Letters))
            output.push_back(SystemItem(state, ItemKind::Letter, position++, AnsiText::ToLower(letter)));
        break;
    }
    default:  // "sapi5" and unknown policies: the word is silent
        break;
    }
}

}  // namespace mMissingWord
