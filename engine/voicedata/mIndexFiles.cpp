#include "mIndexFiles.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <filesystem>
#include <fstream>
#include <limits>
#include <sstream>
#include <string_view>
#include <vector>

#include "AnsiText.h"
#include "AutomationError.h"

namespace fs = std::filesystem;

namespace mIndexFiles {
namespace {

constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";
constexpr std::size_t kIndexFields = 5;

bool ReadWholeFile(const std::string& path, std::string& bytes) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    // Read in one piece when the size is known (index files run to megabytes); a file whose size
    // cannot be told is read as a stream.
    std::error_code ec;
    const uintmax_t size = fs::file_size(path, ec);
    if (!ec && size < static_cast<uintmax_t>(std::numeric_limits<std::streamsize>::max())) {
        bytes.resize(static_cast<std::size_t>(size));
        in.read(bytes.data(), static_cast<std::streamsize>(size));
        bytes.resize(static_cast<std::size_t>(in.gcount()));
        if (in.bad()) return false;
        if (in.eof() || in.peek() == std::char_traits<char>::eof()) return !in.bad();
        in.clear();
    }
    std::ostringstream ss;
    ss << in.rdbuf();
    if (in.bad()) return false;
    bytes += std::move(ss).str();
    return true;
}

// How the index text is written. The file is ANSI; one that starts with a UTF-8 byte order mark
// was saved as UTF-8 by an editor and is read as such (when the rest really is UTF-8). The mark
// is removed from `bytes`. Returns the code page's codec, or null for UTF-8 text.
const AnsiText::Codec* IndexEncoding(std::string& bytes, int codePage) {
    if (std::string_view(bytes).substr(0, kUtf8Bom.size()) == kUtf8Bom) {
        bytes.erase(0, kUtf8Bom.size());
        if (AnsiText::IsValidUtf8(bytes)) return nullptr;
    }
    return &AnsiText::CodecFor(codePage);
}

// Appends a field as UTF-8. Line ends and separators are ASCII, which every code page and UTF-8
// share, so ANSI text is split first and only its fields are converted.
void AppendUtf8Field(std::string& out, std::string_view field, const AnsiText::Codec* ansi) {
    unsigned char high = 0;  // ASCII (the numbers) needs no conversion
    for (char c : field) high |= static_cast<unsigned char>(c);
    if (ansi && high >= 0x80) ansi->AppendUtf8(field, out);
    else out.append(field);
}

void SplitFields(std::string_view line, std::vector<std::string_view>& fields) {
    fields.clear();
    std::size_t start = 0;
    while (true) {
        std::size_t end = line.find(';', start);
        if (end == std::string_view::npos) {
            fields.push_back(line.substr(start));
            return;
        }
        fields.push_back(line.substr(start, end - start));
        start = end + 1;
    }
}

// A whole number, blanks around it allowed; false when the text is not one or exceeds 32 bits.
bool WholeNumber(std::string_view text, int32_t& value) {
    while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
    while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    if (text.empty()) return false;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return ec == std::errc{} && end == text.data() + text.size();
}

// Adds one index line; false (with what is wrong) when the line breaks the format.
bool AddLine(std::string_view line, std::vector<std::string_view>& fields, Dictionary& dict, int32_t& fileCount,
             bool lowerCase, const AnsiText::Codec* ansi, std::string& problem) {
    SplitFields(line, fields);
    if (fields.size() < kIndexFields) {
        problem = std::to_string(fields.size()) + " fields separated by \";\", at least 5 needed";
        return false;
    }
    std::string key;
    AppendUtf8Field(key, fields[0], ansi);
    if (lowerCase) key = AnsiText::ToLower(key);
    std::string item;
    item.reserve(fields[1].size() + fields[2].size() + fields[4].size() + 2);
    AppendUtf8Field(item, fields[1], ansi);
    item.append(";");
    AppendUtf8Field(item, fields[2], ansi);
    item.append(";");
    AppendUtf8Field(item, fields[4], ansi);
    if (!dict.TryAdd(std::move(key), std::move(item))) {
        std::string word;
        AppendUtf8Field(word, fields[0], ansi);
        problem = "the word \"" + word + "\" is listed twice";
        return false;
    }
    // The entry stays even when its file number does not convert: the load stops after it.
    int32_t file = 0;
    if (!WholeNumber(fields[4], file)) {
        problem = "the file number \"" + std::string(fields[4]) + "\" is not a 32-bit whole number";
        return false;
    }
    if (file > fileCount) fileCount = file;
    return true;
}

[[noreturn]] void FileError(int32_t number, const std::string& what, const std::string& file) {
    RuntimeErrors::Raise(number, what + " " + file);
}

// An open file descriptor, closed when it goes away.
class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    explicit operator bool() const { return fd_ >= 0; }
    int get() const { return fd_; }
    // Hands the descriptor over to the caller, who closes it.
    int Release() {
        const int fd = fd_;
        fd_ = -1;
        return fd;
    }
    // Closes now; false when the close reports an error (data not written).
    bool Close() {
        const int fd = fd_;
        fd_ = -1;
        return ::close(fd) == 0;
    }

private:
    int fd_;
};

// Fills the buffer from `offset`; false on an error or when the file ends first.
bool ReadAt(int fd, std::vector<char>& buffer, off_t offset) {
    std::size_t done = 0;
    while (done < buffer.size()) {
        const ssize_t n = ::pread(fd, buffer.data() + done, buffer.size() - done, offset + static_cast<off_t>(done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

bool WriteAll(int fd, const std::vector<char>& buffer) {
    std::size_t done = 0;
    while (done < buffer.size()) {
        const ssize_t n = ::write(fd, buffer.data() + done, buffer.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace

int LoadIndex(const std::string& path, Dictionary& dict, int32_t& fileCount, bool lowerCase, int codePage,
              std::string* reason) {
    std::string problem;
    auto fail = [&](std::string why) {
        if (reason) *reason = std::move(why);
        return -1;
    };
    try {
        std::string bytes;
        problem = NotARegularFile(path);  // a folder of that name is no index
        if (!problem.empty()) return fail(problem);
        if (!ReadWholeFile(path, bytes)) return fail("the file cannot be read");
        const AnsiText::Codec* ansi = IndexEncoding(bytes, codePage);
        int32_t count = 1;
        std::vector<std::string_view> fields;
        // Room for one entry per line; a record takes at least 7 bytes with its line end, which
        // bounds the guess for a file of blank lines.
        const auto lineEnds = static_cast<std::size_t>(std::count(bytes.begin(), bytes.end(), '\n'));
        dict.Reserve(dict.Count() + std::min(lineEnds, bytes.size() / 7) + 1);
        // Lines end at CR LF, CR or LF; a blank line is no record, so a run of line-end characters
        // simply separates two records.
        const char* p = bytes.data();
        const char* const end = p + bytes.size();
        int64_t lineNumber = 1;  // CR LF counts as one line end
        while (p < end) {
            if (*p == '\r' || *p == '\n') {
                ++lineNumber;
                if (*p++ == '\r' && p < end && *p == '\n') ++p;
                continue;
            }
            const char* lineEnd = p;
            while (lineEnd < end && *lineEnd != '\r' && *lineEnd != '\n') ++lineEnd;
            if (!AddLine(std::string_view(p, static_cast<std::size_t>(lineEnd - p)), fields, dict, count, lowerCase, ansi,
                         problem))
                return fail("line " + std::to_string(lineNumber) + ": " + problem);
            p = lineEnd;
        }
        fileCount = count;
        return 0;
    } catch (const std::exception& e) {
        return fail(e.what());
    }
}

std::string NotARegularFile(const std::string& path) {
    std::error_code ec;
    const fs::file_status status = fs::status(path, ec);
    if (status.type() == fs::file_type::not_found) return "no such file";
    if (ec) return ec.message();
    if (!fs::is_regular_file(status)) return "not a regular file";
    return {};
}

namespace {

// n of a name "<prefix><n>.bin", n written in decimal without leading zeros; 0 when it is not one.
int32_t BinFileNumber(std::string_view name, std::string_view prefix) {
    constexpr std::string_view kSuffix = ".bin";
    if (name.size() <= prefix.size() + kSuffix.size() || name.substr(0, prefix.size()) != prefix ||
        name.substr(name.size() - kSuffix.size()) != kSuffix)
        return 0;
    std::string_view digits = name.substr(prefix.size(), name.size() - prefix.size() - kSuffix.size());
    if (digits.front() == '0' || digits.find_first_not_of("0123456789") != std::string_view::npos) return 0;
    int32_t n = 0;
    auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), n);
    return ec == std::errc{} && end == digits.data() + digits.size() ? n : 0;
}

}  // namespace

std::vector<int32_t> ExistingBinFileNumbers(const std::string& applicationPath, const std::string& voiceName,
                                            int32_t fileCount) {
    std::vector<int32_t> numbers;
    const std::string prefix = "Ravek-Dict__" + voiceName + "_";
    std::error_code ec;
    fs::directory_iterator it(applicationPath + "/RavekDictionary", ec);
    if (ec) {
        for (int32_t n = 1; n <= fileCount; ++n) {
            if (NotARegularFile(BinFilePath(applicationPath, voiceName, n)) == "no such file") break;
            numbers.push_back(n);
        }
        return numbers;
    }
    for (; it != fs::directory_iterator(); it.increment(ec)) {
        const int32_t n = BinFileNumber(it->path().filename().native(), prefix);
        if (n >= 1 && n <= fileCount) numbers.push_back(n);
    }
    std::sort(numbers.begin(), numbers.end());
    return numbers;
}

std::string BinFilePath(const std::string& applicationPath, const std::string& voiceName, int32_t n) {
    return applicationPath + "/RavekDictionary/Ravek-Dict__" + voiceName + "_" + std::to_string(n) + ".bin";
}

std::string IndexFilePath(const std::string& applicationPath, const std::string& voiceName) {
    return applicationPath + "/RavekDictionary/Ravek-Index__" + voiceName + ".txt";
}

std::vector<char> ReadClip(const std::string& binPath, int64_t position, int64_t length) {
    ClipReader reader;
    return reader.Read(binPath, position, length);
}

ClipReader::~ClipReader() {
    for (auto& [path, file] : open_) ::close(file.fd);
}

std::vector<char> ClipReader::Read(const std::string& binPath, int64_t position, int64_t length) {
    if (position < 1 || length < 0)
        RuntimeErrors::Raise(RuntimeErrors::InvalidProcedureCall, "clip at position " + std::to_string(position) +
                                                                      " of length " + std::to_string(length) + " in " + binPath);
    auto known = open_.find(binPath);
    if (known == open_.end()) {
        // Plain descriptors and positioned reads: a request extracts one clip per dictionary
        // word, so every system call saved here counts.
        FileDescriptor in(::open(binPath.c_str(), O_RDONLY | O_CLOEXEC));
        if (!in) FileError(RuntimeErrors::FileNotFound, "cannot open binary file", binPath);
        struct stat info {};
        // Like a size query by path, anything but a regular file has no size to read clips from.
        if (::fstat(in.get(), &info) != 0 || !S_ISREG(info.st_mode)) FileError(RuntimeErrors::PathFileAccessError, "cannot read the size of", binPath);
        known = open_.emplace(binPath, OpenFile{in.get(), static_cast<uint64_t>(info.st_size)}).first;
        in.Release();
    }
    const int fd = known->second.fd;
    const uint64_t size = known->second.size;
    // The clip must lie wholly inside the file: reading past the end would hand out a clip cut
    // short (or padded with zeros) as if it were complete.
    if (static_cast<uint64_t>(position - 1) > size || static_cast<uint64_t>(length) > size - static_cast<uint64_t>(position - 1))
        RuntimeErrors::Raise(RuntimeErrors::InputPastEndOfFile,
                             "binary file " + binPath + " holds " + std::to_string(size) + " bytes, too few for the clip of " +
                                 std::to_string(length) + " bytes at position " + std::to_string(position));
    std::vector<char> buffer(static_cast<std::size_t>(length));
    if (!ReadAt(fd, buffer, static_cast<off_t>(position - 1)))
        FileError(RuntimeErrors::InputPastEndOfFile, "short read from binary file", binPath);
    return buffer;
}

void ExtractClip(const std::string& binPath, int64_t position, int64_t length, const std::string& outPath) {
    const std::vector<char> buffer = ReadClip(binPath, position, length);
    FileDescriptor out(::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
    if (!out) {
        std::error_code ec;
        fs::path parent = fs::path(outPath).parent_path();
        if (!parent.empty() && !fs::is_directory(parent, ec))
            FileError(RuntimeErrors::PathNotFound, "no folder for the clip file", outPath);
        FileError(RuntimeErrors::PathFileAccessError, "cannot write clip file", outPath);
    }
    const bool written = WriteAll(out.get(), buffer) && out.Close();
    if (!written) {
        std::error_code ec;
        fs::remove(outPath, ec);
        FileError(RuntimeErrors::PathFileAccessError, "cannot write clip file", outPath);
    }
}

}  // namespace mIndexFiles
