#include "CommonFunc.h"

#include "IniFile.h"
#include "ManageCodePage.h"

namespace CommonFunc {
namespace {
long lastStatus = 0;

std::string RootName(RootKey root) {
    return root == RootKey::LocalMachine ? "HKEY_LOCAL_MACHINE" : "HKEY_CURRENT_USER";
}

std::string Trim(const std::string& s) {
    size_t b = s.find_first_not_of(' ');
    if (b == std::string::npos) return {};
    return s.substr(b, s.find_last_not_of(' ') - b + 1);
}
}  // namespace

std::string VariantText(const RegistryVariant& value) {
    if (const auto* n = std::get_if<int32_t>(&value)) return std::to_string(*n);
    return std::get<std::string>(value);
}

std::filesystem::path RegistryPath(RootKey root, const std::filesystem::path& localMachineFile) {
    if (root == RootKey::CurrentUser) return RegistryFile::CurrentUserPath();
    return localMachineFile.empty() ? RegistryFile::LocalMachinePath() : localMachineFile;
}

RegistryFile::Document LoadRegistry(RootKey root, const std::filesystem::path& localMachineFile) {
    return RegistryFile::Document::Load(RegistryPath(root, localMachineFile), ManageCodePage::AnsiCodePageOfRegistry);
}

RegistryFile::Document LoadExistingRegistry(RootKey root, const std::filesystem::path& localMachineFile) {
    return RegistryFile::Document::LoadExisting(RegistryPath(root, localMachineFile), ManageCodePage::AnsiCodePageOfRegistry);
}

RegistryVariant GetRegistryValue(RootKey root, const std::string& subKey, const std::string& valueName,
                                 const std::filesystem::path& localMachineFile) {
    return GetRegistryValue(LoadRegistry(root, localMachineFile), root, subKey, valueName);
}

RegistryVariant GetRegistryValue(const RegistryFile::Document& file, RootKey root, const std::string& subKey,
                                 const std::string& valueName) {
    auto value = file.Find(RootName(root) + "\\" + subKey, valueName);
    if (!value) {
        lastStatus = 2;
        return std::string{};
    }
    lastStatus = 0;
    switch (value->type) {
    case RegistryFile::ValueType::String: {
        // A string value ends at its first NUL, as a registry buffer does.
        std::string text = value->text;
        if (auto nul = text.find('\0'); nul != std::string::npos) text.resize(nul);
        return text;
    }
    case RegistryFile::ValueType::Dword: return static_cast<int32_t>(value->number);
    default: return std::string{};
    }
}

long LastRegistryStatus() { return lastStatus; }

std::string GetIniValue(const std::filesystem::path& fileName, const std::string& section, const std::string& key) {
    return GetIniValue(fileName, section, key, ManageCodePage::ActiveAnsiCodePage());
}

std::string GetIniValue(const std::filesystem::path& fileName, const std::string& section, const std::string& key,
                        int codePage) {
    auto result = IniFile::GetPrivateProfileString(section, key, "", 250, fileName, codePage);
    if (result.length == 0) return {};
    return Trim(result.value);
}

}  // namespace CommonFunc
