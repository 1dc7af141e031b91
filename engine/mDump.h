#pragma once
// Extraction of one dictionary word's clip into a file, and the export of a voice's index.
#include <cstdint>
#include <memory>
#include <string>

#include "Dictionary.h"

struct EngineState;

namespace mDump {
// "-" and "/" become "==", a double-quote character becomes "_".
std::string DumpNameOf(const std::string& word);
void DumpFile(EngineState& state, const std::string& dumpFolder, int32_t voice, const std::string& word);
std::shared_ptr<Dictionary> ExportRavekDictionary(EngineState& state);
}  // namespace mDump
