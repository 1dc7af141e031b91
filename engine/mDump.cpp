#include "mDump.h"

#include "AutomationError.h"
#include "EngineState.h"

namespace mDump {
std::string DumpNameOf(const std::string& word) { return word; }
void DumpFile(EngineState&, const std::string&, int32_t, const std::string&) {
    RuntimeErrors::Raise(RuntimeErrors::InvalidProcedureCall, "DumpFile is not available in this build");
}
std::shared_ptr<Dictionary> ExportRavekDictionary(EngineState& state) {
    return state.IndexDictionaries[state.ActiveSlot()];
}
}  // namespace mDump
