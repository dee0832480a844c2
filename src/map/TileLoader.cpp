#include "map/TileLoader.h"

#include <QCoreApplication>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QStandardPaths>

#include <algorithm>

#include "core/SerialQueue.h"
#include "library/SettingsSchema.h"
#include "library/UserDefaults.h"
#include "map/TileCachePruner.h"
#include "map/TileImageReader.h"

namespace qm {

namespace {

// An HTTP date header ("Mon, 07 Dec 2026 17:00:00 GMT").
std::optional<TilePolicy::Clock::time_point> headerTime(QNetworkReply* reply, const QByteArray& name) {
    if (!reply->hasRawHeader(name)) return std::nullopt;
    return TilePolicy::parseHttpDate(reply->rawHeader(name).trimmed().toStdString());
}

std::weak_ptr<TileLoader>& sharedLoader() {
    static std::weak_ptr<TileLoader> loader;
    return loader;
}

}  // namespace

std::shared_ptr<TileLoader> TileLoader::shared() {
    std::shared_ptr<TileLoader> loader = sharedLoader().lock();
    if (!loader) {
        loader = std::make_shared<TileLoader>();
        sharedLoader() = loader;
    }
    return loader;
}

void TileLoader::applyPreferences(const UserDefaults& defaults) {
    std::shared_ptr<TileLoader> loader = sharedLoader().lock();
    if (!loader) return;  // the next map reads them
    std::string urlTemplate = defaults.get(settings::mapTileURLTemplate);
    if (!defaults.get(settings::mapTilesEnabled)) urlTemplate.clear();
    const int64_t megabytes = defaults.get(settings::mapTileCacheMegabytes);
    loader->setCacheCapBytes(megabytes * 1024 * 1024);
    loader->setSource(QString::fromStdString(urlTemplate),
                      QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation).toStdString());
}

TileLoader::TileLoader()
    : capBytes_(TileCachePruner::defaultCapBytes),
      network_(new QNetworkAccessManager(this)),
      memory_(64 * 1024),  // KiB of decoded tiles: about 250 tiles
      stopPruning_(std::make_shared<std::atomic<bool>>(false)),
      pruneQueue_(std::make_unique<SerialQueue>("tileCachePruning")),
      diskQueue_(std::make_unique<SerialQueue>("tiles")) {
    // Our own disk cache applies the tile policy; Qt's would keep its own copy.
    network_->setCache(nullptr);
    // Only http to http or https, and https to https: never another scheme.
    network_->setRedirectPolicy(QNetworkRequest::NoLessSafeRedirectPolicy);
}

TileLoader::~TileLoader() {
    stopPruning_->store(true);
    abortAll();
    // The queues finish what they hold (their answers find no loader), then join.
    diskQueue_.reset();
    pruneQueue_.reset();
}

QByteArray TileLoader::userAgent() {
    return QByteArrayLiteral("Quillomere/" QM_VERSION);
}

namespace {

// Runs fn(loader) on the main thread. Posted to the application, which
// outlives every loader; the loader itself may be gone by then.
template <typename F>
void backOnMain(std::weak_ptr<TileLoader> weak, F fn) {
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [weak, fn = std::move(fn)]() mutable {
            if (auto loader = weak.lock()) fn(*loader);
        },
        Qt::QueuedConnection);
}

}  // namespace

void TileLoader::taskReturned() {
    --backgroundTasks_;
}

void TileLoader::abortAll() {
    // Detached first: an aborted reply reports nothing back.
    auto requests = std::move(inFlight_);
    inFlight_.clear();
    for (auto& [id, request] : requests) {
        request.reply->disconnect(this);
        request.reply->abort();
        request.reply->deleteLater();
    }
}

void TileLoader::setSource(const QString& urlTemplate, const std::filesystem::path& cacheHome) {
    const QString accepted =
        TilePolicy::isAcceptedTemplate(urlTemplate.toStdString()) ? urlTemplate : QString();
    if (accepted == urlTemplate_ && (accepted.isEmpty() || cacheHome == cacheHome_)) return;
    abortAll();
    ++generation_;
    urlTemplate_ = accepted;
    cacheHome_ = cacheHome;
    memory_.clear();
    queue_.clear();
    pending_.clear();
    needsFetch_.clear();
    failed_.clear();
    disk_.reset();
    if (isEnabled()) {
        disk_ = std::make_shared<const TileDiskCache>(
            TileDiskCache::rootFor(cacheHome_, urlTemplate_.toStdString()));
        schedulePruning();
    }
    // The maps say what they show now, then the tiles are asked for once:
    // not for what one of them showed before.
    changingSource_ = true;
    Q_EMIT sourceChanged();
    changingSource_ = false;
    refresh();
}

const QImage* TileLoader::tile(const TileKey& key) const {
    return memory_.object(key.packed());
}

void TileLoader::insert(const TileKey& key, QImage image) {
    int cost = int(std::max<qsizetype>(1, image.sizeInBytes() / 1024));
    memory_.insert(key.packed(), new QImage(std::move(image)), cost);
}

void TileLoader::setWanted(const void* client, const std::vector<TileKey>& keys) {
    auto it =
        std::find_if(wanted_.begin(), wanted_.end(), [client](const auto& w) { return w.first == client; });
    if (keys.empty()) {
        if (it != wanted_.end()) wanted_.erase(it);
    } else if (it != wanted_.end()) {
        it->second = keys;
    } else {
        wanted_.emplace_back(client, keys);
    }
    refresh();
}

void TileLoader::refresh() {
    if (changingSource_) return;
    if (!isEnabled()) {
        queue_.clear();
        return;
    }
    // Every map's most important tiles first, taking turns.
    std::vector<TileKey> order;
    std::unordered_set<uint64_t> seen;
    for (size_t rank = 0;; ++rank) {
        bool any = false;
        for (const auto& [client, keys] : wanted_)
            if (rank < keys.size()) {
                any = true;
                if (seen.insert(keys[rank].packed()).second) order.push_back(keys[rank]);
            }
        if (!any) break;
    }
    const auto now = std::chrono::steady_clock::now();
    std::deque<TileKey> next;
    for (const TileKey& key : order) {
        const uint64_t id = key.packed();
        if (inFlight_.count(id) || pending_.count(id)) continue;
        if (auto f = failed_.find(id); f != failed_.end()) {
            if (now - f->second < retryAfter) continue;
            failed_.erase(f);
        }
        if (needsFetch_.count(id))
            next.push_back(key);  // a stale tile, if any, is shown meanwhile
        else if (!memory_.contains(id))
            lookOnDisk(key);
    }
    queue_ = std::move(next);
    startRequests();
}

void TileLoader::lookOnDisk(const TileKey& key) {
    pending_.insert(key.packed());
    ++backgroundTasks_;
    diskQueue_->async(
        [weak = weak_from_this(), disk = disk_, key, generation = generation_, stop = stopPruning_] {
            std::optional<QImage> image;
            bool fresh = false;
            if (!stop->load()) {
                if (std::optional<TileDiskCache::Entry> e = disk->read(key)) {
                    image = TileImageReader::read(QByteArray::fromStdString(e->bytes));
                    fresh = e->expiry > TilePolicy::Clock::now();
                }
            }
            backOnMain(weak, [generation, key, image = std::move(image), fresh](TileLoader& loader) mutable {
                loader.taskReturned();
                loader.diskAnswered(generation, key, std::move(image), fresh);
            });
        });
}

void TileLoader::diskAnswered(uint64_t generation, TileKey key, std::optional<QImage> image, bool fresh) {
    if (generation != generation_) return;
    pending_.erase(key.packed());
    if (!image || !fresh) needsFetch_.insert(key.packed());
    if (image) {
        insert(key, std::move(*image));
        Q_EMIT tileLoaded();
    }
    refresh();
}

void TileLoader::startRequests() {
    while (int(inFlight_.size()) < TilePolicy::maxConnections && !queue_.empty()) {
        TileKey key = queue_.front();
        queue_.pop_front();
        QUrl url(QString::fromStdString(TilePolicy::url(urlTemplate_.toStdString(), key)));
        const QString scheme = url.scheme().toLower();
        if (!url.isValid() || (scheme != QLatin1String("http") && scheme != QLatin1String("https"))) {
            failed_[key.packed()] = std::chrono::steady_clock::now();
            continue;
        }
        QNetworkRequest request(url);
        request.setHeader(QNetworkRequest::UserAgentHeader, userAgent());
        request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
        request.setTransferTimeout(30000);
        QNetworkReply* reply = network_->get(request);
        ++requestsSent_;
        const uint64_t id = key.packed();
        inFlight_[id] = Request{reply, {}, false};
        // The size is checked against the announced length first, then as it arrives.
        connect(reply, &QNetworkReply::metaDataChanged, this, [this, reply, id] {
            const QVariant length = reply->header(QNetworkRequest::ContentLengthHeader);
            auto it = inFlight_.find(id);
            if (it == inFlight_.end() || it->second.reply != reply || !length.isValid()) return;
            if (length.toLongLong() > TilePolicy::maxResponseBytes) {
                it->second.refused = true;
                reply->abort();
            }
        });
        connect(reply, &QNetworkReply::readyRead, this, [this, reply, id] { readBody(reply, id); });
        connect(reply, &QNetworkReply::finished, this, [this, reply, key] { finished(reply, key); });
    }
}

void TileLoader::readBody(QNetworkReply* reply, uint64_t id) {
    auto it = inFlight_.find(id);
    if (it == inFlight_.end() || it->second.reply != reply || it->second.refused) return;
    Request& r = it->second;
    const qint64 room = TilePolicy::maxResponseBytes - r.body.size() + 1;
    r.body.append(reply->read(std::max<qint64>(room, 1)));
    if (r.body.size() > TilePolicy::maxResponseBytes) {
        r.refused = true;
        r.body.clear();
        reply->abort();
    }
}

void TileLoader::finished(QNetworkReply* reply, TileKey key) {
    const uint64_t id = key.packed();
    auto it = inFlight_.find(id);
    if (it == inFlight_.end() || it->second.reply != reply) return;
    if (!it->second.refused) {
        readBody(reply, id);
        it = inFlight_.find(id);
        if (it == inFlight_.end()) return;
    }
    Request request = std::move(it->second);
    inFlight_.erase(id);
    reply->deleteLater();
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (request.refused || reply->error() != QNetworkReply::NoError || status != 200) {
        failed_[id] = std::chrono::steady_clock::now();  // a stale copy stays shown
        startRequests();
        return;
    }
    const auto now = TilePolicy::Clock::now();
    std::optional<std::string> cacheControl;
    if (reply->hasRawHeader("Cache-Control")) cacheControl = reply->rawHeader("Cache-Control").toStdString();
    const auto expiry =
        TilePolicy::expiry(now, cacheControl, headerTime(reply, "Expires"), headerTime(reply, "Date"));
    // Pending until decoded, so that it is not asked for again meanwhile.
    pending_.insert(id);
    ++backgroundTasks_;
    diskQueue_->async([weak = weak_from_this(), disk = disk_, key, expiry, body = std::move(request.body),
                       generation = generation_] {
        std::optional<QImage> image = TileImageReader::read(body);
        // Only what decodes is kept: a refused tile is never cached.
        if (image) disk->write(key, body.toStdString(), expiry);
        const int64_t bytes = body.size();
        backOnMain(weak, [generation, key, image = std::move(image), bytes](TileLoader& loader) mutable {
            loader.taskReturned();
            loader.decoded(generation, key, std::move(image), bytes);
        });
    });
    startRequests();
}

void TileLoader::decoded(uint64_t generation, TileKey key, std::optional<QImage> image, int64_t bytes) {
    if (generation != generation_) return;
    pending_.erase(key.packed());
    if (!image) {
        failed_[key.packed()] = std::chrono::steady_clock::now();
        refresh();
        return;
    }
    needsFetch_.erase(key.packed());
    // Counted once written (the write came before this answer), so that a
    // pruning scheduled from here sees it.
    bytesSincePruning_ += bytes;
    insert(key, std::move(*image));
    if (bytesSincePruning_ > capBytes_ / 16) schedulePruning();
    Q_EMIT tileLoaded();
    refresh();
}

void TileLoader::schedulePruning() {
    if (isPruning_ || !disk_) return;
    isPruning_ = true;
    bytesSincePruning_ = 0;
    ++backgroundTasks_;
    pruneQueue_->async([weak = weak_from_this(), disk = disk_, cap = capBytes_, stop = stopPruning_] {
        disk->markUsed();
        TileCachePruner::prune(disk->root().parent_path(), disk->root().filename().string(),
                               TilePolicy::Clock::now(), cap, stop.get());
        backOnMain(weak, [](TileLoader& loader) {
            loader.taskReturned();
            loader.isPruning_ = false;
            // Tiles written meanwhile may call for another round.
            if (loader.bytesSincePruning_ > loader.capBytes_ / 16) loader.schedulePruning();
        });
    });
}

}  // namespace qm
