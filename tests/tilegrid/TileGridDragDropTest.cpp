// The picture a drag out of the grid carries.
#include <gtest/gtest.h>

#include <QImage>
#include <QPixmap>

#include "tilegrid/TileGridDragDrop.h"

namespace qm {
namespace {

// A wide and a tall thumbnail: the middle square of each, red, between blue
// margins that must not show.
TEST(TileGridDragDrop, TheDragPictureIsTheMiddleSquareOfTheThumbnail) {
    for (QSize size : {QSize(300, 100), QSize(100, 300), QSize(40, 40)}) {
        QImage thumbnail(size, QImage::Format_RGB32);
        thumbnail.fill(Qt::blue);
        const int side = std::min(size.width(), size.height());
        const int x = (size.width() - side) / 2, y = (size.height() - side) / 2;
        for (int j = y; j < y + side; ++j)
            for (int i = x; i < x + side; ++i) thumbnail.setPixelColor(i, j, Qt::red);
        QImage picture = TileGridDragDrop::dragPixmap(thumbnail).toImage();
        ASSERT_EQ(picture.size(), QSize(96, 96)) << size.width() << "x" << size.height();
        for (QPoint p : {QPoint(0, 0), QPoint(95, 0), QPoint(0, 95), QPoint(95, 95), QPoint(48, 48)})
            EXPECT_EQ(picture.pixelColor(p), QColor(Qt::red)) << size.width() << "x" << size.height();
    }
}

}  // namespace
}  // namespace qm
