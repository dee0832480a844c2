#pragma once

#include <QPoint>
#include <QRect>

#include <memory>

#include "core/QuickString.h"

class QWidget;

namespace qm {

class Tree;

// Shows the tooltips of a grid's tiles over its viewport: what the library
// and the grid's cache know at once, the file's size and date once read off
// the main thread (shown without them after a short wait), and the place name
// once it is looked up. Only the presenter holds the request being shown, so
// an answer that comes after it (or another tile's tooltip) is dropped.
class TileToolTipPresenter {
public:
    explicit TileToolTipPresenter(QWidget* viewport);
    ~TileToolTipPresenter();

    // The pointer rests on the file's tile; `area` is the tile in viewport
    // coordinates, and leaving it hides the tooltip.
    void show(const Tree& tree, const QuickString& path, const QRect& area, const QPoint& globalPos);
    void hide();

private:
    struct Request;
    void show(const std::shared_ptr<Request>& request);

    QWidget* viewport_;
    std::shared_ptr<Request> current_;
};

}  // namespace qm
