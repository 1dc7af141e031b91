#include "RegistryFile.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string_view>
#include <unistd.h>

#include "AnsiText.h"
#include "AtomicFile.h"
#include "AutomationError.h"
#include "RegularFile.h"

namespace RegistryFile {
namespace {

std::string Lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::tolower(c); });
    return s;
}

[[noreturn]] void Malformed(const std::string& file, int line, const std::string& what) {
    RuntimeErrors::Raise(RuntimeErrors::InvalidProcedureCall,
                         "registry file " + file + " line " + std::to_string(line) + ": " + what);
}

// Reads a quoted string starting at text[pos] == '"'; handles \\ and \" escapes.
std::string ReadQuoted(const std::string& text, size_t& pos, const std::string& file, int line) {
    std::string out;
    for (++pos; pos < text.size(); ++pos) {
        char c = text[pos];
        if (c == '"') { ++pos; return out; }
        if (c == '\\') {
            if (pos + 1 >= text.size()) Malformed(file, line, "unterminated escape");
            char n = text[++pos];
            if (n != '\\' && n != '"') Malformed(file, line, std::string("bad escape \\") + n);
            out.push_back(n);
            continue;
        }
        out.push_back(c);
    }
    Malformed(file, line, "unterminated string");
}

Value ParseData(const std::string& data, const std::string& file, int line, const std::string& name) {
    Value v;
    auto where = [&](const std::string& what) { Malformed(file, line, what + " in value \"" + name + "\""); };
    if (!data.empty() && data[0] == '"') {
        size_t pos = 0;
        v.type = ValueType::String;
        v.text = ReadQuoted(data, pos, file, line);
        if (data.find_first_not_of(" \t", pos) != std::string::npos) where("text after the closing quote");
        return v;
    }
    std::string lower = Lower(data);
    if (lower.rfind("dword:", 0) == 0) {
        std::string digits = data.substr(6);
        if (digits.empty() || digits.size() > 8 || digits.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos)
            where("bad dword \"" + digits + "\"");
        v.type = ValueType::Dword;
        v.number = static_cast<uint32_t>(std::stoul(digits, nullptr, 16));
        return v;
    }
    if (lower.rfind("hex", 0) == 0) {
        size_t colon = lower.find(':');
        if (colon == std::string::npos) where("missing ':' after hex");
        std::string kind = lower.substr(3, colon - 3);
        if (!kind.empty() && (kind.size() < 3 || kind.front() != '(' || kind.back() != ')' ||
                              kind.substr(1, kind.size() - 2).find_first_not_of("0123456789abcdef") != std::string::npos))
            where("unknown type \"hex" + kind + "\"");
        std::string bytes = lower.substr(colon + 1);
        std::stringstream ss(bytes);
        std::string byte;
        while (std::getline(ss, byte, ',')) {
            byte.erase(std::remove_if(byte.begin(), byte.end(), [](unsigned char c) { return std::isspace(c) != 0; }), byte.end());
            if (byte.size() != 2 || byte.find_first_not_of("0123456789abcdef") != std::string::npos)
                where("truncated or bad hex byte \"" + byte + "\"");
        }
        v.type = ValueType::Other;
        return v;
    }
    where("unknown type \"" + data.substr(0, data.find(':')) + "\"");
    return v;
}

}  // namespace

std::string Quoted(const std::string& text) {
    std::string out = "\"";
    for (char c : text) {
        if (c == '\\' || c == '"') out.push_back('\\');
        out.push_back(c);
    }
    return out + "\"";
}

std::string NormaliseKey(const std::string& key) {
    std::string out;
    for (char c : key) {
        if (c == '/') c = '\\';
        if (c == '\\' && (out.empty() || out.back() == '\\')) continue;
        out.push_back(c);
    }
    while (!out.empty() && out.back() == '\\') out.pop_back();
    return Lower(out);
}

// Text decoded to UTF-8, with the lines (1-based) that held text the encoding cannot decode; those
// parts stand as U+FFFD, so the text is valid UTF-8 whatever the file held.
struct Document::DecodedText {
    std::string utf8;
    std::vector<bool> badLines;  // index = line number
    std::string encoding;        // for messages: "UTF-8", "UTF-16LE", "Windows-1255"...

    void MarkBad(std::size_t line) {
        if (badLines.size() <= line) badLines.resize(line + 1, false);
        badLines[line] = true;
    }
    bool IsBad(std::size_t line) const { return line < badLines.size() && badLines[line]; }
};

namespace {

constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";
constexpr std::string_view kUtf16LeBom = "\xFF\xFE";
constexpr int kDefaultAnsiCodePage = 1252;

// Calls `line` with each line of `bytes` (split at LF, the LF left out) and its number.
template <typename Visit>
void ForEachLine(std::string_view bytes, Visit&& line) {
    std::size_t number = 1, start = 0;
    while (start <= bytes.size()) {
        std::size_t end = bytes.find('\n', start);
        if (end == std::string_view::npos) end = bytes.size();
        line(bytes.substr(start, end - start), number++, end < bytes.size());
        start = end + 1;
    }
}

Document::DecodedText DecodeUtf8(std::string_view bytes) {
    Document::DecodedText out{{}, {}, "UTF-8"};
    if (bytes.substr(0, kUtf8Bom.size()) == kUtf8Bom) bytes.remove_prefix(kUtf8Bom.size());
    out.utf8.reserve(bytes.size());
    ForEachLine(bytes, [&](std::string_view line, std::size_t number, bool ended) {
        if (AnsiText::IsValidUtf8(line)) {
            out.utf8.append(line);
        } else {
            out.MarkBad(number);
            for (char32_t c : AnsiText::DecodeUtf8(line)) out.utf8 += AnsiText::EncodeUtf8(c);
        }
        if (ended) out.utf8.push_back('\n');
    });
    return out;
}

Document::DecodedText DecodeAnsi(std::string_view bytes, int codePage) {
    const AnsiText::Codec& codec = AnsiText::CodecFor(codePage);
    Document::DecodedText out{{}, {}, "Windows-" + std::to_string(codePage)};
    out.utf8.reserve(bytes.size());
    ForEachLine(bytes, [&](std::string_view line, std::size_t number, bool ended) {
        for (unsigned char b : line)
            if (!codec.Defines(b)) out.MarkBad(number);
        codec.AppendUtf8(line, out.utf8);
        if (ended) out.utf8.push_back('\n');
    });
    return out;
}

// UTF-16LE after its byte order mark; an unpaired surrogate or an odd last byte does not decode.
Document::DecodedText DecodeUtf16Le(std::string_view bytes) {
    Document::DecodedText out{{}, {}, "UTF-16LE"};
    bytes.remove_prefix(kUtf16LeBom.size());
    out.utf8.reserve(bytes.size());
    std::size_t line = 1;
    auto unit = [&](std::size_t i) {
        return static_cast<char32_t>(static_cast<unsigned char>(bytes[i]) | (static_cast<unsigned char>(bytes[i + 1]) << 8));
    };
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
        char32_t c = unit(i);
        if (c >= 0xD800 && c <= 0xDBFF && i + 3 < bytes.size() && unit(i + 2) >= 0xDC00 && unit(i + 2) <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (unit(i + 2) - 0xDC00);
            i += 2;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            out.MarkBad(line);
            c = 0xFFFD;
        }
        if (c == U'\n') ++line;
        out.utf8 += AnsiText::EncodeUtf8(c);
    }
    if (bytes.size() % 2 != 0) out.MarkBad(line);
    return out;
}

// Whether the first line that is not blank is the REGEDIT4 header.
bool IsRegedit4(std::string_view bytes) {
    if (bytes.substr(0, kUtf8Bom.size()) == kUtf8Bom) bytes.remove_prefix(kUtf8Bom.size());
    const std::size_t first = bytes.find_first_not_of(" \t\r\n");
    return first != std::string_view::npos && bytes.substr(first, 8) == "REGEDIT4" &&
           (first + 8 == bytes.size() || std::string_view(" \t\r\n").find(bytes[first + 8]) != std::string_view::npos);
}

}  // namespace

Document Document::Load(const std::filesystem::path& path, const AnsiCodePageOf& ansiCodePage) {
    RegularFile::Contents file = RegularFile::Read(path);
    if (file.State != RegularFile::Status::Read) return Document{};
    return Decode(file.Bytes, path.string(), ansiCodePage);
}

Document Document::LoadExisting(const std::filesystem::path& path, const AnsiCodePageOf& ansiCodePage) {
    RegularFile::Contents file = RegularFile::Read(path);
    const std::string name = "registry file " + path.string();
    switch (file.State) {
    case RegularFile::Status::Read: return Decode(file.Bytes, path.string(), ansiCodePage);
    case RegularFile::Status::Missing: RuntimeErrors::Raise(RuntimeErrors::PathFileAccessError, name + " does not exist");
    case RegularFile::Status::NotRegular: RuntimeErrors::Raise(RuntimeErrors::PathFileAccessError, name + " is not a regular file");
    case RegularFile::Status::Unreadable:
        RuntimeErrors::Raise(RuntimeErrors::PathFileAccessError, name + " cannot be read (" + file.Reason + ")");
    }
    return Document{};
}

Document Document::Decode(const std::string& bytes, const std::string& file, const AnsiCodePageOf& ansiCodePage) {
    if (std::string_view(bytes).substr(0, kUtf16LeBom.size()) == kUtf16LeBom) return ParseDecoded(DecodeUtf16Le(bytes), file);
    if (IsRegedit4(bytes)) {
        int codePage = kDefaultAnsiCodePage;
        if (ansiCodePage) {
            // The ASCII parts (header, keys, names, the language value) read alike in every code
            // page; a file that is malformed even so is reported by the real parse below.
            DecodedText undecoded = DecodeUtf8(bytes);
            undecoded.badLines.clear();
            Document ascii;
            try {
                ascii = ParseDecoded(undecoded, file);
            } catch (const AutomationError&) {
            }
            codePage = ansiCodePage(ascii);
        }
        return ParseDecoded(DecodeAnsi(bytes, codePage), file);
    }
    return ParseDecoded(DecodeUtf8(bytes), file);
}

Document Document::Parse(const std::string& text, const std::string& file) { return ParseDecoded(DecodeUtf8(text), file); }

Document Document::ParseDecoded(const DecodedText& decoded, const std::string& file) {
    Document doc;
    std::vector<std::string_view> lines;
    ForEachLine(decoded.utf8, [&](std::string_view line, std::size_t, bool ended) {
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (ended || !line.empty()) lines.push_back(line);
    });
    auto undecodable = [&](int lineNo, const std::string& where) {
        Malformed(file, lineNo, "text that is not valid " + decoded.encoding + " in " + where);
    };
    std::string currentKey;
    bool haveKey = false;
    for (size_t i = 0; i < lines.size(); ++i) {
        int lineNo = static_cast<int>(i) + 1;
        std::string line(lines[i]);
        // hex data continues on the next line after a trailing backslash
        while (!line.empty() && line.back() == '\\' && line.find("=hex") != std::string::npos && i + 1 < lines.size()) {
            line.pop_back();
            line += lines[++i];
        }
        std::erase(line, '\r');
        size_t first = line.find_first_not_of(" \t");
        if (first == std::string::npos) continue;
        line = line.substr(first);
        while (!line.empty() && (line.back() == ' ' || line.back() == '\t')) line.pop_back();
        if (line[0] == ';') continue;
        if (line == "Windows Registry Editor Version 5.00" || line == "REGEDIT4") continue;
        const bool bad = decoded.IsBad(static_cast<std::size_t>(lineNo));
        if (line[0] == '[') {
            if (bad) undecodable(lineNo, "key " + line);
            if (line.back() != ']') Malformed(file, lineNo, "unterminated key \"" + line + "\"");
            std::string key = line.substr(1, line.size() - 2);
            if (!key.empty() && key[0] == '-') {  // deletion marker: treat as absent
                haveKey = false;
                continue;
            }
            currentKey = key;
            haveKey = true;
            doc.AddKey(key);
            continue;
        }
        if (!haveKey) Malformed(file, lineNo, "value outside any [key] section");
        std::string name;
        size_t pos = 0;
        if (line[0] == '@') pos = 1;
        else if (line[0] == '"') name = ReadQuoted(line, pos, file, lineNo);
        else Malformed(file, lineNo, "expected \"name\"=value");
        if (bad) undecodable(lineNo, "value \"" + name + "\"");
        size_t eq = line.find_first_not_of(" \t", pos);
        if (eq == std::string::npos || line[eq] != '=') Malformed(file, lineNo, "missing '=' after value \"" + name + "\"");
        std::string data = line.substr(line.find_first_not_of(" \t", eq + 1) == std::string::npos ? line.size() : line.find_first_not_of(" \t", eq + 1));
        if (data == "-") {
            doc.Set(currentKey, name, std::nullopt);
            continue;
        }
        doc.Set(currentKey, name, ParseData(data, file, lineNo, name));
    }
    return doc;
}

std::string Document::IdOf(const std::string& normalisedKey, const std::string& lowerName) {
    std::string id = normalisedKey;
    id.push_back('\0');
    id += lowerName;
    return id;
}

std::size_t Document::AddKey(const std::string& keyPath) {
    auto [it, added] = keyIndex_.try_emplace(NormaliseKey(keyPath), keys_.size());
    if (added) keys_.push_back(keyPath);
    return it->second;
}

bool Document::HasKey(const std::string& keyPath) const { return keyIndex_.count(NormaliseKey(keyPath)) != 0; }

std::optional<Value> Document::Find(const std::string& keyPath, const std::string& name) const {
    auto it = valueIndex_.find(IdOf(NormaliseKey(keyPath), Lower(name)));
    if (it == valueIndex_.end()) return std::nullopt;
    return slots_[it->second].entry->value;
}

void Document::Set(const std::string& keyPath, const std::string& name, const std::optional<Value>& value) {
    const std::string id = IdOf(NormaliseKey(keyPath), Lower(name));
    auto it = valueIndex_.find(id);
    if (!value) {
        if (it != valueIndex_.end()) {
            slots_[it->second].entry.reset();
            valueIndex_.erase(it);
        }
        return;
    }
    const std::size_t key = AddKey(keyPath);
    if (it != valueIndex_.end()) {
        slots_[it->second].entry->value = *value;
        return;
    }
    valueIndex_.emplace(id, slots_.size());
    slots_.push_back(Slot{key, Entry{keyPath, name, *value}});
}

std::string Document::Serialise() const {
    std::vector<std::vector<const Entry*>> byKey(keys_.size());
    for (const Slot& slot : slots_)
        if (slot.entry) byKey[slot.key].push_back(&*slot.entry);
    std::ostringstream out;
    out << "Windows Registry Editor Version 5.00\n";
    for (std::size_t k = 0; k < keys_.size(); ++k) {
        out << "\n[" << keys_[k] << "]\n";
        for (const Entry* e : byKey[k]) {
            if (e->name.empty()) out << "@=";
            else out << Quoted(e->name) << "=";
            if (e->value.type == ValueType::String) out << Quoted(e->value.text) << "\n";
            else if (e->value.type == ValueType::Dword) {
                char buf[16];
                std::snprintf(buf, sizeof buf, "%08x", e->value.number);
                out << "dword:" << buf << "\n";
            } else out << "hex:\n";
        }
    }
    return out.str();
}

void Document::Save(const std::filesystem::path& path) const {
    std::error_code dirError;
    std::filesystem::create_directories(path.parent_path().empty() ? "." : path.parent_path(), dirError);
    if (dirError)
        RuntimeErrors::Raise(RuntimeErrors::PathFileAccessError, "cannot write " + path.string() + " (" + dirError.message() + ")");
    try {
        AtomicFile::WriteWhole(path, Serialise());
    } catch (const std::filesystem::filesystem_error& e) {
        RuntimeErrors::Raise(RuntimeErrors::PathFileAccessError,
                             "cannot write " + path.string() + " (" + e.code().message() + ")");
    }
}

std::filesystem::path LocalMachinePath() {
    const char* env = std::getenv("RAVEK_REGISTRY");
    return env && *env ? std::filesystem::path(env) : std::filesystem::path("/etc/ravek/registry.reg");
}

std::filesystem::path CurrentUserPath() {
    if (const char* env = std::getenv("RAVEK_USER_REGISTRY"); env && *env) return env;
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg) return std::filesystem::path(xdg) / "ravek/user.reg";
    const char* home = std::getenv("HOME");
    return std::filesystem::path(home ? home : "/") / ".config/ravek/user.reg";
}

}  // namespace RegistryFile
