#include "mHook.h"

#include <cctype>
#include <climits>
#include <cmath>
#include <random>
#include <vector>

#include "AnsiText.h"
#include "AutomationError.h"

namespace mHook {
namespace {

int32_t Increment(int32_t value, const char* what) {
    if (value == INT32_MAX) RuntimeErrors::Raise(RuntimeErrors::Overflow, what);
    return value + 1;
}

// Aliases are single words of the command text: white space and quotes of a file name are left out.
std::string WithoutBlanks(std::string text) {
    std::erase_if(text, [](char c) { return c == '"' || std::isspace(static_cast<unsigned char>(c)); });
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

size_t Playlist::CurrentSlot() const {
    const int32_t i = currentIndex_;
    if (i < 0 || static_cast<size_t>(i) >= files_.size())
        RuntimeErrors::Raise(RuntimeErrors::SubscriptOutOfRange, "playlist entry " + std::to_string(i));
    return static_cast<size_t>(i);
}

void Playlist::ResetPlaylist() {
    for (auto* v : {&kinds_, &wordIndexes_}) v->resize(1);
    files_.resize(1);
    lastIndex_ = -1;
    currentIndex_ = 0;
    stopPending_ = false;
}

void Playlist::AddToPlaylist(const std::string& path, int32_t kind, int32_t wordIndex) {
    const int32_t last = Increment(lastIndex_, "playlist size");
    const size_t size = static_cast<size_t>(last) + 1;
    if (files_.size() < size) {
        files_.resize(size);
        kinds_.resize(size);
        wordIndexes_.resize(size);
    }
    files_[last] = path;
    kinds_[last] = kind;
    wordIndexes_[last] = wordIndex;
    lastIndex_ = last;
}

void Playlist::AdvancePlaylist() { currentIndex_ = Increment(currentIndex_, "playlist index"); }
const std::string& Playlist::CurrentEntryFile() const { return files_[CurrentSlot()]; }
int32_t Playlist::CurrentEntryKind() const { return kinds_[CurrentSlot()]; }
int32_t Playlist::CurrentEntryWordIndex() const { return wordIndexes_[CurrentSlot()]; }

std::string Playlist::RandomCharacter() { return std::string(1, static_cast<char>(RandomBetween(65, 122))); }

std::string Playlist::MakeAlias() {
    try {
        generator_.seed(generator_() ^ 100u);  // the running state stays mixed into the new seed
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

int32_t Playlist::RandomBetween(int32_t low, int32_t high) {
    double r = std::uniform_real_distribution<double>(0.0, 1.0)(generator_);
    if (r >= 1.0) r = std::nextafter(1.0, 0.0);
    const double value = std::floor(r * (static_cast<double>(high) - low + 1)) + low;
    if (value > INT32_MAX || value < INT32_MIN) RuntimeErrors::Raise(RuntimeErrors::Overflow, "random number");
    return static_cast<int32_t>(value);
}

}  // namespace mHook
