#pragma once

#include <absl/container/flat_hash_map.h>

#include <cstddef>
#include <list>
#include <utility>

#include "core/QuickString.h"
#include "tilegrid/TileContents.h"

namespace qm {

// Thumbnails and metadata by path, least recently used evicted first, bounded
// by the bytes the images hold rather than by a count: a folder of small icons
// and one of full 256-pixel thumbnails then cost the same memory. Main thread.
class TileContentsCache {
public:
    static constexpr size_t kDefaultBudget = size_t(128) << 20;

    explicit TileContentsCache(size_t budgetBytes = kDefaultBudget) : budget_(budgetBytes) {}
    TileContentsCache(const TileContentsCache&) = delete;
    TileContentsCache& operator=(const TileContentsCache&) = delete;

    // The cache every grid shares unless given its own.
    static TileContentsCache& shared();

    // Marks the entry most recently used.
    const TileContents* get(const QuickString& path);
    const TileContents* peek(const QuickString& path) const;
    bool contains(const QuickString& path) const { return index_.contains(path); }
    // Stores (or replaces) and evicts from the cold end until within budget;
    // an entry larger than the whole budget is not kept.
    void set(const QuickString& path, TileContents contents);
    void remove(const QuickString& path);
    void clear();

    size_t size() const { return index_.size(); }
    size_t bytes() const { return bytes_; }
    size_t budget() const { return budget_; }
    void setBudget(size_t bytes);

    // What one entry counts against the budget.
    static size_t cost(const TileContents& contents);

private:
    using Entry = std::pair<QuickString, TileContents>;
    void evict();
    void erase(std::list<Entry>::iterator it);

    size_t budget_;
    size_t bytes_ = 0;
    std::list<Entry> order_;  // front: most recently used
    absl::flat_hash_map<QuickString, std::list<Entry>::iterator> index_;
};

}  // namespace qm
