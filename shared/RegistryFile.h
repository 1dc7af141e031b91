#pragma once
// The registry stand-in: a text file in the published ".reg" format ("Windows Registry Editor
// Version 5.00" or "REGEDIT4" header, [key] sections, "Name"="text", "Name"=dword:0000002a,
// hex:/hex(n): for other types). Key paths and value names compare without regard to case.
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <unordered_map>
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

class Document;
// The ANSI code page of a REGEDIT4 file, chosen from the file itself (its language value) read
// with its text still undecoded; only its ASCII parts are meaningful then.
using AnsiCodePageOf = std::function<int(const Document& undecoded)>;

// A parsed registry file. Parsing raises AutomationError (5) naming the file, the line and the
// value when the text is malformed or does not decode.
//
// Encodings, as Windows writes them: a file that starts with the UTF-16LE byte order mark is
// UTF-16LE; a "REGEDIT4" file is in an ANSI code page (`ansiCodePage`, Windows-1252 without
// one); any other file is UTF-8 (a UTF-8 byte order mark is skipped).
class Document {
public:
    // A missing file, or a path that is no regular file, reads as empty.
    static Document Load(const std::filesystem::path& path, const AnsiCodePageOf& ansiCodePage = {});
    // The same, but a file that is missing, of the wrong kind or unreadable is error 75 naming it
    // and what is wrong.
    static Document LoadExisting(const std::filesystem::path& path, const AnsiCodePageOf& ansiCodePage = {});
    // The file's bytes, decoded as Load decodes them.
    static Document Decode(const std::string& bytes, const std::string& fileName, const AnsiCodePageOf& ansiCodePage = {});
    // UTF-8 text.
    static Document Parse(const std::string& text, const std::string& fileName);

    bool HasKey(const std::string& keyPath) const;
    std::optional<Value> Find(const std::string& keyPath, const std::string& name) const;
    // Sets (or, with nullopt, deletes) a value, creating the key when needed.
    void Set(const std::string& keyPath, const std::string& name, const std::optional<Value>& value);
    // The document in ".reg" form (Version 5.00 header, keys in their first-seen order).
    std::string Serialise() const;
    // Writes the document atomically (temporary file, then rename).
    void Save(const std::filesystem::path& path) const;

    struct DecodedText;

private:
    static Document ParseDecoded(const DecodedText& text, const std::string& fileName);
    // The compared form of a value's place: normalised key, NUL, lower-case name.
    static std::string IdOf(const std::string& normalisedKey, const std::string& lowerName);
    // Position of a key in keys_, added when new.
    std::size_t AddKey(const std::string& keyPath);

    // Keys in their first-seen spelling and order, and the values of each in their order. A
    // deleted value leaves an empty slot (no value) so that positions stay valid; every lookup
    // goes through the hash maps, so reading a file stays linear in its size.
    std::vector<std::string> keys_;
    std::unordered_map<std::string, std::size_t> keyIndex_;  // normalised key -> position in keys_
    struct Slot {
        std::size_t key;  // position in keys_
        std::optional<Entry> entry;
    };
    std::vector<Slot> slots_;
    std::unordered_map<std::string, std::size_t> valueIndex_;  // IdOf -> position in slots_
};

// The compared form of a key path: key paths compare case-insensitively, with "/" as "\\", and
// ignore a trailing or doubled backslash.
std::string NormaliseKey(const std::string& key);
// A name or string data as the file writes it: in double quotes, with "\\" and '"' escaped.
std::string Quoted(const std::string& text);

// Paths of the two roots: $RAVEK_REGISTRY (default /etc/ravek/registry.reg) and
// $RAVEK_USER_REGISTRY (default $XDG_CONFIG_HOME/ravek/user.reg).
std::filesystem::path LocalMachinePath();
std::filesystem::path CurrentUserPath();

}  // namespace RegistryFile
