#include "SpeechText.h"

#include <glib.h>

#include <algorithm>
#include <optional>

namespace ravek::integration {
namespace {

constexpr gunichar kReplacement = 0xFFFD;

// The code points of a UTF-8 text; an invalid byte becomes U+FFFD.
std::vector<gunichar> CodePoints(const std::string& text) {
    std::vector<gunichar> out;
    const char* p = text.data();
    const char* end = p + text.size();
    while (p < end) {
        const gunichar c = g_utf8_get_char_validated(p, end - p);
        if (c == static_cast<gunichar>(-1) || c == static_cast<gunichar>(-2)) {
            out.push_back(kReplacement);
            ++p;
            continue;
        }
        out.push_back(c);
        p = g_utf8_next_char(p);
    }
    return out;
}

// Line breaks and tabs become blanks: the engine separates words at blanks only.
gunichar Blanked(gunichar c) { return c == '\n' || c == '\r' || c == '\t' ? ' ' : c; }

void AppendUtf8(std::string& out, gunichar c) {
    char buffer[6];
    out.append(buffer, static_cast<size_t>(g_unichar_to_utf8(c, buffer)));
}

std::string Utf8Of(const std::vector<gunichar>& chars, size_t from, size_t to) {
    std::string out;
    for (size_t i = from; i < to; ++i) AppendUtf8(out, Blanked(chars[i]));
    return out;
}

// The character an entity (the text between & and ;) stands for.
std::optional<gunichar> EntityValue(const std::string& name) {
    if (name == "lt") return '<';
    if (name == "gt") return '>';
    if (name == "amp") return '&';
    if (name == "quot") return '"';
    if (name == "apos") return '\'';
    if (name.size() < 2 || name[0] != '#') return std::nullopt;
    const bool hex = name[1] == 'x' || name[1] == 'X';
    const std::string digits = name.substr(hex ? 2 : 1);
    if (digits.empty() || digits.size() > 8) return std::nullopt;
    uint64_t value = 0;
    for (char d : digits) {
        const int v = hex ? g_ascii_xdigit_value(d) : g_ascii_digit_value(d);
        if (v < 0) return std::nullopt;
        value = value * (hex ? 16 : 10) + static_cast<uint64_t>(v);
    }
    if (value == 0 || value > 0x10FFFF || !g_unichar_validate(static_cast<gunichar>(value))) return std::nullopt;
    return static_cast<gunichar>(value);
}

// The value of attribute `name` inside a tag's text (quoted with " or '), unescaped.
std::optional<std::string> Attribute(const std::string& tag, const std::string& name) {
    for (size_t at = tag.find(name); at != std::string::npos; at = tag.find(name, at + 1)) {
        const bool startsWord = at > 0 && g_ascii_isspace(tag[at - 1]);
        size_t p = at + name.size();
        while (p < tag.size() && g_ascii_isspace(tag[p])) ++p;
        if (!startsWord || p >= tag.size() || tag[p] != '=') continue;
        ++p;
        while (p < tag.size() && g_ascii_isspace(tag[p])) ++p;
        if (p >= tag.size() || (tag[p] != '"' && tag[p] != '\'')) return std::nullopt;
        const size_t close = tag.find(tag[p], p + 1);
        if (close == std::string::npos) return std::nullopt;
        return SsmlText(tag.substr(p + 1, close - p - 1)).text;
    }
    return std::nullopt;
}

// Whether the tag's text (between < and >) is a mark element.
bool IsMark(const std::string& tag) {
    return tag.size() > 4 && tag.compare(0, 4, "mark") == 0 && (g_ascii_isspace(tag[4]) || tag[4] == '/');
}

}  // namespace

SpeechText PlainText(const std::string& text) {
    SpeechText out;
    const std::vector<gunichar> chars = CodePoints(text);
    out.text = Utf8Of(chars, 0, chars.size());
    for (uint32_t i = 0; i <= chars.size(); ++i) out.sourcePositions.push_back(i);
    return out;
}

SpeechText SsmlText(const std::string& ssml) {
    SpeechText out;
    const std::vector<gunichar> chars = CodePoints(ssml);
    uint32_t plainLength = 0;
    auto emit = [&](gunichar c, size_t source) {
        AppendUtf8(out.text, Blanked(c));
        out.sourcePositions.push_back(static_cast<uint32_t>(source));
        ++plainLength;
    };
    for (size_t i = 0; i < chars.size();) {
        if (chars[i] == '<') {
            size_t close = i + 1;
            while (close < chars.size() && chars[close] != '>') ++close;
            const std::string tag = Utf8Of(chars, i + 1, close);
            if (IsMark(tag))
                if (auto name = Attribute(tag, "name")) out.marks.push_back({*name, plainLength});
            i = close + 1;
            continue;
        }
        if (chars[i] == '&') {
            size_t semicolon = i + 1;
            while (semicolon < chars.size() && semicolon - i <= 10 && chars[semicolon] != ';') ++semicolon;
            if (semicolon < chars.size() && chars[semicolon] == ';') {
                if (auto value = EntityValue(Utf8Of(chars, i + 1, semicolon))) {
                    emit(*value, i);
                    i = semicolon + 1;
                    continue;
                }
            }
        }
        emit(chars[i], i);
        ++i;
    }
    out.sourcePositions.push_back(static_cast<uint32_t>(chars.size()));
    return out;
}

namespace {

bool EndsWord(gunichar c) {
    const bool hebrewMark = c == 0x05F3 || c == 0x05F4;
    return g_unichar_isspace(c) || (g_unichar_ispunct(c) && !hebrewMark);
}

uint32_t OneWordEnd(const std::vector<gunichar>& chars, uint32_t start) {
    uint32_t end = std::min<uint32_t>(start, static_cast<uint32_t>(chars.size()));
    while (end < chars.size() && !EndsWord(chars[end])) ++end;
    // A word of punctuation alone (the engine speaks some signs as words) runs to the next blank.
    if (end == start)
        while (end < chars.size() && !g_unichar_isspace(chars[end])) ++end;
    return end;
}

}  // namespace

uint32_t WordEnd(const std::string& text, uint32_t start, uint32_t words) {
    const std::vector<gunichar> chars = CodePoints(text);
    uint32_t end = OneWordEnd(chars, start);
    for (uint32_t more = 1; more < words; ++more) {
        uint32_t next = end;
        while (next < chars.size() && EndsWord(chars[next])) ++next;
        if (next >= chars.size()) break;
        end = OneWordEnd(chars, next);
    }
    return end;
}

}  // namespace ravek::integration
