// The media control stand-in and the media channel over it: command texts, error codes,
// completion notifications, speed, output levels and lengths, played on a real-time fake sink.
#include <gtest/gtest.h>
#include <glib.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <unistd.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <thread>
#include <vector>

#include "AutomationError.h"
#include "Installation.h"
#include "TestHelpers.h"
#include "NotifySink.h"
#include "mHook.h"
#include "mLog.h"
#include "mMedia.h"
#include "mci.h"


namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

struct Note {
    long code;
    long device;
};

using ravektest::RunFor;
using ravektest::RunUntil;

class MciTest : public ::testing::Test {
protected:
    void SetUp() override {
        devices_.SetAudioSink("fakesink sync=true");
        devices_.SetOutputLevels(65535, 65535);
        sink_ = std::make_unique<NotifySink>();
        sink_->AttachHandler(
            [this](uint32_t, long wParam, long lParam) {
                notes_.push_back({wParam, lParam});
                return 0;
            },
            NotifySink::MM_MCINOTIFY);
        media_.SetCallbackWindow(sink_.get());
        media_.MediaInit(0);
        log_.LogInit((dir_ / "log.txt").string(), 0);
    }
    void TearDown() override {
        devices_.CloseAll();
        devices_.EndRender();
        media_.SetCallbackWindow(nullptr);
        sink_.reset();
    }

    // A tone of `seconds` as WAV (and MP3 when asked), 22050 Hz mono.
    std::string Tone(const std::string& name, double seconds, bool mp3 = false) {
        const fs::path wav = dir_ / (name + ".wav");
        std::string cmd = "sox -q -n -r 22050 -c 1 -b 16 '" + wav.string() + "' synth " + std::to_string(seconds) +
                          " sine 440 vol 0.5";
        EXPECT_EQ(std::system(cmd.c_str()), 0);
        if (!mp3) return wav.string();
        const fs::path out = dir_ / (name + ".mp3");
        cmd = "lame --quiet -b 48 -m m '" + wav.string() + "' '" + out.string() + "'";
        EXPECT_EQ(std::system(cmd.c_str()), 0);
        return out.string();
    }

    uint32_t Send(const std::string& command, std::string* answer = nullptr) {
        std::string buffer;
        uint32_t code = devices_.mciSendString(command, buffer, sink_.get());
        if (answer) *answer = buffer;
        return code;
    }

    std::vector<long> Codes() const {
        std::vector<long> codes;
        for (const auto& n : notes_) codes.push_back(n.code);
        return codes;
    }

    double PlayAndTime(const std::string& command) {
        const size_t before = notes_.size();
        const auto start = Clock::now();
        EXPECT_EQ(Send(command), 0u);
        EXPECT_TRUE(RunUntil([&] { return notes_.size() > before; }, 10));
        return std::chrono::duration<double>(Clock::now() - start).count();
    }

    std::string ReadLog() {
        std::ifstream in(dir_ / "log.txt", std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

    ravektest::TempFolder temp_;
    const fs::path dir_ = temp_.Path();
    mLog::Log log_;
    mci::Devices devices_;
    mHook::Playlist playlist_;
    mMedia::Channel media_{devices_, playlist_, log_};
    std::unique_ptr<NotifySink> sink_;
    std::vector<Note> notes_;
};

TEST_F(MciTest, OpensStatusesAndClosesWavAndMp3Files) {
    const std::string wav = Tone("w", 0.3);
    const std::string mp3 = Tone("m", 0.3, true);
    std::string answer;
    ASSERT_EQ(Send("Open " + wav + " type MPEGVideo Alias Aw parent 7 Style 1073741824 notify"), 0u);
    ASSERT_EQ(Send("open " + mp3 + " TYPE mpegvideo ALIAS Am"), 0u);
    EXPECT_EQ(Send("Set Aw time format frames"), 0u);
    EXPECT_EQ(Send("Status Aw length", &answer), 0u);
    EXPECT_EQ(answer, "300");
    EXPECT_EQ(Send("status aW time format", &answer), 0u);
    EXPECT_EQ(answer, "frames");
    EXPECT_EQ(Send("Status Am length", &answer), 0u);
    EXPECT_NEAR(std::stoi(answer), 300, 80);  // the encoder pads the stream a little
    EXPECT_EQ(Send("status Am mode", &answer), 0u);
    EXPECT_EQ(answer, "stopped");
    EXPECT_NE(devices_.mciGetDeviceID("AW"), 0u);
    EXPECT_NE(devices_.mciGetDeviceID("Aw"), devices_.mciGetDeviceID("Am"));
    EXPECT_EQ(Send("close Aw "), 0u);
    EXPECT_EQ(Send("CLOSE Am"), 0u);
    EXPECT_EQ(devices_.mciGetDeviceID("Aw"), 0u);
    RunFor(0.1);
    EXPECT_TRUE(notes_.empty()) << "open, set, status and close never notify";
}

TEST_F(MciTest, PathsWithBlanksOpenQuotedOrNot) {
    fs::create_directories(dir_ / "my words" / "type dir");
    const std::string tone = Tone("t", 0.1);
    const fs::path spaced = dir_ / "my words" / "type dir" / "a  b.wav";
    fs::copy_file(tone, spaced);
    EXPECT_EQ(Send("Open \"" + spaced.string() + "\" type MPEGVideo Alias Aq notify"), 0u);
    EXPECT_EQ(Send("Open " + spaced.string() + " type MPEGVideo Alias Au parent 3 Style 1 notify"), 0u);
    EXPECT_EQ(Send("Open \"" + spaced.string() + " type MPEGVideo Alias Ax"), mci::MCIERR_NO_CLOSING_QUOTE);
}

// Any file name reaches the device through the media channel, and its alias is one word.
class MciPathTest : public MciTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(MciPathTest, MediaChannelOpensAnyPathUnderAnAliasOfOneWord) {
    const fs::path file = dir_ / "my \"words\"" / GetParam();
    fs::create_directories(file.parent_path());
    fs::copy_file(Tone("t", 0.1), file);
    playlist_.ResetPlaylist();
    playlist_.AddToPlaylist(file.string(), 1, 1);
    const std::string alias = "A" + playlist_.MakeAlias();
    EXPECT_EQ(alias.find_first_of(" \t\""), std::string::npos) << alias;
    media_.MediaOpen(file.string(), alias);
    EXPECT_EQ(media_.LastError(), 0) << media_.LastCommand();
    EXPECT_EQ(media_.MediaLengthFrames(alias), 100);
}

INSTANTIATE_TEST_SUITE_P(Names, MciPathTest,
                         ::testing::Values("צה\"ל שלנו.wav", "\"lead.wav", "end\".wav", "a\"\"b c.wav", "tab\there.wav",
                                           "plain.wav"));

// Without a sound card or sound server the default output is a silent sink, announced in one
// line, without the sound libraries' own error lines.
TEST_F(MciTest, NoAudioOutputIsOneClearLine) {
    if (fs::exists("/dev/snd") || fs::exists("/run/pulse/native")) GTEST_SKIP() << "this machine may have an audio output";
    const std::string savedRuntime = std::getenv("XDG_RUNTIME_DIR") ? std::getenv("XDG_RUNTIME_DIR") : "";
    ::setenv("XDG_RUNTIME_DIR", dir_.c_str(), 1);
    ::unsetenv("PULSE_SERVER");
    mci::Devices devices;
    devices.SetAudioSink("autoaudiosink");
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(devices.AudioSinkDescription(), "fakesink sync=true");
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "RavekVoice: no audio output could be opened; playing to fakesink sync=true\n");
    savedRuntime.empty() ? ::unsetenv("XDG_RUNTIME_DIR") : ::setenv("XDG_RUNTIME_DIR", savedRuntime.c_str(), 1);
}

TEST_F(MciTest, ReportsTheClassicErrorCodes) {
    const std::string wav = Tone("w", 0.2);
    std::ofstream(dir_ / "empty.mp3").close();
    std::ofstream(dir_ / "junk.mp3") << std::string(5000, 'x');
    {
        std::ofstream garbled(dir_ / "garbled.mp3", std::ios::binary);
        garbled << "ID3" << std::string(3000, '\x01');
    }
    EXPECT_EQ(Send("Open " + (dir_ / "nothere.mp3").string() + " type MPEGVideo Alias A1"), mci::MCIERR_FILE_NOT_FOUND);
    EXPECT_EQ(Send("Open " + dir_.string() + " type MPEGVideo Alias A1"), mci::MCIERR_FILE_NOT_FOUND);
    EXPECT_EQ(Send("Open " + (dir_ / "empty.mp3").string() + " type MPEGVideo Alias A2"), mci::MCIERR_INVALID_FILE);
    EXPECT_EQ(Send("Open " + (dir_ / "junk.mp3").string() + " type MPEGVideo Alias A3"), mci::MCIERR_INVALID_FILE);
    EXPECT_EQ(Send("Open " + (dir_ / "garbled.mp3").string() + " type MPEGVideo Alias A4"), mci::MCIERR_INVALID_FILE);
    ASSERT_EQ(Send("Open " + wav + " type MPEGVideo Alias A5"), 0u);
    EXPECT_EQ(Send("Open " + wav + " type MPEGVideo Alias a5"), mci::MCIERR_DUPLICATE_ALIAS);
    EXPECT_EQ(Send("close A9 "), mci::MCIERR_INVALID_DEVICE_NAME);
    EXPECT_EQ(Send("Play A9 from 0 to 10 notify"), mci::MCIERR_INVALID_DEVICE_NAME);
    EXPECT_EQ(Send("Stop A9 notify"), mci::MCIERR_INVALID_DEVICE_NAME);
    EXPECT_EQ(Send("Status A9 length"), mci::MCIERR_INVALID_DEVICE_NAME);
    EXPECT_EQ(Send("rewind A5"), mci::MCIERR_UNRECOGNIZED_COMMAND);
    EXPECT_EQ(Send("   "), mci::MCIERR_MISSING_COMMAND_STRING);
    EXPECT_EQ(Send("set A5 speed fast"), mci::MCIERR_BAD_INTEGER);
    EXPECT_EQ(Send("set A5 speed -5"), mci::MCIERR_OUTOFRANGE);
    EXPECT_EQ(Send("Set A5 time format hours"), mci::MCIERR_BAD_TIME_FORMAT);
    EXPECT_EQ(Send("Status A5 colour"), mci::MCIERR_UNRECOGNIZED_KEYWORD);
    EXPECT_EQ(Send("Play A5 from 0 to -1 notify"), mci::MCIERR_OUTOFRANGE);
    EXPECT_EQ(Send("Play A5 from 0 to 5000 notify"), mci::MCIERR_OUTOFRANGE);
    EXPECT_EQ(Send("Play A5 from 150 to 100 notify"), mci::MCIERR_OUTOFRANGE);
    EXPECT_EQ(Send("Play A5 from zero notify"), mci::MCIERR_BAD_INTEGER);
    EXPECT_EQ(Send("Play A5 loudly"), mci::MCIERR_UNRECOGNIZED_KEYWORD);
    RunFor(0.1);
    EXPECT_TRUE(notes_.empty()) << "failed commands post nothing";

    EXPECT_EQ(mci::mciGetErrorString(275), "Cannot find the specified file. Make sure the path and filename are correct.");
    EXPECT_EQ(mci::mciGetErrorString(263), "The specified device is not open or is not recognized by MCI.");
    EXPECT_EQ(mci::mciGetErrorString(261), "The driver cannot recognize the specified command.");
    EXPECT_EQ(mci::mciGetErrorString(289),
              "The specified alias is already being used in this application. Use a unique alias.");
    EXPECT_EQ(mci::mciGetErrorString(0), "The specified command was carried out.");
}

TEST_F(MciTest, NotifiesSuccessSupersededAndAborted) {
    const std::string wav = Tone("w", 0.4);
    ASSERT_EQ(Send("Open " + wav + " type MPEGVideo Alias A1"), 0u);
    const long id = static_cast<long>(devices_.mciGetDeviceID("A1"));

    // A play that reaches its end: one success, carrying the device id.
    double took = PlayAndTime("Play A1 from 0 to 400 notify");
    EXPECT_GT(took, 0.3) << "a synchronised sink plays in real time";
    ASSERT_EQ(notes_.size(), 1u);
    EXPECT_EQ(notes_[0].code, mci::MCI_NOTIFY_SUCCESSFUL);
    EXPECT_EQ(notes_[0].device, id);

    // The same device plays again (a reused pipeline) and completes again.
    notes_.clear();
    took = PlayAndTime("Play A1 from 0 to 400 notify");
    EXPECT_GT(took, 0.3);
    EXPECT_EQ(Codes(), std::vector<long>{mci::MCI_NOTIFY_SUCCESSFUL});

    // A newer play supersedes a pending one; a stop aborts it and succeeds itself.
    notes_.clear();
    ASSERT_EQ(Send("Play A1 from 0 to 400 notify"), 0u);
    ASSERT_EQ(Send("Play A1 from 0 to 400 notify"), 0u);
    ASSERT_EQ(Send("Stop A1 notify"), 0u);
    RunFor(0.6);
    EXPECT_EQ(Codes(), (std::vector<long>{mci::MCI_NOTIFY_SUPERSEDED, mci::MCI_NOTIFY_ABORTED, mci::MCI_NOTIFY_SUCCESSFUL}));

    // A play without notify, and a close during a play, post nothing but the abort.
    notes_.clear();
    ASSERT_EQ(Send("Play A1 from 0 to 400"), 0u);
    RunFor(0.5);
    EXPECT_TRUE(notes_.empty());
    ASSERT_EQ(Send("Play A1 from 0 to 400 notify"), 0u);
    ASSERT_EQ(Send("close A1 "), 0u);
    RunFor(0.5);
    EXPECT_EQ(Codes(), std::vector<long>{mci::MCI_NOTIFY_ABORTED});
}

TEST_F(MciTest, PlaysPartsAndEmptyRangesAtOnce) {
    const std::string wav = Tone("w", 1.0);
    ASSERT_EQ(Send("Open " + wav + " type MPEGVideo Alias A1"), 0u);
    const double part = PlayAndTime("Play A1 from 600 to 800 notify");
    EXPECT_GT(part, 0.15);
    EXPECT_LT(part, 0.6);
    const double none = PlayAndTime("Play A1 from 500 to 500 notify");
    EXPECT_LT(none, 0.1);
    EXPECT_EQ(Codes(), (std::vector<long>{mci::MCI_NOTIFY_SUCCESSFUL, mci::MCI_NOTIFY_SUCCESSFUL}));
}

TEST_F(MciTest, SpeedChangesThePlayingTime) {
    const std::string wav = Tone("w", 1.0);
    ASSERT_EQ(Send("Open " + wav + " type MPEGVideo Alias A1"), 0u);
    ASSERT_EQ(Send("set A1 speed 2000"), 0u);
    std::string answer;
    EXPECT_EQ(Send("status A1 speed", &answer), 0u);
    EXPECT_EQ(answer, "2000");
    const double fast = PlayAndTime("Play A1 from 0 to 1000 notify");
    EXPECT_GT(fast, 0.35);
    EXPECT_LT(fast, 0.75);
    ASSERT_EQ(Send("set A1 speed 1000"), 0u);
    const double normal = PlayAndTime("Play A1 from 0 to 1000 notify");
    EXPECT_GT(normal, 0.9);
    EXPECT_LT(normal, 1.5);
}

// RMS of each channel of a 16-bit stereo WAVE file written in render mode.
std::pair<double, double> ChannelLevels(const std::string& path, size_t& frames) {
    std::ifstream in(path, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), {});
    double sum[2] = {0, 0};
    frames = bytes.size() > 44 ? (bytes.size() - 44) / 4 : 0;
    for (size_t i = 0; i < frames; ++i)
        for (int c = 0; c < 2; ++c) {
            int16_t s;
            std::memcpy(&s, &bytes[44 + i * 4 + c * 2], 2);
            sum[c] += double(s) * s;
        }
    if (frames == 0) return {0, 0};
    return {std::sqrt(sum[0] / frames), std::sqrt(sum[1] / frames)};
}

TEST_F(MciTest, RendersToOneWaveFileWithTheOutputLevels) {
    const std::string mp3 = Tone("m", 0.5, true);
    const std::string out = (dir_ / "out.wav").string();
    devices_.SetOutputLevels(65535, 655);
    ASSERT_EQ(devices_.BeginRender(out), 0u);
    ASSERT_EQ(Send("Open " + mp3 + " type MPEGVideo Alias A1"), 0u);
    const auto start = Clock::now();
    PlayAndTime("Play A1 from 0 to 500 notify");
    PlayAndTime("Play A1 from 0 to 500 notify");  // a reused device renders all of its audio again
    EXPECT_LT(std::chrono::duration<double>(Clock::now() - start).count(), 0.8) << "rendering is not paced";
    ASSERT_EQ(Send("close A1"), 0u);
    ASSERT_EQ(devices_.EndRender(), 0u);
    EXPECT_FALSE(devices_.IsRendering());

    size_t frames = 0;
    auto [left, right] = ChannelLevels(out, frames);
    EXPECT_NEAR(double(frames) / mci::kRenderRate, 1.0, 0.15);
    EXPECT_GT(left, 3000);
    EXPECT_NEAR(left / right, 100.0, 10.0);
    std::ifstream in(out, std::ios::binary);
    char header[12];
    in.read(header, 12);
    EXPECT_EQ(std::string(header, 4), "RIFF");
    EXPECT_EQ(std::string(header + 8, 4), "WAVE");
}

TEST_F(MciTest, RenderModeKeepsSpeedRangesFormatsAndErrors) {
    const std::string mp3 = Tone("m", 1.0, true);
    const fs::path wav44 = dir_ / "w44.wav";
    ASSERT_EQ(std::system(("sox -q -n -r 44100 -c 2 -b 16 '" + wav44.string() + "' synth 0.3 sine 440 vol 0.5").c_str()), 0);
    const fs::path corrupt = dir_ / "corrupt.mp3";
    std::ofstream(corrupt, std::ios::binary) << std::string("\xFF\xFB\x90\x00", 4) << std::string(600, 'x');
    const uint32_t corruptCode = Send("Open " + corrupt.string() + " type MPEGVideo Alias Ac");
    EXPECT_NE(corruptCode, 0u);
    Send("close Ac");

    const std::string out = (dir_ / "out.wav").string();
    ASSERT_EQ(devices_.BeginRender(out), 0u);
    // Double speed: 1 s of tone renders as 0.5 s.
    ASSERT_EQ(Send("Open " + mp3 + " type MPEGVideo Alias A1"), 0u);
    ASSERT_EQ(Send("set A1 speed 2000"), 0u);
    PlayAndTime("Play A1 from 0 to 1000 notify");
    // A part of a file: 0.2 s, and the position is where the part ended.
    ASSERT_EQ(Send("Open " + mp3 + " type MPEGVideo Alias A2"), 0u);
    PlayAndTime("Play A2 from 200 to 400 notify");
    std::string answer;
    EXPECT_EQ(Send("Status A2 position", &answer), 0u);
    EXPECT_EQ(answer, "400");
    // Another rate and two channels: converted, 0.3 s.
    ASSERT_EQ(Send("Open " + wav44.string() + " type MPEGVideo Alias A3"), 0u);
    EXPECT_EQ(Send("Status A3 length", &answer), 0u);
    EXPECT_EQ(answer, "300");
    PlayAndTime("Play A3 from 0 to 300 notify");
    // A damaged file fails to open as it does outside render mode.
    EXPECT_EQ(Send("Open " + corrupt.string() + " type MPEGVideo Alias Ac"), corruptCode);
    EXPECT_EQ(Codes(), (std::vector<long>{mci::MCI_NOTIFY_SUCCESSFUL, mci::MCI_NOTIFY_SUCCESSFUL, mci::MCI_NOTIFY_SUCCESSFUL}));
    ASSERT_EQ(devices_.EndRender(), 0u);

    size_t frames = 0;
    ChannelLevels(out, frames);
    EXPECT_NEAR(double(frames) / mci::kRenderRate, 1.0, 0.06);
}

// ---- the media channel ----

TEST_F(MciTest, MediaChannelBuildsItsCommandsAndLogsThem) {
    log_.LogInit((dir_ / "log.txt").string(), 1);
    const fs::path spaced = dir_ / "with blank";
    fs::create_directories(spaced);
    const std::string clip = (spaced / "clip.wav").string();
    fs::copy_file(Tone("w", 0.037), clip);

    media_.MediaInit(-200);
    media_.MediaOpen(clip, "Aone");
    EXPECT_EQ(media_.LastError(), 0) << media_.LastCommand();
    EXPECT_EQ(media_.MediaLengthFrames("Aone"), 37);
    media_.MediaPlay("Aone", int64_t{0}, std::string("TheEnd"));
    EXPECT_EQ(media_.LastError(), 0);
    EXPECT_EQ(media_.LastCommand(), "Play Aone from 0 to 37 notify");
    EXPECT_TRUE(RunUntil([&] { return !notes_.empty(); }, 5));
    media_.MediaClose("Aone");
    EXPECT_EQ(media_.LastCommand(), "close Aone ");

    const std::string log = ReadLog();
    EXPECT_NE(log.find("GOING to run :Open \"" + clip + "\" type MPEGVideo Alias Aone parent "), std::string::npos);
    EXPECT_NE(log.find(" Style 1073741824 notify "), std::string::npos);
    EXPECT_NE(log.find("GOING to run :Set Aone time format frames "), std::string::npos);
    EXPECT_NE(log.find("DONE to run :Status Aone length "), std::string::npos);
    EXPECT_NE(log.find("GOING to run :set Aone speed 800 "), std::string::npos);
    EXPECT_NE(log.find("DONE to run :Play Aone from 0 to 37 notify 0"), std::string::npos);
    EXPECT_NE(log.find("DONE to run :close Aone  "), std::string::npos);
    EXPECT_EQ(log.find("ERROR"), std::string::npos);

    for (auto [offset, speed] : {std::pair{0, "1000"}, std::pair{500, "1500"}}) {
        media_.MediaInit(offset);
        media_.MediaOpen(clip, "Atwo");
        media_.MediaPlay("Atwo", int64_t{0}, std::string("TheEnd"));
        EXPECT_NE(ReadLog().find(std::string("GOING to run :set Atwo speed ") + speed + " "), std::string::npos);
        media_.MediaClose("Atwo");
    }
    media_.MediaInit(INT32_MAX);
    media_.MediaOpen(clip, "Athree");
    try {
        media_.MediaPlay("Athree", int64_t{0}, std::string("TheEnd"));
        ADD_FAILURE() << "no overflow";
    } catch (const AutomationError& e) {
        EXPECT_EQ(e.Number(), 6);
    }
}

TEST_F(MciTest, MediaChannelLogsFailuresOnlyAboveLevelZero) {
    const std::string missing = (dir_ / "gone.mp3").string();
    for (int level : {0, 1}) {
        log_.LogInit((dir_ / "log.txt").string(), static_cast<int16_t>(level));
        playlist_.ClearStopPending();
        media_.MediaOpen(missing, "Agone");
        EXPECT_EQ(media_.LastError(), 275);
        EXPECT_EQ(media_.LastCommand().rfind("Open " + missing + "Silence.mp3 type MPEGVideo Alias Agone", 0), 0u);
        EXPECT_EQ(media_.MediaLengthFrames("Agone"), -1);
        media_.MediaPlay("Agone", int64_t{0}, std::string("TheEnd"));
        EXPECT_EQ(media_.LastCommand(), "Play Agone from 0 to -1 notify");
        media_.MediaStop("Agone");
        EXPECT_EQ(media_.LastError(), 263);
        EXPECT_TRUE(playlist_.IsStopPending()) << "a failed stop still marks the stop as pending";
        const std::string log = ReadLog();
        if (level == 0) {
            EXPECT_TRUE(log.empty()) << log;
        } else {
            EXPECT_NE(log.find("ERROR Opening alias Agone Cannot find the specified file."), std::string::npos);
            EXPECT_NE(log.find("ERROR getting Total Frame Number for alias Agone The specified device is not open"),
                      std::string::npos);
            EXPECT_NE(log.find("ERROR setting speed for alias Agone "), std::string::npos);
            EXPECT_NE(log.find("ERROR Playing alias Agone "), std::string::npos);
            EXPECT_EQ(log.find("Stop Agone"), std::string::npos) << "the stop is not logged";
        }
    }
    RunFor(0.1);
    EXPECT_TRUE(notes_.empty());
}

TEST_F(MciTest, MediaFilePathKeepsFilesAndFallsBackToSilence) {
    const std::string wav = Tone("w", 0.1);
    EXPECT_EQ(media_.MediaFilePath(wav), wav);
    const std::string silence = media_.MediaFilePath("");
    EXPECT_EQ(fs::path(silence).filename(), "Silence.mp3");
    EXPECT_TRUE(fs::exists(silence)) << silence;
    EXPECT_EQ(media_.MediaFilePath("/no/such/dir/"), "/no/such/dir/Silence.mp3");
    media_.MediaOpen("", "Asilent");
    EXPECT_EQ(media_.LastError(), 0) << "an empty path plays the installed silence";
    media_.MediaPlay("Asilent", int64_t{0}, std::string("TheEnd"));
    EXPECT_TRUE(RunUntil([&] { return !notes_.empty(); }, 5));
}

}  // namespace
