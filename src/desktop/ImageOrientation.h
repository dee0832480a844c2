#pragma once

#include <QImage>

namespace qm {

// Turns and mirrors a stored image as its EXIF orientation (1 to 8) says, so that
// it reads as the photographer saw it.
class ImageOrientation {
public:
    static QImage apply(const QImage& stored, int exifOrientation);
    // True for the orientations that swap width and height (5 to 8).
    static bool swapsSides(int exifOrientation) { return exifOrientation >= 5 && exifOrientation <= 8; }
};

}  // namespace qm
