#include "mUtterance.h"

#include <filesystem>
#include <memory>
#include <set>
#include <system_error>

#include "AnsiText.h"
#include "AutomationError.h"
#include "EngineState.h"
#include "mDump.h"
#include "mLog.h"
#include "mMADLIB.h"
#include "mMissingWord.h"

namespace fs = std::filesystem;

namespace mUtterance {

namespace {

// The WAVE files converted for one request, by path: every item gets a file of its own, so two
// items whose names would meet (a prefix sound and a user recording of the same text) never
// share one.
using TakenNames = std::set<std::string>;

// "<folder><stem>.wav", or "<folder><stem>~<n>.wav" with the first n from 2 not yet taken.
std::string OwnWaveName(TakenNames& taken, const std::string& folder, const std::string& stem) {
    std::string name = folder + stem + ".wav";
    for (int n = 2; !taken.insert(name).second; ++n) name = folder + stem + "~" + std::to_string(n) + ".wav";
    return name;
}

std::string WithoutMp3Extension(const std::string& path) {
    return path.ends_with(".mp3") ? path.substr(0, path.size() - 4) : path;
}

// With short names avoided, the item plays a numbered copy of `source`. A recording that does not
// exist skips the item (false), logged, as the hand-off skips a sound without a name.
bool CopyToNumberedName(EngineState& state, SpeechItem& item, const std::string& source, const std::string& extension) {
    if (!RecordingExists(state, item, source)) return false;
    item.File = NextNumberedName(state, extension);
    CopyOver(source, item.File);
    return true;
}

// A clip of the voice's recorded dictionary, extracted into the working folder.
bool PrepareDictionaryItem(EngineState& state, mDump::SpeechClips& clips, TakenNames& taken, SpeechItem& item,
                           const std::string& source) {
    const EngineSettings& set = state.Settings;
    clips.Dump(item.Text);
    if (set.ConvertMP32WAV) {
        const std::string target = set.AvoidShortNames ? NextNumberedName(state, ".wav")
                                                       : OwnWaveName(taken, "", WithoutMp3Extension(source));
        ConvertMp3ToWav(state, source, target);
        item.File = target;
    } else if (set.AvoidShortNames) {
        return CopyToNumberedName(state, item, source, ".mp3");
    }
    return true;
}

// A user recording, or the recording of a prefix sound.
bool PrepareRecordingItem(EngineState& state, TakenNames& taken, SpeechItem& item, const std::string& source) {
    const EngineSettings& set = state.Settings;
    if (source.find(".wav") != std::string::npos) {
        if (set.AvoidShortNames) return CopyToNumberedName(state, item, source, ".wav");
    } else if (!set.ConvertMP32WAV) {
        if (set.AvoidShortNames) return CopyToNumberedName(state, item, source, ".mp3");
    } else {
        const std::string target = set.AvoidShortNames ? NextNumberedName(state, ".wav")
                                                       : OwnWaveName(taken, state.CurrentDumpFolder, item.Text);
        ConvertMp3ToWav(state, source, target);
        item.File = target;
    }
    return true;
}

[[noreturn]] void RaiseFolderFull(const EngineState& state, const std::string& what) {
    RuntimeErrors::Raise(RuntimeErrors::PathFileAccessError,
                         "cannot write the clips of the request into the working folder " + state.CurrentDumpFolder + ": " + what);
}

}  // namespace

std::string FileInFolder(const std::string& folder, const std::string& name) {
    std::error_code ec;
    if (fs::exists(fs::path(folder) / name, ec)) return folder + "/" + name;
    const std::string lower = AnsiText::ToLower(name);
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec))
        if (AnsiText::ToLower(it->path().filename().string()) == lower) return it->path().string();
    return folder + "/" + lower;
}

bool RecordingExists(const EngineState& state, const SpeechItem& item, const std::string& source) {
    std::error_code ec;
    if (!source.empty() && fs::is_regular_file(source, ec)) return true;
    state.Log.LogWriteQuietly("Recording of (" + item.Text + ") not found" + (source.empty() ? "" : " at " + source) +
                              "; the item is skipped");
    return false;
}

std::string NextNumberedName(EngineState& state, const std::string& extension) {
    if (state.DumpFileCounter == INT32_MAX) RuntimeErrors::Raise(RuntimeErrors::Overflow, "too many files in one utterance");
    ++state.DumpFileCounter;
    return state.CurrentDumpFolder + "f" + std::to_string(state.DumpFileCounter) + extension;
}

void CopyOver(const std::string& source, const std::string& target) {
    std::error_code ec;
    if (source.empty() || !fs::is_regular_file(source, ec))
        RuntimeErrors::Raise(RuntimeErrors::FileNotFound, source.empty() ? "no recording to copy to " + target : source);
    fs::copy_file(source, target, fs::copy_options::overwrite_existing, ec);
    if (ec) {
        const std::string reason = ec.message();
        fs::remove(target, ec);  // half a copy would play as noise
        RuntimeErrors::Raise(RuntimeErrors::PathFileAccessError,
                             "cannot write the clips of the request into the working folder " +
                                 fs::path(target).parent_path().string() + "/: cannot copy " + source + ": " + reason);
    }
}

void ConvertMp3ToWav(const EngineState& state, const std::string& source, const std::string& target) {
    constexpr int32_t kOutputNotWritable = 3;
    int32_t result = 0;
    try {
        result = mMADLIB::ConvertMp3ToWav(source, target);
    } catch (const std::exception& e) {
        // A recording that cannot be decoded shows as a missing file at playback; only a working
        // folder that cannot take the file fails the request.
        state.Log.LogWriteQuietly("Conversion of " + source + " to " + target + " FAILED: " + e.what());
    }
    if (result == kOutputNotWritable) RaiseFolderFull(state, "cannot write " + target);
}

FileProducer::FileProducer(EngineState& state, bool deferClips)
    : state_(state),
      clips_(std::make_shared<mDump::SpeechClips>(state, state.CurrentDumpFolder, state.ActiveVoice)),
      // Extracted clips need nothing but their file at playback: those can be written later.
      deferClips_(deferClips && !state.Settings.ConvertMP32WAV && !state.Settings.AvoidShortNames) {}

void FileProducer::Produce(std::vector<SpeechItem> input, std::vector<SpeechItem>& output, std::vector<size_t>& late) {
    // Grown by push_back alone: reserving each batch's exact size would copy the whole utterance
    // again for every batch.
    for (SpeechItem& item : input) {
        if (item.Kind == ItemKind::Word && !item.Found) {
            mMissingWord::ExpandMissingWord(state_, item, output);
            continue;
        }
        output.push_back(std::move(item));
        SpeechItem& made = output.back();
        if (made.Source == ItemSource::NoSource) continue;
        if (made.Source == ItemSource::FromDictionary && deferClips_ && ++dictionaryItems_ > kClipsBeforeHandOff) {
            late.push_back(output.size() - 1);
            continue;
        }
        // The recording the item names; the item may be given another file below.
        const std::string source = made.File;
        const bool keep = made.Source == ItemSource::FromDictionary
                              ? PrepareDictionaryItem(state_, *clips_, takenWaveNames_, made, source)
                              : PrepareRecordingItem(state_, takenWaveNames_, made, source);
        if (!keep) output.pop_back();
    }
}

std::vector<SpeechItem> ProduceFiles(EngineState& state, const std::vector<SpeechItem>& input) {
    std::vector<SpeechItem> output;
    std::vector<size_t> late;
    FileProducer(state, false).Produce(input, output, late);
    return output;
}

std::vector<SpeechItem> ResolveItems(EngineState& state, const std::vector<SpeechItem>& input) {
    std::vector<SpeechItem> output;
    output.reserve(input.size());
    for (const SpeechItem& item : input) {
        if (item.Kind == ItemKind::Word && !item.Found) mMissingWord::ExpandMissingWord(state, item, output);
        else output.push_back(item);
    }
    return output;
}

bool HasPlayableItem(const EngineState& state, const std::vector<SpeechItem>& utterance) {
    for (const SpeechItem& item : utterance) {
        if (item.Text.empty()) continue;
        if (item.Kind == ItemKind::Word || item.Kind == ItemKind::Sound) return true;
        if (item.Kind == ItemKind::Letter) {
            const auto& system = state.SystemDictionaries[state.ActiveSlot()];
            if (system && system->Exists(item.Text)) return true;
        }
    }
    return false;
}

}  // namespace mUtterance
