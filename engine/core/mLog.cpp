#include "mLog.h"

#include <charconv>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>

#include "AnsiText.h"
#include "AutomationError.h"

namespace mLog {
namespace {

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using FileHandle = std::unique_ptr<std::FILE, FileCloser>;

std::string TimeText(const char* format) {
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char buf[64];
    std::strftime(buf, sizeof buf, format, &local);
    return buf;
}

}  // namespace

// Appends one line; raises error 75 naming the file when it cannot be opened or written. The
// stream buffers the line, so a full disk shows only when it is flushed and closed: both count.
void Log::AppendLine(const std::string& line) const {
    FileHandle f(std::fopen(path_.c_str(), "ab"));
    if (!f) RuntimeErrors::Raise(RuntimeErrors::PathFileAccessError, "cannot write the log file " + path_);
    std::string bytes = AnsiText::CodecFor(codePage_).ToAnsi(line) + "\r\n";
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), f.get()) == bytes.size();
    const bool closed = std::fclose(f.release()) == 0;
    if (!written || !closed)
        RuntimeErrors::Raise(RuntimeErrors::PathFileAccessError,
                             "cannot write the log file " + path_ + " (" + std::strerror(errno) + ")");
}

void Log::AppendQuietly(const std::string& line) const {
    try {
        if (!path_.empty()) AppendLine(line);
    } catch (...) {
    }
}

void Log::LogInit(const std::string& path, int16_t level) {
    path_ = path;
    level_ = level;
    FileHandle f(std::fopen(path_.c_str(), "wb"));
    if (!f) RuntimeErrors::Raise(RuntimeErrors::PathFileAccessError, "cannot create the log file " + path_);
}

void Log::LogWrite(const std::string& message) const {
    AppendLine("Ravek Debug Message " + message + " at " + DateTimeText());
}

void Log::LogWriteQuietly(const std::string& message) const {
    try {
        LogWrite(message);
    } catch (...) {
    }
}

void Log::LogReason(const std::string& reason) const {
    if (Detail() && !reason.empty()) LogWrite("Reason: " + reason);
}

void Log::ProcEnter(ProcTrace& trace, const std::string& procName, int16_t) const {
    if (Trace()) AppendQuietly("Log  Start" + procName + " at " + DateTimeText());
    trace = ProcTrace{};
    trace.ProcName = procName;
}

void Log::TraceError(ProcTrace& trace, int32_t number, int32_t line, const std::string& description) const {
    trace.Number = number;
    trace.Line = line;
    trace.HasError = true;
    trace.Description = description.empty()
                            ? "No Error Description - " + std::string(program_invocation_short_name)
                            : description;
    std::string text = "Error " + trace.ProcName + trace.Description;
    if (!trace.Context.empty()) text += " [" + trace.Context + "]";
    AppendQuietly(text);
}

void Log::ProcExit(ProcTrace& trace, int16_t) const {
    if (Trace()) AppendQuietly("End " + trace.ProcName + " at " + DateTimeText());
    if (trace.HasError) throw AutomationError(trace.Number, trace.ProcName, trace.Description);
}

void RaiseEngineError(const std::string& source, const std::string& description, int32_t number) {
    throw AutomationError(number, source, description);
}

void Log::Traced(const std::string& procName, const std::function<void(ProcTrace&)>& body) const {
    ProcTrace trace;
    ProcEnter(trace, procName, mLog::kTrace);
    try {
        body(trace);
    } catch (const AutomationError& e) {
        TraceError(trace, e.Number(), -9999, e.Description());
    } catch (const std::exception& e) {
        AutomationError error = RuntimeErrors::FromException(e, procName);
        TraceError(trace, error.Number(), -9999, error.Description());
    }
    ProcExit(trace, mLog::kTrace);
}

std::string DateTimeText() { return TimeText("%d-%m-%Y %H:%M:%S"); }
std::string SystemDateTimeText() { return TimeText("%d/%m/%Y %H:%M:%S"); }
std::string ShortDateText() { return TimeText("%d/%m/%Y"); }
std::string ShortTimeText() { return TimeText("%H:%M:%S"); }

std::string DoubleText(double value) {
    char buf[32];
    auto res = std::to_chars(buf, buf + sizeof buf, value);
    return std::string(buf, res.ptr);
}

}  // namespace mLog
