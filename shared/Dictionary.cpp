#include "Dictionary.h"

#include <functional>

#include "AutomationError.h"

uint32_t Dictionary::HashOf(std::string_view key) {
    return static_cast<uint32_t>(std::hash<std::string_view>{}(key));
}

std::size_t Dictionary::Probe(std::string_view key, uint32_t hash) const {
    const std::size_t mask = slots_.size() - 1;
    for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
        const Slot& slot = slots_[i];
        if (slot.entry == kEmpty) return i;
        if (slot.hash == hash && entries_[slot.entry].first == key) return i;
    }
}

void Dictionary::Grow(std::size_t count) {
    std::size_t size = slots_.empty() ? 8 : slots_.size();
    while (size / 2 < count) size *= 2;
    if (size == slots_.size()) return;
    std::vector<Slot> bigger(size, Slot{kEmpty, 0});
    const std::size_t mask = size - 1;
    for (const Slot& slot : slots_) {
        if (slot.entry == kEmpty) continue;
        std::size_t i = slot.hash & mask;
        while (bigger[i].entry != kEmpty) i = (i + 1) & mask;
        bigger[i] = slot;
    }
    slots_ = std::move(bigger);
}

void Dictionary::Add(const std::string& key, const std::string& item) {
    if (!TryAdd(key, item)) RuntimeErrors::Raise(RuntimeErrors::KeyAlreadyAssociated, key);
}

bool Dictionary::TryAdd(std::string key, std::string item) {
    if (entries_.size() >= kEmpty - 1)
        RuntimeErrors::Raise(RuntimeErrors::OutOfMemory, "too many entries in one dictionary");
    Grow(entries_.size() + 1);
    const uint32_t hash = HashOf(key);
    const std::size_t at = Probe(key, hash);
    if (slots_[at].entry != kEmpty) return false;
    // The entry first: when storing it fails, the table still describes the entries as they are.
    const bool blank = key.find(' ') != std::string::npos;
    entries_.emplace_back(std::move(key), std::move(item));
    slots_[at] = Slot{static_cast<uint32_t>(entries_.size() - 1), hash};
    if (blank) ++keysWithBlank_;
    return true;
}

void Dictionary::Reserve(std::size_t count) {
    entries_.reserve(count);
    Grow(count);
}

const std::string* Dictionary::Find(std::string_view key) const {
    if (slots_.empty()) return nullptr;
    const Slot& slot = slots_[Probe(key, HashOf(key))];
    return slot.entry == kEmpty ? nullptr : &entries_[slot.entry].second;
}

const std::string& Dictionary::Item(std::string_view key) const {
    const std::string* item = Find(key);
    if (!item) RuntimeErrors::Raise(RuntimeErrors::InvalidProcedureCall, "no entry for key \"" + std::string(key) + "\"");
    return *item;
}

void Dictionary::RemoveAll() {
    entries_.clear();
    slots_.clear();
    keysWithBlank_ = 0;
}

std::vector<std::string> Dictionary::Keys() const {
    std::vector<std::string> keys;
    keys.reserve(entries_.size());
    for (const auto& e : entries_) keys.push_back(e.first);
    return keys;
}
