#include "mdlAppFolder.h"

#include "CommonFunc.h"
#include "ManageCodePage.h"

namespace mdlAppFolder {

std::string RegistryText(const std::string& key, const std::string& valueName) {
    return CommonFunc::VariantText(CommonFunc::GetRegistryValue(CommonFunc::RootKey::LocalMachine, key, valueName));
}

std::string KeySuffixOf(const std::string& name) { return name.empty() ? std::string() : "\\" + name; }

VoiceNames LoadVoiceNames() {
    ManageCodePage::LoadLanguageTable();
    VoiceNames names;
    names.LanguageIndex = ManageCodePage::GetSystemLanguageIndex();
    std::string suffix;
    ManageCodePage::GetLanguageKeySuffix(names.LanguageIndex, suffix);
    names.LanguageKeySuffix = KeySuffixOf(suffix);
    const std::string languageKey = std::string(kMainKey) + names.LanguageKeySuffix;
    names.Male = RegistryText(languageKey, "MaleVoiceName1");
    names.Female = RegistryText(languageKey, "FemaleVoiceName1");
    return names;
}

int GetAppFolder(int which, std::string& path) {
    const char* valueName = which == 1 ? "ApplicationPath" : which == 2 ? "LogLocation" : nullptr;
    if (!valueName) return 0;
    try {
        path = RegistryText(kMainKey, valueName);
        return 0;
    } catch (const std::exception&) {
        return -1;
    }
}

}  // namespace mdlAppFolder
