// Audio output on the demo voice (the fixture's dictionary voice Galev, voice 3): the time from
// the Speak call to the first audio buffer rendered by the sink for a 20-word sentence, and the
// silence between consecutive words at a synced fake sink (real-time pacing).
#include <glib.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <optional>

#include "BenchSupport.h"
#include "IAPI.h"
#include "Installation.h"
#include "mci.h"

using namespace ravekbench;

namespace {

struct Args {
    uint32_t logLevel = 99;
    int firstBufferRuns = 30;
    int fullRuns = 3;
    std::string sink = "fakesink sync=true";
};

Args Parse(int argc, char** argv) {
    Args a;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--help")) {
            std::puts(
                "Usage: bench_audio [--log-level N] [--first-runs N] [--full-runs N] [--sink DESCRIPTION]\n"
                "Speak-to-first-buffer time and the gaps between words at the sink, 20-word sentence on\n"
                "the demo voice (voice 3). The sink defaults to \"fakesink sync=true\" (real-time pacing);\n"
                "--log-level sets the engine's LogLevel (default 99, the engine's own default).");
            std::exit(0);
        }
        if (!std::strcmp(argv[i], "--log-level") && i + 1 < argc) a.logLevel = static_cast<uint32_t>(std::atoi(argv[++i]));
        else if (!std::strcmp(argv[i], "--first-runs") && i + 1 < argc) a.firstBufferRuns = std::atoi(argv[++i]);
        else if (!std::strcmp(argv[i], "--full-runs") && i + 1 < argc) a.fullRuns = std::atoi(argv[++i]);
        else if (!std::strcmp(argv[i], "--sink") && i + 1 < argc) a.sink = argv[++i];
    }
    return a;
}

// Buffers rendered by the sinks, as the media layer reports them (from streaming threads).
class BufferLog {
public:
    struct Buffer {
        Clock::time_point at;
        uint32_t device;
        uint64_t durationNs;
    };
    void Record(uint32_t device, uint64_t durationNs) {
        std::lock_guard lock(mutex_);
        buffers_.push_back({Clock::now(), device, durationNs});
    }
    std::vector<Buffer> Take() {
        std::lock_guard lock(mutex_);
        return std::move(buffers_);
    }
    bool Empty() {
        std::lock_guard lock(mutex_);
        return buffers_.empty();
    }
    std::optional<Clock::time_point> First() {
        std::lock_guard lock(mutex_);
        if (buffers_.empty()) return std::nullopt;
        return buffers_.front().at;
    }

private:
    std::mutex mutex_;
    std::vector<Buffer> buffers_;
};

struct SpeechEvents : EngineEvents {
    bool ended = false;
    int words = 0;
    void SpeechStart() override { ended = false; }
    void WordStart(int32_t) override { ++words; }
    void Speechend() override { ended = true; }
};

// Runs the main loop (bus watches and playback notifications) until `done` or the timeout. The
// loop blocks as the service's does; a 2 ms tick lets it look at `done` (set by other threads).
bool RunUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    const guint tick = g_timeout_add(2, [](gpointer) -> gboolean { return G_SOURCE_CONTINUE; }, nullptr);
    bool ok = true;
    while (!done()) {
        if (Clock::now() > deadline) {
            ok = false;
            break;
        }
        g_main_context_iteration(nullptr, TRUE);
    }
    g_source_remove(tick);
    return ok;
}

// What the media commands of one word cost: open (pipeline built and prerolled), the length
// query, play until the first buffer, close. Sink without pacing.
void MediaCommandCosts(mci::Devices& devices, const std::string& clip) {
    std::vector<double> open, length, firstBuffer, close;
    BufferLog log;
    devices.SetBufferObserver([&log](uint32_t device, uint64_t durationNs) { log.Record(device, durationNs); });
    devices.SetAudioSink("fakesink sync=true");
    std::string answer;
    for (int i = 0; i < 22; ++i) {
        log.Take();
        auto t0 = Clock::now();
        uint32_t rc = devices.mciSendString("open \"" + clip + "\" type mpegvideo alias bench", answer, nullptr);
        auto t1 = Clock::now();
        rc |= devices.mciSendString("set bench time format frames", answer, nullptr);
        rc |= devices.mciSendString("status bench length", answer, nullptr);
        auto t2 = Clock::now();
        rc |= devices.mciSendString("play bench from 0 to " + answer, answer, nullptr);
        RunUntil([&] { return !log.Empty(); }, std::chrono::seconds(2));
        auto t3 = Clock::now();
        rc |= devices.mciSendString("close bench", answer, nullptr);
        auto t4 = Clock::now();
        if (rc) std::printf("  media command failed (%u)\n", rc);
        if (i < 2) continue;
        open.push_back(MillisecondsBetween(t0, t1));
        length.push_back(MillisecondsBetween(t1, t2));
        firstBuffer.push_back(MillisecondsBetween(t2, t3));
        close.push_back(MillisecondsBetween(t3, t4));
    }
    std::printf("  media commands of one word (%s):\n", std::filesystem::path(clip).filename().c_str());
    PrintStats("  open (build + preroll) (ms)", Summarise(open), "ms");
    PrintStats("  time format + length (ms)", Summarise(length), "ms");
    PrintStats("  play to first buffer (ms)", Summarise(firstBuffer), "ms");
    PrintStats("  close (ms)", Summarise(close), "ms");
    devices.SetBufferObserver({});
}

std::string Sentence() {
    static const char* words[] = {"שָׁלוֹם", "עוֹלָם", "בַּיִת", "סֵפֶר", "יֶלֶד", "ספר", "שלום"};
    std::string text;
    for (int i = 0; i < 20; ++i) text += std::string(words[i % 7]) + (i == 19 ? "." : " ");
    return text;
}

// Silences between words: from the end of a device's last buffer to the next device's first.
std::vector<double> Gaps(const std::vector<BufferLog::Buffer>& buffers, std::size_t& devices) {
    std::vector<uint32_t> order;
    std::map<uint32_t, std::pair<Clock::time_point, Clock::time_point>> span;  // first start, last end
    for (const auto& b : buffers) {
        const auto end = b.at + std::chrono::nanoseconds(b.durationNs);
        auto it = span.find(b.device);
        if (it == span.end()) {
            order.push_back(b.device);
            span[b.device] = {b.at, end};
        } else {
            it->second.second = std::max(it->second.second, end);
        }
    }
    devices = order.size();
    std::vector<double> gaps;
    for (std::size_t k = 1; k < order.size(); ++k)
        gaps.push_back(MillisecondsBetween(span[order[k - 1]].second, span[order[k]].first));
    return gaps;
}

}  // namespace

int main(int argc, char** argv) {
    const Args args = Parse(argc, argv);
    ravektest::InstallationOptions o;
    o.Registry["LogLevel"] = ravektest::RegValue::Dword(args.logLevel);
    o.Registry["AudioSink"] = ravektest::RegValue::String(args.sink);
    ravektest::Installation inst(o);
    BufferLog log;
    SpeechEvents events;
    IAPI api;
    api.Audio().Devices.SetBufferObserver([&log](uint32_t device, uint64_t durationNs) { log.Record(device, durationNs); });
    api.SetEventSink(&events);
    api.Initialise();
    api.SelectVoice(3);
    const std::string sentence = Sentence();
    const char* env = std::getenv("RAVEK_AUDIO_SINK");
    std::printf("bench_audio: voice 3 (%s), 20-word sentence, sink \"%s\", LogLevel %u\n", api.ListVoiceName(3).c_str(),
                env && *env ? env : args.sink.c_str(), args.logLevel);
    Verdicts v;

    std::vector<double> first;
    for (int i = 0; i < args.firstBufferRuns + 2; ++i) {
        log.Take();
        auto t0 = Clock::now();
        api.Speak(sentence);
        if (!RunUntil([&] { return !log.Empty(); }, std::chrono::seconds(5))) {
            std::printf("  no audio buffer reached the sink (see %s)\n", inst.LogFile().c_str());
            return 1;
        }
        if (i >= 2) first.push_back(MillisecondsBetween(t0, *log.First()));  // two warm-up runs
        api.StopSpeak();
        RunUntil([] { return !g_main_context_pending(nullptr); }, std::chrono::seconds(1));
    }
    Stats s = Summarise(first);
    PrintStats("Speak to first buffer at the sink (ms)", s, "ms");
    Target(v, "Speak to first audio buffer, 20-word sentence (median)", s.median, 20, "ms");

    std::vector<double> gaps;
    for (int i = 0; i < args.fullRuns; ++i) {
        log.Take();
        events.ended = false;
        events.words = 0;
        auto t0 = Clock::now();
        api.Speak(sentence);
        if (!RunUntil([&] { return events.ended; }, std::chrono::seconds(60))) {
            std::printf("  the sentence did not end (see %s)\n", inst.LogFile().c_str());
            return 1;
        }
        const double total = MillisecondsBetween(t0, Clock::now());
        std::size_t devices = 0;
        std::vector<double> g = Gaps(log.Take(), devices);
        std::printf("  full sentence %d: %d WordStart events, %zu words heard, %.0f ms in all\n", i + 1, events.words,
                    devices, total);
        gaps.insert(gaps.end(), g.begin(), g.end());
    }
    s = Summarise(gaps);
    PrintStats("gap between consecutive words (ms)", s, "ms");
    Target(v, "gap between consecutive words (median)", s.median, 10, "ms");
    Target(v, "gap between consecutive words (max)", s.max, 20, "ms");
    api.Audio().Devices.SetBufferObserver({});
    MediaCommandCosts(api.Audio().Devices, ravektest::Clip(ravektest::kToneC).string());
    return 0;
}
