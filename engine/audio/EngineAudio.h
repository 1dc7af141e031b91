#pragma once
// The audio layer's part of one engine object: its media devices, the notification sink they
// report to, the media channel, the playlist and the progress of the speech being played.
//
// IAPI owns one beside its EngineState and hands both to the modules that play speech. It is not
// part of EngineState because EngineState belongs to ravek_core, which must not depend on the
// audio and platform layers (GStreamer); keeping the two records side by side in IAPI, the one
// target that links every layer, gives each engine object all of its state without a type-erased
// owner.
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "NotifySink.h"
#include "mDump.h"
#include "mHook.h"
#include "mMedia.h"
#include "mci.h"

namespace mLog {
class Log;
}

struct EngineAudio {
    explicit EngineAudio(const mLog::Log& log) : Media(Devices, Playlist, log) {}
    EngineAudio(const EngineAudio&) = delete;
    EngineAudio& operator=(const EngineAudio&) = delete;

    // Declared before the devices so that it outlives them: they post their notifications to it.
    // Created by Initialise, on the thread (main context) that will run the engine.
    std::unique_ptr<NotifySink> NotifyWindow;
    mci::Devices Devices;
    mHook::Playlist Playlist;
    mMedia::Channel Media;

    // The progress of playback (mSequencer). SpeechSerial changes whenever a speech starts or
    // ends; the skip tags mark the go-on notices of entries that could not be played.
    uint64_t SpeechSerial = 0;
    // The clips of the speech's dictionary words that were left for playback to write.
    mDump::ClipsAhead Clips;
    // The rest of a long request's text, prepared a slice at a time just ahead of playback: each
    // call appends the next slice's items to the utterance (and the indexes of those whose clips
    // are late to its argument) and returns false once the whole text is prepared. Empty when
    // nothing is left.
    std::function<bool(std::vector<size_t>& lateItems)> PrepareMore;
    // How many items of the utterance the playlist has taken in.
    size_t ItemsInPlaylist = 0;
    long PendingSkipTag = 0;
    long LastSkipTag = 0;
};
