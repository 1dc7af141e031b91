#pragma once
// Last phase of utterance preparation: every item that will be played gets a playable file in the
// request's working folder (dictionary clips extracted, MP3 converted to WAVE when configured -
// a file of its own for every item -, numbered copies when short names are avoided: an item
// whose recording does not exist is then skipped and logged); missing words go to the
// missing-word policy. A working folder that cannot take the files (a full disk) fails the
// request with error 75 naming the folder.
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "SpeechItem.h"
#include "mDump.h"

struct EngineState;

namespace mUtterance {

// How many dictionary items of a request get their clips before the hand-off when the rest may
// come later.
inline constexpr size_t kClipsBeforeHandOff = 32;

// Makes the items of one request playable, one batch after another: the files of a batch are
// named and written as if the batches had been one list (numbered copies, converted names and
// extracted clips stay unique across batches).
class FileProducer {
public:
    // With `deferClips`, and when the clips play as extracted (no conversion, no numbered copies),
    // only the first kClipsBeforeHandOff dictionary items of the request get their clips here; the
    // others are reported as late, for playback to write with Clips().
    FileProducer(EngineState& state, bool deferClips);
    // Appends the playable items of `input` to `output`; the indexes in `output` of items whose
    // clips are late go to `late`.
    void Produce(std::vector<SpeechItem> input, std::vector<SpeechItem>& output, std::vector<size_t>& late);
    const std::shared_ptr<mDump::SpeechClips>& Clips() const { return clips_; }

private:
    EngineState& state_;
    std::shared_ptr<mDump::SpeechClips> clips_;
    std::set<std::string> takenWaveNames_;
    bool deferClips_;
    size_t dictionaryItems_ = 0;
};

// Every file of `input` written at once.
std::vector<SpeechItem> ProduceFiles(EngineState& state, const std::vector<SpeechItem>& input);
// The same items as ProduceFiles without writing any file, for a caller that reads the clips
// itself: missing words go to the missing-word policy; dictionary items keep the name their
// extracted clip would have (mDump::LocateClip finds the clip), recordings their own path.
// Expects neither MP3-to-WAVE conversion nor short names (they would need files).
std::vector<SpeechItem> ResolveItems(EngineState& state, const std::vector<SpeechItem>& input);

// "<CurrentDumpFolder>f<n><extension>" with n the next value of DumpFileCounter.
std::string NextNumberedName(EngineState& state, const std::string& extension);
// The file `name` of `folder`: the name as given when it exists, else the folder's entry whose
// name equals it without regard to case, else (found nowhere) the lower-cased name.
std::string FileInFolder(const std::string& folder, const std::string& name);
// Whether the recording `source` of `item` exists; when it does not, logs that the item is skipped.
bool RecordingExists(const EngineState& state, const SpeechItem& item, const std::string& source);
// Copies a file over an existing target. Raises error 53 naming the source when it does not exist
// (an empty source names no file) and error 75 when the copy fails (a full working folder).
void CopyOver(const std::string& source, const std::string& target);
// MP3 to WAVE through the decoder. A recording that cannot be decoded leaves no target (the media
// layer meets a missing file); a target that cannot be written raises error 75 naming the
// working folder.
void ConvertMp3ToWav(const EngineState& state, const std::string& source, const std::string& target);

// Whether the playback hand-off would find anything to play in `utterance`: an item with text
// that is a word, a sound, or a letter that the slot's system recordings hold.
bool HasPlayableItem(const EngineState& state, const std::vector<SpeechItem>& utterance);

}  // namespace mUtterance
