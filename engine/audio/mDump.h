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
// DumpFile for the speech pipeline: the same, except that a clip that cannot be written into the
// folder (a full disk) raises error 75 naming the folder, since no clip of the request could play.
void DumpFileForSpeech(EngineState& state, const std::string& dumpFolder, int32_t voice, const std::string& word);
std::shared_ptr<Dictionary> ExportRavekDictionary(EngineState& state);

// Where the clip of `word` lies in the binary files of `voice`'s data slot: the bytes
// [Position, Position + Length - 1] (1-based) of BinPath. Raises the error DumpFile would log (no
// dictionary for the voice, word not in the index, bad entry); the file itself is not examined.
struct ClipLocation {
    std::string BinPath;
    int64_t Position = 0;
    int64_t Length = 0;
};
ClipLocation LocateClip(const EngineState& state, int32_t voice, const std::string& word);
}  // namespace mDump
