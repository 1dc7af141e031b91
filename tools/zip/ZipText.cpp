#include "ZipText.h"

#include <cctype>
#include <cstdlib>
#include <vector>

#include "AnsiText.h"

namespace ravekzip {

namespace {

bool SameChar(char a, char b, bool caseSensitive) {
    if (caseSensitive) return a == b;
    return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
}

}  // namespace

bool WildcardMatch(std::string_view pattern, std::string_view name, bool caseSensitive) {
    // Iterative matcher with one backtrack point for the last "*": linear for the patterns the
    // tools use, and never recursive on hostile names.
    std::size_t p = 0, n = 0, starP = std::string_view::npos, starN = 0;
    while (n < name.size()) {
        if (p < pattern.size() && pattern[p] == '*') {
            starP = p++;
            starN = n;
        } else if (p < pattern.size() && (pattern[p] == '?' || SameChar(pattern[p], name[n], caseSensitive))) {
            ++p;
            ++n;
        } else if (starP != std::string_view::npos) {
            p = starP + 1;
            n = ++starN;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*') ++p;
    return p == pattern.size();
}

int CodePageOfLcid(const std::string& lcid, int fallback) {
    if (lcid.empty() || lcid.size() > 9) return fallback;
    long value = 0;
    for (char c : lcid) {
        if (c < '0' || c > '9') return fallback;
        value = value * 10 + (c - '0');
    }
    switch (value & 0x3ff) {  // the primary language of the locale
        case 0x0d: return 1255;
        case 0x19: return 1251;
        case 0x09: return 1252;
        case 0x01: return 1256;
        default: return fallback;
    }
}

std::optional<std::string> DecodeEntryName(std::string_view raw, bool flaggedUtf8, int codePage) {
    std::string name;
    if (AnsiText::IsValidUtf8(raw)) {
        name.assign(raw);
    } else {
        if (flaggedUtf8) return std::nullopt;
        name = AnsiText::CodecFor(codePage).ToUtf8(raw);
        // A byte the code page leaves undefined: the name means nothing in it.
        if (name.find("\xEF\xBF\xBD") != std::string::npos) return std::nullopt;
    }
    for (char& c : name)
        if (c == '\\') c = '/';
    return name;
}

std::optional<std::string> SafeRelativePath(std::string_view name) {
    if (name.empty() || name.front() == '/' || name.find('\0') != std::string_view::npos) return std::nullopt;
    std::string out;
    std::size_t start = 0;
    while (start <= name.size()) {
        std::size_t end = name.find('/', start);
        if (end == std::string_view::npos) end = name.size();
        const std::string_view part = name.substr(start, end - start);
        if (part == "..") return std::nullopt;
        if (!part.empty() && part != ".") {
            if (!out.empty()) out += '/';
            out += part;
        }
        start = end + 1;
    }
    if (out.empty()) return std::nullopt;
    return out;
}

void NameTheTimeZone() {
    ::setenv("TZ", ":/etc/localtime", 0);  // 0: a TZ already set stays
}

}  // namespace ravekzip
