#include "app/ContentLayout.h"

namespace qm {

TileGridConstraints contentModeFor(bool isOnMap, bool hasMapResults) {
    if (!isOnMap) return TileGridConstraints::full;
    return hasMapResults ? TileGridConstraints::partial : TileGridConstraints::hidden;
}

QRect tileGridFrame(TileGridConstraints mode, const QRect& area) {
    using namespace contentLayout;
    switch (mode) {
    case TileGridConstraints::full:
        return area;
    case TileGridConstraints::partial: {
        const int left = area.x() + area.width() - (resultsPanelWidth + mapInset);
        const int top = area.y() + mapInset + mapTopOffset;
        const int right = area.x() + area.width() - mapInset;
        const int bottom = area.y() + area.height() - mapInset;
        return QRect(left, top, right - left, bottom - top);
    }
    case TileGridConstraints::hidden:
        break;
    }
    return {};
}

}  // namespace qm
