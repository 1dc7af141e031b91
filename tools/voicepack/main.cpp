// ravek-voicepack: builds a dictionary voice (index, binary files, lookup database) from a list
// of words and their MP3 clips.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <charconv>
#include <cstring>
#include <iostream>
#include <map>
#include <string>

#include "AutomationError.h"
#include "VoicePack.h"

namespace {

constexpr const char* kUsage =
    "Usage: ravek-voicepack --voice NAME --sex male|female --data-version TEXT --words FILE --out DIR\n"
    "                       [--prefixes FILE] [--max-bin-size BYTES]\n"
    "\n"
    "Packs the recorded words of one dictionary voice into DIR:\n"
    "  Ravek-Index__NAME.txt     index (Windows-1255, CR LF), version line first\n"
    "  Ravek-Dict__NAME_n.bin    binary files of MP3 clips, each at most --max-bin-size bytes\n"
    "                            (default 52428800)\n"
    "  Ravek.db                  lookup database, created or updated: the lookup table of the\n"
    "                            voice's sex and its version row are replaced\n"
    "\n"
    "  --words FILE     UTF-8, one entry a line: word<TAB>clip[<TAB>tie-break]; a relative clip\n"
    "                   path is relative to FILE; tie-break defaults to 1 (smaller wins)\n"
    "  --prefixes FILE  UTF-8 lines prefix<TAB>file name<TAB>priority; replaces the prefix table\n"
    "  --data-version   the version text; must contain \":\" (e.g. \"2.1:2024\")\n"
    "  --max-bin-size   at most 2147483647\n"
    "\n"
    "Nothing in DIR changes when the input is refused.\n";

// Progress on standard error while it is a terminal: one line rewritten in place, at most every
// half second or each whole per cent, ended by a newline when the last clip is written.
class ProgressLine {
public:
    void operator()(std::size_t done, std::size_t total) {
        const auto now = std::chrono::steady_clock::now();
        const std::size_t percent = total ? done * 100 / total : 100;
        if (done != total && percent == lastPercent_ && now - lastShown_ < std::chrono::milliseconds(500)) return;
        lastPercent_ = percent;
        lastShown_ = now;
        std::cerr << "\rPacking: " << done << " of " << total << " words (" << percent << "%)" << (done == total ? "\n" : "")
                  << std::flush;
    }

private:
    std::size_t lastPercent_ = SIZE_MAX;
    std::chrono::steady_clock::time_point lastShown_{};
};

int UsageError(const std::string& message) {
    std::cerr << "ravek-voicepack: " << message << "\n\n" << kUsage;
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    std::map<std::string, std::string> args;
    for (int i = 1; i < argc; ++i) {
        std::string name = argv[i];
        if (name == "--help" || name == "-h") {
            std::cout << kUsage;
            return 0;
        }
        static const char* known[] = {"--voice", "--sex", "--data-version", "--words", "--out", "--prefixes", "--max-bin-size"};
        if (std::find_if(std::begin(known), std::end(known), [&](const char* k) { return name == k; }) == std::end(known))
            return UsageError("unknown argument " + name);
        if (i + 1 >= argc) return UsageError(name + " needs a value");
        args[name] = argv[++i];
    }
    for (const char* required : {"--voice", "--sex", "--data-version", "--words", "--out"})
        if (!args.count(required)) return UsageError(std::string("missing ") + required);

    VoicePack::Options options;
    options.Voice = args["--voice"];
    auto sex = VoicePack::ParseSex(args["--sex"]);
    if (!sex) return UsageError("--sex must be male or female, not \"" + args["--sex"] + "\"");
    options.VoiceSex = *sex;
    options.DataVersion = args["--data-version"];
    options.OutDir = args["--out"];
    if (::isatty(STDERR_FILENO)) options.Progress = ProgressLine();
    if (args.count("--max-bin-size")) {
        const std::string& text = args["--max-bin-size"];
        auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), options.MaxBinSize);
        if (text.empty() || ec != std::errc{} || end != text.data() + text.size())
            return UsageError("--max-bin-size must be a whole number of bytes, not \"" + text + "\"");
    }
    try {
        options.Words = VoicePack::ReadWordsFile(args["--words"]);
        if (args.count("--prefixes")) options.Prefixes = VoicePack::ReadPrefixesFile(args["--prefixes"]);
        VoicePack::Result result = VoicePack::Pack(options);
        std::cout << "Packed " << result.WordCount << " words of " << options.Voice << " into " << result.BinFileCount
                  << " binary file(s) in " << options.OutDir.string() << "\n";
        return 0;
    } catch (const VoicePack::PackError& e) {
        std::cerr << "ravek-voicepack: " << e.what() << "\n";
    } catch (const AutomationError& e) {
        std::cerr << "ravek-voicepack: " << e.Description() << "\n";
    } catch (const std::exception& e) {
        std::cerr << "ravek-voicepack: " << e.what() << "\n";
    }
    return 1;
}
