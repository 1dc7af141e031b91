#include "SettingsWriter.h"

#include <glib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

#include "AnsiText.h"
#include "AtomicFile.h"
#include "AutomationError.h"
#include "ManageCodePage.h"
#include "RegistryFile.h"

namespace CommonFunc {
namespace {

namespace fs = std::filesystem;

[[noreturn]] void CannotWrite(const fs::path& file, const std::string& why) {
    RuntimeErrors::Raise(RuntimeErrors::PathFileAccessError, "cannot write " + file.string() + " (" + why + ")");
}

// The file a settings path names (a link is followed, so the link stays a link), checked to be
// an existing, writable regular file; its bytes and permissions.
struct SettingsFile {
    fs::path Path;
    std::string Bytes;
    mode_t Mode = 0644;
};

SettingsFile OpenSettingsFile(const fs::path& file) {
    std::error_code error;
    const fs::file_status status = fs::status(file, error);
    if (!fs::exists(status)) CannotWrite(file, "no such file");
    if (!fs::is_regular_file(status)) CannotWrite(file, "not a regular file");
    SettingsFile settings;
    settings.Path = fs::canonical(file, error);
    if (error) CannotWrite(file, error.message());
    // The file is replaced by a new one, which a read-only file must not allow either: a file
    // nobody may write stays as it is even for the superuser, as a read-only file on Windows does.
    struct stat info {};
    if (stat(settings.Path.c_str(), &info) != 0) CannotWrite(file, std::strerror(errno));
    settings.Mode = info.st_mode & 07777;
    if ((info.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0 || access(settings.Path.c_str(), W_OK) != 0)
        CannotWrite(file, "the file is read-only");
    std::ifstream in(settings.Path, std::ios::binary);
    if (!in) CannotWrite(file, "the file cannot be read");
    settings.Bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    if (in.bad()) CannotWrite(file, "the file cannot be read");
    return settings;
}

void Replace(const SettingsFile& settings, const std::string& bytes, const fs::path& named) {
    try {
        AtomicFile out(settings.Path);
        out.Write(bytes);
        out.Commit(settings.Mode);
    } catch (const fs::filesystem_error& e) {
        CannotWrite(named, e.code().message());
    }
}

// ---- lines that keep their ends ----

struct Line {
    std::string Text;
    std::string End;  // "\r\n", "\n", "\r" or "" for a last line without one
};

std::vector<Line> SplitLines(const std::string& text) {
    std::vector<Line> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find_first_of("\r\n", start);
        if (end == std::string::npos) {
            lines.push_back({text.substr(start), ""});
            break;
        }
        std::size_t next = end + 1;
        if (text[end] == '\r' && next < text.size() && text[next] == '\n') ++next;
        lines.push_back({text.substr(start, end - start), text.substr(end, next - end)});
        start = next;
    }
    return lines;
}

std::string JoinLines(const std::vector<Line>& lines) {
    std::string text;
    for (const Line& line : lines) text += line.Text + line.End;
    return text;
}

// The line end new lines take: that of the file's first line, CR LF for a file without any.
std::string LineEndOf(const std::vector<Line>& lines) {
    for (const Line& line : lines)
        if (!line.End.empty()) return line.End;
    return "\r\n";
}

std::string Trim(const std::string& s) {
    const std::size_t b = s.find_first_not_of(" \t");
    if (b == std::string::npos) return {};
    return s.substr(b, s.find_last_not_of(" \t") - b + 1);
}

std::string Lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

bool IsBlank(const Line& line) { return Trim(line.Text).empty(); }

// Inserts `added` after the last non-blank line of [first, end) (or at `first` when all blank).
void InsertAfterContent(std::vector<Line>& lines, std::size_t first, std::size_t end, const Line& added) {
    std::size_t at = first;
    for (std::size_t i = first; i < end; ++i)
        if (!IsBlank(lines[i])) at = i + 1;
    if (at > 0 && lines[at - 1].End.empty()) lines[at - 1].End = added.End;
    lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(at), added);
}

void AppendSection(std::vector<Line>& lines, const std::string& header, const Line& added, bool blankBefore) {
    if (!lines.empty() && lines.back().End.empty()) lines.back().End = added.End;
    if (blankBefore && !lines.empty() && !IsBlank(lines.back())) lines.push_back({"", added.End});
    lines.push_back({header, added.End});
    lines.push_back(added);
}

// ---- the registry file ----

enum class Encoding { Bytes, Utf16Le };

std::string Utf16LeToUtf8(const std::string& bytes, const fs::path& file) {
    std::vector<gunichar2> units;
    for (std::size_t i = 2; i + 1 < bytes.size(); i += 2)
        units.push_back(static_cast<gunichar2>(static_cast<unsigned char>(bytes[i]) | (static_cast<unsigned char>(bytes[i + 1]) << 8)));
    glong written = 0;
    gchar* utf8 = g_utf16_to_utf8(units.data(), static_cast<glong>(units.size()), nullptr, &written, nullptr);
    if (!utf8) CannotWrite(file, "the UTF-16 text does not decode");
    std::string text(utf8, static_cast<std::size_t>(written));
    g_free(utf8);
    return text;
}

std::string Utf8ToUtf16Le(const std::string& text) {
    glong written = 0;
    gunichar2* units = g_utf8_to_utf16(text.data(), static_cast<glong>(text.size()), nullptr, &written, nullptr);
    std::string bytes = "\xFF\xFE";
    for (glong i = 0; units && i < written; ++i) {
        bytes.push_back(static_cast<char>(units[i] & 0xFF));
        bytes.push_back(static_cast<char>(units[i] >> 8));
    }
    g_free(units);
    return bytes;
}

// The value name of a value line ("Name"=... or @=...), or nullopt for any other line.
std::optional<std::string> ValueNameOf(const std::string& trimmed) {
    if (trimmed.rfind("@", 0) == 0) return std::string();
    if (trimmed.empty() || trimmed[0] != '"') return std::nullopt;
    std::string name;
    for (std::size_t i = 1; i < trimmed.size(); ++i) {
        if (trimmed[i] == '\\' && i + 1 < trimmed.size()) name.push_back(trimmed[++i]);
        else if (trimmed[i] == '"') return name;
        else name.push_back(trimmed[i]);
    }
    return std::nullopt;
}

bool EndsWithBackslash(const std::string& trimmed) { return !trimmed.empty() && trimmed.back() == '\\'; }

// Hex data goes on over the following lines while each ends with a backslash.
bool ContinuesOnNextLine(const std::string& trimmed) {
    return EndsWithBackslash(trimmed) && Lower(trimmed).find("=hex") != std::string::npos;
}

std::string RegistryData(const std::string& value, int type, const fs::path& file) {
    if (type == kRegDword) {
        char* end = nullptr;
        const std::string text = Trim(value);
        errno = 0;
        const long long number = std::strtoll(text.c_str(), &end, 10);
        if (text.empty() || *end != '\0' || errno != 0 || number < INT32_MIN || number > UINT32_MAX)
            CannotWrite(file, "\"" + value + "\" is no 32-bit number");
        char data[16];
        std::snprintf(data, sizeof data, "%08x", static_cast<uint32_t>(number));
        return std::string("dword:") + data;
    }
    return RegistryFile::Quoted(Trim(value));
}

std::string EditRegistryText(const std::string& text, const std::string& keyPath, const std::string& valueName,
                             const std::string& data) {
    std::vector<Line> lines = SplitLines(text);
    const std::string end = LineEndOf(lines);
    const std::string wantedKey = RegistryFile::NormaliseKey(keyPath), wantedName = Lower(valueName);
    bool inKey = false, replaced = false;
    std::size_t lastSectionStart = std::string::npos, lastSectionEnd = 0;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const std::string trimmed = Trim(lines[i].Text);
        if (!trimmed.empty() && trimmed.front() == '[' && trimmed.back() == ']') {
            if (inKey) lastSectionEnd = i;
            const std::string inner = trimmed.substr(1, trimmed.size() - 2);
            inKey = !inner.empty() && inner[0] != '-' && RegistryFile::NormaliseKey(inner) == wantedKey;
            if (inKey) lastSectionStart = i + 1;
            continue;
        }
        if (!inKey) continue;
        const auto name = ValueNameOf(trimmed);
        if (!name || Lower(*name) != wantedName) continue;
        // The value keeps the name as the file spells it; hex data continued over several lines
        // goes with it.
        const std::size_t nameEnd = lines[i].Text.find('=');
        std::size_t last = i;
        if (ContinuesOnNextLine(Trim(lines[i].Text)))
            while (last + 1 < lines.size() && EndsWithBackslash(Trim(lines[last].Text))) ++last;
        lines[i].Text = lines[i].Text.substr(0, nameEnd) + "=" + data;
        lines[i].End = lines[last].End;
        lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(i) + 1, lines.begin() + static_cast<std::ptrdiff_t>(last) + 1);
        replaced = true;
    }
    if (inKey) lastSectionEnd = lines.size();
    if (replaced) return JoinLines(lines);
    const Line added{(valueName.empty() ? std::string("@") : RegistryFile::Quoted(valueName)) + "=" + data, end};
    if (lastSectionStart != std::string::npos) InsertAfterContent(lines, lastSectionStart, lastSectionEnd, added);
    else AppendSection(lines, "[" + keyPath + "]", added, true);
    return JoinLines(lines);
}

// ---- the INI file ----

std::optional<std::string> SectionNameOf(const std::string& trimmed) {
    if (trimmed.size() < 2 || trimmed.front() != '[') return std::nullopt;
    const std::size_t close = trimmed.find(']');
    if (close == std::string::npos) return std::nullopt;
    return Trim(trimmed.substr(1, close - 1));
}

std::optional<std::string> IniKeyOf(const std::string& trimmed) {
    if (trimmed.empty() || trimmed[0] == ';') return std::nullopt;
    const std::size_t eq = trimmed.find('=');
    if (eq == std::string::npos) return std::nullopt;
    return Trim(trimmed.substr(0, eq));
}

std::string EditIniText(const std::string& text, const std::string& section, const std::string& key,
                        const std::optional<std::string>& value) {
    std::vector<Line> lines = SplitLines(text);
    const std::string end = LineEndOf(lines);
    const std::string wantedSection = Lower(section), wantedKey = Lower(key);
    int sectionsSeen = 0;  // sections of the wanted name so far
    bool inSection = false, written = false;
    std::size_t firstStart = std::string::npos, firstEnd = lines.size();
    for (std::size_t i = 0; i < lines.size();) {
        const std::string trimmed = Trim(lines[i].Text);
        if (const auto name = SectionNameOf(trimmed)) {
            if (inSection && sectionsSeen == 1) firstEnd = i;
            inSection = Lower(*name) == wantedSection;
            if (inSection && ++sectionsSeen == 1) firstStart = i + 1;
            ++i;
            continue;
        }
        const auto name = inSection ? IniKeyOf(trimmed) : std::nullopt;
        if (!name || Lower(*name) != wantedKey) {
            ++i;
            continue;
        }
        if (value && sectionsSeen == 1 && !written) {
            // Readers take the first entry of the first section: that one takes the value.
            const std::size_t nameStart = lines[i].Text.find_first_not_of(" \t");
            lines[i].Text = lines[i].Text.substr(0, nameStart) + *name + "=" + *value;
            written = true;
            ++i;
        } else if (!value) {
            lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(i));
        } else {
            ++i;
        }
    }
    if (!value || written) return JoinLines(lines);
    const Line added{key + "=" + *value, end};
    if (firstStart != std::string::npos) InsertAfterContent(lines, firstStart, std::min(firstEnd, lines.size()), added);
    else AppendSection(lines, "[" + section + "]", added, false);
    return JoinLines(lines);
}

}  // namespace

void SetRegistryValue(RootKey root, const std::string& key, const std::string& valueName, const std::string& value,
                      int type, const fs::path& localMachineFile) {
    const fs::path file = root == RootKey::CurrentUser  ? RegistryFile::CurrentUserPath()
                          : localMachineFile.empty() ? RegistryFile::LocalMachinePath()
                                                     : localMachineFile;
    if (type != kRegString && type != kRegDword) CannotWrite(file, "unknown value type " + std::to_string(type));
    const SettingsFile settings = OpenSettingsFile(file);
    const Encoding encoding = settings.Bytes.rfind("\xFF\xFE", 0) == 0 ? Encoding::Utf16Le : Encoding::Bytes;
    const std::string text = encoding == Encoding::Utf16Le ? Utf16LeToUtf8(settings.Bytes, file) : settings.Bytes;
    // A file the engine cannot read is not edited: the reason (line and value) is the answer.
    if (encoding == Encoding::Utf16Le) RegistryFile::Document::Parse(text, file.string());
    else RegistryFile::Document::Load(settings.Path);
    const std::string rootName = root == RootKey::LocalMachine ? "HKEY_LOCAL_MACHINE" : "HKEY_CURRENT_USER";
    const std::string edited = EditRegistryText(text, rootName + "\\" + key, valueName, RegistryData(value, type, file));
    Replace(settings, encoding == Encoding::Utf16Le ? Utf8ToUtf16Le(edited) : edited, file);
}

void WriteIniValue(const fs::path& file, const std::string& section, const std::string& key,
                   const std::optional<std::string>& value) {
    const SettingsFile settings = OpenSettingsFile(file);
    const auto& codec = AnsiText::CodecFor(ManageCodePage::ActiveAnsiCodePage());
    const std::optional<std::string> ansiValue = value ? std::optional<std::string>(codec.ToAnsi(*value)) : std::nullopt;
    const std::string edited = EditIniText(settings.Bytes, codec.ToAnsi(section), codec.ToAnsi(key), ansiValue);
    if (edited == settings.Bytes) return;
    Replace(settings, edited, file);
}

}  // namespace CommonFunc
