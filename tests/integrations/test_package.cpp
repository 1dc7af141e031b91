// The Debian package as built by scripts/build-deb.sh (build-deb/ravek-voice_*.deb): installed
// with dpkg into an empty root (no container: dpkg --root with a fresh database), it holds every
// program and file where the system looks for it, and the installed ravek-say renders a WAVE file
// on a fixture installation. Skipped when no package has been built.
#include <glib.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "Installation.h"

using namespace ravektest;
namespace fs = std::filesystem;

namespace {

fs::path BuiltPackage() {
    const fs::path folder = fs::path(RAVEK_SOURCE_DIR) / "build-deb";
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(folder, ec)) {
        const std::string name = entry.path().filename().string();
        if (name.rfind("ravek-voice_", 0) == 0 && entry.path().extension() == ".deb") return entry.path();
    }
    return {};
}

// Runs a program; returns its exit status, its standard output and error in `out`.
int RunProgram(const std::vector<std::string>& args, std::string& out, gchar** env = nullptr) {
    std::vector<const char*> argv;
    for (const std::string& a : args) argv.push_back(a.c_str());
    argv.push_back(nullptr);
    gchar *stdoutText = nullptr, *stderrText = nullptr;
    gint status = -1;
    GError* error = nullptr;
    if (!g_spawn_sync(nullptr, const_cast<char**>(argv.data()), env, G_SPAWN_SEARCH_PATH, nullptr, nullptr, &stdoutText,
                      &stderrText, &status, &error)) {
        out = error->message;
        g_error_free(error);
        return -1;
    }
    out = std::string(stdoutText ? stdoutText : "") + (stderrText ? stderrText : "");
    g_free(stdoutText);
    g_free(stderrText);
    return g_spawn_check_wait_status(status, nullptr) ? 0 : 1;
}

TEST(DebianPackage, InstallsIntoAnEmptyRootAndRendersFromTheInstalledPaths) {
    const fs::path deb = BuiltPackage();
    if (deb.empty()) GTEST_SKIP() << "no package in build-deb/ (scripts/build-deb.sh builds it)";
    if (!fs::exists("/usr/bin/dpkg")) GTEST_SKIP() << "dpkg is not installed";
    Installation inst;
    TempFolder root;
    for (const char* folder : {"var/lib/dpkg/info", "var/lib/dpkg/updates", "var/lib/dpkg/triggers"})
        fs::create_directories(root / folder);
    WriteFileBytes(root / "var/lib/dpkg/status", "");
    std::string out;
    // The libraries it depends on are the host's; the empty root's database does not list them.
    ASSERT_EQ(RunProgram({"dpkg", "--root=" + root.Path().string(), "--force-depends", "--force-script-chrootless", "-i", deb.string()}, out), 0)
        << out;

    for (const char* file : {"usr/bin/RavekVoice", "usr/bin/ravek-say", "usr/bin/ravek-voicepack",
                             "usr/lib/speech-dispatcher-modules/sd_ravek", "etc/speech-dispatcher/modules/ravek.conf",
                             "usr/share/dbus-1/services/org.ravek.RavekVoice.service",
                             "usr/share/dbus-1/services/org.ravek.Speech.Provider.service",
                             "usr/share/dbus-1/interfaces/org.ravek.RavekVoice.xml", "usr/share/ravek/Silence.mp3",
                             "usr/share/man/man1/ravek-say.1.gz", "usr/share/man/man1/ravek-voicepack.1.gz",
                             "usr/share/man/man1/RavekVoice.1.gz"})
        EXPECT_TRUE(fs::exists(root / file)) << file;
    // The activation file starts the provider where the package put it.
    const std::string service = ReadFileBytes(root / "usr/share/dbus-1/services/org.ravek.Speech.Provider.service");
    const size_t exec = service.find("Exec=");
    ASSERT_NE(exec, std::string::npos);
    const std::string provider = service.substr(exec + 5, service.find('\n', exec) - exec - 5);
    EXPECT_TRUE(fs::exists(root / provider.substr(1))) << provider;
    ASSERT_EQ(RunProgram({"dpkg", "--root=" + root.Path().string(), "--status", "ravek-voice"}, out), 0);
    EXPECT_NE(out.find("/etc/speech-dispatcher/modules/ravek.conf"), std::string::npos) << "a conffile:\n" << out;

    const fs::path wav = root / "speech.wav";
    ASSERT_EQ(RunProgram({(root / "usr/bin/ravek-say").string(), "--output", wav.string(), "שלום עולם"}, out), 0) << out;
    const std::string bytes = ReadFileBytes(wav);
    ASSERT_GT(bytes.size(), 44u);
    EXPECT_EQ(bytes.substr(0, 4), "RIFF");
    EXPECT_EQ(bytes.substr(8, 4), "WAVE");
}

}  // namespace
