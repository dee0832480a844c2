#include "tilegrid/TileContentsCache.h"

namespace qm {

namespace {
// The path, the record and the map entry, roughly.
constexpr size_t kEntryOverhead = 128;
}  // namespace

TileContentsCache& TileContentsCache::shared() {
    static auto* cache = new TileContentsCache;  // never destroyed: outlives every grid
    return *cache;
}

size_t TileContentsCache::cost(const TileContents& contents) {
    size_t image = contents.image ? size_t(std::max<qsizetype>(contents.image->sizeInBytes(), 0)) : 0;
    return image + kEntryOverhead;
}

const TileContents* TileContentsCache::get(const QuickString& path) {
    auto it = index_.find(path);
    if (it == index_.end()) return nullptr;
    order_.splice(order_.begin(), order_, it->second);
    return &it->second->second;
}

const TileContents* TileContentsCache::peek(const QuickString& path) const {
    auto it = index_.find(path);
    return it == index_.end() ? nullptr : &it->second->second;
}

void TileContentsCache::set(const QuickString& path, TileContents contents) {
    remove(path);
    const size_t c = cost(contents);
    if (c > budget_) return;
    order_.emplace_front(path, std::move(contents));
    index_.emplace(path, order_.begin());
    bytes_ += c;
    evict();
}

void TileContentsCache::remove(const QuickString& path) {
    auto it = index_.find(path);
    if (it == index_.end()) return;
    erase(it->second);
}

void TileContentsCache::clear() {
    order_.clear();
    index_.clear();
    bytes_ = 0;
}

void TileContentsCache::setBudget(size_t bytes) {
    budget_ = bytes;
    evict();
}

void TileContentsCache::evict() {
    while (bytes_ > budget_ && !order_.empty()) erase(std::prev(order_.end()));
}

void TileContentsCache::erase(std::list<Entry>::iterator it) {
    bytes_ -= cost(it->second);
    index_.erase(it->first);
    order_.erase(it);
}

}  // namespace qm
