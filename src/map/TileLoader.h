#pragma once

#include <QCache>
#include <QImage>
#include <QObject>
#include <QString>

#include <chrono>
#include <deque>
#include <memory>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "map/TileDiskCache.h"
#include "map/TilePolicy.h"

class QNetworkAccessManager;
class QNetworkReply;

namespace qm {

// Fetches XYZ raster tiles for the map, following the tile servers' usage
// rules: a User-Agent naming the program and its version, at most two
// requests at a time, only the tiles the view asks for (no prefetching), and
// a disk cache kept for the server's expiry but at least a week. A tile that
// cannot be fetched is simply missing (the base layer shows through); a stale
// cached one is shown while it is refreshed, and kept when that fails.
class TileLoader : public QObject {
    Q_OBJECT
public:
    TileLoader(QString urlTemplate, std::filesystem::path cacheRoot, QObject* parent = nullptr);
    ~TileLoader() override;

    static QByteArray userAgent();
    const QString& urlTemplate() const { return urlTemplate_; }

    // The tiles the view shows now, most important first. Tiles neither
    // in memory nor fetched are queued; queued tiles no longer wanted are
    // dropped (requests already sent finish and are cached).
    void setWanted(const std::vector<TileKey>& keys);
    // The decoded tile, or null.
    const QImage* tile(const TileKey& key) const;

    int requestsInFlight() const { return int(inFlight_.size()); }
    int requestsSent() const { return requestsSent_; }

Q_SIGNALS:
    // A tile arrived (from the network or from disk after a refresh failed).
    void tileLoaded();

private:
    void startRequests();
    void finished(QNetworkReply* reply, TileKey key);
    bool loadFromDisk(const TileKey& key, bool* fresh);
    void insert(const TileKey& key, QImage image);

    QString urlTemplate_;
    TileDiskCache disk_;
    QNetworkAccessManager* network_;
    QCache<uint64_t, QImage> memory_;
    std::deque<TileKey> queue_;
    std::unordered_map<uint64_t, QNetworkReply*> inFlight_;
    // Tiles that failed are not asked for again for a while, so that a broken
    // server is not hammered, yet a network that comes back is used.
    static constexpr std::chrono::minutes retryAfter{5};
    std::unordered_map<uint64_t, std::chrono::steady_clock::time_point> failed_;
    // Tiles checked on disk and refreshed (or being refreshed) in this session.
    std::unordered_set<uint64_t> checked_;
    int requestsSent_ = 0;
};

}  // namespace qm
