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
// Writes the clip of `word` from the index and binary file of `voice`'s data slot into
// `dumpFolder` as DumpNameOf(word) + ".mp3" (replacing an older file completely). Raises no error
// to the caller: a failure (word not in the index, missing folder or binary file, bad entry)
// writes no file and logs "Dump word (<word>) FAILED: <reason>".
void DumpFile(EngineState& state, const std::string& dumpFolder, int32_t voice, const std::string& word);
std::shared_ptr<Dictionary> ExportRavekDictionary(EngineState& state);
}  // namespace mDump
