#pragma once
// Playback of a prepared utterance: hand-off from Speak, the completion-notification handler
// that walks the playlist, the three events, StopSpeak and the output volume.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "mDump.h"

struct EngineAudio;
struct EngineState;

// Every function works on one engine object: its state and the audio layer's part of it.

namespace mSequencer {
void RaiseSpeechStart(EngineState& state);
void RaiseWordStart(EngineState& state, int32_t index);
void RaiseSpeechEnd(EngineState& state, EngineAudio& audio);
// How many playlist entries ahead of the one starting the late clips of a speech are written.
inline constexpr size_t kClipsAheadOfPlayback = 8;
// How many entries past the one playing are kept prepared while a long text lasts.
inline constexpr size_t kEntriesPreparedAhead = 64;
// Prepares the next slice of a long text (see EngineAudio::PrepareMore).
using MoreText = std::function<bool(std::vector<size_t>& lateItems)>;
// Raises SpeechStart, fills the playlist from state.Utterance and starts the first entry.
// `clips` wrote the clips before the hand-off and writes the late ones (the items `lateItems`)
// while the speech plays, kClipsAheadOfPlayback entries ahead; `more`, when given, prepares the
// rest of the text slice by slice, kEntriesPreparedAhead entries ahead (and at once as far as the
// first item there is to play).
void HandOff(EngineState& state, EngineAudio& audio, std::shared_ptr<mDump::SpeechClips> clips = nullptr,
             const std::vector<size_t>& lateItems = {}, MoreText more = nullptr);
// Handler of the notification sink (message 953 = MM_MCINOTIFY); returns 0.
int32_t OnNotify(EngineState& state, EngineAudio& audio, uint32_t message, long wParam, long lParam);
int32_t StopSpeak(EngineState& state, EngineAudio& audio);
void SetSystemVolume(EngineState& state, EngineAudio& audio, int16_t leftVol, int16_t rightVol);
// Binds the media layer to the engine's notification sink and audio sink (end of Initialise).
void Attach(EngineState& state, EngineAudio& audio);
// Unbinds the media layer from the engine's notification sink and closes the device now playing;
// called when the engine object goes away, so no notification reaches a destroyed sink.
void Detach(EngineAudio& audio);
}  // namespace mSequencer
