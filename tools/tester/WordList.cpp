#include "WordList.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "AnsiText.h"
#include "AutomationError.h"

namespace ravektester {

namespace {

const char* const kSource = "EngineTester.Command3";

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

[[noreturn]] void RaiseFileError(int32_t number, const std::string& what, const QString& path) {
    throw AutomationError(number, kSource, what + " " + path.toStdString() + ": " + std::strerror(errno));
}

// Streams the input's lines to the output, holding at most `maxKept` bytes of a line.
class LineFilter {
public:
    LineFilter(std::FILE* out, const std::unordered_set<std::string>& words, size_t maxKept, const QString& outputPath)
        : out_(out), words_(words), maxKept_(maxKept), outputPath_(outputPath) {}

    void Feed(const char* data, size_t size) {
        while (size > 0) {
            const char* newline = static_cast<const char*>(std::memchr(data, '\n', size));
            const size_t take = newline ? static_cast<size_t>(newline - data) : size;
            Append(data, take);
            if (!newline) return;
            EndLine();
            data += take + 1;
            size -= take + 1;
        }
    }

    void Finish() {
        if (!line_.empty() || streaming_) EndLine();
    }

    WordListResult result;

private:
    void Append(const char* data, size_t size) {
        if (streaming_) {
            // A CR held back from the previous piece was no line end after all.
            if (heldCr_) Write("\r", 1);
            heldCr_ = false;
            if (size > 0 && data[size - 1] == '\r') {
                heldCr_ = true;
                --size;
            }
            Write(data, size);
            return;
        }
        line_.append(data, size);
        if (line_.size() > maxKept_) {
            // Too long to be a word: pass it through as it comes.
            streaming_ = true;
            std::string kept;
            kept.swap(line_);
            Append(kept.data(), kept.size());
        }
    }

    void EndLine() {
        ++result.Lines;
        if (streaming_) {
            streaming_ = false;
            heldCr_ = false;
            WriteLineEnd();
            return;
        }
        if (!line_.empty() && line_.back() == '\r') line_.pop_back();
        if (words_.find(line_) == words_.end()) {
            Write(line_.data(), line_.size());
            WriteLineEnd();
        }
        line_.clear();
    }

    void WriteLineEnd() {
        ++result.Missing;
        Write("\r\n", 2);
    }

    void Write(const char* data, size_t size) {
        if (size > 0 && std::fwrite(data, 1, size, out_) != size)
            RaiseFileError(RuntimeErrors::PathFileAccessError, "Cannot write", outputPath_);
    }

    std::FILE* out_;
    const std::unordered_set<std::string>& words_;
    size_t maxKept_;
    QString outputPath_;
    std::string line_;
    bool streaming_ = false;
    bool heldCr_ = false;
};

size_t LongestWord(const std::unordered_set<std::string>& words) {
    size_t longest = 0;
    for (const std::string& word : words) longest = std::max(longest, word.size());
    return longest;
}

}  // namespace

QString WordListOutputPath(const QString& wordListPath) {
    const QString name = QFileInfo(wordListPath).fileName();
    const QString output = name.size() > 3 ? wordListPath.left(wordListPath.size() - 3) + QStringLiteral("out")
                                           : wordListPath + QStringLiteral(".out");
    return output == wordListPath ? QString() : output;
}

std::unordered_set<std::string> AnsiWords(const QStringList& words, int codePage) {
    const AnsiText::Codec& codec = AnsiText::CodecFor(codePage);
    std::unordered_set<std::string> ansi;
    ansi.reserve(static_cast<size_t>(words.size()));
    for (const QString& word : words) {
        const std::string utf8 = word.toStdString();
        if (codec.CanRepresent(utf8)) ansi.insert(codec.ToAnsi(utf8));
    }
    return ansi;
}

WordListResult AnalyseWordList(const QString& input, const QString& output, const std::unordered_set<std::string>& words,
                               const std::atomic<bool>& stop) {
    File in(std::fopen(QFile::encodeName(input).constData(), "rb"));
    if (!in) RaiseFileError(errno == ENOENT ? RuntimeErrors::FileNotFound : RuntimeErrors::PathFileAccessError,
                            "Cannot open the word list", input);
    File out(std::fopen(QFile::encodeName(output).constData(), "wb"));
    if (!out) RaiseFileError(RuntimeErrors::PathFileAccessError, "Cannot create", output);

    // One byte more than the longest word (and room for its CR) decides that a line is no word.
    LineFilter filter(out.get(), words, LongestWord(words) + 1, output);
    std::string buffer(1 << 16, '\0');
    while (!stop.load(std::memory_order_relaxed)) {
        const size_t got = std::fread(buffer.data(), 1, buffer.size(), in.get());
        if (got > 0) filter.Feed(buffer.data(), got);
        if (got < buffer.size()) {
            if (std::ferror(in.get())) RaiseFileError(RuntimeErrors::PathFileAccessError, "Cannot read", input);
            filter.Finish();
            break;
        }
    }
    WordListResult result = filter.result;
    result.Stopped = stop.load();
    if (std::fflush(out.get()) != 0) RaiseFileError(RuntimeErrors::PathFileAccessError, "Cannot write", output);
    return result;
}

}  // namespace ravektester
