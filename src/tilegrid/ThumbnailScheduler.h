#pragma once

#include <absl/container/flat_hash_map.h>

#include <QImage>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/QuickString.h"
#include "desktop/ThumbnailRequest.h"
#include "media/FileMetadata.h"
#include "tilegrid/TileContentsCache.h"
#include "tilegrid/TileGridLayout.h"
#include "tilegrid/TilePool.h"

namespace qm {

class ThumbnailService;

// Gives the grid's tiles their thumbnails: binds tiles to the files the update
// pass places, serves what the contents cache holds, and requests the rest,
// at most 16 at a time, most recently placed first. A tile recycled while its
// request runs cancels it without waiting for any file I/O; a request that
// does not finish within the timeout (a hung network mount) gives its slot
// back and its tile shows the file type's icon. Main thread, apart from the
// backend's work.
class ThumbnailScheduler {
public:
    static constexpr int kMaxInFlight = 16;
    static constexpr std::chrono::milliseconds kTimeout{10000};
    using Clock = std::chrono::steady_clock;

    using Requester = std::function<ThumbnailRequest(const std::string& path, ThumbnailCallback)>;
    // Requests from the service at its largest size; none without a service.
    static Requester requesterFor(std::shared_ptr<ThumbnailService> service);

    struct Backend {
        // Starts a request; its callback runs at most once, on any thread,
        // unless cancelled first.
        Requester request;
        // The duration and panorama record; on a worker, outside every
        // request's lock. Defaults to readFileMetadata.
        std::function<FileMetadata(const std::string& path)> readMetadata;
        // Runs a job on a worker thread. Defaults to a small pool of its own.
        std::function<void(std::function<void()>)> runInBackground;
        // The icon of the file's type, for a request that timed out; main
        // thread. Defaults to the icon of the type its name suggests.
        std::function<QImage(const std::string& path)> icon;
        std::function<Clock::time_point()> now;
    };

    ThumbnailScheduler(TileContentsCache& cache, Backend backend);
    // Cancels every request; completions still on their way find it gone.
    ~ThumbnailScheduler();
    ThumbnailScheduler(const ThumbnailScheduler&) = delete;
    ThumbnailScheduler& operator=(const ThumbnailScheduler&) = delete;

    // A placed tile's contents changed (a completion or a timeout): repaint it.
    std::function<void(TileId)> contentsChanged;

    // One update pass: begin, place each file at its index in binding order,
    // end (which starts the requests, most recently placed first).
    void beginPass();
    void place(const QuickString& path, size_t index, size_t capacity);
    void endPass();
    // A whole pass over a layout: the rows from a screen above to a screen
    // below the visible band [top, top + height), in the layout's binding
    // order, keeping five screens' worth of tiles.
    void placeRows(const TileGridLayout& layout, double top, double height);
    // The tiles placed by the last pass.
    const std::vector<TileId>& placed() const { return placed_; }

    // Frees the slots of requests older than the timeout; their tiles show
    // the file type's icon (not cached, so a later visit tries again).
    void expireStale();

    const TilePool& pool() const { return pool_; }
    TileContentsCache& cache() { return cache_; }
    int inFlight() const { return int(requests_.size()); }
    // The image a tile shows (null while waiting) and a number that changes
    // whenever it does, for scaled copies kept by the painter.
    const QImage& image(TileId id) const { return images_[id].image; }
    uint32_t version(TileId id) const { return images_[id].version; }
    std::optional<TileId> find(const QuickString& path) const { return pool_.find(path); }
    // The bound tile of a file, and its image; null and a null image when none.
    const Tile* tile(const QuickString& path) const;
    QImage image(const QuickString& path) const;

private:
    struct Pixels {
        QImage image;
        uint32_t version = 0;
        std::optional<uint64_t> request;
    };
    struct InFlight {
        TileId tile;
        QuickString path;
        ThumbnailRequest handle;
        Clock::time_point started;
    };

    bool requestNext();
    void finish(uint64_t request, const QImage& image, const FileMetadata& metadata);
    void apply(TileId id, const TileContents& contents);
    void recycle(TileId id);

    TileContentsCache& cache_;
    Backend backend_;
    TilePool pool_;
    std::vector<Pixels> images_;  // by tile id
    std::vector<TileId> placed_;
    absl::flat_hash_map<uint64_t, InFlight> requests_;
    uint64_t nextRequest_ = 1;
    // Completions hold it weakly: the scheduler may be gone when they arrive.
    std::shared_ptr<ThumbnailScheduler*> alive_;
};

}  // namespace qm
