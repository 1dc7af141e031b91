#pragma once
// A complete RavekVoice installation in a fresh temporary folder, for tests.
//
//   ravektest::Installation inst;            // written at once with the defaults below
//   IAPI api;
//   api.Initialise();                        // reads inst's registry file through $RAVEK_REGISTRY
//   EXPECT_TRUE(inst.LogContains("DB Connection established successfully.."));
//
// To change something, pass options or edit Options() and call Write() again:
//
//   ravektest::InstallationOptions o;
//   o.Registry["LogLevel"] = ravektest::RegValue::Dword(0);
//   o.Registry.erase("SequenceLen");                       // value absent
//   o.Registry["SequenceLen"] = ravektest::RegValue::Raw("hex:01,02");  // any ".reg" data
//   o.Ini["General"]["MissingWordPolicy"] = "spell";
//   o.Male.Words.push_back({"שָׁלוֹם", ravektest::kToneA, 2});
//   o.Female.Present = false;                             // no index/binary files for Sevra
//   ravektest::Installation inst(o);
//
// Layout under Root() (every folder path below is given without a trailing "/"):
//   registry.reg                     HKLM registry file ($RAVEK_REGISTRY while the fixture lives)
//   app/                             ApplicationPath
//   app/RavekParams.ini              INI file (Windows-1255, CR LF)
//   app/RavekDictionary/             Ravek-Index__Galev.txt, Ravek-Dict__Galev_n.bin, the same
//                                    for Sevra, and Ravek.db (built with VoicePack in-process)
//   MyRecords/<MaleVoiceName>/       user recordings of slot 0 (and <FemaleVoiceName>/ slot 1)
//   system/<MaleVoiceName>/          system recordings of slot 0 (and <FemaleVoiceName>/ slot 1)
//   log/                             LogLocation; the engine writes Tolvin_Log.log here
//
// Registry string values may contain "{root}", replaced by Root() when written.
// The fixture is not thread-safe (it changes the process environment).
#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace ravektest {

// ---- committed test clips (tests/data/clips, made by scripts/make-test-clips.sh) ----
// Sine tones, 22,050 Hz mono MP3 with their LAME tag, 0.15 to 0.4 s long.
inline constexpr const char* kToneA = "tone_a_220hz_150ms.mp3";
inline constexpr const char* kToneB = "tone_b_330hz_200ms.mp3";
inline constexpr const char* kToneC = "tone_c_440hz_250ms.mp3";
inline constexpr const char* kToneD = "tone_d_550hz_300ms.mp3";
inline constexpr const char* kToneE = "tone_e_660hz_350ms.mp3";
inline constexpr const char* kToneF = "tone_f_770hz_400ms.mp3";
inline constexpr const char* kToneG = "tone_g_880hz_200ms.mp3";
inline constexpr const char* kToneH = "tone_h_990hz_150ms.mp3";
// 16-bit PCM WAV, 22,050 Hz mono.
inline constexpr const char* kSignalWav = "signal_1000hz_200ms.wav";
inline constexpr const char* kToneWav = "tone_600hz_150ms.wav";

// Folder of the committed clips.
std::filesystem::path ClipsFolder();
// A clip by name: a committed clip name (above) or an absolute path, returned as a full path.
std::filesystem::path Clip(const std::string& nameOrPath);
// The bytes of a file ("" when it cannot be read).
std::string ReadFileBytes(const std::filesystem::path& file);
// Writes bytes to a file, creating its folders.
void WriteFileBytes(const std::filesystem::path& file, const std::string& bytes);

// A fresh empty folder under $TMPDIR (or /tmp), removed with everything in it on destruction
// (folders a test made unreadable included).
class TempFolder {
public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    const std::filesystem::path& Path() const { return path_; }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

private:
    std::filesystem::path path_;
};

// A full disk: a 64 KiB tmpfs mounted at `at` and filled up, unmounted on destruction. Mounting
// needs the right to mount (root): a test skips when Mounted() is false.
class FullDisk {
public:
    explicit FullDisk(const std::filesystem::path& at);
    ~FullDisk();
    FullDisk(const FullDisk&) = delete;
    FullDisk& operator=(const FullDisk&) = delete;
    bool Mounted() const { return mounted_; }
    const std::filesystem::path& Path() const { return path_; }
    bool HoldsOnlyTheFiller() const;  // nothing but the file that fills it

private:
    std::filesystem::path path_;
    bool mounted_ = false;
};

// The 27 Hebrew letter forms (22 letters and 5 final forms), UTF-8, in alphabetical order.
const std::vector<std::string>& HebrewLetters();

// ---- options ----

// One registry value as it appears after "Name"= in the ".reg" file.
struct RegValue {
    std::string Data;
    std::optional<std::string> Text;  // the text of a String value (before escaping)
    static RegValue String(const std::string& text);  // "text" (escaped); "{root}" expanded
    static RegValue Dword(uint32_t number);           // dword:0000002a
    static RegValue Raw(const std::string& data);     // verbatim, e.g. "hex:01,02", "dword:zz"
};

// One word of a dictionary voice.
struct DictionaryWord {
    std::string Word;      // UTF-8, pointed or not; may be several words ("בוקר טוב")
    std::string Clip;      // committed clip name or absolute path of an MP3
    int64_t TieBreak = 1;  // smaller wins among words of one naked spelling
};

struct DictionaryVoice {
    bool Present = true;  // false: no index and no binary files for this voice
    std::vector<DictionaryWord> Words;
    std::string DataVersion = "1.0:ravektest";
    uint64_t MaxBinSize = 50ull * 1024 * 1024;  // small values spread the clips over several files
};

struct PrefixRow {
    std::string Prefix;    // UTF-8, as a pointed word
    std::string FileName;  // recording of the prefix in the system folder (e.g. "ve.mp3")
    int64_t Priority = 0;
};

// Default dictionary words: the same words for both voices, Sevra with other clips.
//   "שלום" A, "שָׁלוֹם" B, "עוֹלָם" C, "בַּיִת" D, "סֵפֶר" E, "יֶלֶד" F, "בוקר טוב" G, "ספר" H (Galev)
std::vector<DictionaryWord> DefaultMaleWords();
std::vector<DictionaryWord> DefaultFemaleWords();
// Default prefixes: "וְ" ve.mp3 (1), "הַ" ha.mp3 (2), "בְּ" be.mp3 (3), "ו" ve.mp3 (4),
// "ה" ha.mp3 (5), "ב" be.mp3 (6).
std::vector<PrefixRow> DefaultPrefixes();
// Default system recordings of a voice folder (file name -> clip): "<letter>.mp3" for the 27
// letter forms, "signal.wav" (kSignalWav), "איות.mp3" (the pre-spell word), and the prefix
// sounds "ve.mp3", "ha.mp3", "be.mp3".
std::map<std::string, std::string> DefaultSystemRecordings();

struct InstallationOptions {
    // Values of HKEY_LOCAL_MACHINE\Software\RavekVoice (the Hebrew language key is the same
    // key). Defaults:
    //   MyRecordsPath "{root}/MyRecords"        ApplicationPath "{root}/app"
    //   ParametersINIFileName "RavekParams.ini" SequenceLen "4"
    //   TimeBetweenMyFoldersCheck "60"          MaleVoiceName "Dan"   FemaleVoiceName "Noa"
    //   MaleVoiceName1 "Galev"                  FemaleVoiceName1 "Sevra"
    //   SystemVoicePath "{root}/system"         LogLocation "{root}/log"
    //   LogLevel dword 99                       PlaybackAccelerationRate dword 0
    //   ConvertMP32WAV "0"                      AvoidShortNames "0"
    //   AudioSink "fakesink sync=false"
    // Erase an entry to leave the value out.
    std::map<std::string, RegValue> Registry;
    // "Default" of HKLM\System\CurrentControlSet\Control\Nls\Language: "040d" makes the language
    // Hebrew whatever the machine's locale; nullopt leaves it out (the POSIX locale decides).
    std::optional<std::string> LanguageDefault = "040d";
    // Appended verbatim to the registry file (further keys, e.g. a language sub-key).
    std::string ExtraRegistryText;

    // INI file (section -> key -> value), written in Windows-1255 with CR LF. Defaults:
    //   [General] MissingWordPolicy=beep, MissingWordSignal=signal, PreSpellWord=איות
    //   [TXRS]    sentences=46,63,33, words=32,44
    std::map<std::string, std::map<std::string, std::string>> Ini;
    bool WriteIni = true;                 // false: no INI file at all
    std::optional<std::string> RawIniBytes;  // when set, the INI file holds exactly these bytes

    // Dictionary voices Galev (male, slot 0) and Sevra (female, slot 1) with their lookup rows.
    DictionaryVoice Male;
    DictionaryVoice Female;
    bool WriteDatabase = true;  // false: no Ravek.db
    std::vector<PrefixRow> Prefixes;

    // User recordings per voice folder: file name (may hold sub-folders, "a/b.mp3") -> clip.
    // Defaults: male "תודה.mp3" (kToneH) and "בוקר.wav" (kToneWav); female "תודה.mp3" (kToneG).
    std::map<std::string, std::string> MaleRecordings;
    std::map<std::string, std::string> FemaleRecordings;
    bool CreateMyRecords = true;  // false: the MyRecords root is not created (the engine will)

    // System recordings per voice folder (file name -> clip); default DefaultSystemRecordings().
    std::map<std::string, std::string> MaleSystem;
    std::map<std::string, std::string> FemaleSystem;
    bool CreateMaleSystemFolder = true;  // false: system/<MaleVoiceName> is missing
    bool CreateFemaleSystemFolder = true;

    bool CreateLogFolder = true;

    InstallationOptions();  // fills every default above
};

// ---- the installation ----

class Installation {
public:
    // Creates the temporary root, writes the installation and points $RAVEK_REGISTRY at it.
    explicit Installation(InstallationOptions options = InstallationOptions());
    // Restores $RAVEK_REGISTRY, closes the engine's database connection, removes the root.
    ~Installation();
    Installation(const Installation&) = delete;
    Installation& operator=(const Installation&) = delete;

    InstallationOptions& Options() { return options_; }
    const InstallationOptions& Options() const { return options_; }
    // Writes the whole installation again from Options(): everything under Root() is removed
    // first (logs and recordings included).
    void Write();

    // Paths (the fixture's layout; overriding a registry path does not move them).
    const std::filesystem::path& Root() const { return root_; }
    std::filesystem::path RegistryFile() const;
    std::filesystem::path ApplicationPath() const;
    std::filesystem::path IniPath() const;
    std::filesystem::path DictionaryFolder() const;
    std::filesystem::path DatabasePath() const;
    std::filesystem::path IndexFile(int slot) const;           // slot 0 Galev, 1 Sevra
    std::filesystem::path BinFile(int slot, int32_t n) const;  // n from 1
    std::filesystem::path LogFolder() const;
    std::filesystem::path LogFile() const;  // Tolvin_Log.log
    std::filesystem::path MyRecordsRoot() const;
    std::filesystem::path MyRecordsFolder(int slot) const;  // slot 0 male, 1 female
    std::filesystem::path SystemRoot() const;
    std::filesystem::path SystemFolder(int slot) const;
    // Voice names as configured (MaleVoiceName / FemaleVoiceName; Galev / Sevra for the
    // dictionary voices).
    std::string VoiceName(int slot) const;
    static std::string DictionaryVoiceName(int slot);

    // The log's lines decoded from Windows-1255 to UTF-8 (empty when there is no log).
    std::vector<std::string> LogLines() const;
    // The messages of the log's LogWrite lines: "Ravek Debug Message " and " at <time>" removed;
    // other lines (procedure entry/exit, errors) as they stand.
    std::vector<std::string> LogMessages() const;
    // Whether a log message starts with `prefix`.
    bool LogContains(const std::string& prefix) const;

private:
    void WriteRegistry() const;
    void WriteIni() const;
    void WriteDictionary() const;
    void WriteRecordings() const;
    std::string Expand(const std::string& text) const;
    std::string RegistryText(const std::string& name) const;

    InstallationOptions options_;
    std::filesystem::path root_;
    std::optional<std::string> savedRegistryEnv_;
};

}  // namespace ravektest
