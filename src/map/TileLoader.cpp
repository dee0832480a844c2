#include "map/TileLoader.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>

#include <QDateTime>

#include <algorithm>

namespace qm {

namespace {

// An HTTP date header ("Mon, 07 Dec 2026 17:00:00 GMT").
std::optional<TilePolicy::Clock::time_point> headerTime(QNetworkReply* reply, const QByteArray& name) {
    if (!reply->hasRawHeader(name)) return std::nullopt;
    QDateTime t = QDateTime::fromString(QString::fromLatin1(reply->rawHeader(name)).trimmed(), Qt::RFC2822Date);
    if (!t.isValid()) return std::nullopt;
    return TilePolicy::Clock::time_point(std::chrono::milliseconds(t.toMSecsSinceEpoch()));
}

}  // namespace

TileLoader::TileLoader(QString urlTemplate, std::filesystem::path cacheRoot, QObject* parent)
    : QObject(parent),
      urlTemplate_(std::move(urlTemplate)),
      disk_(std::move(cacheRoot)),
      network_(new QNetworkAccessManager(this)),
      memory_(64 * 1024) {  // KiB of decoded tiles: about 250 tiles
    // Our own disk cache applies the tile policy; Qt's would keep its own copy.
    network_->setCache(nullptr);
    network_->setRedirectPolicy(QNetworkRequest::NoLessSafeRedirectPolicy);
}

TileLoader::~TileLoader() {
    for (auto& [key, reply] : inFlight_) {
        reply->disconnect(this);
        reply->abort();
        reply->deleteLater();
    }
}

QByteArray TileLoader::userAgent() {
    return QByteArrayLiteral("Quillomere/" QM_VERSION);
}

const QImage* TileLoader::tile(const TileKey& key) const {
    return memory_.object(key.packed());
}

void TileLoader::insert(const TileKey& key, QImage image) {
    int cost = std::max<qsizetype>(1, image.sizeInBytes() / 1024);
    memory_.insert(key.packed(), new QImage(std::move(image)), int(cost));
}

bool TileLoader::loadFromDisk(const TileKey& key, bool* fresh) {
    std::optional<TileDiskCache::Entry> e = disk_.read(key);
    if (!e) return false;
    QImage image;
    if (!image.loadFromData(reinterpret_cast<const uchar*>(e->bytes.data()), int(e->bytes.size()))) return false;
    insert(key, std::move(image));
    *fresh = e->expiry > TilePolicy::Clock::now();
    return true;
}

void TileLoader::setWanted(const std::vector<TileKey>& keys) {
    std::deque<TileKey> next;
    for (const TileKey& key : keys) {
        uint64_t id = key.packed();
        if (inFlight_.count(id)) continue;
        if (auto f = failed_.find(id); f != failed_.end()) {
            if (std::chrono::steady_clock::now() - f->second < retryAfter) continue;
            failed_.erase(f);
            checked_.erase(id);
        }
        if (!checked_.count(id)) {
            checked_.insert(id);
            bool fresh = false;
            if (loadFromDisk(key, &fresh) && fresh) continue;
            // Missing or stale: fetch (a stale tile is shown meanwhile).
            next.push_back(key);
        } else if (!memory_.contains(id)) {
            bool fresh = false;
            if (loadFromDisk(key, &fresh) && fresh) continue;
            next.push_back(key);
        } else if (std::find(queue_.begin(), queue_.end(), key) != queue_.end()) {
            next.push_back(key);  // stale tile still waiting for its refresh
        }
    }
    queue_ = std::move(next);
    startRequests();
}

void TileLoader::startRequests() {
    while (int(inFlight_.size()) < TilePolicy::maxConnections && !queue_.empty()) {
        TileKey key = queue_.front();
        queue_.pop_front();
        QUrl url(QString::fromStdString(TilePolicy::url(urlTemplate_.toStdString(), key)));
        if (!url.isValid() || url.scheme().isEmpty()) {
            failed_[key.packed()] = std::chrono::steady_clock::now();
            continue;
        }
        QNetworkRequest request(url);
        request.setHeader(QNetworkRequest::UserAgentHeader, userAgent());
        request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
        request.setTransferTimeout(30000);
        QNetworkReply* reply = network_->get(request);
        ++requestsSent_;
        inFlight_[key.packed()] = reply;
        connect(reply, &QNetworkReply::finished, this, [this, reply, key] { finished(reply, key); });
    }
}

void TileLoader::finished(QNetworkReply* reply, TileKey key) {
    inFlight_.erase(key.packed());
    reply->deleteLater();
    int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    bool loaded = false;
    if (reply->error() == QNetworkReply::NoError && status == 200) {
        QByteArray bytes = reply->readAll();
        QImage image;
        if (image.loadFromData(bytes)) {
            auto now = TilePolicy::Clock::now();
            std::optional<std::string> cacheControl;
            if (reply->hasRawHeader("Cache-Control")) cacheControl = reply->rawHeader("Cache-Control").toStdString();
            auto expiry = TilePolicy::expiry(now, cacheControl, headerTime(reply, "Expires"),
                                             headerTime(reply, "Date"));
            disk_.write(key, bytes.toStdString(), expiry);
            insert(key, std::move(image));
            loaded = true;
        }
    }
    if (!loaded) failed_[key.packed()] = std::chrono::steady_clock::now();  // a stale copy stays shown
    startRequests();
    if (loaded) Q_EMIT tileLoaded();
}

}  // namespace qm
