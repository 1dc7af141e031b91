#include "ManageCodePage.h"

#include <cstdlib>
#include <map>
#include <sstream>
#include <vector>

#include "CommonFunc.h"
#include "Dictionary.h"
#include "RegistryFile.h"

namespace ManageCodePage {
namespace {

// The ANSI code page of the tool programs' text files (see ActiveAnsiCodePage). The engine does not
// use it: each engine object keeps the code page of its own language.
int activeCodePage = 1255;

struct LanguageTables {
    Dictionary languages;
    Dictionary locales;
};
const LanguageTables& Tables();

std::vector<std::string> Fields(long languageIndex) {
    const std::string* entry = Tables().languages.Find(std::to_string(languageIndex));
    if (!entry) return {};
    std::vector<std::string> fields;
    std::stringstream ss(*entry);
    std::string f;
    while (std::getline(ss, f, ';')) fields.push_back(f);
    while (fields.size() < 8) fields.emplace_back();
    return fields;
}

long ToNumber(const std::string& text) {
    try {
        return std::stol(text);
    } catch (...) {
        return 0;
    }
}

// language_TERRITORY -> Windows locale identifier
const std::map<std::string, std::string>& LcidTable() {
    static const std::map<std::string, std::string> table = {
        {"he", "040d"}, {"iw", "040d"}, {"ru", "0419"},
        {"en", "0409"}, {"en_US", "0409"}, {"en_GB", "0809"}, {"en_AU", "0c09"}, {"en_CA", "1009"},
        {"en_NZ", "1409"}, {"en_IE", "1809"}, {"en_ZA", "1c09"}, {"en_JM", "2009"}, {"en_BZ", "2809"},
        {"en_TT", "2c09"}, {"en_ZW", "3009"}, {"en_PH", "3409"}, {"en_IN", "4009"}, {"en_MY", "4409"},
        {"en_SG", "4809"},
        {"ar", "0401"}, {"ar_SA", "0401"}, {"ar_IQ", "0801"}, {"ar_EG", "0c01"}, {"ar_LY", "1001"},
        {"ar_DZ", "1401"}, {"ar_MA", "1801"}, {"ar_TN", "1C01"}, {"ar_OM", "2001"}, {"ar_YE", "2401"},
        {"ar_SY", "2801"}, {"ar_JO", "2c01"}, {"ar_LB", "3001"}, {"ar_KW", "3401"}, {"ar_AE", "3801"},
        {"ar_BH", "3c01"}, {"ar_QA", "4001"},
        {"de", "0407"}, {"fr", "040c"}, {"es", "0c0a"}, {"it", "0410"}, {"nl", "0413"}, {"pt", "0816"},
        {"pt_BR", "0416"}, {"pl", "0415"}, {"uk", "0422"}, {"tr", "041f"}, {"el", "0408"}, {"ja", "0411"},
        {"zh", "0804"}, {"ko", "0412"}, {"sv", "041d"}, {"fi", "040b"}, {"da", "0406"}, {"nb", "0414"},
        {"cs", "0405"}, {"hu", "040e"}, {"fa", "0429"}};
    return table;
}

std::string StripLocale(const std::string& posixLocale) {
    std::string name = posixLocale.substr(0, posixLocale.find_first_of(".@"));
    return name;
}

void FillTables(Dictionary& languageTable, Dictionary& localeTable) {
    languageTable.Add("1", "ACP:1255;MACCP:10005;OEMCP:862;Default:040d;;1037;0;177");
    languageTable.Add("2", "ACP:1251;MACCP:10007;OEMCP:866;Default:0419;RU;;2000;178");
    languageTable.Add("4", "ACP:1256;MACCP:10004;OEMCP:720;Default:2c01;AR;11265;1000;178");
    languageTable.Add("3", "ACP:1252;MACCP:10000;OEMCP:850;Default:0409;EN;1033;3000;178");
    localeTable.Add("040d", "1");
    localeTable.Add("0419", "2");
    for (const char* k : {"0409", "0809", "0c09", "2809", "1009", "2409", "3c09", "4009", "3809", "1809", "2009",
                          "4409", "1409", "3409", "4809", "1c09", "2c09", "3009"})
        localeTable.Add(k, "3");
    for (const char* k : {"2c01", "0001", "1401", "3c01", "0c01", "0801", "3401", "3001", "1001", "1801", "2001",
                          "4001", "0401", "2801", "1C01", "3801", "2401"})
        localeTable.Add(k, "4");
}

// The tables are constant: built once, on first use, and shared by every caller and thread.
const LanguageTables& Tables() {
    static const LanguageTables tables = [] {
        LanguageTables t;
        FillTables(t.languages, t.locales);
        return t;
    }();
    return tables;
}

// The locale identifier of the system: the registry's language value, else the POSIX locale's.
std::string SystemLcid(const RegistryFile::Document& registry) {
    const std::string key = "HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Control\\Nls\\Language";
    if (!registry.Find(key, "Default")) return LcidOfPosixLocale(CurrentPosixLocale());
    return CommonFunc::VariantText(CommonFunc::GetRegistryValue(registry, CommonFunc::RootKey::LocalMachine,
                                                                "System\\CurrentControlSet\\Control\\Nls\\Language", "Default"));
}

}  // namespace

void LoadLanguageTable() { Tables(); }

long GetSystemLanguageIndex(const std::filesystem::path& registryFile) {
    return GetSystemLanguageIndex(CommonFunc::LoadRegistry(CommonFunc::RootKey::LocalMachine, registryFile));
}

long GetSystemLanguageIndex(const RegistryFile::Document& registry) {
    const long index = LanguageIndexOf(registry);
    activeCodePage = GetLanguageAnsiCodePage(index);
    return index;
}

long LanguageIndexOf(const RegistryFile::Document& registry) {
    const std::string* item = Tables().locales.Find(SystemLcid(registry));
    return item ? ToNumber(*item) : 4;
}

int AnsiCodePageOfRegistry(const RegistryFile::Document& registry) {
    return GetLanguageAnsiCodePage(LanguageIndexOf(registry));
}

void GetLanguageKeySuffix(long languageIndex, std::string& suffix) {
    auto f = Fields(languageIndex);
    suffix = f.empty() ? "" : f[4];
}

std::string GetLanguageLcid(long languageIndex) {
    auto f = Fields(languageIndex);
    return f.empty() ? "1037" : f[5];
}

long GetLanguageOffset(long languageIndex) {
    auto f = Fields(languageIndex);
    return f.empty() ? 0 : ToNumber(f[6]);
}

long GetLanguageCharset(long languageIndex) {
    auto f = Fields(languageIndex);
    return f.empty() ? 177 : ToNumber(f[7]);
}

int GetLanguageAnsiCodePage(long languageIndex) {
    auto f = Fields(languageIndex);
    if (f.empty() || f[0].rfind("ACP:", 0) != 0) return 1255;
    return static_cast<int>(ToNumber(f[0].substr(4)));
}

int ActiveAnsiCodePage() { return activeCodePage; }
void SetActiveAnsiCodePage(int codePage) { activeCodePage = codePage; }

std::string LcidOfPosixLocale(const std::string& posixLocale) {
    std::string name = StripLocale(posixLocale);
    if (name.empty() || name == "C" || name == "POSIX") return "0409";
    const auto& table = LcidTable();
    if (auto it = table.find(name); it != table.end()) return it->second;
    if (auto it = table.find(name.substr(0, name.find('_'))); it != table.end()) return it->second;
    // A language without a known identifier: the invariant locale, which no language entry
    // claims, so the system falls back to the default language like any other unlisted locale.
    return "007f";
}

std::string LanguageNameOfPosixLocale(const std::string& posixLocale) {
    std::string lang = StripLocale(posixLocale);
    lang = lang.substr(0, lang.find('_'));
    static const std::map<std::string, std::string> names = {
        {"he", "HEB"}, {"iw", "HEB"}, {"ru", "RUS"}, {"en", "ENU"}, {"ar", "ARA"}, {"de", "DEU"},
        {"fr", "FRA"}, {"es", "ESP"}, {"it", "ITA"}};
    if (lang.empty() || lang == "C" || lang == "POSIX") return "ENU";
    if (auto it = names.find(lang); it != names.end()) return it->second;
    return "ENU";
}

std::string CurrentPosixLocale() {
    for (const char* var : {"LC_ALL", "LC_MESSAGES", "LANG"})
        if (const char* v = std::getenv(var); v && *v) return v;
    return "C";
}

}  // namespace ManageCodePage
