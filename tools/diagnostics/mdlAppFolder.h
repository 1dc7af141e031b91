#pragma once
// Where the installation is and what its voices are called: the language of the system (from the
// code page manager), the settings key of that language, the two dictionary voice names and the
// folders named in the registry.
#include <string>

namespace mdlAppFolder {

inline constexpr const char* kMainKey = "Software\\RavekVoice";

struct VoiceNames {
    long LanguageIndex = 4;
    std::string LanguageKeySuffix;  // "" for Hebrew, else "\" + the language's key name
    std::string Male;               // MaleVoiceName1
    std::string Female;             // FemaleVoiceName1
};

// Loads the language table, finds the system's language and reads the dictionary voice names
// under the main key + the language's suffix. Raises AutomationError for an unreadable or
// malformed registry file (naming it).
VoiceNames LoadVoiceNames();

// "" or "\" + name, as a settings key suffix is written.
std::string KeySuffixOf(const std::string& name);

// which = 1: "ApplicationPath"; which = 2: "LogLocation" (the engine's log folder); any other
// value leaves `path` as it is. Returns 0, or -1 when the registry could not be read.
int GetAppFolder(int which, std::string& path);

// A registry value of HKEY_LOCAL_MACHINE as text ("" when absent; a number in decimal).
std::string RegistryText(const std::string& key, const std::string& valueName);

}  // namespace mdlAppFolder
