#include "IAPI.h"

#include <climits>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "AutomationError.h"
#include "CommonFunc.h"
#include "ManageCodePage.h"
#include "RegistryFile.h"
#include "RegularFile.h"
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

// A value of the engine's HKEY_LOCAL_MACHINE registry file, loaded once per start-up.
std::string RegistryText(const RegistryFile::Document& registry, const std::string& key, const std::string& name) {
    return CommonFunc::VariantText(CommonFunc::GetRegistryValue(registry, RootKey::LocalMachine, key, name));
}

std::string RegistryFileName(const EngineState& state) {
    return CommonFunc::RegistryPath(RootKey::LocalMachine, state.RegistryPath).string();
}

// The INI file is read key by key with the platform's reader, which takes an unreadable file for
// a missing one; an INI file that exists but cannot be read is an error naming it instead of a
// start-up that goes on with every INI value empty.
void RequireReadableIni(const std::string& path) {
    RegularFile::Contents ini = RegularFile::Read(path);
    if (ini.State == RegularFile::Status::Unreadable)
        RuntimeErrors::Raise(RuntimeErrors::PathFileAccessError, "cannot read the INI file " + path + " (" + ini.Reason + ")");
}

// Fills a separator set from its INI value; a code listed twice keeps its error number (457) but
// names where it is written.
void FillSeparatorSet(Dictionary& set, const std::string& list, const std::string& ini, const std::string& key) {
    if (list.empty()) return;
    std::vector<std::string> pieces;
    std::stringstream ss(list);
    for (std::string piece; std::getline(ss, piece, ',');) pieces.push_back(piece);
    if (list.back() == ',') pieces.emplace_back();
    for (const std::string& piece : pieces)
        if (!set.TryAdd(piece, piece))
            RuntimeErrors::Raise(RuntimeErrors::KeyAlreadyAssociated,
                                 "the separator code \"" + piece + "\" is listed twice in the INI file " + ini +
                                     ", section [TXRS], key " + key + " (\"" + list + "\")");
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

// How the binary files of one voice are named and reported.
struct BinaryFileLines {
    const char* voice;     // file name part: Galev, Sevra
    const char* sex;       // "male", "female"
    const char* detected;  // start of the line of a file found
    bool write;            // whether this voice's lines are written at the log's level
};

// Checks the binary files 1..count of one voice; false when one is missing. Only the files that
// exist are examined one by one: a run of missing numbers is reported once, by its first file's
// line and a line naming the whole run, so an index naming file 2147483647 costs no more than
// one naming the files that are there.
bool DetectVoiceBinaryFiles(const EngineState& s, const BinaryFileLines& voice, int32_t count) {
    const std::string& app = s.Settings.ApplicationPath;
    bool complete = true;
    auto failed = [&](int32_t n, const std::string& why) {
        complete = false;
        if (!voice.write) return;
        s.Log.LogWrite(std::string("FAILED to detect ") + voice.sex + " voice binary file at " + mIndexFiles::BinFilePath(app, voice.voice, n));
        s.Log.LogReason(why);
    };
    auto missingRun = [&](int64_t from, int64_t to) {
        failed(static_cast<int32_t>(from), "no such file");
        if (to > from && voice.write)
            s.Log.LogWrite(std::string(voice.sex) + " voice binary files #" + std::to_string(from) + " to #" +
                           std::to_string(to) + " do not exist");
    };
    int64_t expected = 1;
    for (int32_t n : mIndexFiles::ExistingBinFileNumbers(app, voice.voice, count)) {
        if (n > expected) missingRun(expected, n - 1);
        const std::string path = mIndexFiles::BinFilePath(app, voice.voice, n);
        const std::string problem = mIndexFiles::NotARegularFile(path);
        if (!problem.empty()) failed(n, problem);
        else if (voice.write) s.Log.LogWrite(voice.detected + std::to_string(n) + " detected at " + path);
        expected = int64_t{n} + 1;
    }
    if (expected <= count) missingRun(expected, count);
    return complete;
}

}  // namespace

IAPI::IAPI() = default;
IAPI::~IAPI() { mSequencer::Detach(audio_); }

void IAPI::Initialise() {
    state_.Log.Traced(kInitialiseProc, [&](mLog::ProcTrace&) {
        if (!state_.IsInitialised) RunStartUp();
    });
}

void IAPI::ReadSettings(const RegistryFile::Document& registry) {
    EngineState& s = state_;
    EngineSettings& set = s.Settings;
    const std::string languageKey = std::string(kMainKey) + s.LanguageKeySuffix;
    auto Registry = [&](const std::string& key, const std::string& name) { return RegistryText(registry, key, name); };
    // The values are read in a fixed order; the log starts as soon as its folder and level are known.
    set.MyRecordsPath = Registry(kMainKey, "MyRecordsPath");
    set.ApplicationPath = Registry(kMainKey, "ApplicationPath");
    set.ParametersINIFileName = Registry(languageKey, "ParametersINIFileName");
    set.SequenceLen = ToLong("SequenceLen", Registry(kMainKey, "SequenceLen"), 4);
    set.TimeBetweenMyFoldersCheck = ToLong("TimeBetweenMyFoldersCheck", Registry(kMainKey, "TimeBetweenMyFoldersCheck"), 60);
    set.MaleVoiceName = Registry(languageKey, "MaleVoiceName");
    set.FemaleVoiceName = Registry(languageKey, "FemaleVoiceName");
    set.MaleVoiceName1 = Registry(languageKey, "MaleVoiceName1");
    set.FemaleVoiceName1 = Registry(languageKey, "FemaleVoiceName1");
    set.SystemVoicePath = Registry(kMainKey, "SystemVoicePath");
    set.LogLocation = Registry(kMainKey, "LogLocation");
    set.LogLevel = ToInteger("LogLevel", Registry(kMainKey, "LogLevel"), mLog::kTrace);
    // Without a log folder the log would go to the root folder: refused, naming the setting.
    if (set.LogLocation.empty())
        RuntimeErrors::Raise(RuntimeErrors::PathFileAccessError, "registry file " + RegistryFileName(s) +
                                                                     " has no LogLocation under HKEY_LOCAL_MACHINE\\" + kMainKey);
    s.Log.LogInit(set.LogLocation + "/Tolvin_Log.log", set.LogLevel);
    set.PlaybackAccelerationRate = ToLong("PlaybackAccelerationRate", Registry(kMainKey, "PlaybackAccelerationRate"), 0);
    RequireReadableIni(set.IniPath());
    set.MissingWordPolicy = ParseMissingWordPolicy(CommonFunc::GetIniValue(set.IniPath(), "General", "MissingWordPolicy", s.AnsiCodePage));
    set.MissingWordSignal = CommonFunc::GetIniValue(set.IniPath(), "General", "MissingWordSignal", s.AnsiCodePage);
    set.ConvertMP32WAV = ToBoolean(Registry(kMainKey, "ConvertMP32WAV"));
    set.AvoidShortNames = ToBoolean(Registry(kMainKey, "AvoidShortNames"));
    set.AudioSink = Registry(kMainKey, "AudioSink");
    if (s.LanguageClass == 3) set.MissingWordSignal = AnsiText::ToLower(set.MissingWordSignal);
}

// Opens the lookup database and reads its prefixes; false (logged) when either fails.
bool IAPI::ConnectDatabase() {
    EngineState& s = state_;
    s.Prefixes = PrefixTable{};
    std::string reason;
    if (s.Database.DbConnect(s.Settings.DictionaryFolder(), &reason) != 0) {
        s.Log.LogWrite("DB Connection failed .. Assuming no smart lookup.. ");
        s.Log.LogReason(reason);
        return false;
    }
    if (s.Log.Progress()) s.Log.LogWrite("DB Connection established successfully..  " + s.Elapsed());
    if (s.Database.LoadPrefixes(s.Prefixes, s.AnsiCodePage, &reason) != 0) {
        s.Log.LogWrite("FAILED to get profixes .. Assuming no smart lookup.. ");
        s.Log.LogReason(reason);
        return false;
    }
    if (s.Log.Progress()) s.Log.LogWrite("Prefixes were retrived ( " + std::to_string(s.Prefixes.Count) + ")" + s.Elapsed());
    return true;
}

// A database that another program held locked at start-up is tried again before the lookups of
// each later request, until it opens or fails for another reason; the voices whose own files
// loaded become ready when it opens.
void IAPI::RetryDatabaseWhenUnlocked(std::array<bool, 2> filesReady) {
    EngineState& s = state_;
    if (!s.Database.FailedOnLock()) return;
    s.Database.RetryBeforeNextLookups([this, filesReady] {
        EngineState& st = state_;
        if (st.Log.Progress()) st.Log.LogWriteQuietly("Lookup database was locked at start-up: connecting again");
        try {
            if (ConnectDatabase()) {
                st.VoiceReady[0] = filesReady[0];
                st.VoiceReady[1] = filesReady[1];
                return true;
            }
        } catch (const std::exception&) {
            // the log could not be written: the outcome stands as it is
        }
        return !st.Database.FailedOnLock();
    });
}

void IAPI::ReadSeparatorSets() {
    EngineState& s = state_;
    const std::string ini = s.Settings.IniPath();
    s.Log.LogWrite("Ini file detected at " + ini);
    s.Settings.PreSpellWord = CommonFunc::GetIniValue(ini, "General", "PreSpellWord", s.AnsiCodePage);
    if (s.LanguageClass == 3) s.Settings.PreSpellWord = AnsiText::ToLower(s.Settings.PreSpellWord);
    std::string sentences = CommonFunc::GetIniValue(ini, "TXRS", "sentences", s.AnsiCodePage);
    std::string words = CommonFunc::GetIniValue(ini, "TXRS", "words", s.AnsiCodePage);
    s.SentenceSet = std::make_shared<Dictionary>();
    s.WordSet = std::make_shared<Dictionary>();
    FillSeparatorSet(*s.SentenceSet, sentences, ini, "sentences");
    FillSeparatorSet(*s.WordSet, words, ini, "words");
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

std::array<bool, 2> IAPI::LoadIndexes() {
    EngineState& s = state_;
    std::array<bool, 2> loaded = {true, true};
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
            loaded[slot] = false;
            s.Log.LogWrite(std::string("FAILED to load ") + sexes[slot] + " voice index from " + path);
            s.Log.LogReason(reason);
        } else if (s.Log.Progress()) {
            s.Log.LogWrite("Loaded " + std::to_string(s.IndexDictionaries[slot]->Count()) + " entries for " + sexes[slot] +
                           " voice after" + s.Elapsed());
        }
    }
    return loaded;
}

std::array<bool, 2> IAPI::DetectBinaryFiles() {
    EngineState& s = state_;
    std::array<bool, 2> found = {true, true};
    if (s.Log.Progress()) s.Log.LogWrite("Going to detect Binary files....");
    // The male lines are written at every level, the female ones above level 0.
    const BinaryFileLines lines[2] = {{kMaleIndexVoice, "male", "male voice binary file #", true},
                                      {kFemaleIndexVoice, "female", "Female voice binary file #", s.Log.Progress()}};
    for (int slot = 0; slot < 2; ++slot)
        found[slot] = DetectVoiceBinaryFiles(s, lines[slot], s.BinFileCount[slot]);
    if (s.Log.Progress()) s.Log.LogWrite("Detection of binary files after " + s.Elapsed());
    s.BinFileHandles[0] = 1;
    s.BinFileHandles[1] = 2;
    return found;
}

void IAPI::RunStartUp() {
    EngineState& s = state_;
    ManageCodePage::LoadLanguageTable();
    // The registry file is read once: every setting below comes from this one parse.
    const RegistryFile::Document registry = CommonFunc::LoadExistingRegistry(RootKey::LocalMachine, s.RegistryPath);
    s.LanguageClass = ManageCodePage::LanguageIndexOf(registry);
    std::string suffix;
    ManageCodePage::GetLanguageKeySuffix(s.LanguageClass, suffix);
    s.LanguageKeySuffix = suffix.empty() ? "" : "\\" + suffix;
    std::string lcid = ManageCodePage::GetLanguageLcid(s.LanguageClass);
    s.LocaleId = lcid.empty() ? 0 : ToLong("locale identifier", lcid, 1037);
    s.AnsiCodePage = ManageCodePage::GetLanguageAnsiCodePage(s.LanguageClass);
    s.Log.SetLogCodePage(s.AnsiCodePage);
    ReadSettings(registry);
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
    s.Database.RetryBeforeNextLookups(nullptr);
    s.VoiceReady[0] = s.VoiceReady[1] = true;
    const bool databaseReady = ConnectDatabase();
    if (!databaseReady) s.VoiceReady[0] = s.VoiceReady[1] = false;
    if (!IsFile(s.Settings.IniPath()))
        mLog::RaiseEngineError(kInitialiseProc, "Ini File does not exists at " + s.Settings.IniPath(), 999);
    ReadSeparatorSets();
    LoadRecordings();
    LoadSystemRecordings();
    const std::array<bool, 2> indexesLoaded = LoadIndexes();
    const std::array<bool, 2> binariesFound = DetectBinaryFiles();
    const std::array<bool, 2> filesReady = {indexesLoaded[0] && binariesFound[0], indexesLoaded[1] && binariesFound[1]};
    for (int slot = 0; slot < 2; ++slot)
        if (!filesReady[slot]) s.VoiceReady[slot] = false;
    if (!databaseReady) RetryDatabaseWhenUnlocked(filesReady);
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
