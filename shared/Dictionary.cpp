#include "Dictionary.h"

#include "AutomationError.h"

void Dictionary::Add(const std::string& key, const std::string& item) {
    auto [it, inserted] = index_.try_emplace(key, entries_.size());
    if (!inserted) RuntimeErrors::Raise(RuntimeErrors::KeyAlreadyAssociated, key);
    entries_.emplace_back(key, item);
}

bool Dictionary::TryAdd(std::string key, std::string item) {
    auto [it, inserted] = index_.try_emplace(key, entries_.size());
    if (!inserted) return false;
    entries_.emplace_back(std::move(key), std::move(item));
    return true;
}

void Dictionary::Reserve(std::size_t count) {
    entries_.reserve(count);
    index_.reserve(count);
}

const std::string* Dictionary::Find(std::string_view key) const {
    auto it = index_.find(key);
    return it == index_.end() ? nullptr : &entries_[it->second].second;
}

const std::string& Dictionary::Item(std::string_view key) const {
    const std::string* item = Find(key);
    if (!item) RuntimeErrors::Raise(RuntimeErrors::InvalidProcedureCall, "no entry for key \"" + std::string(key) + "\"");
    return *item;
}

void Dictionary::RemoveAll() {
    entries_.clear();
    index_.clear();
}

std::vector<std::string> Dictionary::Keys() const {
    std::vector<std::string> keys;
    keys.reserve(entries_.size());
    for (const auto& e : entries_) keys.push_back(e.first);
    return keys;
}
