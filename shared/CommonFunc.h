#pragma once
// The two settings readers that every program of the system uses.
#include <cstdint>
#include <filesystem>
#include <string>
#include <variant>

#include "RegistryFile.h"

namespace CommonFunc {

enum class RootKey { LocalMachine, CurrentUser };

// What GetRegistryValue returns: the text of a string value, the number of a 32-bit value, or
// the empty string for any other type, a missing key or a missing value.
using RegistryVariant = std::variant<std::string, int32_t>;

// The variant as text (a number in decimal).
std::string VariantText(const RegistryVariant& value);

// `localMachineFile` replaces the default file of HKEY_LOCAL_MACHINE when not empty. Reads the
// file for this one value; a program that reads many values loads the file once (below).
RegistryVariant GetRegistryValue(RootKey root, const std::string& subKey, const std::string& valueName,
                                 const std::filesystem::path& localMachineFile = {});
// A value of a registry file loaded once; `root` names the file's root key.
RegistryVariant GetRegistryValue(const RegistryFile::Document& file, RootKey root, const std::string& subKey,
                                 const std::string& valueName);
// The registry file of a root (`localMachineFile` as above). A REGEDIT4 file is read in the ANSI
// code page of the language it names. LoadRegistry reads a missing file as empty;
// LoadExistingRegistry makes it (or an unreadable one) error 75 naming the file.
RegistryFile::Document LoadRegistry(RootKey root, const std::filesystem::path& localMachineFile = {});
RegistryFile::Document LoadExistingRegistry(RootKey root, const std::filesystem::path& localMachineFile = {});
std::filesystem::path RegistryPath(RootKey root, const std::filesystem::path& localMachineFile = {});

// Status of the last registry read: 0 success, 2 key or value not found.
long LastRegistryStatus();

// Reads at most 250 characters of section/key from an INI file, trimmed; "" when absent.
// The file is in the ANSI code page of the running program's language (the active code page)...
std::string GetIniValue(const std::filesystem::path& fileName, const std::string& section, const std::string& key);
// ... or in the code page given (an engine object reads its INI in its own language's).
std::string GetIniValue(const std::filesystem::path& fileName, const std::string& section, const std::string& key,
                        int codePage);

}  // namespace CommonFunc
