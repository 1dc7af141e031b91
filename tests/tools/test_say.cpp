// ravek-say run as a child process: usage, rendering into a WAVE file with an in-process engine,
// speaking through the engine service on a private bus, and how failures are reported.
#include <gio/gio.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <csignal>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <tuple>
#include <string>
#include <vector>

#include "BusInterface.h"
#include "Installation.h"
#include "PrivateBus.h"

namespace fs = std::filesystem;
using ravektest::FullDisk;
using ravektest::Installation;
using ravektest::InstallationOptions;

namespace {

struct SayRun {
    int exitCode = -1;
    std::string out;
    std::string err;
};

// Runs ravek-say with the arguments, `input` on its standard input and the environment of this
// process changed by `env` (an empty value removes the variable).
SayRun RunSay(const std::vector<std::string>& args, const std::string& input = "",
           const std::map<std::string, std::string>& env = {}) {
    std::vector<const gchar*> argv;
    const std::string program = std::string(RAVEK_BUILD_DIR) + "/bin/ravek-say";
    argv.push_back(program.c_str());
    for (const std::string& a : args) argv.push_back(a.c_str());
    argv.push_back(nullptr);

    GSubprocessLauncher* launcher = g_subprocess_launcher_new(static_cast<GSubprocessFlags>(
        G_SUBPROCESS_FLAGS_STDIN_PIPE | G_SUBPROCESS_FLAGS_STDOUT_PIPE | G_SUBPROCESS_FLAGS_STDERR_PIPE));
    for (const auto& [name, value] : env) {
        if (value.empty()) g_subprocess_launcher_unsetenv(launcher, name.c_str());
        else g_subprocess_launcher_setenv(launcher, name.c_str(), value.c_str(), TRUE);
    }
    GError* error = nullptr;
    GSubprocess* process = g_subprocess_launcher_spawnv(launcher, argv.data(), &error);
    g_object_unref(launcher);
    SayRun run;
    if (!process) {
        ADD_FAILURE() << "cannot start " << program << ": " << (error ? error->message : "");
        g_clear_error(&error);
        return run;
    }
    gchar* out = nullptr;
    gchar* err = nullptr;
    if (g_subprocess_communicate_utf8(process, input.c_str(), nullptr, &out, &err, &error)) {
        run.exitCode = g_subprocess_get_if_exited(process) ? g_subprocess_get_exit_status(process) : -1;
    } else {
        ADD_FAILURE() << "lost ravek-say: " << (error ? error->message : "");
        g_clear_error(&error);
    }
    run.out = out ? out : "";
    run.err = err ? err : "";
    g_free(out);
    g_free(err);
    g_object_unref(process);
    return run;
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t nl; (nl = text.find('\n', start)) != std::string::npos; start = nl + 1) lines.push_back(text.substr(start, nl - start));
    if (start < text.size()) lines.push_back(text.substr(start));
    return lines;
}

uint32_t Le32(const std::string& b, size_t at) {
    return uint8_t(b[at]) | uint8_t(b[at + 1]) << 8 | uint8_t(b[at + 2]) << 16 | uint32_t(uint8_t(b[at + 3])) << 24;
}
uint16_t Le16(const std::string& b, size_t at) { return uint16_t(uint8_t(b[at]) | uint8_t(b[at + 1]) << 8); }

// Checks the header of a rendered WAVE file and gives its length in seconds.
double WaveSeconds(const fs::path& file) {
    const std::string b = ravektest::ReadFileBytes(file);
    if (b.size() < 44) {
        ADD_FAILURE() << file << " is too short for a WAVE file (" << b.size() << " bytes)";
        return -1;
    }
    EXPECT_EQ(b.substr(0, 4), "RIFF");
    EXPECT_EQ(b.substr(8, 8), "WAVEfmt ");
    EXPECT_EQ(Le32(b, 4), b.size() - 8);
    EXPECT_EQ(Le16(b, 20), 1);      // PCM
    EXPECT_EQ(Le16(b, 22), 2);      // stereo
    EXPECT_EQ(Le32(b, 24), 22050u);
    EXPECT_EQ(Le16(b, 34), 16);
    EXPECT_EQ(b.substr(36, 4), "data");
    EXPECT_EQ(Le32(b, 40), b.size() - 44);
    return double(b.size() - 44) / (22050.0 * 4);
}

// Names in a folder (to see that nothing half-written is left behind).
std::vector<std::string> FolderContent(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename().string());
    return names;
}

const std::vector<std::string> kShalomOlamEvents = {"SpeechStart", "WordStart 1 שלום", "WordStart 6 עולם", "Speechend"};

}  // namespace

TEST(SayUsage, HelpAndRefusedArguments) {
    SayRun help = RunSay({"--help"});
    EXPECT_EQ(help.exitCode, 0);
    for (const char* word : {"Usage: ravek-say", "--voice N", "--events", "--output FILE.wav", "--timeout", "default 3"})
        EXPECT_NE(help.out.find(word), std::string::npos) << word;

    struct Case {
        std::vector<std::string> args;
        std::string input;
        std::string message;
    };
    const std::vector<Case> refused = {
        {{"--voice", "5", "שלום"}, "", "--voice must be 1, 2, 3 or 4"},
        {{"--voice", "x", "שלום"}, "", "--voice must be 1, 2, 3 or 4"},
        {{"--voice"}, "", "--voice needs a value"},
        {{"--loud", "שלום"}, "", "unknown option --loud"},
        {{"--timeout", "-1", "שלום"}, "", "--timeout must be a positive number"},
        {{}, " \n\t\n", "nothing to say"},
        {{"\xff\xfe"}, "", "not valid UTF-8"},
    };
    for (const Case& c : refused) {
        SayRun run = RunSay(c.args, c.input);
        EXPECT_EQ(run.exitCode, 2) << c.message;
        EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
        EXPECT_NE(run.err.find("Usage: ravek-say"), std::string::npos);
    }
}

TEST(SayRender, WritesOneCompleteWaveFileAsLongAsTheClips) {
    Installation inst;
    ravektest::TempFolder out;
    // "שלום" is a dictionary word (150 ms); "עולם" reaches "עוֹלָם" (250 ms) by the smart lookup.
    SayRun run = RunSay({"--events", "--output", (out / "speech.wav").string(), "שלום", "עולם"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(Lines(run.out), kShalomOlamEvents);
    EXPECT_NEAR(WaveSeconds(out / "speech.wav"), 0.40, 0.02);
    EXPECT_EQ(FolderContent(out.Path()), std::vector<std::string>{"speech.wav"});

    // Text from standard input, the female voice (other clips: 150 + 400 ms), an existing file
    // replaced whole, and no events printed without --events.
    run = RunSay({"--voice", "4", "--output", (out / "speech.wav").string()}, "שלום\nעולם\n");
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out, "");
    EXPECT_NEAR(WaveSeconds(out / "speech.wav"), 0.55, 0.02);
}

TEST(SayRender, EventsNameWordsByCharacterPosition) {
    Installation inst;
    ravektest::TempFolder out;
    // The pointed word is seven characters (fourteen bytes): the next word starts at character 10.
    SayRun run = RunSay({"--events", "--output", (out / "a.wav").string(), "שָׁלוֹם, עולם"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(Lines(run.out), (std::vector<std::string>{"SpeechStart", "WordStart 1 שָׁלוֹם", "WordStart 10 עולם", "Speechend"}));
    EXPECT_NEAR(WaveSeconds(out / "a.wav"), 0.45, 0.02);  // the pointed clip is 200 ms
}

TEST(SayRender, FailuresLeaveNoFile) {
    ravektest::TempFolder out;
    {
        InstallationOptions o;
        o.WriteIni = false;
        Installation inst(o);
        SayRun run = RunSay({"--output", (out / "speech.wav").string(), "שלום"});
        EXPECT_EQ(run.exitCode, 1);
        EXPECT_NE(run.err.find("ravek-say: Initialise failed: engine error 999 in RavekVoice.exe!IAPI#Initialise: Ini File "
                               "does not exists at "),
                  std::string::npos)
            << run.err;
        EXPECT_TRUE(FolderContent(out.Path()).empty());
    }
    Installation inst;
    SayRun run = RunSay({"--output", (out / "missing" / "speech.wav").string(), "שלום"});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.err.find("cannot create a file beside"), std::string::npos) << run.err;
    EXPECT_TRUE(FolderContent(out.Path()).empty());
}

// --output writes only a regular file or a new name; anything else at the path stays as it was,
// and a full disk (a small tmpfs) fails naming the file and leaves nothing behind.
using MakeTarget = std::function<bool(const fs::path&)>;  // false: cannot be made here
class SayOutputTest : public ::testing::TestWithParam<std::tuple<const char*, MakeTarget, const char*>> {};

TEST_P(SayOutputTest, OnlyARegularFileOrANewNameIsWritten) {
    const auto& [name, make, message] = GetParam();
    ravektest::TempFolder out;
    std::optional<FullDisk> full;
    if (!make) full.emplace(out / "full");
    const fs::path target = (full ? full->Path() : out.Path()) / "speech.wav";
    if (full ? !full->Mounted() : !make(target)) GTEST_SKIP() << "cannot make " << name << " here";
    const auto before = fs::symlink_status(target).type();
    Installation inst;
    SayRun run = RunSay({"--output", target.string(), "שלום"});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.err.find(target.string() + message), std::string::npos) << run.err;
    EXPECT_EQ(fs::symlink_status(target).type(), before);
    EXPECT_TRUE(full ? full->HoldsOnlyTheFiller() : FolderContent(out.Path()) == std::vector<std::string>{"speech.wav"});
}

INSTANTIATE_TEST_SUITE_P(
    Targets, SayOutputTest,
    ::testing::Values(std::tuple("Symlink", MakeTarget([](const fs::path& p) { fs::create_symlink("/etc/hostname", p); return true; }),
                                 ": it is a symbolic link; --output writes only a regular file or a new name"),
                      std::tuple("Folder", MakeTarget([](const fs::path& p) { return fs::create_directory(p); }), ": it is a folder"),
                      std::tuple("Fifo", MakeTarget([](const fs::path& p) { return ::mkfifo(p.c_str(), 0600) == 0; }), ": it is a named pipe"),
                      std::tuple("Device", MakeTarget([](const fs::path& p) { return ::mknod(p.c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0; }),
                                 ": it is a device"),
                      std::tuple("FullDisk", MakeTarget(), ": No space left on device")),
    [](const auto& info) { return std::get<0>(info.param); });

TEST(SayBus, SpeaksThroughTheServiceAndPrintsTheEventsInOrder) {
    Installation inst;  // before the bus: the service started by the bus inherits $RAVEK_REGISTRY
    ravektest::PrivateBus bus;
    const std::map<std::string, std::string> env = {{"DBUS_SESSION_BUS_ADDRESS", bus.Address()}};
    SayRun run = RunSay({"--events", "שלום", "עולם"}, "", env);
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(Lines(run.out), kShalomOlamEvents);

    // The same engine serves the next client; the text comes from standard input.
    run = RunSay({"--events", "--voice", "3"}, "שלום עולם\n", env);
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(Lines(run.out), kShalomOlamEvents);
    // Without --events nothing is printed.
    run = RunSay({"שלום"}, "", env);
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out, "");
}

TEST(SayBus, TimeoutStopsTheSpeechAndTheEngineServesOn) {
    InstallationOptions o;
    o.Registry["AudioSink"] = ravektest::RegValue::String("fakesink sync=true");  // real-time pacing
    Installation inst(o);
    ravektest::PrivateBus bus;
    const std::map<std::string, std::string> env = {{"DBUS_SESSION_BUS_ADDRESS", bus.Address()}};
    std::string longText;
    for (int i = 0; i < 30; ++i) longText += "עולם ";  // 30 x 250 ms
    SayRun run = RunSay({"--timeout", "0.5", longText}, "", env);
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.err.find("no Speechend from the engine within"), std::string::npos) << run.err;
    // The speech was stopped: the engine is idle and speaks the next request.
    run = RunSay({"--events", "שלום", "עולם"}, "", env);
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(Lines(run.out), kShalomOlamEvents);
}

TEST(SayBus, TextIgnoredByABusyEngineIsAFailure) {
    InstallationOptions o;
    o.Registry["AudioSink"] = ravektest::RegValue::String("fakesink sync=true");
    Installation inst(o);
    ravektest::PrivateBus bus;
    ASSERT_TRUE(bus.Call("Initialise").ok());
    ASSERT_TRUE(bus.Call("SelectVoice", g_variant_new("(i)", 3)).ok());
    ASSERT_TRUE(bus.Call("Speak", g_variant_new("(s)", "עולם עולם עולם עולם עולם עולם")).ok());  // 1.5 s
    SayRun run = RunSay({"--events", "שלום"}, "", {{"DBUS_SESSION_BUS_ADDRESS", bus.Address()}});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.err.find("the engine was speaking for another client and ignored this text"), std::string::npos) << run.err;
    EXPECT_EQ(run.out, "");  // the other speech's events are not printed as ours
    // The other client's speech went on to its end, undisturbed.
    ASSERT_TRUE(bus.WaitFor([&] { return !bus.Signals().empty() && bus.Signals().back().name == "Speechend"; }));
    std::vector<std::string> names;
    for (const auto& sig : bus.Signals()) names.push_back(sig.name);
    EXPECT_EQ(names, (std::vector<std::string>{"SpeechStart", "WordStart", "WordStart", "WordStart", "WordStart",
                                               "WordStart", "WordStart", "Speechend"}));
}

TEST(SayBus, TextIgnoredWhileAnotherClientsEngineObjectSpeaksIsAFailure) {
    InstallationOptions o;
    o.Registry["AudioSink"] = ravektest::RegValue::String("fakesink sync=true");
    Installation inst(o);
    ravektest::PrivateBus bus;
    ASSERT_TRUE(bus.Call("Initialise").ok());
    // Another client speaks through an engine object of its own.
    gchar* path = nullptr;
    auto call = [&](const char* interface, const char* method, GVariant* parameters) {
        GVariant* reply = g_dbus_connection_call_sync(bus.Connection(), "org.ravek.RavekVoice", path ? path : "/org/ravek/RavekVoice",
                                                      interface, method, parameters, nullptr, G_DBUS_CALL_FLAGS_NONE, 20000,
                                                      nullptr, nullptr);
        ASSERT_NE(reply, nullptr) << method;
        if (!path) g_variant_get(reply, "(o)", &path);
        g_variant_unref(reply);
    };
    call("org.ravek.RavekVoice.Factory", "CreateInstance", nullptr);
    call("org.ravek.RavekVoice.IAPI", "Initialise", nullptr);
    call("org.ravek.RavekVoice.IAPI", "SelectVoice", g_variant_new("(i)", 3));
    call("org.ravek.RavekVoice.IAPI", "Speak", g_variant_new("(s)", "עולם עולם עולם עולם עולם עולם"));
    g_free(path);
    SayRun run = RunSay({"--events", "שלום"}, "", {{"DBUS_SESSION_BUS_ADDRESS", bus.Address()}});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.err.find("the engine was speaking for another client and ignored this text"), std::string::npos) << run.err;
    EXPECT_EQ(run.out, "");
    EXPECT_TRUE(bus.Signals().empty()) << "the shared object said nothing";
}

TEST(SayBus, EngineAndBusErrorsAreReported) {
    {
        InstallationOptions o;
        o.WriteIni = false;
        Installation inst(o);
        ravektest::PrivateBus bus;
        SayRun run = RunSay({"שלום"}, "", {{"DBUS_SESSION_BUS_ADDRESS", bus.Address()}});
        EXPECT_EQ(run.exitCode, 1);
        EXPECT_NE(run.err.find("ravek-say: Initialise failed: engine error 999 in RavekVoice.exe!IAPI#Initialise: Ini "
                               "File does not exists at " +
                               inst.IniPath().string()),
                  std::string::npos)
            << run.err;
        EXPECT_EQ(run.out, "");
    }
    {
        // A bus that knows no engine service.
        ravektest::TempFolder noServices;
        ravektest::PrivateBus bus(noServices.Path().string());
        SayRun run = RunSay({"שלום"}, "", {{"DBUS_SESSION_BUS_ADDRESS", bus.Address()}});
        EXPECT_EQ(run.exitCode, 1);
        EXPECT_NE(run.err.find("Initialise failed"), std::string::npos) << run.err;
        EXPECT_NE(run.err.find("cannot start org.ravek.RavekVoice"), std::string::npos) << run.err;
    }
    ravektest::TempFolder nowhere;
    SayRun run = RunSay({"שלום"}, "", {{"DBUS_SESSION_BUS_ADDRESS", "unix:path=" + (nowhere / "no-bus").string()}});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.err.find("cannot connect to the session bus"), std::string::npos) << run.err;
}

namespace {

struct GiveUpCase {
    const char* name;
    std::vector<std::string> args;
    const char* errorName;  // the error Speak answers with; null: no answer
    bool interrupt;         // SIGINT to ravek-say once Speak has arrived
    int exitCode;
    int stops;              // StopSpeak calls the engine receives
};

// A stand-in for the engine answers Initialise, SelectVoice and StopSpeak, and Speak as the case says.
class SayGivesUp : public ::testing::TestWithParam<GiveUpCase> {
protected:
    static void OnCall(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar* method, GVariant*,
                       GDBusMethodInvocation* call, gpointer self) {
        auto* t = static_cast<SayGivesUp*>(self);
        const std::string name = method;
        if (name == "Speak" && t->GetParam().interrupt) g_subprocess_send_signal(t->say, SIGINT);
        if (name == "Speak" && !t->GetParam().errorName) return t->held.push_back(call);
        if (name == "Speak") return g_dbus_method_invocation_return_dbus_error(call, t->GetParam().errorName, "5|RavekVoice.exe!Speak|no");
        t->stops += name == "StopSpeak";
        g_dbus_method_invocation_return_value(call, name == "SelectVoice" ? g_variant_new("(v)", g_variant_new_string(""))
                                                    : name == "StopSpeak" ? g_variant_new("(i)", 0) : nullptr);
    }
    GSubprocess* say = nullptr;
    std::vector<GDBusMethodInvocation*> held;
    int stops = 0;
};

TEST_P(SayGivesUp, StoppingItsSpeechFirst) {
    ravektest::TempFolder noServices;
    ravektest::PrivateBus bus(noServices.Path().string());
    g_variant_unref(g_dbus_connection_call_sync(bus.Connection(), "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                                                "RequestName", g_variant_new("(su)", kRavekBusName, 0u), nullptr,
                                                G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, nullptr));
    GDBusNodeInfo* node = g_dbus_node_info_new_for_xml(RavekInterfaceXml(), nullptr);
    static const GDBusInterfaceVTable vtable = {&SayGivesUp::OnCall, nullptr, nullptr, {}};
    const guint id = g_dbus_connection_register_object(bus.Connection(), kRavekObjectPath, g_dbus_node_info_lookup_interface(node, kRavekInterface), &vtable, this, nullptr, nullptr);
    std::vector<const gchar*> argv{RAVEK_BUILD_DIR "/bin/ravek-say"};
    for (const std::string& a : GetParam().args) argv.push_back(a.c_str());
    argv.push_back(nullptr);
    GSubprocessLauncher* launcher = g_subprocess_launcher_new(G_SUBPROCESS_FLAGS_STDERR_SILENCE);
    g_subprocess_launcher_setenv(launcher, "DBUS_SESSION_BUS_ADDRESS", bus.Address().c_str(), TRUE);
    say = g_subprocess_launcher_spawnv(launcher, argv.data(), nullptr);
    g_object_unref(launcher);
    ASSERT_NE(say, nullptr);
    bool exited = false;
    g_subprocess_wait_async(say, nullptr, [](GObject*, GAsyncResult*, gpointer done) { *static_cast<bool*>(done) = true; }, &exited);
    // ravek-say's own limit is 1 s; its old fixed Speak time-out was 60 s.
    EXPECT_TRUE(bus.WaitFor([&] { return exited; }, std::chrono::seconds(15)));
    if (!exited) g_subprocess_force_exit(say);
    bus.WaitFor([&] { return exited; }, std::chrono::seconds(5));
    EXPECT_EQ(g_subprocess_get_if_exited(say) ? g_subprocess_get_exit_status(say) : -1, GetParam().exitCode);
    EXPECT_EQ(stops, GetParam().stops);
    for (GDBusMethodInvocation* call : held) g_dbus_method_invocation_return_value(call, g_variant_new("(i)", 0));
    g_dbus_connection_unregister_object(bus.Connection(), id);
    g_dbus_node_info_unref(node);
    g_object_unref(say);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SayGivesUp,
    ::testing::Values(GiveUpCase{"SpeakUnansweredWithinTheTimeout", {"--timeout", "1", "שלום"}, nullptr, false, 1, 1},
                      GiveUpCase{"InterruptedWhileSpeakIsPending", {"--timeout", "100", "שלום"}, nullptr, true, 128 + SIGINT, 1},
                      GiveUpCase{"SpeakFailsOnTheBus", {"שלום"}, "org.freedesktop.DBus.Error.Failed", false, 1, 1},
                      GiveUpCase{"EngineErrorEndsTheRequestItself", {"שלום"}, kRavekErrorName, false, 1, 0}),
    [](const ::testing::TestParamInfo<GiveUpCase>& info) { return std::string(info.param.name); });

}  // namespace
