// ravek-say --output: an engine in this process renders the utterance into one WAVE file. The
// media layer's render mode writes decoded audio as fast as it decodes; the playlist advances on
// the engine's completion notifications, which this program dispatches from its own main loop.
#include <glib-unix.h>
#include <glib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "AutomationError.h"
#include "IAPI.h"
#include "SayModes.h"
#include "mci.h"

namespace fs = std::filesystem;

namespace say {
namespace {

// The WAVE file is written under a temporary name beside the target and renamed only when
// complete, so a failure never leaves a half-written file under the name asked for.
class TemporaryFile {
public:
    explicit TemporaryFile(const std::string& target) : target_(target) {
        const fs::path t(target);
        const fs::path folder = t.has_parent_path() ? t.parent_path() : fs::path(".");
        std::string pattern = (folder / ("." + t.filename().string() + ".XXXXXX")).string();
        std::vector<char> buffer(pattern.begin(), pattern.end());
        buffer.push_back('\0');
        const int fd = ::mkstemp(buffer.data());
        if (fd < 0) {
            error_ = std::strerror(errno);
            return;
        }
        ::close(fd);
        path_ = buffer.data();
    }
    ~TemporaryFile() {
        if (!path_.empty() && !committed_) ::unlink(path_.c_str());
    }
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;

    bool Created() const { return !path_.empty(); }
    const std::string& Error() const { return error_; }
    const std::string& Path() const { return path_; }
    // Gives the file its final name; false (errno set) when the rename fails.
    bool Commit() {
        // mkstemp makes the file private; the result is an ordinary file like any other output.
        const mode_t mask = ::umask(0);
        ::umask(mask);
        ::chmod(path_.c_str(), 0666 & ~mask);
        if (std::rename(path_.c_str(), target_.c_str()) != 0) return false;
        committed_ = true;
        return true;
    }

private:
    std::string target_;
    std::string path_;
    std::string error_;
    bool committed_ = false;
};

// Render mode is left on every way out, so the media layer's file is closed.
class RenderMode {
public:
    RenderMode(mci::Devices& devices, const std::string& path) : devices_(devices), result_(devices.BeginRender(path)) {}
    ~RenderMode() {
        if (active()) devices_.EndRender();
    }
    RenderMode(const RenderMode&) = delete;
    RenderMode& operator=(const RenderMode&) = delete;
    bool active() const { return result_ == 0 && devices_.IsRendering(); }
    uint32_t result() const { return result_; }
    uint32_t End() { return devices_.EndRender(); }

private:
    mci::Devices& devices_;
    uint32_t result_;
};

class RenderEvents : public EngineEvents {
public:
    explicit RenderEvents(EventPrinter& printer) : printer_(printer) {}
    void SpeechStart() override { printer_.SpeechStart(); }
    void WordStart(int32_t wordIndex) override { printer_.WordStart(wordIndex); }
    void Speechend() override {
        printer_.Speechend();
        ended = true;
    }
    bool ended = false;

private:
    EventPrinter& printer_;
};

// Flags set by GLib sources while the loop below waits.
struct Wait {
    bool timedOut = false;
    bool interrupted = false;
};

// Runs the engine's main context until Speechend, the deadline or a signal.
void RunUntilEnd(const RenderEvents& events, double timeoutSeconds, Wait& wait) {
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
    while (!events.ended && !wait.timedOut && !wait.interrupted) g_main_context_iteration(nullptr, TRUE);
    for (guint source : sources) g_source_remove(source);
}

void ReportAutomationError(const std::string& what, const AutomationError& e) {
    ReportEngineError(what, EngineError{std::to_string(e.Number()), e.Source(), e.Description()});
}

int Render(IAPI& engine, const Request& request, RenderEvents& events, TemporaryFile& file) {
    try {
        engine.Initialise();
    } catch (const AutomationError& e) {
        ReportAutomationError("Initialise", e);
        return kExitFailure;
    }
    try {
        engine.SelectVoice(request.voice);
    } catch (const AutomationError& e) {
        ReportAutomationError("SelectVoice", e);
        return kExitFailure;
    }
    RenderMode render(engine.Audio().Devices, file.Path());
    if (!render.active()) {
        std::fprintf(stderr, "ravek-say: cannot write %s: %s\n", file.Path().c_str(), mci::mciGetErrorString(render.result()).c_str());
        return kExitFailure;
    }
    try {
        engine.Speak(request.text);
    } catch (const AutomationError& e) {
        ReportAutomationError("Speak", e);
        return kExitFailure;
    }
    Wait wait;
    RunUntilEnd(events, SpeechTimeoutSeconds(request), wait);
    if (!events.ended) {
        engine.StopSpeak();
        if (wait.interrupted) return 128 + SIGINT;
        std::fprintf(stderr, "ravek-say: the engine did not finish the speech within %.0f s; nothing written\n",
                     SpeechTimeoutSeconds(request));
        return kExitFailure;
    }
    if (const uint32_t code = render.End(); code != 0) {
        std::fprintf(stderr, "ravek-say: cannot complete %s: %s\n", file.Path().c_str(), mci::mciGetErrorString(code).c_str());
        return kExitFailure;
    }
    return kExitOk;
}

// The engine extracts every clip of the utterance into a working folder under $TMPDIR and reads
// it back at once. Without a TMPDIR of the user's choice that scratch work goes to memory
// (/dev/shm) when the machine has it: on a disk file system creating a thousand small files
// costs more than decoding them.
void PreferMemoryScratch() {
    const char* tmp = std::getenv("TMPDIR");
    if (tmp && *tmp) return;
    struct stat st {};
    if (::stat("/dev/shm", &st) == 0 && S_ISDIR(st.st_mode) && ::access("/dev/shm", W_OK | X_OK) == 0)
        ::setenv("TMPDIR", "/dev/shm", 1);
}

}  // namespace

int RenderToFile(const Request& request) {
    PreferMemoryScratch();
    TemporaryFile file(request.output);
    if (!file.Created()) {
        std::fprintf(stderr, "ravek-say: cannot create a file beside %s: %s\n", request.output.c_str(), file.Error().c_str());
        return kExitFailure;
    }
    EventPrinter printer(request.text, request.events);
    RenderEvents events(printer);
    int code = kExitFailure;
    {
        IAPI engine;
        engine.SetEventSink(&events);
        code = Render(engine, request, events, file);
        engine.SetEventSink(nullptr);
    }
    if (code != kExitOk) return code;
    if (!file.Commit()) {
        std::fprintf(stderr, "ravek-say: cannot rename %s to %s: %s\n", file.Path().c_str(), request.output.c_str(),
                     std::strerror(errno));
        return kExitFailure;
    }
    return kExitOk;
}

}  // namespace say
