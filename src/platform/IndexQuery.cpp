#include "platform/IndexQuery.h"

#include "core/MainQueue.h"

namespace qm {

void IndexQuery::setHandlers(Handlers handlers) {
    MutexLock lock(mutex_);
    handlers_ = std::move(handlers);
}

void IndexQuery::execute() {
    MutexLock lock(mutex_);
    if (executed_) return;
    executed_ = true;
    if (gathered_) postFinishLocked();
}

void IndexQuery::markGathered() {
    MutexLock lock(mutex_);
    if (gathered_) return;
    gathered_ = true;
    if (executed_) postFinishLocked();
}

bool IndexQuery::isGathered() const {
    MutexLock lock(mutex_);
    return gathered_;
}

void IndexQuery::postFinishLocked() {
    finishPosted_ = true;
    std::weak_ptr<IndexQuery> weak = weak_from_this();
    mainQueue().post([weak] {
        auto self = weak.lock();
        if (!self) return;
        std::function<void()> fn;
        {
            MutexLock lock(self->mutex_);
            fn = self->handlers_.onFinish;
        }
        if (fn) fn();
    });
}

void IndexQuery::postUpdateLocked(MetadataUpdate update) {
    if (!finishPosted_) return;
    if (update.added.empty() && update.changed.empty() && update.removed.empty()) return;
    std::weak_ptr<IndexQuery> weak = weak_from_this();
    mainQueue().post([weak, update = std::move(update)] {
        auto self = weak.lock();
        if (!self) return;
        std::function<void(const MetadataUpdate&)> fn;
        {
            MutexLock lock(self->mutex_);
            fn = self->handlers_.onUpdate;
        }
        if (fn) fn(update);
    });
}

void IndexQuery::disableUpdates() {
    MutexLock lock(mutex_);
    ++disabled_;
}

void IndexQuery::enableUpdates() {
    MutexLock lock(mutex_);
    if (disabled_ == 0 || --disabled_ > 0) return;
    std::vector<Delta> held = std::move(held_);
    held_.clear();
    for (Delta& delta : held) {
        applyLocked(delta);
        postUpdateLocked(std::move(delta.update));
    }
}

void IndexQuery::publish(Delta delta) {
    MutexLock lock(mutex_);
    if (disabled_ > 0) {
        held_.push_back(std::move(delta));
        return;
    }
    applyLocked(delta);
    postUpdateLocked(std::move(delta.update));
}

void IndexQuery::applyLocked(Delta& delta) {
    for (auto& [item, entry] : delta.upserts) {
        auto [it, inserted] = slots_.try_emplace(item, items_.size());
        if (inserted) {
            items_.push_back(item);
            entries_.push_back(std::move(entry));
        } else {
            entries_[it->second] = std::move(entry);
        }
    }
    for (const MetadataItem& item : delta.removals) {
        auto it = slots_.find(item);
        if (it == slots_.end()) continue;
        // Swap with the last slot so removal stays O(1).
        const size_t slot = it->second;
        const size_t last = items_.size() - 1;
        if (slot != last) {
            items_[slot] = items_[last];
            entries_[slot] = std::move(entries_[last]);
            slots_[items_[slot]] = slot;
        }
        items_.pop_back();
        entries_.pop_back();
        slots_.erase(item);
    }
    delta.upserts.clear();
    delta.removals.clear();
}

const IndexQuery::Entry* IndexQuery::entryAt(size_t index) const {
    return index < entries_.size() ? &entries_[index] : nullptr;
}

const IndexQuery::Entry* IndexQuery::entryOf(const MetadataItem& item) const {
    auto it = slots_.find(item);
    return it == slots_.end() ? nullptr : &entries_[it->second];
}

size_t IndexQuery::resultCount() const {
    MutexLock lock(mutex_);
    return items_.size();
}

MetadataItem IndexQuery::resultAt(size_t index) const {
    MutexLock lock(mutex_);
    return index < items_.size() ? items_[index] : MetadataItem{};
}

std::vector<std::string> IndexQuery::tagsAt(size_t index) const {
    MutexLock lock(mutex_);
    const Entry* e = entryAt(index);
    return e ? e->tags : std::vector<std::string>{};
}

std::optional<double> IndexQuery::latitudeAt(size_t index) const {
    MutexLock lock(mutex_);
    const Entry* e = entryAt(index);
    return e ? e->latitude : std::nullopt;
}

std::optional<double> IndexQuery::longitudeAt(size_t index) const {
    MutexLock lock(mutex_);
    const Entry* e = entryAt(index);
    return e ? e->longitude : std::nullopt;
}

void IndexQuery::readResults(const std::function<void(const ResultView&)>& visit) const {
    MutexLock lock(mutex_);
    // The list is the one published last, so each entry holds the current path.
    for (size_t i = 0; i < items_.size(); ++i) {
        const Entry& e = entries_[i];
        visit(ResultView{items_[i], std::string_view(e.path), e.tags, e.latitude, e.longitude});
    }
}

std::optional<std::string> IndexQuery::pathOf(const MetadataItem& item) const {
    MutexLock lock(mutex_);
    const Entry* e = entryOf(item);
    return e ? std::optional<std::string>(e->path) : std::nullopt;
}

std::optional<std::vector<std::string>> IndexQuery::tagsOf(const MetadataItem& item) const {
    MutexLock lock(mutex_);
    const Entry* e = entryOf(item);
    if (!e || e->tags.empty()) return std::nullopt;
    return e->tags;
}

std::optional<double> IndexQuery::latitudeOf(const MetadataItem& item) const {
    MutexLock lock(mutex_);
    const Entry* e = entryOf(item);
    return e ? e->latitude : std::nullopt;
}

std::optional<double> IndexQuery::longitudeOf(const MetadataItem& item) const {
    MutexLock lock(mutex_);
    const Entry* e = entryOf(item);
    return e ? e->longitude : std::nullopt;
}

}  // namespace qm
