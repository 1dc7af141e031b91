#pragma once
// String-keyed collection with exact key comparison that remembers insertion order and refuses a
// key that is already present (error 457). Every word store of the system is one of these.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
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
    // How many keys hold a blank (a phrase of several words): none lets a caller rule out every
    // phrase without looking it up.
    std::size_t KeysWithBlank() const { return keysWithBlank_; }
    void RemoveAll();
    // Entries in insertion order.
    const std::vector<Entry>& Entries() const { return entries_; }
    std::vector<std::string> Keys() const;

private:
    // The index is an open-addressing table of entry numbers: each key is stored once, in
    // entries_, and a lookup compares against it there. Voices hold hundreds of thousands of
    // words, so a node and a second copy of every key would double the memory and the load time.
    struct Slot {
        uint32_t entry;  // position in entries_, or kEmpty
        uint32_t hash;   // low bits of the key's hash
    };
    static constexpr uint32_t kEmpty = UINT32_MAX;

    static uint32_t HashOf(std::string_view key);
    // The slot holding `key`, or the empty slot where it would go (the table must not be full).
    std::size_t Probe(std::string_view key, uint32_t hash) const;
    // Makes the table large enough for `count` entries at most half full.
    void Grow(std::size_t count);

    std::vector<Entry> entries_;
    std::vector<Slot> slots_;  // empty, or a power of two in size
    std::size_t keysWithBlank_ = 0;
};
