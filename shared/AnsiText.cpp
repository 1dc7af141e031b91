#include "AnsiText.h"

#include <glib.h>
#include <iconv.h>

#include <cstring>
#include <map>
#include <mutex>
#include <memory>

#include "AutomationError.h"

namespace AnsiText {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

class IconvHandle {
public:
    IconvHandle(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
    ~IconvHandle() { if (ok()) iconv_close(cd_); }
    IconvHandle(const IconvHandle&) = delete;
    IconvHandle& operator=(const IconvHandle&) = delete;
    bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }
    iconv_t get() const { return cd_; }
private:
    iconv_t cd_;
};

// Decodes one byte with iconv; U+FFFD when the code page leaves it undefined.
char32_t DecodeByte(iconv_t cd, unsigned char byte) {
    char in[1] = {static_cast<char>(byte)};
    char32_t out[4] = {};
    char* inPtr = in;
    char* outPtr = reinterpret_cast<char*>(out);
    size_t inLeft = 1, outLeft = sizeof(out);
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    if (iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft) == static_cast<size_t>(-1)) return kReplacement;
    // Flush: a decoder that buffers a possible base letter releases it now.
    iconv(cd, nullptr, nullptr, &outPtr, &outLeft);
    size_t produced = (sizeof(out) - outLeft) / sizeof(char32_t);
    return produced == 1 ? out[0] : kReplacement;
}

// Bytes that the system's converter leaves undefined although the code page assigns them.
// Windows-1255 0xCA is HEBREW POINT HOLAM HASER FOR VAV (U+05BA), a vowel point like its
// neighbours; without it a word written with it would be cut in two at a '?'.
char32_t KnownGap(int codePage, unsigned char byte) {
    if (codePage == 1255 && byte == 0xCA) return U'\u05BA';
    return kReplacement;
}

// Calls `visit` with each code point of a UTF-8 text; an invalid byte sequence gives U+FFFD per
// bad byte.
template <typename Visit>
void ForEachCodePoint(std::string_view utf8, Visit&& visit) {
    const char* p = utf8.data();
    const char* end = p + utf8.size();
    while (p < end) {
        // ASCII decodes as itself; NUL goes the long way, which reads it as a bad byte.
        if (*p > 0 && static_cast<unsigned char>(*p) < 0x80) {
            visit(static_cast<char32_t>(*p++));
            continue;
        }
        gunichar c = g_utf8_get_char_validated(p, end - p);
        if (c == static_cast<gunichar>(-1) || c == static_cast<gunichar>(-2)) {
            visit(kReplacement);
            ++p;
            continue;
        }
        visit(static_cast<char32_t>(c));
        p = g_utf8_next_char(p);
    }
}

}  // namespace

std::vector<char32_t> DecodeUtf8(std::string_view utf8) {
    std::vector<char32_t> result;
    result.reserve(utf8.size());
    ForEachCodePoint(utf8, [&](char32_t c) { result.push_back(c); });
    return result;
}

std::string EncodeUtf8(char32_t codePoint) {
    char buf[8];
    int n = g_unichar_to_utf8(codePoint, buf);
    return std::string(buf, n);
}

std::vector<std::string> Characters(std::string_view utf8) {
    std::vector<std::string> chars;
    for (char32_t c : DecodeUtf8(utf8)) chars.push_back(EncodeUtf8(c));
    return chars;
}

std::size_t CharacterCount(std::string_view utf8) {
    std::size_t count = 0;
    ForEachCodePoint(utf8, [&](char32_t) { ++count; });
    return count;
}

bool IsValidUtf8(std::string_view bytes) { return g_utf8_validate(bytes.data(), bytes.size(), nullptr); }

std::string ToLower(std::string_view utf8) {
    std::string result;
    result.reserve(utf8.size());
    for (char32_t c : DecodeUtf8(utf8)) result += EncodeUtf8(g_unichar_tolower(c));
    return result;
}

Codec::Codec(int codePage) : codePage_(codePage) {
    std::string name = "CP" + std::to_string(codePage);
    IconvHandle cd("UTF-32LE", name.c_str());
    if (!cd.ok())
        RuntimeErrors::Raise(RuntimeErrors::InvalidProcedureCall, "unknown code page " + std::to_string(codePage));
    for (int b = 0; b < 256; ++b) {
        decode_[b] = b < 128 ? static_cast<char32_t>(b) : DecodeByte(cd.get(), static_cast<unsigned char>(b));
        if (decode_[b] == kReplacement) decode_[b] = KnownGap(codePage, static_cast<unsigned char>(b));
        if (decode_[b] != kReplacement) encode_.try_emplace(decode_[b], static_cast<unsigned char>(b));
        utf8Length_[b] = static_cast<unsigned char>(g_unichar_to_utf8(decode_[b], utf8_[b].data()));
    }
}

int Codec::CodeOf(char32_t codePoint) const {
    if (codePoint < 128) return static_cast<int>(codePoint);
    auto it = encode_.find(codePoint);
    return it == encode_.end() ? 63 : it->second;
}

std::string Codec::ToAnsi(std::string_view utf8) const {
    std::string out;
    out.reserve(utf8.size());
    ForEachCodePoint(utf8, [&](char32_t c) { out.push_back(static_cast<char>(CodeOf(c))); });
    return out;
}

std::string Codec::ToUtf8(std::string_view ansi) const {
    // Two passes: the exact length first, then the bytes written in place.
    // Each character is copied as four bytes and the pointer moved by its real length, so the
    // buffer has three bytes of slack at the end, cut off afterwards.
    std::size_t length = 0;
    for (unsigned char b : ansi) length += utf8Length_[b];
    std::string out(length + 3, '\0');
    char* p = out.data();
    for (unsigned char b : ansi) {
        std::memcpy(p, utf8_[b].data(), 4);
        p += utf8Length_[b];
    }
    out.resize(length);
    return out;
}

bool Codec::CanRepresent(std::string_view utf8) const {
    bool representable = true;
    ForEachCodePoint(utf8, [&](char32_t c) {
        if (c != U'?' && CodeOf(c) == 63) representable = false;
    });
    return representable;
}

void Codec::AppendUtf8(unsigned char byte, std::string& out) const { out.append(utf8_[byte].data(), utf8Length_[byte]); }

void Codec::AppendUtf8(std::string_view ansi, std::string& out) const {
    // As in ToUtf8: four bytes copied per character, the slack cut off at the end.
    std::size_t length = 0;
    for (unsigned char b : ansi) length += utf8Length_[b];
    const std::size_t start = out.size();
    out.resize(start + length + 3);
    char* p = out.data() + start;
    for (unsigned char b : ansi) {
        std::memcpy(p, utf8_[b].data(), 4);
        p += utf8Length_[b];
    }
    out.resize(start + length);
}

const Codec& CodecFor(int codePage) {
    // A codec never changes once built; the cache only saves building it again, and the lock
    // lets engines on several threads (a renderer's worker, a speech module) share it.
    static std::mutex lock;
    static std::map<int, std::unique_ptr<Codec>> codecs;
    const std::lock_guard guard(lock);
    auto& slot = codecs[codePage];
    if (!slot) slot = std::make_unique<Codec>(codePage);
    return *slot;
}

}  // namespace AnsiText
