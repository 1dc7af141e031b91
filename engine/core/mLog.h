#pragma once
// The engine's support log: one text line per event, the file opened and closed for every line,
// written in the ANSI code page of the system's language.
#include <cstdint>
#include <functional>
#include <string>

namespace mLog {

// Per-call trace record of a traced public procedure.
struct ProcTrace {
    std::string ProcName;
    std::string Context;
    std::string Description;
    int32_t Line = -9999;
    int32_t Number = -9999;
    bool HasError = false;
};

void LogInit(const std::string& path, int16_t level);
int16_t GetLogLevel();
const std::string& LogPath();
// Appends "Ravek Debug Message <message> at DD-MM-YYYY hh:mm:ss". Raises error 75 naming the
// file when it cannot be written.
void LogWrite(const std::string& message);
void ProcEnter(ProcTrace& trace, const std::string& procName, int16_t level);
void TraceError(ProcTrace& trace, int32_t number, int32_t line, const std::string& description);
// Writes the exit line and raises the recorded error (AutomationError) if there is one.
void ProcExit(ProcTrace& trace, int16_t level);
[[noreturn]] void RaiseEngineError(const std::string& source, const std::string& description, int32_t number);

// Runs `body` as a traced public procedure: ProcEnter, body, TraceError on any error, ProcExit.
void Traced(const std::string& procName, const std::function<void(ProcTrace&)>& body);

// Text forms used in log lines.
std::string DateTimeText();        // "DD-MM-YYYY hh:mm:ss", local time
std::string SystemDateTimeText();  // "DD/MM/YYYY hh:mm:ss", the system's default form
std::string ShortDateText();       // "DD/MM/YYYY"
std::string ShortTimeText();       // "hh:mm:ss"
std::string DoubleText(double value);  // shortest round-trip form, e.g. 0.0123

// Code page that log text is written in (set from the language at start-up; 1255 by default).
void SetLogCodePage(int codePage);

}  // namespace mLog
