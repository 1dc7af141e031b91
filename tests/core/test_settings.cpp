// The settings readers shared by every program: the registry file, GetRegistryValue, the INI
// reader and writer, and the engine's conversions of setting texts.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>

#include "AnsiText.h"
#include "AutomationError.h"
#include "CommonFunc.h"
#include "EngineSettings.h"
#include "IniFile.h"
#include "Installation.h"
#include "TestHelpers.h"
#include "RegistryFile.h"

namespace fs = std::filesystem;
using CommonFunc::RootKey;
using RegistryFile::Document;
using RegistryFile::ValueType;

namespace {

using ravektest::TempFolder;

using ravektest::ScopedEnv;

void WriteText(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

// The AutomationError a call raises (fails the test when it raises none).
template <typename F>
AutomationError ErrorOf(F&& call) {
    try {
        call();
    } catch (const AutomationError& e) {
        return e;
    }
    ADD_FAILURE() << "no AutomationError raised";
    return AutomationError(0, "", "");
}

const char* kMainKey = "HKEY_LOCAL_MACHINE\\Software\\RavekVoice";

const std::string kRegistryText =
    "Windows Registry Editor Version 5.00\r\n"
    "\r\n"
    "; settings of the engine\r\n"
    "[HKEY_LOCAL_MACHINE\\Software\\RavekVoice]\r\n"
    "\"MyRecordsPath\"=\"/data/My \\\"Records\\\"\"\r\n"
    "\"ApplicationPath\"=\"C:\\\\Program Files\\\\Ravek\\\\\"\r\n"
    "\"SequenceLen\"=dword:0000002a\r\n"
    "\"Negative\"=dword:FFFFFFFF\r\n"
    "\"Binary\"=hex:01,02,\\\r\n"
    "  03,04\r\n"
    "\"Multi\"=hex(7):41,00,00,00,00,00\r\n"
    "\"Empty\"=\"\"\r\n"
    "@=\"the default\"\r\n"
    "\"Hebrew\"=\"\xD7\xA9\xD7\x9C\xD7\x95\xD7\x9D\"\r\n"
    "\r\n"
    "[HKEY_LOCAL_MACHINE\\Software\\RavekVoice\\EN]\r\n"
    "\"MaleVoiceName\"=\"David\"\r\n";

}  // namespace

// ---------------------------------------------------------------------------------------------
// Registry file parsing

TEST(RegistryFile, ParsesEveryValueType) {
    Document doc = Document::Parse(kRegistryText, "test.reg");
    auto path = doc.Find(kMainKey, "MyRecordsPath");
    ASSERT_TRUE(path);
    EXPECT_EQ(path->type, ValueType::String);
    EXPECT_EQ(path->text, "/data/My \"Records\"");
    EXPECT_EQ(doc.Find(kMainKey, "ApplicationPath")->text, "C:\\Program Files\\Ravek\\");
    auto len = doc.Find(kMainKey, "SequenceLen");
    ASSERT_TRUE(len);
    EXPECT_EQ(len->type, ValueType::Dword);
    EXPECT_EQ(len->number, 42u);
    EXPECT_EQ(doc.Find(kMainKey, "Negative")->number, 0xFFFFFFFFu);
    EXPECT_EQ(doc.Find(kMainKey, "Binary")->type, ValueType::Other);
    EXPECT_EQ(doc.Find(kMainKey, "Multi")->type, ValueType::Other);
    EXPECT_EQ(doc.Find(kMainKey, "Empty")->text, "");
    EXPECT_EQ(doc.Find(kMainKey, "")->text, "the default");
    EXPECT_EQ(doc.Find(kMainKey, "Hebrew")->text, "\xD7\xA9\xD7\x9C\xD7\x95\xD7\x9D");
    EXPECT_FALSE(doc.Find(kMainKey, "Missing"));
}

TEST(RegistryFile, KeysAndValueNamesIgnoreCase) {
    Document doc = Document::Parse(kRegistryText, "test.reg");
    EXPECT_EQ(doc.Find("hkey_local_machine\\SOFTWARE\\ravekvoice", "myrecordspath")->text, "/data/My \"Records\"");
    EXPECT_EQ(doc.Find("HKEY_LOCAL_MACHINE\\Software\\RavekVoice\\", "SEQUENCELEN")->number, 42u);
    EXPECT_TRUE(doc.HasKey("HKEY_LOCAL_MACHINE\\software\\ravekvoice\\en"));
    EXPECT_FALSE(doc.Find(kMainKey, "MaleVoiceName"));  // only under the sub-key
}

TEST(RegistryFile, AlsoReadsRegedit4AndLfLinesAndBom) {
    Document doc = Document::Parse("\xEF\xBB\xBFREGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\n\"x\" = \"1\"\n  \"y\"=dword:00000002  \n",
                                   "lf.reg");
    EXPECT_EQ(doc.Find("HKEY_LOCAL_MACHINE\\A", "x")->text, "1");
    EXPECT_EQ(doc.Find("HKEY_LOCAL_MACHINE\\A", "y")->number, 2u);
}

TEST(RegistryFile, RepeatedValuesDeletionsAndKeySpellingsMerge) {
    Document doc = Document::Parse(
        "REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\n\"x\"=\"1\"\n\"y\"=\"2\"\n\"z\"=\"3\"\n"
        "[hkey_local_machine\\a\\]\n\"X\"=\"4\"\n\"y\"=-\n[HKEY_LOCAL_MACHINE\\B]\n\"x\"=\"5\"\n",
        "merge.reg");
    EXPECT_EQ(doc.Find("HKEY_LOCAL_MACHINE\\A", "x")->text, "4");  // the later line wins
    EXPECT_FALSE(doc.Find("HKEY_LOCAL_MACHINE\\A", "y"));          // "=-" deletes
    EXPECT_EQ(doc.Find("HKEY_LOCAL_MACHINE\\A", "z")->text, "3");
    EXPECT_EQ(doc.Find("HKEY_LOCAL_MACHINE\\B", "x")->text, "5");
    doc.Set("HKEY_LOCAL_MACHINE\\a", "Z", std::nullopt);
    doc.Set("HKEY_LOCAL_MACHINE\\C\\", "w", RegistryFile::Value{RegistryFile::ValueType::Dword, "", 7});
    EXPECT_FALSE(doc.Find("HKEY_LOCAL_MACHINE\\A", "z"));
    EXPECT_EQ(doc.Find("hkey_local_machine\\c", "W")->number, 7u);
    // One section per key however it was spelled, each with its remaining values.
    const std::string text = doc.Serialise();
    EXPECT_EQ(text,
              "Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\A]\n\"x\"=\"4\"\n\n"
              "[HKEY_LOCAL_MACHINE\\B]\n\"x\"=\"5\"\n\n[HKEY_LOCAL_MACHINE\\C\\]\n\"w\"=dword:00000007\n");
}

TEST(RegistryFile, SerialisedDocumentParsesBackToTheSameValues) {
    Document doc = Document::Parse(kRegistryText, "test.reg");
    doc.Set(kMainKey, "Added", RegistryFile::Value{ValueType::String, "a \"quoted\" \\ text", 0});
    doc.Set(kMainKey, "Empty", std::nullopt);
    Document again = Document::Parse(doc.Serialise(), "again.reg");
    EXPECT_EQ(again.Find(kMainKey, "Added")->text, "a \"quoted\" \\ text");
    EXPECT_EQ(again.Find(kMainKey, "MyRecordsPath")->text, "/data/My \"Records\"");
    EXPECT_EQ(again.Find(kMainKey, "SequenceLen")->number, 42u);
    EXPECT_EQ(again.Find(kMainKey, "Binary")->type, ValueType::Other);
    EXPECT_EQ(again.Find(kMainKey, "")->text, "the default");
    EXPECT_FALSE(again.Find(kMainKey, "Empty"));
    EXPECT_EQ(again.Find(std::string(kMainKey) + "\\EN", "MaleVoiceName")->text, "David");
}

TEST(RegistryFile, MalformedTextNamesFileAndLine) {
    struct Case {
        std::string text;
        int line;
    };
    const std::string head = "REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\n";
    for (const Case& c : {Case{head + "\"a\"=\"bad \\n escape\"\n", 3}, Case{head + "\"ok\"=\"1\"\n\"a\"=hex:0\n", 4},
                          Case{head + "\"a\"=hex:01,2x\n", 3}, Case{head + "\"a\"=qword:01\n", 3},
                          Case{head + "\"a\"=hex(zz):01\n", 3}, Case{head + "\"a\"=dword:123456789\n", 3},
                          Case{head + "\"a\"=dword:\n", 3}, Case{head + "\"a\"=\"unterminated\n", 3},
                          Case{head + "\"a\"\"b\"\n", 3}, Case{head + "a=\"b\"\n", 3},
                          Case{head + "\"a\"=\"b\" trailing\n", 3}, Case{"REGEDIT4\n\"a\"=\"b\"\n", 2},
                          Case{head + "[HKEY_LOCAL_MACHINE\\B\n", 3}}) {
        AutomationError e = ErrorOf([&] { Document::Parse(c.text, "/etc/bad.reg"); });
        EXPECT_EQ(e.Number(), 5) << c.text;
        EXPECT_NE(e.Description().find("/etc/bad.reg"), std::string::npos) << e.Description();
        EXPECT_NE(e.Description().find("line " + std::to_string(c.line)), std::string::npos)
            << c.text << " -> " << e.Description();
    }
}

TEST(RegistryFile, MissingFileIsEmpty) {
    TempFolder t;
    Document doc = Document::Load(t / "absent.reg");
    EXPECT_FALSE(doc.HasKey(kMainKey));
    EXPECT_FALSE(doc.Find(kMainKey, "MyRecordsPath"));
}

TEST(RegistryFile, SaveIsReadBackByLoad) {
    TempFolder t;
    Document doc;
    doc.Set(kMainKey, "LogLevel", RegistryFile::Value{ValueType::Dword, "", 7});
    doc.Save(t / "sub/saved.reg");
    EXPECT_EQ(Document::Load(t / "sub/saved.reg").Find(kMainKey, "loglevel")->number, 7u);
    EXPECT_EQ(std::distance(fs::directory_iterator(t / "sub"), fs::directory_iterator()), 1);
    // Failures are errors naming the file, with no temporary file left behind.
    WriteText(t / "plain", "x");
    EXPECT_NE(ErrorOf([&] { doc.Save(t / "plain/saved.reg"); }).Description().find("plain/saved.reg"), std::string::npos);
    fs::create_directory(t / "sub/dir.reg");
    EXPECT_EQ(ErrorOf([&] { doc.Save(t / "sub/dir.reg"); }).Number(), 75);
    EXPECT_EQ(std::distance(fs::directory_iterator(t / "sub"), fs::directory_iterator()), 2);
}

// ---------------------------------------------------------------------------------------------
// GetRegistryValue

class RegistryValueTest : public ::testing::Test {
protected:
    void Install(const std::string& text) { WriteText(file_, text); }
    CommonFunc::RegistryVariant Get(const std::string& key, const std::string& name) {
        return CommonFunc::GetRegistryValue(RootKey::LocalMachine, key, name);
    }
    TempFolder temp_;
    std::string file_ = temp_ / "hklm.reg";
    ScopedEnv env_{"RAVEK_REGISTRY", file_};
};

TEST_F(RegistryValueTest, StringsAndNumbersAndOtherTypes) {
    Install(kRegistryText);
    EXPECT_EQ(std::get<std::string>(Get("Software\\RavekVoice", "MyRecordsPath")), "/data/My \"Records\"");
    EXPECT_EQ(CommonFunc::LastRegistryStatus(), 0);
    EXPECT_EQ(std::get<int32_t>(Get("Software\\RavekVoice", "SequenceLen")), 42);
    EXPECT_EQ(std::get<int32_t>(Get("software\\ravekvoice", "negative")), -1);
    EXPECT_EQ(CommonFunc::VariantText(Get("Software\\RavekVoice", "Negative")), "-1");
    // Binary and multi-string values read as empty.
    EXPECT_EQ(std::get<std::string>(Get("Software\\RavekVoice", "Binary")), "");
    EXPECT_EQ(std::get<std::string>(Get("Software\\RavekVoice", "Multi")), "");
    EXPECT_EQ(std::get<std::string>(Get("Software\\RavekVoice", "")), "the default");
}

TEST_F(RegistryValueTest, MissingKeyOrValueIsEmptyWithStatus) {
    Install(kRegistryText);
    EXPECT_EQ(CommonFunc::VariantText(Get("Software\\RavekVoice", "NoSuchValue")), "");
    EXPECT_EQ(CommonFunc::LastRegistryStatus(), 2);
    EXPECT_EQ(CommonFunc::VariantText(Get("Software\\NoSuchKey", "MyRecordsPath")), "");
    EXPECT_EQ(CommonFunc::LastRegistryStatus(), 2);
    // A voice name present only under the main key reads as empty from the language key.
    Install(kRegistryText + "[HKEY_LOCAL_MACHINE\\Software\\RavekVoice]\r\n\"FemaleVoiceName\"=\"Dana\"\r\n");
    EXPECT_EQ(CommonFunc::VariantText(Get("Software\\RavekVoice\\EN", "FemaleVoiceName")), "");
    EXPECT_EQ(CommonFunc::VariantText(Get("Software\\RavekVoice\\EN", "MaleVoiceName")), "David");
    EXPECT_EQ(CommonFunc::VariantText(Get("Software\\RavekVoice", "FemaleVoiceName")), "Dana");
    // No registry file at all.
    fs::remove(file_);
    EXPECT_EQ(CommonFunc::VariantText(Get("Software\\RavekVoice", "MyRecordsPath")), "");
    EXPECT_EQ(CommonFunc::LastRegistryStatus(), 2);
}

TEST_F(RegistryValueTest, StringEndsAtItsFirstNul) {
    std::string text = "REGEDIT4\n[HKEY_LOCAL_MACHINE\\Software\\RavekVoice]\n\"LogLocation\"=\"/var/log";
    text.push_back('\0');
    Install(text + "/ignored\"\n");
    EXPECT_EQ(std::get<std::string>(Get("Software\\RavekVoice", "LogLocation")), "/var/log");
}

TEST_F(RegistryValueTest, MalformedFileIsAClearError) {
    Install("REGEDIT4\n[HKEY_LOCAL_MACHINE\\Software\\RavekVoice]\n\"LogLevel\"=dword:zz\n");
    AutomationError e = ErrorOf([&] { Get("Software\\RavekVoice", "LogLevel"); });
    EXPECT_NE(e.Description().find(file_), std::string::npos) << e.Description();
    EXPECT_NE(e.Description().find("line 3"), std::string::npos) << e.Description();
}

// ---------------------------------------------------------------------------------------------
// INI files

class IniTest : public ::testing::Test {
protected:
    std::string Get(const std::string& section, const std::string& key) {
        return CommonFunc::GetIniValue(file_, section, key);
    }
    TempFolder temp_;
    std::string file_ = temp_ / "Ravek.ini";
};

TEST_F(IniTest, SectionsAndKeysIgnoreCaseAndValuesAreTrimmed) {
    WriteText(file_,
              "; comment\r\n[General]\r\nMissingWordPolicy=  Spell  \r\n  missingwordsignal = beep.wav\r\n"
              "PreSpellWord=\t\"quoted\"\t\r\nnovalue\r\n[TXRS]\r\nsentences=46,63, 33\r\nwords=\r\n");
    EXPECT_EQ(Get("general", "MISSINGWORDPOLICY"), "Spell");
    EXPECT_EQ(Get("GENERAL", "MissingWordSignal"), "beep.wav");
    EXPECT_EQ(Get("General", "PreSpellWord"), "quoted");
    EXPECT_EQ(Get("txrs", "sentences"), "46,63, 33");
    EXPECT_EQ(Get("TXRS", "words"), "");
    EXPECT_EQ(Get("General", "novalue"), "");
    EXPECT_EQ(Get("General", "sentences"), "");  // keys belong to their section
    EXPECT_EQ(Get("Missing", "words"), "");
}

TEST_F(IniTest, ValuesAreCutAt249Characters) {
    std::string longValue(300, 'v');
    longValue.replace(0, 3, "abc");
    WriteText(file_, "[General]\nLong=" + longValue + "\nHuge=" + std::string(1 << 20, 'h') + "\nAfter=ok\n");
    EXPECT_EQ(Get("General", "Long"), longValue.substr(0, 249));
    EXPECT_EQ(Get("General", "Huge"), std::string(249, 'h'));
    EXPECT_EQ(Get("General", "After"), "ok");
    auto raw = IniFile::GetPrivateProfileString("General", "Long", "", 250, file_, 1255);
    EXPECT_EQ(raw.length, 249u);
}

TEST_F(IniTest, MissingFileGivesEmptyOrTheDefault) {
    EXPECT_EQ(Get("General", "MissingWordPolicy"), "");
    auto raw = IniFile::GetPrivateProfileString("General", "Key", "fallback", 250, temp_ / "none.ini", 1255);
    EXPECT_EQ(raw.value, "fallback");
    EXPECT_EQ(raw.length, 8u);
}

TEST_F(IniTest, GarbageBytesDoNotDisturbOtherLines) {
    std::string garbage;
    for (int i = 0; i < 256; ++i) garbage.push_back(static_cast<char>(i));
    WriteText(file_, "[General]\n" + garbage + "\nKey=\xFF\xFE\x80\x00mid\n" + garbage + "=x\n[TXRS]\nwords=32\n");
    EXPECT_EQ(Get("TXRS", "words"), "32");
    std::string value = Get("General", "Key");
    EXPECT_FALSE(value.empty());
    EXPECT_TRUE(AnsiText::IsValidUtf8(value) || value.find('\0') != std::string::npos);
}

TEST_F(IniTest, WriteUpdatesAddsAndRemovesKeys) {
    WriteText(file_, "[General]\r\nMissingWordPolicy=beep\r\nOther=1\r\n[TXRS]\r\nwords=32\r\n");
    IniFile::WritePrivateProfileString("general", "MISSINGWORDPOLICY", std::string("spell"), file_, 1255);
    IniFile::WritePrivateProfileString("TXRS", "sentences", std::string("46"), file_, 1255);
    IniFile::WritePrivateProfileString("New", "Key", std::string("value"), file_, 1255);
    IniFile::WritePrivateProfileString("General", "Other", std::nullopt, file_, 1255);
    EXPECT_EQ(Get("General", "MissingWordPolicy"), "spell");
    EXPECT_EQ(Get("General", "Other"), "");
    EXPECT_EQ(Get("TXRS", "sentences"), "46");
    EXPECT_EQ(Get("TXRS", "words"), "32");
    EXPECT_EQ(Get("New", "Key"), "value");
    EXPECT_EQ(ReadAll(file_).find("Other"), std::string::npos);
    EXPECT_EQ(std::distance(fs::directory_iterator(temp_.Path()), fs::directory_iterator()), 1);  // no temp files
}

TEST_F(IniTest, RemovingFromAMissingFileCreatesNothing) {
    IniFile::WritePrivateProfileString("General", "Key", std::nullopt, file_, 1255);
    EXPECT_FALSE(fs::exists(file_));
}

TEST_F(IniTest, WriteFailureIsAnErrorAndLeavesNoTemporaryFile) {
    std::string target = temp_ / "missing-folder/Ravek.ini";
    AutomationError e = ErrorOf([&] { IniFile::WritePrivateProfileString("General", "Key", std::string("v"), target, 1255); });
    EXPECT_NE(e.Description().find("missing-folder"), std::string::npos) << e.Description();
    fs::create_directory(temp_ / "folder.ini");  // the file name is taken by a folder
    ErrorOf([&] { IniFile::WritePrivateProfileString("General", "Key", std::string("v"), temp_ / "folder.ini", 1255); });
    EXPECT_EQ(std::distance(fs::directory_iterator(temp_.Path()), fs::directory_iterator()), 1);
}

TEST_F(IniTest, HebrewTextRoundTripsThroughWindows1255) {
    const std::string pointed = "\xD7\xA9\xD6\xB8\xD7\x81\xD7\x9C\xD7\x95\xD6\xB9\xD7\x9D";  // shin qamats shin-dot lamed vav holam final-mem
    IniFile::WritePrivateProfileString("General", "MissingWordSignal", pointed, file_, 1255);
    std::string bytes = ReadAll(file_);
    EXPECT_NE(bytes.find("MissingWordSignal=\xF9\xC8\xD1\xEC\xE5\xC9\xED\r\n"), std::string::npos);
    EXPECT_EQ(Get("General", "MissingWordSignal"), pointed);
}

// ---------------------------------------------------------------------------------------------
// Conversions of the engine's settings

TEST(EngineSettingsReader, AbsentValuesGiveTheDefaults) {
    using namespace EngineSettingsReader;
    EXPECT_EQ(ToLong("SequenceLen", "", 4), 4);
    EXPECT_EQ(ToLong("TimeBetweenMyFoldersCheck", "", 60), 60);
    EXPECT_EQ(ToLong("PlaybackAccelerationRate", "", 0), 0);
    EXPECT_EQ(ToInteger("LogLevel", "", 99), 99);
    EXPECT_FALSE(ToBoolean(""));
    EXPECT_EQ(ParseMissingWordPolicy(""), 1);
    EngineSettings defaults;
    EXPECT_EQ(defaults.SequenceLen, 4);
    EXPECT_EQ(defaults.TimeBetweenMyFoldersCheck, 60);
    EXPECT_EQ(defaults.LogLevel, 99);
    EXPECT_EQ(defaults.MissingWordPolicy, 1);
}

TEST(EngineSettingsReader, BooleansAreTrueUnlessZeroOrEmpty) {
    using EngineSettingsReader::ToBoolean;
    EXPECT_FALSE(ToBoolean("0"));
    EXPECT_TRUE(ToBoolean("1"));
    EXPECT_TRUE(ToBoolean("false"));
    EXPECT_TRUE(ToBoolean("00"));
    EXPECT_TRUE(ToBoolean(" "));
}

TEST(EngineSettingsReader, MissingWordPolicyWords) {
    using EngineSettingsReader::ParseMissingWordPolicy;
    EXPECT_EQ(ParseMissingWordPolicy("  SPELL "), 2);
    EXPECT_EQ(ParseMissingWordPolicy("Beep"), 1);
    EXPECT_EQ(ParseMissingWordPolicy("sapi5"), 3);
    EXPECT_EQ(ParseMissingWordPolicy("silence"), 0);
    EXPECT_EQ(ParseMissingWordPolicy("spell it"), 0);
    EXPECT_EQ(ParseMissingWordPolicy("   "), 1);
}

TEST(EngineSettingsReader, NumbersConvertLikeThePlatform) {
    using namespace EngineSettingsReader;
    EXPECT_EQ(ToLong("SequenceLen", " 12 ", 4), 12);
    EXPECT_EQ(ToLong("PlaybackAccelerationRate", "-7", 0), -7);
    EXPECT_EQ(ToLong("SequenceLen", "+3", 4), 3);
    EXPECT_EQ(ToLong("SequenceLen", "&H10", 4), 16);
    EXPECT_EQ(ToLong("SequenceLen", "2.5", 4), 2);  // half to even
    EXPECT_EQ(ToLong("SequenceLen", "3.5", 4), 4);
    EXPECT_EQ(ToLong("SequenceLen", "2147483647", 4), 2147483647);
    EXPECT_EQ(ToLong("SequenceLen", "-2147483648", 4), INT32_MIN);
    EXPECT_EQ(ToInteger("LogLevel", "32767", 99), 32767);
}

TEST(EngineSettingsReader, NonNumericIsError13AndHugeIsError6) {
    using namespace EngineSettingsReader;
    for (const char* text : {"abc", "12abc", " ", "-", ".", "&H", "&HXYZ", "1,000"}) {
        AutomationError e = ErrorOf([&] { ToLong("SequenceLen", text, 4); });
        EXPECT_EQ(e.Number(), 13) << text;
        EXPECT_NE(e.Description().find("SequenceLen"), std::string::npos) << e.Description();
    }
    for (const char* text : {"2147483648", "-2147483649", "99999999999999999999999"}) {
        AutomationError e = ErrorOf([&] { ToLong("TimeBetweenMyFoldersCheck", text, 60); });
        EXPECT_EQ(e.Number(), 6) << text;
        EXPECT_NE(e.Description().find("TimeBetweenMyFoldersCheck"), std::string::npos) << e.Description();
    }
    EXPECT_EQ(ErrorOf([] { ToInteger("LogLevel", "40000", 99); }).Number(), 6);
    EXPECT_EQ(ErrorOf([] { ToInteger("LogLevel", "high", 99); }).Number(), 13);
}
