#include "mSequencer.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <system_error>

#include "AutomationError.h"
#include "EngineState.h"
#include "EngineAudio.h"
#include "mLog.h"
#include "mWorkingFolder.h"

namespace fs = std::filesystem;

namespace mSequencer {
namespace {

constexpr const char* kStopSpeakProc = "RavekVoice.exe!StopSpeak";
constexpr const char* kVolumeProc = "RavekVoice.exe!Speak";  // the volume method shares Speak's name
constexpr const char* kTheEnd = "TheEnd";

// Playback goes on even when the log cannot be written.
void Log(const EngineState& state, const std::string& line) { state.Log.LogWriteQuietly(line); }

// An utterance item as the playlist plays it: the file played and the path the log names.
struct PlayedItem {
    std::string file;
    std::string loggedPath;
};

const std::string* SystemRecording(const EngineState& state, const std::string& name) {
    const auto& dict = state.SystemDictionaries[EngineState::DataSlot(state.ActiveVoice)];
    return dict ? dict->Find(name) : nullptr;
}

// What an item adds to the playlist; nothing for breaks, empty texts and letters that have no
// system recording.
std::optional<PlayedItem> Played(const EngineState& state, const SpeechItem& item) {
    if (item.Text.empty()) return std::nullopt;
    switch (item.Kind) {
        case ItemKind::Word:
            return PlayedItem{item.File, item.File};
        case ItemKind::Sound: {
            if (!item.File.empty()) return PlayedItem{item.File, item.File};
            const std::string* system = SystemRecording(state, item.Text);
            std::string path = system ? *system : std::string();
            return PlayedItem{path, path};
        }
        case ItemKind::Letter: {
            const std::string* system = SystemRecording(state, item.Text);
            if (!system) return std::nullopt;
            return PlayedItem{state.Settings.AvoidShortNames ? item.File : *system, *system};
        }
        default:
            return std::nullopt;
    }
}

bool RaisesWordStart(ItemKind kind) { return kind == ItemKind::Word || kind == ItemKind::Sound; }

// Removes the working folder of a speech that ended or was stopped, through the engine's one
// guarded remover (only a folder this engine object made, still the same folder), and forgets its
// name so that nothing later acts on whatever comes to sit at that path.
void RemoveSpeechFolder(EngineState& state, std::string folder) {
    mWorkingFolder::RemoveWorkingFolder(state.WorkingFolders, folder);
    if (state.CurrentDumpFolder == folder) state.CurrentDumpFolder.clear();
}

bool FolderExists(const std::string& folder) {
    if (folder.empty()) return false;
    std::error_code ec;
    return fs::exists(fs::symlink_status(folder, ec));
}

void CloseDevice(EngineAudio& audio, const std::string& alias) {
    try {
        audio.Media.MediaClose(alias);
    } catch (...) {
    }
}

// Closes a device without the media channel's log lines: at the end of a speech whose working
// folder is already gone (or when nothing ever played) there is no device to report, but a
// pipeline left open would keep its resources.
void CloseDeviceQuietly(EngineAudio& audio, const std::string& alias) {
    if (alias.empty()) return;
    std::string ignored;
    audio.Devices.mciSendString("close " + alias, ignored, nullptr);
}

void CloseCurrentDevice(EngineAudio& audio) { CloseDevice(audio, audio.Playlist.GetCurrentAlias()); }

// Events are raised synchronously, so a client's handler may stop the speech or start the next
// one before the raise returns; the code that raised the event then finds the speech serial
// changed and leaves the playlist and devices alone.
//
// The go-on notice of an entry that could not be played carries a tag of its own (a negative
// number where a device id would stand), so that a notice left over from a stopped speech is not
// taken for the entry now playing. PendingSkipTag 0: no notice awaited.
long NextSkipTag(EngineAudio& audio) {
    audio.LastSkipTag = audio.LastSkipTag <= -0x7fffffffL ? -1 : audio.LastSkipTag - 1;
    return audio.LastSkipTag;
}

// A file that could not be opened or played posts no completion; the sequence goes on with
// the next entry as if it had played.
void SkipFailedEntry(EngineState& state, EngineAudio& audio, const std::string& alias, const std::string& reason) {
    if (state.Log.Progress()) Log(state, "ERROR alias " + alias + " could not be played (" + reason + "); going on with the next entry");
    audio.PendingSkipTag = NextSkipTag(audio);
    if (audio.NotifyWindow) audio.NotifyWindow->Post(NotifySink::MM_MCINOTIFY, mci::MCI_NOTIFY_SUCCESSFUL, audio.PendingSkipTag);
}

// Whether a notification concerns the entry now playing: it comes from the device now open, it
// is the awaited go-on notice, or it names no device at all. Completions of devices closed since
// (a stopped speech, an entry cut short) are stale: acting on them would start the next entry of
// the current speech early.
bool ForCurrentEntry(const EngineAudio& audio, long lParam) {
    if (lParam == 0) return true;
    if (lParam < 0) return lParam == audio.PendingSkipTag;
    return static_cast<uint32_t>(lParam) == audio.Media.MediaDeviceId(audio.Playlist.GetCurrentAlias());
}

// Opens and plays the current entry under a new alias. Errors of the media layer skip the entry.
// A raised error (a speed overflow) skips it too, or, with `rethrow`, closes the device and hands
// the error on to the caller, whose request then ends.
void StartCurrentEntry(EngineState& state, EngineAudio& audio, const std::string& alias, bool rethrow) {
    audio.Playlist.SetCurrentAlias(alias);
    try {
        audio.Media.MediaOpen(audio.Playlist.CurrentEntryFile(), alias);
        audio.Media.MediaPlay(alias, int64_t{0}, std::string(kTheEnd));
        if (audio.Media.LastError() != 0) SkipFailedEntry(state, audio, alias, mMedia::MediaErrorText(audio.Media.LastError()));
    } catch (const std::exception& e) {
        if (!rethrow) {
            SkipFailedEntry(state, audio, alias, e.what());
            return;
        }
        CloseDevice(audio, alias);
        throw;
    }
}

void EndOfSpeech(EngineState& state, EngineAudio& audio) {
    // What belongs to the speech that ends: the Speechend handler may start the next speech,
    // whose device and working folder must stay.
    const std::string alias = audio.Playlist.GetCurrentAlias();
    const std::string folder = state.CurrentDumpFolder;
    RaiseSpeechEnd(state, audio);
    if (state.Log.Detail()) Log(state, "Speech End Raised in " + state.Elapsed());
    if (FolderExists(folder)) {
        CloseDevice(audio, alias);
    } else {
        CloseDeviceQuietly(audio, alias);
    }
    RemoveSpeechFolder(state, folder);
    if (state.Log.Detail()) Log(state, "Dump Folder cleaned in " + state.Elapsed());
}

// Turns the utterance items the playlist has not taken in yet into entries; `lateItems` holds
// the (ascending) indexes of the items whose clips playback writes. Returns the index of the
// first item that became an entry.
std::optional<size_t> AddEntries(EngineState& state, EngineAudio& audio, const std::vector<size_t>& lateItems) {
    const bool detailed = state.Log.Detail();
    std::optional<size_t> first;
    auto nextLate = lateItems.begin();
    for (size_t index = audio.ItemsInPlaylist; index < state.Utterance.size(); ++index) {
        const SpeechItem& item = state.Utterance[index];
        while (nextLate != lateItems.end() && *nextLate < index) ++nextLate;
        auto played = Played(state, item);
        if (!played) continue;
        if (!first) first = index;
        audio.Playlist.AddToPlaylist(played->file, static_cast<int32_t>(item.Kind), item.Position);
        audio.Clips.AddEntry(nextLate != lateItems.end() && *nextLate == index ? item.Text : std::string());
        if (detailed) Log(state, "Going to PREPARE word " + item.Text + " from " + played->loggedPath + " " + state.Elapsed());
    }
    audio.ItemsInPlaylist = state.Utterance.size();
    state.UtteranceIndex = static_cast<int32_t>(std::min<size_t>(state.Utterance.size(), INT32_MAX));
    return first;
}

// Prepares the next slice of the text and adds its entries; the index of its first item that
// became an entry.
std::optional<size_t> PrepareNextSlice(EngineState& state, EngineAudio& audio) {
    std::vector<size_t> late;
    if (!audio.PrepareMore(late)) audio.PrepareMore = nullptr;
    return AddEntries(state, audio, late);
}

// Keeps kEntriesPreparedAhead entries prepared past the one playing while the text lasts. A slice
// that fails ends the text there: what was prepared still plays.
void PrepareAhead(EngineState& state, EngineAudio& audio) {
    try {
        while (audio.PrepareMore &&
               int64_t{audio.Playlist.LastIndex()} - audio.Playlist.CurrentIndex() < int64_t{kEntriesPreparedAhead})
            PrepareNextSlice(state, audio);
    } catch (const std::exception& e) {
        audio.PrepareMore = nullptr;
        Log(state, std::string("ERROR preparing the rest of the text: ") + e.what() + "; the speech ends after what was prepared");
    }
}

void PlayNextEntry(EngineState& state, EngineAudio& audio) {
    const uint64_t serial = audio.SpeechSerial;
    const auto kind = static_cast<ItemKind>(audio.Playlist.CurrentEntryKind());
    if (RaisesWordStart(kind)) {
        RaiseWordStart(state, audio.Playlist.CurrentEntryWordIndex());
        if (state.Log.Detail()) Log(state, "Raised word started event  at " + state.Elapsed());
        if (serial != audio.SpeechSerial) return;  // stopped (or replaced) from the WordStart handler
    }
    audio.Clips.WriteThrough(static_cast<size_t>(audio.Playlist.CurrentIndex()) + kClipsAheadOfPlayback);
    const std::string path = audio.Playlist.CurrentEntryFile();
    const std::string alias = "A" + audio.Playlist.MakeAlias();
    if (state.Log.Detail()) Log(state, "Going to plackback word from " + path + " in " + state.Elapsed());
    CloseCurrentDevice(audio);
    StartCurrentEntry(state, audio, alias, false);
}

}  // namespace

void RaiseSpeechStart(EngineState& state) {
    if (state.Events) state.Events->SpeechStart();
}

void RaiseWordStart(EngineState& state, int32_t index) {
    if (state.Events) state.Events->WordStart(index);
}

void RaiseSpeechEnd(EngineState& state, EngineAudio& audio) {
    audio.Clips.Clear();
    audio.PrepareMore = nullptr;
    ++audio.SpeechSerial;
    state.IsIdle = true;
    if (state.Events) state.Events->Speechend();
}

void HandOff(EngineState& state, EngineAudio& audio, std::shared_ptr<mDump::SpeechClips> clips,
             const std::vector<size_t>& lateItems, MoreText more) {
    audio.Clips.Clear();
    audio.PrepareMore = nullptr;
    const uint64_t serial = ++audio.SpeechSerial;
    RaiseSpeechStart(state);
    if (serial != audio.SpeechSerial) return;  // stopped from the SpeechStart handler: nothing plays
    audio.Playlist.ResetPlaylist();
    audio.PendingSkipTag = 0;
    audio.Media.MediaInit(state.Settings.PlaybackAccelerationRate);
    audio.ItemsInPlaylist = 0;
    audio.Clips.Start(std::move(clips));
    audio.PrepareMore = std::move(more);
    std::optional<size_t> first = AddEntries(state, audio, lateItems);
    // A text whose first slices hold nothing to play goes on until one does or the text ends.
    while (!first && audio.PrepareMore) first = PrepareNextSlice(state, audio);
    if (!first) {
        // Nothing to play: the utterance ends at once, so the engine does not stay busy.
        EndOfSpeech(state, audio);
        return;
    }
    audio.Clips.WriteThrough(kClipsAheadOfPlayback);
    const SpeechItem& item = state.Utterance[*first];
    if (RaisesWordStart(item.Kind)) RaiseWordStart(state, item.Position);
    if (serial != audio.SpeechSerial) return;  // stopped from the WordStart handler
    if (state.Log.Detail())
        Log(state, "Going to plackback word " + item.Text + " from " + Played(state, item)->loggedPath + " " + state.Elapsed());
    StartCurrentEntry(state, audio, "A" + audio.Playlist.MakeAlias(), true);
}

int32_t OnNotify(EngineState& state, EngineAudio& audio, uint32_t message, long wParam, long lParam) {
    if (message != NotifySink::MM_MCINOTIFY) return 0;
    try {
        if (state.Log.Detail()) Log(state, "ARRIVED EVENT MM_MCINOTIFY wParam=" + std::to_string(wParam));
        // A failure notification of the device now playing ends that entry like a completion;
        // any other failure, superseded or aborted notification is ignored.
        const bool currentFailed = wParam == mci::MCI_NOTIFY_FAILURE && lParam > 0 && ForCurrentEntry(audio, lParam);
        if (wParam != mci::MCI_NOTIFY_SUCCESSFUL && !currentFailed) return 0;
        if (!ForCurrentEntry(audio, lParam)) return 0;
        if (lParam < 0) audio.PendingSkipTag = 0;
        if (currentFailed && state.Log.Progress())
            Log(state, "ERROR alias " + audio.Playlist.GetCurrentAlias() + " failed while playing; going on with the next entry");
        audio.Playlist.AdvancePlaylist();
        if (audio.Playlist.IsStopPending()) {
            audio.Playlist.ClearStopPending();
            return 0;
        }
        // A late completion of an utterance that has already ended or been stopped.
        if (state.IsIdle) return 0;
        PrepareAhead(state, audio);
        if (audio.Playlist.CurrentIndex() > audio.Playlist.LastIndex()) EndOfSpeech(state, audio);
        else PlayNextEntry(state, audio);
    } catch (const std::exception& e) {
        Log(state, std::string("ERROR in the playback notification handler: ") + e.what());
    }
    return 0;
}

int32_t StopSpeak(EngineState& state, EngineAudio& audio) {
    mLog::ProcTrace trace;
    state.Log.ProcEnter(trace, kStopSpeakProc, mLog::kTrace);
    try {
        state.UtteranceIndex = 0;
        audio.PendingSkipTag = 0;
        if (state.Log.Detail()) {
            state.StartTimer();
            Log(state, "Stop Speak called at " + mLog::SystemDateTimeText());
        }
        audio.Media.MediaStop(audio.Playlist.GetCurrentAlias());
    } catch (const AutomationError& e) {
        state.Log.TraceError(trace, e.Number(), -9999, e.Description());
    } catch (const std::exception& e) {
        state.Log.TraceError(trace, RuntimeErrors::PathFileAccessError, -9999, e.what());
    }
    // The device is closed and Speechend raised in every case, so the engine is idle again.
    if (FolderExists(state.CurrentDumpFolder)) {
        CloseCurrentDevice(audio);
    } else {
        CloseDeviceQuietly(audio, audio.Playlist.GetCurrentAlias());
    }
    RemoveSpeechFolder(state, state.CurrentDumpFolder);
    RaiseSpeechEnd(state, audio);
    if (state.Log.Detail()) Log(state, "Stop Speak Done in  " + state.Elapsed());
    state.Log.ProcExit(trace, mLog::kTrace);
    return 0;
}

void SetSystemVolume(EngineState& state, EngineAudio& audio, int16_t leftVol, int16_t rightVol) {
    mLog::ProcTrace trace;
    state.Log.ProcEnter(trace, kVolumeProc, mLog::kTrace);
    try {
        auto level = [](int16_t percent) {
            int p = percent;
            if (p > 100) p = 100;
            if (p < 1) p = 1;
            return static_cast<uint16_t>(static_cast<int64_t>(65535.0 / (100.0 / p)));  // truncated toward zero
        };
        audio.Devices.SetOutputLevels(level(leftVol), level(rightVol));
    } catch (const AutomationError& e) {
        state.Log.TraceError(trace, e.Number(), -9999, e.Description());
    }
    state.Log.ProcExit(trace, mLog::kTrace);
}

void Attach(EngineState& state, EngineAudio& audio) {
    audio.Media.SetCallbackWindow(audio.NotifyWindow.get());
    const char* env = std::getenv("RAVEK_AUDIO_SINK");
    audio.Devices.SetAudioSink(env && *env ? std::string(env) : state.Settings.AudioSink);
}

void Detach(EngineAudio& audio) {
    audio.Clips.Clear();
    audio.PrepareMore = nullptr;
    if (!audio.NotifyWindow) return;
    CloseDeviceQuietly(audio, audio.Playlist.GetCurrentAlias());
    audio.Media.SetCallbackWindow(nullptr);
    audio.Devices.ForgetNotifySink(audio.NotifyWindow.get());
}

}  // namespace mSequencer
