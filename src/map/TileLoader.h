#pragma once

#include <QCache>
#include <QImage>
#include <QObject>
#include <QString>

#include <atomic>
#include <chrono>
#include <deque>
#include <filesystem>
#include <memory>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "map/TileDiskCache.h"
#include "map/TilePolicy.h"

class QNetworkAccessManager;
class QNetworkReply;

namespace qm {

class SerialQueue;
class UserDefaults;

// Fetches XYZ raster tiles for every map of the program, following the tile
// servers' usage rules: a User-Agent naming the program and its version, at
// most two requests at a time for the whole program, only the tiles the maps
// show (no prefetching), and a disk cache kept for the server's expiry but at
// least a week, bounded in size. Responses are limited in size and decoded
// off the main thread (TileImageReader); what is refused is never cached.
// A tile that cannot be fetched is simply missing (the base layer shows
// through); a stale cached one is shown while it is refreshed, and kept when
// that fails. Main thread only.
class TileLoader : public QObject, public std::enable_shared_from_this<TileLoader> {
    Q_OBJECT
public:
    // The program's one loader, made when the first map asks for it and
    // gone with the last map.
    static std::shared_ptr<TileLoader> shared();
    // Applies the tile preferences (on or off, address, cache size) to the
    // program's loader, if there is one: every map showing follows at once.
    static void applyPreferences(const UserDefaults& defaults);

    TileLoader();
    ~TileLoader() override;

    static QByteArray userAgent();

    // The source of the tiles: an accepted address template (anything else
    // turns the tiles off, as an empty one does) and the cache folder
    // ($XDG_CACHE_HOME) its tiles are kept under. A new source aborts the
    // requests in flight and forgets the tiles of the old one.
    void setSource(const QString& urlTemplate, const std::filesystem::path& cacheHome);
    const QString& urlTemplate() const { return urlTemplate_; }
    bool isEnabled() const { return !urlTemplate_.isEmpty(); }
    void setCacheCapBytes(int64_t bytes) { capBytes_ = bytes; }

    // The tiles a map shows now, most important first; an empty list when
    // it hides. Tiles neither in memory nor on disk are fetched; queued tiles
    // no map wants any more are dropped (requests already sent finish and are
    // cached).
    void setWanted(const void* client, const std::vector<TileKey>& keys);
    // The decoded tile, or null.
    const QImage* tile(const TileKey& key) const;

    int requestsInFlight() const { return int(inFlight_.size()); }
    int requestsSent() const { return requestsSent_; }
    // Tasks handed to the background queues and not yet back.
    int backgroundTasks() const { return backgroundTasks_; }
    bool isPruning() const { return isPruning_; }

Q_SIGNALS:
    // A tile arrived (from the disk or the network).
    void tileLoaded();
    // The source changed: what the maps show of the tiles is gone.
    void sourceChanged();

private:
    struct Request {
        QNetworkReply* reply = nullptr;
        QByteArray body;
        bool refused = false;
    };

    void refresh();
    void startRequests();
    void readBody(QNetworkReply* reply, uint64_t id);
    void finished(QNetworkReply* reply, TileKey key);
    void lookOnDisk(const TileKey& key);
    void diskAnswered(uint64_t generation, TileKey key, std::optional<QImage> image, bool fresh);
    void decoded(uint64_t generation, TileKey key, std::optional<QImage> image, int64_t bytes);
    void insert(const TileKey& key, QImage image);
    void schedulePruning();
    void abortAll();
    void taskReturned();

    QString urlTemplate_;
    std::filesystem::path cacheHome_;
    std::shared_ptr<const TileDiskCache> disk_;
    int64_t capBytes_;
    // Bumped by each new source: answers for an older one are dropped.
    uint64_t generation_ = 0;
    QNetworkAccessManager* network_;
    QCache<uint64_t, QImage> memory_;
    std::vector<std::pair<const void*, std::vector<TileKey>>> wanted_;
    std::deque<TileKey> queue_;
    std::unordered_map<uint64_t, Request> inFlight_;
    // Tiles being read from disk or decoded.
    std::unordered_set<uint64_t> pending_;
    // Tiles the disk had not, or only stale: the network is asked.
    std::unordered_set<uint64_t> needsFetch_;
    // Tiles that failed are not asked for again for a while, so that a broken
    // server is not hammered, yet a network that comes back is used.
    static constexpr std::chrono::minutes retryAfter{5};
    std::unordered_map<uint64_t, std::chrono::steady_clock::time_point> failed_;
    int requestsSent_ = 0;
    int backgroundTasks_ = 0;
    int64_t bytesSincePruning_ = 0;
    bool isPruning_ = false;
    bool changingSource_ = false;
    std::shared_ptr<std::atomic<bool>> stopPruning_;
    // Last: their destructors run what is queued and join, while all the
    // above still exists.
    std::unique_ptr<SerialQueue> pruneQueue_;
    std::unique_ptr<SerialQueue> diskQueue_;
};

}  // namespace qm
