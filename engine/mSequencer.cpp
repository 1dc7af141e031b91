#include "mSequencer.h"

#include "AutomationError.h"
#include "EngineState.h"

namespace mSequencer {
void RaiseSpeechStart(EngineState& state) {
    if (state.Events) state.Events->SpeechStart();
}
void RaiseWordStart(EngineState& state, int32_t index) {
    if (state.Events) state.Events->WordStart(index);
}
void RaiseSpeechEnd(EngineState& state) {
    state.IsIdle = true;
    if (state.Events) state.Events->Speechend();
}
void HandOff(EngineState& state) { RaiseSpeechStart(state); }
int32_t OnNotify(EngineState&, uint32_t, long, long) { return 0; }
int32_t StopSpeak(EngineState& state) {
    RaiseSpeechEnd(state);
    return 0;
}
void SetSystemVolume(EngineState&, int16_t, int16_t) {}
void Attach(EngineState&) {}
}  // namespace mSequencer
