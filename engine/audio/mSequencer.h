#pragma once
// Playback of a prepared utterance: hand-off from Speak, the completion-notification handler
// that walks the playlist, the three events, StopSpeak and the output volume.
#include <cstdint>

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
// Raises SpeechStart, fills the playlist from state.Utterance and starts the first entry. The
// clips of `late` are written while the speech plays, kClipsAheadOfPlayback entries ahead.
void HandOff(EngineState& state, EngineAudio& audio, mDump::LateClips late = {});
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
