#include "mHook.h"

#include <climits>
#include <cmath>
#include <random>
#include <vector>

#include "AnsiText.h"
#include "AutomationError.h"

namespace mHook {
namespace {

struct Playlist {
    std::vector<std::string> files;
    std::vector<int32_t> kinds;
    std::vector<int32_t> wordIndexes;
    int32_t lastIndex = -1;
    int32_t currentIndex = 0;
    bool stopPending = false;
    std::string currentAlias;
};
Playlist playlist;
std::mt19937 generator;  // fixed start state: the same aliases in every run until re-seeded

size_t CurrentSlot() {
    const int32_t i = playlist.currentIndex;
    if (i < 0 || static_cast<size_t>(i) >= playlist.files.size())
        RuntimeErrors::Raise(RuntimeErrors::SubscriptOutOfRange, "playlist entry " + std::to_string(i));
    return static_cast<size_t>(i);
}

int32_t Increment(int32_t value, const char* what) {
    if (value == INT32_MAX) RuntimeErrors::Raise(RuntimeErrors::Overflow, what);
    return value + 1;
}

std::string RandomCharacter() { return std::string(1, static_cast<char>(RandomBetween(65, 122))); }

std::string WithoutBlanks(std::string text) {
    std::erase(text, ' ');
    return text;
}

// Characters start..start+count-1 (1-based) of a character list; error 5 for a start below 1.
std::string Mid(const std::vector<std::string>& chars, int64_t start, size_t count) {
    if (start < 1) RuntimeErrors::Raise(RuntimeErrors::InvalidProcedureCall, "character position " + std::to_string(start));
    std::string out;
    for (size_t i = static_cast<size_t>(start - 1); i < chars.size() && count > 0; ++i, --count) out += chars[i];
    return out;
}

// 1-based position of the last occurrence of a character, 0 when absent.
int64_t LastPosition(const std::vector<std::string>& chars, const char* c) {
    for (size_t i = chars.size(); i > 0; --i)
        if (chars[i - 1] == c) return static_cast<int64_t>(i);
    return 0;
}

}  // namespace

void ResetPlaylist() {
    for (auto* v : {&playlist.kinds, &playlist.wordIndexes}) v->resize(1);
    playlist.files.resize(1);
    playlist.lastIndex = -1;
    playlist.currentIndex = 0;
    playlist.stopPending = false;
}

void AddToPlaylist(const std::string& path, int32_t kind, int32_t wordIndex) {
    const int32_t last = Increment(playlist.lastIndex, "playlist size");
    const size_t size = static_cast<size_t>(last) + 1;
    if (playlist.files.size() < size) {
        playlist.files.resize(size);
        playlist.kinds.resize(size);
        playlist.wordIndexes.resize(size);
    }
    playlist.files[last] = path;
    playlist.kinds[last] = kind;
    playlist.wordIndexes[last] = wordIndex;
    playlist.lastIndex = last;
}

void AdvancePlaylist() { playlist.currentIndex = Increment(playlist.currentIndex, "playlist index"); }
int32_t CurrentIndex() { return playlist.currentIndex; }
int32_t LastIndex() { return playlist.lastIndex; }
const std::string& CurrentEntryFile() { return playlist.files[CurrentSlot()]; }
int32_t CurrentEntryKind() { return playlist.kinds[CurrentSlot()]; }
int32_t CurrentEntryWordIndex() { return playlist.wordIndexes[CurrentSlot()]; }

void SetStopPending() { playlist.stopPending = true; }
void ClearStopPending() { playlist.stopPending = false; }
bool IsStopPending() { return playlist.stopPending; }

void SetCurrentAlias(const std::string& alias) { playlist.currentAlias = alias; }
const std::string& GetCurrentAlias() { return playlist.currentAlias; }

std::string MakeAlias() {
    try {
        generator.seed(generator() ^ 100u);  // the running state stays mixed into the new seed
        const std::vector<std::string> f = AnsiText::Characters(CurrentEntryFile());
        const std::string head = WithoutBlanks(Mid(f, LastPosition(f, "/"), 4));
        std::string s = RandomCharacter() + RandomCharacter() + RandomCharacter() + head;
        const std::string c4 = RandomCharacter();
        const std::string tail = Mid(f, LastPosition(f, ".") - 3, 2);
        const std::string c5 = RandomCharacter();
        return WithoutBlanks(s + c4 + tail + c5);
    } catch (const std::exception&) {
        return "EMERRX";
    }
}

int32_t RandomBetween(int32_t low, int32_t high) {
    double r = std::uniform_real_distribution<double>(0.0, 1.0)(generator);
    if (r >= 1.0) r = std::nextafter(1.0, 0.0);
    const double value = std::floor(r * (static_cast<double>(high) - low + 1)) + low;
    if (value > INT32_MAX || value < INT32_MIN) RuntimeErrors::Raise(RuntimeErrors::Overflow, "random number");
    return static_cast<int32_t>(value);
}

}  // namespace mHook
