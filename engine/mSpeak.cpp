#include "mSpeak.h"

#include "AutomationError.h"
#include "EngineState.h"

namespace mSpeak {
int32_t Speak(EngineState&, const std::string&) {
    RuntimeErrors::Raise(RuntimeErrors::InvalidProcedureCall, "Speak is not available in this build");
}
std::vector<SpeechItem> PrepareUtterance(EngineState&, const std::string&, const Dictionary&, const Dictionary&) {
    RuntimeErrors::Raise(RuntimeErrors::InvalidProcedureCall, "PrepareUtterance is not available in this build");
}
}  // namespace mSpeak
