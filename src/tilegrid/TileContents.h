#pragma once

#include <QImage>
#include <optional>

#include "media/FileMetadata.h"

namespace qm {

// What the grid caches per path: the thumbnail (or the stand-in icon) and the metadata.
// QImage is implicitly shared, so copies across threads are cheap and safe.
struct TileContents {
    std::optional<QImage> image;
    FileMetadata metadata;
};

}  // namespace qm
