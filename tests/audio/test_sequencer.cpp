// Playback of a spoken utterance: the playlist, the completion notifications that walk it, the
// three events, StopSpeak, files that cannot be played, speed and output levels, and the log of
// all that. The engine runs in-process on a fixture installation with a fake audio sink.
#include <glib.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <regex>
#include <set>
#include <thread>

#include "mHook.h"
#include "mMedia.h"
#include "mSequencer.h"
#include "mUtterance.h"
#include "mci.h"
#include "PipelineFixture.h"
#include "TestHelpers.h"

using namespace ravektest;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using Events = std::vector<std::string>;

namespace {

constexpr const char* kRealTime = "fakesink sync=true";

using ravektest::RunFor;
using ravektest::RunUntil;

std::vector<std::string> Matching(const std::vector<std::string>& lines, const std::string& prefix) {
    std::vector<std::string> out;
    for (const auto& line : lines)
        if (line.rfind(prefix, 0) == 0) out.push_back(line);
    return out;
}

class SequencerTest : public PipelineTest {
protected:
    void SetUp() override { ::unsetenv("RAVEK_AUDIO_SINK"); }

    // Default installation with a real-time sink and two longer user recordings of voice 1.
    static InstallationOptions RealTime() {
        InstallationOptions o;
        o.Registry["AudioSink"] = RegValue::String(kRealTime);
        o.MaleRecordings["ארוך.mp3"] = kToneF;  // 400 ms
        o.MaleRecordings["קצר.mp3"] = kToneA;   // 150 ms
        return o;
    }
    static InstallationOptions With(InstallationOptions o, const std::string& name, const RegValue& value) {
        o.Registry[name] = value;
        return o;
    }

    // Speaks with a voice and hands back the events the call raised.
    Events Speak(const std::string& text, int voice) {
        events.Seen.clear();
        api->SelectVoice(voice);
        api->Speak(text);
        return events.Seen;
    }
    bool SpeechEnded() { return State().IsIdle && !events.Seen.empty() && events.Seen.back() == "Speechend"; }
    // Plays the utterance to its end; the events of the whole speech.
    Events PlayToTheEnd(double seconds = 10) {
        EXPECT_TRUE(RunUntil([&] { return SpeechEnded(); }, seconds)) << "no Speechend; events so far: " << Joined();
        return events.Seen;
    }
    std::string Joined() const {
        std::string s;
        for (const auto& e : events.Seen) s += e + "; ";
        return s;
    }
    long CurrentDevice() { return static_cast<long>(Audio().Media.MediaDeviceId(Audio().Playlist.GetCurrentAlias())); }
    int32_t Notify(long wParam, long lParam = 0, uint32_t message = NotifySink::MM_MCINOTIFY) {
        return mSequencer::OnNotify(State(), Audio(), message, wParam, lParam);
    }
    // The log's messages written since the log was last cleared by ClearLog.
    std::vector<std::string> Log() const {
        auto all = inst->LogMessages();
        return std::vector<std::string>(all.begin() + static_cast<std::ptrdiff_t>(std::min(logMark, all.size())), all.end());
    }
    void ClearLog() { logMark = inst->LogMessages().size(); }

    size_t logMark = 0;
};

// ---- the whole road of one utterance ----

TEST_F(SequencerTest, SpeakPlaysEveryWordAndEndsOnceWithTheWorkingFolderGone) {
    Start(RealTime());
    // Two dictionary words and a user recording, at character positions 1, 6 and 10.
    EXPECT_EQ(Speak("שלום ספר תודה", 3), (Events{"SpeechStart", "WordStart 1"}));
    const std::string work = State().CurrentDumpFolder;
    EXPECT_TRUE(fs::is_directory(work));
    EXPECT_FALSE(State().IsIdle);
    EXPECT_EQ(Audio().Playlist.LastIndex(), 2);
    EXPECT_EQ(Audio().Playlist.CurrentIndex(), 0);
    const auto start = Clock::now();
    EXPECT_EQ(PlayToTheEnd(), (Events{"SpeechStart", "WordStart 1", "WordStart 6", "WordStart 10", "Speechend"}));
    // The three clips last 150 + 150 + 150 ms and play in real time, one after the other.
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(400));
    EXPECT_TRUE(State().IsIdle);
    EXPECT_FALSE(fs::exists(work));
    EXPECT_EQ(Audio().Media.MediaDeviceId(Audio().Playlist.GetCurrentAlias()), 0u) << "the last device is closed";
    RunFor(0.3);
    EXPECT_EQ(std::count(events.Seen.begin(), events.Seen.end(), "Speechend"), 1);
    // Its name is forgotten: a StopSpeak now leaves what has come to sit at that path since.
    WriteFileBytes(fs::path(work) / "someone-elses.txt", "x");
    api->StopSpeak();
    EXPECT_TRUE(fs::exists(fs::path(work) / "someone-elses.txt"));

    // The engine takes the next request and plays it as well.
    EXPECT_EQ(Speak("תודה", 1), (Events{"SpeechStart", "WordStart 1"}));
    EXPECT_EQ(PlayToTheEnd(), (Events{"SpeechStart", "WordStart 1", "Speechend"}));
}

TEST_F(SequencerTest, SpelledLettersPlayWithoutWordStartInsertedSoundsWithIt) {
    InstallationOptions o;
    o.Ini["General"]["MissingWordPolicy"] = "spell";
    Start(o);
    // "אבג" is missing: the pre-spell word (a sound, position 6) and three letters (6, 7, 8).
    EXPECT_EQ(Speak("תודה אבג", 1), (Events{"SpeechStart", "WordStart 1"}));
    EXPECT_EQ(Audio().Playlist.LastIndex(), 4);
    EXPECT_EQ(PlayToTheEnd(), (Events{"SpeechStart", "WordStart 1", "WordStart 6", "Speechend"}));
    // A first entry that is a letter raises no WordStart at all.
    State().Settings.PreSpellWord.clear();
    State().Settings.MissingWordSignal.clear();
    EXPECT_EQ(Speak("אב", 1), (Events{"SpeechStart"}));
    EXPECT_EQ(Audio().Playlist.LastIndex(), 1);
    EXPECT_EQ(PlayToTheEnd(), (Events{"SpeechStart", "Speechend"}));
}

TEST_F(SequencerTest, MissingWordSignalAndPrefixSoundRaiseWordStartAtTheWordsPosition) {
    Start();
    // The beep of a missing word is a sound at the word's position.
    EXPECT_EQ(Speak("תודה אבג תודה", 1), (Events{"SpeechStart", "WordStart 1"}));
    EXPECT_EQ(PlayToTheEnd(), (Events{"SpeechStart", "WordStart 1", "WordStart 6", "WordStart 10", "Speechend"}));
    // A prefix split plays the prefix sound first; both parts report the whole word's position.
    Speak("תודה וְשָׁלוֹם", 3);
    std::vector<int32_t> positions;
    for (const auto& item : State().Utterance)
        if (!item.File.empty()) positions.push_back(item.Position);
    ASSERT_EQ(positions, (std::vector<int32_t>{1, 6, 6})) << "expected a prefix split of the second word";
    EXPECT_EQ(PlayToTheEnd(), (Events{"SpeechStart", "WordStart 1", "WordStart 6", "WordStart 6", "Speechend"}));
}

TEST_F(SequencerTest, SoundWithoutRecordingPlaysTheInstalledSilence) {
    InstallationOptions o;
    o.Ini["General"]["MissingWordSignal"] = "nosuchsound";
    Start(o);
    ClearLog();
    EXPECT_EQ(Speak("אבג", 1), (Events{"SpeechStart", "WordStart 1"}));
    EXPECT_EQ(PlayToTheEnd(), (Events{"SpeechStart", "WordStart 1", "Speechend"}));
    const auto opens = Matching(Log(), "GOING to run :Open ");
    ASSERT_EQ(opens.size(), 1u);
    EXPECT_NE(opens[0].find("/Silence.mp3 type MPEGVideo"), std::string::npos) << opens[0];
    EXPECT_TRUE(Matching(Log(), "ERROR").empty());
}

TEST_F(SequencerTest, TextWithNothingToPlayStartsAndEndsTheSpeech) {
    Start();
    EXPECT_EQ(Speak(" , . ", 3), (Events{"SpeechStart", "Speechend"}));
    EXPECT_TRUE(State().IsIdle);
    EXPECT_FALSE(fs::exists(State().CurrentDumpFolder));
    EXPECT_EQ(Speak("תודה", 1), (Events{"SpeechStart", "WordStart 1"}));
    PlayToTheEnd();
}

TEST_F(SequencerTest, TextThatIsNotUtf8IsRefusedWithoutEvents) {
    Start();
    api->SelectVoice(1);
    for (const std::string& text : {std::string("\xff\xfe"), std::string("תודה \xd7"), std::string("\xc0\xaf")}) {
        events.Seen.clear();
        AutomationError e = ErrorOf([&] { api->Speak(text); });
        EXPECT_EQ(e.Number(), 5);
        EXPECT_EQ(e.Source(), "RavekVoice.exe!Speak");
        EXPECT_NE(e.Description().find("not valid UTF-8"), std::string::npos) << e.Description();
        EXPECT_TRUE(events.Seen.empty());
        EXPECT_TRUE(State().IsIdle);
    }
    EXPECT_TRUE(fs::is_empty(tmp));
    EXPECT_EQ(Speak("תודה", 1), (Events{"SpeechStart", "WordStart 1"}));
    PlayToTheEnd();
}

// ---- requests during speech, StopSpeak ----

TEST_F(SequencerTest, SpeakWhileSpeakingIsIgnored) {
    Start(RealTime());
    Speak("ארוך קצר", 1);
    const auto utterance = State().Utterance;
    const std::string work = State().CurrentDumpFolder;
    events.Seen.clear();
    EXPECT_EQ(api->Speak("תודה"), 0);
    EXPECT_TRUE(events.Seen.empty());
    EXPECT_EQ(State().Utterance, utterance);
    EXPECT_EQ(State().CurrentDumpFolder, work);
    EXPECT_EQ(PlayToTheEnd(), (Events{"WordStart 6", "Speechend"}));
}

TEST_F(SequencerTest, StopSpeakDuringPlaybackEndsTheSpeechAtOnce) {
    Start(RealTime());
    Speak("ארוך ארוך ארוך", 1);
    const std::string work = State().CurrentDumpFolder;
    EXPECT_EQ(api->StopSpeak(), 0);
    EXPECT_EQ(events.Seen, (Events{"SpeechStart", "WordStart 1", "Speechend"}));
    EXPECT_TRUE(State().IsIdle);
    EXPECT_FALSE(fs::exists(work));
    EXPECT_EQ(State().UtteranceIndex, 0);
    EXPECT_EQ(Audio().Media.MediaDeviceId(Audio().Playlist.GetCurrentAlias()), 0u) << "the device is closed";
    // The stop's own notification and the aborted play play nothing.
    RunFor(0.6);
    EXPECT_EQ(events.Seen, (Events{"SpeechStart", "WordStart 1", "Speechend"}));
    // Twice: Speechend twice, nothing else.
    EXPECT_EQ(api->StopSpeak(), 0);
    EXPECT_EQ(api->StopSpeak(), 0);
    EXPECT_EQ(events.Seen, (Events{"SpeechStart", "WordStart 1", "Speechend", "Speechend", "Speechend"}));
    RunFor(0.1);
    EXPECT_EQ(Speak("קצר", 1), (Events{"SpeechStart", "WordStart 1"}));
    EXPECT_EQ(PlayToTheEnd(), (Events{"SpeechStart", "WordStart 1", "Speechend"}));
}

TEST_F(SequencerTest, StopSpeakBeforeAnySpeakRaisesSpeechend) {
    {
        // Not even initialised: nothing to stop, no crash.
        IAPI fresh;
        EventRecorder seen;
        fresh.SetEventSink(&seen);
        EXPECT_EQ(fresh.StopSpeak(), 0);
        EXPECT_EQ(seen.Seen, Events{"Speechend"});
        EXPECT_TRUE(fresh.State().IsIdle);
    }
    Start(RealTime());
    ClearLog();
    EXPECT_EQ(api->StopSpeak(), 0);
    EXPECT_EQ(events.Seen, Events{"Speechend"});
    EXPECT_TRUE(State().IsIdle);
    EXPECT_TRUE(Audio().Playlist.IsStopPending()) << "a stop with nothing playing still marks the stop as pending";
    const auto log = Log();
    EXPECT_EQ(Matching(log, "Stop Speak called at ").size(), 1u);
    EXPECT_EQ(Matching(log, "Stop Speak Done in  ").size(), 1u);
    EXPECT_TRUE(Matching(log, "Error").empty());
    // With no working folder there is no device to report closing.
    EXPECT_TRUE(Matching(log, "GOING to run :close").empty());
    EXPECT_TRUE(Matching(log, "ERROR Closing alias").empty());
    // The next utterance plays normally: its reset clears the pending stop.
    EXPECT_EQ(Speak("קצר קצר", 1), (Events{"SpeechStart", "WordStart 1"}));
    EXPECT_FALSE(Audio().Playlist.IsStopPending());
    EXPECT_EQ(PlayToTheEnd(), (Events{"SpeechStart", "WordStart 1", "WordStart 5", "Speechend"}));
}

TEST_F(SequencerTest, CompletionsOfAStoppedSpeechDoNotAdvanceTheNextOne) {
    Start(RealTime());
    Speak("ארוך ארוך", 1);
    api->StopSpeak();
    // The stop's own completion is still queued when the next request starts.
    EXPECT_EQ(Speak("ארוך ארוך", 1), (Events{"SpeechStart", "WordStart 1"}));
    Audio().NotifyWindow->DispatchPending();
    EXPECT_EQ(events.Seen, (Events{"SpeechStart", "WordStart 1"})) << "the first word was cut short";
    EXPECT_EQ(Audio().Playlist.CurrentIndex(), 0);
    EXPECT_EQ(PlayToTheEnd(), (Events{"SpeechStart", "WordStart 1", "WordStart 6", "Speechend"}));

    // The same for the go-on notice of a file that could not be played.
    fs::remove(UserFile(0, "ארוך.mp3"));
    Speak("ארוך ארוך", 1);
    api->StopSpeak();
    WriteFileBytes(UserFile(0, "ארוך.mp3"), ReadFileBytes(Clip(kToneF)));
    EXPECT_EQ(Speak("ארוך ארוך", 1), (Events{"SpeechStart", "WordStart 1"}));
    Audio().NotifyWindow->DispatchPending();
    EXPECT_EQ(events.Seen, (Events{"SpeechStart", "WordStart 1"}));
    EXPECT_EQ(PlayToTheEnd(), (Events{"SpeechStart", "WordStart 1", "WordStart 6", "Speechend"}));
}

// A client whose event handlers call back into the engine (events are raised synchronously).
struct CallingBack : EngineEvents {
    EventRecorder& seen;
    std::function<void(const std::string&)> then;
    explicit CallingBack(EventRecorder& r) : seen(r) {}
    void Raised(const std::string& e) {
        if (then) then(e);
    }
    void SpeechStart() override {
        seen.SpeechStart();
        Raised(seen.Seen.back());
    }
    void WordStart(int32_t i) override {
        seen.WordStart(i);
        Raised(seen.Seen.back());
    }
    void Speechend() override {
        seen.Speechend();
        Raised(seen.Seen.back());
    }
};

TEST_F(SequencerTest, StopSpeakFromAnEventHandlerPlaysNothingMore) {
    Start(RealTime());
    CallingBack client(events);
    api->SetEventSink(&client);
    for (const std::string stopAt : {"WordStart 5", "WordStart 1", "SpeechStart"}) {
        client.then = [&](const std::string& e) {
            if (e == stopAt) api->StopSpeak();
        };
        ClearLog();
        Speak("קצר קצר קצר", 1);
        EXPECT_TRUE(RunUntil([&] { return SpeechEnded(); }, 5)) << stopAt;
        RunFor(0.2);
        Events expected;
        for (const std::string e : {"SpeechStart", "WordStart 1", "WordStart 5"}) {
            expected.push_back(e);
            if (e == stopAt) break;
        }
        expected.push_back("Speechend");
        EXPECT_EQ(events.Seen, expected) << stopAt;
        EXPECT_TRUE(State().IsIdle);
        EXPECT_EQ(Audio().Media.MediaDeviceId(Audio().Playlist.GetCurrentAlias()), 0u) << stopAt << ": a device is left open";
        const auto log = Log();
        size_t stop = 0;
        while (stop < log.size() && log[stop].rfind("Stop Speak called at ", 0) != 0) ++stop;
        ASSERT_LT(stop, log.size());
        for (size_t i = stop; i < log.size(); ++i)
            EXPECT_NE(log[i].rfind("GOING to run :Play ", 0), 0u) << stopAt << ": played after the stop: " << log[i];
    }
    client.then = nullptr;
    EXPECT_EQ(Speak("קצר", 1), (Events{"SpeechStart", "WordStart 1"}));
    EXPECT_EQ(PlayToTheEnd(), (Events{"SpeechStart", "WordStart 1", "Speechend"}));
    api->SetEventSink(&events);
}

TEST_F(SequencerTest, SpeakFromTheSpeechendHandlerStartsTheNextSpeech) {
    Start(RealTime());
    CallingBack client(events);
    api->SetEventSink(&client);
    int spoken = 0;
    client.then = [&](const std::string& e) {
        if (e == "Speechend" && spoken++ < 2) api->Speak("קצר ארוך");
    };
    Speak("קצר", 1);
    EXPECT_TRUE(RunUntil([&] { return std::count(events.Seen.begin(), events.Seen.end(), "Speechend") == 3 && State().IsIdle; }, 10))
        << Joined();
    EXPECT_EQ(events.Seen, (Events{"SpeechStart", "WordStart 1", "Speechend", "SpeechStart", "WordStart 1", "WordStart 5",
                                   "Speechend", "SpeechStart", "WordStart 1", "WordStart 5", "Speechend"}));
    EXPECT_TRUE(fs::is_empty(tmp)) << "every working folder is removed";
    api->SetEventSink(&events);
}

// ---- the notification handler ----

TEST_F(SequencerTest, OnlyASuccessfulCompletionOrAFailureOfTheCurrentDeviceAdvances) {
    Start(RealTime());
    Speak("ארוך ארוך קצר", 1);
    events.Seen.clear();
    const long device = CurrentDevice();
    ASSERT_NE(device, 0);
    // Superseded, aborted, failures of other devices and other messages change nothing.
    for (long code : {mci::MCI_NOTIFY_SUPERSEDED, mci::MCI_NOTIFY_ABORTED, mci::MCI_NOTIFY_FAILURE}) {
        EXPECT_EQ(Notify(code), 0);
        EXPECT_EQ(Notify(code, device + 1000), 0);
    }
    EXPECT_EQ(Notify(mci::MCI_NOTIFY_SUCCESSFUL, 0, 954), 0);
    EXPECT_EQ(Audio().Playlist.CurrentIndex(), 0);
    EXPECT_EQ(CurrentDevice(), device);
    EXPECT_TRUE(events.Seen.empty());
    // The current device failing ends its entry: the next one starts.
    EXPECT_EQ(Notify(mci::MCI_NOTIFY_FAILURE, device), 0);
    EXPECT_EQ(Audio().Playlist.CurrentIndex(), 1);
    EXPECT_EQ(events.Seen, Events{"WordStart 6"});
    EXPECT_NE(CurrentDevice(), device);
    EXPECT_EQ(Audio().Media.MediaDeviceId(Audio().Playlist.GetCurrentAlias()), static_cast<uint32_t>(CurrentDevice()));
    // With a stop pending, a completion only clears the flag (the index still moves on).
    Audio().Playlist.SetStopPending();
    EXPECT_EQ(Notify(mci::MCI_NOTIFY_SUCCESSFUL), 0);
    EXPECT_FALSE(Audio().Playlist.IsStopPending());
    EXPECT_EQ(Audio().Playlist.CurrentIndex(), 2);
    EXPECT_EQ(events.Seen, Events{"WordStart 6"});
    // Past the last entry the speech ends.
    EXPECT_EQ(Notify(mci::MCI_NOTIFY_SUCCESSFUL), 0);
    EXPECT_EQ(events.Seen, (Events{"WordStart 6", "Speechend"}));
    EXPECT_TRUE(State().IsIdle);
    EXPECT_FALSE(fs::exists(State().CurrentDumpFolder));
    // Completions arriving after the end change nothing.
    EXPECT_EQ(Notify(mci::MCI_NOTIFY_SUCCESSFUL), 0);
    RunFor(0.5);
    EXPECT_EQ(events.Seen, (Events{"WordStart 6", "Speechend"}));
}

TEST_F(SequencerTest, OneEntryEndsOnItsCompletionWithoutAnotherWordStart) {
    Start(RealTime());
    EXPECT_EQ(Speak("קצר", 1), (Events{"SpeechStart", "WordStart 1"}));
    EXPECT_EQ(Audio().Playlist.LastIndex(), 0);
    EXPECT_EQ(PlayToTheEnd(), (Events{"SpeechStart", "WordStart 1", "Speechend"}));
    EXPECT_EQ(Audio().Playlist.CurrentIndex(), 1);
}

TEST_F(SequencerTest, EndOfSpeechWithTheWorkingFolderAlreadyGone) {
    Start(RealTime());
    Speak("קצר", 1);
    ClearLog();
    fs::remove_all(State().CurrentDumpFolder);
    EXPECT_EQ(PlayToTheEnd(), (Events{"SpeechStart", "WordStart 1", "Speechend"}));
    EXPECT_EQ(Matching(Log(), "Speech End Raised in ").size(), 1u);
    EXPECT_EQ(Matching(Log(), "Dump Folder cleaned in ").size(), 1u);
}

// ---- files that cannot be played ----

TEST_F(SequencerTest, FilesThatCannotBePlayedAreSkippedAndTheSpeechStillEnds) {
    TempFolder bad;
    const std::string tone = ReadFileBytes(Clip(kToneC));
    std::string noise(4000, '\0');
    for (size_t i = 0; i < noise.size(); ++i) noise[i] = static_cast<char>((i * 7919 + 13) % 251);
    WriteFileBytes(bad / "corrupt.mp3", "ID3\x03" + noise);
    WriteFileBytes(bad / "synced.mp3", "\xFF\xFB\x90\x64" + noise);
    WriteFileBytes(bad / "cut.mp3", tone.substr(0, tone.size() / 3) + noise);
    WriteFileBytes(bad / "empty.mp3", "");
    WriteFileBytes(bad / "text.mp3", "this is not a recording\n");
    // A WAVE file whose format tag no decoder knows.
    std::string odd = std::string("RIFF") + std::string("\x2c\x04\0\0", 4) + "WAVEfmt " + std::string("\x10\0\0\0", 4) +
                      std::string("\x77\x77\x01\0\x22\x56\0\0\x44\xac\0\0\x02\0\x10\0", 16) + "data" +
                      std::string("\x00\x04\0\0", 4) + noise.substr(0, 1024);
    WriteFileBytes(bad / "odd.wav", odd);

    InstallationOptions o = RealTime();
    o.MaleRecordings["שבור.mp3"] = (bad / "corrupt.mp3").string();
    o.MaleRecordings["מסונכרן.mp3"] = (bad / "synced.mp3").string();
    o.MaleRecordings["חתוך.mp3"] = (bad / "cut.mp3").string();
    o.MaleRecordings["ריק.mp3"] = (bad / "empty.mp3").string();
    o.MaleRecordings["טקסט.mp3"] = (bad / "text.mp3").string();
    o.MaleRecordings["מוזר.wav"] = (bad / "odd.wav").string();
    Start(o);
    const std::string text = "קצר שבור מסונכרן חתוך ריק טקסט מוזר קצר";
    // Positions of the eight words.
    Events expected{"SpeechStart"};
    for (int position : {1, 5, 10, 18, 23, 27, 32, 37}) expected.push_back("WordStart " + std::to_string(position));
    expected.push_back("Speechend");
    ClearLog();
    Speak(text, 1);
    EXPECT_EQ(Audio().Playlist.LastIndex(), 7);
    EXPECT_EQ(PlayToTheEnd(), expected);
    EXPECT_FALSE(fs::exists(State().CurrentDumpFolder));
    EXPECT_FALSE(Matching(Log(), "ERROR").empty()) << "the failures are logged";
    // The engine keeps serving.
    EXPECT_EQ(Speak("קצר", 1), (Events{"SpeechStart", "WordStart 1"}));
    EXPECT_EQ(PlayToTheEnd(), (Events{"SpeechStart", "WordStart 1", "Speechend"}));
}

TEST_F(SequencerTest, FileDeletedBetweenPreparationAndPlaybackIsSkipped) {
    Start(RealTime());
    // The first entry is gone before it is opened, the third while the second plays.
    ASSERT_TRUE(fs::exists(UserFile(0, "קצר.mp3")));
    api->SelectVoice(3);
    State().ActiveVoice = 2;
    ClearLog();
    events.Seen.clear();
    // Remove the dictionary clip of the first word between preparation and hand-off: the
    // hand-off's first open meets a missing file.
    std::string work;
    struct Deleter : EngineEvents {
        EventRecorder& inner;
        std::function<void()> onStart;
        explicit Deleter(EventRecorder& r) : inner(r) {}
        void SpeechStart() override {
            if (onStart) onStart();
            inner.SpeechStart();
        }
        void WordStart(int32_t i) override { inner.WordStart(i); }
        void Speechend() override { inner.Speechend(); }
    } deleter(events);
    deleter.onStart = [&] {
        work = State().CurrentDumpFolder;
        fs::remove(work + "שלום.mp3");
    };
    api->SetEventSink(&deleter);
    api->Speak("שלום ספר קצר");
    api->SetEventSink(&events);
    EXPECT_EQ(events.Seen, (Events{"SpeechStart", "WordStart 1"}));
    fs::remove(work + "ספר.mp3");
    EXPECT_EQ(PlayToTheEnd(), (Events{"SpeechStart", "WordStart 1", "WordStart 6", "WordStart 10", "Speechend"}));
    const auto log = Log();
    EXPECT_EQ(Matching(log, "ERROR Opening alias ").size(), 2u);
    EXPECT_EQ(Matching(log, "ERROR alias ").size(), 2u);
    EXPECT_TRUE(State().IsIdle);
    EXPECT_FALSE(fs::exists(work));
}

// A long text starts once its first clips are written; the rest are written while it plays, a
// few entries ahead. A clip that cannot be written then (here: a folder is in the way) is logged
// and its entry skipped; the speech goes on to its end.
TEST_F(SequencerTest, ClipsPastTheFirstAreWrittenDuringPlayback) {
    InstallationOptions o = With(InstallationOptions(), "AudioSink", RegValue::String("fakesink sync=false"));
    std::string text;
    std::vector<std::string> words;
    Events expected{"SpeechStart"};
    for (const char* a : {"א", "ג", "ד", "ז", "ח", "ט", "כ", "ל", "מ", "נ"})
        for (const char* b : {"ס", "ע", "פ", "צ"}) {
            words.push_back(std::string(a) + b);
            o.Male.Words.push_back({words.back(), kToneA, 1});
            expected.push_back("WordStart " + std::to_string(3 * (words.size() - 1) + 1));  // two letters and a blank each
            text += words.back() + " ";
        }
    expected.push_back("Speechend");
    const size_t late = words.size() - mUtterance::kClipsBeforeHandOff;
    Start(o);
    for (const bool blocked : {false, true}) {
        SCOPED_TRACE(blocked ? "late clips blocked" : "late clips written");
        ClearLog();
        Speak(text, 3);
        const std::string work = State().CurrentDumpFolder;
        size_t clips = 0;
        for (const auto& entry : fs::directory_iterator(work)) clips += entry.path().extension() == ".mp3";
        EXPECT_EQ(clips, mUtterance::kClipsBeforeHandOff);
        if (blocked)
            for (size_t i = mUtterance::kClipsBeforeHandOff; i < words.size(); ++i) fs::create_directory(work + words[i] + ".mp3");
        EXPECT_EQ(PlayToTheEnd(), expected);
        size_t failedClips = 0;
        for (const auto& line : Matching(Log(), "Dump word (")) failedClips += line.find(") FAILED: ") != std::string::npos;
        EXPECT_EQ(failedClips, blocked ? late : 0u);
        EXPECT_EQ(Matching(Log(), "ERROR Opening alias ").size(), blocked ? late : 0u);
        EXPECT_FALSE(fs::exists(work));
    }
}

// A text longer than one slice is prepared a slice at a time: Speak returns after the first, and
// playback prepares the rest ahead of itself. A first slice with nothing to play (silent unknown
// words) is followed at once by the next, so the speech still starts.
TEST_F(SequencerTest, LongTextIsPreparedInSlicesWhilePlaying) {
    InstallationOptions o = With(InstallationOptions(), "AudioSink", RegValue::String("fakesink sync=false"));
    o.Ini["General"]["MissingWordPolicy"] = "sapi5";
    Start(o);
    struct Case {
        const char* name;
        std::string word;  // repeated; a known word, or an unknown (silent) one before one known word
        bool unknown;
    };
    for (const Case& c : {Case{"known words", "שלום", false}, Case{"silent unknown words first", "זזז", true}}) {
        SCOPED_TRACE(c.name);
        std::string text;
        Events expected{"SpeechStart"};
        const size_t words = mSpeak::kItemsPerSlice / 2 + 50;  // more than a slice: a break after each word
        for (size_t w = 0; w < words; ++w) {
            if (!c.unknown) expected.push_back("WordStart " + std::to_string(text.size() / 9 * 5 + 1));
            text += c.word + " ";  // four letters of two bytes and a blank
        }
        if (c.unknown) {
            expected.push_back("WordStart " + std::to_string(words * (c.word.size() / 2 + 1) + 1));
            text += "שלום";
        }
        expected.push_back("Speechend");
        Speak(text, 3);
        if (!c.unknown) {
            EXPECT_LE(State().Utterance.size(), mSpeak::kItemsPerSlice) << "Speak prepares the first slice only";
        }
        EXPECT_EQ(PlayToTheEnd(30), expected);
    }
}

// ---- speed and output levels ----

TEST_F(SequencerTest, SpeedIsThousandPlusTheAccelerationRate) {
    for (auto [rate, speed] : {std::pair{"-200", "800"}, std::pair{"500", "1500"}, std::pair{"0", "1000"}}) {
        Start(With(InstallationOptions(), "PlaybackAccelerationRate", RegValue::String(rate)));
        ClearLog();
        Speak("תודה תודה", 1);
        PlayToTheEnd();
        const auto speeds = Matching(Log(), "GOING to run :set A");
        ASSERT_EQ(speeds.size(), 2u) << rate;
        for (const auto& line : speeds)
            EXPECT_TRUE(line.ends_with(std::string(" speed ") + speed + " ")) << line;
        TearDown();
    }
}

TEST_F(SequencerTest, SpeedTheDeviceRefusesIsLoggedAndTheWordStillPlays) {
    Start(With(RealTime(), "PlaybackAccelerationRate", RegValue::String("-1000")));
    ClearLog();
    Speak("קצר קצר", 1);
    EXPECT_EQ(PlayToTheEnd(), (Events{"SpeechStart", "WordStart 1", "WordStart 5", "Speechend"}));
    EXPECT_EQ(Matching(Log(), "ERROR setting speed for alias A").size(), 2u);
}

TEST_F(SequencerTest, SpeedOverflowFailsSpeakWithErrorSixAndEndsTheSpeech) {
    Start(With(RealTime(), "PlaybackAccelerationRate", RegValue::String("2147483647")));
    events.Seen.clear();
    api->SelectVoice(1);
    AutomationError e = ErrorOf([&] { api->Speak("קצר קצר"); });
    EXPECT_EQ(e.Number(), 6);
    EXPECT_EQ(e.Source(), "RavekVoice.exe!Speak");
    EXPECT_EQ(events.Seen, (Events{"SpeechStart", "WordStart 1", "Speechend"}));
    EXPECT_TRUE(State().IsIdle);
    EXPECT_TRUE(State().CurrentDumpFolder.empty()) << "a failed Speak leaves no stale name";
    EXPECT_TRUE(fs::is_empty(tmp));
    EXPECT_EQ(Audio().Media.MediaDeviceId(Audio().Playlist.GetCurrentAlias()), 0u) << "the device opened for the first word is closed";
    RunFor(0.3);
    EXPECT_EQ(events.Seen, (Events{"SpeechStart", "WordStart 1", "Speechend"}));
    // With a sound speed the engine speaks again.
    State().Settings.PlaybackAccelerationRate = 0;
    EXPECT_EQ(Speak("קצר", 1), (Events{"SpeechStart", "WordStart 1"}));
    PlayToTheEnd();
}

TEST_F(SequencerTest, SystemVolumeSetsTheEngineOutputLevelsFromPercentages) {
    Start();
    struct Case {
        int16_t left, right;
        uint16_t wantLeft, wantRight;
    };
    for (const Case& c : {Case{0, 0, 655, 655}, Case{-5, 1, 655, 655}, Case{500, 100, 65535, 65535},
                          Case{100, 1, 65535, 655}, Case{50, 33, 32767, 21626}, Case{-32768, 32767, 655, 65535}}) {
        api->SetSystemVolume(c.left, c.right);
        EXPECT_EQ(Audio().Devices.OutputLevels(), std::make_pair(c.wantLeft, c.wantRight)) << c.left << ", " << c.right;
    }
    ClearLog();
    api->SetSystemVolume(100, 100);
    const auto log = Log();
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[0].rfind("Log  StartRavekVoice.exe!Speak at ", 0), 0u) << log[0];
    EXPECT_EQ(log[1].rfind("End RavekVoice.exe!Speak at ", 0), 0u) << log[1];
}

// ---- playlist operations ----

TEST(PlaylistTest, ResetAddAdvanceAndTheCurrentEntry) {
    mHook::Playlist playlist;
    playlist.ResetPlaylist();
    playlist.AddToPlaylist("/w/old.mp3", 5, 9);
    playlist.ResetPlaylist();
    EXPECT_EQ(playlist.LastIndex(), -1);
    EXPECT_EQ(playlist.CurrentIndex(), 0);
    EXPECT_FALSE(playlist.IsStopPending());
    // Element 0 keeps its old content until the first add.
    EXPECT_EQ(playlist.CurrentEntryFile(), "/w/old.mp3");
    playlist.AddToPlaylist("/w/a.mp3", 1, 1);
    playlist.AddToPlaylist("", 6, 3);
    playlist.AddToPlaylist("/w/c.mp3", 5, 7);
    EXPECT_EQ(playlist.LastIndex(), 2);
    std::vector<std::tuple<std::string, int32_t, int32_t>> seen;
    for (int i = 0; i <= playlist.LastIndex(); ++i, playlist.AdvancePlaylist())
        seen.emplace_back(playlist.CurrentEntryFile(), playlist.CurrentEntryKind(), playlist.CurrentEntryWordIndex());
    EXPECT_EQ(seen, (std::vector<std::tuple<std::string, int32_t, int32_t>>{
                        {"/w/a.mp3", 1, 1}, {"", 6, 3}, {"/w/c.mp3", 5, 7}}));
    // Past the end: subscript out of range.
    EXPECT_EQ(playlist.CurrentIndex(), 3);
    for (const auto& read : std::vector<std::function<void()>>{[&] { playlist.CurrentEntryFile(); },
                                                               [&] { playlist.CurrentEntryKind(); },
                                                               [&] { playlist.CurrentEntryWordIndex(); }}) {
        try {
            read();
            ADD_FAILURE() << "no error past the last entry";
        } catch (const AutomationError& e) {
            EXPECT_EQ(e.Number(), 9);
        }
    }
    playlist.SetStopPending();
    EXPECT_TRUE(playlist.IsStopPending());
    playlist.ClearStopPending();
    EXPECT_FALSE(playlist.IsStopPending());
    playlist.SetStopPending();
    playlist.SetCurrentAlias("Axyz");
    playlist.ResetPlaylist();
    EXPECT_FALSE(playlist.IsStopPending());
    EXPECT_EQ(playlist.GetCurrentAlias(), "Axyz") << "the alias outlives a reset";
}

TEST(PlaylistTest, AliasShapeFromTheEntryPath) {
    mHook::Playlist playlist;
    auto aliasOf = [&playlist](const std::string& path) {
        playlist.ResetPlaylist();
        playlist.AddToPlaylist(path, 1, 1);
        return playlist.MakeAlias();
    };
    const std::string r = "[A-Za-z\\[\\\\\\]^_`]";  // codes 65 to 122
    EXPECT_TRUE(std::regex_match(aliasOf("/tmp/ravek1/shalom.mp3"), std::regex(r + "{3}/sha" + r + "lo" + r)));
    // Blanks are removed; Hebrew names count characters, not bytes.
    EXPECT_TRUE(std::regex_match(aliasOf("/my dir/a b c.mp3"), std::regex(r + "{3}/ab" + r + "b" + r)));
    const std::string hebrew = aliasOf("/w/שלום.mp3");
    EXPECT_TRUE(std::regex_match(hebrew, std::regex(r + "{3}/שלו" + r + "לו" + r))) << hebrew;
    // No "/" or no room before the ".": the fixed fallback.
    for (const char* broken : {"", "shalom.mp3", "/a.mp3", "/w/noextension"})
        EXPECT_EQ(aliasOf(broken), "EMERRX") << broken;
    // Two aliases of one file differ (random characters).
    std::set<std::string> aliases;
    for (int i = 0; i < 20; ++i) aliases.insert(aliasOf("/w/shalom.mp3"));
    EXPECT_GT(aliases.size(), 15u);
}

TEST(PlaylistTest, RandomBetweenStaysInItsRangeAndReachesBothEnds) {
    mHook::Playlist playlist;
    std::set<int32_t> seen;
    for (int i = 0; i < 20000; ++i) {
        const int32_t v = playlist.RandomBetween(65, 122);
        ASSERT_GE(v, 65);
        ASSERT_LE(v, 122);
        seen.insert(v);
    }
    EXPECT_EQ(seen.size(), 58u);
    EXPECT_EQ(playlist.RandomBetween(7, 7), 7);
    // The widest range stays representable: no overflow is reported.
    for (int i = 0; i < 1000; ++i) EXPECT_NO_THROW(playlist.RandomBetween(INT32_MIN, INT32_MAX));
}

// ---- the log of playback ----

TEST_F(SequencerTest, DetailedLogFollowsEveryStepOfPlayback) {
    Start();
    ClearLog();
    Speak("תודה שלום", 3);
    const std::string work = State().CurrentDumpFolder;  // forgotten once the speech ends
    PlayToTheEnd();
    const auto log = Log();
    auto index = [&](const std::string& prefix, size_t from = 0) {
        for (size_t i = from; i < log.size(); ++i)
            if (log[i].rfind(prefix, 0) == 0) return i;
        ADD_FAILURE() << "no line " << prefix;
        return log.size();
    };
    const std::string user = UserFile(0, "תודה.mp3");
    const size_t prepare1 = index("Going to PREPARE word תודה from " + user + " ");
    const size_t prepare2 = index("Going to PREPARE word שלום from " + work + "שלום.mp3 ");
    const size_t first = index("Going to plackback word תודה from " + user + " ");
    const size_t open1 = index("GOING to run :Open " + user + " type MPEGVideo Alias A", first);
    const size_t arrived = index("ARRIVED EVENT MM_MCINOTIFY wParam=1", open1);
    const size_t raised = index("Raised word started event  at ", arrived);
    const size_t next = index("Going to plackback word from " + work + "שלום.mp3 in ", raised);
    const size_t close1 = index("GOING to run :close A", next);
    const size_t open2 = index("GOING to run :Open " + work + "שלום.mp3 type MPEGVideo Alias A", close1);
    const size_t ended = index("Speech End Raised in ", open2);
    const size_t cleaned = index("Dump Folder cleaned in ", ended);
    EXPECT_LT(prepare1, prepare2);
    EXPECT_LT(prepare2, first);
    EXPECT_LT(cleaned, log.size());
    for (const auto& line : Matching(log, "DONE to run :Play A")) EXPECT_TRUE(line.ends_with(" notify 0")) << line;
    EXPECT_TRUE(Matching(log, "ERROR").empty());
    // The play command asks for the whole file: from 0 to its length in frames.
    const auto plays = Matching(log, "GOING to run :Play A");
    ASSERT_EQ(plays.size(), 2u);
    EXPECT_TRUE(std::regex_search(plays[1], std::regex(" from 0 to 1[45][0-9] notify $"))) << plays[1];
    // Aliases have the shape of the entry's file.
    EXPECT_TRUE(std::regex_search(log[open2], std::regex("Alias A.{3}/שלו.לו. parent [0-9]+ Style 1073741824 notify $")))
        << log[open2];
}

TEST_F(SequencerTest, LevelFiveWritesNoPlaybackLinesLevelZeroNoDeviceOrErrorLines) {
    for (uint32_t level : {5u, 0u}) {
        Start(With(InstallationOptions(), "LogLevel", RegValue::Dword(level)));
        ClearLog();
        fs::remove(UserFile(0, "בוקר.wav"));  // one entry fails to open
        Speak("תודה בוקר תודה", 1);
        PlayToTheEnd();
        api->StopSpeak();
        const auto log = Log();
        EXPECT_EQ(Matching(log, "ERROR").empty(), level == 0) << "level " << level;
        for (const char* line : {"ARRIVED EVENT", "Raised word started", "Going to plackback", "Going to PREPARE",
                                 "Speech End Raised", "Dump Folder cleaned", "Stop Speak"})
            EXPECT_TRUE(Matching(log, line).empty()) << "level " << level << ": " << line;
        EXPECT_EQ(Matching(log, "GOING to run :").empty(), level == 0) << "level " << level;
        TearDown();
    }
}

TEST_F(SequencerTest, AudioSinkFromTheEnvironmentTheRegistryOrTheDefault) {
    Start(With(InstallationOptions(), "AudioSink", RegValue::String("fakesink sync=false name=registry")));
    EXPECT_EQ(Audio().Devices.AudioSinkDescription(), "fakesink sync=false name=registry");
    TearDown();

    ::setenv("RAVEK_AUDIO_SINK", "fakesink sync=false name=environment", 1);
    Start(With(InstallationOptions(), "AudioSink", RegValue::String("fakesink sync=false name=registry")));
    EXPECT_EQ(Audio().Devices.AudioSinkDescription(), "fakesink sync=false name=environment");
    ::unsetenv("RAVEK_AUDIO_SINK");
    TearDown();

    // Without either, the system's audio output, or a silent real-time sink when it has none.
    InstallationOptions none;
    none.Registry.erase("AudioSink");
    Start(none);
    const std::string sink = Audio().Devices.AudioSinkDescription();
    EXPECT_TRUE(sink == "autoaudiosink" || sink == kRealTime) << sink;
    EXPECT_EQ(Speak("תודה", 1).front(), "SpeechStart");
    EXPECT_TRUE(RunUntil([&] { return SpeechEnded(); }, 10)) << Joined();
}

}  // namespace
