// sd_ravek under a real speech-dispatcher: a private server (its own configuration, socket and
// module folder, the build's sd_ravek) plays to an ALSA file device, and spd-say speaks Hebrew
// SSML with marks through it. Skipped when speech-dispatcher or spd-say is not installed.
#include <glib.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "Installation.h"
#include "Renderer.h"

using namespace ravektest;
namespace fs = std::filesystem;

namespace {

constexpr const char* kServer = "/usr/bin/speech-dispatcher";
constexpr const char* kSpdSay = "/usr/bin/spd-say";

// A speech-dispatcher running in the foreground for one test.
class PrivateServer {
public:
    PrivateServer(const TempFolder& folder, const Installation& inst) : socket_((folder / "speechd.sock").string()) {
        WriteFileBytes(folder / "conf/speechd.conf",
                       "AudioOutputMethod \"alsa\"\nAudioALSADevice \"capture\"\nDefaultModule \"ravek\"\n"
                       "LanguageDefaultModule \"he\" \"ravek\"\nDefaultLanguage \"he\"\nLogLevel 1\n");
        WriteFileBytes(folder / "conf/modules/ravek.conf", "RavekRegistry \"" + inst.RegistryFile().string() + "\"\n");
        // The ALSA file device captures what the server plays (raw samples, no sound card needed).
        WriteFileBytes(folder / "home/.asoundrc", "pcm.capture { type file; slave.pcm \"null\"; file \"" +
                                                      (folder / "out.raw").string() + "\"; format \"raw\" }\n");
        fs::create_directories(folder / "log");
        env_ = g_get_environ();
        env_ = g_environ_setenv(env_, "HOME", (folder / "home").c_str(), TRUE);
        env_ = g_environ_setenv(env_, "XDG_RUNTIME_DIR", folder.Path().c_str(), TRUE);
        env_ = g_environ_setenv(env_, "SPEECHD_ADDRESS", ("unix_socket:" + socket_).c_str(), TRUE);
        const std::string conf = (folder / "conf").string(), log = (folder / "log").string(),
                          pid = (folder / "speechd.pid").string(),
                          modules = std::string(RAVEK_BUILD_DIR) + "/lib/speech-dispatcher-modules";
        const char* argv[] = {kServer, "-s", "-t", "0", "-C", conf.c_str(), "-c", "unix_socket", "-S", socket_.c_str(),
                              "-L", log.c_str(), "-P", pid.c_str(), "-m", modules.c_str(), nullptr};
        GError* error = nullptr;
        if (!g_spawn_async(nullptr, const_cast<char**>(argv), env_, G_SPAWN_DO_NOT_REAP_CHILD, nullptr, nullptr, &pid_, &error)) {
            ADD_FAILURE() << error->message;
            g_error_free(error);
            return;
        }
        // Clients must not start before the socket exists, or they spawn a server of their own.
        for (int i = 0; i < 200 && !fs::exists(socket_); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(25));
        EXPECT_TRUE(fs::exists(socket_)) << "speech-dispatcher did not open its socket";
    }
    ~PrivateServer() {
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            int status = 0;
            for (int i = 0; i < 100 && ::waitpid(pid_, &status, WNOHANG) == 0; ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
            if (::waitpid(pid_, &status, WNOHANG) == 0) {
                ::kill(pid_, SIGKILL);
                ::waitpid(pid_, &status, 0);
            }
        }
        g_strfreev(env_);
    }
    // Runs spd-say with the arguments; returns its exit status, standard error in `err`.
    int Say(const std::vector<std::string>& args, std::string& err) {
        std::vector<const char*> argv{kSpdSay};
        for (const std::string& a : args) argv.push_back(a.c_str());
        argv.push_back(nullptr);
        gchar* errText = nullptr;
        gint status = -1;
        GError* error = nullptr;
        if (!g_spawn_sync(nullptr, const_cast<char**>(argv.data()), env_, G_SPAWN_STDOUT_TO_DEV_NULL, nullptr, nullptr, nullptr,
                          &errText, &status, &error)) {
            ADD_FAILURE() << error->message;
            g_error_free(error);
            return -1;
        }
        err = errText ? errText : "";
        g_free(errText);
        return g_spawn_check_wait_status(status, nullptr) ? 0 : 1;
    }

private:
    std::string socket_;
    gchar** env_ = nullptr;
    GPid pid_ = 0;
};

struct Frames : ravek::RenderSink {
    int64_t frames = 0;
    void Word(int32_t, int64_t) override {}
    void Pcm(const ravek::PcmBlock& b) override { frames += static_cast<int64_t>(b.frames); }
};

TEST(SpeechDispatcher, SpeaksThroughSdRavekAndReportsTheMarks) {
    if (!fs::exists(kServer) || !fs::exists(kSpdSay)) GTEST_SKIP() << "speech-dispatcher is not installed";
    InstallationOptions o;
    o.Registry["LogLevel"] = RegValue::Dword(0);
    Installation inst(o);
    TempFolder folder;
    PrivateServer server(folder, inst);

    std::string err;
    const std::string ssml = "<speak><mark name=\"w1\"/>שלום <mark name=\"w2\"/>עולם <mark name=\"w3\"/>ספר</speak>";
    ASSERT_EQ(server.Say({"-o", "ravek", "-l", "he", "-w", "-x", ssml}, err), 0) << err;
    EXPECT_NE(err.find("reached mark 'w1'"), std::string::npos) << err;
    const size_t w1 = err.find("'w1'"), w2 = err.find("'w2'"), w3 = err.find("'w3'");
    ASSERT_NE(w3, std::string::npos) << err;
    EXPECT_TRUE(w1 < w2 && w2 < w3) << err;

    // The captured audio holds the rendered speech (16-bit mono), plus at most the device's
    // padding of its last period.
    ravek::Renderer renderer({.registryFile = inst.RegistryFile().string(), .voice = 3});
    Frames expected;
    renderer.Render("שלום עולם ספר", expected, {.mono = true});
    const auto captured = static_cast<int64_t>(fs::file_size(folder / "out.raw") / 2);
    EXPECT_GE(captured, expected.frames);
    EXPECT_LT(captured, expected.frames + ravek::Renderer::kSampleRate / 2);
}

}  // namespace
