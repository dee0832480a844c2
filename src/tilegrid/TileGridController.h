#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <vector>

#include "core/PathMetadata.h"
#include "core/QuickString.h"
#include "commands/DropInfo.h"
#include "core/Subscription.h"
#include "desktop/TypeAhead.h"
#include "library/Node.h"
#include "library/NodePath.h"
#include "tilegrid/TileGridLayout.h"
#include "tilegrid/TileMenuModel.h"
#include "tilegrid/TileSelection.h"

namespace qm {

class BrowserState;

// Something the grid's widget must do after an intent; the controller never
// touches a widget or the desktop itself.
struct TileEffect {
    enum class Kind : uint8_t {
        scrollTo,          // the cell of `index` into view
        revealIndices,     // scroll so that `indices` sit in the middle
        open,              // open `paths` with their default applications
        confirmOpen,       // ask first: opening `paths` starts one application each
        showInFileManager, // show `paths` in the file manager
        reveal,            // go to `node` and select `files` there (modifiers: tab, window)
        revealMap,         // show `gps` on the map
        removeCircle,
        promptAddTag,      // ask for a tag for `paths`
    };
    Kind kind = Kind::scrollTo;
    size_t index = 0;
    std::vector<size_t> indices;
    std::vector<QuickString> paths;
    NodePath node;
    QuickStringSet files;
    std::optional<GPS> gps;
};
using TileEffects = std::vector<TileEffect>;

// The tile grid's rules, free of any toolkit: which files it shows, the
// selection (cursor, anchor and check-box mode are its own), what clicks,
// keys and menu entries do to the window's selection and through its command
// stack, and which files a request to open, reveal, drag or drop concerns.
class TileGridController {
public:
    // More than this many files opened at once asks first.
    static constexpr size_t kOpenWithoutAsking = 10;

    // The clock times the pauses of type-ahead (a test's own in tests).
    explicit TileGridController(std::shared_ptr<BrowserState> window, TypeAhead::Clock clock = {});

    const std::shared_ptr<BrowserState>& window() const { return window_; }
    NodePtr currentNode() const;
    bool isMapNode() const;
    // The files shown for a width: the node's, or the map results.
    TileGridLayout layout(double width) const;
    // The height of the names' strip under each picture; 0 shows no names.
    void setCaptionHeight(double height) { captionHeight_ = height; }
    double captionHeight() const { return captionHeight_; }

    // ---- Selection ----
    bool isUsingCheckBoxes() const { return selection_.isUsingCheckBoxes; }
    bool isSelected(const QuickString& path) const;
    bool isStarred(const QuickString& path) const;
    // Once per update pass: an empty selection ends check-box mode, and a
    // selection changed elsewhere drops the cursor and anchor.
    void noticeSelection();
    std::optional<size_t> cursorIndex(const TileGridLayout& layout) const;

    struct Modifiers {
        bool shift = false;
        bool command = false;  // Ctrl
    };
    // A left press at index i (none outside every tile) in a zone.
    void press(const TileGridLayout& layout, std::optional<size_t> i, TileZone zone, Modifiers mods);
    void release();
    // The pointer moved with the button down: a pending deselection is off.
    void dragMoved();
    TileEffects arrow(const TileGridLayout& layout, TileArrow arrow, Modifiers mods);
    void selectAll(const TileGridLayout& layout);
    TileEffects escape();
    // Selects just the file at i and opens it.
    TileEffects activate(const TileGridLayout& layout, size_t i);
    // Letters typed with the grid focused: selects the first file, in the
    // grid's order from the one found last (or the cursor), whose name
    // starts with what was typed, as the sidebar finds its rows. A click, an
    // arrow key, Escape or another node starts a new pattern.
    TileEffects typeAhead(const TileGridLayout& layout, std::string_view characters);
    const TypeAhead& typeAheadState() const { return typeAhead_; }

    // ---- Actions on the selected files of the current node ----
    std::vector<QuickString> selectedShownPaths() const;
    // Open them; more than kOpenWithoutAsking asks first.
    TileEffects open() const;
    TileEffects showInFileManager() const;
    // Untags in a tag node, moves to the Trash in a folder node.
    void deleteSelection();
    void toggleStar(const QuickString& path);

    // ---- Context menu ----
    // The entries for a press on tile i, which becomes selected when it was
    // not; empty without a node. `selection` is what the entries act on.
    std::vector<TileMenuEntry> menu(const TileGridLayout& layout, size_t i, std::vector<QuickString>* selection);
    TileEffects runMenuAction(const TileMenuEntry& entry, const std::vector<QuickString>& selection);

    // ---- Drag and drop ----
    // The selected files a drag carries, in display order.
    std::vector<QuickString> draggedPaths(const TileGridLayout& layout) const;
    // Whether dropping these files onto the current node would do anything:
    // it takes drops (a tag or folder node) and not all are listed there.
    bool acceptsDrop(const std::vector<QuickString>& paths) const;
    // What dropping them would do to the files, for the drag's feedback:
    // a folder node moves or copies them (DropInfo::operationFor), a tag
    // node leaves them where they are (a copy, to the source). Looks at
    // the file systems, so asked once per drag.
    struct DropPlan {
        bool accepted = false;
        bool isFolder = false;
        bool sameFileSystem = true;
        // With the drop's current modifiers; none when refused.
        std::optional<DropOperation> operation(const DropInfo& drop) const;
    };
    DropPlan planDrop(const DropInfo& drop) const;
    // Performs it through the window's command stack; whether it was taken.
    bool drop(const DropInfo& drop, DropOperation* performed) const;

    // ---- Reveal ----
    // Goes to the node (its ancestors expanded) and answers where to scroll;
    // files not listed yet (a folder still being read) are revealed by
    // pendingReveal once they arrive.
    TileEffects reveal(const NodePath& node, const QuickStringSet& paths, double width);
    bool hasPendingReveal() const { return pending_.has_value(); }
    // After an update pass: the scroll and selection a reveal still owes, when
    // its files are shown now. Leaving the node forgets it.
    TileEffects pendingReveal(const TileGridLayout& layout);
    // The window's node changed (the controller hears it first): a folder
    // reached without its sidebar row (history, a jump, a restored window) is
    // read now, and a reveal owed to another node is forgotten.
    void currentNodeChanged();

private:
    // What a drop onto a folder (or else a tag) node does with its files,
    // from where they lie and the drop's actions; none when the source
    // allows no operation there.
    static std::optional<DropOperation> dropOperation(bool isFolder, bool sameFileSystem, const DropInfo& drop);
    void setSelection(const QuickStringSet& selection);
    TileEffects revealIn(const TileGridLayout& layout, const QuickStringSet& paths);

    struct PendingReveal {
        NodePath node;
        QuickStringSet paths;
    };

    const std::shared_ptr<BrowserState> window_;
    TileSelection selection_;
    TypeAhead typeAhead_;
    double captionHeight_ = 0;
    std::optional<PendingReveal> pending_;
    Subscription nodeChanged_;
};

}  // namespace qm
