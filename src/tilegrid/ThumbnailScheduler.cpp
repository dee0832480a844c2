#include "tilegrid/ThumbnailScheduler.h"

#include <QFile>
#include <QMimeDatabase>
#include <QThreadPool>

#include <algorithm>

#include "core/MainQueue.h"
#include "desktop/MimeIcon.h"
#include "desktop/ThumbnailService.h"

namespace qm {

namespace {

// Metadata reads of every grid: a few threads, so that a slow disk delays
// badges but never starves the thumbnail workers.
QThreadPool& metadataPool() {
    static auto* pool = [] {
        auto* p = new QThreadPool;  // never destroyed: jobs may still run at exit
        p->setMaxThreadCount(4);
        p->setExpiryTimeout(30000);
        return p;
    }();
    return *pool;
}

}  // namespace

ThumbnailScheduler::Requester ThumbnailScheduler::requesterFor(std::shared_ptr<ThumbnailService> service) {
    if (!service) return {};
    return [service = std::move(service)](const std::string& path, ThumbnailCallback done) {
        return service->request(path, QSize(ThumbnailService::kMaxSize, ThumbnailService::kMaxSize),
                                std::move(done));
    };
}

ThumbnailScheduler::ThumbnailScheduler(TileContentsCache& cache, Backend backend)
    : cache_(cache), backend_(std::move(backend)), alive_(std::make_shared<ThumbnailScheduler*>(this)) {
    if (!backend_.readMetadata)
        backend_.readMetadata = [](const std::string& path) { return readFileMetadata(path); };
    if (!backend_.runInBackground)
        backend_.runInBackground = [](std::function<void()> job) {
            metadataPool().start(QRunnable::create(std::move(job)));
        };
    if (!backend_.icon)
        backend_.icon = [](const std::string& path) {
            // By name only: the file is what did not answer.
            QMimeType type = QMimeDatabase().mimeTypeForFile(QFile::decodeName(QByteArray::fromStdString(path)),
                                                             QMimeDatabase::MatchExtension);
            return MimeIcon::forType(type.name());
        };
    if (!backend_.now) backend_.now = [] { return Clock::now(); };
    pool_.recycled = [this](TileId id, Tile&) { recycle(id); };
}

ThumbnailScheduler::~ThumbnailScheduler() {
    alive_.reset();
    for (auto& [id, r] : requests_) r.handle.cancel();
}

void ThumbnailScheduler::beginPass() {
    pool_.forEachBound([](TileId, Tile& t) { t.isPlaced = false; });
    placed_.clear();
}

void ThumbnailScheduler::placeRows(const TileGridLayout& layout, double top, double height) {
    const size_t capacity = layout.tileCapacity(height);
    beginPass();
    for (long row : TileGridLayout::rowOrder(layout.rowsFor(top, height))) {
        size_t begin = size_t(row) * size_t(layout.columns);
        size_t end = std::min(begin + size_t(layout.columns), layout.count());
        for (size_t i = begin; i < end; ++i) place(layout.paths[i], i, capacity);
    }
    endPass();
}

const Tile* ThumbnailScheduler::tile(const QuickString& path) const {
    auto id = find(path);
    return id ? &pool_.tile(*id) : nullptr;
}

QImage ThumbnailScheduler::image(const QuickString& path) const {
    auto id = find(path);
    return id ? image(*id) : QImage();
}

void ThumbnailScheduler::place(const QuickString& path, size_t index, size_t capacity) {
    TilePool::Binding b = pool_.bind(path, capacity);
    if (images_.size() < pool_.tileCount()) images_.resize(pool_.tileCount());
    if (b.isNew) {
        if (const TileContents* contents = cache_.get(path)) apply(b.id, *contents);
        else pool_.markWaiting(path, b.id);
    }
    Tile& t = pool_.tile(b.id);
    t.isPlaced = true;
    t.index = index;
}

void ThumbnailScheduler::endPass() {
    // Eviction during the pass frees only tiles bound before it (the capacity
    // covers the prepared rows), so what is placed is what is bound and marked.
    pool_.forEachBound([this](TileId id, Tile& t) {
        if (t.isPlaced) placed_.push_back(id);
    });
    while (requestNext()) {
    }
}

bool ThumbnailScheduler::requestNext() {
    if (inFlight() >= kMaxInFlight || !backend_.request) return false;
    std::optional<TileId> tile = pool_.takeNextWaiting();
    if (!tile) return false;
    const QuickString path = pool_.tile(*tile).path;
    const uint64_t id = nextRequest_++;
    std::weak_ptr<ThumbnailScheduler*> alive = alive_;
    auto readMetadata = backend_.readMetadata;
    auto runInBackground = backend_.runInBackground;
    std::string file(path.utf8());
    // The callback runs under the request's lock, which cancel() takes: it
    // only hands the result on, so cancelling never waits for the metadata.
    ThumbnailRequest handle = backend_.request(file, [alive, id, file, readMetadata, runInBackground](
                                                         const ThumbnailResult& result) {
        QImage image = result.image;
        runInBackground([alive, id, file, readMetadata, image] {
            FileMetadata metadata = readMetadata(file);
            mainQueue().postWeak(alive, [id, image, metadata](ThumbnailScheduler* self) {
                self->finish(id, image, metadata);
            });
        });
    });
    requests_.emplace(id, InFlight{*tile, path, std::move(handle), backend_.now()});
    images_[*tile].request = id;
    return true;
}

void ThumbnailScheduler::finish(uint64_t request, const QImage& image, const FileMetadata& metadata) {
    auto it = requests_.find(request);
    if (it == requests_.end()) return;  // cancelled or timed out meanwhile
    const TileId tile = it->second.tile;
    const QuickString path = it->second.path;
    requests_.erase(it);
    images_[tile].request.reset();
    if (pool_.tile(tile).path == path) {
        TileContents contents{image.isNull() ? std::nullopt : std::optional<QImage>(image), metadata};
        cache_.set(path, contents);
        apply(tile, contents);
        if (contentsChanged && pool_.tile(tile).isPlaced) contentsChanged(tile);
    }
    requestNext();
}

void ThumbnailScheduler::expireStale() {
    const Clock::time_point now = backend_.now();
    std::vector<uint64_t> stale;
    for (const auto& [id, r] : requests_)
        if (now - r.started >= kTimeout) stale.push_back(id);
    for (uint64_t id : stale) {
        auto it = requests_.find(id);
        InFlight r = std::move(it->second);
        requests_.erase(it);
        r.handle.cancel();
        images_[r.tile].request.reset();
        if (pool_.tile(r.tile).path != r.path) continue;
        std::string file(r.path.utf8());
        apply(r.tile, TileContents{backend_.icon ? std::optional<QImage>(backend_.icon(file)) : std::nullopt, {}});
        if (contentsChanged && pool_.tile(r.tile).isPlaced) contentsChanged(r.tile);
    }
    while (requestNext()) {
    }
}

void ThumbnailScheduler::apply(TileId id, const TileContents& contents) {
    Tile& t = pool_.tile(id);
    Pixels& px = images_[id];
    px.image = contents.image ? *contents.image : QImage();
    ++px.version;
    t.hasContents = true;
    t.duration = contents.metadata.duration;
    t.hasGPano = contents.metadata.gpano.has_value();
}

void ThumbnailScheduler::recycle(TileId id) {
    if (id >= images_.size()) return;
    Pixels& px = images_[id];
    if (px.request) {
        if (auto it = requests_.find(*px.request); it != requests_.end()) {
            it->second.handle.cancel();
            requests_.erase(it);
        }
        px.request.reset();
    }
    px.image = QImage();
    ++px.version;
}

}  // namespace qm
