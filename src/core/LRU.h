#pragma once

#include <absl/container/flat_hash_map.h>

#include <cstddef>
#include <functional>
#include <iterator>
#include <list>
#include <utility>
#include <vector>

namespace qm {

// A dictionary that keeps its entries in order of last use and, when an
// insertion finds it full, evicts the least recently used one. No capacity is
// stored: each `set` passes it. Main thread only.
template <typename K, typename V, typename Hash = absl::Hash<K>, typename Eq = std::equal_to<K>>
class LRU {
public:
    // Called with the value of every entry that leaves by eviction or `remove`
    // (not when `set` replaces the value of an existing key).
    std::function<void(V)> removed;

    LRU() = default;
    LRU(const LRU&) = delete;
    LRU& operator=(const LRU&) = delete;

    // The value for the key, made most recently used; null when absent. The
    // pointer stays valid until that entry is replaced or leaves.
    V* get(const K& key) {
        auto it = index_.find(key);
        if (it == index_.end()) return nullptr;
        order_.splice(order_.begin(), order_, it->second);
        return &it->second->second;
    }

    // Looks without touching the order of use.
    const V* peek(const K& key) const {
        auto it = index_.find(key);
        return it == index_.end() ? nullptr : &it->second->second;
    }
    bool contains(const K& key) const { return index_.contains(key); }

    // Stores the value as most recently used. A new key first evicts the least
    // recently used entry when `capacity` or more are held, unless `noEvict`.
    void set(const K& key, V value, size_t capacity, bool noEvict = false) {
        auto it = index_.find(key);
        if (it != index_.end()) {
            order_.splice(order_.begin(), order_, it->second);
            V old = std::exchange(it->second->second, std::move(value));
            (void)old;  // released here, without `removed`
            return;
        }
        if (!noEvict && !order_.empty() && index_.size() >= capacity) remove(order_.back().first);
        order_.emplace_front(key, std::move(value));
        index_.emplace(key, order_.begin());
    }

    // Drops the entry and hands its value to `removed`.
    void remove(const K& key) {
        auto it = index_.find(key);
        if (it == index_.end()) return;
        auto node = it->second;
        index_.erase(it);
        V value = std::move(node->second);
        order_.erase(node);
        // Last, so the callback may use this cache again.
        if (removed) removed(std::move(value));
    }

    size_t size() const { return index_.size(); }
    bool empty() const { return index_.empty(); }

    // Keys from most to least recently used.
    std::vector<K> keys() const {
        std::vector<K> out;
        out.reserve(order_.size());
        for (const auto& e : order_)
            out.push_back(e.first);
        return out;
    }

    // Every (key, value) from most to least recently used, without touching the order.
    template <typename F>
    void forEach(F&& f) const {
        for (const auto& e : order_)
            f(e.first, e.second);
    }

private:
    using Order = std::list<std::pair<K, V>>;
    Order order_;
    absl::flat_hash_map<K, typename Order::iterator, Hash, Eq> index_;
};

}  // namespace qm
