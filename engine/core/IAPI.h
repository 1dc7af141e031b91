#pragma once
// The engine's public class: the fourteen methods of the automation interface over one engine
// object's state (EngineState) and audio (EngineAudio). Every method runs on the engine's single
// thread; engine objects share nothing, so a process may hold several.
#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "EngineAudio.h"
#include "EngineState.h"

namespace RegistryFile {
class Document;
}

class IAPI {
public:
    IAPI();
    ~IAPI();
    IAPI(const IAPI&) = delete;
    IAPI& operator=(const IAPI&) = delete;

    void Initialise();
    int32_t ListNumberOfVoices() const;
    std::string ListVoiceName(int32_t idxvoice) const;
    void SelectVoice(int32_t idxvoice);
    int32_t Speak(const std::string& text);
    int32_t StopSpeak();
    // Result: empty, or 0 when sub-folders were visited.
    std::optional<int32_t> EnumerateFiles(std::string& path, std::string& searchStr, int32_t& fileCount,
                                          int32_t& dirCount, Dictionary& oDic);
    int32_t GetWordsNumber(int32_t idxvoice) const;
    int32_t GetDictionary(int32_t idxvoice) const;
    void WindowsMediaPlayer1_PlayStateChange(int32_t oldState, int32_t newState);
    void DumpFile(const std::string& dumpFolder, int32_t mActiveVoice, const std::string& word);
    std::string GetVoiceNameByVoiceID(int32_t lActiveVoice) const;
    // The live index dictionary of the active voice's slot (null when not loaded).
    std::shared_ptr<Dictionary> ExportRavekDictionary();
    void SetSystemVolume(int16_t leftVol, int16_t rightVol);

    void SetEventSink(EngineEvents* events) { state_.Events = events; }
    // The HKEY_LOCAL_MACHINE registry file Initialise reads (empty: $RAVEK_REGISTRY or its default).
    void SetRegistryFile(const std::string& path) { state_.RegistryPath = path; }
    EngineState& State() { return state_; }
    const EngineState& State() const { return state_; }
    EngineAudio& Audio() { return audio_; }
    const EngineAudio& Audio() const { return audio_; }

private:
    void RunStartUp();
    void ReadSettings(const RegistryFile::Document& registry);
    void LoadRecordings();
    void LoadSystemRecordings();
    // Per data slot: whether its index loaded, whether all its binary files exist.
    std::array<bool, 2> LoadIndexes();
    std::array<bool, 2> DetectBinaryFiles();
    bool ConnectDatabase();
    void RetryDatabaseWhenUnlocked(std::array<bool, 2> filesReady);
    void ReadSeparatorSets();
    EngineState state_;
    EngineAudio audio_{state_.Log};  // after state_: it uses the state's log
};
