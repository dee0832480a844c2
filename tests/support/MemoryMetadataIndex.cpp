#include "support/MemoryMetadataIndex.h"

#include <algorithm>
#include <utility>

namespace qm {

// ---- MemoryMetadataQuery ----

void MemoryMetadataQuery::setHandlers(Handlers handlers) {
    MutexLock lock(index_.mutex_);
    handlers_ = std::move(handlers);
}

void MemoryMetadataQuery::execute() {
    MutexLock lock(index_.mutex_);
    executed_ = true;
}

bool MemoryMetadataQuery::isExecuted() const {
    MutexLock lock(index_.mutex_);
    return executed_;
}

void MemoryMetadataQuery::disableUpdates() {
    MutexLock lock(index_.mutex_);
    if (disabled_++ == 0) frozen_ = slots_;
}

void MemoryMetadataQuery::enableUpdates() {
    MutexLock lock(index_.mutex_);
    if (disabled_ > 0 && --disabled_ == 0) frozen_.reset();
}

bool MemoryMetadataQuery::matches(const MemoryMetadataFile* file) const {
    if (!file) return false;
    if (kind_ == MetadataQueryKind::tags) return file->tags && !file->tags->empty();
    return file->latitude.has_value();
}

MemoryMetadataQuery::Slots& MemoryMetadataQuery::writableSlots() {
    // A frozen reader holds this very list: give the script its own copy.
    if (frozen_ == slots_) slots_ = std::make_shared<Slots>(*slots_);
    return *slots_;
}

void MemoryMetadataQuery::fileChanged(uint64_t seq, const MetadataItem& item, const FilePtr& file) {
    const Slots& current = *slots_;
    auto pos = std::lower_bound(current.begin(), current.end(), seq,
                                [](const Slot& s, uint64_t key) { return s.seq < key; });
    const bool listed = pos != current.end() && pos->seq == seq;
    const bool wanted = matches(file.get());
    if (!listed && !wanted) return;
    const auto at = pos - current.begin();
    Slots& slots = writableSlots();
    if (listed && wanted)
        slots[size_t(at)].file = file;
    else if (listed)
        slots.erase(slots.begin() + at);
    else
        slots.insert(slots.begin() + at, Slot{seq, item, file});
}

const MemoryMetadataFile* MemoryMetadataQuery::currentFile(const MetadataItem& item) const {
    // The frozen slot holds the item's current record only while the list is
    // unchanged since the freeze; any change to a listed file copies it.
    if (disabled_ > 0 && frozen_ == slots_ && cursor_ < frozen_->size()) {
        const Slot& s = (*frozen_)[cursor_];
        if (s.item == item) return s.file.get();
    }
    return index_.fileLocked(item);
}

const MemoryMetadataQuery::Slot* MemoryMetadataQuery::slotAt(size_t index) const {
    // Reading without disabling updates is a caller's fault; answer nothing
    // rather than a list that may change under the reader.
    if (disabled_ == 0 || !frozen_ || index >= frozen_->size()) return nullptr;
    return &(*frozen_)[index];
}

size_t MemoryMetadataQuery::resultCount() const {
    MutexLock lock(index_.mutex_);
    return disabled_ > 0 && frozen_ ? frozen_->size() : slots_->size();
}

MetadataItem MemoryMetadataQuery::resultAt(size_t index) const {
    MutexLock lock(index_.mutex_);
    const Slot* s = slotAt(index);
    if (s) cursor_ = index;
    return s ? s->item : MetadataItem{};
}

// The cached attributes are the query's own: a tag query caches no position
// and a GPS query no tags.
std::vector<std::string> MemoryMetadataQuery::tagsAt(size_t index) const {
    MutexLock lock(index_.mutex_);
    const Slot* s = slotAt(index);
    if (!s || kind_ != MetadataQueryKind::tags) return {};
    return s->file->tags.value_or(std::vector<std::string>{});
}

std::optional<double> MemoryMetadataQuery::latitudeAt(size_t index) const {
    MutexLock lock(index_.mutex_);
    const Slot* s = slotAt(index);
    if (!s || kind_ != MetadataQueryKind::gps) return std::nullopt;
    return s->file->latitude;
}

std::optional<double> MemoryMetadataQuery::longitudeAt(size_t index) const {
    MutexLock lock(index_.mutex_);
    const Slot* s = slotAt(index);
    if (!s || kind_ != MetadataQueryKind::gps) return std::nullopt;
    return s->file->longitude;
}

void MemoryMetadataQuery::readResults(const std::function<void(const ResultView&)>& visit) const {
    static const std::vector<std::string> none;
    MutexLock lock(index_.mutex_);
    if (disabled_ == 0 || !frozen_) return;
    // While nothing changed since the freeze, each slot's record is current.
    const bool current = frozen_ == slots_;
    for (const Slot& s : *frozen_) {
        const MemoryMetadataFile* now = current ? s.file.get() : index_.fileLocked(s.item);
        const MemoryMetadataFile& cached = *s.file;
        const bool tags = kind_ == MetadataQueryKind::tags;
        visit(ResultView{s.item,
                         now && now->path ? std::optional<std::string_view>(*now->path) : std::nullopt,
                         tags && cached.tags ? *cached.tags : none, tags ? std::nullopt : cached.latitude,
                         tags ? std::nullopt : cached.longitude});
    }
}

std::optional<std::string> MemoryMetadataQuery::pathOf(const MetadataItem& item) const {
    MutexLock lock(index_.mutex_);
    const MemoryMetadataFile* f = currentFile(item);
    return f ? f->path : std::nullopt;
}

std::optional<std::vector<std::string>> MemoryMetadataQuery::tagsOf(const MetadataItem& item) const {
    MutexLock lock(index_.mutex_);
    const MemoryMetadataFile* f = currentFile(item);
    return f ? f->tags : std::nullopt;
}

std::optional<double> MemoryMetadataQuery::latitudeOf(const MetadataItem& item) const {
    MutexLock lock(index_.mutex_);
    const MemoryMetadataFile* f = currentFile(item);
    return f ? f->latitude : std::nullopt;
}

std::optional<double> MemoryMetadataQuery::longitudeOf(const MetadataItem& item) const {
    MutexLock lock(index_.mutex_);
    const MemoryMetadataFile* f = currentFile(item);
    return f ? f->longitude : std::nullopt;
}

void MemoryMetadataQuery::finish() {
    std::function<void()> fn;
    {
        MutexLock lock(index_.mutex_);
        fn = handlers_.onFinish;
    }
    if (fn) fn();
}

void MemoryMetadataQuery::update(const MetadataUpdate& update) {
    std::function<void(const MetadataUpdate&)> fn;
    {
        MutexLock lock(index_.mutex_);
        fn = handlers_.onUpdate;
    }
    if (fn) fn(update);
}

// ---- MemoryMetadataIndex ----

MemoryMetadataIndex::MemoryMetadataIndex()
    : tagQuery_(std::make_shared<MemoryMetadataQuery>(*this, MetadataQueryKind::tags)),
      gpsQuery_(std::make_shared<MemoryMetadataQuery>(*this, MetadataQueryKind::gps)) {}

const MemoryMetadataFile* MemoryMetadataIndex::fileLocked(const MetadataItem& item) const {
    auto it = records_.find(item);
    return it == records_.end() ? nullptr : it->second.file.get();
}

void MemoryMetadataIndex::store(const MetadataItem& item, FilePtr file) {
    auto [it, inserted] = records_.try_emplace(item);
    if (inserted) it->second.seq = nextSeq_++;
    it->second.file = std::move(file);
    tagQuery_->fileChanged(it->second.seq, item, it->second.file);
    gpsQuery_->fileChanged(it->second.seq, item, it->second.file);
}

template <typename Change>
void MemoryMetadataIndex::modify(const MetadataItem& item, Change&& change) {
    MutexLock lock(mutex_);
    const File* current = fileLocked(item);
    auto next = std::make_shared<File>(current ? *current : File{});
    change(*next);
    store(item, std::move(next));
}

MetadataItem MemoryMetadataIndex::add(File file) {
    MutexLock lock(mutex_);
    MetadataItem item{1, nextInode_++};
    store(item, std::make_shared<const File>(std::move(file)));
    return item;
}

void MemoryMetadataIndex::set(const MetadataItem& item, File file) {
    MutexLock lock(mutex_);
    store(item, std::make_shared<const File>(std::move(file)));
}

std::optional<MemoryMetadataIndex::File> MemoryMetadataIndex::get(const MetadataItem& item) const {
    MutexLock lock(mutex_);
    const File* f = fileLocked(item);
    if (!f) return std::nullopt;
    return *f;
}

void MemoryMetadataIndex::setPath(const MetadataItem& item, std::optional<std::string> path) {
    modify(item, [&](File& f) { f.path = std::move(path); });
}

void MemoryMetadataIndex::setTags(const MetadataItem& item, std::optional<std::vector<std::string>> tags) {
    modify(item, [&](File& f) { f.tags = std::move(tags); });
}

void MemoryMetadataIndex::setPosition(const MetadataItem& item, std::optional<double> latitude,
                                      std::optional<double> longitude) {
    modify(item, [&](File& f) {
        f.latitude = latitude;
        f.longitude = longitude;
    });
}

void MemoryMetadataIndex::erase(const MetadataItem& item) {
    MutexLock lock(mutex_);
    auto it = records_.find(item);
    if (it == records_.end() || !it->second.file) return;
    store(item, nullptr);
}

void MemoryMetadataIndex::reserve(size_t files) {
    MutexLock lock(mutex_);
    records_.reserve(files);
}

}  // namespace qm
