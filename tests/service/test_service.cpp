// The engine service on a private session bus: activation, the interface it publishes, errors as
// the client sees them, the automation types of every method, and speech with its signals.
#include <gio/gio.h>
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "IAPI.h"
#include "Installation.h"
#include "PrivateBus.h"


using namespace ravektest;
namespace fs = std::filesystem;
using Names = std::vector<std::string>;

namespace {

constexpr const char* kService = "org.ravek.RavekVoice";
constexpr const char* kPath = "/org/ravek/RavekVoice";
constexpr const char* kInterface = "org.ravek.RavekVoice.IAPI";
constexpr const char* kErrorName = "org.ravek.RavekVoice.Error";

// Owns a GVariant reply.
struct Reply {
    GVariant* value = nullptr;
    std::string error;
    std::string errorName;
    explicit Reply(GVariant* v, GError* e) : value(v) {
        if (e) {
            gchar* remote = g_dbus_error_get_remote_error(e);
            errorName = remote ? remote : "";
            g_free(remote);
            error = e->message;
            g_error_free(e);
        }
    }
    Reply(const Reply&) = delete;
    Reply& operator=(const Reply&) = delete;
    ~Reply() {
        if (value) g_variant_unref(value);
    }
};

Reply CallAt(GDBusConnection* connection, const std::string& path, const char* interface, const char* method,
             GVariant* parameters = nullptr, int timeoutMs = 20000) {
    GError* error = nullptr;
    GVariant* reply = g_dbus_connection_call_sync(connection, kService, path.c_str(), interface, method, parameters,
                                                  nullptr, G_DBUS_CALL_FLAGS_NONE, timeoutMs, nullptr, &error);
    return Reply(reply, error);
}

Reply CallOn(GDBusConnection* connection, const char* interface, const char* method, GVariant* parameters = nullptr) {
    return CallAt(connection, kPath, interface, method, parameters);
}

struct ConnectionDeleter {
    void operator()(GDBusConnection* c) const {
        g_dbus_connection_close_sync(c, nullptr, nullptr);
        g_object_unref(c);
    }
};
using Connection = std::unique_ptr<GDBusConnection, ConnectionDeleter>;

Connection Connect(const std::string& address) {
    GError* error = nullptr;
    GDBusConnection* c = g_dbus_connection_new_for_address_sync(
        address.c_str(),
        static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                          G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, nullptr, &error);
    if (error) {
        ADD_FAILURE() << error->message;
        g_error_free(error);
    }
    return Connection(c);
}

std::string Str(GVariant* v) { return g_variant_get_string(v, nullptr); }

class ServiceTest : public ::testing::Test {
protected:
    // The installation comes first: the activated engine inherits the environment of the bus.
    void Start(InstallationOptions options = InstallationOptions()) {
        if (const char* t = std::getenv("TMPDIR")) savedTmp = t;
        ::unsetenv("RAVEK_AUDIO_SINK");
        inst.emplace(std::move(options));
        tmp = inst->Root() / "tmp";
        fs::create_directories(tmp);
        ::setenv("TMPDIR", tmp.c_str(), 1);
        bus.emplace();
    }
    void TearDown() override {
        bus.reset();
        if (savedTmp) ::setenv("TMPDIR", savedTmp->c_str(), 1);
        else ::unsetenv("TMPDIR");
        inst.reset();
    }
    static InstallationOptions RealTime() {
        InstallationOptions o;
        o.Registry["AudioSink"] = RegValue::String("fakesink sync=true");
        o.MaleRecordings["ארוך.mp3"] = kToneF;
        return o;
    }

    CallResult Call(const std::string& method, GVariant* parameters = nullptr) { return bus->Call(method, parameters); }
    void ExpectOk(const CallResult& r, const std::string& what) {
        EXPECT_TRUE(r.ok()) << what << ": " << r.errorName << " " << r.errorMessage;
    }
    size_t Count(const std::string& name) {
        size_t n = 0;
        for (const auto& s : bus->Signals()) n += s.name == name;
        return n;
    }
    Names SignalNames() {
        Names names;
        for (const auto& s : bus->Signals())
            names.push_back(s.name == "WordStart" ? "WordStart " + std::to_string(s.wordIndex) : s.name);
        return names;
    }
    bool WaitForSpeechends(size_t n) {
        return bus->WaitFor([&] { return Count("Speechend") >= n; });
    }

    std::optional<Installation> inst;
    std::optional<PrivateBus> bus;
    fs::path tmp;
    std::optional<std::string> savedTmp;
};

// ---- activation, interface, simple methods ----

TEST_F(ServiceTest, ActivatedByTheFirstCallAndPublishesTheInterfaceInOrder) {
    Start();
    EXPECT_FALSE(bus->EngineRunning());
    CallResult init = Call("Initialise");
    ExpectOk(init, "Initialise");
    EXPECT_TRUE(g_variant_is_of_type(init.reply, G_VARIANT_TYPE("()")));
    EXPECT_TRUE(bus->EngineRunning());
    EXPECT_TRUE(inst->LogContains("All Initialize done after "));

    Reply xml = CallOn(bus->Connection(), "org.freedesktop.DBus.Introspectable", "Introspect");
    ASSERT_NE(xml.value, nullptr) << xml.error;
    const gchar* text = nullptr;
    g_variant_get(xml.value, "(&s)", &text);
    GError* error = nullptr;
    GDBusNodeInfo* node = g_dbus_node_info_new_for_xml(text, &error);
    ASSERT_NE(node, nullptr) << (error ? error->message : "");
    GDBusInterfaceInfo* iface = g_dbus_node_info_lookup_interface(node, kInterface);
    ASSERT_NE(iface, nullptr);
    Names methods, signals;
    for (GDBusMethodInfo** m = iface->methods; m && *m; ++m) methods.push_back((*m)->name);
    for (GDBusSignalInfo** s = iface->signals; s && *s; ++s) signals.push_back((*s)->name);
    EXPECT_EQ(methods, (Names{"Initialise", "ListNumberOfVoices", "ListVoiceName", "SelectVoice", "Speak", "StopSpeak",
                              "EnumerateFiles", "GetWordsNumber", "GetDictionary", "WindowsMediaPlayer1_PlayStateChange",
                              "DumpFile", "GetVoiceNameByVoiceID", "ExportRavekDictionary", "SetSystemVolume"}));
    EXPECT_EQ(signals, (Names{"SpeechStart", "WordStart", "Speechend"}));
    GDBusSignalInfo* wordStart = g_dbus_interface_info_lookup_signal(iface, "WordStart");
    ASSERT_TRUE(wordStart && wordStart->args && wordStart->args[0]);
    EXPECT_STREQ(wordStart->args[0]->name, "WordIndex");
    EXPECT_STREQ(wordStart->args[0]->signature, "i");
    EXPECT_STREQ(g_dbus_annotation_info_lookup(iface->annotations, "org.ravek.TypeLibrary.Version"), "3.7");
    g_dbus_node_info_unref(node);

    // The voice model.
    CallResult count = Call("ListNumberOfVoices");
    ASSERT_TRUE(count.ok());
    gint32 n = 0;
    g_variant_get(count.reply, "(i)", &n);
    EXPECT_EQ(n, 4);
    Names voices;
    for (int i = 1; i <= 5; ++i) {
        CallResult name = Call("ListVoiceName", g_variant_new("(i)", i));
        ASSERT_TRUE(name.ok()) << name.errorMessage;
        const gchar* s = nullptr;
        g_variant_get(name.reply, "(&s)", &s);
        voices.push_back(s);
    }
    EXPECT_EQ(voices, (Names{"Dan", "Noa", "Galev", "Sevra", ""}));
    for (int bad : {0, 6, -1}) {
        CallResult r = Call("ListVoiceName", g_variant_new("(i)", bad));
        EXPECT_EQ(r.errorName, kErrorName) << bad;
        EXPECT_EQ(r.errorNumber(), 9) << r.errorMessage;
        EXPECT_FALSE(r.errorDescription().empty());
    }
    CallResult words = Call("GetWordsNumber", g_variant_new("(i)", 1));
    ASSERT_TRUE(words.ok());
    g_variant_get(words.reply, "(i)", &n);
    EXPECT_EQ(n, 2);
    ExpectOk(Call("WindowsMediaPlayer1_PlayStateChange", g_variant_new("(ii)", 1, 2)), "PlayStateChange");
    ExpectOk(Call("SetSystemVolume", g_variant_new("(nn)", gint16{100}, gint16{-5})), "SetSystemVolume");

    // GetVoiceNameByVoiceID answers from the active voice (a variant holding a string).
    auto voiceName = [&](int id) {
        CallResult r = Call("GetVoiceNameByVoiceID", g_variant_new("(i)", id));
        EXPECT_TRUE(r.ok() && g_variant_is_of_type(r.reply, G_VARIANT_TYPE("(v)"))) << r.errorMessage;
        if (!r.ok()) return std::string();
        GVariant* inner = nullptr;
        g_variant_get(r.reply, "(v)", &inner);
        std::string s = Str(inner);
        g_variant_unref(inner);
        return s;
    };
    EXPECT_EQ(voiceName(3), "Female");
    CallResult select = Call("SelectVoice", g_variant_new("(i)", 3));
    EXPECT_TRUE(select.ok() && g_variant_is_of_type(select.reply, G_VARIANT_TYPE("(v)")));
    ExpectOk(Call("Speak", g_variant_new("(s)", "...")), "Speak");  // the new voice becomes active
    EXPECT_EQ(voiceName(1), "Male");
}

TEST_F(ServiceTest, InOutArgumentsComeBackAfterTheResult) {
    Start();
    ExpectOk(Call("Initialise"), "Initialise");
    const std::string folder = inst->MyRecordsFolder(0).string();

    // EnumerateFiles(s, s, i, i, a{ss}) -> (v, s, s, i, i, a{ss}).
    GVariantBuilder seed;
    g_variant_builder_init(&seed, G_VARIANT_TYPE("a{ss}"));
    g_variant_builder_add(&seed, "{ss}", "קיים", "/x/קיים.mp3");
    CallResult files = Call("EnumerateFiles", g_variant_new("(ssiia{ss})", folder.c_str(), "*.*", 5, 0, &seed));
    ASSERT_TRUE(files.ok()) << files.errorMessage;
    ASSERT_TRUE(g_variant_is_of_type(files.reply, G_VARIANT_TYPE("(vssiia{ss})")));
    GVariant* result = nullptr;
    const gchar *path = nullptr, *search = nullptr;
    gint32 fileCount = 0, dirCount = 0;
    GVariant* dict = nullptr;
    g_variant_get(files.reply, "(v&s&sii@a{ss})", &result, &path, &search, &fileCount, &dirCount, &dict);
    EXPECT_EQ(Str(result), "") << "an empty result travels as an empty string";
    EXPECT_EQ(std::string(path).rfind(folder, 0), 0u) << path;
    EXPECT_STREQ(search, "*.*");
    EXPECT_EQ(fileCount, 7) << "counted on from the value passed in";
    EXPECT_EQ(dirCount, 0);
    Names keys;
    GVariantIter iter;
    g_variant_iter_init(&iter, dict);
    const gchar *key = nullptr, *item = nullptr;
    while (g_variant_iter_next(&iter, "{&s&s}", &key, &item)) keys.push_back(key);
    ASSERT_EQ(keys.size(), 3u);
    EXPECT_EQ(keys[0], "קיים") << "the passed entries stay first";
    g_variant_unref(result);
    g_variant_unref(dict);
    // A word the dictionary already holds keeps its item; a key given twice is refused as by any
    // dictionary.
    GVariantBuilder held;
    g_variant_builder_init(&held, G_VARIANT_TYPE("a{ss}"));
    g_variant_builder_add(&held, "{ss}", "תודה", "mine");
    CallResult kept = Call("EnumerateFiles", g_variant_new("(ssiia{ss})", folder.c_str(), "*.*", 0, 0, &held));
    ASSERT_TRUE(kept.ok()) << kept.errorMessage;
    g_variant_get(kept.reply, "(v&s&sii@a{ss})", &result, &path, &search, &fileCount, &dirCount, &dict);
    const gchar* mine = nullptr;
    EXPECT_TRUE(g_variant_lookup(dict, "תודה", "&s", &mine));
    EXPECT_STREQ(mine, "mine");
    g_variant_unref(result);
    g_variant_unref(dict);
    GVariantBuilder twice;
    g_variant_builder_init(&twice, G_VARIANT_TYPE("a{ss}"));
    g_variant_builder_add(&twice, "{ss}", "אחת", "1");
    g_variant_builder_add(&twice, "{ss}", "אחת", "2");
    CallResult refused = Call("EnumerateFiles", g_variant_new("(ssiia{ss})", folder.c_str(), "*.*", 0, 0, &twice));
    EXPECT_EQ(refused.errorName, kErrorName);
    EXPECT_EQ(refused.errorNumber(), 457) << refused.errorMessage;

    // ExportRavekDictionary(a{ss}) -> (v, a{ss}): the index of the active voice, in index order.
    IAPI local;
    local.Initialise();
    Names expected;
    for (const auto& [word, entry] : local.ExportRavekDictionary()->Entries()) expected.push_back(word + "=" + entry);
    ASSERT_FALSE(expected.empty());
    CallResult exported = Call("ExportRavekDictionary", g_variant_new("(a{ss})", nullptr));
    ASSERT_TRUE(exported.ok()) << exported.errorMessage;
    ASSERT_TRUE(g_variant_is_of_type(exported.reply, G_VARIANT_TYPE("(va{ss})")));
    g_variant_get(exported.reply, "(v@a{ss})", &result, &dict);
    EXPECT_EQ(Str(result), "");
    Names got;
    g_variant_iter_init(&iter, dict);
    while (g_variant_iter_next(&iter, "{&s&s}", &key, &item)) got.push_back(std::string(key) + "=" + item);
    EXPECT_EQ(got, expected);
    g_variant_unref(result);
    g_variant_unref(dict);

    // DumpFile extracts one word's clip into a folder.
    const fs::path dump = inst->Root() / "dump";
    fs::create_directories(dump);
    ExpectOk(Call("DumpFile", g_variant_new("(sis)", (dump.string() + "/").c_str(), 3, "שלום")), "DumpFile");
    const fs::path here = inst->Root() / "here";
    fs::create_directories(here);
    local.DumpFile(here.string() + "/", 3, "שלום");
    EXPECT_FALSE(ReadFileBytes(dump / "שלום.mp3").empty());
    EXPECT_EQ(ReadFileBytes(dump / "שלום.mp3"), ReadFileBytes(here / "שלום.mp3"));
}

// ---- Initialise failures ----

TEST_F(ServiceTest, FailedInitialiseReportsItsErrorAndCanBeRepeated) {
    InstallationOptions o;
    o.WriteIni = false;
    Start(o);
    CallResult noIni = Call("Initialise");
    EXPECT_EQ(noIni.errorName, kErrorName);
    EXPECT_EQ(noIni.errorNumber(), 999);
    EXPECT_EQ(noIni.errorSource(), "RavekVoice.exe!IAPI#Initialise");
    EXPECT_EQ(noIni.errorDescription(), "Ini File does not exists at " + inst->IniPath().string());
    EXPECT_FALSE(inst->LogContains("Ini file detected at "));
    // The log ends with the database result, the error line and the exit line.
    auto log = inst->LogMessages();
    ASSERT_GE(log.size(), 3u);
    EXPECT_EQ(log[log.size() - 3].rfind("Prefixes were retrived ( ", 0), 0u) << log[log.size() - 3];
    EXPECT_EQ(log[log.size() - 2],
              "Error RavekVoice.exe!IAPI#InitialiseIni File does not exists at " + inst->IniPath().string());
    EXPECT_EQ(log.back().rfind("End RavekVoice.exe!IAPI#Initialise at ", 0), 0u) << log.back();

    // The object is not initialised: every other method answers or refuses with an engine error,
    // and the engine goes on serving.
    const fs::path dump = inst->Root() / "dump";
    fs::create_directories(dump);
    struct Probe {
        const char* method;
        GVariant* parameters;
    };
    GVariantBuilder empty;
    g_variant_builder_init(&empty, G_VARIANT_TYPE("a{ss}"));
    GVariant* emptyDict = g_variant_builder_end(&empty);
    g_variant_ref_sink(emptyDict);
    for (const Probe& p : {Probe{"ListNumberOfVoices", nullptr}, Probe{"ListVoiceName", g_variant_new("(i)", 1)},
                           Probe{"SelectVoice", g_variant_new("(i)", 3)}, Probe{"Speak", g_variant_new("(s)", "תודה")},
                           Probe{"StopSpeak", nullptr}, Probe{"Speak", g_variant_new("(s)", "תודה")},
                           Probe{"EnumerateFiles", g_variant_new("(ssii@a{ss})", "/nonexistent", "*.*", 0, 0, emptyDict)},
                           Probe{"GetWordsNumber", g_variant_new("(i)", 1)}, Probe{"GetDictionary", g_variant_new("(i)", 1)},
                           Probe{"WindowsMediaPlayer1_PlayStateChange", g_variant_new("(ii)", 0, 0)},
                           Probe{"DumpFile", g_variant_new("(sis)", (dump.string() + "/").c_str(), 3, "שלום")},
                           Probe{"GetVoiceNameByVoiceID", g_variant_new("(i)", 0)},
                           Probe{"ExportRavekDictionary", g_variant_new("(@a{ss})", emptyDict)},
                           Probe{"SetSystemVolume", g_variant_new("(nn)", gint16{50}, gint16{50})}}) {
        CallResult r = Call(p.method, p.parameters);
        EXPECT_TRUE(r.ok() || r.errorName == kErrorName) << p.method << ": " << r.errorName << " " << r.errorMessage;
    }
    g_variant_unref(emptyDict);
    EXPECT_TRUE(bus->EngineRunning());
    EXPECT_TRUE(fs::is_empty(dump));

    // A missing system voice folder.
    inst->Options().WriteIni = true;
    inst->Options().CreateMaleSystemFolder = false;
    inst->Write();
    CallResult noSystem = Call("Initialise");
    EXPECT_EQ(noSystem.errorNumber(), 999) << noSystem.errorMessage;
    EXPECT_EQ(noSystem.errorSource(), "RavekVoice.exe!IAPI#Initialise");
    EXPECT_EQ(noSystem.errorDescription(), "System voice folder " + inst->SystemFolder(0).string() + " does not exists");
    EXPECT_TRUE(inst->LogContains("Male user Dictionary loaded from "));

    // A setting that is not a number.
    inst->Options().CreateMaleSystemFolder = true;
    inst->Options().Registry["SequenceLen"] = RegValue::String("four");
    inst->Write();
    CallResult badNumber = Call("Initialise");
    EXPECT_EQ(badNumber.errorName, kErrorName);
    EXPECT_EQ(badNumber.errorNumber(), 13) << badNumber.errorMessage;
    EXPECT_EQ(badNumber.errorSource(), "RavekVoice.exe!IAPI#Initialise");

    // Every failure left the object uninitialised: once fixed, the whole start-up runs.
    inst->Options().Registry["SequenceLen"] = RegValue::String("4");
    inst->Write();
    fs::create_directories(tmp);
    ExpectOk(Call("Initialise"), "Initialise after the fix");
    EXPECT_TRUE(inst->LogContains("Ini file detected at "));
    EXPECT_TRUE(inst->LogContains("All Initialize done after "));
    // A second Initialise changes nothing.
    const size_t lines = inst->LogMessages().size();
    ExpectOk(Call("Initialise"), "second Initialise");
    log = inst->LogMessages();
    ASSERT_EQ(log.size(), lines + 2) << "only the entry and exit lines";
    CallResult speak = Call("Speak", g_variant_new("(s)", "תודה"));
    ExpectOk(speak, "Speak");
    EXPECT_TRUE(WaitForSpeechends(1));
}

// ---- speech and its signals ----

// SIGTERM and SIGINT end the service mid-speech without leaving its working folder behind.
class ServiceSignalTest : public ServiceTest, public ::testing::WithParamInterface<int> {};

TEST_P(ServiceSignalTest, SignalMidSpeechRemovesTheWorkingFolder) {
    Start(RealTime());
    ExpectOk(Call("Initialise"), "Initialise");
    ExpectOk(Call("SelectVoice", g_variant_new("(i)", 1)), "SelectVoice");
    ExpectOk(Call("Speak", g_variant_new("(s)", "ארוך ארוך ארוך")), "Speak");
    ASSERT_FALSE(fs::is_empty(tmp));
    GError* error = nullptr;
    Reply pid(g_dbus_connection_call_sync(bus->Connection(), "org.freedesktop.DBus", "/org/freedesktop/DBus",
                                          "org.freedesktop.DBus", "GetConnectionUnixProcessID", g_variant_new("(s)", kService),
                                          nullptr, G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, &error),
              error);
    ASSERT_TRUE(pid.value) << pid.error;
    guint32 service = 0;
    g_variant_get(pid.value, "(u)", &service);
    ASSERT_EQ(::kill(static_cast<pid_t>(service), GetParam()), 0);
    EXPECT_TRUE(bus->WaitFor([&] { return !bus->EngineRunning(); }, std::chrono::seconds(10)));
    EXPECT_TRUE(bus->WaitFor([&] { return fs::is_empty(tmp); }, std::chrono::seconds(2))) << "the working folder is removed";
}

INSTANTIATE_TEST_SUITE_P(Signals, ServiceSignalTest, ::testing::Values(SIGTERM, SIGINT),
                         [](const ::testing::TestParamInfo<int>& info) { return info.param == SIGTERM ? "Term" : "Int"; });

TEST_F(ServiceTest, SpeakRaisesItsSignalsInOrderAndStopSpeakEndsTheSpeech) {
    Start(RealTime());
    ExpectOk(Call("Initialise"), "Initialise");
    ExpectOk(Call("SelectVoice", g_variant_new("(i)", 3)), "SelectVoice");
    CallResult speak = Call("Speak", g_variant_new("(s)", "שלום ספר תודה"));
    ASSERT_TRUE(speak.ok()) << speak.errorMessage;
    gint32 result = -1;
    g_variant_get(speak.reply, "(i)", &result);
    EXPECT_EQ(result, 0);
    ASSERT_TRUE(WaitForSpeechends(1));
    EXPECT_EQ(SignalNames(), (Names{"SpeechStart", "WordStart 1", "WordStart 6", "WordStart 10", "Speechend"}));
    EXPECT_TRUE(bus->WaitFor([&] { return fs::is_empty(tmp); }, std::chrono::seconds(2))) << "the working folder is removed";

    // StopSpeak in the middle: Speechend at once, nothing after it.
    ExpectOk(Call("SelectVoice", g_variant_new("(i)", 1)), "SelectVoice");
    ExpectOk(Call("Speak", g_variant_new("(s)", "ארוך ארוך ארוך")), "Speak");
    CallResult stop = Call("StopSpeak");
    ASSERT_TRUE(stop.ok()) << stop.errorMessage;
    g_variant_get(stop.reply, "(i)", &result);
    EXPECT_EQ(result, 0);
    ASSERT_TRUE(WaitForSpeechends(2));
    bus->WaitFor([] { return false; }, std::chrono::milliseconds(500));
    EXPECT_EQ(SignalNames(), (Names{"SpeechStart", "WordStart 1", "WordStart 6", "WordStart 10", "Speechend",
                                    "SpeechStart", "WordStart 1", "Speechend"}));
    EXPECT_TRUE(fs::is_empty(tmp)) << "StopSpeak removes the working folder before it returns";
    // StopSpeak with nothing playing still ends a speech.
    ExpectOk(Call("StopSpeak"), "StopSpeak");
    EXPECT_TRUE(WaitForSpeechends(3));
}

TEST_F(ServiceTest, TextThatIsNotUtf8IsRefusedAndTheEngineGoesOn) {
    Start();
    ExpectOk(Call("Initialise"), "Initialise");
    // A message whose string argument holds bytes that are not UTF-8. The bus carries only valid
    // strings, so the text never reaches the engine as it was: the call is refused.
    static const char bytes[] = "\xff\xfe\xd7\x00";
    GVariant* body = g_variant_new_from_data(G_VARIANT_TYPE("(s)"), bytes, sizeof bytes - 1, FALSE, nullptr, nullptr);
    GDBusMessage* message = g_dbus_message_new_method_call(kService, kPath, kInterface, "Speak");
    g_dbus_message_set_body(message, body);
    GError* error = nullptr;
    GDBusMessage* reply = g_dbus_connection_send_message_with_reply_sync(
        bus->Connection(), message, G_DBUS_SEND_MESSAGE_FLAGS_NONE, 5000, nullptr, nullptr, &error);
    g_object_unref(message);
    if (error) {
        g_error_free(error);
    } else {
        ASSERT_NE(reply, nullptr);
        EXPECT_EQ(g_dbus_message_get_message_type(reply), G_DBUS_MESSAGE_TYPE_ERROR);
        const gchar* name = g_dbus_message_get_error_name(reply);
        EXPECT_STREQ(name, kErrorName);
        const gchar* text = nullptr;
        if (GVariant* b = g_dbus_message_get_body(reply)) g_variant_get(b, "(&s)", &text);
        EXPECT_EQ(std::string(text ? text : "").rfind("5|RavekVoice.exe!Speak|", 0), 0u) << (text ? text : "");
        g_object_unref(reply);
    }
    EXPECT_EQ(Count("SpeechStart"), 0u);
    // The engine is idle and serves the next request.
    ExpectOk(Call("SelectVoice", g_variant_new("(i)", 1)), "SelectVoice");
    ExpectOk(Call("Speak", g_variant_new("(s)", "תודה")), "Speak");
    EXPECT_TRUE(WaitForSpeechends(1));
}

TEST_F(ServiceTest, TwoClientsSpeakingAndStoppingInARowDoNotStopTheEngine) {
    InstallationOptions quiet;
    quiet.Registry["LogLevel"] = RegValue::Dword(0);
    Start(quiet);
    ExpectOk(Call("Initialise"), "Initialise");
    ExpectOk(Call("SelectVoice", g_variant_new("(i)", 1)), "SelectVoice");
    Connection other = Connect(bus->Address());
    ASSERT_TRUE(other);
    int failures = 0;
    // One client speaks, the other stops it at once, then the other way round.
    for (int i = 0; i < 500; ++i) {
        Reply speak = CallOn(i % 2 ? other.get() : bus->Connection(), kInterface, "Speak", g_variant_new("(s)", "תודה"));
        Reply stop = CallOn(i % 2 ? bus->Connection() : other.get(), kInterface, "StopSpeak");
        failures += !speak.value + !stop.value;
    }
    EXPECT_EQ(failures, 0);
    EXPECT_TRUE(WaitForSpeechends(500));
    // Still serving: a whole utterance plays to its end.
    const size_t ends = Count("Speechend");
    ExpectOk(Call("Speak", g_variant_new("(s)", "תודה תודה")), "Speak");
    EXPECT_TRUE(WaitForSpeechends(ends + 1));
    EXPECT_EQ(SignalNames().back(), "Speechend");
    EXPECT_TRUE(bus->WaitFor([&] { return fs::is_empty(tmp); }, std::chrono::seconds(2)))
        << "no working folder is left behind";
}

TEST_F(ServiceTest, ClientLeavingDuringSpeechDoesNotLeaveTheEngineBusy) {
    Start(RealTime());
    ExpectOk(Call("Initialise"), "Initialise");
    {
        Connection leaving = Connect(bus->Address());
        Reply select = CallOn(leaving.get(), kInterface, "SelectVoice", g_variant_new("(i)", 1));
        Reply speak = CallOn(leaving.get(), kInterface, "Speak", g_variant_new("(s)", "ארוך ארוך"));
        ASSERT_NE(speak.value, nullptr) << speak.error;
    }
    EXPECT_TRUE(WaitForSpeechends(1));
    EXPECT_EQ(SignalNames(), (Names{"SpeechStart", "WordStart 1", "WordStart 6", "Speechend"}));
    ExpectOk(Call("Speak", g_variant_new("(s)", "ארוך")), "Speak");
    EXPECT_TRUE(WaitForSpeechends(2));
}

// ---- engine objects of one client, made through the factory ----

constexpr const char* kFactory = "org.ravek.RavekVoice.Factory";
const std::string kShared = kPath, kInstance = "/org/ravek/RavekVoice/Instance/";

// The first value of a reply as text (variants unwrapped), or the error name.
std::string First(const Reply& r) {
    if (!r.value) return r.errorName;
    GVariant* child = g_variant_get_child_value(r.value, 0);
    GVariant* v = g_variant_is_of_type(child, G_VARIANT_TYPE_VARIANT) ? g_variant_get_variant(child) : g_variant_ref(child);
    std::string text = g_variant_is_of_type(v, G_VARIANT_TYPE_INT32) ? std::to_string(g_variant_get_int32(v)) : Str(v);
    g_variant_unref(v);
    g_variant_unref(child);
    return text;
}

class FactoryTest : public ServiceTest {
protected:
    // Hears the signals of every engine object as "<path> <signal> [WordIndex]".
    void Start(InstallationOptions options = RealTime()) {
        ServiceTest::Start(std::move(options));
        subscription = g_dbus_connection_signal_subscribe(
            bus->Connection(), nullptr, kInterface, nullptr, nullptr, nullptr, G_DBUS_SIGNAL_FLAGS_NONE,
            [](GDBusConnection*, const gchar*, const gchar* path, const gchar*, const gchar* name, GVariant* p, gpointer self) {
                const bool indexed = g_variant_is_of_type(p, G_VARIANT_TYPE("(i)"));
                static_cast<FactoryTest*>(self)->heard.push_back(std::string(path) + " " + name +
                                                                 (indexed ? " " + First(Reply(g_variant_ref(p), nullptr)) : ""));
            },
            this, nullptr);
    }
    void TearDown() override {
        g_dbus_connection_signal_unsubscribe(bus->Connection(), subscription);
        ServiceTest::TearDown();
    }
    Reply Factory(GDBusConnection* c, const char* method, GVariant* p = nullptr) { return CallAt(c, kShared, kFactory, method, p); }
    Reply On(const std::string& path, const char* method, GVariant* p = nullptr, GDBusConnection* c = nullptr) {
        return CallAt(c ? c : bus->Connection(), path, kInterface, method, p);
    }
    std::string Create(GDBusConnection* owner = nullptr) { return First(Factory(owner ? owner : bus->Connection(), "CreateInstance")); }
    void Ready(const std::string& path, GDBusConnection* c = nullptr) {
        EXPECT_EQ(On(path, "Initialise", nullptr, c).error, "") << path;
        EXPECT_EQ(On(path, "SelectVoice", g_variant_new("(i)", 1), c).error, "") << path;
    }
    std::string Speak(const std::string& path, const char* text, GDBusConnection* c = nullptr) {
        return First(On(path, "Speak", g_variant_new("(s)", text), c));
    }
    bool HeardEnd(const std::string& path, std::chrono::milliseconds timeout = std::chrono::seconds(20)) {
        return bus->WaitFor([&] { return !heard.empty() && heard.back() == path + " Speechend"; }, timeout);
    }
    Names heard;
    guint subscription = 0;
};

TEST_F(FactoryTest, InstancesAreEngineObjectsOfTheirOwnThatReadTheSettingsAgain) {
    Start(InstallationOptions());
    ExpectOk(Call("Initialise"), "Initialise");
    const std::string a = Create(), b = Create();
    EXPECT_EQ(a, kInstance + "1");
    EXPECT_EQ(b, kInstance + "2");
    EXPECT_EQ(First(On(b, "ListNumberOfVoices")), "0") << "a new object is not initialised";
    // The registry changes on disk: a's Initialise reads it, the shared object keeps what it read.
    inst->Options().Registry["MaleVoiceName"] = RegValue::String("Dani");
    inst->Write();
    fs::create_directories(tmp);
    Ready(a);
    EXPECT_EQ(First(On(a, "ListVoiceName", g_variant_new("(i)", 1))), "Dani");
    EXPECT_EQ(First(On(kShared, "ListVoiceName", g_variant_new("(i)", 1))), "Dan");
    // Each object speaks with its own selected voice, its signals from its own path.
    On(a, "SelectVoice", g_variant_new("(i)", 3));
    for (const std::string& path : {a, kShared}) EXPECT_EQ(Speak(path, "..."), "0");
    EXPECT_EQ(First(On(a, "GetVoiceNameByVoiceID", g_variant_new("(i)", 0))), "Male");
    EXPECT_EQ(First(On(kShared, "GetVoiceNameByVoiceID", g_variant_new("(i)", 0))), "Female");
    bus->WaitFor([&] { return heard.size() >= 4; });
    EXPECT_EQ(heard, (Names{a + " SpeechStart", a + " Speechend", kShared + " SpeechStart", kShared + " Speechend"}));
}

TEST_F(FactoryTest, OnlyTheOwningConnectionMayCallOrReleaseAnInstance) {
    Start(InstallationOptions());
    Connection other = Connect(bus->Address());
    const std::string mine = Create();
    const std::string denied = "org.freedesktop.DBus.Error.AccessDenied", unknown = "org.freedesktop.DBus.Error.UnknownObject";
    EXPECT_EQ(First(On(mine, "Initialise", nullptr, other.get())), denied);
    for (auto [path, error] : {std::pair{mine, denied}, {kShared, unknown}, {kInstance + "9", unknown}})
        EXPECT_EQ(First(Factory(other.get(), "Release", g_variant_new("(o)", path.c_str()))), error) << path;
    Ready(mine);  // still there for its owner
}

enum class Leaving { Release, Disconnect };

class InstanceEnd : public FactoryTest, public ::testing::WithParamInterface<Leaving> {};

TEST_P(InstanceEnd, TheInstanceGoesAwayAndItsSpeechStops) {
    Start();
    Connection owner = Connect(bus->Address());
    const std::string path = Create(owner.get());
    Ready(path, owner.get());
    ASSERT_EQ(Speak(path, "ארוך ארוך ארוך ארוך ארוך", owner.get()), "0");
    if (GetParam() == Leaving::Release) EXPECT_TRUE(Factory(owner.get(), "Release", g_variant_new("(o)", path.c_str())).value);
    else owner.reset();
    ASSERT_TRUE(HeardEnd(path));
    EXPECT_EQ(heard.front(), path + " SpeechStart");
    EXPECT_LT(heard.size(), 7u) << "stopped before its five words";
    EXPECT_EQ(First(On(path, "Initialise")), "org.freedesktop.DBus.Error.UnknownMethod");
    const std::string xml = First(CallAt(bus->Connection(), path, "org.freedesktop.DBus.Introspectable", "Introspect"));
    EXPECT_EQ(xml.find("<interface"), std::string::npos) << xml;
    EXPECT_EQ(Create(), kInstance + "2") << "numbers are not reused";
}

INSTANTIATE_TEST_SUITE_P(Owner, InstanceEnd, ::testing::Values(Leaving::Release, Leaving::Disconnect),
                         [](const auto& info) { return info.param == Leaving::Release ? "Releases" : "Disconnects"; });

// The speaking object and the one asked to speak by index: 0 the shared object, 1 and 2 instances.
class OneVoiceOutput : public FactoryTest, public ::testing::WithParamInterface<std::pair<int, int>> {};

TEST_P(OneVoiceOutput, ASpeakWhileAnotherObjectSpeaksIsIgnored) {
    Start();
    const Names objects = {kShared, Create(), Create()};
    const std::string &speaker = objects[GetParam().first], &prober = objects[GetParam().second];
    // The speaker is initialised last: until playback state is kept per engine object, the object
    // initialised last receives the playback notifications.
    Ready(prober);
    Ready(speaker);
    ASSERT_EQ(Speak(speaker, "ארוך ארוך"), "0");
    EXPECT_EQ(Speak(prober, "תודה"), "0");
    ASSERT_TRUE(HeardEnd(speaker));
    EXPECT_EQ(heard, (Names{speaker + " SpeechStart", speaker + " WordStart 1", speaker + " WordStart 6", speaker + " Speechend"}));
}

INSTANTIATE_TEST_SUITE_P(Objects, OneVoiceOutput, ::testing::Values(std::pair{1, 0}, std::pair{0, 1}, std::pair{1, 2}),
                         [](const auto& info) {
                             return "Object" + std::to_string(info.param.first) + "SpeaksObject" +
                                    std::to_string(info.param.second) + "Asks";
                         });

// Objects that speak and log in turn, each as its own engine: these need an engine library
// without process-wide playback and log state.
class FactoryIndependence : public FactoryTest {};

TEST_F(FactoryIndependence, ObjectsSpeakInTurnAndAReleaseLeavesTheOthersSpeaking) {
    Start();
    const std::string mine = Create();
    Ready(kShared);
    Ready(mine);
    auto speakToEnd = [&](const std::string& path) {
        heard.clear();
        return Speak(path, "ארוך") == "0" && HeardEnd(path, std::chrono::seconds(5)) &&
               heard == Names{path + " SpeechStart", path + " WordStart 1", path + " Speechend"};
    };
    for (const std::string& path : {kShared, mine, kShared}) ASSERT_TRUE(speakToEnd(path)) << path;
    EXPECT_TRUE(Factory(bus->Connection(), "Release", g_variant_new("(o)", mine.c_str())).value);
    EXPECT_TRUE(speakToEnd(kShared));
}

TEST_F(FactoryIndependence, EachObjectLogsWhereItsSettingsSay) {
    Start(InstallationOptions());
    Ready(kShared);
    inst->Options().Registry["LogLocation"] = RegValue::String("{root}/log2");
    inst->Write();
    fs::create_directories(inst->Root() / "log2");
    const std::string mine = Create();
    Ready(mine);
    auto logged = [&](const char* folder) {  // a log with the line is removed, to start afresh
        const fs::path log = inst->Root() / folder / "Tolvin_Log.log";
        return ReadFileBytes(log).find("SelectVoice called at") != std::string::npos && fs::remove(log);
    };
    EXPECT_TRUE(logged("log2"));  // the instance's Ready
    On(kShared, "SelectVoice", g_variant_new("(i)", 2));
    EXPECT_TRUE(logged("log"));
    EXPECT_FALSE(logged("log2"));
}

// ---- a client's numbers and texts at their extremes: an error, never a crash ----

struct ExtremeCase {
    const char* name;
    const char* method;
    GVariant* (*arguments)(const std::string& walkFolder);
    int error;                   // 0: the call is answered
    int32_t selected = 3;        // SelectVoice before the call
    const char* mentions = "";   // in the error's description
};

// One engine for the whole table: a case that brought it down would fail every later case.
class ClientExtremes : public ::testing::TestWithParam<ExtremeCase> {
protected:
    static void SetUpTestSuite() {
        inst = new Installation();
        WriteFileBytes(inst->Root() / "walk/a.mp3", "x");
        fs::create_directories(inst->Root() / "walk/sub");
        bus = new PrivateBus();
        ASSERT_TRUE(bus->Call("Initialise").ok());
    }
    static void TearDownTestSuite() { delete bus, delete inst; }
    static inline Installation* inst = nullptr;
    static inline PrivateBus* bus = nullptr;
};

TEST_P(ClientExtremes, AnsweredOrRefusedAndTheEngineServesOn) {
    const ExtremeCase& c = GetParam();
    ASSERT_TRUE(bus->Call("SelectVoice", g_variant_new("(i)", c.selected)).ok());
    // Speak before Initialise goes to a fresh engine object of the factory.
    const bool fresh = c.error == 91;
    const std::string path = fresh ? First(CallAt(bus->Connection(), kPath, "org.ravek.RavekVoice.Factory", "CreateInstance")) : kPath;
    Reply r = CallAt(bus->Connection(), path, kInterface, c.method, c.arguments((inst->Root() / "walk").string()));
    const size_t bar = r.error.find('|');
    EXPECT_EQ(bar == std::string::npos ? 0 : std::atoi(r.error.substr(r.error.rfind(' ', bar) + 1).c_str()), c.error) << r.error;
    EXPECT_NE(r.error.find(c.mentions), std::string::npos) << r.error;
    EXPECT_EQ(First(CallAt(bus->Connection(), kPath, kInterface, "ListNumberOfVoices")), "4") << "the same engine answers on";
}

GVariant* Walk(const std::string& folder, int32_t files, int32_t dirs, const char* pattern = "*.*") {
    return g_variant_new("(ssiia{ss})", folder.c_str(), pattern, files, dirs, nullptr);
}
GVariant* Voice(int32_t v) { return g_variant_new("(i)", v); }
GVariant* Shalom(const std::string&) { return g_variant_new("(s)", "שלום"); }

INSTANTIATE_TEST_SUITE_P(
    Table, ClientExtremes,
    ::testing::Values(
        ExtremeCase{"DumpFileVoiceMax", "DumpFile", [](const std::string& f) { return g_variant_new("(sis)", f.c_str(), INT32_MAX, "w"); }, 6},
        ExtremeCase{"DumpFileVoiceMin", "DumpFile", [](const std::string& f) { return g_variant_new("(sis)", f.c_str(), INT32_MIN, "w"); }, 0},
        ExtremeCase{"FileCountMax", "EnumerateFiles", [](const std::string& f) { return Walk(f, INT32_MAX, 0); }, 6, 3, "FileCount"},
        ExtremeCase{"DirCountMax", "EnumerateFiles", [](const std::string& f) { return Walk(f, 0, INT32_MAX); }, 6, 3, "DirCount"},
        ExtremeCase{"CountsReachTheMax", "EnumerateFiles", [](const std::string& f) { return Walk(f, INT32_MAX - 1, INT32_MAX - 1); }, 0},
        ExtremeCase{"CountsMin", "EnumerateFiles", [](const std::string& f) { return Walk(f, INT32_MIN, INT32_MIN, ""); }, 0},
        ExtremeCase{"SelectVoiceMin", "SelectVoice", [](const std::string&) { return Voice(INT32_MIN); }, 6},
        ExtremeCase{"SpeakAfterSelectVoiceMax", "Speak", Shalom, 6, INT32_MAX},
        ExtremeCase{"SpeakAfterSelectVoiceMin", "Speak", Shalom, 6, INT32_MIN + 1},
        ExtremeCase{"ListVoiceNameMax", "ListVoiceName", [](const std::string&) { return Voice(INT32_MAX); }, 9},
        ExtremeCase{"GetWordsNumberMin", "GetWordsNumber", [](const std::string&) { return Voice(INT32_MIN); }, 9},
        ExtremeCase{"GetDictionaryMax", "GetDictionary", [](const std::string&) { return Voice(INT32_MAX); }, 9},
        ExtremeCase{"VoiceNameByIdMin", "GetVoiceNameByVoiceID", [](const std::string&) { return Voice(INT32_MIN); }, 0},
        ExtremeCase{"PlayStateChange", "WindowsMediaPlayer1_PlayStateChange", [](const std::string&) { return g_variant_new("(ii)", INT32_MIN, INT32_MAX); }, 0},
        ExtremeCase{"SetSystemVolume", "SetSystemVolume", [](const std::string&) { return g_variant_new("(nn)", INT16_MIN, INT16_MAX); }, 0},
        ExtremeCase{"SpeakAboveTheTextLimit", "Speak", [](const std::string&) { return g_variant_new("(s)", std::string((1 << 20) + 1, 'a').c_str()); }, 5, 3, "1048576"},
        ExtremeCase{"SpeakBeforeInitialise", "Speak", Shalom, 91, 3, "91|RavekVoice.exe!Speak|Object variable or With block variable not set"}),
    [](const ::testing::TestParamInfo<ExtremeCase>& info) { return std::string(info.param.name); });

}  // namespace
