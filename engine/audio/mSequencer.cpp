#include "mSequencer.h"

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <system_error>

#include "AutomationError.h"
#include "EngineState.h"
#include "mHook.h"
#include "mLog.h"
#include "mMedia.h"
#include "mci.h"

namespace fs = std::filesystem;

namespace mSequencer {
namespace {

constexpr const char* kStopSpeakProc = "RavekVoice.exe!StopSpeak";
constexpr const char* kVolumeProc = "RavekVoice.exe!Speak";  // the volume method shares Speak's name
constexpr const char* kTheEnd = "TheEnd";

bool Detailed() { return mLog::GetLogLevel() > 5; }

// Playback goes on even when the log cannot be written.
void Log(const std::string& line) {
    try {
        mLog::LogWrite(line);
    } catch (...) {
    }
}

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

// Removes the working folder of an utterance. A symbolic link is removed itself, never followed;
// errors are ignored (the folder may then remain).
void RemoveWorkingFolder(const std::string& folder, bool filesFirst) {
    std::string path = folder;
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    if (path.empty() || path == "/") return;
    std::error_code ec;
    const fs::file_status status = fs::symlink_status(path, ec);
    if (ec || !fs::exists(status)) return;
    if (filesFirst && fs::is_directory(status)) {
        for (fs::directory_iterator it(path, ec), end; !ec && it != end; it.increment(ec)) {
            std::error_code entryError;
            if (!fs::is_directory(it->symlink_status(entryError))) fs::remove(it->path(), entryError);
        }
    }
    fs::remove_all(path, ec);
}

bool FolderExists(const std::string& folder) {
    if (folder.empty()) return false;
    std::error_code ec;
    return fs::exists(fs::symlink_status(folder, ec));
}

void CloseDevice(const std::string& alias) {
    try {
        mMedia::MediaClose(alias);
    } catch (...) {
    }
}

// Closes a device without the media channel's log lines: at the end of a speech whose working
// folder is already gone (or when nothing ever played) there is no device to report, but a
// pipeline left open would keep its resources.
void CloseDeviceQuietly(const std::string& alias) {
    if (alias.empty()) return;
    std::string ignored;
    mci::mciSendString("close " + alias, ignored, nullptr);
}

void CloseCurrentDevice() { CloseDevice(mHook::GetCurrentAlias()); }

// Changes whenever a speech starts or ends. Events are raised synchronously, so a client's
// handler may stop the speech or start the next one before the raise returns; the code that
// raised the event then finds the number changed and leaves the playlist and devices alone.
uint64_t speechSerial = 0;

// The go-on notice of an entry that could not be played carries a tag of its own (a negative
// number where a device id would stand), so that a notice left over from a stopped speech is not
// taken for the entry now playing. 0: no notice awaited.
long pendingSkipTag = 0;
long lastSkipTag = 0;

long NextSkipTag() {
    lastSkipTag = lastSkipTag <= -0x7fffffffL ? -1 : lastSkipTag - 1;
    return lastSkipTag;
}

// A file that could not be opened or played posts no completion; the sequence goes on with
// the next entry as if it had played.
void SkipFailedEntry(EngineState& state, const std::string& alias, const std::string& reason) {
    if (mLog::GetLogLevel() > 0) Log("ERROR alias " + alias + " could not be played (" + reason + "); going on with the next entry");
    pendingSkipTag = NextSkipTag();
    if (state.NotifyWindow) state.NotifyWindow->Post(NotifySink::MM_MCINOTIFY, mci::MCI_NOTIFY_SUCCESSFUL, pendingSkipTag);
}

// Whether a notification concerns the entry now playing: it comes from the device now open, it
// is the awaited go-on notice, or it names no device at all. Completions of devices closed since
// (a stopped speech, an entry cut short) are stale: acting on them would start the next entry of
// the current speech early.
bool ForCurrentEntry(long lParam) {
    if (lParam == 0) return true;
    if (lParam < 0) return lParam == pendingSkipTag;
    return static_cast<uint32_t>(lParam) == mMedia::MediaDeviceId(mHook::GetCurrentAlias());
}

// Opens and plays the current entry under a new alias. Errors of the media layer skip the entry.
// A raised error (a speed overflow) skips it too, or, with `rethrow`, closes the device and hands
// the error on to the caller, whose request then ends.
void StartCurrentEntry(EngineState& state, const std::string& alias, bool rethrow) {
    mHook::SetCurrentAlias(alias);
    try {
        mMedia::MediaOpen(mHook::CurrentEntryFile(), alias);
        mMedia::MediaPlay(alias, int64_t{0}, std::string(kTheEnd));
        if (mMedia::LastError() != 0) SkipFailedEntry(state, alias, mMedia::MediaErrorText(mMedia::LastError()));
    } catch (const std::exception& e) {
        if (!rethrow) {
            SkipFailedEntry(state, alias, e.what());
            return;
        }
        CloseDevice(alias);
        throw;
    }
}

void EndOfSpeech(EngineState& state) {
    // What belongs to the speech that ends: the Speechend handler may start the next speech,
    // whose device and working folder must stay.
    const std::string alias = mHook::GetCurrentAlias();
    const std::string folder = state.CurrentDumpFolder;
    RaiseSpeechEnd(state);
    if (Detailed()) Log("Speech End Raised in " + state.Elapsed());
    if (FolderExists(folder)) {
        CloseDevice(alias);
        RemoveWorkingFolder(folder, true);
    } else {
        CloseDeviceQuietly(alias);
    }
    if (Detailed()) Log("Dump Folder cleaned in " + state.Elapsed());
}

void PlayNextEntry(EngineState& state) {
    const uint64_t serial = speechSerial;
    const auto kind = static_cast<ItemKind>(mHook::CurrentEntryKind());
    if (RaisesWordStart(kind)) {
        RaiseWordStart(state, mHook::CurrentEntryWordIndex());
        if (Detailed()) Log("Raised word started event  at " + state.Elapsed());
        if (serial != speechSerial) return;  // stopped (or replaced) from the WordStart handler
    }
    const std::string path = mHook::CurrentEntryFile();
    const std::string alias = "A" + mHook::MakeAlias();
    if (Detailed()) Log("Going to plackback word from " + path + " in " + state.Elapsed());
    CloseCurrentDevice();
    StartCurrentEntry(state, alias, false);
}

}  // namespace

void RaiseSpeechStart(EngineState& state) {
    if (state.Events) state.Events->SpeechStart();
}

void RaiseWordStart(EngineState& state, int32_t index) {
    if (state.Events) state.Events->WordStart(index);
}

void RaiseSpeechEnd(EngineState& state) {
    ++speechSerial;
    state.IsIdle = true;
    if (state.Events) state.Events->Speechend();
}

void HandOff(EngineState& state) {
    const uint64_t serial = ++speechSerial;
    RaiseSpeechStart(state);
    if (serial != speechSerial) return;  // stopped from the SpeechStart handler: nothing plays
    mHook::ResetPlaylist();
    pendingSkipTag = 0;
    mMedia::MediaInit(state.Settings.PlaybackAccelerationRate);
    const bool detailed = Detailed();
    std::optional<size_t> first;
    for (state.UtteranceIndex = 0; static_cast<size_t>(state.UtteranceIndex) < state.Utterance.size(); ++state.UtteranceIndex) {
        const SpeechItem& item = state.Utterance[state.UtteranceIndex];
        auto played = Played(state, item);
        if (!played) continue;
        if (!first) first = state.UtteranceIndex;
        mHook::AddToPlaylist(played->file, static_cast<int32_t>(item.Kind), item.Position);
        if (detailed) Log("Going to PREPARE word " + item.Text + " from " + played->loggedPath + " " + state.Elapsed());
    }
    if (!first) {
        // Nothing to play: the utterance ends at once, so the engine does not stay busy.
        EndOfSpeech(state);
        return;
    }
    const SpeechItem& item = state.Utterance[*first];
    if (RaisesWordStart(item.Kind)) RaiseWordStart(state, item.Position);
    if (serial != speechSerial) return;  // stopped from the WordStart handler
    if (detailed) Log("Going to plackback word " + item.Text + " from " + Played(state, item)->loggedPath + " " + state.Elapsed());
    StartCurrentEntry(state, "A" + mHook::MakeAlias(), true);
}

int32_t OnNotify(EngineState& state, uint32_t message, long wParam, long lParam) {
    if (message != NotifySink::MM_MCINOTIFY) return 0;
    try {
        if (Detailed()) Log("ARRIVED EVENT MM_MCINOTIFY wParam=" + std::to_string(wParam));
        // A failure notification of the device now playing ends that entry like a completion;
        // any other failure, superseded or aborted notification is ignored.
        const bool currentFailed = wParam == mci::MCI_NOTIFY_FAILURE && lParam > 0 && ForCurrentEntry(lParam);
        if (wParam != mci::MCI_NOTIFY_SUCCESSFUL && !currentFailed) return 0;
        if (!ForCurrentEntry(lParam)) return 0;
        if (lParam < 0) pendingSkipTag = 0;
        if (currentFailed && mLog::GetLogLevel() > 0)
            Log("ERROR alias " + mHook::GetCurrentAlias() + " failed while playing; going on with the next entry");
        mHook::AdvancePlaylist();
        if (mHook::IsStopPending()) {
            mHook::ClearStopPending();
            return 0;
        }
        // A late completion of an utterance that has already ended or been stopped.
        if (state.IsIdle) return 0;
        if (mHook::CurrentIndex() > mHook::LastIndex()) EndOfSpeech(state);
        else PlayNextEntry(state);
    } catch (const std::exception& e) {
        Log(std::string("ERROR in the playback notification handler: ") + e.what());
    }
    return 0;
}

int32_t StopSpeak(EngineState& state) {
    mLog::ProcTrace trace;
    mLog::ProcEnter(trace, kStopSpeakProc, 99);
    try {
        state.UtteranceIndex = 0;
        pendingSkipTag = 0;
        if (Detailed()) {
            state.StartTimer();
            Log("Stop Speak called at " + mLog::SystemDateTimeText());
        }
        mMedia::MediaStop(mHook::GetCurrentAlias());
    } catch (const AutomationError& e) {
        mLog::TraceError(trace, e.Number(), -9999, e.Description());
    } catch (const std::exception& e) {
        mLog::TraceError(trace, RuntimeErrors::PathFileAccessError, -9999, e.what());
    }
    // The device is closed and Speechend raised in every case, so the engine is idle again.
    if (FolderExists(state.CurrentDumpFolder)) {
        CloseCurrentDevice();
        RemoveWorkingFolder(state.CurrentDumpFolder, false);
    } else {
        CloseDeviceQuietly(mHook::GetCurrentAlias());
    }
    RaiseSpeechEnd(state);
    if (Detailed()) Log("Stop Speak Done in  " + state.Elapsed());
    mLog::ProcExit(trace, 99);
    return 0;
}

void SetSystemVolume(EngineState&, int16_t leftVol, int16_t rightVol) {
    mLog::ProcTrace trace;
    mLog::ProcEnter(trace, kVolumeProc, 99);
    try {
        auto level = [](int16_t percent) {
            int p = percent;
            if (p > 100) p = 100;
            if (p < 1) p = 1;
            return static_cast<uint16_t>(static_cast<int64_t>(65535.0 / (100.0 / p)));  // truncated toward zero
        };
        mci::SetOutputLevels(level(leftVol), level(rightVol));
    } catch (const AutomationError& e) {
        mLog::TraceError(trace, e.Number(), -9999, e.Description());
    }
    mLog::ProcExit(trace, 99);
}

void Attach(EngineState& state) {
    mMedia::SetCallbackWindow(state.NotifyWindow.get());
    const char* env = std::getenv("RAVEK_AUDIO_SINK");
    mci::SetAudioSink(env && *env ? std::string(env) : state.Settings.AudioSink);
}

void Detach(EngineState& state) {
    if (!state.NotifyWindow) return;
    if (mMedia::CallbackWindow() == state.NotifyWindow.get()) {
        CloseDeviceQuietly(mHook::GetCurrentAlias());
        mMedia::SetCallbackWindow(nullptr);
    }
    mci::ForgetNotifySink(state.NotifyWindow.get());
}

}  // namespace mSequencer
