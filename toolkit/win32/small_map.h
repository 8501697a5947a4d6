// A map for the few entries the backend caches (fonts, scaled bitmaps, pictures being decoded):
// a vector searched in order, which for a handful of keys is as fast as a tree and links none.
// Entries stay in insertion order; references to values last until the entry is erased.
#pragma once
#include <algorithm>
#include <memory>
#include <utility>
#include <vector>

namespace tk::win32 {

template <typename K, typename V>
class SmallMap {
public:
    V* find(const K& key)
    {
        const auto it = std::find_if(entries_.begin(), entries_.end(), [&](const auto& e) { return e->first == key; });
        return it == entries_.end() ? nullptr : &(*it)->second;
    }
    V& operator[](const K& key) // the entry, made empty if it was not there
    {
        if (V* v = find(key))
            return *v;
        entries_.push_back(std::make_unique<std::pair<K, V>>(key, V{}));
        return entries_.back()->second;
    }
    void erase(const K& key)
    {
        std::erase_if(entries_, [&](const auto& e) { return e->first == key; });
    }
    template <typename F> void forEach(F f)
    {
        for (auto& e : entries_)
            f(e->first, e->second);
    }

private:
    // Each entry has its own place, so a value's address stays put while others come and go.
    std::vector<std::unique_ptr<std::pair<K, V>>> entries_;
};

} // namespace tk::win32
