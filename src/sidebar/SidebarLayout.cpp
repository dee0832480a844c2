#include "sidebar/SidebarLayout.h"

#include <algorithm>
#include <cmath>

namespace qm {

SidebarLayout::SidebarLayout(double fontSize) : rowHeight(std::round(fontSize * 1.5)) {}

double SidebarLayout::textOffset(double rowHeight, double capHeight, double ascender) {
    return std::round((rowHeight + capHeight) * 0.5 - ascender - 1);
}

std::optional<size_t> SidebarLayout::rowAt(double y, size_t rowCount) const {
    if (y < topPadding || rowHeight <= 0) return std::nullopt;
    double index = std::floor((y - topPadding) / rowHeight);
    if (index >= double(rowCount)) return std::nullopt;
    return size_t(index);
}

std::pair<size_t, size_t> SidebarLayout::rowsMeeting(double top, double bottom, size_t rowCount) const {
    if (rowHeight <= 0 || bottom <= top) return {0, 0};
    double first = std::floor((top - topPadding) / rowHeight);
    double last = std::ceil((bottom - topPadding) / rowHeight);
    size_t a = size_t(std::clamp(first, 0.0, double(rowCount)));
    size_t b = size_t(std::clamp(last, 0.0, double(rowCount)));
    return {a, std::max(a, b)};
}

double SidebarLayout::rightEdge(double clipWidth, double viewWidth, size_t count) {
    return count ? std::min(clipWidth - 6, viewWidth - 12) : clipWidth;
}

}  // namespace qm
