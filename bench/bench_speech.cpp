// The speech-framework programs on the 200,000-word generated voice (voice 4, Sevra): sd_ravek's
// time from SPEAK of a 20-word sentence to its first 705 audio block and from STOP during a long
// text to 703 STOP; the Spiel provider's time from Synthesize to the first audio chunk in the
// pipe; the resident memory of both programs.
#include <gio/gio.h>
#include <gio/gunixfdlist.h>
#include <glib.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstring>
#include <string>

#include "BenchSupport.h"
#include "BenchVoice.h"
#include "Installation.h"
#include "PrivateBus.h"

using namespace ravekbench;

namespace {

std::string Sentence(std::size_t words, std::size_t from) {
    std::string text;
    for (std::size_t i = 0; i < words; ++i) text += (i ? " " : "") + NakedSpelling((from + i * 7919) % kSpellings);
    return text;
}

// sd_ravek with pipes; lines are read one at a time (audio blocks are single escaped lines).
class Module {
public:
    Module() {
        const std::string program = std::string(RAVEK_BUILD_DIR) + "/lib/speech-dispatcher-modules/sd_ravek";
        const char* argv[] = {program.c_str(), nullptr};
        g_spawn_async_with_pipes(nullptr, const_cast<char**>(argv), nullptr, G_SPAWN_DO_NOT_REAP_CHILD, nullptr, nullptr, &pid_,
                                 &in_, &out_, nullptr, nullptr);
    }
    ~Module() {
        Write("QUIT\n");
        ::close(in_);
        int status = 0;
        ::waitpid(pid_, &status, 0);
        ::close(out_);
    }
    GPid Pid() const { return pid_; }
    void Write(const std::string& text) {
        if (::write(in_, text.data(), text.size()) != static_cast<ssize_t>(text.size())) std::perror("write");
    }
    std::string Line() {
        for (;;) {
            const size_t nl = buffer_.find('\n');
            if (nl != std::string::npos) {
                std::string line = buffer_.substr(0, nl);
                buffer_.erase(0, nl + 1);
                return line;
            }
            char chunk[65536];
            const ssize_t n = ::read(out_, chunk, sizeof chunk);
            if (n <= 0) return "<eof>";
            buffer_.append(chunk, static_cast<size_t>(n));
        }
    }
    void WaitFor(const std::string& prefix) {
        for (std::string l = Line(); l.rfind(prefix, 0) != 0; l = Line())
            if (l == "<eof>") {
                std::fprintf(stderr, "sd_ravek ended\n");
                std::exit(1);
            }
    }

private:
    GPid pid_ = 0;
    int in_ = -1, out_ = -1;
    std::string buffer_;
};

void BenchModule(Verdicts& verdicts, int runs) {
    Module module;
    const auto t0 = Clock::now();
    module.Write("INIT\n");
    module.WaitFor("299 OK");
    std::printf("sd_ravek INIT (loads the voice data): %.1f ms\n", MillisecondsBetween(t0, Clock::now()));
    module.Write("AUDIO\naudio_output_method=server\n.\nSET\nsynthesis_voice=Sevra\n.\n");
    module.WaitFor("203 OK AUDIO");
    module.WaitFor("203 OK SETTINGS");
    std::size_t sentence = 0;
    const auto firstBlock = TimeRuns(3, runs, [&] {
        module.Write("SPEAK\n" + Sentence(20, 1000 + 20 * sentence++) + "\n.\n");
        module.WaitFor("705-");
    }, [&] { module.WaitFor("702 END"); });
    PrintStats("SPEAK of 20 words to the first 705 block", Summarise(firstBlock), "ms");
    Target(verdicts, "sd_ravek SPEAK (20 words) to first 705 block, median", Summarise(firstBlock).median, 20, "ms");

    const std::string longText = Sentence(2000, 5);
    std::vector<double> stops;
    for (int i = 0; i < runs; ++i) {
        module.Write("SPEAK\n" + longText + "\n.\n");
        module.WaitFor("705-");
        const auto at = Clock::now();
        module.Write("STOP\n");
        module.WaitFor("703 STOP");
        stops.push_back(MillisecondsBetween(at, Clock::now()));
    }
    PrintStats("STOP during a 2,000-word text to 703 STOP", Summarise(stops), "ms");
    Target(verdicts, "sd_ravek STOP to 703 STOP, median", Summarise(stops).median, 10, "ms");
    const std::string status = "/proc/" + std::to_string(module.Pid()) + "/status";
    const double rss = StatusKilobytes("VmHWM", status) / 1024.0;
    std::printf("sd_ravek resident memory: %.1f MB (peak), %.1f MB now\n", rss, StatusKilobytes("VmRSS", status) / 1024.0);
    Target(verdicts, "sd_ravek peak resident memory", rss, 100, "MB");
}

void BenchProvider(Verdicts& verdicts, int runs) {
    ravektest::PrivateBus bus;
    GDBusConnection* connection = bus.Connection();
    std::size_t sentence = 0;
    auto synthesize = [&](bool firstChunkOnly) {
        int fds[2];
        if (::pipe(fds) != 0) std::exit(1);
        GUnixFDList* list = g_unix_fd_list_new_from_array(&fds[1], 1);
        GError* error = nullptr;
        GVariant* reply = g_dbus_connection_call_with_unix_fd_list_sync(
            connection, "org.ravek.Speech.Provider", "/org/ravek/Speech/Provider", "org.freedesktop.Speech.Provider", "Synthesize",
            g_variant_new("(hssddbs)", 0, Sentence(20, 90000 + 20 * sentence++).c_str(), "Sevra", 1.0, 1.0, FALSE, "he"), nullptr,
            G_DBUS_CALL_FLAGS_NONE, 60000, list, nullptr, nullptr, &error);
        g_object_unref(list);
        if (!reply) {
            std::fprintf(stderr, "Synthesize: %s\n", error->message);
            std::exit(1);
        }
        g_variant_unref(reply);
        // Reads up to the first byte of the first audio chunk, then (untimed) the rest.
        std::string bytes;
        char chunk[65536];
        auto firstAudio = [&] {
            for (size_t at = 4; at < bytes.size();) {
                if (bytes[at] == 1) return true;
                if (at + 14 > bytes.size()) return false;
                uint32_t nameLength;
                std::memcpy(&nameLength, bytes.data() + at + 10, 4);
                at += 14 + nameLength;
            }
            return false;
        };
        ssize_t n = 0;
        while (!firstAudio() && (n = ::read(fds[0], chunk, sizeof chunk)) > 0) bytes.append(chunk, static_cast<size_t>(n));
        if (firstChunkOnly) return fds[0];
        while (::read(fds[0], chunk, sizeof chunk) > 0) {
        }
        ::close(fds[0]);
        return -1;
    };
    const auto t0 = Clock::now();
    synthesize(false);
    std::printf("Spiel provider activation + first Synthesize: %.1f ms\n", MillisecondsBetween(t0, Clock::now()));
    int pending = -1;
    const auto first = TimeRuns(3, runs, [&] { pending = synthesize(true); }, [&] {
        char chunk[65536];
        while (::read(pending, chunk, sizeof chunk) > 0) {
        }
        ::close(pending);
    });
    PrintStats("Synthesize of 20 words to the first audio chunk", Summarise(first), "ms");
    Target(verdicts, "Spiel Synthesize (20 words) to first audio chunk, median", Summarise(first).median, 20, "ms");

    GError* error = nullptr;
    GVariant* pid = g_dbus_connection_call_sync(connection, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                                                "GetConnectionUnixProcessID", g_variant_new("(s)", "org.ravek.Speech.Provider"),
                                                nullptr, G_DBUS_CALL_FLAGS_NONE, -1, nullptr, &error);
    if (!pid) return;
    guint32 value = 0;
    g_variant_get(pid, "(u)", &value);
    g_variant_unref(pid);
    const std::string status = "/proc/" + std::to_string(value) + "/status";
    const double rss = StatusKilobytes("VmHWM", status) / 1024.0;
    std::printf("Spiel provider resident memory: %.1f MB (peak), %.1f MB now\n", rss, StatusKilobytes("VmRSS", status) / 1024.0);
    Target(verdicts, "Spiel provider peak resident memory", rss, 100, "MB");
}

}  // namespace

int main(int argc, char** argv) {
    int runs = 20;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--help")) {
            std::puts("Usage: bench_speech [--runs N]\n"
                      "sd_ravek and the Spiel provider on the 200,000-word generated voice (made once into\n"
                      "<build>/bench-data): SPEAK to the first audio block, STOP to 703 STOP, Synthesize to the\n"
                      "first audio chunk, resident memory. Needs sd_ravek and ravek-speech-provider built.");
            return 0;
        }
        if (!std::strcmp(argv[i], "--runs") && i + 1 < argc) runs = std::max(1, std::atoi(argv[++i]));
    }
    std::signal(SIGPIPE, SIG_IGN);
    EnsureBigVoice();
    ravektest::Installation inst(BigVoiceOptions(0));
    Verdicts verdicts;
    BenchModule(verdicts, runs);
    BenchProvider(verdicts, runs);
    return 0;
}
