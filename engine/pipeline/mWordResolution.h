#pragma once
// Which recording speaks each word or run of words: the user's recordings, the voice's recorded
// dictionary, the smart lookup over the lookup database, and the prefix split. All data comes
// from the data slot of the active voice; the active voice's permissions say which sources it
// may use.
#include <array>
#include <cstddef>
#include <string>
#include <unordered_map>
#include <vector>

#include "PointedWord.h"
#include "SpeechItem.h"

struct EngineState;

namespace mWordResolution {

struct LookupResult {
    bool Found = false;
    std::string Text;
};

// Single-word classification of a word the tokeniser has just closed: user recordings first (no
// permission consulted), then the dictionary index.
void ClassifyWord(const EngineState& state, SpeechItem& item);

// Index test answered only when the slot is ready and the voice may use the dictionary.
bool InIndexDictionary(const EngineState& state, const std::string& text);
// Index test answered only when the slot is ready.
LookupResult LookupIndexDictionary(const EngineState& state, const std::string& text);
LookupResult LookupUserDictionary(const EngineState& state, const std::string& text);

// The dictionary word that best renders a possibly unpointed text.
LookupResult SmartLookup(const EngineState& state, const std::string& text);

bool PrefixMatches(const EngineState& state, const PointedWord& prefix, const PointedWord& word);
PointedWord StripPrefix(const EngineState& state, const PointedWord& prefix, const PointedWord& word);

struct StemResult {
    bool Ok = false;
    std::string Text;
    ItemSource Source = ItemSource::NoSource;
};
StemResult LookupStem(const EngineState& state, const PointedWord& rest);

struct SplitResult {
    bool Ok = false;
    std::array<std::string, 2> Parts;
    std::array<ItemKind, 2> Kinds{ItemKind::Sound, ItemKind::Word};
    std::array<ItemSource, 2> Sources{ItemSource::FromUserRecordings, ItemSource::NoSource};
};
// A known prefix followed by a stem that the user recordings, the index or the smart lookup
// resolves; prefixes are tried in priority order and the first that fits wins.
SplitResult SplitPrefix(const EngineState& state, const std::string& text);

// File of a split part: none for a sound, the recording for a user word, the extracted clip for a
// dictionary word.
std::string ItemFileFor(const EngineState& state, const std::string& text, ItemKind kind, ItemSource source);
// "<CurrentDumpFolder><DumpNameOf(word)>.mp3"
std::string DumpFilePathFor(const EngineState& state, const std::string& word);

// Sequence matching over a compacted list: at each position the longest run of words (up to
// SequenceLen, or the whole rest of the text for a user recording) that one recording speaks.
std::vector<SpeechItem> MatchSequences(const EngineState& state, const std::vector<SpeechItem>& input);

// One attempt of sequence matching at position `i` with `n` words. On a match the item(s) are
// appended to `output`, `i` moves past the words used, and the result is true.
class SequenceMatcher {
public:
    SequenceMatcher(const EngineState& state, const std::vector<SpeechItem>& input);
    bool MatchSequence(int64_t n, std::size_t& i, std::vector<SpeechItem>& output, bool splitAllowed);

private:
    bool MatchWholeRemainder(std::size_t& i, std::vector<SpeechItem>& output);
    // SmartLookup, SplitPrefix and the prefix sound's file, remembered by text for the life of
    // the matcher (one request): their sources do not change meanwhile, and text repeats.
    const LookupResult& Smart(const std::string& phrase);
    const SplitResult& Split(const std::string& phrase);
    const std::string& PrefixSoundFile(const std::string& prefix);
    // False when no source can speak a text holding a blank: no user recording, index word or
    // prefix holds one, and the lookup table has no such row.
    bool PhrasesResolvable() const;
    const EngineState& state_;
    const std::vector<SpeechItem>& input_;
    // Byte length of the words from each position to the end joined by single spaces, and the
    // number of those words; lets the whole-remainder test skip texts longer than any user key.
    std::vector<std::size_t> remainderLength_;
    std::vector<std::size_t> remainderWords_;
    std::size_t longestUserKey_ = 0;
    bool prefixWithBlank_ = false;
    std::string sexWord_;
    std::size_t remainderTriedAt_ = SIZE_MAX;
    std::unordered_map<std::string, LookupResult> smart_;
    std::unordered_map<std::string, SplitResult> split_;
    std::unordered_map<std::string, std::string> prefixSoundFile_;
};

// Sequence matching of one request's compacted items a slice at a time, with the same result as
// MatchSequences over the whole list (a slice ends where a match ends). Not movable: the matcher
// refers to the items it holds.
class SlicedMatcher {
public:
    SlicedMatcher(const EngineState& state, std::vector<SpeechItem> input);
    SlicedMatcher(const SlicedMatcher&) = delete;
    SlicedMatcher& operator=(const SlicedMatcher&) = delete;
    // Matches on from where the last call stopped until at least `items` more input items are
    // used, or to the end; appends what it matched to `output`.
    void Match(std::size_t items, std::vector<SpeechItem>& output);
    bool Done() const { return next_ >= input_.size(); }

private:
    const EngineState& state_;
    const std::vector<SpeechItem> input_;
    SequenceMatcher matcher_;
    std::size_t next_ = 0;
};

}  // namespace mWordResolution
