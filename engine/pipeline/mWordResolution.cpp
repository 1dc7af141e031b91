#include "mWordResolution.h"

#include "mUtterance.h"

#include <algorithm>

#include "AnsiText.h"
#include "EngineState.h"
#include "mDump.h"
#include "mMDBConnection.h"
#include "mUtterance.h"

namespace mWordResolution {

namespace {

int32_t At(const std::vector<int32_t>& values, std::size_t index) { return index < values.size() ? values[index] : 0; }

SpeechItem FoundWord(const std::string& text, int32_t position, ItemSource source, std::string file) {
    SpeechItem item;
    item.Kind = ItemKind::Word;
    item.Text = text;
    item.Position = position;
    item.Found = true;
    item.Source = source;
    item.File = std::move(file);
    return item;
}

// Folder of the active slot's system recordings, where the prefix sounds live.
std::string SystemVoiceFolder(const EngineState& state) {
    return state.Settings.SystemVoicePath + "/" + state.VoiceNames[state.ActiveSlot()];
}

// The lookup table is chosen by the sex word of the active voice: "Male" for voice 3 only.
std::string SexWordOf(const EngineState& state) { return state.ActiveVoice == 2 ? "Male" : "Female"; }

}  // namespace

std::string DumpFilePathFor(const EngineState& state, const std::string& word) {
    return state.CurrentDumpFolder + mDump::DumpNameOf(word) + ".mp3";
}

void ClassifyWord(const EngineState& state, SpeechItem& item) {
    const Dictionary& user = state.UserDictionary(state.ActiveSlot());
    if (const std::string* path = user.Find(item.Text)) {
        item.Found = true;
        item.Source = ItemSource::FromUserRecordings;
        item.File = *path;
    } else if (InIndexDictionary(state, item.Text)) {
        item.Found = true;
        item.Source = ItemSource::FromDictionary;
        item.File = DumpFilePathFor(state, item.Text);
    } else {
        item.Found = false;
        item.Source = ItemSource::NoSource;
        item.File.clear();
    }
}

bool InIndexDictionary(const EngineState& state, const std::string& text) {
    const int slot = state.ActiveSlot();
    return state.VoiceReady[slot] && state.ActivePermissions().UseDictionary && state.IndexDictionary(slot).Exists(text);
}

LookupResult LookupIndexDictionary(const EngineState& state, const std::string& text) {
    const int slot = state.ActiveSlot();
    if (state.VoiceReady[slot] && state.IndexDictionary(slot).Exists(text)) return {true, text};
    return {};
}

LookupResult LookupUserDictionary(const EngineState& state, const std::string& text) {
    if (state.UserDictionary(state.ActiveSlot()).Exists(text)) return {true, text};
    return {};
}

LookupResult SmartLookup(const EngineState& state, const std::string& text) {
    const int cp = state.AnsiCodePage;
    const std::string sexWord = SexWordOf(state);
    const std::string bare = PointedWords::ParsePointedWord(text, cp).Letters;

    std::vector<PointedWords::Candidate> candidates;
    bool found = false;
    state.Database.LookupWord(bare, candidates, sexWord, found, cp);
    if (!found) candidates.clear();
    // The bare spelling itself, when the voice recorded it, competes after the query's candidates.
    if (LookupIndexDictionary(state, bare).Found) {
        PointedWords::Candidate own{bare, PointedWords::SerialisePointedWord(PointedWords::ParsePointedWord(bare, cp)), "1"};
        if (!candidates.empty() && candidates.back().RavekWord.empty() && candidates.back().NakedWord.empty())
            candidates.back() = std::move(own);
        else
            candidates.push_back(std::move(own));
    }
    if (candidates.empty()) return {};

    int32_t bestScore = -1, bestIndex = -1;
    PointedWords::BestCandidate(text, candidates, bestScore, bestIndex, cp);
    if (bestScore < 0 || bestIndex < 0 || static_cast<std::size_t>(bestIndex) >= candidates.size()) return {};
    return {true, PointedWords::DeserialisePointedWord(candidates[bestIndex].RavekWord).Text};
}

bool PrefixMatches(const EngineState&, const PointedWord& prefix, const PointedWord& word) {
    // The letters of both words are well-formed UTF-8 (made from code page bytes), so the word
    // starts with the prefix's letters exactly when its text starts with the prefix's bytes. This
    // test runs for every prefix at every attempt of the sequence matching: no allocation here.
    if (word.Letters.compare(0, prefix.Letters.size(), prefix.Letters) != 0) return false;
    const std::size_t letters = AnsiText::CharacterCount(prefix.Letters);
    for (std::size_t c = 0; c < letters; ++c)
        if (At(prefix.Vowel, c) != 0 && At(word.VowelClass, c) != At(prefix.VowelClass, c)) return false;
    return true;
}

PointedWord StripPrefix(const EngineState& state, const PointedWord& prefix, const PointedWord& word) {
    const std::vector<char32_t> text = AnsiText::DecodeUtf8(word.Text);
    const std::vector<char32_t> letters = AnsiText::DecodeUtf8(prefix.Letters);
    const AnsiText::Codec& codec = state.Codec();
    // k counts characters from 1; 0 stands before the first character.
    std::size_t k = 0;
    for (char32_t letter : letters) {
        while (k < text.size()) {
            ++k;
            if (text[k - 1] == letter) break;
        }
    }
    std::size_t next = k;  // 0-based index of the character after k
    while (next < text.size() && PointedWords::IsMark(static_cast<unsigned char>(codec.CodeOf(text[next])))) ++next;
    std::string rest;
    for (std::size_t j = next; j < text.size(); ++j) rest += AnsiText::EncodeUtf8(text[j]);
    return PointedWords::ParsePointedWord(rest, state.AnsiCodePage);
}

StemResult LookupStem(const EngineState& state, const PointedWord& rest) {
    const VoicePermission& may = state.ActivePermissions();
    const std::string& stem = rest.Text;
    if (may.UseUserRecordings && LookupUserDictionary(state, stem).Found) return {true, stem, ItemSource::FromUserRecordings};
    if (may.UseDictionary && LookupIndexDictionary(state, stem).Found) return {true, stem, ItemSource::FromDictionary};
    if (may.UseSmartLookup) {
        LookupResult smart = SmartLookup(state, stem);
        if (smart.Found) return {true, smart.Text, ItemSource::FromDictionary};
    }
    return {};
}

SplitResult SplitPrefix(const EngineState& state, const std::string& text) {
    const PrefixTable& table = state.Prefixes;
    // Count is the highest index of the table: with fewer than two rows no prefix is tried.
    if (table.Count <= 0) return {};
    const PointedWord word = PointedWords::ParsePointedWord(text, state.AnsiCodePage);
    const std::size_t rows = std::min(static_cast<std::size_t>(table.Count) + 1, table.Patterns.size());
    for (std::size_t p = 0; p < rows; ++p) {
        const PointedWord& prefix = table.Patterns[p];
        if (!PrefixMatches(state, prefix, word)) continue;
        const PointedWord rest = StripPrefix(state, prefix, word);
        if (AnsiText::CharacterCount(rest.Letters) <= 1) continue;
        StemResult stem = LookupStem(state, rest);
        if (!stem.Ok) continue;
        SplitResult split;
        split.Ok = true;
        split.Parts = {prefix.Text, stem.Text};
        split.Sources = {ItemSource::FromUserRecordings, stem.Source};
        return split;
    }
    return {};
}

std::string ItemFileFor(const EngineState& state, const std::string& text, ItemKind kind, ItemSource source) {
    if (kind == ItemKind::Sound) return {};
    if (source == ItemSource::FromUserRecordings) return state.UserDictionary(state.ActiveSlot()).Item(text);
    if (source == ItemSource::FromDictionary) return DumpFilePathFor(state, text);
    return {};
}

SequenceMatcher::SequenceMatcher(const EngineState& state, const std::vector<SpeechItem>& input)
    : state_(state), input_(input), remainderLength_(input.size() + 1, 0), remainderWords_(input.size() + 1, 0) {
    for (std::size_t k = input.size(); k-- > 0;) {
        const bool isWord = input[k].Kind == ItemKind::Word;
        remainderLength_[k] = remainderLength_[k + 1] + (isWord ? input[k].Text.size() + 1 : 0);
        remainderWords_[k] = remainderWords_[k + 1] + (isWord ? 1 : 0);
    }
    for (const auto& entry : state.UserDictionary(state.ActiveSlot()).Entries())
        longestUserKey_ = std::max(longestUserKey_, entry.first.size());
    for (const PointedWord& prefix : state.Prefixes.Patterns)
        if (prefix.Text.find(' ') != std::string::npos) prefixWithBlank_ = true;
    sexWord_ = SexWordOf(state);
}

bool SequenceMatcher::PhrasesResolvable() const {
    const int slot = state_.ActiveSlot();
    return prefixWithBlank_ || state_.UserDictionary(slot).KeysWithBlank() > 0 ||
           state_.IndexDictionary(slot).KeysWithBlank() > 0 || state_.Database.MayHoldPhrases(sexWord_);
}

bool SequenceMatcher::MatchWholeRemainder(std::size_t& i, std::vector<SpeechItem>& output) {
    // The result does not depend on the attempt's word count, so it is worked out once per position.
    if (remainderTriedAt_ == i) return false;
    remainderTriedAt_ = i;
    const std::size_t words = remainderWords_[i];
    if (words == 0 || !state_.ActivePermissions().UseUserRecordings) return false;
    // Every word but item i itself is preceded by one space.
    const std::size_t length = remainderLength_[i] - (input_[i].Kind == ItemKind::Word ? 1 : 0);
    if (length > longestUserKey_) return false;
    std::string joined;
    joined.reserve(length);
    for (std::size_t k = i; k < input_.size(); ++k) {
        if (input_[k].Kind != ItemKind::Word) continue;
        if (k != i) joined += ' ';
        joined += input_[k].Text;
    }
    if (!LookupUserDictionary(state_, joined).Found) return false;
    const std::string& path = state_.UserDictionary(state_.ActiveSlot()).Item(joined);
    output.push_back(FoundWord(joined, input_[i].Position, ItemSource::FromUserRecordings, path));
    i = std::min(i + 2 * words - 1, input_.size());
    return true;
}

bool SequenceMatcher::MatchSequence(int64_t n, std::size_t& i, std::vector<SpeechItem>& output, bool splitAllowed) {
    if (MatchWholeRemainder(i, output)) return true;
    if (n < 1) return false;  // no item to join: the phrase is empty
    const int64_t lastIndex = static_cast<int64_t>(i) + 2 * (n - 1);
    if (lastIndex >= static_cast<int64_t>(input_.size())) return false;

    std::string phrase;
    for (int64_t k = static_cast<int64_t>(i); k <= lastIndex; k += 2) {
        if (k != static_cast<int64_t>(i)) phrase += ' ';
        phrase += input_[k].Text;
    }
    if (phrase.empty()) return false;
    // A run of words (or a word with a blank) that no source holds: the common case, answered
    // without the lookups.
    if (phrase.find(' ') != std::string::npos && !PhrasesResolvable()) return false;

    const int32_t position = input_[i].Position;
    const VoicePermission& may = state_.ActivePermissions();
    if (may.UseUserRecordings && LookupUserDictionary(state_, phrase).Found) {
        output.push_back(FoundWord(phrase, position, ItemSource::FromUserRecordings,
                                   state_.UserDictionary(state_.ActiveSlot()).Item(phrase)));
    } else if (may.UseDictionary && LookupIndexDictionary(state_, phrase).Found) {
        output.push_back(FoundWord(phrase, position, ItemSource::FromDictionary, DumpFilePathFor(state_, phrase)));
    } else {
        if (!may.UseSmartLookup) return false;
        const LookupResult& smart = Smart(phrase);
        if (smart.Found) {
            output.push_back(FoundWord(smart.Text, position, ItemSource::FromDictionary, DumpFilePathFor(state_, smart.Text)));
        } else {
            if (!splitAllowed || AnsiText::CharacterCount(phrase) < 3) return false;
            const SplitResult& split = Split(phrase);
            if (!split.Ok) return false;
            for (std::size_t part = 0; part < 2; ++part) {
                SpeechItem item = FoundWord(split.Parts[part], position, split.Sources[part], {});
                item.Kind = split.Kinds[part];
                if (part == 0) {
                    item.File = PrefixSoundFile(split.Parts[0]);
                } else {
                    item.File = ItemFileFor(state_, item.Text, split.Kinds[part], split.Sources[part]);
                }
                output.push_back(std::move(item));
            }
        }
    }
    i = static_cast<std::size_t>(lastIndex) + 1;
    return true;
}

const LookupResult& SequenceMatcher::Smart(const std::string& phrase) {
    auto found = smart_.find(phrase);
    if (found == smart_.end()) found = smart_.emplace(phrase, SmartLookup(state_, phrase)).first;
    return found->second;
}

const SplitResult& SequenceMatcher::Split(const std::string& phrase) {
    auto found = split_.find(phrase);
    if (found == split_.end()) found = split_.emplace(phrase, SplitPrefix(state_, phrase)).first;
    return found->second;
}

const std::string& SequenceMatcher::PrefixSoundFile(const std::string& prefix) {
    auto found = prefixSoundFile_.find(prefix);
    if (found == prefixSoundFile_.end()) {
        const std::string& fileName = state_.Prefixes.Prefixes.Item(prefix);
        found = prefixSoundFile_.emplace(prefix, mUtterance::FileInFolder(SystemVoiceFolder(state_), fileName)).first;
    }
    return found->second;
}

namespace {

// Matches from input item `i` until item `end` or beyond is reached; `i` moves on.
void MatchRange(const EngineState& state, SequenceMatcher& matcher, const std::vector<SpeechItem>& input, std::size_t& i,
                std::size_t end, std::vector<SpeechItem>& output) {
    const int64_t sequenceLen = state.Settings.SequenceLen;
    while (i < end) {
        // Attempts with more words than are left cannot match except through the whole-remainder
        // step, which every attempt makes alike, so the longest attempt is capped at what is left.
        const int64_t longest = static_cast<int64_t>((input.size() - 1 - i) / 2) + 1;
        bool matched = false;
        for (int64_t n = std::min(sequenceLen, longest);; --n) {
            if (matcher.MatchSequence(n, i, output, true)) {
                matched = true;
                break;
            }
            if (n <= 1) break;
        }
        if (!matched) output.push_back(input[i++]);
    }
}

}  // namespace

std::vector<SpeechItem> MatchSequences(const EngineState& state, const std::vector<SpeechItem>& input) {
    std::vector<SpeechItem> output;
    output.reserve(input.size());
    SequenceMatcher matcher(state, input);
    std::size_t i = 0;
    MatchRange(state, matcher, input, i, input.size(), output);
    return output;
}

SlicedMatcher::SlicedMatcher(const EngineState& state, std::vector<SpeechItem> input)
    : state_(state), input_(std::move(input)), matcher_(state, input_) {}

void SlicedMatcher::Match(std::size_t items, std::vector<SpeechItem>& output) {
    MatchRange(state_, matcher_, input_, next_, std::min(input_.size(), next_ + items), output);
}

}  // namespace mWordResolution
