#pragma once
// The language tables shared by every program: four languages (1 Hebrew, 2 Russian, 3 English,
// 4 Arabic, which is also the fallback) and the locale identifiers that map onto them.
#include <filesystem>
#include <string>

namespace RegistryFile {
class Document;
}

namespace ManageCodePage {

// The language tables are constant and built on first use; kept for the programs that load
// them explicitly at start.
void LoadLanguageTable();
// Language of the system's default locale: the registry value "Default" of
// HKLM\System\CurrentControlSet\Control\Nls\Language, or, when the registry file has none, the
// identifier derived from the POSIX locale (LC_ALL, LC_MESSAGES, LANG). 4 when not in the table.
// `registryFile` replaces the default HKEY_LOCAL_MACHINE file when not empty.
long GetSystemLanguageIndex(const std::filesystem::path& registryFile = {});
// The same from a registry file already loaded.
long GetSystemLanguageIndex(const RegistryFile::Document& registry);
// The same without making its code page the active one (for engine objects, which keep their
// own code page).
long LanguageIndexOf(const RegistryFile::Document& registry);
// The ANSI code page of the language a registry file names (or, without one, of the POSIX
// locale): the code page a REGEDIT4 file is written in. Needs no loaded table.
int AnsiCodePageOfRegistry(const RegistryFile::Document& registry);
void GetLanguageKeySuffix(long languageIndex, std::string& suffix);
std::string GetLanguageLcid(long languageIndex);
long GetLanguageOffset(long languageIndex);
long GetLanguageCharset(long languageIndex);
// The ANSI code page of a language (field 0, "ACP:1255"); 1255 when the index has no entry.
int GetLanguageAnsiCodePage(long languageIndex);

// The ANSI code page that the running program reads and writes its text files in: that of the
// language last found by GetSystemLanguageIndex (1255 until then).
int ActiveAnsiCodePage();
void SetActiveAnsiCodePage(int codePage);

// The Windows locale identifier (4 lower-case hex digits) and three-letter language name of a
// POSIX locale name such as "he_IL.UTF-8"; "C", "POSIX" and "" count as en_US.
std::string LcidOfPosixLocale(const std::string& posixLocale);
std::string LanguageNameOfPosixLocale(const std::string& posixLocale);
// The POSIX locale in force: LC_ALL, else LC_MESSAGES, else LANG.
std::string CurrentPosixLocale();

}  // namespace ManageCodePage
