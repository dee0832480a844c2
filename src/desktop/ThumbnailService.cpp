#include "desktop/ThumbnailService.h"

#include <QCoreApplication>
#include <QFile>
#include <QMetaObject>
#include <QMimeDatabase>
#include <QThread>

#include <algorithm>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "desktop/DecodeLimits.h"
#include "desktop/MimeIcon.h"
#include "desktop/MovieFrameDecoder.h"
#include "desktop/NativeImageDecoder.h"
#include "desktop/ScaledImageDecoder.h"

#if defined(__SANITIZE_THREAD__)
#define QM_TSAN 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define QM_TSAN 1
#endif
#endif
#ifdef QM_TSAN
extern "C" void __tsan_acquire(void* addr);
extern "C" void __tsan_release(void* addr);
#endif

namespace qm {
namespace {

// Qt hands work between threads under locks ThreadSanitizer cannot see (Qt is not
// instrumented); these state the ordering it provides around each hand-over. One
// fixed address, as the work's own captures cannot be read before the acquire.
#ifdef QM_TSAN
char handOverToken;
#endif
void handOver() {
#ifdef QM_TSAN
    __tsan_release(&handOverToken);
#endif
}
void takeOver() {
#ifdef QM_TSAN
    __tsan_acquire(&handOverToken);
#endif
}

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
                 QSize maxSize, std::weak_ptr<QThreadPool> pool) {
    auto finish = [state, maxSize](const QImage& icon) {
        takeOver();
        // The icon is drawn at 256 x 256; a smaller request gets it smaller.
        state->deliver({fitted(icon, maxSize), ThumbnailResult::Origin::icon});
    };
    if (auto icon = MimeIcon::cached(mimeType)) return finish(*icon);
    QCoreApplication* app = QCoreApplication::instance();
    if (!app) return finish(MimeIcon::generic());
    handOver();
    QMetaObject::invokeMethod(
        app,
        [state, mimeType, finish, pool] {
            takeOver();
            if (state->isCancelled()) return;
            // The service is gone: its requests are dropped, not delivered late.
            auto workers = pool.lock();
            if (!workers) return;
            QImage icon = MimeIcon::forType(mimeType);
            // Back to a worker, as every callback runs there.
            QRunnable* task = QRunnable::create([finish, icon] { finish(icon); });
            handOver();
            workers->start(task);
        },
        Qt::QueuedConnection);
}

}  // namespace

ThumbnailService::ThumbnailService(int threads, ThumbnailCache cache, ExternalThumbnailer external)
    : cache_(std::move(cache)), external_(std::move(external)), pool_(std::make_shared<QThreadPool>()) {
    pool_->setMaxThreadCount(threads > 0 ? threads : std::max(2, QThread::idealThreadCount()));
    // The user is waiting for these; they are not lowered like background chores.
    pool_->setThreadPriority(QThread::NormalPriority);
    pool_->setExpiryTimeout(30000);
    DecodeLimits::applyToQt();
}

ThumbnailService::~ThumbnailService() {
    pool_->clear();
    pool_->waitForDone();
}

ThumbnailRequest ThumbnailService::request(const std::string& path, QSize maxSize,
                                           ThumbnailCallback callback) {
    auto state = std::make_shared<ThumbnailRequestState>(std::move(callback));
    QRunnable* task = QRunnable::create([this, state, path, size = clamped(maxSize)] {
        takeOver();
        run(state, path, size);
    });
    handOver();
    pool_->start(task);
    return ThumbnailRequest(state);
}

void ThumbnailService::run(const std::shared_ptr<ThumbnailRequestState>& state, const std::string& path,
                           QSize maxSize) const {
    if (state->isCancelled()) return;
    QString mimeType;
    if (auto result = make(path, maxSize, state.get(), &mimeType)) return state->deliver(*result);
    if (!state->isCancelled()) deliverIcon(state, mimeType, maxSize, pool_);
}

std::optional<ThumbnailResult> ThumbnailService::thumbnail(const std::string& path, QSize maxSize) const {
    return make(path, clamped(maxSize), nullptr, nullptr);
}

std::optional<ThumbnailResult> ThumbnailService::make(const std::string& path, QSize maxSize,
                                                      const ThumbnailRequestState* state,
                                                      QString* mimeType) const {
    const QString qpath = QFile::decodeName(QByteArray::fromStdString(path));
    auto source = ThumbnailCache::source(path);
    // Opened by its bytes and read through the descriptor: a name that is not valid
    // UTF-8 does not survive the round trip through QString. Non-blocking, in case a
    // FIFO took the file's place since it was looked at.
    struct Descriptor {
        int fd = -1;
        ~Descriptor() {
            if (fd >= 0) ::close(fd);
        }
    } descriptor;
    QFile file;  // declared after the descriptor, so closed before it
    if (source) {
        descriptor.fd = ::open(source->path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
        struct stat st {};
        if (descriptor.fd < 0 || ::fstat(descriptor.fd, &st) != 0 || !S_ISREG(st.st_mode) ||
            !file.open(descriptor.fd, QIODevice::ReadOnly, QFileDevice::DontCloseHandle))
            source.reset();
    }
    QMimeDatabase mimes;
    QMimeType type = source ? mimes.mimeTypeForFileNameAndData(qpath, &file)
                            : mimes.mimeTypeForFile(qpath, QMimeDatabase::MatchExtension);
    if (mimeType) *mimeType = type.name();
    if (!source) return std::nullopt;  // missing, a folder or a device: its icon
    if (auto image = cache_.find(*source, maxSize)) return ThumbnailResult{*image, ThumbnailResult::Origin::cache};

    // Our own decoders first; the desktop's programs only for what none of them reads.
    const NativeImageDecoder::Kind native = NativeImageDecoder::kindOf(type);
    const bool isNative = native != NativeImageDecoder::Kind::none;
    const bool isImage = !isNative && isKind(type, u"image/");
    const bool isMovie = !isNative && !isImage && isKind(type, u"video/");
    const bool isExternal = !isNative && !isImage && !isMovie && external_.handles(type.name());
    if ((!isNative && !isImage && !isMovie && !isExternal) || cache_.contains(source->path))
        return std::nullopt;
    if (cache_.hasFailure(*source)) return std::nullopt;
    if (state && state->isCancelled()) return std::nullopt;

    // Decoded at the cache's size, so the entry serves every later request.
    const QSize large(kMaxSize, kMaxSize);
    std::optional<QImage> image;
    DecodeFailure failure = DecodeFailure::file;
    if (isNative)
        image = NativeImageDecoder::decode(source->path, native, large, descriptor.fd, &failure);
    else if (isImage)
        image = file.seek(0) ? ScaledImageDecoder::decode(&file, large, &failure) : std::nullopt;
    else if (isMovie)
        image = MovieFrameDecoder::decode(descriptor.fd, source->path, large, type.name().toStdString(), &failure);
    else
        image = external_.run(source->path, source->uri, type.name(), kMaxSize, &failure);
    if (!image) {
        // Only what the file itself causes is kept on record; memory or
        // descriptors running short now says nothing about the next try.
        if (failure == DecodeFailure::file) cache_.recordFailure(*source);
        return std::nullopt;
    }
    cache_.store(*source, *image, type.name());
    return ThumbnailResult{fitted(*image, maxSize), ThumbnailResult::Origin::decoded};
}

}  // namespace qm
