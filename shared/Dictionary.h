#pragma once
// String-keyed collection with exact key comparison that remembers insertion order and refuses a
// key that is already present (error 457). Every word store of the system is one of these.
#include <cstddef>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

class Dictionary {
public:
    using Entry = std::pair<std::string, std::string>;

    // Adds key -> item; raises error 457 when the key is already present.
    void Add(const std::string& key, const std::string& item);
    // Adds key -> item unless the key is present; false (and nothing changed) when it is.
    bool TryAdd(std::string key, std::string item);
    // Makes room for `count` entries in all (for loaders that know their size).
    void Reserve(std::size_t count);
    bool Exists(std::string_view key) const { return Find(key) != nullptr; }
    // The item of a key, or nullptr.
    const std::string* Find(std::string_view key) const;
    // The item of a key; raises error 5 naming the key when it is absent.
    const std::string& Item(std::string_view key) const;
    std::size_t Count() const { return entries_.size(); }
    void RemoveAll();
    // Entries in insertion order.
    const std::vector<Entry>& Entries() const { return entries_; }
    std::vector<std::string> Keys() const;

private:
    struct Hash {
        using is_transparent = void;
        std::size_t operator()(std::string_view s) const { return std::hash<std::string_view>{}(s); }
    };
    std::vector<Entry> entries_;
    std::unordered_map<std::string, std::size_t, Hash, std::equal_to<>> index_;
};
