// ravek-say --output: the engine's renderer speaks the text into one WAVE file. The render runs
// on a worker thread while the main thread waits on its GLib loop for the end, the deadline or
// Ctrl-C; the last two cancel the render.
#include <glib-unix.h>
#include <glib.h>
#include <sys/stat.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <exception>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "AtomicFile.h"
#include "AutomationError.h"
#include "Renderer.h"
#include "SayModes.h"

namespace say {
namespace {

constexpr size_t kWaveHeaderSize = 44;
constexpr int kChannels = 2;
constexpr uint64_t kMaxDataBytes = 0xFFFFFFFFull - 36;  // what the header's 32-bit sizes can describe

void Put(std::array<unsigned char, kWaveHeaderSize>& h, size_t at, uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) h[at + i] = static_cast<unsigned char>(value >> (8 * i));
}

// The canonical 44-byte header of 16-bit PCM at the renderer's rate, stereo.
std::array<unsigned char, kWaveHeaderSize> WaveHeader(uint32_t dataBytes) {
    std::array<unsigned char, kWaveHeaderSize> h{};
    std::memcpy(&h[0], "RIFF", 4);
    Put(h, 4, 36 + dataBytes, 4);
    std::memcpy(&h[8], "WAVEfmt ", 8);
    Put(h, 16, 16, 4);
    Put(h, 20, 1, 2);  // PCM
    Put(h, 22, kChannels, 2);
    Put(h, 24, ravek::Renderer::kSampleRate, 4);
    Put(h, 28, ravek::Renderer::kSampleRate * kChannels * 2, 4);
    Put(h, 32, kChannels * 2, 2);
    Put(h, 34, 16, 2);
    std::memcpy(&h[36], "data", 4);
    Put(h, 40, dataBytes, 4);
    return h;
}

// Writes the rendered audio after a placeholder header and prints the events as they come.
class WaveSink : public ravek::RenderSink {
public:
    WaveSink(AtomicFile& file, EventPrinter& printer) : file_(file), printer_(printer) {
        file_.Write(WaveHeader(0).data(), kWaveHeaderSize);
    }
    void Started() override { printer_.SpeechStart(); }
    void Word(int32_t wordIndex, int64_t) override { printer_.WordStart(wordIndex); }
    void Pcm(const ravek::PcmBlock& block) override {
        const size_t bytes = block.frames * static_cast<size_t>(block.channels) * sizeof(int16_t);
        if (dataBytes_ + bytes > kMaxDataBytes) throw std::runtime_error("the speech is too long for a WAVE file");
        file_.Write(block.samples, bytes);
        dataBytes_ += bytes;
    }
    // Completes the header with the sizes now known.
    void Finish() {
        const auto header = WaveHeader(static_cast<uint32_t>(dataBytes_));
        file_.WriteAt(0, header.data(), kWaveHeaderSize);
    }

private:
    AtomicFile& file_;
    EventPrinter& printer_;
    uint64_t dataBytes_ = 0;
};

// --output writes a regular file or a new name. What else stands at the path (a device node, a
// symbolic link, a folder, a pipe, a socket) is named, and refused: replacing it would break it.
std::string WhatIsNotARegularFile(const std::string& path) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0) return {};  // a new name (or one the file creation reports)
    if (S_ISREG(info.st_mode)) return {};
    if (S_ISLNK(info.st_mode)) return "a symbolic link";
    if (S_ISDIR(info.st_mode)) return "a folder";
    if (S_ISCHR(info.st_mode) || S_ISBLK(info.st_mode)) return "a device";
    if (S_ISFIFO(info.st_mode)) return "a named pipe";
    return "a socket";
}

bool RefuseOutput(const std::string& path) {
    const std::string what = WhatIsNotARegularFile(path);
    if (what.empty()) return false;
    std::fprintf(stderr, "ravek-say: will not write %s: it is %s; --output writes only a regular file or a new name\n",
                 path.c_str(), what.c_str());
    return true;
}

void ReportAutomationError(const std::string& what, const AutomationError& e) {
    ReportEngineError(what, EngineError{std::to_string(e.Number()), e.Source(), e.Description()});
}

// What the render thread left behind.
struct Outcome {
    std::atomic<bool> finished{false};
    std::optional<ravek::RenderResult> result;
    std::optional<AutomationError> engineError;
    std::string otherError;
};

// Flags set by GLib sources while the main thread waits.
struct Wait {
    bool timedOut = false;
    bool interrupted = false;
};

// Runs the default main context until the render thread finishes, the deadline or a signal.
void WaitForEnd(const Outcome& outcome, double timeoutSeconds, Wait& wait) {
    std::vector<guint> sources;
    sources.push_back(g_timeout_add(static_cast<guint>(timeoutSeconds * 1000), [](gpointer data) -> gboolean {
        static_cast<Wait*>(data)->timedOut = true;
        return G_SOURCE_CONTINUE;  // removed below
    }, &wait));
    for (int signum : {SIGINT, SIGTERM})
        sources.push_back(g_unix_signal_add(signum, [](gpointer data) -> gboolean {
            static_cast<Wait*>(data)->interrupted = true;
            return G_SOURCE_CONTINUE;
        }, &wait));
    while (!outcome.finished && !wait.timedOut && !wait.interrupted) g_main_context_iteration(nullptr, TRUE);
    for (guint source : sources) g_source_remove(source);
}

// Renders on a worker thread; returns the exit code.
int RenderText(ravek::Renderer& renderer, const Request& request, WaveSink& sink) {
    Outcome outcome;
    std::thread worker([&] {
        try {
            outcome.result = renderer.Render(request.text, sink);
        } catch (const AutomationError& e) {
            outcome.engineError = e;
        } catch (const std::exception& e) {
            outcome.otherError = e.what();
        }
        outcome.finished = true;
        g_main_context_wakeup(nullptr);
    });
    Wait wait;
    WaitForEnd(outcome, SpeechTimeoutSeconds(request), wait);
    if (!outcome.finished) renderer.Cancel();
    worker.join();
    if (outcome.engineError) {
        ReportAutomationError("Speak", *outcome.engineError);
        return kExitFailure;
    }
    if (!outcome.otherError.empty()) {
        std::fprintf(stderr, "ravek-say: cannot write %s: %s\n", request.output.c_str(), outcome.otherError.c_str());
        return kExitFailure;
    }
    if (outcome.result != ravek::RenderResult::Completed) {
        if (wait.interrupted) return 128 + SIGINT;
        std::fprintf(stderr, "ravek-say: the engine did not finish the speech within %.0f s; nothing written\n",
                     SpeechTimeoutSeconds(request));
        return kExitFailure;
    }
    return kExitOk;
}

}  // namespace

int RenderToFile(const Request& request) {
    if (RefuseOutput(request.output)) return kExitFailure;
    std::optional<AtomicFile> file;
    try {
        file.emplace(request.output);
    } catch (const std::filesystem::filesystem_error& e) {
        std::fprintf(stderr, "ravek-say: cannot create a file beside %s: %s\n", request.output.c_str(), e.code().message().c_str());
        return kExitFailure;
    }
    std::optional<ravek::Renderer> renderer;
    try {
        renderer.emplace(ravek::RendererSettings{});
    } catch (const AutomationError& e) {
        ReportAutomationError("Initialise", e);
        return kExitFailure;
    }
    try {
        renderer->SelectVoice(request.voice);
    } catch (const AutomationError& e) {
        ReportAutomationError("SelectVoice", e);
        return kExitFailure;
    }
    EventPrinter printer(request.text, request.events);
    try {
        WaveSink sink(*file, printer);
        if (const int code = RenderText(*renderer, request, sink); code != kExitOk) return code;
        sink.Finish();
        if (RefuseOutput(request.output)) return kExitFailure;  // put there while rendering
        file->Commit();
    } catch (const std::filesystem::filesystem_error& e) {
        std::fprintf(stderr, "ravek-say: cannot write %s: %s\n", request.output.c_str(), e.code().message().c_str());
        return kExitFailure;
    }
    printer.Speechend();
    return kExitOk;
}

}  // namespace say
