#include "SayText.h"

#include <glib.h>

#include <algorithm>
#include <cmath>

namespace say {
namespace {

bool EndsWord(gunichar c) {
    switch (c) {
        case ',': case '.': case '?': case '!': case ';': case ':':
            return true;
        default:
            return g_unichar_isspace(c);
    }
}

}  // namespace

std::string NormaliseText(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) out.push_back(c == '\n' || c == '\r' || c == '\t' ? ' ' : c);
    const size_t first = out.find_first_not_of(' ');
    if (first == std::string::npos) return {};
    const size_t last = out.find_last_not_of(' ');
    return out.substr(first, last - first + 1);
}

std::string WordAt(const std::string& utf8Text, int32_t position) {
    if (position < 1 || !g_utf8_validate(utf8Text.data(), static_cast<gssize>(utf8Text.size()), nullptr)) return {};
    const char* p = utf8Text.data();
    const char* end = p + utf8Text.size();
    for (int32_t i = 1; i < position && p < end; ++i) p = g_utf8_next_char(p);
    const char* start = p;
    while (p < end && !EndsWord(g_utf8_get_char(p))) p = g_utf8_next_char(p);
    return std::string(start, p);
}

double SpeechTimeoutSeconds(const Request& request) {
    if (request.timeoutSeconds > 0) return request.timeoutSeconds;
    // A recorded word lasts well under a second; a character of text then allows a generous
    // 0.25 s, on top of a fixed allowance for starting the engine and preparing the files.
    const glong characters = g_utf8_strlen(request.text.data(), static_cast<gssize>(request.text.size()));
    return 30.0 + 0.25 * static_cast<double>(characters);
}

int SpeechTimeoutMilliseconds(const Request& request) {
    const double ms = std::ceil(SpeechTimeoutSeconds(request) * 1000.0);
    if (!(ms >= 1.0)) return 1;
    return ms >= static_cast<double>(G_MAXINT) ? G_MAXINT : static_cast<int>(ms);
}

void EventPrinter::Line(const std::string& line) {
    if (!enabled_) return;
    std::fprintf(out_, "%s\n", line.c_str());
    std::fflush(out_);
}

std::optional<EngineError> ParseEngineError(const std::string& message) {
    const size_t first = message.find('|');
    if (first == std::string::npos) return std::nullopt;
    const size_t second = message.find('|', first + 1);
    if (second == std::string::npos) return std::nullopt;
    return EngineError{message.substr(0, first), message.substr(first + 1, second - first - 1), message.substr(second + 1)};
}

void ReportEngineError(const std::string& what, const EngineError& error) {
    std::fprintf(stderr, "ravek-say: %s failed: engine error %s in %s: %s\n", what.c_str(), error.number.c_str(),
                 error.source.c_str(), error.description.c_str());
}

}  // namespace say
