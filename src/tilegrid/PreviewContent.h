#pragma once

#include <QDateTime>
#include <QImage>
#include <QSize>
#include <QString>

#include <cstdint>
#include <memory>
#include <string>

#include "core/UniqueFd.h"

class QMimeType;

namespace qm {

// What the preview panel shows of a file, read off the main thread: the file
// is opened by its bytes (so a name that is not UTF-8 still opens), pictures
// are decoded within DecodeLimits at up to the panel's size, movies and
// sounds are handed over as the open file for the player, and playlists
// (whose entries may be network addresses) are never played.
struct PreviewContent {
    enum class Kind : uint8_t { image, media, info };
    Kind kind = Kind::info;
    QImage image;
    bool isSound = false;        // media without a picture track, as far as the type says
    bool cannotDisplay = false;  // a picture whose decoding failed, or a file that cannot be read
    QString mimeType;
    QString name;  // the file's name for showing
    qint64 size = -1;
    QDateTime modified;
    std::shared_ptr<UniqueFd> file;  // media: the file the player is to read

    // Any thread; blocks on the file.
    static PreviewContent load(const std::string& path, QSize box);
    static bool isPlaylist(const QMimeType& type);
};

}  // namespace qm
