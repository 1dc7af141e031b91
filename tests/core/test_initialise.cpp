// Start-up of the engine object on whole installations: the log it writes, the ways it fails,
// the voice model and the small public methods around it.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "AnsiText.h"
#include "AutomationError.h"
#include "IAPI.h"
#include "Installation.h"
#include "mSpeak.h"

using namespace ravektest;
namespace fs = std::filesystem;

namespace {

const char* const kProc = "RavekVoice.exe!IAPI#Initialise";

AutomationError InitialiseError(IAPI& api) {
    try {
        api.Initialise();
    } catch (const AutomationError& e) {
        return e;
    }
    return AutomationError(0, "", "");
}

InstallationOptions AtLevel(uint32_t level) {
    InstallationOptions o;
    o.Registry["LogLevel"] = RegValue::Dword(level);
    return o;
}

// Checks that every message starts with its expected prefix, one for one.
void ExpectMessages(const std::vector<std::string>& messages, const std::vector<std::string>& prefixes) {
    ASSERT_EQ(messages.size(), prefixes.size()) << ::testing::PrintToString(messages);
    for (size_t i = 0; i < prefixes.size(); ++i)
        EXPECT_EQ(messages[i].substr(0, prefixes[i].size()), prefixes[i]) << "line " << i + 1 << ": " << messages[i];
}

std::vector<std::string> ReadLines(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

// ---- the log of a start-up ----

TEST(StartUpLog, EveryStepInOrderAtTheTraceLevel) {
    Installation inst;
    IAPI api;
    api.Initialise();
    const std::string male = inst.MyRecordsFolder(0).string(), female = inst.MyRecordsFolder(1).string();
    ExpectMessages(inst.LogMessages(),
                   {"Initialization request arrived at ",
                    "All registry settings are taken : elapsed time ",
                    "Voice persmissions were initialized after  ",
                    "My records path at " + inst.MyRecordsRoot().string() + " ",
                    "DB Connection established successfully..  ",
                    "Prefixes were retrived ( 5)",
                    "Ini file detected at " + inst.IniPath().string(),
                    "Male user records are at " + male,
                    "Male MyRecords size cached as ",
                    "Male user Dictionary loaded from " + male + ": totally 2 Files :",
                    "Female user records are at " + female,
                    "Female MyRecords size cached as ",
                    "Female user Dictionary loaded from " + female + ": totally 1 Files : ",
                    "System voices were loaded after ",
                    "Male index loaded from " + inst.IndexFile(0).string(),
                    "Loaded 9 entries for male voice after",
                    "Female index loaded from " + inst.IndexFile(1).string(),
                    "Loaded ",
                    "Going to detect Binary files....",
                    "male voice binary file #1 detected at " + inst.BinFile(0, 1).string(),
                    "Female voice binary file #1 detected at " + inst.BinFile(1, 1).string(),
                    "Detection of binary files after ",
                    " Male Voice initiated PROPERLY ",
                    " Female Voice initiated PROPERLY",
                    "All Initialize done after ",
                    std::string("End ") + kProc + " at "});
    EXPECT_TRUE(api.State().IsInitialised);
    EXPECT_TRUE(api.State().IsIdle);
}

TEST(StartUpLog, LevelZeroKeepsOnlyTheUnconditionalLines) {
    Installation inst(AtLevel(0));
    IAPI api;
    api.Initialise();
    ExpectMessages(inst.LogMessages(), {"Ini file detected at ", "Male user records are at ", "Female user records are at ",
                                        "Male index loaded from ", "Female index loaded from ",
                                        "male voice binary file #1 detected at "});
    // Every stamped line carries the prefix and the time stamp.
    for (const std::string& line : inst.LogLines())
        EXPECT_TRUE(line.rfind("Ravek Debug Message ", 0) == 0 && line.size() > 23 && line[line.size() - 20] == ' ') << line;
}

TEST(StartUpLog, SizesAreCachedQuietlyBelowLevelSix) {
    Installation inst(AtLevel(5));
    IAPI api;
    api.Initialise();
    EXPECT_FALSE(inst.LogContains("Male MyRecords size cached as "));
    EXPECT_FALSE(inst.LogContains("Log  Start"));
    EXPECT_TRUE(inst.LogContains("All Initialize done after "));
    EXPECT_GT(api.State().MyRecordsSizeCache[0], 0);
}

TEST(StartUpLog, SecondInitialiseOnlyTracesItself) {
    Installation inst;
    IAPI api;
    api.Initialise();
    api.SelectVoice(2);
    const size_t before = inst.LogLines().size();
    const auto names = api.State().VoiceNames;
    api.Initialise();
    const std::vector<std::string> lines = inst.LogLines();
    ASSERT_EQ(lines.size(), before + 2);
    EXPECT_EQ(lines[before].rfind(std::string("Log  Start") + kProc + " at ", 0), 0u) << lines[before];
    EXPECT_EQ(lines[before + 1].rfind(std::string("End ") + kProc + " at ", 0), 0u) << lines[before + 1];
    EXPECT_EQ(api.State().SelectedVoice, 1);  // not reset by the second call
    EXPECT_EQ(api.State().VoiceNames, names);
}

// ---- failures ----

TEST(StartUpFailure, MissingIniStopsAfterTheDatabaseWithExactLines) {
    InstallationOptions o = AtLevel(1);
    o.WriteIni = false;
    Installation inst(o);
    IAPI api;
    AutomationError e = InitialiseError(api);
    const std::string description = "Ini File does not exists at " + inst.IniPath().string();
    EXPECT_EQ(e.Number(), 999);
    EXPECT_EQ(e.Source(), kProc);
    EXPECT_EQ(e.Description(), description);
    ExpectMessages(inst.LogMessages(), {"Initialization request arrived at ", "All registry settings are taken : elapsed time ",
                                        "Voice persmissions were initialized after  ", "My records path at ",
                                        "DB Connection established successfully..  ", "Prefixes were retrived ( 5)",
                                        std::string("Error ") + kProc + description});
    EXPECT_EQ(inst.LogMessages().back(), std::string("Error ") + kProc + description);
    EXPECT_FALSE(api.State().IsInitialised);
    EXPECT_FALSE(api.State().IsIdle);
    EXPECT_EQ(api.ListNumberOfVoices(), 4);  // what the failed run set stays until the next run
}

TEST(StartUpFailure, PathsOfTheWrongKindCountAsMissing) {
    // An empty INI name leaves the application folder itself: a folder is not an INI file.
    InstallationOptions o;
    o.Registry["ParametersINIFileName"] = RegValue::String("");
    Installation inst(o);
    IAPI api;
    AutomationError e = InitialiseError(api);
    EXPECT_EQ(e.Number(), 999);
    EXPECT_EQ(e.Description().rfind("Ini File does not exists at ", 0), 0u) << e.Description();

    // A folder where a binary file should be is not a binary file.
    inst.Options().Registry["ParametersINIFileName"] = RegValue::String("RavekParams.ini");
    inst.Write();
    fs::remove(inst.BinFile(0, 1));
    fs::create_directory(inst.BinFile(0, 1));
    IAPI again;
    again.Initialise();
    EXPECT_TRUE(inst.LogContains("FAILED to detect male voice binary file at " + inst.BinFile(0, 1).string()));
    EXPECT_FALSE(again.State().VoiceReady[0]);
    EXPECT_TRUE(again.State().VoiceReady[1]);
}

TEST(StartUpFailure, MissingSystemFolderFailsAfterTheUserRecordingsAndCanBeRetried) {
    for (int slot : {0, 1}) {
        InstallationOptions o;
        (slot == 0 ? o.CreateMaleSystemFolder : o.CreateFemaleSystemFolder) = false;
        Installation inst(o);
        IAPI api;
        AutomationError e = InitialiseError(api);
        EXPECT_EQ(e.Number(), 999);
        EXPECT_EQ(e.Description(), "System voice folder " + inst.SystemFolder(slot).string() + " does not exists");
        EXPECT_TRUE(inst.LogContains("Female user Dictionary loaded from "));
        EXPECT_FALSE(inst.LogContains("System voices were loaded after "));
        EXPECT_FALSE(api.State().IsInitialised);

        fs::create_directories(inst.SystemFolder(slot));
        api.Initialise();
        EXPECT_TRUE(api.State().IsInitialised);
        EXPECT_TRUE(api.State().IsIdle);
    }
}

TEST(StartUpFailure, NumericSettingsThatDoNotConvert) {
    struct Case {
        const char* name;
        const char* value;
        int32_t number;
    };
    for (const Case& c : {Case{"SequenceLen", "four", 13}, Case{"TimeBetweenMyFoldersCheck", "1x", 13},
                          Case{"LogLevel", "high", 13}, Case{"PlaybackAccelerationRate", "fast", 13},
                          Case{"SequenceLen", "99999999999", 6}, Case{"LogLevel", "40000", 6}}) {
        InstallationOptions o;
        o.Registry[c.name] = RegValue::String(c.value);
        Installation inst(o);
        IAPI api;
        AutomationError e = InitialiseError(api);
        EXPECT_EQ(e.Number(), c.number) << c.name << "=" << c.value << ": " << e.what();
        EXPECT_EQ(e.Source(), kProc);
        EXPECT_FALSE(api.State().IsInitialised) << c.name;
    }
}

TEST(StartUpFailure, OutOfRangeAndOddSettingsAreTakenAsTheyAre) {
    InstallationOptions o;
    o.Registry["LogLevel"] = RegValue::String("-3");
    o.Registry["SequenceLen"] = RegValue::Dword(100000);
    o.Registry["PlaybackAccelerationRate"] = RegValue::String(" 25 ");
    Installation inst(o);
    IAPI api;
    api.Initialise();
    EXPECT_TRUE(api.State().IsInitialised);
    EXPECT_EQ(api.State().Settings.SequenceLen, 100000);
    EXPECT_EQ(api.State().Settings.PlaybackAccelerationRate, 25);
    EXPECT_TRUE(inst.LogContains("Ini file detected at "));        // unconditional lines only
    EXPECT_FALSE(inst.LogContains("All Initialize done after "));  // a negative level is quiet
}

TEST(StartUpFailure, UnusableFilesAreClearErrorsNamingTheFile) {
    struct Case {
        const char* name;
        RegValue value;
        std::string file;  // relative to the installation's root
    };
    for (const Case& c : {Case{"LogLocation", RegValue::String("{root}/no/such/folder"), "no/such/folder/Tolvin_Log.log"},
                          Case{"SequenceLen", RegValue::Raw("dword:zz"), "registry.reg"},
                          Case{"MyRecordsPath", RegValue::String(""), "registry.reg"}}) {
        InstallationOptions o;
        o.Registry[c.name] = c.value;
        Installation inst(o);
        IAPI api;
        AutomationError e = InitialiseError(api);
        EXPECT_NE(e.Number(), 0) << c.name;
        EXPECT_NE(e.Description().find((inst.Root() / c.file).string()), std::string::npos) << e.Description();
        EXPECT_FALSE(api.State().IsInitialised) << c.name;
    }
}

TEST(StartUpFolders, MissingRecordingsRootIsCreatedWithItsJournal) {
    InstallationOptions o;
    o.CreateMyRecords = false;
    Installation inst(o);
    IAPI api;
    api.Initialise();
    EXPECT_TRUE(fs::is_directory(inst.MyRecordsFolder(0)));
    EXPECT_TRUE(fs::is_directory(inst.MyRecordsFolder(1)));
    const auto journal = ReadLines(inst.MyRecordsRoot() / "Ravek Log.txt");
    ASSERT_EQ(journal.size(), 1u);
    EXPECT_EQ(journal[0].rfind("MyRecords folder created by Engine: ", 0), 0u) << journal[0];
    EXPECT_EQ(api.GetWordsNumber(1), 0);
}

// ---- the language sub-key ----

TEST(StartUpLanguage, EnglishSystemReadsTheLanguageKeyAndLowerCasesWords) {
    InstallationOptions o;
    o.LanguageDefault = "0409";
    // The language key holds the INI name and the voice names; the main key keeps the rest.
    o.Registry.erase("ParametersINIFileName");
    o.Registry.erase("MaleVoiceName1");
    o.ExtraRegistryText =
        "[HKEY_LOCAL_MACHINE\\Software\\RavekVoice\\EN]\n"
        "\"ParametersINIFileName\"=\"RavekParams.ini\"\n"
        "\"MaleVoiceName\"=\"Dan\"\n\"FemaleVoiceName\"=\"Noa\"\n"
        "\"MaleVoiceName1\"=\"John\"\n\"FemaleVoiceName1\"=\"Mary\"\n";
    o.Ini["General"]["MissingWordSignal"] = "SIGNAL";
    o.MaleRecordings["Hello.mp3"] = kToneA;
    Installation inst(o);
    IAPI api;
    api.Initialise();
    EXPECT_EQ(api.State().LanguageClass, 3);
    EXPECT_EQ(api.State().LanguageKeySuffix, "\\EN");
    EXPECT_EQ(api.ListVoiceName(3), "John");
    EXPECT_EQ(api.ListVoiceName(4), "Mary");
    EXPECT_EQ(api.State().Settings.MissingWordSignal, "signal");
    EXPECT_TRUE(api.State().UserDictionary(0).Exists("hello"));
    EXPECT_EQ(api.State().LocaleId, 1033);
}

TEST(StartUpLanguage, RussianSystemWithoutLocaleNumberStillStarts) {
    InstallationOptions o;
    o.LanguageDefault = "0419";
    o.Registry.erase("ParametersINIFileName");
    o.ExtraRegistryText =
        "[HKEY_LOCAL_MACHINE\\Software\\RavekVoice\\RU]\n"
        "\"ParametersINIFileName\"=\"RavekParams.ini\"\n"
        "\"MaleVoiceName\"=\"Dan\"\n\"FemaleVoiceName\"=\"Noa\"\n"
        "\"MaleVoiceName1\"=\"Ivan\"\n\"FemaleVoiceName1\"=\"Olga\"\n";
    Installation inst(o);
    IAPI api;
    api.Initialise();  // the language table gives Russian no locale number: 0, not an error
    EXPECT_TRUE(api.State().IsInitialised);
    EXPECT_EQ(api.State().LanguageClass, 2);
    EXPECT_EQ(api.State().LocaleId, 0);
    EXPECT_EQ(api.State().AnsiCodePage, 1251);
    EXPECT_EQ(api.ListVoiceName(3), "Ivan");
}

// ---- the voice model and small methods ----

TEST(VoiceModel, FourVoicesNamedFromTheRegistry) {
    Installation inst;
    IAPI api;
    EXPECT_EQ(api.ListNumberOfVoices(), 0);
    api.Initialise();
    EXPECT_EQ(api.ListNumberOfVoices(), 4);
    EXPECT_EQ(api.ListVoiceName(1), "Dan");
    EXPECT_EQ(api.ListVoiceName(2), "Noa");
    EXPECT_EQ(api.ListVoiceName(3), "Galev");
    EXPECT_EQ(api.ListVoiceName(4), "Sevra");
    EXPECT_EQ(api.ListVoiceName(5), "");
    for (int32_t bad : {0, 6, -1, INT32_MIN, INT32_MAX}) {
        try {
            api.ListVoiceName(bad);
            ADD_FAILURE() << "no error for voice " << bad;
        } catch (const AutomationError& e) {
            EXPECT_EQ(e.Number(), 9) << bad;
        }
    }
    const auto& p = api.State().VoicePermissions;
    EXPECT_TRUE(p[0].UseUserRecordings && !p[0].UseDictionary && !p[0].UseSmartLookup);
    EXPECT_TRUE(p[3].UseUserRecordings && p[3].UseDictionary && p[3].UseSmartLookup);
    EXPECT_FALSE(p[4].UseUserRecordings || p[4].UseDictionary || p[4].UseSmartLookup);
}

TEST(VoiceModel, VoiceNameByIdFollowsTheVoiceSpeakingNotTheArgument) {
    Installation inst;
    IAPI api;
    api.Initialise();
    EXPECT_EQ(api.GetVoiceNameByVoiceID(3), "Female");
    api.SelectVoice(3);
    EXPECT_EQ(api.GetVoiceNameByVoiceID(3), "Female");  // the choice takes effect at the next Speak
    api.Speak("תודה");
    EXPECT_EQ(api.GetVoiceNameByVoiceID(-7), "Male");
    api.StopSpeak();
    api.SelectVoice(4);
    api.Speak("תודה");
    EXPECT_EQ(api.GetVoiceNameByVoiceID(3), "Female");
    api.StopSpeak();
}

TEST(VoiceModel, SelectVoiceLogsAboveLevelFive) {
    Installation inst;
    IAPI api;
    api.Initialise();
    api.SelectVoice(2);
    EXPECT_EQ(api.State().SelectedVoice, 1);
    EXPECT_TRUE(inst.LogContains("SelectVoice called at "));
    EXPECT_TRUE(inst.LogContains("SelectVoice done in  "));
    api.WindowsMediaPlayer1_PlayStateChange(1, 2);  // accepted and ignored
}

TEST(UserWordLists, GetDictionaryWritesExactlyTheCountedWords) {
    InstallationOptions o;
    o.MaleRecordings["שלום.mp3"] = kToneA;
    o.MaleRecordings["sub/ערב.mp3"] = kToneB;
    Installation inst(o);
    IAPI api;
    api.Initialise();
    ASSERT_EQ(api.GetWordsNumber(1), 4);
    EXPECT_EQ(api.GetDictionary(1), 0);
    const fs::path list = inst.LogFolder() / "Dan_Dict.txt";
    std::vector<std::string> words;
    const AnsiText::Codec& codec = AnsiText::CodecFor(1255);
    for (const std::string& line : ReadLines(list)) words.push_back(codec.ToUtf8(line));
    std::vector<std::string> keys;
    for (const auto& [word, file] : api.State().UserDictionary(0).Entries()) keys.push_back(word);
    EXPECT_EQ(words, keys);
    EXPECT_EQ(words.size(), 4u);

    EXPECT_EQ(api.GetWordsNumber(2), 1);
    api.GetDictionary(2);
    EXPECT_EQ(ReadLines(inst.LogFolder() / "Noa_Dict.txt").size(), 1u);
    for (int32_t bad : {0, 3, -1}) {
        EXPECT_THROW(api.GetWordsNumber(bad), AutomationError) << bad;
        EXPECT_THROW(api.GetDictionary(bad), AutomationError) << bad;
    }
}


// ---- settings and voice data as real machines have them ----

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

std::string Replace(std::string text, const std::string& from, const std::string& to) {
    if (auto at = text.find(from); at != std::string::npos) text.replace(at, from.size(), to);
    return text;
}

// UTF-16LE with its byte order mark (the test texts need no surrogate pairs); U+0001 stands for
// an unpaired surrogate.
std::string Utf16Le(const std::string& utf8) {
    std::string out = "\xFF\xFE";
    for (char32_t c : AnsiText::DecodeUtf8(utf8)) out += {char(c == 1 ? 0 : c & 0xFF), char(c == 1 ? 0xD8 : c >> 8)};
    return out;
}

std::string AsRegedit4(const std::string& utf8) {
    return AnsiText::CodecFor(1255).ToAnsi(Replace(utf8, "Windows Registry Editor Version 5.00", "REGEDIT4"));
}

template <typename Case>
std::string CaseName(const ::testing::TestParamInfo<Case>& info) { return info.param.name; }

// ---- registry file encodings ----

struct EncodingCase {
    const char* name;
    std::function<std::string(const std::string& utf8File)> encode;  // the file as the test writes it
    bool decodes;  // else: error 5 naming the file, the line and MaleVoiceName
};

class RegistryEncoding : public ::testing::TestWithParam<EncodingCase> {};

TEST_P(RegistryEncoding, HebrewNamesArriveIntactOrTheBadValueIsNamed) {
    InstallationOptions o;
    o.Registry["MaleVoiceName"] = RegValue::String("דן");
    Installation inst(o);
    const std::string utf8 = ReadFileBytes(inst.RegistryFile());
    WriteFileBytes(inst.RegistryFile(), GetParam().encode(utf8));
    IAPI api;
    AutomationError e = InitialiseError(api);
    EXPECT_EQ(e.Number(), GetParam().decodes ? 0 : 5) << e.Description();
    if (GetParam().decodes) {
        EXPECT_EQ(api.ListVoiceName(1), "דן");
    }
    const std::size_t line = std::count(utf8.begin(), utf8.begin() + utf8.find("\"MaleVoiceName\""), '\n') + 1;
    if (!GetParam().decodes) {
        EXPECT_TRUE(AnsiText::IsValidUtf8(e.Description()) && Has(e.Description(), inst.RegistryFile().string()) &&
                    Has(e.Description(), "line " + std::to_string(line) + ": text that is not valid ") &&
                    Has(e.Description(), "in value \"MaleVoiceName\"")) << e.Description();
    }
}

INSTANTIATE_TEST_SUITE_P(
    Files, RegistryEncoding,
    ::testing::Values(
        EncodingCase{"Utf16LeWithBom", [](const std::string& t) { return Utf16Le(t); }, true},
        EncodingCase{"Regedit4InWindows1255", [](const std::string& t) { return AsRegedit4(t); }, true},
        EncodingCase{"Utf16LeLoneSurrogate", [](const std::string& t) { return Utf16Le(Replace(t, "דן", "ד\x01")); }, false},
        EncodingCase{"Regedit4UndefinedByte", [](const std::string& t) { return Replace(AsRegedit4(t), "\xE3\xEF", "\xE3\xFF"); }, false},
        EncodingCase{"Utf8InvalidByte", [](const std::string& t) { return Replace(t, "דן", "\xD7"); }, false}),
    CaseName<EncodingCase>);

// ---- settings and log files that cannot serve: an error naming the file, never a hang ----

struct FileCase {
    const char* name;
    std::function<void(Installation&)> spoil;
    int32_t number;  // 0: Initialise succeeds
    std::string mustSay;  // "{reg}", "{ini}", "{log}" stand for the installation's paths
};

class StartUpFile : public ::testing::TestWithParam<FileCase> {};

TEST_P(StartUpFile, FailsNamingTheFileAndWritesNothingAtTheRoot) {
    const bool rootLogBefore = fs::exists("/Tolvin_Log.log");
    Installation inst;
    GetParam().spoil(inst);
    IAPI api;
    AutomationError e = InitialiseError(api);
    EXPECT_EQ(e.Number(), GetParam().number) << e.Description();
    const std::string mustSay = Replace(Replace(Replace(GetParam().mustSay, "{reg}", inst.RegistryFile().string()), "{ini}",
                                                inst.IniPath().string()), "{log}", inst.LogFile().string());
    EXPECT_TRUE(Has(e.Description(), mustSay)) << e.Description();
    EXPECT_TRUE(rootLogBefore || !fs::exists("/Tolvin_Log.log"));
}

// Opening /proc/self/mem works for every user, root included; reading its first page fails.
void Unreadable(const fs::path& file) {
    fs::remove(file);
    fs::create_symlink("/proc/self/mem", file);
}

INSTANTIATE_TEST_SUITE_P(
    Files, StartUpFile,
    ::testing::Values(
        FileCase{"RegistryMissing", [](Installation& i) { fs::remove(i.RegistryFile()); }, 75, "registry file {reg} does not exist"},
        FileCase{"RegistryFolder", [](Installation& i) { fs::remove(i.RegistryFile()); fs::create_directory(i.RegistryFile()); },
                 75, "registry file {reg} is not a regular file"},
        FileCase{"RegistryUnreadable", [](Installation& i) { Unreadable(i.RegistryFile()); }, 75, "registry file {reg} cannot be read ("},
        FileCase{"NoLogLocation", [](Installation& i) { i.Options().Registry.erase("LogLocation"); i.Write(); }, 75,
                 "registry file {reg} has no LogLocation under HKEY_LOCAL_MACHINE\\Software\\RavekVoice"},
        FileCase{"LogOnAFullDisk", [](Installation& i) { fs::create_symlink("/dev/full", i.LogFile()); }, 75, "cannot write the log file {log}"},
        FileCase{"IniFifo", [](Installation& i) { fs::remove(i.IniPath()); ::mkfifo(i.IniPath().c_str(), 0600); }, 999,
                 "Ini File does not exists at {ini}"},
        FileCase{"IniUnreadable", [](Installation& i) { Unreadable(i.IniPath()); }, 75, "cannot read the INI file {ini}"},
        FileCase{"RepeatedSentenceCode", [](Installation& i) { i.Options().Ini["TXRS"]["sentences"] = "46,46"; i.Write(); }, 457,
                 "in the INI file {ini}, section [TXRS], key sentences"},
        FileCase{"EmptyWordCodeTwice", [](Installation& i) { i.Options().Ini["TXRS"]["words"] = "32,,44,"; i.Write(); }, 457,
                 "in the INI file {ini}, section [TXRS], key words"},
        // Only the first section of a name is read: the faulty list after it does not count.
        FileCase{"SecondSectionOfTheSameName", [](Installation& i) { i.Options().RawIniBytes = "[TXRS]\r\n[TXRS]\r\nwords=32,32\r\n"; i.Write(); },
                 0, ""}),
    CaseName<FileCase>);

// ---- binary file detection bounded by the files that exist ----

struct BinaryCase {
    const char* name;
    int32_t indexedFile;  // file number of one more index line
    int32_t present;      // a further binary file that exists (0: none)
    std::vector<std::string> lines;  // log messages expected; "{bin}" stands for the path up to "_"
};

class BinaryFileDetection : public ::testing::TestWithParam<BinaryCase> {};

TEST_P(BinaryFileDetection, ReportsEachRunOfMissingFilesOnceAndQuickly) {
    const BinaryCase& c = GetParam();
    Installation inst;
    WriteFileBytes(inst.IndexFile(0), ReadFileBytes(inst.IndexFile(0)) + "far;51;1;0;" + std::to_string(c.indexedFile) + "\r\n");
    if (c.present) fs::copy_file(inst.BinFile(0, 1), inst.BinFile(0, c.present));
    IAPI api;
    const auto start = std::chrono::steady_clock::now();
    api.Initialise();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
    EXPECT_FALSE(api.State().VoiceReady[0]);
    EXPECT_TRUE(api.State().VoiceReady[1]);
    EXPECT_LT(inst.LogLines().size(), 100u);
    for (const std::string& line : c.lines)
        EXPECT_TRUE(inst.LogContains(Replace(line, "{bin}", (inst.DictionaryFolder() / "Ravek-Dict__Galev").string()))) << line;
}

INSTANTIATE_TEST_SUITE_P(
    Numbers, BinaryFileDetection,
    ::testing::Values(
        BinaryCase{"Largest", 2147483647, 0,
                   {"FAILED to detect male voice binary file at {bin}_2.bin", "Reason: no such file",
                    "male voice binary files #2 to #2147483647 do not exist"}},
        BinaryCase{"GapBeforeAFileThatExists", 3000000, 3,
                   {"FAILED to detect male voice binary file at {bin}_2.bin", "male voice binary file #3 detected at {bin}_3.bin",
                    "FAILED to detect male voice binary file at {bin}_4.bin", "male voice binary files #4 to #3000000 do not exist"}}),
    CaseName<BinaryCase>);

// ---- a database locked at start-up ----

TEST(LockedDatabase, IsConnectedAgainAtTheNextRequest) {
    Installation inst;
    sqlite3* raw = nullptr;
    ASSERT_EQ(sqlite3_open(inst.DatabasePath().c_str(), &raw), SQLITE_OK);
    std::unique_ptr<sqlite3, int (*)(sqlite3*)> other(raw, sqlite3_close);
    ASSERT_EQ(sqlite3_exec(other.get(), "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr), SQLITE_OK);
    IAPI api;
    api.Initialise();
    EXPECT_TRUE(inst.LogContains("DB Connection failed .. Assuming no smart lookup.. "));
    EXPECT_TRUE(inst.LogContains("Reason: database is locked"));
    mSpeak::PrepareForRender(api.State(), "שלום");  // still locked: stays off, tried again later
    EXPECT_FALSE(api.State().VoiceReady[0]);
    ASSERT_EQ(sqlite3_exec(other.get(), "COMMIT", nullptr, nullptr, nullptr), SQLITE_OK);
    mSpeak::PrepareForRender(api.State(), "שלום");
    EXPECT_TRUE(api.State().VoiceReady[0] && api.State().VoiceReady[1]);
    EXPECT_EQ(api.State().Prefixes.Count, static_cast<int32_t>(DefaultPrefixes().size()) - 1);
}

}  // namespace
