// A map of bounded size that forgets the entry used least recently when a new one needs room.
#pragma once

#include <cstddef>
#include <list>
#include <stdexcept>
#include <string>
#include <unordered_map>
#include <utility>

namespace refhost {

template <class TValue> class TLruCache {
public:
    // capacity: the most entries kept, at least 1.
    explicit TLruCache(std::size_t capacity) : FCapacity(capacity) {
        if (capacity == 0)
            throw std::invalid_argument("a cache needs room for one entry at least");
    }

    // The value kept for key, now the most recently used; null when none is kept. The pointer
    // holds until the next Put or Clear.
    const TValue* Find(const std::string& key) {
        const auto it = FIndex.find(key);
        if (it == FIndex.end())
            return nullptr;
        FItems.splice(FItems.begin(), FItems, it->second);
        return &it->second->second;
    }

    // Keeps value for key (replacing what was kept for it), forgetting the least recently used
    // entry when the cache is full.
    void Put(const std::string& key, TValue value) {
        if (const auto it = FIndex.find(key); it != FIndex.end()) {
            it->second->second = std::move(value);
            FItems.splice(FItems.begin(), FItems, it->second);
            return;
        }
        if (FItems.size() == FCapacity) {
            FIndex.erase(FItems.back().first);
            FItems.pop_back();
        }
        FItems.emplace_front(key, std::move(value));
        FIndex.emplace(key, FItems.begin());
    }

    void Clear() {
        FIndex.clear();
        FItems.clear();
    }
    std::size_t Size() const { return FItems.size(); }
    std::size_t Capacity() const { return FCapacity; }

private:
    using TItems = std::list<std::pair<std::string, TValue>>; // the most recently used first
    std::size_t FCapacity;
    TItems FItems;
    std::unordered_map<std::string, typename TItems::iterator> FIndex;
};

} // namespace refhost
