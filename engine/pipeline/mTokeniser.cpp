#include "mTokeniser.h"

#include <climits>

#include "AnsiText.h"
#include "AutomationError.h"
#include "EngineState.h"
#include "mWordResolution.h"

namespace mTokeniser {

SeparatorTable SeparatorTableOf(const Dictionary& set) {
    SeparatorTable table{};
    for (int code = 0; code < 256; ++code) table[code] = set.Exists(std::to_string(code));
    return table;
}

namespace {

std::string TextOf(const std::vector<char32_t>& chars, std::size_t from, std::size_t to) {
    std::string text;
    for (std::size_t k = from; k < to; ++k) text += AnsiText::EncodeUtf8(chars[k]);
    return text;
}

SpeechItem BreakItem(ItemKind kind, std::size_t index, char32_t ch) {
    SpeechItem item;
    item.Kind = kind;
    item.Position = static_cast<int32_t>(index + 1);
    item.Text = AnsiText::EncodeUtf8(ch);
    return item;
}

}  // namespace

std::vector<SpeechItem> Tokenise(EngineState& state, const std::string& text, const Dictionary& sentenceSet,
                                 const Dictionary& wordSet) {
    const std::vector<char32_t> chars = AnsiText::DecodeUtf8(state.LowerCaseWords() ? AnsiText::ToLower(text) : text);
    // The code of the first character is taken unconditionally, so an empty text is an invalid call.
    if (chars.empty()) RuntimeErrors::Raise(RuntimeErrors::InvalidProcedureCall);
    if (chars.size() > static_cast<std::size_t>(INT32_MAX))
        RuntimeErrors::Raise(RuntimeErrors::Overflow, "the text has more than 2147483647 characters");

    const SeparatorTable sentences = SeparatorTableOf(sentenceSet);
    const SeparatorTable words = SeparatorTableOf(wordSet);
    const AnsiText::Codec& codec = state.Codec();

    std::vector<SpeechItem> items;
    bool inWord = false;
    std::size_t start = 0;
    auto closeWord = [&](std::size_t end) {
        SpeechItem item;
        item.Kind = ItemKind::Word;
        item.Position = static_cast<int32_t>(start + 1);
        item.Text = TextOf(chars, start, end);
        mWordResolution::ClassifyWord(state, item);
        items.push_back(std::move(item));
        inWord = false;
    };
    for (std::size_t pos = 0; pos < chars.size(); ++pos) {
        const int code = codec.CodeOf(chars[pos]);
        const bool sentenceBreak = sentences[code];
        if (sentenceBreak || words[code]) {
            if (inWord) closeWord(pos);
            items.push_back(BreakItem(sentenceBreak ? ItemKind::SentenceBreak : ItemKind::WordBreak, pos, chars[pos]));
        } else if (!inWord) {
            inWord = true;
            start = pos;
        }
    }
    if (inWord) closeWord(chars.size());
    return items;
}

std::vector<SpeechItem> CompactBreaks(const std::vector<SpeechItem>& items) {
    std::vector<SpeechItem> result;
    if (items.empty()) return result;
    const std::size_t last = items.size() - 1;
    std::size_t i = 0;
    while (i <= last) {
        if (i == last) {
            result.push_back(items[i]);
            break;
        }
        if (!IsBreak(items[i])) {
            result.push_back(items[i]);
            ++i;
            continue;
        }
        // Scan the run of breaks after item i. The scan never passes the last item, but the last
        // item's kind still counts when looking for the first sentence break of the run.
        std::ptrdiff_t firstSentence = items[i].Kind == ItemKind::SentenceBreak ? static_cast<std::ptrdiff_t>(i) : -1;
        std::size_t k = i + 1;
        for (;;) {
            const bool isLast = k == last;
            if (isLast || IsBreak(items[k])) {
                if (firstSentence < 0 && items[k].Kind == ItemKind::SentenceBreak) firstSentence = static_cast<std::ptrdiff_t>(k);
            }
            if (isLast || !IsBreak(items[k])) break;
            ++k;
        }
        if (k > i + 1) {
            SpeechItem merged;
            const SpeechItem& model = firstSentence >= 0 ? items[firstSentence] : items[i];
            merged.Kind = firstSentence >= 0 ? ItemKind::SentenceBreak : ItemKind::WordBreak;
            merged.Position = model.Position;
            merged.Text = model.Text;
            result.push_back(std::move(merged));
        } else {
            result.push_back(items[i]);
        }
        i = k;
    }
    return result;
}

}  // namespace mTokeniser
