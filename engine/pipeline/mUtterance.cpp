#include "mUtterance.h"

#include <filesystem>
#include <system_error>

#include "AutomationError.h"
#include "EngineState.h"
#include "mDump.h"
#include "mLog.h"
#include "mMADLIB.h"
#include "mMissingWord.h"

namespace fs = std::filesystem;

namespace mUtterance {

namespace {

std::string ReplaceAll(std::string text, const std::string& from, const std::string& to) {
    for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

// A clip of the voice's recorded dictionary, extracted into the working folder.
void PrepareDictionaryItem(EngineState& state, SpeechItem& item, const std::string& source) {
    const EngineSettings& set = state.Settings;
    mDump::DumpFile(state, state.CurrentDumpFolder, state.ActiveVoice, item.Text);
    if (set.ConvertMP32WAV) {
        const std::string target = set.AvoidShortNames ? NextNumberedName(state, ".wav") : ReplaceAll(source, ".mp3", ".wav");
        ConvertMp3ToWav(state, source, target);
        item.File = target;
    } else if (set.AvoidShortNames) {
        item.File = NextNumberedName(state, ".mp3");
        CopyOver(source, item.File);
    }
}

// A user recording, or the recording of a prefix sound.
void PrepareRecordingItem(EngineState& state, SpeechItem& item, const std::string& source) {
    const EngineSettings& set = state.Settings;
    if (source.find(".wav") != std::string::npos) {
        if (set.AvoidShortNames) {
            item.File = NextNumberedName(state, ".wav");
            CopyOver(source, item.File);
        }
    } else if (!set.ConvertMP32WAV) {
        if (set.AvoidShortNames) {
            item.File = NextNumberedName(state, ".mp3");
            CopyOver(source, item.File);
        }
    } else {
        const std::string target =
            set.AvoidShortNames ? NextNumberedName(state, ".wav") : state.CurrentDumpFolder + item.Text + ".wav";
        ConvertMp3ToWav(state, source, target);
        item.File = target;
    }
}

}  // namespace

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
    if (ec) RuntimeErrors::Raise(RuntimeErrors::PathFileAccessError, "cannot copy " + source + " to " + target + ": " + ec.message());
}

void ConvertMp3ToWav(const EngineState& state, const std::string& source, const std::string& target) {
    try {
        mMADLIB::ConvertMp3ToWav(source, target);
    } catch (const std::exception& e) {
        // The decoder's outcome is not examined; a failed conversion shows as a missing file.
        try {
            state.Log.LogWrite("Conversion of " + source + " to " + target + " FAILED: " + e.what());
        } catch (...) {
        }
    }
}

std::vector<SpeechItem> ProduceFiles(EngineState& state, const std::vector<SpeechItem>& input) {
    std::vector<SpeechItem> output;
    output.reserve(input.size());
    for (const SpeechItem& item : input) {
        if (item.Kind == ItemKind::Word && !item.Found) {
            mMissingWord::ExpandMissingWord(state, item, output);
            continue;
        }
        output.push_back(item);
        SpeechItem& copy = output.back();
        if (item.Source == ItemSource::FromDictionary) PrepareDictionaryItem(state, copy, item.File);
        else if (item.Source == ItemSource::FromUserRecordings) PrepareRecordingItem(state, copy, item.File);
    }
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
