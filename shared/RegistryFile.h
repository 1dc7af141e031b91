#pragma once
// The registry stand-in: a text file in the published ".reg" format ("Windows Registry Editor
// Version 5.00" or "REGEDIT4" header, [key] sections, "Name"="text", "Name"=dword:0000002a,
// hex:/hex(n): for other types). Key paths and value names compare without regard to case.
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace RegistryFile {

enum class ValueType { String = 1, Dword = 4, Other = 3 };

struct Value {
    ValueType type = ValueType::String;
    std::string text;     // String values (UTF-8)
    uint32_t number = 0;  // Dword values
};

struct Entry {
    std::string key;  // full key path, e.g. HKEY_LOCAL_MACHINE\Software\RavekVoice
    std::string name; // value name; "" for the default value (@)
    Value value;
};

// A parsed registry file. Parsing raises AutomationError (5) naming the file, the line and the
// value when the text is malformed; a missing file parses as empty.
class Document {
public:
    static Document Load(const std::filesystem::path& path);
    static Document Parse(const std::string& text, const std::string& fileName);

    bool HasKey(const std::string& keyPath) const;
    std::optional<Value> Find(const std::string& keyPath, const std::string& name) const;
    // Sets (or, with nullopt, deletes) a value, creating the key when needed.
    void Set(const std::string& keyPath, const std::string& name, const std::optional<Value>& value);
    // The document in ".reg" form (Version 5.00 header, keys in their first-seen order).
    std::string Serialise() const;
    // Writes the document atomically (temporary file, then rename).
    void Save(const std::filesystem::path& path) const;

private:
    // Position of a value in entries_, or entries_.size() when absent.
    std::size_t IndexOf(const std::string& normalisedKey, const std::string& lowerName) const;

    std::vector<std::string> keys_;
    std::vector<std::string> keyIds_;  // keys_ in their compared form (normalised, lower case)
    std::vector<Entry> entries_;
    // entries_' key and name in their compared form: worked out once per value rather than on
    // every comparison, so that reading a file stays linear in its size.
    std::vector<std::pair<std::string, std::string>> entryIds_;
};

// Paths of the two roots: $RAVEK_REGISTRY (default /etc/ravek/registry.reg) and
// $RAVEK_USER_REGISTRY (default $XDG_CONFIG_HOME/ravek/user.reg).
std::filesystem::path LocalMachinePath();
std::filesystem::path CurrentUserPath();

}  // namespace RegistryFile
