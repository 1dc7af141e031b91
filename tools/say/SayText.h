#pragma once
// What both ways of speaking share: the request, the text, the printing of the engine's events
// and of its errors.
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

namespace say {

constexpr int kDefaultVoice = 3;  // the male dictionary voice: user recordings, dictionary, smart lookup

struct Request {
    int voice = kDefaultVoice;
    bool events = false;
    std::string output;  // WAVE file to render into; empty: speak through the service
    std::string text;    // UTF-8
    double timeoutSeconds = 0;  // 0: derived from the text's length
};

// Exit codes.
constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;  // the engine refused, failed or did not finish
constexpr int kExitUsage = 2;

// Joins the arguments with one blank; blanks stand in for line breaks and tabs, which the
// engine does not treat as word separators. Leading and trailing blanks are dropped.
std::string NormaliseText(const std::string& text);
// The word that starts at a 1-based character (code point) position of the text: the characters
// from there up to the next blank or punctuation mark. Empty when the position is outside.
std::string WordAt(const std::string& utf8Text, int32_t position);
// How long to wait for the end of speech before giving up.
double SpeechTimeoutSeconds(const Request& request);
// The same in whole milliseconds, at least 1 and at most the longest time-out a D-Bus call and a
// GLib timer take (2147483647 ms, about 24 days).
int SpeechTimeoutMilliseconds(const Request& request);

// Prints the engine's events as they arrive, one line each:
//   SpeechStart / WordStart <index> <word> / Speechend
class EventPrinter {
public:
    EventPrinter(const std::string& text, bool enabled, std::FILE* out = stdout) : text_(text), enabled_(enabled), out_(out) {}
    void SpeechStart() { Line("SpeechStart"); }
    void WordStart(int32_t index) {
        if (enabled_) Line("WordStart " + std::to_string(index) + " " + WordAt(text_, index));
    }
    void Speechend() { Line("Speechend"); }

private:
    void Line(const std::string& line);
    const std::string& text_;
    bool enabled_;
    std::FILE* out_;
};

// The parts of an engine error message "number|source|description".
struct EngineError {
    std::string number;
    std::string source;
    std::string description;
};
std::optional<EngineError> ParseEngineError(const std::string& message);
// "ravek-say: <what> failed: engine error <n> in <source>: <description>".
void ReportEngineError(const std::string& what, const EngineError& error);

}  // namespace say
