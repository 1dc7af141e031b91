// ravek-say: speaks Hebrew text through the RavekVoice engine, or renders it into a WAVE file.
#include <glib.h>

#include <charconv>
#include <cstdio>
#include <exception>
#include <iostream>
#include <iterator>
#include <string>

#include "SayModes.h"

namespace {

constexpr const char* kUsage =
    "Usage: ravek-say [--voice N] [--events] [--output FILE.wav] [--timeout SECONDS] [TEXT...]\n"
    "\n"
    "Speaks TEXT (the arguments joined by blanks; without arguments, standard input) with the\n"
    "RavekVoice engine. The text is UTF-8; line breaks count as blanks.\n"
    "\n"
    "Without --output the engine service org.ravek.RavekVoice on the session bus speaks it (the\n"
    "bus starts the service when needed) and ravek-say waits for the end of speech. When another\n"
    "client's speech is still playing the engine ignores the text: ravek-say then fails at the end\n"
    "of that speech.\n"
    "\n"
    "  --voice N          voice 1 to 4 (default 3):\n"
    "                       1 MaleVoiceName     user recordings only\n"
    "                       2 FemaleVoiceName   user recordings only\n"
    "                       3 MaleVoiceName1    user recordings, dictionary and smart lookup\n"
    "                       4 FemaleVoiceName1  user recordings, dictionary and smart lookup\n"
    "  --events           print each engine event on its own line as it arrives:\n"
    "                       SpeechStart\n"
    "                       WordStart <WordIndex> <the word at that character position>\n"
    "                       Speechend\n"
    "  --output FILE.wav  render the speech into FILE.wav (16-bit PCM, 22050 Hz, stereo) with the\n"
    "                     engine's renderer inside this program instead of playing it, as fast\n"
    "                     as the clips decode; the file appears only when it is complete\n"
    "  --timeout SECONDS  give up when the speech has not ended by then (default: 30 s plus\n"
    "                     0.25 s per character); the speech is then stopped\n"
    "  --help             show this text\n"
    "\n"
    "Settings are read from the registry file $RAVEK_REGISTRY (see the README).\n"
    "Exit status: 0 spoken, 1 the engine refused or failed (its error is printed), 2 bad usage.\n";

int UsageError(const std::string& message) {
    std::fprintf(stderr, "ravek-say: %s\n\n%s", message.c_str(), kUsage);
    return say::kExitUsage;
}

bool ParseVoice(const std::string& text, int& voice) {
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), voice);
    return !text.empty() && ec == std::errc{} && end == text.data() + text.size() && voice >= 1 && voice <= 4;
}

bool ParseSeconds(const std::string& text, double& seconds) {
    try {
        size_t used = 0;
        seconds = std::stod(text, &used);
        return used == text.size() && seconds > 0 && seconds < 86400;
    } catch (const std::exception&) {
        return false;
    }
}

}  // namespace

int main(int argc, char** argv) {
    say::Request request;
    std::string text;
    bool haveText = false;
    bool optionsEnded = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool option = !optionsEnded && arg.size() > 1 && arg[0] == '-';
        if (!option) {
            text += (haveText ? " " : "") + arg;
            haveText = true;
        } else if (arg == "--") {
            optionsEnded = true;
        } else if (arg == "--help" || arg == "-h") {
            std::fputs(kUsage, stdout);
            return say::kExitOk;
        } else if (arg == "--events") {
            request.events = true;
        } else if (arg == "--voice" || arg == "--output" || arg == "--timeout") {
            if (i + 1 >= argc) return UsageError(arg + " needs a value");
            const std::string value = argv[++i];
            if (arg == "--voice" && !ParseVoice(value, request.voice))
                return UsageError("--voice must be 1, 2, 3 or 4, not \"" + value + "\"");
            if (arg == "--timeout" && !ParseSeconds(value, request.timeoutSeconds))
                return UsageError("--timeout must be a positive number of seconds, not \"" + value + "\"");
            if (arg == "--output") {
                if (value.empty()) return UsageError("--output needs a file name");
                request.output = value;
            }
        } else {
            return UsageError("unknown option " + arg);
        }
    }
    if (!haveText) text.assign(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>());
    if (!g_utf8_validate(text.data(), static_cast<gssize>(text.size()), nullptr))
        return UsageError("the text is not valid UTF-8");
    request.text = say::NormaliseText(text);
    if (request.text.empty()) return UsageError("nothing to say: the text is empty");
    try {
        return request.output.empty() ? say::SpeakOnBus(request) : say::RenderToFile(request);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "ravek-say: %s\n", e.what());
        return say::kExitFailure;
    }
}
