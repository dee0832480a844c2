#pragma once

#include <cstddef>
#include <optional>
#include <span>

#include "core/QuickString.h"
#include "library/Node.h"

namespace qm {

// Where in a tile a click landed.
enum class TileZone : uint8_t { body = 0, check = 1, star = 2 };

// The zone of a point in a tile's own coordinates (origin at its top-left).
TileZone tileZoneAt(double x, double y, double tileSize);

// The grid's part of the selection: the window owns the selected set; the
// grid keeps the cursor arrows move from, the anchor of Shift ranges, the
// check-box mode and the set it last assigned itself, so that a change made
// elsewhere drops cursor and anchor. Every operation that answers a set
// expects the caller to make it the window's selection.
class TileSelection {
public:
    std::optional<QuickString> cursor;
    std::optional<QuickString> anchor;
    QuickStringSet anchorSelection;
    bool isUsingCheckBoxes = false;
    std::optional<QuickString> itemToRemoveOnMouseUp;

    // Forgets cursor and anchor when someone else changed the selection.
    void noticeSelection(const QuickStringSet& selection);

    // The index arrow keys move from, or none.
    std::optional<size_t> cursorIndex(std::span<const QuickString> paths, const QuickStringSet& selection) const;
    // Moves the cursor to i; extends from the anchor when asked and possible.
    QuickStringSet selectIndex(size_t i, bool extend, std::span<const QuickString> paths);

    struct Modifiers {
        bool shift = false;
        bool command = false;
    };
    // What a mouse-down asks of the window.
    struct Click {
        enum class Effect : uint8_t { none, select, toggleStar };
        Effect effect = Effect::none;
        QuickStringSet selection;  // for select
        QuickString path;          // for toggleStar
    };
    // A left mouse-down on index i (none outside every tile) in a zone.
    Click mouseDown(std::optional<size_t> i, TileZone zone, Modifiers mods, std::span<const QuickString> paths,
                    const QuickStringSet& selection);
    // The selection after the mouse-up, when it changes.
    std::optional<QuickStringSet> mouseUp(const QuickStringSet& selection);
    // Every shown path.
    QuickStringSet selectAll(std::span<const QuickString> paths);

private:
    QuickStringSet assign(QuickStringSet s);
};

// Arrow-key movement over n > 0 tiles in `columns` columns and `rows` rows
// from index k (none when nothing is selected); Command jumps to the edge.
enum class TileArrow : uint8_t { left, right, up, down };
size_t tileArrowTarget(TileArrow arrow, std::optional<size_t> k, size_t n, size_t columns, size_t rows,
                       bool command);

}  // namespace qm
