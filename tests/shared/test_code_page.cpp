// The language tables (language of the system, per-language fields) and the ANSI code page text
// conversion.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>

#include "AnsiText.h"
#include "AutomationError.h"
#include "Installation.h"
#include "TestHelpers.h"
#include "ManageCodePage.h"

namespace fs = std::filesystem;

namespace {

using ravektest::ScopedEnv;

// A registry file in a temporary folder, named by RAVEK_REGISTRY while the fixture lives; the
// POSIX locale variables are cleared so that each test sets the one it means.
class CodePageTest : public ::testing::Test {
protected:
    CodePageTest() {
        file_ = (temp_ / "hklm.reg").string();
        registry_.emplace("RAVEK_REGISTRY", file_);
        ManageCodePage::LoadLanguageTable();
    }

    void SystemLocale(const std::string& lcid) {
        std::ofstream(file_, std::ios::binary)
            << "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Control\\Nls\\Language]\n\"Default\"=\""
            << lcid << "\"\n";
    }
    void NoSystemLocale() {
        std::ofstream(file_, std::ios::binary) << "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Software\\RavekVoice]\n";
    }

    ravektest::TempFolder temp_;
    std::string file_;
    std::optional<ScopedEnv> registry_;
    ScopedEnv lcAll_{"LC_ALL", std::nullopt};
    ScopedEnv lcMessages_{"LC_MESSAGES", std::nullopt};
    ScopedEnv lang_{"LANG", std::nullopt};
};

struct LanguageFields {
    long index;
    std::string suffix;
    std::string lcid;
    long offset;
    long charset;
    int codePage;
};

void ExpectLanguage(const LanguageFields& want, const std::string& context) {
    long index = ManageCodePage::GetSystemLanguageIndex();
    EXPECT_EQ(index, want.index) << context;
    std::string suffix = "unchanged";
    ManageCodePage::GetLanguageKeySuffix(index, suffix);
    EXPECT_EQ(suffix, want.suffix) << context;
    EXPECT_EQ(ManageCodePage::GetLanguageLcid(index), want.lcid) << context;
    EXPECT_EQ(ManageCodePage::GetLanguageOffset(index), want.offset) << context;
    EXPECT_EQ(ManageCodePage::GetLanguageCharset(index), want.charset) << context;
    EXPECT_EQ(ManageCodePage::ActiveAnsiCodePage(), want.codePage) << context;
}

const LanguageFields kHebrew{1, "", "1037", 0, 177, 1255};
const LanguageFields kRussian{2, "RU", "", 2000, 178, 1251};
const LanguageFields kEnglish{3, "EN", "1033", 3000, 178, 1252};
const LanguageFields kArabic{4, "AR", "11265", 1000, 178, 1256};

}  // namespace

TEST_F(CodePageTest, SystemLocaleFromTheRegistry) {
    struct Case {
        std::string lcid;
        LanguageFields want;
    };
    for (const Case& c : {Case{"040d", kHebrew}, Case{"0409", kEnglish}, Case{"0c09", kEnglish},
                          Case{"3009", kEnglish}, Case{"0419", kRussian}, Case{"2c01", kArabic},
                          Case{"1C01", kArabic}, Case{"0407", kArabic}, Case{"1c01", kArabic},
                          Case{"040D", kArabic}, Case{"", kArabic}}) {
        SystemLocale(c.lcid);
        // The POSIX locale is not consulted while the registry names a locale.
        ScopedEnv posix("LC_ALL", "he_IL.UTF-8");
        ExpectLanguage(c.want, "locale \"" + c.lcid + "\"");
    }
}

TEST_F(CodePageTest, FieldReadersDefaultsForIndexesWithoutEntry) {
    EXPECT_EQ(ManageCodePage::GetLanguageLcid(7), "1037");
    EXPECT_EQ(ManageCodePage::GetLanguageCharset(0), 177);
    EXPECT_EQ(ManageCodePage::GetLanguageOffset(9), 0);
    EXPECT_EQ(ManageCodePage::GetLanguageOffset(-1), 0);
    std::string suffix = "x";
    ManageCodePage::GetLanguageKeySuffix(5, suffix);
    EXPECT_EQ(suffix, "");
    EXPECT_EQ(ManageCodePage::GetLanguageAnsiCodePage(0), 1255);
    EXPECT_EQ(ManageCodePage::GetLanguageAnsiCodePage(3), 1252);
}

TEST_F(CodePageTest, PosixLocaleWhenTheRegistryHasNoLanguage) {
    struct Case {
        const char* locale;
        LanguageFields want;
    };
    for (bool registryFileExists : {true, false}) {
        if (registryFileExists) NoSystemLocale();
        else fs::remove(file_);
        for (const Case& c : {Case{"he_IL.UTF-8", kHebrew}, Case{"ru_RU", kRussian}, Case{"ru_RU.UTF-8@euro", kRussian},
                              Case{"en_US", kEnglish}, Case{"en_GB.UTF-8", kEnglish}, Case{"de_DE", kArabic},
                              Case{"C", kEnglish}, Case{"ar_TN.UTF-8", kArabic}, Case{"th_TH.UTF-8", kArabic},
                              Case{"vi", kArabic}}) {
            ScopedEnv posix("LC_ALL", c.locale);
            ExpectLanguage(c.want, c.locale);
        }
    }
}

TEST_F(CodePageTest, PosixLocaleVariablesInOrder) {
    NoSystemLocale();
    ScopedEnv lang("LANG", "ru_RU.UTF-8");
    ExpectLanguage(kRussian, "LANG");
    ScopedEnv messages("LC_MESSAGES", "he_IL.UTF-8");
    ExpectLanguage(kHebrew, "LC_MESSAGES over LANG");
    ScopedEnv all("LC_ALL", "en_US.UTF-8");
    ExpectLanguage(kEnglish, "LC_ALL over both");
}

// ---------------------------------------------------------------------------------------------
// ANSI text

namespace {
// shin, qamats, shin dot, lamed, vav, holam, final mem
const std::string kPointedShalom = "\xD7\xA9\xD6\xB8\xD7\x81\xD7\x9C\xD7\x95\xD6\xB9\xD7\x9D";
const std::string kPointedShalom1255 = "\xF9\xC8\xD1\xEC\xE5\xC9\xED";
}  // namespace

TEST(AnsiText, PointedHebrewRoundTripsLetterByLetter) {
    const AnsiText::Codec& cp = AnsiText::CodecFor(1255);
    EXPECT_EQ(cp.ToAnsi(kPointedShalom), kPointedShalom1255);
    EXPECT_EQ(cp.ToUtf8(kPointedShalom1255), kPointedShalom);
    EXPECT_EQ(AnsiText::CharacterCount(kPointedShalom), 7u);
    auto chars = AnsiText::Characters(kPointedShalom);
    ASSERT_EQ(chars.size(), 7u);
    EXPECT_EQ(chars[0], "\xD7\xA9");
    EXPECT_EQ(chars[1], "\xD6\xB8");  // the point stays its own character
    // A point after every letter: still one byte per character, both ways.
    for (int b = 0xE0; b <= 0xFA; ++b) {
        std::string ansi = {static_cast<char>(b), '\xC8'};
        std::string utf8 = cp.ToUtf8(ansi);
        EXPECT_EQ(AnsiText::CharacterCount(utf8), 2u) << b;
        EXPECT_EQ(cp.ToAnsi(utf8), ansi) << b;
    }
}

TEST(AnsiText, UnrepresentableCharactersBecomeQuestionMarks) {
    const AnsiText::Codec& hebrew = AnsiText::CodecFor(1255);
    EXPECT_EQ(hebrew.ToAnsi("a\xE4\xB8\xAD" "b"), "a?b");  // CJK
    EXPECT_EQ(hebrew.ToAnsi("\xD0\x96"), "?");          // Cyrillic Zhe
    EXPECT_EQ(hebrew.ToAnsi("\xEF\xAC\xAA"), "?");      // presentation form shin with shin dot
    EXPECT_FALSE(hebrew.CanRepresent("\xD0\x96"));
    EXPECT_TRUE(hebrew.CanRepresent("?" + kPointedShalom));
    const AnsiText::Codec& russian = AnsiText::CodecFor(1251);
    EXPECT_EQ(russian.ToAnsi("\xD0\x96"), "\xC6");
    EXPECT_EQ(russian.ToAnsi("\xD7\xA9"), "?");
}

TEST(AnsiText, CodeOfCharacters) {
    const AnsiText::Codec& cp = AnsiText::CodecFor(1255);
    EXPECT_EQ(cp.CodeOf(U'A'), 65);
    EXPECT_EQ(cp.CodeOf(U'\u05D0'), 0xE0);   // alef
    EXPECT_EQ(cp.CodeOf(U'\u05E9'), 0xF9);   // shin
    EXPECT_EQ(cp.CodeOf(U'\u05C1'), 0xD1);   // shin dot
    EXPECT_EQ(cp.CodeOf(U'\u20AA'), 0xA4);   // new sheqel sign
    EXPECT_EQ(cp.CodeOf(U'\u20AC'), 0x80);   // euro
    EXPECT_EQ(cp.CodeOf(U'\u4E2D'), 63);
    EXPECT_EQ(cp.CodeOf(U'\uFFFD'), 63);
    EXPECT_EQ(cp.CodePage(), 1255);
}

TEST(AnsiText, InvalidUtf8CountsOneCharacterPerBadByte) {
    const AnsiText::Codec& cp = AnsiText::CodecFor(1255);
    EXPECT_FALSE(AnsiText::IsValidUtf8("a\xFF" "b"));
    EXPECT_TRUE(AnsiText::IsValidUtf8(kPointedShalom));
    EXPECT_EQ(AnsiText::CharacterCount("a\xFF\xFE" "b"), 4u);
    EXPECT_EQ(cp.ToAnsi("a\xFF" "b"), "a?b");
    EXPECT_EQ(AnsiText::CharacterCount("\xD7"), 1u);             // cut in the middle of a letter
    EXPECT_EQ(AnsiText::CharacterCount("\xED\xA0\x80"), 3u);     // an encoded surrogate
    EXPECT_EQ(AnsiText::CharacterCount("\xC0\x80"), 2u);         // overlong form
    EXPECT_EQ(AnsiText::CharacterCount(""), 0u);
}

TEST(AnsiText, UndefinedBytesDecodeAsReplacementCharacter) {
    const AnsiText::Codec& cp = AnsiText::CodecFor(1255);
    EXPECT_EQ(cp.ToUtf8("\xFF"), "\xEF\xBF\xBD");
    EXPECT_EQ(cp.ToUtf8("\xA4"), "\xE2\x82\xAA");
    std::string all;
    for (int b = 1; b < 256; ++b) all.push_back(static_cast<char>(b));
    EXPECT_TRUE(AnsiText::IsValidUtf8(cp.ToUtf8(all)));
    EXPECT_EQ(AnsiText::CharacterCount(cp.ToUtf8(all)), 255u);
}

TEST(AnsiText, HolamHaserForVavIsByte202InBothDirections) {
    const AnsiText::Codec& cp = AnsiText::CodecFor(1255);
    EXPECT_EQ(cp.ToUtf8("\xCA"), "\u05BA");
    EXPECT_EQ(cp.ToAnsi("\u05BA"), "\xCA");
}

TEST(AnsiText, AppendingAnsiTextMatchesTheWholeConversion) {
    const AnsiText::Codec& codec = AnsiText::CodecFor(1255);
    std::string bytes;
    for (int b = 1; b < 256; ++b) bytes.push_back(static_cast<char>(b));
    std::string out = "prefix ";
    codec.AppendUtf8(bytes, out);
    EXPECT_EQ(out, "prefix " + codec.ToUtf8(bytes));
    std::string one;
    for (char b : bytes) codec.AppendUtf8(static_cast<unsigned char>(b), one);
    EXPECT_EQ(one, codec.ToUtf8(bytes));
    EXPECT_EQ(codec.ToUtf8(std::string("\xF9\xEC\xE5\xED\0", 5)), std::string("שלום\0", 9));
    std::string empty;
    codec.AppendUtf8(std::string_view(), empty);
    EXPECT_TRUE(empty.empty());
}

TEST(AnsiText, LowerCaseAndUnknownCodePage) {
    EXPECT_EQ(AnsiText::ToLower("HeLLo \xD0\x96\xD0\xA3\xD0\x9A " + kPointedShalom),
              "hello \xD0\xB6\xD1\x83\xD0\xBA " + kPointedShalom);
    try {
        AnsiText::Codec bogus(99999);
        FAIL() << "no error";
    } catch (const AutomationError& e) {
        EXPECT_EQ(e.Number(), 5);
    }
}
