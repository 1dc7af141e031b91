#pragma once
// Extraction of one dictionary word's clip into a file, and the export of a voice's index.
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "Dictionary.h"
#include "mIndexFiles.h"

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
// DumpFileForSpeech for the items of one request, into one folder from one voice: the binary
// files stay open between clips, the folder is checked once, and a word whose clip this object
// has already written there is not extracted again (its items share the file).
class SpeechClips {
public:
    SpeechClips(EngineState& state, std::string dumpFolder, int32_t voice);
    void Dump(const std::string& word);

private:
    EngineState& state_;
    std::string folder_;
    int32_t voice_;
    mIndexFiles::ClipReader reader_;
    bool folderSeen_ = false;
    std::unordered_map<std::string, std::string> written_;  // file path -> the word whose clip it holds
};

// The clips of the speech being played that are written after the hand-off rather than before it
// (a long text would otherwise wait for one file per distinct word before the first is heard),
// by playlist entry: each is written a few entries before its entry starts.
class ClipsAhead {
public:
    // Takes the request's clip writer, the one that wrote the clips before the hand-off, so that
    // no clip is written twice (over a file that may be playing).
    void Start(std::shared_ptr<SpeechClips> writer);
    // Appends the next playlist entry: the word whose clip it plays and is still to be written,
    // or "" when nothing is pending.
    void AddEntry(std::string word) { words_.push_back(std::move(word)); }
    // Writes the pending clips of the entries up to and including `entry` (0-based). A clip that
    // cannot be written is logged (the full disk of a long speech); its entry then fails to open
    // and playback goes on with the next one.
    void WriteThrough(size_t entry);
    // Forgets the speech (it ended or was stopped): nothing more is written.
    void Clear();

private:
    std::shared_ptr<SpeechClips> writer_;
    std::vector<std::string> words_;
    size_t next_ = 0;
};

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
