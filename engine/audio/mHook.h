#pragma once
// The playlist of the utterance being played: per entry its file, its kind and the word index
// reported when it starts; the current and last index, the stop-pending flag and the alias under
// which the current entry is open. One playlist per engine object.
#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace mHook {

class Playlist {
public:
    // Back to one (unused) element, last index -1, current index 0, stop-pending cleared.
    void ResetPlaylist();
    // Appends an entry; error 6 when the last index would overflow.
    void AddToPlaylist(const std::string& path, int32_t kind, int32_t wordIndex);
    // Moves to the next entry; error 6 on overflow.
    void AdvancePlaylist();
    int32_t CurrentIndex() const { return currentIndex_; }
    int32_t LastIndex() const { return lastIndex_; }
    // The current entry's fields; error 9 when the current index lies outside the playlist.
    const std::string& CurrentEntryFile() const;
    int32_t CurrentEntryKind() const;
    int32_t CurrentEntryWordIndex() const;

    void SetStopPending() { stopPending_ = true; }
    void ClearStopPending() { stopPending_ = false; }
    bool IsStopPending() const { return stopPending_; }

    void SetCurrentAlias(const std::string& alias) { currentAlias_ = alias; }
    const std::string& GetCurrentAlias() const { return currentAlias_; }

    // Random alias core for the current entry (the caller puts "A" in front): three random
    // characters, the last "/" of the entry's path and the three characters after it, one random
    // character, the third and second characters before the last ".", one random character;
    // blanks removed. "EMERRX" when the path has no "/" or no such characters.
    std::string MakeAlias();
    // Uniform integer in low..high.
    int32_t RandomBetween(int32_t low, int32_t high);

private:
    size_t CurrentSlot() const;
    std::string RandomCharacter();

    std::vector<std::string> files_;
    std::vector<int32_t> kinds_;
    std::vector<int32_t> wordIndexes_;
    int32_t lastIndex_ = -1;
    int32_t currentIndex_ = 0;
    bool stopPending_ = false;
    std::string currentAlias_;
    std::mt19937 generator_;  // fixed start state: the same aliases in every run until re-seeded
};

}  // namespace mHook
