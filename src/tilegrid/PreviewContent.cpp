#include "tilegrid/PreviewContent.h"

#include <QFile>
#include <QMimeDatabase>

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>

#include "desktop/NativeImageDecoder.h"
#include "desktop/ScaledImageDecoder.h"

namespace qm {

namespace {

bool isKind(const QMimeType& type, QStringView prefix) {
    if (type.name().startsWith(prefix)) return true;
    const QStringList ancestors = type.allAncestors();
    return std::any_of(ancestors.begin(), ancestors.end(), [&](const QString& a) { return a.startsWith(prefix); });
}

}  // namespace

bool PreviewContent::isPlaylist(const QMimeType& type) {
    static const char* const kPlaylists[] = {
        "audio/x-mpegurl",  "application/vnd.apple.mpegurl", "audio/x-scpls", "application/xspf+xml",
        "audio/x-ms-asx",   "video/x-ms-wvx",                "video/x-ms-wmx", "application/smil+xml",
        "audio/x-iriver-pla", "application/x-cue",          "application/x-quicktime-media-link",
    };
    for (const char* name : kPlaylists) {
        const QString n = QString::fromLatin1(name);
        if (type.name() == n || type.inherits(n)) return true;
    }
    return false;
}

PreviewContent PreviewContent::load(const std::string& path, QSize box) {
    PreviewContent c;
    const QByteArray bytes = QByteArray::fromStdString(path);
    c.name = QFile::decodeName(bytes.mid(bytes.lastIndexOf('/') + 1));
    // By its bytes; non-blocking in case a pipe took the file's place.
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    struct stat st {};
    QMimeDatabase mimes;
    if (!fd || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) {
        c.mimeType = mimes.mimeTypeForFile(QFile::decodeName(bytes), QMimeDatabase::MatchExtension).name();
        c.cannotDisplay = true;
        return c;
    }
    c.size = st.st_size;
    c.modified = QDateTime::fromSecsSinceEpoch(st.st_mtim.tv_sec);
    QFile file;
    if (!file.open(fd.get(), QIODevice::ReadOnly, QFileDevice::DontCloseHandle)) {
        c.cannotDisplay = true;
        return c;
    }
    const QMimeType type = mimes.mimeTypeForFileNameAndData(QFile::decodeName(bytes), &file);
    c.mimeType = type.name();
    // The contents alone as well: a playlist named like a movie is still one.
    file.seek(0);
    const QMimeType sniffed = mimes.mimeTypeForData(file.peek(4096));
    if (isPlaylist(type) || isPlaylist(sniffed)) return c;

    const QSize fit = box.isEmpty() ? QSize(1280, 800) : box;
    const NativeImageDecoder::Kind native = NativeImageDecoder::kindOf(type);
    if (native != NativeImageDecoder::Kind::none || isKind(type, u"image/")) {
        std::optional<QImage> image;
        if (native != NativeImageDecoder::Kind::none)
            image = NativeImageDecoder::decode(path, native, fit, fd.get());
        else if (file.seek(0))
            image = ScaledImageDecoder::decode(&file, fit);
        if (image && !image->isNull()) {
            c.kind = Kind::image;
            c.image = std::move(*image);
        } else {
            c.cannotDisplay = true;
        }
        return c;
    }
    if (isKind(type, u"video/") || isKind(type, u"audio/")) {
        c.kind = Kind::media;
        c.isSound = !isKind(type, u"video/");
        file.close();
        c.file = std::make_shared<UniqueFd>(std::move(fd));
    }
    return c;
}

}  // namespace qm
