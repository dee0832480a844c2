#include "library/MemoryMetadataIndex.h"

namespace qm {

// ---- MemoryMetadataQuery ----

void MemoryMetadataQuery::setHandlers(Handlers handlers) {
    std::lock_guard lock(index_.mutex_);
    handlers_ = std::move(handlers);
}

void MemoryMetadataQuery::execute() {
    std::lock_guard lock(index_.mutex_);
    executed_ = true;
}

bool MemoryMetadataQuery::isExecuted() const {
    std::lock_guard lock(index_.mutex_);
    return executed_;
}

void MemoryMetadataQuery::disableUpdates() {
    std::lock_guard lock(index_.mutex_);
    if (disabled_++ == 0) frozen_ = currentResults();
}

void MemoryMetadataQuery::enableUpdates() {
    std::lock_guard lock(index_.mutex_);
    if (disabled_ > 0 && --disabled_ == 0) {
        frozen_.clear();
        frozen_.shrink_to_fit();
    }
}

std::vector<MemoryMetadataQuery::Result> MemoryMetadataQuery::currentResults() const {
    std::vector<Result> out;
    for (const MetadataItem& item : index_.order_) {
        auto it = index_.files_.find(item);
        if (it == index_.files_.end()) continue;
        const auto& f = it->second;
        if (kind_ == MetadataQueryKind::tags) {
            if (!f.tags || f.tags->empty()) continue;
            out.push_back(Result{item, *f.tags, std::nullopt, std::nullopt});
        } else {
            if (!f.latitude) continue;
            out.push_back(Result{item, {}, f.latitude, f.longitude});
        }
    }
    return out;
}

const MemoryMetadataQuery::Result* MemoryMetadataQuery::resultLocked(size_t index) const {
    // Reading without disabling updates is a caller's fault; answer nothing
    // rather than a list that may change under the reader.
    if (disabled_ == 0 || index >= frozen_.size()) return nullptr;
    return &frozen_[index];
}

size_t MemoryMetadataQuery::resultCount() const {
    std::lock_guard lock(index_.mutex_);
    if (disabled_ > 0) return frozen_.size();
    return currentResults().size();
}

MetadataItem MemoryMetadataQuery::resultAt(size_t index) const {
    std::lock_guard lock(index_.mutex_);
    const Result* r = resultLocked(index);
    return r ? r->item : MetadataItem{};
}

std::vector<std::string> MemoryMetadataQuery::tagsAt(size_t index) const {
    std::lock_guard lock(index_.mutex_);
    const Result* r = resultLocked(index);
    return r ? r->tags : std::vector<std::string>{};
}

std::optional<double> MemoryMetadataQuery::latitudeAt(size_t index) const {
    std::lock_guard lock(index_.mutex_);
    const Result* r = resultLocked(index);
    return r ? r->latitude : std::nullopt;
}

std::optional<double> MemoryMetadataQuery::longitudeAt(size_t index) const {
    std::lock_guard lock(index_.mutex_);
    const Result* r = resultLocked(index);
    return r ? r->longitude : std::nullopt;
}

std::optional<std::string> MemoryMetadataQuery::pathOf(const MetadataItem& item) const {
    auto f = index_.get(item);
    return f ? f->path : std::nullopt;
}

std::optional<std::vector<std::string>> MemoryMetadataQuery::tagsOf(const MetadataItem& item) const {
    auto f = index_.get(item);
    return f ? f->tags : std::nullopt;
}

std::optional<double> MemoryMetadataQuery::latitudeOf(const MetadataItem& item) const {
    auto f = index_.get(item);
    return f ? f->latitude : std::nullopt;
}

std::optional<double> MemoryMetadataQuery::longitudeOf(const MetadataItem& item) const {
    auto f = index_.get(item);
    return f ? f->longitude : std::nullopt;
}

void MemoryMetadataQuery::finish() {
    std::function<void()> fn;
    {
        std::lock_guard lock(index_.mutex_);
        fn = handlers_.onFinish;
    }
    if (fn) fn();
}

void MemoryMetadataQuery::update(const MetadataUpdate& update) {
    std::function<void(const MetadataUpdate&)> fn;
    {
        std::lock_guard lock(index_.mutex_);
        fn = handlers_.onUpdate;
    }
    if (fn) fn(update);
}

// ---- MemoryMetadataIndex ----

MemoryMetadataIndex::MemoryMetadataIndex()
    : tagQuery_(std::make_shared<MemoryMetadataQuery>(*this, MetadataQueryKind::tags)),
      gpsQuery_(std::make_shared<MemoryMetadataQuery>(*this, MetadataQueryKind::gps)) {}

MetadataItem MemoryMetadataIndex::add(File file) {
    std::lock_guard lock(mutex_);
    MetadataItem item{1, nextInode_++};
    files_.insert_or_assign(item, std::move(file));
    seen_.insert(item);
    order_.push_back(item);
    return item;
}

void MemoryMetadataIndex::set(const MetadataItem& item, File file) {
    std::lock_guard lock(mutex_);
    files_.insert_or_assign(item, std::move(file));
    if (seen_.insert(item).second) order_.push_back(item);
}

std::optional<MemoryMetadataIndex::File> MemoryMetadataIndex::get(const MetadataItem& item) const {
    std::lock_guard lock(mutex_);
    auto it = files_.find(item);
    if (it == files_.end()) return std::nullopt;
    return it->second;
}

void MemoryMetadataIndex::setPath(const MetadataItem& item, std::optional<std::string> path) {
    auto f = get(item).value_or(File{});
    f.path = std::move(path);
    set(item, std::move(f));
}

void MemoryMetadataIndex::setTags(const MetadataItem& item, std::optional<std::vector<std::string>> tags) {
    auto f = get(item).value_or(File{});
    f.tags = std::move(tags);
    set(item, std::move(f));
}

void MemoryMetadataIndex::setPosition(const MetadataItem& item, std::optional<double> latitude,
                                      std::optional<double> longitude) {
    auto f = get(item).value_or(File{});
    f.latitude = latitude;
    f.longitude = longitude;
    set(item, std::move(f));
}

void MemoryMetadataIndex::erase(const MetadataItem& item) {
    std::lock_guard lock(mutex_);
    files_.erase(item);
}

void MemoryMetadataIndex::reserve(size_t files) {
    std::lock_guard lock(mutex_);
    files_.reserve(files);
    seen_.reserve(files);
    order_.reserve(files);
}

}  // namespace qm
