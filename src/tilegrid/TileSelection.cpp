#include "tilegrid/TileSelection.h"

#include <algorithm>

namespace qm {

namespace {

constexpr double kZone = 30;

std::optional<size_t> indexIn(std::span<const QuickString> paths, const QuickString& p) {
    auto it = std::find(paths.begin(), paths.end(), p);
    if (it == paths.end()) return std::nullopt;
    return size_t(it - paths.begin());
}

}  // namespace

TileZone tileZoneAt(double x, double y, double tileSize) {
    if (y < kZone && x < kZone) return TileZone::check;
    if (y < kZone && x >= tileSize - kZone) return TileZone::star;
    return TileZone::body;
}

void TileSelection::noticeSelection(const QuickStringSet& selection) {
    if (anchorSelection == selection) return;
    anchorSelection = selection;
    anchor.reset();
    cursor.reset();
}

QuickStringSet TileSelection::assign(QuickStringSet s) {
    anchorSelection = s;
    return s;
}

std::optional<size_t> TileSelection::cursorIndex(std::span<const QuickString> paths,
                                                 const QuickStringSet& selection) const {
    // One pass over the shown paths finds every selected index at once.
    std::optional<size_t> low, high, cursorAt, anchorAt;
    if (selection.empty()) return std::nullopt;
    size_t found = 0;
    QuickStringSet seen;
    for (size_t i = 0; i < paths.size() && found < selection.size(); ++i) {
        const QuickString& p = paths[i];
        if (!selection.contains(p) || !seen.insert(p).second) continue;
        ++found;
        if (!low) low = i;
        high = i;
        if (cursor && *cursor == p) cursorAt = i;
        if (anchor && *anchor == p) anchorAt = i;
    }
    if (cursorAt) return cursorAt;
    if (!low) return std::nullopt;
    if (anchorAt) return *anchorAt == *low ? high : low;
    return low;
}

QuickStringSet TileSelection::selectIndex(size_t i, bool extend, std::span<const QuickString> paths) {
    cursor = paths[i];
    if (extend && anchor) {
        if (auto a = indexIn(paths, *anchor)) {
            QuickStringSet range;
            for (size_t j = std::min(*a, i); j <= std::max(*a, i); ++j) range.insert(paths[j]);
            return assign(std::move(range));
        }
    }
    anchor = paths[i];
    return assign(QuickStringSet{paths[i]});
}

TileSelection::Click TileSelection::mouseDown(std::optional<size_t> i, TileZone zone, Modifiers mods,
                                              std::span<const QuickString> paths,
                                              const QuickStringSet& selection) {
    Click out;
    itemToRemoveOnMouseUp.reset();
    if (!i) {
        if (mods.shift) return out;
        cursor.reset();
        anchor.reset();
        anchorSelection.clear();
        out.effect = Click::Effect::select;
        return out;
    }
    const QuickString& path = paths[*i];
    cursor = path;
    if (zone == TileZone::check || isUsingCheckBoxes) {
        QuickStringSet next = selection;
        if (isUsingCheckBoxes && selection.contains(path)) {
            itemToRemoveOnMouseUp = path;
        } else {
            next.insert(path);
            anchor.reset();
        }
        isUsingCheckBoxes = true;
        out.effect = Click::Effect::select;
        out.selection = assign(std::move(next));
        return out;
    }
    if (zone == TileZone::star) {
        out.effect = Click::Effect::toggleStar;
        out.path = path;
        return out;
    }
    if (mods.shift && anchor) {
        if (auto a = indexIn(paths, *anchor)) {
            size_t lo = std::min(*a, *i), hi = std::max(*a, *i);
            QuickStringSet next;
            if (mods.command) {
                next = selection;
                bool adding = selection.contains(*anchor);
                for (size_t j = lo; j <= hi; ++j) {
                    if (adding) next.insert(paths[j]);
                    else next.erase(paths[j]);
                }
                anchor.reset();
            } else {
                for (size_t j = lo; j <= hi; ++j) next.insert(paths[j]);
            }
            out.effect = Click::Effect::select;
            out.selection = assign(std::move(next));
            return out;
        }
    }
    if (mods.command) {
        QuickStringSet next = selection;
        if (!next.erase(path)) next.insert(path);
        anchor = path;
        out.effect = Click::Effect::select;
        out.selection = assign(std::move(next));
        return out;
    }
    if (!selection.contains(path)) {
        anchor = path;
        out.effect = Click::Effect::select;
        out.selection = assign(QuickStringSet{path});
    }
    return out;
}

std::optional<QuickStringSet> TileSelection::mouseUp(const QuickStringSet& selection) {
    if (!itemToRemoveOnMouseUp) return std::nullopt;
    cursor.reset();
    anchor.reset();
    anchorSelection.clear();
    QuickStringSet next = selection;
    next.erase(*itemToRemoveOnMouseUp);
    itemToRemoveOnMouseUp.reset();
    return next;
}

QuickStringSet TileSelection::selectAll(std::span<const QuickString> paths) {
    return assign(QuickStringSet(paths.begin(), paths.end()));
}

size_t tileArrowTarget(TileArrow arrow, std::optional<size_t> k, size_t n, size_t columns, size_t rows,
                       bool command) {
    if (n == 0) return 0;
    const size_t c = std::max<size_t>(columns, 1);
    const size_t last = n - 1;
    switch (arrow) {
    case TileArrow::left:
        if (!k) return 0;
        return command ? *k - *k % c : (*k == 0 ? 0 : *k - 1);
    case TileArrow::right:
        if (!k) return command ? std::min(c - 1, last) : 0;
        return std::min(command ? *k + c - 1 - *k % c : *k + 1, last);
    case TileArrow::up: {
        if (!k) return 0;
        size_t step = command ? rows : 1;
        size_t row = *k / c;
        size_t col = *k % c;
        return (row > step ? row - step : 0) * c + col;
    }
    case TileArrow::down: {
        if (!k) return command ? last - last % c : 0;
        size_t step = command ? rows : 1;
        size_t col = *k % c;
        size_t lastRowWithCol = last % c >= col ? last / c : last / c - 1;
        size_t row = std::min(*k / c + step, lastRowWithCol);
        return row * c + col;
    }
    }
    return 0;
}

}  // namespace qm
