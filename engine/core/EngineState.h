#pragma once
// The core part of one engine object: the voice model, the loaded voice data (dictionaries,
// prefix table, the lookup database connection), the settings, the log and the state of the
// current request (its working folders among them). The engine's modules work on this record. The audio layer's part (media
// devices, notification sink, media channel, playlist) is EngineAudio, which IAPI owns beside
// this record: this layer (ravek_core) does not depend on the audio and platform layers.
#include <array>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "AnsiText.h"
#include "Dictionary.h"
#include "EngineSettings.h"
#include "PointedWord.h"
#include "SpeechItem.h"
#include "cHiResTimer.h"
#include "mLog.h"
#include "mMDBConnection.h"
#include "mWorkingFolder.h"

struct VoicePermission {
    bool UseUserRecordings = false;
    bool UseDictionary = false;
    bool UseSmartLookup = false;
};

// Receives the three engine events (the D-Bus adapter turns them into signals).
class EngineEvents {
public:
    virtual ~EngineEvents() = default;
    virtual void SpeechStart() = 0;
    virtual void WordStart(int32_t wordIndex) = 0;
    virtual void Speechend() = 0;
};

// The prefix table of the lookup database, in priority order.
struct PrefixTable {
    std::vector<PointedWord> Patterns;
    std::vector<std::string> FileNames;
    int32_t Count = 0;  // number of rows minus one
    Dictionary Prefixes;  // prefix text -> file name
};

struct EngineState {
    static constexpr int kVoiceCount = 4;
    static constexpr int kSlots = 3;  // slot 2 exists but stays unused

    bool IsInitialised = false;
    bool IsIdle = false;
    std::array<std::string, 5> VoiceNames;
    int32_t VoiceCount = 0;
    std::array<VoicePermission, 5> VoicePermissions;
    int32_t SelectedVoice = 0;
    int16_t ActiveVoice = 0;

    std::array<bool, kSlots> VoiceReady{};
    // Shared so that a client can hold the live index dictionary (ExportRavekDictionary).
    std::array<std::shared_ptr<Dictionary>, kSlots> IndexDictionaries;
    std::array<std::shared_ptr<Dictionary>, kSlots> UserDictionaries;
    std::array<std::shared_ptr<Dictionary>, kSlots> SystemDictionaries;
    std::array<int32_t, kSlots> BinFileCount{};
    std::array<int16_t, kSlots> BinFileHandles{};
    PrefixTable Prefixes;
    mMDBConnection::Connection Database;
    std::array<int64_t, kSlots> MyRecordsSizeCache{};
    std::chrono::system_clock::time_point LastFolderCheck{};

    EngineSettings Settings;
    // The HKEY_LOCAL_MACHINE registry file start-up reads; empty: $RAVEK_REGISTRY or its default.
    std::string RegistryPath;
    mLog::Log Log;
    int32_t LanguageClass = 0;
    std::string LanguageKeySuffix;
    int32_t LocaleId = 1037;
    int AnsiCodePage = 1255;

    std::optional<cHiResTimer> Timer;  // created on first use
    std::shared_ptr<Dictionary> SentenceSet;
    std::shared_ptr<Dictionary> WordSet;

    std::string CurrentDumpFolder;  // ends with "/"
    mWorkingFolder::CreatedFolders WorkingFolders;
    int32_t DumpFileCounter = 0;
    std::vector<SpeechItem> Utterance;
    int32_t UtteranceIndex = 0;

    EngineEvents* Events = nullptr;

    // ---- helpers shared by the modules ----
    // Data slot of an internal voice number (0..3 -> 0,1,0,1). Raises error 9 for a voice outside
    // 0..4 (6 when the client's number of that voice, voice + 1, does not fit in 32 bits).
    static int DataSlot(int32_t voice);
    // A number a client passed, moved by `delta` (its 1-based voice made 0-based and back): error 6
    // naming `what` when the result leaves the 32-bit range, as arithmetic on a LONG does.
    static int32_t Shifted(int32_t number, int32_t delta, const std::string& what);
    int ActiveSlot() const { return DataSlot(ActiveVoice); }
    // Permissions of the active voice; error 9 when it is out of range.
    const VoicePermission& ActivePermissions() const;
    // The slot's dictionaries; error 9 for a bad slot, error 91 when not created.
    Dictionary& UserDictionary(int slot) const;
    Dictionary& IndexDictionary(int slot) const;
    Dictionary& SystemDictionary(int slot) const;
    const AnsiText::Codec& Codec() const { return AnsiText::CodecFor(AnsiCodePage); }
    bool LowerCaseWords() const { return LanguageClass == 3; }
    // Starts the timer (creating it if needed).
    void StartTimer();
    // Stops the timer and gives the seconds since it was started, as log text.
    std::string Elapsed();
    int16_t LogLevel() const { return Log.GetLogLevel(); }
};
