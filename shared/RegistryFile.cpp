#include "RegistryFile.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <unistd.h>

#include "AtomicFile.h"
#include "AutomationError.h"

namespace RegistryFile {
namespace {

std::string Lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::tolower(c); });
    return s;
}

// Key paths compare case-insensitively and ignore a trailing or doubled backslash.
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

std::string Escape(const std::string& s) {
    std::string out;
    for (char c : s) {
        if (c == '\\' || c == '"') out.push_back('\\');
        out.push_back(c);
    }
    return out;
}

}  // namespace

Document Document::Load(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return Document{};
    std::stringstream ss;
    ss << in.rdbuf();
    return Parse(ss.str(), path.string());
}

Document Document::Parse(const std::string& raw, const std::string& file) {
    Document doc;
    std::string text = raw;
    if (text.rfind("\xEF\xBB\xBF", 0) == 0) text.erase(0, 3);
    std::vector<std::string> lines;
    {
        std::string cur;
        for (char c : text) {
            if (c == '\n') { lines.push_back(cur); cur.clear(); }
            else if (c != '\r') cur.push_back(c);
        }
        if (!cur.empty()) lines.push_back(cur);
    }
    std::string currentKey;
    bool haveKey = false;
    for (size_t i = 0; i < lines.size(); ++i) {
        int lineNo = static_cast<int>(i) + 1;
        std::string line = lines[i];
        // hex data continues on the next line after a trailing backslash
        while (!line.empty() && line.back() == '\\' && line.find("=hex") != std::string::npos && i + 1 < lines.size()) {
            line.pop_back();
            line += lines[++i];
        }
        size_t first = line.find_first_not_of(" \t");
        if (first == std::string::npos) continue;
        line = line.substr(first);
        while (!line.empty() && (line.back() == ' ' || line.back() == '\t')) line.pop_back();
        if (line[0] == ';') continue;
        if (line == "Windows Registry Editor Version 5.00" || line == "REGEDIT4") continue;
        if (line[0] == '[') {
            if (line.back() != ']') Malformed(file, lineNo, "unterminated key \"" + line + "\"");
            std::string key = line.substr(1, line.size() - 2);
            if (!key.empty() && key[0] == '-') {  // deletion marker: treat as absent
                haveKey = false;
                continue;
            }
            currentKey = key;
            haveKey = true;
            if (!doc.HasKey(key)) {
                doc.keys_.push_back(key);
                doc.keyIds_.push_back(NormaliseKey(key));
            }
            continue;
        }
        if (!haveKey) Malformed(file, lineNo, "value outside any [key] section");
        std::string name;
        size_t pos = 0;
        if (line[0] == '@') pos = 1;
        else if (line[0] == '"') name = ReadQuoted(line, pos, file, lineNo);
        else Malformed(file, lineNo, "expected \"name\"=value");
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

bool Document::HasKey(const std::string& keyPath) const {
    std::string k = NormaliseKey(keyPath);
    return std::find(keyIds_.begin(), keyIds_.end(), k) != keyIds_.end();
}

std::size_t Document::IndexOf(const std::string& normalisedKey, const std::string& lowerName) const {
    for (std::size_t i = 0; i < entryIds_.size(); ++i)
        if (entryIds_[i].first == normalisedKey && entryIds_[i].second == lowerName) return i;
    return entries_.size();
}

std::optional<Value> Document::Find(const std::string& keyPath, const std::string& name) const {
    std::size_t i = IndexOf(NormaliseKey(keyPath), Lower(name));
    if (i == entries_.size()) return std::nullopt;
    return entries_[i].value;
}

void Document::Set(const std::string& keyPath, const std::string& name, const std::optional<Value>& value) {
    std::string k = NormaliseKey(keyPath);
    std::string n = Lower(name);
    std::size_t i = IndexOf(k, n);
    if (!value) {
        if (i != entries_.size()) {
            entries_.erase(entries_.begin() + static_cast<std::ptrdiff_t>(i));
            entryIds_.erase(entryIds_.begin() + static_cast<std::ptrdiff_t>(i));
        }
        return;
    }
    if (std::find(keyIds_.begin(), keyIds_.end(), k) == keyIds_.end()) {
        keys_.push_back(keyPath);
        keyIds_.push_back(k);
    }
    if (i != entries_.size()) {
        entries_[i].value = *value;
    } else {
        entries_.push_back(Entry{keyPath, name, *value});
        entryIds_.emplace_back(std::move(k), std::move(n));
    }
}

std::string Document::Serialise() const {
    std::ostringstream out;
    out << "Windows Registry Editor Version 5.00\n";
    for (std::size_t k = 0; k < keys_.size(); ++k) {
        out << "\n[" << keys_[k] << "]\n";
        for (std::size_t i = 0; i < entries_.size(); ++i) {
            const Entry& e = entries_[i];
            if (entryIds_[i].first != keyIds_[k]) continue;
            if (e.name.empty()) out << "@=";
            else out << "\"" << Escape(e.name) << "\"=";
            if (e.value.type == ValueType::String) out << "\"" << Escape(e.value.text) << "\"\n";
            else if (e.value.type == ValueType::Dword) {
                char buf[16];
                std::snprintf(buf, sizeof buf, "%08x", e.value.number);
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
