// Several engine objects in one process share nothing: each reads the registry file it was
// started with, writes its own log, keeps its own voice, database, playlist, devices and output
// levels, and plays on while another speaks, stops or goes away.
#include <gtest/gtest.h>
#include <glib.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "IAPI.h"
#include "Installation.h"
#include "TestHelpers.h"
#include "PipelineFixture.h"

using namespace ravektest;
using Clock = std::chrono::steady_clock;
using Events = std::vector<std::string>;

namespace {

using ravektest::RunFor;
using ravektest::RunUntil;

// An installation and an engine initialised on it. The installation points $RAVEK_REGISTRY at
// its own registry file while the engine starts; a later installation points it elsewhere.
struct Engine {
    explicit Engine(InstallationOptions options) : inst(std::move(options)) {
        api.emplace();
        api->SetEventSink(&events);
        api->Initialise();
    }
    bool Ended() const { return api->State().IsIdle && !events.Seen.empty() && events.Seen.back() == "Speechend"; }
    // Whether any line of this engine's log names a path of `other`'s installation.
    bool LogMentions(const Installation& other) const {
        for (const auto& line : inst.LogMessages())
            if (line.find(other.Root().string() + "/") != std::string::npos) return true;
        return false;
    }

    Installation inst;
    EventRecorder events;
    std::optional<IAPI> api;
};

// Real-time playback (the speech lasts as long as its clips) and a 400 ms word for voice 1.
InstallationOptions RealTime() {
    InstallationOptions o;
    o.Registry["AudioSink"] = RegValue::String("fakesink sync=true");
    o.MaleRecordings["ארוך.mp3"] = kToneF;
    return o;
}

class EngineObjects : public ::testing::Test {
protected:
    void SetUp() override {
        ::unsetenv("RAVEK_AUDIO_SINK");
        if (const char* tmp = std::getenv("TMPDIR")) savedTmp = tmp;
        ::setenv("TMPDIR", scratch.Path().c_str(), 1);  // the working folders of both engines
    }
    void TearDown() override {
        if (savedTmp) ::setenv("TMPDIR", savedTmp->c_str(), 1);
        else ::unsetenv("TMPDIR");
    }
    TempFolder scratch;
    std::optional<std::string> savedTmp;
};

TEST_F(EngineObjects, EachStartsFromItsOwnRegistryAndKeepsItsOwnLogVoiceDatabaseAndLevels) {
    InstallationOptions a;
    a.Registry["MaleVoiceName"] = RegValue::String("Avi");
    a.WriteDatabase = false;
    Engine first(a);
    InstallationOptions b;
    b.Registry["MaleVoiceName"] = RegValue::String("Ben");
    b.Registry["LogLevel"] = RegValue::Dword(6);
    Engine second(b);

    EXPECT_EQ(first.api->ListVoiceName(1), "Avi");
    EXPECT_EQ(second.api->ListVoiceName(1), "Ben");
    EXPECT_EQ(first.api->State().Log.LogPath(), first.inst.LogFile().string());
    EXPECT_EQ(second.api->State().Log.LogPath(), second.inst.LogFile().string());
    EXPECT_EQ(first.api->State().Log.GetLogLevel(), 99);
    EXPECT_EQ(second.api->State().Log.GetLogLevel(), 6);
    // Only the first misses its lookup database; the second's connection is its own.
    EXPECT_FALSE(first.api->State().Database.IsOpen());
    EXPECT_TRUE(second.api->State().Database.IsOpen());
    EXPECT_FALSE(first.api->State().VoiceReady[0]);
    EXPECT_TRUE(second.api->State().VoiceReady[0]);
    EXPECT_TRUE(first.inst.LogContains("DB Connection failed"));
    EXPECT_FALSE(second.inst.LogContains("DB Connection failed"));
    EXPECT_TRUE(second.inst.LogContains("Prefixes were retrived"));

    first.api->SelectVoice(1);
    second.api->SelectVoice(4);
    EXPECT_EQ(first.api->State().SelectedVoice, 0);
    EXPECT_EQ(second.api->State().SelectedVoice, 3);
    first.api->SetSystemVolume(50, 10);
    EXPECT_EQ(first.api->Audio().Devices.OutputLevels(), std::make_pair(uint16_t{32767}, uint16_t{6553}));
    EXPECT_EQ(second.api->Audio().Devices.OutputLevels(), std::make_pair(uint16_t{65535}, uint16_t{65535}));
    // Trace lines (level 99) only in the first engine's log.
    EXPECT_TRUE(first.inst.LogContains("Log  StartRavekVoice.exe!Speak at "));
    EXPECT_FALSE(second.inst.LogContains("Log  Start"));
    EXPECT_FALSE(first.LogMentions(second.inst));
    EXPECT_FALSE(second.LogMentions(first.inst));
}

TEST_F(EngineObjects, OneSpeaksWhileTheOtherIdlesThenBothSpeakAndOneGoesAwayMidSpeech) {
    Engine first(RealTime());
    Engine second(RealTime());

    first.api->SelectVoice(1);
    first.api->Speak("ארוך ארוך ארוך ארוך");  // 1.6 s
    EXPECT_EQ(first.events.Seen, (Events{"SpeechStart", "WordStart 1"}));
    const std::string firstAlias = first.api->Audio().Playlist.GetCurrentAlias();
    ASSERT_NE(first.api->Audio().Media.MediaDeviceId(firstAlias), 0u);
    // The idle engine sees nothing of that speech: no events, no playlist, no device.
    EXPECT_TRUE(second.api->State().IsIdle);
    EXPECT_TRUE(second.events.Seen.empty());
    EXPECT_EQ(second.api->Audio().Playlist.LastIndex(), -1);
    EXPECT_EQ(second.api->Audio().Media.MediaDeviceId(firstAlias), 0u);

    // It speaks on its own while the first plays on.
    second.api->SelectVoice(2);
    second.api->Speak("תודה");
    EXPECT_TRUE(RunUntil([&] { return second.Ended(); })) << "the second engine did not finish";
    EXPECT_EQ(second.events.Seen, (Events{"SpeechStart", "WordStart 1", "Speechend"}));
    EXPECT_FALSE(first.api->State().IsIdle) << "the first engine still speaks";
    // Stopping the idle second engine stops nothing of the first.
    second.api->StopSpeak();
    EXPECT_FALSE(first.api->State().IsIdle);
    EXPECT_NE(first.events.Seen.back(), "Speechend");
    EXPECT_NE(first.api->Audio().Media.MediaDeviceId(first.api->Audio().Playlist.GetCurrentAlias()), 0u);

    // Both speak; the first goes away in the middle of its speech and the second plays to its end.
    second.events.Seen.clear();
    second.api->SelectVoice(1);
    second.api->Speak("ארוך ארוך");
    EXPECT_FALSE(first.api->State().IsIdle);
    first.api.reset();
    EXPECT_TRUE(RunUntil([&] { return second.Ended(); })) << "the second engine stopped with the first";
    EXPECT_EQ(second.events.Seen, (Events{"SpeechStart", "WordStart 1", "WordStart 6", "Speechend"}));
    RunUntil([] { return false; }, 0.5);  // whatever the first engine left queued finds nothing to touch
    EXPECT_EQ(std::count(second.events.Seen.begin(), second.events.Seen.end(), "Speechend"), 1);
    EXPECT_TRUE(first.inst.LogContains("GOING to run :Open " + first.inst.MyRecordsFolder(0).string()));
    EXPECT_FALSE(first.LogMentions(second.inst));
    EXPECT_FALSE(second.LogMentions(first.inst));
}

}  // namespace
