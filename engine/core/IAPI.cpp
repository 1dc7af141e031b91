#include "IAPI.h"

#include <climits>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "AutomationError.h"
#include "CommonFunc.h"
#include "ManageCodePage.h"
#include "mDump.h"
#include "mIndexFiles.h"
#include "mLog.h"
#include "mMDBConnection.h"
#include "mRecordings.h"
#include "mSequencer.h"
#include "mSpeak.h"

namespace fs = std::filesystem;
using CommonFunc::RootKey;
using namespace EngineSettingsReader;

namespace {

constexpr const char* kInitialiseProc = "RavekVoice.exe!IAPI#Initialise";
constexpr const char* kMainKey = "Software\\RavekVoice";
constexpr const char* kMaleIndexVoice = "Galev";
constexpr const char* kFemaleIndexVoice = "Sevra";

// A value of the engine's HKEY_LOCAL_MACHINE registry file (see EngineState::RegistryPath).
std::string Registry(const EngineState& state, const std::string& key, const std::string& name) {
    return CommonFunc::VariantText(CommonFunc::GetRegistryValue(RootKey::LocalMachine, key, name, state.RegistryPath));
}

// Existence checks that never raise: a path that cannot be examined (no search permission, a
// symbolic link loop) counts as missing, so start-up reports it like a missing file.
bool IsFile(const std::string& path) {
    std::error_code ec;
    return fs::is_regular_file(path, ec);
}

bool IsFolder(const std::string& path) {
    std::error_code ec;
    return fs::is_directory(path, ec);
}

}  // namespace

IAPI::IAPI() = default;
IAPI::~IAPI() { mSequencer::Detach(audio_); }

void IAPI::Initialise() {
    state_.Log.Traced(kInitialiseProc, [&](mLog::ProcTrace&) {
        if (!state_.IsInitialised) RunStartUp();
    });
}

void IAPI::ReadSettings() {
    EngineState& s = state_;
    EngineSettings& set = s.Settings;
    const std::string languageKey = std::string(kMainKey) + s.LanguageKeySuffix;
    // The values are read in a fixed order; the log starts as soon as its folder and level are known.
    set.MyRecordsPath = Registry(s, kMainKey, "MyRecordsPath");
    set.ApplicationPath = Registry(s, kMainKey, "ApplicationPath");
    set.ParametersINIFileName = Registry(s, languageKey, "ParametersINIFileName");
    set.SequenceLen = ToLong("SequenceLen", Registry(s, kMainKey, "SequenceLen"), 4);
    set.TimeBetweenMyFoldersCheck = ToLong("TimeBetweenMyFoldersCheck", Registry(s, kMainKey, "TimeBetweenMyFoldersCheck"), 60);
    set.MaleVoiceName = Registry(s, languageKey, "MaleVoiceName");
    set.FemaleVoiceName = Registry(s, languageKey, "FemaleVoiceName");
    set.MaleVoiceName1 = Registry(s, languageKey, "MaleVoiceName1");
    set.FemaleVoiceName1 = Registry(s, languageKey, "FemaleVoiceName1");
    set.SystemVoicePath = Registry(s, kMainKey, "SystemVoicePath");
    set.LogLocation = Registry(s, kMainKey, "LogLocation");
    set.LogLevel = ToInteger("LogLevel", Registry(s, kMainKey, "LogLevel"), mLog::kTrace);
    s.Log.LogInit(set.LogLocation + "/Tolvin_Log.log", set.LogLevel);
    set.PlaybackAccelerationRate = ToLong("PlaybackAccelerationRate", Registry(s, kMainKey, "PlaybackAccelerationRate"), 0);
    set.MissingWordPolicy = ParseMissingWordPolicy(CommonFunc::GetIniValue(set.IniPath(), "General", "MissingWordPolicy"));
    set.MissingWordSignal = CommonFunc::GetIniValue(set.IniPath(), "General", "MissingWordSignal");
    set.ConvertMP32WAV = ToBoolean(Registry(s, kMainKey, "ConvertMP32WAV"));
    set.AvoidShortNames = ToBoolean(Registry(s, kMainKey, "AvoidShortNames"));
    set.AudioSink = Registry(s, kMainKey, "AudioSink");
    if (s.LanguageClass == 3) set.MissingWordSignal = AnsiText::ToLower(set.MissingWordSignal);
}

void IAPI::ConnectDatabase() {
    EngineState& s = state_;
    s.Prefixes = PrefixTable{};
    s.VoiceReady[0] = s.VoiceReady[1] = true;
    std::string reason;
    if (s.Database.DbConnect(s.Settings.DictionaryFolder(), &reason) == 0) {
        if (s.Log.Progress()) s.Log.LogWrite("DB Connection established successfully..  " + s.Elapsed());
        if (s.Database.LoadPrefixes(s.Prefixes, s.AnsiCodePage, &reason) != 0) {
            s.VoiceReady[0] = s.VoiceReady[1] = false;
            s.Log.LogWrite("FAILED to get profixes .. Assuming no smart lookup.. ");
            s.Log.LogReason(reason);
        } else if (s.Log.Progress()) {
            s.Log.LogWrite("Prefixes were retrived ( " + std::to_string(s.Prefixes.Count) + ")" + s.Elapsed());
        }
    } else {
        s.Log.LogWrite("DB Connection failed .. Assuming no smart lookup.. ");
        s.Log.LogReason(reason);
        s.VoiceReady[0] = s.VoiceReady[1] = false;
    }
}

void IAPI::ReadSeparatorSets() {
    EngineState& s = state_;
    const std::string ini = s.Settings.IniPath();
    s.Log.LogWrite("Ini file detected at " + ini);
    s.Settings.PreSpellWord = CommonFunc::GetIniValue(ini, "General", "PreSpellWord");
    if (s.LanguageClass == 3) s.Settings.PreSpellWord = AnsiText::ToLower(s.Settings.PreSpellWord);
    std::string sentences = CommonFunc::GetIniValue(ini, "TXRS", "sentences");
    std::string words = CommonFunc::GetIniValue(ini, "TXRS", "words");
    s.SentenceSet = std::make_shared<Dictionary>();
    s.WordSet = std::make_shared<Dictionary>();
    auto fill = [](Dictionary& set, const std::string& list) {
        if (list.empty()) return;
        std::stringstream ss(list);
        std::string piece;
        while (std::getline(ss, piece, ',')) set.Add(piece, piece);
        if (list.back() == ',') set.Add("", "");
    };
    fill(*s.SentenceSet, sentences);
    fill(*s.WordSet, words);
}

void IAPI::LoadRecordings() {
    EngineState& s = state_;
    const char* names[2] = {"Male", "Female"};
    for (int slot = 0; slot < 2; ++slot) {
        std::string folder = s.Settings.MyRecordsPath + "/" + s.VoiceNames[slot];
        s.Log.LogWrite(std::string(names[slot]) + " user records are at " + folder);
        s.MyRecordsSizeCache[slot] = mRecordings::FolderSize(folder);
        if (s.Log.Detail())
            s.Log.LogWrite(std::string(names[slot]) + " MyRecords size cached as " + std::to_string(s.MyRecordsSizeCache[slot]));
        s.UserDictionaries[slot] = std::make_shared<Dictionary>();
        // The notification sink exists before the recordings are enumerated.
        if (slot == 0 && !audio_.NotifyWindow) audio_.NotifyWindow = std::make_unique<NotifySink>();
        int32_t files = 0, folders = 0;
        std::string path = folder;
        mRecordings::EnumerateFiles(path, "*.*", files, folders, *s.UserDictionaries[slot], s.LowerCaseWords(), s.AnsiCodePage);
        if (s.Log.Progress())
            s.Log.LogWrite(std::string(names[slot]) + " user Dictionary loaded from " + folder + ": totally " +
                           std::to_string(files) + (slot == 0 ? " Files :" : " Files : ") + s.Elapsed());
    }
    s.LastFolderCheck = std::chrono::system_clock::now();
}

void IAPI::LoadSystemRecordings() {
    EngineState& s = state_;
    for (int slot = 0; slot < 2; ++slot) {
        std::string folder = s.Settings.SystemVoicePath + "/" + s.VoiceNames[slot];
        if (!IsFolder(folder))
            mLog::RaiseEngineError(kInitialiseProc, "System voice folder " + folder + " does not exists", 999);
        s.SystemDictionaries[slot] = std::make_shared<Dictionary>();
        int32_t files = 0, folders = 0;
        std::string path = folder;
        mRecordings::EnumerateFiles(path, "*.*", files, folders, *s.SystemDictionaries[slot], s.LowerCaseWords(), s.AnsiCodePage);
    }
    if (s.Log.Progress()) s.Log.LogWrite("System voices were loaded after " + s.Elapsed());
    s.LastFolderCheck = std::chrono::system_clock::now();
}

void IAPI::LoadIndexes() {
    EngineState& s = state_;
    const char* voices[2] = {kMaleIndexVoice, kFemaleIndexVoice};
    const char* sexes[2] = {"male", "female"};
    const char* headings[2] = {"Male", "Female"};
    for (int slot = 0; slot < 2; ++slot) {
        s.IndexDictionaries[slot] = std::make_shared<Dictionary>();
        std::string path = mIndexFiles::IndexFilePath(s.Settings.ApplicationPath, voices[slot]);
        s.Log.LogWrite(std::string(headings[slot]) + " index loaded from " + path);
        std::string reason;
        if (mIndexFiles::LoadIndex(path, *s.IndexDictionaries[slot], s.BinFileCount[slot], s.LowerCaseWords(),
                                   s.AnsiCodePage, &reason) != 0) {
            s.VoiceReady[slot] = false;
            s.Log.LogWrite(std::string("FAILED to load ") + sexes[slot] + " voice index from " + path);
            s.Log.LogReason(reason);
        } else if (s.Log.Progress()) {
            s.Log.LogWrite("Loaded " + std::to_string(s.IndexDictionaries[slot]->Count()) + " entries for " + sexes[slot] +
                           " voice after" + s.Elapsed());
        }
    }
}

void IAPI::DetectBinaryFiles() {
    EngineState& s = state_;
    if (s.Log.Progress()) s.Log.LogWrite("Going to detect Binary files....");
    for (int32_t n = 1; n <= s.BinFileCount[0]; ++n) {
        std::string path = mIndexFiles::BinFilePath(s.Settings.ApplicationPath, kMaleIndexVoice, n);
        const std::string problem = mIndexFiles::NotARegularFile(path);
        if (problem.empty()) {
            s.Log.LogWrite("male voice binary file #" + std::to_string(n) + " detected at " + path);
        } else {
            s.Log.LogWrite("FAILED to detect male voice binary file at " + path);
            s.Log.LogReason(problem);
            s.VoiceReady[0] = false;
        }
    }
    for (int32_t n = 1; n <= s.BinFileCount[1]; ++n) {
        std::string path = mIndexFiles::BinFilePath(s.Settings.ApplicationPath, kFemaleIndexVoice, n);
        const std::string problem = mIndexFiles::NotARegularFile(path);
        if (problem.empty()) {
            if (s.Log.Progress()) s.Log.LogWrite("Female voice binary file #" + std::to_string(n) + " detected at " + path);
        } else {
            if (s.Log.Progress()) s.Log.LogWrite("FAILED to detect female voice binary file at " + path);
            s.Log.LogReason(problem);
            s.VoiceReady[1] = false;
        }
    }
    if (s.Log.Progress()) s.Log.LogWrite("Detection of binary files after " + s.Elapsed());
    s.BinFileHandles[0] = 1;
    s.BinFileHandles[1] = 2;
}

void IAPI::RunStartUp() {
    EngineState& s = state_;
    ManageCodePage::LoadLanguageTable();
    s.LanguageClass = ManageCodePage::GetSystemLanguageIndex(s.RegistryPath);
    std::string suffix;
    ManageCodePage::GetLanguageKeySuffix(s.LanguageClass, suffix);
    s.LanguageKeySuffix = suffix.empty() ? "" : "\\" + suffix;
    std::string lcid = ManageCodePage::GetLanguageLcid(s.LanguageClass);
    s.LocaleId = lcid.empty() ? 0 : ToLong("locale identifier", lcid, 1037);
    s.AnsiCodePage = ManageCodePage::GetLanguageAnsiCodePage(s.LanguageClass);
    s.Log.SetLogCodePage(s.AnsiCodePage);
    ReadSettings();
    if (s.Log.Progress()) {
        s.StartTimer();
        s.Log.LogWrite("Initialization request arrived at " + mLog::SystemDateTimeText());
    }
    s.SelectedVoice = 0;
    s.ActiveVoice = 0;
    if (s.Log.Progress()) s.Log.LogWrite("All registry settings are taken : elapsed time " + s.Elapsed());
    s.VoiceCount = EngineState::kVoiceCount;
    s.VoiceNames = {s.Settings.MaleVoiceName, s.Settings.FemaleVoiceName, s.Settings.MaleVoiceName1,
                    s.Settings.FemaleVoiceName1, ""};
    s.VoicePermissions = {VoicePermission{true, false, false}, VoicePermission{true, false, false},
                          VoicePermission{true, true, true}, VoicePermission{true, true, true}, VoicePermission{}};
    if (s.Log.Progress()) s.Log.LogWrite("Voice persmissions were initialized after  " + s.Elapsed());
    s.UserDictionaries = {};
    s.SystemDictionaries = {};
    s.IndexDictionaries = {};
    mRecordings::EnsureMyRecordsRoot(s);
    if (s.Log.Progress()) s.Log.LogWrite("My records path at " + s.Settings.MyRecordsPath + " " + s.Elapsed());
    mRecordings::EnsureVoiceFolder(s, 0);
    mRecordings::EnsureVoiceFolder(s, 1);
    ConnectDatabase();
    if (!IsFile(s.Settings.IniPath()))
        mLog::RaiseEngineError(kInitialiseProc, "Ini File does not exists at " + s.Settings.IniPath(), 999);
    ReadSeparatorSets();
    LoadRecordings();
    LoadSystemRecordings();
    LoadIndexes();
    DetectBinaryFiles();
    if (s.Log.Progress()) {
        s.Log.LogWrite(std::string(" Male Voice initiated") + (s.VoiceReady[0] ? " PROPERLY " : " >>> INPROPERLY <<< "));
        s.Log.LogWrite(std::string(" Female Voice initiated") + (s.VoiceReady[1] ? " PROPERLY" : " >>> INPROPERLY <<< "));
    }
    s.IsIdle = true;
    if (s.Log.Progress()) s.Log.LogWrite("All Initialize done after " + s.Elapsed());
    audio_.NotifyWindow->AttachHandler(
        [this](uint32_t message, long wParam, long lParam) {
            return mSequencer::OnNotify(state_, audio_, message, wParam, lParam);
        },
        NotifySink::MM_MCINOTIFY);
    mSequencer::Attach(s, audio_);
    s.IsInitialised = true;
}

int32_t IAPI::ListNumberOfVoices() const { return state_.VoiceCount; }

std::string IAPI::ListVoiceName(int32_t idxvoice) const {
    if (idxvoice < 1 || idxvoice > 5)
        RuntimeErrors::Raise(RuntimeErrors::SubscriptOutOfRange, "voice index " + std::to_string(idxvoice));
    return state_.VoiceNames[idxvoice - 1];
}

void IAPI::SelectVoice(int32_t idxvoice) {
    const int32_t selected = EngineState::Shifted(idxvoice, -1, "voice index");
    bool detailed = state_.Log.Detail();
    if (detailed) {
        state_.StartTimer();
        state_.Log.LogWrite("SelectVoice called at " + mLog::SystemDateTimeText());
    }
    state_.SelectedVoice = selected;
    if (detailed) state_.Log.LogWrite("SelectVoice done in  " + state_.Elapsed());
}

int32_t IAPI::Speak(const std::string& text) { return mSpeak::Speak(state_, audio_, text); }

int32_t IAPI::StopSpeak() { return mSequencer::StopSpeak(state_, audio_); }

std::optional<int32_t> IAPI::EnumerateFiles(std::string& path, std::string& searchStr, int32_t& fileCount,
                                            int32_t& dirCount, Dictionary& oDic) {
    int32_t dirsBefore = dirCount;
    // A client may name any folder ("/" too): the walk is bounded so that the service keeps serving.
    const mRecordings::WalkBound bound = mRecordings::kClientWalkBound;
    if (!mRecordings::EnumerateFiles(path, searchStr, fileCount, dirCount, oDic, state_.LowerCaseWords(),
                                     state_.AnsiCodePage, bound))
        state_.Log.LogWriteQuietly("EnumerateFiles of " + path + " stopped after " + std::to_string(bound.time.count()) +
                                   " ms or " + std::to_string(bound.entries) + " entries; answered with the " +
                                   std::to_string(oDic.Count()) + " words found until then");
    if (dirCount != dirsBefore) return 0;
    return std::nullopt;
}

namespace {
// The slot of a recordings voice a client names by its 1-based number (checked before any
// arithmetic on it): error 9 outside the slots.
int RecordingsSlot(int32_t idxvoice) {
    if (idxvoice < 1 || idxvoice > EngineState::kSlots)
        RuntimeErrors::Raise(RuntimeErrors::SubscriptOutOfRange, "voice index " + std::to_string(idxvoice));
    return idxvoice - 1;
}
}  // namespace

int32_t IAPI::GetWordsNumber(int32_t idxvoice) const {
    return static_cast<int32_t>(state_.UserDictionary(RecordingsSlot(idxvoice)).Count());
}

int32_t IAPI::GetDictionary(int32_t idxvoice) const {
    const Dictionary& dict = state_.UserDictionary(RecordingsSlot(idxvoice));
    const std::string& folder = state_.Settings.LogLocation;
    std::string file = idxvoice == 1   ? folder + "/" + state_.VoiceNames[0] + "_Dict.txt"
                       : idxvoice == 2 ? folder + "/" + state_.VoiceNames[1] + "_Dict.txt"
                                       : folder + "/empty.txt";
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    if (!out) RuntimeErrors::Raise(RuntimeErrors::PathFileAccessError, "cannot write " + file);
    for (const auto& [word, path] : dict.Entries()) out << state_.Codec().ToAnsi(word) << "\r\n";
    out.flush();
    if (!out) RuntimeErrors::Raise(RuntimeErrors::PathFileAccessError, "cannot write " + file);
    return 0;
}

void IAPI::WindowsMediaPlayer1_PlayStateChange(int32_t, int32_t) {}

void IAPI::DumpFile(const std::string& dumpFolder, int32_t mActiveVoice, const std::string& word) {
    // The dump keeps its own failures from the caller, but a voice whose client number (voice + 1)
    // cannot even be formed is the caller's error.
    EngineState::Shifted(mActiveVoice, 1, "voice");
    mDump::DumpFile(state_, dumpFolder, mActiveVoice, word);
}

std::string IAPI::GetVoiceNameByVoiceID(int32_t) const { return state_.ActiveVoice == 2 ? "Male" : "Female"; }

std::shared_ptr<Dictionary> IAPI::ExportRavekDictionary() { return mDump::ExportRavekDictionary(state_); }

void IAPI::SetSystemVolume(int16_t leftVol, int16_t rightVol) { mSequencer::SetSystemVolume(state_, audio_, leftVol, rightVol); }
