#include "platform/ThumbnailService.h"

#include <QCoreApplication>
#include <QFile>
#include <QMetaObject>
#include <QMimeDatabase>
#include <QThread>

#include <algorithm>

#include "platform/MimeIcon.h"
#include "platform/MovieFrameDecoder.h"
#include "platform/ScaledImageDecoder.h"

namespace qm {
namespace {

QSize clamped(QSize s) {
    if (s.isEmpty()) return {ThumbnailService::kMaxSize, ThumbnailService::kMaxSize};
    return s.boundedTo({ThumbnailService::kMaxSize, ThumbnailService::kMaxSize});
}

bool isKind(const QMimeType& type, QStringView prefix) {
    if (type.name().startsWith(prefix)) return true;
    const QStringList ancestors = type.allAncestors();
    return std::any_of(ancestors.begin(), ancestors.end(),
                       [&](const QString& a) { return a.startsWith(prefix); });
}

QImage fitted(QImage image, QSize maxSize) {
    if (image.width() > maxSize.width() || image.height() > maxSize.height())
        image = image.scaled(maxSize, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    return image;
}

void deliverIcon(const std::shared_ptr<ThumbnailRequestState>& state, const QString& mimeType,
                 QSize maxSize) {
    auto finish = [state, maxSize](const QImage& icon) {
        // The icon is drawn at 256 x 256; a smaller request gets it smaller.
        state->deliver({fitted(icon, maxSize), ThumbnailResult::Origin::icon});
    };
    if (auto icon = MimeIcon::cached(mimeType)) return finish(*icon);
    QCoreApplication* app = QCoreApplication::instance();
    if (!app) return finish(MimeIcon::generic());
    QMetaObject::invokeMethod(
        app,
        [state, mimeType, finish] {
            if (state->isCancelled()) return;
            QImage icon = MimeIcon::forType(mimeType);
            // Back to a worker, as every callback runs there.
            QThreadPool::globalInstance()->start([finish, icon] { finish(icon); });
        },
        Qt::QueuedConnection);
}

}  // namespace

ThumbnailService::ThumbnailService(int threads, ThumbnailCache cache) : cache_(std::move(cache)) {
    pool_.setMaxThreadCount(threads > 0 ? threads : std::max(2, QThread::idealThreadCount()));
    // The user is waiting for these; they are not lowered like background chores.
    pool_.setThreadPriority(QThread::NormalPriority);
    pool_.setExpiryTimeout(30000);
}

ThumbnailService::~ThumbnailService() {
    pool_.clear();
    pool_.waitForDone();
}

ThumbnailRequest ThumbnailService::request(const std::string& path, QSize maxSize,
                                           ThumbnailCallback callback) {
    auto state = std::make_shared<ThumbnailRequestState>(std::move(callback));
    pool_.start([this, state, path, size = clamped(maxSize)] { run(state, path, size); });
    return ThumbnailRequest(state);
}

void ThumbnailService::run(const std::shared_ptr<ThumbnailRequestState>& state, const std::string& path,
                           QSize maxSize) const {
    if (state->isCancelled()) return;
    QString mimeType;
    if (auto result = make(path, maxSize, state.get(), &mimeType)) return state->deliver(*result);
    if (!state->isCancelled()) deliverIcon(state, mimeType, maxSize);
}

std::optional<ThumbnailResult> ThumbnailService::thumbnail(const std::string& path, QSize maxSize) const {
    return make(path, clamped(maxSize), nullptr, nullptr);
}

std::optional<ThumbnailResult> ThumbnailService::make(const std::string& path, QSize maxSize,
                                                      const ThumbnailRequestState* state,
                                                      QString* mimeType) const {
    const QString qpath = QFile::decodeName(QByteArray::fromStdString(path));
    auto source = ThumbnailCache::source(path);
    QMimeType type = QMimeDatabase().mimeTypeForFile(qpath, source ? QMimeDatabase::MatchDefault
                                                                   : QMimeDatabase::MatchExtension);
    if (mimeType) *mimeType = type.name();
    if (!source) return std::nullopt;  // missing, a folder or a device: its icon
    if (auto image = cache_.find(*source, maxSize)) return ThumbnailResult{*image, ThumbnailResult::Origin::cache};

    const bool isImage = isKind(type, u"image/");
    const bool isMovie = !isImage && isKind(type, u"video/");
    if ((!isImage && !isMovie) || cache_.contains(source->path)) return std::nullopt;
    if (cache_.hasFailure(*source)) return std::nullopt;
    if (state && state->isCancelled()) return std::nullopt;

    // Decoded at the cache's size, so the entry serves every later request.
    const QSize large(kMaxSize, kMaxSize);
    std::optional<QImage> image = isImage ? ScaledImageDecoder::decode(qpath, large)
                                          : MovieFrameDecoder::decode(source->path, large);
    if (!image) {
        cache_.recordFailure(*source);
        return std::nullopt;
    }
    cache_.store(*source, *image, type.name());
    return ThumbnailResult{fitted(*image, maxSize), ThumbnailResult::Origin::decoded};
}

}  // namespace qm
