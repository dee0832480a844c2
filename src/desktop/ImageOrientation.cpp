#include "desktop/ImageOrientation.h"

#include <QTransform>

namespace qm {

QImage ImageOrientation::apply(const QImage& stored, int exifOrientation) {
    // Mirror first, then turn clockwise: the order in which EXIF composes them.
    bool mirrorH = false, mirrorV = false;
    int turn = 0;
    switch (exifOrientation) {
        case 2:
            mirrorH = true;
            break;
        case 3:
            turn = 180;
            break;
        case 4:
            mirrorV = true;
            break;
        case 5:
            mirrorV = true, turn = 90;
            break;
        case 6:
            turn = 90;
            break;
        case 7:
            mirrorH = true, turn = 90;
            break;
        case 8:
            turn = 270;
            break;
        default:
            return stored;
    }
    QImage image = (mirrorH || mirrorV) ? stored.mirrored(mirrorH, mirrorV) : stored;
    if (turn != 0) image = image.transformed(QTransform().rotate(turn));
    return image;
}

}  // namespace qm
