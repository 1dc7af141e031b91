// sd_ravek driven as speech-dispatcher drives it, over its standard input and output, on a
// fixture installation: the replies of the conversation in order, the index marks in order and
// at the sample where their word starts (checked against the renderer), settings that shape the
// audio, STOP and PAUSE, and bad input answered with the protocol's error codes.
#include <glib.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "Installation.h"
#include "ModuleProtocol.h"
#include "Renderer.h"

using namespace ravektest;
using Clock = std::chrono::steady_clock;

namespace {

// What the module sent, one protocol message at a time: a line, or a whole 705 audio block.
struct Message {
    std::string line;              // the line; "705 AUDIO" for an audio block
    std::vector<int16_t> samples;  // audio blocks only
    Clock::time_point at;
};

// sd_ravek as a child process; a thread collects its output.
class ModuleProcess {
public:
    explicit ModuleProcess(const std::string& config = "") {
        const std::string program = std::string(RAVEK_BUILD_DIR) + "/lib/speech-dispatcher-modules/sd_ravek";
        std::vector<const char*> argv{program.c_str()};
        if (!config.empty()) argv.push_back(config.c_str());
        argv.push_back(nullptr);
        GError* error = nullptr;
        int in = -1, out = -1;
        if (!g_spawn_async_with_pipes(nullptr, const_cast<char**>(argv.data()), nullptr, G_SPAWN_DO_NOT_REAP_CHILD, nullptr,
                                      nullptr, &pid_, &in, &out, nullptr, &error)) {
            ADD_FAILURE() << error->message;
            g_error_free(error);
            return;
        }
        in_ = in;
        out_ = out;
        reader_ = std::thread([this] { Collect(); });
    }
    ~ModuleProcess() {
        if (in_ >= 0) ::close(in_);
        if (pid_ > 0) {
            int status = 0;
            for (int i = 0; i < 100 && ::waitpid(pid_, &status, WNOHANG) == 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(50));
            if (::waitpid(pid_, &status, WNOHANG) == 0) {
                ::kill(pid_, SIGKILL);
                ::waitpid(pid_, &status, 0);
            }
        }
        if (reader_.joinable()) reader_.join();
        if (out_ >= 0) ::close(out_);
    }

    void Write(const std::string& text) {
        for (size_t at = 0; at < text.size();) {
            const ssize_t n = ::write(in_, text.data() + at, text.size() - at);
            ASSERT_GT(n, 0);
            at += static_cast<size_t>(n);
        }
    }
    // The next message, or nullopt after `timeout`.
    std::optional<Message> Next(std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
        std::unique_lock lock(mutex_);
        if (!changed_.wait_for(lock, timeout, [&] { return !messages_.empty() || closed_; })) return std::nullopt;
        if (messages_.empty()) return std::nullopt;
        Message m = std::move(messages_.front());
        messages_.erase(messages_.begin());
        return m;
    }
    // The lines up to and including the first whose code is followed by a blank (a final line).
    std::vector<std::string> Reply() {
        std::vector<std::string> lines;
        while (std::optional<Message> m = Next()) {
            lines.push_back(m->line);
            if (m->line.size() < 4 || m->line[3] == ' ') break;
        }
        return lines;
    }
    std::string FinalReply() {
        const std::vector<std::string> lines = Reply();
        return lines.empty() ? "" : lines.back();
    }
    // Sends a command with a data block and returns the final reply to the block.
    std::string Block(const std::string& command, const std::vector<std::string>& lines) {
        Write(command + "\n");
        const std::string first = FinalReply();
        if (first[0] != '2') return first;
        std::string data;
        for (const std::string& l : lines) data += l + "\n";
        Write(data + ".\n");
        return FinalReply();
    }
    // Bytes the module has written that the collecting thread has not read yet.
    int UnreadBytes() const {
        int pending = 0;
        return ::ioctl(out_, FIONREAD, &pending) == 0 ? pending : 0;
    }
    void Initialise() {
        Write("INIT\n");
        ASSERT_EQ(FinalReply(), "299 OK LOADED SUCCESSFULLY");
        ASSERT_EQ(Block("AUDIO", {"audio_output_method=server"}), "203 OK AUDIO INITIALIZED");
    }

private:
    void Collect() {
        std::string buffer;
        char chunk[65536];
        for (;;) {
            const ssize_t n = ::read(out_, chunk, sizeof chunk);
            if (n <= 0) break;
            buffer.append(chunk, static_cast<size_t>(n));
            Parse(buffer);
        }
        std::lock_guard lock(mutex_);
        closed_ = true;
        changed_.notify_all();
    }
    // Splits complete lines off the buffer; the lines of an audio block become one message.
    void Parse(std::string& buffer) {
        for (size_t nl; (nl = buffer.find('\n')) != std::string::npos;) {
            std::string line = buffer.substr(0, nl);
            buffer.erase(0, nl + 1);
            const auto now = Clock::now();
            if (line.rfind("705-AUDIO", 0) == 0) {
                const std::string bytes = sdravek::UnescapeAudio(line.substr(10));
                audio_.resize(bytes.size() / 2);
                std::memcpy(audio_.data(), bytes.data(), audio_.size() * 2);
                continue;
            }
            if (line.rfind("705-", 0) == 0) continue;
            std::lock_guard lock(mutex_);
            messages_.push_back({line, line == "705 AUDIO" ? std::move(audio_) : std::vector<int16_t>{}, now});
            audio_.clear();
            changed_.notify_all();
        }
    }

    GPid pid_ = 0;
    int in_ = -1;
    int out_ = -1;
    std::thread reader_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Message> messages_;
    std::vector<int16_t> audio_;
    bool closed_ = false;
};

// What a speech delivered: marks with the sample count before each, all audio, the closing line.
struct Heard {
    std::vector<std::pair<std::string, size_t>> marks;
    std::vector<int16_t> samples;
    size_t blocks = 0;
    std::string end;
};

Heard Listen(ModuleProcess& module) {
    Heard heard;
    EXPECT_EQ(module.FinalReply(), "200 OK SPEAKING");
    std::optional<Message> m = module.Next();
    EXPECT_TRUE(m && m->line == "701 BEGIN");
    while ((m = module.Next())) {
        if (m->line == "705 AUDIO") {
            heard.samples.insert(heard.samples.end(), m->samples.begin(), m->samples.end());
            ++heard.blocks;
        } else if (m->line.rfind("700-", 0) == 0) {
            heard.marks.emplace_back(m->line.substr(4), heard.samples.size());
            EXPECT_EQ(module.Next()->line, "700 INDEX MARK");
        } else {
            heard.end = m->line;
            break;
        }
    }
    return heard;
}

InstallationOptions QuietInstallation() {
    InstallationOptions o;
    o.Registry["LogLevel"] = RegValue::Dword(0);
    return o;
}

// The renderer's word events (index, frame) and mono audio for a text.
struct Rendered : ravek::RenderSink {
    std::vector<std::pair<int32_t, int64_t>> words;
    std::vector<int16_t> samples;
    void Word(int32_t index, int64_t frame) override { words.emplace_back(index, frame); }
    void Pcm(const ravek::PcmBlock& b) override { samples.insert(samples.end(), b.samples, b.samples + b.frames); }
};

Rendered Render(const std::string& text, int voice, double speed = 1.0) {
    ravek::Renderer renderer({.registryFile = "", .voice = voice});
    Rendered out;
    renderer.Render(text, out, {.mono = true, .speed = speed});
    return out;
}

std::string SpeakBlock(const std::string& ssml) { return "SPEAK\n" + ssml + "\n.\n"; }

TEST(SdRavek, ConversationListsVoicesAndSpeaksWithMarksAtTheirWords) {
    Installation inst(QuietInstallation());
    ModuleProcess module;
    module.Initialise();
    ASSERT_EQ(module.Block("LOGLEVEL", {"log_level=4"}), "203 OK LOGLEVEL SET");
    module.Write("LIST VOICES\n");
    EXPECT_EQ(module.Reply(), (std::vector<std::string>{"200-Dan\the\tmale2", "200-Noa\the\tfemale2", "200-Galev\the\tmale1",
                                                        "200-Sevra\the\tfemale1", "200 OK VOICE LIST SENT"}));
    ASSERT_EQ(module.Block("SET", {"rate=0", "pitch=0", "volume=100", "punctuation_mode=none", "spelling_mode=off",
                                   "cap_let_recogn=none", "voice=male1", "language=he", "synthesis_voice=NULL"}),
              "203 OK SETTINGS RECEIVED");

    // Orca's per-word marks; a mark before the blank and one at the end; an entity; a line break
    // (a word separator like a blank).
    const std::string text = "שלום עולם, ספר &amp; בית";
    module.Write(SpeakBlock("<speak><mark name=\"0:4\"/>שלום <mark name=\"5:9\"/>עולם<mark name=\"a\"/>, "
                            "<mark name=\"11:14\"/>ספר &amp;\n<mark name=\"17:20\"/>בית<mark name=\"end\"/></speak>"));
    EXPECT_EQ(module.FinalReply(), "202 OK RECEIVING MESSAGE");
    const Heard heard = Listen(module);
    EXPECT_EQ(heard.end, "702 END");

    const Rendered expected = Render("שלום עולם, ספר & בית", 3);
    // Words at characters 1, 6, 12, 16 (the ampersand, a word without recording) and 18.
    ASSERT_EQ(expected.words.size(), 5u);
    EXPECT_EQ(heard.samples, expected.samples);
    const std::vector<std::pair<std::string, size_t>> marks{
        {"0:4", 0}, {"5:9", size_t(expected.words[1].second)}, {"a", size_t(expected.words[2].second)},
        {"11:14", size_t(expected.words[2].second)}, {"17:20", size_t(expected.words[4].second)}, {"end", expected.samples.size()}};
    EXPECT_EQ(heard.marks, marks);
    EXPECT_GE(heard.blocks, 4u) << "each word's audio is sent on its own";

    module.Write("QUIT\n");
    EXPECT_EQ(module.FinalReply(), "210 OK QUIT");
}

TEST(SdRavek, SettingsChooseTheVoiceSpeedAndLevel) {
    Installation inst(QuietInstallation());
    const std::string text = "שלום עולם ספר";
    ModuleProcess module;
    module.Initialise();
    struct Case {
        std::vector<std::string> set;
        int voice;
        double speed;
        bool silent;
    };
    for (const Case& c : {Case{{"synthesis_voice=Sevra"}, 4, 1.0, false}, Case{{"synthesis_voice=NULL", "voice=female1"}, 4, 1.0, false},
                          Case{{"voice=male1", "rate=100"}, 3, 2.0, false}, Case{{"rate=0", "volume=-100"}, 3, 1.0, true}}) {
        ASSERT_EQ(module.Block("SET", c.set), "203 OK SETTINGS RECEIVED");
        module.Write(SpeakBlock(text));
        EXPECT_EQ(module.FinalReply(), "202 OK RECEIVING MESSAGE");
        const Heard heard = Listen(module);
        EXPECT_EQ(heard.end, "702 END");
        const Rendered expected = Render(text, c.voice, c.speed);
        if (c.silent) {
            EXPECT_EQ(heard.samples.size(), expected.samples.size());
            EXPECT_EQ(heard.samples, std::vector<int16_t>(heard.samples.size(), 0));
        } else {
            EXPECT_EQ(heard.samples, expected.samples) << c.set[0];
        }
    }
}

TEST(SdRavek, StopEndsTheSpeechAtOnceAndPauseAtTheServersNextMark) {
    Installation inst(QuietInstallation());
    ModuleProcess module;
    module.Initialise();
    std::string longText;
    for (int i = 0; i < 300; ++i) longText += "שלום עולם ספר בית ילד ";
    module.Write(SpeakBlock(longText));
    EXPECT_EQ(module.FinalReply(), "202 OK RECEIVING MESSAGE");
    EXPECT_EQ(module.FinalReply(), "200 OK SPEAKING");
    EXPECT_EQ(module.Next()->line, "701 BEGIN");
    EXPECT_EQ(module.Next()->line, "705 AUDIO");
    const auto stopAt = Clock::now();
    // Blocks already in the pipe, or read but not yet parsed by the collecting thread (one read of
    // at most 64 KiB), when STOP goes out were sent before it; a block holds at least 10 KB.
    const int inFlight = 1 + (65536 + module.UnreadBytes()) / 10000;
    module.Write("STOP\n");
    int blocksAfterStop = 0;
    std::optional<Message> m;
    while ((m = module.Next()) && m->line == "705 AUDIO")
        if (m->at >= stopAt) ++blocksAfterStop;
    ASSERT_TRUE(m);
    EXPECT_EQ(m->line, "703 STOP");
    EXPECT_LT(m->at - stopAt, std::chrono::milliseconds(100));
    EXPECT_LE(blocksAfterStop, 1 + inFlight);
    EXPECT_FALSE(module.Next(std::chrono::milliseconds(300))) << "nothing after 703 STOP";

    // PAUSE: the speech goes on to the server's next sentence mark, reports it and pauses there.
    module.Write(SpeakBlock("<speak>שלום עולם ספר בית ילד שלום עולם ספר.<mark name=\"__spd_1\"/> בית "
                            "<mark name=\"w\"/>ילד.<mark name=\"__spd_2\"/></speak>") +
                 "PAUSE\n");
    EXPECT_EQ(module.FinalReply(), "202 OK RECEIVING MESSAGE");
    const Heard paused = Listen(module);
    EXPECT_EQ(paused.end, "704 PAUSE");
    ASSERT_EQ(paused.marks.size(), 1u);
    EXPECT_EQ(paused.marks[0].first, "__spd_1");
    EXPECT_EQ(paused.marks[0].second, paused.samples.size());

    // The module speaks again afterwards.
    module.Write(SpeakBlock("שלום"));
    EXPECT_EQ(module.FinalReply(), "202 OK RECEIVING MESSAGE");
    EXPECT_EQ(Listen(module).end, "702 END");
}

// Bad input: each case sends its lines to an initialised module and expects the final reply.
struct BadInput {
    const char* name;
    std::string input;
    std::string reply;
};

class SdRavekBadInput : public ::testing::TestWithParam<BadInput> {};

TEST_P(SdRavekBadInput, IsAnsweredWithTheProtocolsErrorCode) {
    Installation inst(QuietInstallation());
    ModuleProcess module;
    module.Initialise();
    module.Write(GetParam().input);
    std::string reply = module.FinalReply();
    if (reply.rfind("20", 0) == 0 && reply != GetParam().reply) reply = module.FinalReply();  // after 202 / 207
    EXPECT_EQ(reply, GetParam().reply);
    // The module goes on answering.
    module.Write("LIST VOICES\n");
    EXPECT_EQ(module.FinalReply(), "200 OK VOICE LIST SENT");
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SdRavekBadInput,
    ::testing::Values(BadInput{"UnknownCommand", "HELLO\n", "300 ERR UNKNOWN COMMAND"},
                      BadInput{"RateOutOfRange", "SET\nrate=500\n.\n", "303 ERROR INVALID PARAMETER OR VALUE"},
                      BadInput{"RateNotANumber", "SET\nrate=fast\n.\n", "303 ERROR INVALID PARAMETER OR VALUE"},
                      BadInput{"UnknownVoiceName", "SET\nsynthesis_voice=Nobody\n.\n", "303 ERROR INVALID PARAMETER OR VALUE"},
                      BadInput{"UnknownSetting", "SET\ncolour=blue\n.\n", "303 ERROR INVALID PARAMETER OR VALUE"},
                      BadInput{"SettingWithoutValue", "SET\nrate\n.\n", "302 ERROR BAD SYNTAX"},
                      BadInput{"ModuleAudio", "AUDIO\naudio_output_method=alsa\n.\n", "303 ERROR INVALID PARAMETER OR VALUE"},
                      BadInput{"EmptyText", "SPEAK\n.\n", "301 ERROR CANT SPEAK"},
                      BadInput{"CharOfTwoLines", "CHAR\na\nb\n.\n", "305 DATA MORE THAN ONE LINE"},
                      BadInput{"BadLogLevel", "LOGLEVEL\nlog_level=x\n.\n", "303 ERROR INVALID PARAMETER OR VALUE"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(SdRavek, InitFailsWithTheEngineErrorWhenTheInstallationIsBroken) {
    InstallationOptions o = QuietInstallation();
    o.WriteIni = false;
    Installation inst(o);
    ModuleProcess module;
    module.Write("INIT\n");
    const std::vector<std::string> reply = module.Reply();
    ASSERT_EQ(reply.size(), 2u);
    EXPECT_NE(reply[0].find("399-engine error 999"), std::string::npos) << reply[0];
    EXPECT_EQ(reply[1], "399 ERR CANT INIT MODULE");
}

TEST(SdRavek, ConfigurationFileNamesTheRegistryAndTheDefaultVoice) {
    Installation inst(QuietInstallation());
    TempFolder folder;
    const std::string conf = (folder / "ravek.conf").string();
    WriteFileBytes(conf, "# comment\nDebug 0\nRavekRegistry \"" + inst.RegistryFile().string() + "\"\nRavekDefaultVoice \"sevra\"\n");
    g_unsetenv("RAVEK_REGISTRY");
    ModuleProcess module(conf);
    g_setenv("RAVEK_REGISTRY", inst.RegistryFile().c_str(), TRUE);
    module.Initialise();
    module.Write(SpeakBlock("שלום"));
    EXPECT_EQ(module.FinalReply(), "202 OK RECEIVING MESSAGE");
    EXPECT_EQ(Listen(module).samples, Render("שלום", 4).samples);
}

}  // namespace
