#pragma once

#include <QSize>
#include <QThreadPool>

#include <memory>
#include <optional>
#include <string>

#include "desktop/ExternalThumbnailer.h"
#include "desktop/ThumbnailCache.h"
#include "desktop/ThumbnailRequest.h"

namespace qm {

// Thumbnails of at most 256 x 256 for files, made on a pool of background threads:
// a fresh entry of the freedesktop cache when there is one, else images decoded at
// reduced size (EXIF orientation applied), HEIF photos, raw files' previews, PDF
// first pages or a frame of a movie, and for other types the desktop's thumbnailer
// program, written back to the cache. Anything else, and every failure, yields the
// icon of the file's MIME type; a failed decode is recorded so it is not retried.
//
// The callback runs once, on a worker thread, never on the caller's; a consumer that
// owns main-thread state hops there itself. Icons are rendered on the main thread
// (Qt's icon loader is confined to it) before the callback runs on a worker, so a
// failed request completes only while the main event loop runs.
class ThumbnailService {
public:
    static constexpr int kMaxSize = 256;

    // threads <= 0: one per core, at least two.
    // The thumbnailer entries are read once, here, from the XDG data directories.
    explicit ThumbnailService(int threads = 0, ThumbnailCache cache = ThumbnailCache(),
                              ExternalThumbnailer external = ExternalThumbnailer());
    // Drops queued requests (their callbacks are never called, nor those of requests
    // waiting for their icon on the main thread) and waits for running ones. Destroy
    // it on the main thread.
    ~ThumbnailService();
    ThumbnailService(const ThumbnailService&) = delete;
    ThumbnailService& operator=(const ThumbnailService&) = delete;

    // maxSize is clamped to 256 x 256 (an empty size means 256 x 256).
    ThumbnailRequest request(const std::string& path, QSize maxSize, ThumbnailCallback callback);

    // The thumbnail, synchronously on the calling thread, from the cache or decoded
    // (and then cached); absent where a request would fall back to the icon.
    std::optional<ThumbnailResult> thumbnail(const std::string& path, QSize maxSize) const;

    const ThumbnailCache& cache() const { return cache_; }

private:
    void run(const std::shared_ptr<ThumbnailRequestState>& state, const std::string& path,
             QSize maxSize) const;
    std::optional<ThumbnailResult> make(const std::string& path, QSize maxSize,
                                        const ThumbnailRequestState* state, QString* mimeType) const;

    ThumbnailCache cache_;
    ExternalThumbnailer external_;
    // Shared so that an icon drawn on the main thread can hand its request back to a
    // worker only while the service is alive.
    std::shared_ptr<QThreadPool> pool_;
};

}  // namespace qm
