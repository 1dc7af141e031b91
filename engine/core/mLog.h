#pragma once
// The engine's support log: one text line per event, the file opened and closed for every line,
// written in the ANSI code page of the system's language. Each engine object owns one Log (in its
// EngineState); modules reach it through the state they are given.
#include <cstdint>
#include <functional>
#include <string>

namespace mLog {

// The levels of the LogLevel setting. Level 0 writes errors and a few facts; above kProgress
// progress and timings; above kDetail the detail of every request; exactly kTrace also the entry
// and exit of the public procedures.
inline constexpr int16_t kProgress = 0;
inline constexpr int16_t kDetail = 5;
inline constexpr int16_t kTrace = 99;

// Per-call trace record of a traced public procedure.
struct ProcTrace {
    std::string ProcName;
    std::string Context;
    std::string Description;
    int32_t Line = -9999;
    int32_t Number = -9999;
    bool HasError = false;
};

class Log {
public:
    // Empties (creates) the log file and sets the level. Raises error 75 naming the file when it
    // cannot be created.
    void LogInit(const std::string& path, int16_t level);
    int16_t GetLogLevel() const { return level_; }
    const std::string& LogPath() const { return path_; }
    // Code page that log text is written in (set from the language at start-up; 1255 by default).
    void SetLogCodePage(int codePage) { codePage_ = codePage; }

    bool Progress() const { return level_ > kProgress; }
    bool Detail() const { return level_ > kDetail; }
    bool Trace() const { return level_ == kTrace; }

    // Appends "Ravek Debug Message <message> at DD-MM-YYYY hh:mm:ss". Raises error 75 naming the
    // file when it cannot be written.
    void LogWrite(const std::string& message) const;
    // The same, for callers that go on when the log cannot be written.
    void LogWriteQuietly(const std::string& message) const;

    // Follows a failure line with its reason, "Reason: <reason>", at the detail level.
    void LogReason(const std::string& reason) const;

    void ProcEnter(ProcTrace& trace, const std::string& procName, int16_t level) const;
    void TraceError(ProcTrace& trace, int32_t number, int32_t line, const std::string& description) const;
    // Writes the exit line and raises the recorded error (AutomationError) if there is one.
    void ProcExit(ProcTrace& trace, int16_t level) const;
    // Runs `body` as a traced public procedure: ProcEnter, body, TraceError on any error, ProcExit.
    void Traced(const std::string& procName, const std::function<void(ProcTrace&)>& body) const;

private:
    void AppendLine(const std::string& line) const;
    void AppendQuietly(const std::string& line) const;

    std::string path_;
    int16_t level_ = 0;
    int codePage_ = 1255;
};

[[noreturn]] void RaiseEngineError(const std::string& source, const std::string& description, int32_t number);

// Text forms used in log lines.
std::string DateTimeText();        // "DD-MM-YYYY hh:mm:ss", local time
std::string SystemDateTimeText();  // "DD/MM/YYYY hh:mm:ss", the system's default form
std::string ShortDateText();       // "DD/MM/YYYY"
std::string ShortTimeText();       // "hh:mm:ss"
std::string DoubleText(double value);  // shortest round-trip form, e.g. 0.0123

}  // namespace mLog
