#include "mVersionCOntrol.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <vector>

#include "AnsiText.h"
#include "AutomationError.h"
#include "ManageCodePage.h"
#include "mIndexFiles.h"

namespace mVersionCOntrol {
namespace {

// A first line longer than this is no version line (and a binary file given as an index must not
// be read whole).
constexpr std::size_t kLongestFirstLine = 64 * 1024;

std::vector<std::string> Split(const std::string& text, char separator) {
    std::vector<std::string> fields;
    std::size_t start = 0;
    for (;;) {
        const std::size_t at = text.find(separator, start);
        fields.push_back(text.substr(start, at == std::string::npos ? std::string::npos : at - start));
        if (at == std::string::npos) return fields;
        start = at + 1;
    }
}

std::ifstream OpenForReading(const std::string& path) {
    std::error_code error;
    if (std::filesystem::is_directory(path, error))
        RuntimeErrors::Raise(RuntimeErrors::PathFileAccessError, "cannot read " + path + " (it is a folder)");
    std::ifstream in(path, std::ios::binary);
    if (!in)
        RuntimeErrors::Raise(RuntimeErrors::PathFileAccessError, "cannot read " + path + " (" + std::strerror(errno) + ")");
    return in;
}

// The first line as UTF-8: ANSI in the language's code page, or UTF-8 after a byte order mark.
std::string FirstLine(const std::string& path) {
    std::ifstream in = OpenForReading(path);
    std::string line;
    char c;
    while (line.size() <= kLongestFirstLine && in.get(c) && c != '\n') line.push_back(c);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    static const std::string kBom = "\xEF\xBB\xBF";
    if (line.rfind(kBom, 0) == 0 && AnsiText::IsValidUtf8(line.substr(kBom.size()))) return line.substr(kBom.size());
    return AnsiText::CodecFor(ManageCodePage::ActiveAnsiCodePage()).ToUtf8(line);
}

// A number as a conversion to a number accepts it: blanks around it, a sign, decimals.
bool IsNumeric(const std::string& text, double& value) {
    const char* begin = text.c_str();
    while (*begin == ' ') ++begin;
    if (*begin == '\0') return false;
    char* end = nullptr;
    value = std::strtod(begin, &end);
    if (end == begin) return false;
    while (*end == ' ') ++end;
    // strtod also reads "inf", "nan" and hexadecimal: none of them is a plain number here.
    const std::string digits(begin, static_cast<const char*>(end));
    return *end == '\0' && digits.find_first_of("xXiInN") == std::string::npos;
}

bool IndexVersion(const std::string& path, std::string& version) {
    const std::vector<std::string> fields = Split(FirstLine(path), ';');
    double number = 0;
    if (fields.size() < 3 || !IsNumeric(fields[1], number) || number != 0 || fields[1] != fields[2]) return false;
    version = fields[0];
    return true;
}

bool BarSeparatedVersion(const std::string& path, std::string& version) {
    const std::vector<std::string> fields = Split(FirstLine(path), '|');
    if (fields.size() < 3 || fields[0] != fields[1] || fields[2] != "False") return false;
    version = fields[0];
    return true;
}

bool BinaryHeader(const std::string& path, std::string& version) {
    std::ifstream in = OpenForReading(path);
    std::string header(kHeaderLength, ' ');
    in.read(header.data(), static_cast<std::streamsize>(header.size()));
    if (in.bad()) RuntimeErrors::Raise(RuntimeErrors::PathFileAccessError, "cannot read " + path);
    // A file shorter than the header leaves the rest of the fixed-length text blank.
    const std::string text = AnsiText::CodecFor(ManageCodePage::ActiveAnsiCodePage()).ToUtf8(header);
    if (text.find(':') == std::string::npos) return false;
    version = text;
    return true;
}

}  // namespace

bool GetFileVersion(const std::string& path, int kind, std::string& version) {
    switch (kind) {
        case IndexFile: return IndexVersion(path, version);
        case BarSeparatedFile: return BarSeparatedVersion(path, version);
        case BinaryFile: return BinaryHeader(path, version);
        default: return false;
    }
}

int CountBinaryFiles(const std::string& indexPath, Dictionary& entries, int32_t& count, std::string* reason) {
    return mIndexFiles::LoadIndex(indexPath, entries, count, false, ManageCodePage::ActiveAnsiCodePage(), reason);
}

int32_t LastBinaryFileFound(const std::string& applicationPath, const std::string& voice, int32_t upTo) {
    const std::filesystem::path folder = std::filesystem::path(mIndexFiles::BinFilePath(applicationPath, voice, 1)).parent_path();
    const std::string prefix = "Ravek-Dict__" + voice + "_";
    int32_t last = 0;
    std::error_code error;
    for (std::filesystem::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
        const std::string name = it->path().filename().string();
        if (name.size() <= prefix.size() + 4 || name.rfind(prefix, 0) != 0 || name.substr(name.size() - 4) != ".bin") continue;
        const std::string digits = name.substr(prefix.size(), name.size() - prefix.size() - 4);
        if (digits.size() > 10 || digits.find_first_not_of("0123456789") != std::string::npos || digits[0] == '0') continue;
        const long long n = std::stoll(digits);
        std::error_code kind;
        if (n <= upTo && n > last && std::filesystem::is_regular_file(it->path(), kind)) last = static_cast<int32_t>(n);
    }
    return last;
}

}  // namespace mVersionCOntrol
