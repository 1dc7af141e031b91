// The Spiel provider as a client uses it: on a private session bus that starts it from the build,
// the Voices property, Synthesize into a pipe read back as the framed stream (one WORD event per
// word with its character range before the word's audio, the audio equal to the renderer's),
// SSML ranges in the client's text, overlapping requests, a client that closes its pipe early,
// bad arguments answered with D-Bus errors, and a provider that leaves the bus when idle.
#include <gio/gio.h>
#include <gio/gunixfdlist.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "Installation.h"
#include "PrivateBus.h"
#include "Renderer.h"

using namespace ravektest;

namespace {

struct WordRange {
    uint32_t start, end;
    size_t samplesBefore;  // audio samples in the stream before the event
    bool operator==(const WordRange&) const = default;
};

struct Stream {
    std::string header;
    std::vector<WordRange> words;
    std::vector<int16_t> samples;
    bool wellFormed = true;
};

uint32_t U32(const std::string& b, size_t at) {
    uint32_t v;
    std::memcpy(&v, b.data() + at, 4);
    return v;
}

Stream ParseStream(const std::string& bytes) {
    Stream s;
    s.header = bytes.substr(0, 4);
    for (size_t at = 4; at < bytes.size();) {
        if (bytes[at] == 1 && at + 5 <= bytes.size()) {
            const uint32_t size = U32(bytes, at + 1);
            if (at + 5 + size > bytes.size() || size % 2) break;
            const size_t old = s.samples.size();
            s.samples.resize(old + size / 2);
            std::memcpy(s.samples.data() + old, bytes.data() + at + 5, size);
            at += 5 + size;
        } else if (bytes[at] == 2 && at + 14 <= bytes.size()) {
            if (bytes[at + 1] == 1) s.words.push_back({U32(bytes, at + 2), U32(bytes, at + 6), s.samples.size()});
            at += 14 + U32(bytes, at + 10);
        } else {
            s.wellFormed = false;
            break;
        }
    }
    return s;
}

class Spiel {
public:
    explicit Spiel(PrivateBus& bus) : bus_(bus) {}

    GVariant* Property(const char* name) {
        CallResult r = Call("org.freedesktop.DBus.Properties", "Get", g_variant_new("(ss)", "org.freedesktop.Speech.Provider", name), -1);
        EXPECT_TRUE(r.ok()) << r.errorMessage;
        if (!r.ok()) return nullptr;
        GVariant* boxed = nullptr;
        g_variant_get(r.reply, "(v)", &boxed);
        return boxed;
    }
    // Starts a synthesis; returns the read end of its pipe (-1 when refused, with the error).
    int Synthesize(const std::string& text, const std::string& voice = "", double rate = 1, bool ssml = false,
                   const std::string& language = "he", std::string* error = nullptr) {
        int fds[2];
        EXPECT_EQ(::pipe(fds), 0);
        GUnixFDList* list = g_unix_fd_list_new_from_array(&fds[1], 1);  // takes the write end
        CallResult r = Call("org.freedesktop.Speech.Provider", "Synthesize",
                            g_variant_new("(hssddbs)", 0, text.c_str(), voice.c_str(), 1.0, rate, ssml, language.c_str()), 0, list);
        g_object_unref(list);
        if (!r.ok()) {
            if (error) *error = r.errorName;
            ::close(fds[0]);
            return -1;
        }
        return fds[0];
    }
    static std::string ReadAll(int fd) {
        std::string bytes;
        char chunk[65536];
        for (ssize_t n; (n = ::read(fd, chunk, sizeof chunk)) > 0;) bytes.append(chunk, static_cast<size_t>(n));
        ::close(fd);
        return bytes;
    }

private:
    CallResult Call(const char* interface, const char* method, GVariant* parameters, int, GUnixFDList* fds = nullptr) {
        CallResult result;
        GError* error = nullptr;
        result.reply = g_dbus_connection_call_with_unix_fd_list_sync(
            bus_.Connection(), "org.ravek.Speech.Provider", "/org/ravek/Speech/Provider", interface, method, parameters, nullptr,
            G_DBUS_CALL_FLAGS_NONE, 20000, fds, nullptr, nullptr, &error);
        if (error) {
            gchar* remote = g_dbus_error_get_remote_error(error);
            result.errorName = remote ? remote : "";
            result.errorMessage = error->message;
            g_free(remote);
            g_error_free(error);
        }
        return result;
    }
    PrivateBus& bus_;
};

struct Rendered : ravek::RenderSink {
    std::vector<int16_t> samples;
    void Word(int32_t, int64_t) override {}
    void Pcm(const ravek::PcmBlock& b) override { samples.insert(samples.end(), b.samples, b.samples + b.frames); }
};

std::vector<int16_t> Render(const std::string& text, int voice) {
    ravek::Renderer renderer({.registryFile = "", .voice = voice});
    Rendered out;
    renderer.Render(text, out, {.mono = true});
    return out.samples;
}

InstallationOptions Quiet() {
    InstallationOptions o;
    o.Registry["LogLevel"] = RegValue::Dword(0);
    return o;
}

class SpielProvider : public ::testing::Test {
protected:
    Installation inst_{Quiet()};  // before the bus: the provider inherits $RAVEK_REGISTRY
    PrivateBus bus_;
    Spiel spiel_{bus_};
};

// A service folder whose activation file starts the built provider with `arguments`.
std::string ServiceFolderWith(const TempFolder& folder, const std::string& arguments) {
    const std::string name = "/org.ravek.Speech.Provider.service";
    std::ifstream in(std::string(RAVEK_BUILD_DIR) + "/share/dbus-1/services" + name);
    std::stringstream file;
    for (std::string line; std::getline(in, line);) file << line << (line.starts_with("Exec=") ? " " + arguments : "") << "\n";
    WriteFileBytes(folder.Path().string() + name, file.str());
    return folder.Path().string();
}

TEST_F(SpielProvider, ListsTheVoicesAndStreamsWordEventsBeforeTheirAudio) {
    GVariant* name = spiel_.Property("Name");
    ASSERT_TRUE(name);
    EXPECT_STREQ(g_variant_get_string(name, nullptr), "RavekVoice");
    g_variant_unref(name);
    GVariant* voices = spiel_.Property("Voices");
    ASSERT_TRUE(voices);
    std::vector<std::string> names;
    GVariantIter* iter = g_variant_iter_new(voices);
    const gchar *voiceName, *id, *format;
    guint64 features;
    GVariantIter* languages;
    while (g_variant_iter_next(iter, "(&s&s&stas)", &voiceName, &id, &format, &features, &languages)) {
        names.push_back(voiceName);
        EXPECT_STREQ(format, "audio/x-spiel,format=S16LE,channels=1,rate=22050");
        EXPECT_EQ(features, 1u);
        const gchar* language = nullptr;
        ASSERT_TRUE(g_variant_iter_next(languages, "&s", &language));
        EXPECT_STREQ(language, "he");
        g_variant_iter_free(languages);
    }
    g_variant_iter_free(iter);
    g_variant_unref(voices);
    EXPECT_EQ(names, (std::vector<std::string>{"Dan", "Noa", "Galev", "Sevra"}));

    // Plain text: ranges in characters of the text; the prefix of וספר (its own sound, then the
    // word) is one word.
    const std::string text = "שלום עולם, וספר & בית";
    const Stream plain = ParseStream(Spiel::ReadAll(spiel_.Synthesize(text, "Sevra")));
    EXPECT_EQ(plain.header, "0.01");
    EXPECT_TRUE(plain.wellFormed);
    EXPECT_EQ(plain.samples, Render(text, 4));
    ASSERT_EQ(plain.words.size(), 5u);
    const std::vector<std::pair<uint32_t, uint32_t>> ranges{{0, 4}, {5, 9}, {11, 15}, {16, 17}, {18, 21}};
    for (size_t i = 0; i < ranges.size(); ++i) {
        EXPECT_EQ(std::make_pair(plain.words[i].start, plain.words[i].end), ranges[i]) << i;
        if (i > 0) {
            EXPECT_GT(plain.words[i].samplesBefore, plain.words[i - 1].samplesBefore) << "audio between words " << i;
        }
    }
    EXPECT_EQ(plain.words[0].samplesBefore, 0u);

    // A recorded phrase is one event whose range covers its words.
    const Stream phrase = ParseStream(Spiel::ReadAll(spiel_.Synthesize("בוקר  טוב שלום")));
    ASSERT_EQ(phrase.words.size(), 2u);
    EXPECT_EQ(std::make_pair(phrase.words[0].start, phrase.words[0].end), std::make_pair(0u, 9u));
    EXPECT_EQ(std::make_pair(phrase.words[1].start, phrase.words[1].end), std::make_pair(10u, 14u));

    // SSML: the ranges point into the SSML as the client wrote it.
    const std::string ssml = "<speak>שלום <mark name=\"x\"/>עולם &amp; ספר</speak>";
    const Stream fromSsml = ParseStream(Spiel::ReadAll(spiel_.Synthesize(ssml, "", 1, true)));
    ASSERT_EQ(fromSsml.words.size(), 4u);
    EXPECT_EQ(std::make_pair(fromSsml.words[1].start, fromSsml.words[1].end), std::make_pair(28u, 32u));  // עולם
    EXPECT_EQ(std::make_pair(fromSsml.words[2].start, fromSsml.words[2].end), std::make_pair(33u, 38u));  // &amp;
    EXPECT_EQ(fromSsml.samples, Render("שלום עולם & ספר", 3));
}

TEST_F(SpielProvider, ServesOverlappingRequestsAndDropsACancelledOne) {
    std::string longText;
    for (int i = 0; i < 400; ++i) longText += "שלום עולם ספר בית ילד ";
    // A client that reads a little and closes its end cancels its job.
    const int cancelled = spiel_.Synthesize(longText);
    ASSERT_GE(cancelled, 0);
    char some[64];
    ASSERT_GT(::read(cancelled, some, sizeof some), 0);
    ::close(cancelled);
    // Two requests in flight at once, read in the opposite order.
    const int first = spiel_.Synthesize("שלום עולם");
    const int second = spiel_.Synthesize("ספר", "Dan");
    ASSERT_GE(first, 0);
    ASSERT_GE(second, 0);
    const Stream two = ParseStream(Spiel::ReadAll(second));
    const Stream one = ParseStream(Spiel::ReadAll(first));
    EXPECT_EQ(one.samples, Render("שלום עולם", 3));
    EXPECT_EQ(one.words.size(), 2u);
    EXPECT_EQ(two.header, "0.01");
    EXPECT_EQ(two.samples, Render("ספר", 1));
}

TEST_F(SpielProvider, RefusesBadArgumentsWithDBusErrors) {
    struct Bad {
        std::string text, voice;
        double rate;
        std::string language;
    };
    for (const Bad& b : {Bad{"שלום", "Nobody", 1, "he"}, Bad{"שלום", "", 0, "he"}, Bad{"שלום", "", 1, "en"},
                         Bad{"  ", "", 1, "he"}}) {
        std::string error;
        EXPECT_EQ(spiel_.Synthesize(b.text, b.voice, b.rate, false, b.language, &error), -1) << b.voice << b.language;
        EXPECT_EQ(error, "org.freedesktop.DBus.Error.InvalidArgs");
    }
    // The provider still serves afterwards.
    EXPECT_FALSE(ParseStream(Spiel::ReadAll(spiel_.Synthesize("שלום"))).samples.empty());
}

TEST(SpielProviderIdle, LeavesTheBusWhenIdleAndIsStartedAgainByTheNextRequest) {
    Installation inst{Quiet()};
    TempFolder services;
    PrivateBus bus(ServiceFolderWith(services, "--idle-exit 1"));
    Spiel spiel(bus);
    for (int round = 0; round < 2; ++round) {
        EXPECT_FALSE(ParseStream(Spiel::ReadAll(spiel.Synthesize("שלום עולם"))).samples.empty()) << round;
        EXPECT_TRUE(bus.EngineRunning("org.ravek.Speech.Provider"));
        EXPECT_TRUE(bus.WaitFor([&] { return !bus.EngineRunning("org.ravek.Speech.Provider"); }, std::chrono::seconds(10)))
            << round;
    }
}

}  // namespace
