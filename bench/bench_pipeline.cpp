// Utterance preparation on the 200,000-word generated voice, voice 4 (all permissions): the time
// from the Speak call to the hand-off to playback (the SpeechStart event), for paragraphs of 50,
// 200, 1,000 and 5,000 words, half of them resolved by the smart lookup or the prefix split and
// every dictionary clip extracted into the working folder; and the renderer's time to its first
// PCM block and to the end of the render on the same texts.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <optional>
#include <random>
#include <vector>

#include "BenchSupport.h"
#include "BenchVoice.h"
#include "IAPI.h"
#include "Installation.h"
#include "Renderer.h"
#include "mMDBConnection.h"
#include "mSpeak.h"
#include "mTokeniser.h"
#include "mUtterance.h"
#include "mWordResolution.h"

using namespace ravekbench;
namespace fs = std::filesystem;

namespace {

struct Args {
    uint32_t logLevel = 99;
    double scale = 1.0;  // multiplies the number of runs
    std::size_t maxWords = 5000;
    std::string tmpDir;  // where the working folders go; default inside the installation (/tmp)
    bool longest = true;  // also the longest text a request takes (1 MiB)
};

Args Parse(int argc, char** argv) {
    Args a;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--help")) {
            std::puts(
                "Usage: bench_pipeline [--log-level N] [--runs-scale X] [--max-words N] [--tmpdir DIR] [--no-longest]\n"
                "Speak-to-hand-off time on a generated voice of 200,000 words (made once into\n"
                "<build>/bench-data and reused), voice 4, for 50, 200, 1,000 and 5,000 words, and the\n"
                "time the Speak call of the longest text a request takes (1 MiB) holds the engine\n"
                "(--no-longest leaves it out).\n"
                "--log-level sets the engine's LogLevel (default 99, the engine's own default);\n"
                "--tmpdir puts the working folders (the system's temporary folder) into DIR, e.g. a\n"
                "tmpfs such as /dev/shm, instead of the installation's folder under /tmp.");
            std::exit(0);
        }
        if (!std::strcmp(argv[i], "--log-level") && i + 1 < argc) a.logLevel = static_cast<uint32_t>(std::atoi(argv[++i]));
        else if (!std::strcmp(argv[i], "--runs-scale") && i + 1 < argc) a.scale = std::atof(argv[++i]);
        else if (!std::strcmp(argv[i], "--max-words") && i + 1 < argc) a.maxWords = std::strtoul(argv[++i], nullptr, 10);
        else if (!std::strcmp(argv[i], "--tmpdir") && i + 1 < argc) a.tmpDir = argv[++i];
        else if (!std::strcmp(argv[i], "--no-longest")) a.longest = false;
    }
    return a;
}

// Notes when the hand-off raises SpeechStart.
struct HandOffClock : EngineEvents {
    std::optional<Clock::time_point> started;
    void SpeechStart() override { started = Clock::now(); }
    void WordStart(int32_t) override {}
    void Speechend() override {}
};

// Keeps $TMPDIR inside the installation while the benchmark runs (the working folders go there).
class TempDirInside {
public:
    explicit TempDirInside(const fs::path& folder) {
        if (const char* t = std::getenv("TMPDIR")) saved_ = t;
        fs::create_directories(folder);
        ::setenv("TMPDIR", folder.c_str(), 1);
    }
    ~TempDirInside() {
        if (saved_) ::setenv("TMPDIR", saved_->c_str(), 1);
        else ::unsetenv("TMPDIR");
    }

private:
    std::optional<std::string> saved_;
};

std::size_t FilesIn(const std::string& folder) {
    std::error_code ec;
    std::size_t n = 0;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) ++n;
    return n;
}

// How the words of an utterance were resolved.
void DescribeUtterance(const std::vector<SpeechItem>& items, std::size_t clipFiles) {
    std::map<std::string, std::size_t> counts;
    for (const SpeechItem& item : items) {
        if (item.Kind == ItemKind::Word && item.Source == ItemSource::FromDictionary) ++counts["dictionary words"];
        else if (item.Kind == ItemKind::Word && item.Source == ItemSource::FromUserRecordings) ++counts["user recordings"];
        else if (item.Kind == ItemKind::Sound) ++counts["prefix or signal sounds"];
        else if (item.Kind == ItemKind::Letter) ++counts["spelled letters"];
    }
    std::printf("  utterance of the 200-word paragraph: %zu items;", items.size());
    for (const auto& [what, n] : counts) std::printf(" %s %zu;", what.c_str(), n);
    std::printf(" %zu clip files in the working folder\n", clipFiles);
}

// The phases of the preparation, timed apart on the engine's own functions.
void PhaseBreakdown(IAPI& api, std::size_t words, int runs) {
    const std::string text = BigVoiceParagraph(words, 7);
    EngineState& s = api.State();
    std::vector<double> tok, seq, files;
    for (int i = 0; i < runs; ++i) {
        s.DumpFileCounter = 0;
        auto t0 = Clock::now();
        std::vector<SpeechItem> items = mTokeniser::Tokenise(s, text, *s.SentenceSet, *s.WordSet);
        items = mTokeniser::CompactBreaks(items);
        auto t1 = Clock::now();
        {
            mMDBConnection::ReadBatch batch(s.Database);  // as a request makes them
            items = mWordResolution::MatchSequences(s, items);
        }
        auto t2 = Clock::now();
        items = mUtterance::ProduceFiles(s, items);
        auto t3 = Clock::now();
        tok.push_back(MillisecondsBetween(t0, t1));
        seq.push_back(MillisecondsBetween(t1, t2));
        files.push_back(MillisecondsBetween(t2, t3));
    }
    std::printf("  phases for %zu words (working folder reused):\n", words);
    PrintStats("  tokenise + compact breaks (ms)", Summarise(tok), "ms");
    PrintStats("  sequence matching, lookups, prefix split (ms)", Summarise(seq), "ms");
    PrintStats("  file production (clip extraction) (ms)", Summarise(files), "ms");
}

// The renderer on the same voice: from the Render call to the first PCM block, and the whole
// render (every clip read from the binary files and decoded; no files written).
void RendererTimes(Verdicts& v, std::size_t words, int runs) {
    struct FirstBlock : ravek::RenderSink {
        std::optional<Clock::time_point> first;
        int64_t frames = 0;
        void Word(int32_t, int64_t) override {}
        void Pcm(const ravek::PcmBlock& b) override {
            if (!first) first = Clock::now();
            frames += static_cast<int64_t>(b.frames);
        }
    };
    ravek::Renderer renderer({.voice = 4});
    std::vector<double> firstMs, wholeMs;
    double seconds = 0;
    for (int i = 0; i < runs + 1; ++i) {
        const std::string text = BigVoiceParagraph(words, 2000 + static_cast<uint64_t>(i));
        FirstBlock sink;
        const auto t0 = Clock::now();
        renderer.Render(text, sink);
        const auto t1 = Clock::now();
        if (!sink.first) {
            std::printf("  the renderer delivered no audio for %zu words\n", words);
            return;
        }
        if (i == 0) continue;  // warms up
        firstMs.push_back(MillisecondsBetween(t0, *sink.first));
        wholeMs.push_back(MillisecondsBetween(t0, t1));
        seconds = static_cast<double>(sink.frames) / ravek::Renderer::kSampleRate;
    }
    std::printf("  renderer, %zu words (%.1f s of audio):\n", words, seconds);
    const Stats first = Summarise(firstMs);
    PrintStats("  Render to the first PCM block (ms)", first, "ms");
    PrintStats("  whole render (ms)", Summarise(wholeMs), "ms");
    if (words == 200) Target(v, "200-word paragraph, Render to first PCM block (median)", first.median, 40, "ms");
}

// A paragraph as BigVoiceParagraph makes it (the same mix of pointed, unpointed and prefixed
// words), but with the spellings drawn as natural language uses words: the word of rank r
// with a chance proportional to 1/r (Zipf's law), so a few words make most of the text.
std::string ZipfParagraph(std::size_t words, uint64_t seed) {
    static const std::vector<double> cumulative = [] {
        std::vector<double> c(kSpellings);
        double sum = 0;
        for (std::size_t r = 0; r < kSpellings; ++r) c[r] = sum += 1.0 / static_cast<double>(r + 1);
        return c;
    }();
    return ParagraphOf(words, seed, [](std::mt19937_64& random) {
        std::uniform_real_distribution<double> uniform(0, cumulative.back());
        const auto rank = std::lower_bound(cumulative.begin(), cumulative.end(), uniform(random)) - cumulative.begin();
        return std::min(static_cast<std::size_t>(rank), kSpellings - 1);
    });
}

// The longest text one request takes: generated paragraphs up to the limit, cut at a blank.
std::string LongestText(bool zipf) {
    std::string text;
    for (uint64_t seed = 5000; text.size() < mSpeak::kMaxTextBytes; ++seed)
        text += zipf ? ZipfParagraph(1000, seed) : BigVoiceParagraph(1000, seed);
    text.resize(mSpeak::kMaxTextBytes);
    text.resize(text.rfind(' ') + 1);
    return text;
}

// The rest of the text, prepared slice by slice as playback asks for it: how long each slice
// holds the engine's thread (every other client waits that long at most).
void SliceTimes(IAPI& api, const std::string& text) {
    api.Speak(text);
    std::vector<double> ms;
    std::vector<size_t> late;
    const auto start = Clock::now();
    while (api.Audio().PrepareMore) {
        const auto t0 = Clock::now();
        late.clear();
        if (!api.Audio().PrepareMore(late)) api.Audio().PrepareMore = nullptr;
        ms.push_back(MillisecondsBetween(t0, Clock::now()));
    }
    const double total = MillisecondsBetween(start, Clock::now());
    std::printf("  the rest prepared in %zu slices, %.0f ms in all; %zu items in the utterance\n", ms.size(), total,
                api.State().Utterance.size());
    if (!ms.empty()) PrintStats("  one slice (ms)", Summarise(ms), "ms");
    api.StopSpeak();
    if (api.Audio().NotifyWindow) api.Audio().NotifyWindow->DispatchPending();
}

// How long Speak of the longest accepted text holds the engine's thread (every other client of
// the service waits that long), with the phases apart: words drawn uniformly from the voice
// (the worst case: few repeat) or by Zipf's law (as in real text).
void LongestTextTimes(Verdicts& v, IAPI& api, const std::string& work, bool zipf) {
    const char* kind = zipf ? "Zipf-distributed words" : "uniformly random words";
    std::printf("  longest accepted text of %s:\n", kind);
    const std::string text = LongestText(zipf);
    std::size_t words = 0;
    for (char c : text) words += c == ' ';
    std::vector<double> ms;
    for (int i = 0; i < 3; ++i) {
        const auto t0 = Clock::now();
        api.Speak(text);
        ms.push_back(MillisecondsBetween(t0, Clock::now()));
        api.StopSpeak();
        if (api.Audio().NotifyWindow) api.Audio().NotifyWindow->DispatchPending();
    }
    const Stats s = Summarise(ms);
    std::printf("  longest accepted text: %zu bytes, %zu words, %zu items in the utterance at the hand-off\n", text.size(),
                words, api.State().Utterance.size());
    PrintStats("  Speak call of the longest text (ms)", s, "ms");
    Target(v, zipf ? "1 MiB text of Zipf words, Speak call (median)" : "1 MiB text of random words, Speak call (median)",
           s.median, 1000, "ms");
    SliceTimes(api, text);
    EngineState& st = api.State();
    const std::string folder = work + (zipf ? "/longest-zipf/" : "/longest/");
    fs::create_directories(folder);
    st.CurrentDumpFolder = folder;
    st.DumpFileCounter = 0;
    const auto t0 = Clock::now();
    std::vector<SpeechItem> items = mTokeniser::CompactBreaks(mTokeniser::Tokenise(st, text, *st.SentenceSet, *st.WordSet));
    const auto t1 = Clock::now();
    {
        mMDBConnection::ReadBatch batch(st.Database);
        items = mWordResolution::MatchSequences(st, items);
    }
    const auto t2 = Clock::now();
    std::vector<SpeechItem> utterance;
    std::vector<size_t> late;  // as Speak leaves the later clips to playback
    mUtterance::FileProducer(st, true).Produce(std::move(items), utterance, late);
    const auto t3 = Clock::now();
    std::printf("  the whole text at once, as if it were not prepared in slices: tokenise %.1f ms, sequence matching"
                " %.1f ms, file production %.1f ms (%zu clips left for playback)\n",
                MillisecondsBetween(t0, t1), MillisecondsBetween(t1, t2), MillisecondsBetween(t2, t3), late.size());
}

}  // namespace

int main(int argc, char** argv) {
    const Args args = Parse(argc, argv);
    EnsureBigVoice();
    ravektest::Installation inst(BigVoiceOptions(args.logLevel));
    const fs::path work = args.tmpDir.empty() ? inst.Root() / "tmp" : fs::path(args.tmpDir) / "ravek-bench-work";
    TempDirInside tmp(work);
    HandOffClock clock;
    IAPI api;
    api.SetEventSink(&clock);
    api.Initialise();
    api.SelectVoice(4);
    std::printf("bench_pipeline: voice 4 (%s) on a voice of %zu words, LogLevel %u, sink \"%s\", working folders in %s\n",
                api.ListVoiceName(4).c_str(), api.State().IndexDictionaries[1]->Count(), args.logLevel,
                api.State().Settings.AudioSink.c_str(), work.c_str());

    Verdicts v;
    const std::pair<std::size_t, int> sizes[] = {{50, 30}, {200, 20}, {1000, 8}, {5000, 3}};
    std::vector<std::pair<std::size_t, double>> curve;
    for (const auto& [words, baseRuns] : sizes) {
        if (words > args.maxWords) continue;
        const int runs = std::max(1, static_cast<int>(baseRuns * args.scale));
        std::vector<double> ms;
        for (int i = 0; i < runs + 1; ++i) {
            const std::string text = BigVoiceParagraph(words, 1000 + static_cast<uint64_t>(i));
            clock.started.reset();
            auto t0 = Clock::now();
            api.Speak(text);
            if (!clock.started) {
                std::printf("  no hand-off for %zu words (see %s)\n", words, inst.LogFile().c_str());
                return 1;
            }
            if (i > 0) ms.push_back(MillisecondsBetween(t0, *clock.started));  // the first run warms up
            if (words == 200 && i == 1) DescribeUtterance(api.State().Utterance, FilesIn(api.State().CurrentDumpFolder));
            api.StopSpeak();
            if (api.Audio().NotifyWindow) api.Audio().NotifyWindow->DispatchPending();
        }
        Stats s = Summarise(ms);
        PrintStats(std::to_string(words) + " words, Speak to hand-off (ms)", s, "ms");
        curve.emplace_back(words, s.median);
        if (words == 200) Target(v, "200-word paragraph, Speak to hand-off (median)", s.median, 40, "ms");
    }
    std::printf("\n  curve (median):   words       ms    us/word\n");
    for (const auto& [words, ms] : curve)
        std::printf("                  %6zu %8.2f %10.1f\n", words, ms, ms * 1000 / static_cast<double>(words));

    if (args.longest) {
        LongestTextTimes(v, api, work.string(), true);
        LongestTextTimes(v, api, work.string(), false);
    }
    RendererTimes(v, 200, std::max(3, static_cast<int>(20 * args.scale)));
    if (args.maxWords >= 1000) RendererTimes(v, 1000, std::max(1, static_cast<int>(3 * args.scale)));

    // Phase breakdown on the engine's own functions (outside a request).
    fs::create_directories(work / "phases");
    api.State().CurrentDumpFolder = (work / "phases").string() + "/";
    api.State().ActiveVoice = 3;
    PhaseBreakdown(api, 200, std::max(3, static_cast<int>(10 * args.scale)));
    if (args.maxWords >= 1000) PhaseBreakdown(api, 1000, 3);
    if (!args.tmpDir.empty()) {
        std::error_code ec;
        fs::remove_all(work, ec);
    }
    return 0;
}
