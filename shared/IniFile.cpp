#include "IniFile.h"

#include <algorithm>
#include <cctype>
#include <fstream>
#include <sstream>
#include <unistd.h>
#include <vector>

#include "AnsiText.h"
#include "AtomicFile.h"
#include "AutomationError.h"
#include "RegularFile.h"

namespace IniFile {
namespace {

std::string Trim(const std::string& s) {
    size_t b = s.find_first_not_of(" \t");
    if (b == std::string::npos) return {};
    size_t e = s.find_last_not_of(" \t");
    return s.substr(b, e - b + 1);
}

bool SameName(const std::string& a, const std::string& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](unsigned char x, unsigned char y) {
               return std::tolower(x) == std::tolower(y);
           });
}

// The file's lines. A path that is no regular file (a FIFO would block the reader forever) or
// cannot be read reads as a missing file, as the platform's profile reader has it.
std::vector<std::string> ReadLines(const std::filesystem::path& file, bool& exists,
                                   RegularFile::Status* status = nullptr) {
    RegularFile::Contents contents = RegularFile::Read(file);
    exists = contents.State == RegularFile::Status::Read;
    if (status) *status = contents.State;
    std::vector<std::string> lines;
    std::istringstream in(std::move(contents.Bytes));
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

// "[name]" -> name (ANSI), or nullopt when the line is not a section header.
std::optional<std::string> SectionName(const std::string& line) {
    std::string t = Trim(line);
    if (t.size() < 2 || t.front() != '[') return std::nullopt;
    size_t close = t.find(']');
    if (close == std::string::npos) return std::nullopt;
    return Trim(t.substr(1, close - 1));
}

// "key=value" -> (key, value) trimmed, or nullopt for comments and lines without '='.
std::optional<std::pair<std::string, std::string>> KeyValue(const std::string& line) {
    std::string t = Trim(line);
    if (t.empty() || t[0] == ';') return std::nullopt;
    size_t eq = t.find('=');
    if (eq == std::string::npos) return std::nullopt;
    return std::make_pair(Trim(t.substr(0, eq)), Trim(t.substr(eq + 1)));
}

}  // namespace

ReadResult GetPrivateProfileString(const std::string& section, const std::string& key, const std::string& defaultValue,
                                   std::size_t bufferSize, const std::filesystem::path& file, int codePage) {
    const auto& codec = AnsiText::CodecFor(codePage);
    const std::string ansiSection = codec.ToAnsi(section), ansiKey = codec.ToAnsi(key);
    bool exists = false;
    std::string found = codec.ToAnsi(defaultValue);
    bool inSection = false;
    for (const auto& line : ReadLines(file, exists)) {
        if (auto name = SectionName(line)) {
            if (inSection) break;  // only the first section of that name counts
            inSection = SameName(*name, ansiSection);
            continue;
        }
        if (!inSection) continue;
        if (auto kv = KeyValue(line); kv && SameName(kv->first, ansiKey)) {
            found = kv->second;
            // A value written between matching quotes comes back without them.
            if (found.size() >= 2 && (found.front() == '"' || found.front() == '\'') && found.back() == found.front())
                found = found.substr(1, found.size() - 2);
            break;
        }
    }
    if (bufferSize == 0) return {"", 0};
    if (found.size() > bufferSize - 1) found.resize(bufferSize - 1);
    std::string utf8 = codec.ToUtf8(found);
    return {utf8, found.size()};
}

void WritePrivateProfileString(const std::string& section, const std::string& key,
                               const std::optional<std::string>& value, const std::filesystem::path& file, int codePage) {
    const auto& codec = AnsiText::CodecFor(codePage);
    const std::string ansiSection = codec.ToAnsi(section), ansiKey = codec.ToAnsi(key);
    bool exists = false;
    RegularFile::Status status = RegularFile::Status::Missing;
    std::vector<std::string> lines = ReadLines(file, exists, &status);
    // Writing over a file that could not be read would lose its other keys.
    if (status == RegularFile::Status::Unreadable || status == RegularFile::Status::NotRegular)
        RuntimeErrors::Raise(RuntimeErrors::PathFileAccessError, "cannot read " + file.string());
    if (!exists && !value) return;  // nothing to remove: do not create the file
    std::vector<std::string> out;
    bool inSection = false, sectionSeen = false, written = false;
    auto emit = [&] {
        if (value && !written) out.push_back(ansiKey + "=" + codec.ToAnsi(*value));
        written = true;
    };
    for (const auto& line : lines) {
        if (auto name = SectionName(line)) {
            if (inSection) emit();
            inSection = SameName(*name, ansiSection);
            sectionSeen = sectionSeen || inSection;
            out.push_back(line);
            continue;
        }
        if (inSection) {
            if (auto kv = KeyValue(line); kv && SameName(kv->first, ansiKey)) {
                emit();
                continue;
            }
        }
        out.push_back(line);
    }
    if (inSection) emit();
    if (!sectionSeen && value) {
        out.push_back("[" + ansiSection + "]");
        emit();
    }
    // A failure is reported as an error naming the file, as every other failure of the settings
    // code is; the file stays as it was.
    std::string bytes;
    for (const auto& l : out) bytes += l + "\r\n";
    try {
        AtomicFile::WriteWhole(file, bytes);
    } catch (const std::filesystem::filesystem_error& e) {
        RuntimeErrors::Raise(RuntimeErrors::PathFileAccessError,
                             "cannot write " + file.string() + " (" + e.code().message() + ")");
    }
}

}  // namespace IniFile
