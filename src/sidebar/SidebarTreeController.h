#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "library/Node.h"
#include "library/NodePath.h"
#include "sidebar/SidebarActions.h"
#include "sidebar/SidebarRows.h"
#include "sidebar/TypeNavigation.h"

namespace qm {

class BrowserState;
class DB;

// Rows the view should scroll into view after a key: `count` rows from `first`.
struct SidebarRowSpan {
    size_t first = 0;
    size_t count = 1;
    friend bool operator==(const SidebarRowSpan&, const SidebarRowSpan&) = default;
};

// The keys the tree acts on, apart from scrolling.
enum class SidebarTreeKey : uint8_t {
    up,
    down,
    left,
    right,
    expandSubtree,  // "*": the current row and everything below it
    commit,         // Return: the row found by typing becomes current
    escape,
    rename,         // F2
};

// An inline name editor's target: the action, the node it was opened for
// (by node path and identity) and what the prompt says.
struct SidebarEdit {
    SidebarAction action;
    NodePath path;
    std::weak_ptr<Node> node;
    SidebarPrompt prompt;
    // New Tag and New Folder edit a row that does not exist yet, one level
    // below the node, just under its row.
    bool isNew = false;
};

// Everything the sidebar tree decides, apart from the widget: the visible
// rows, which row a key or click moves to, expansion, type-ahead, the rename
// and menu rules and what an inline edit applies to. Works on the window's
// state and the library; the view paints, scrolls and translates events.
class SidebarTreeController {
public:
    // window: not null; db may be null (no library: no rows).
    SidebarTreeController(std::shared_ptr<BrowserState> window, std::shared_ptr<DB> db,
                          TypeNavigation::Clock clock = {});

    const SidebarRows& rows();
    // The tree or the expansion set changed: the rows are walked again on use.
    void invalidateRows();
    // The window's current node changed.
    void invalidateCurrentRow() { currentRowCache_.reset(); }
    std::optional<size_t> currentRow();

    // ---- Keys ----
    struct KeyOutcome {
        bool handled = true;
        std::optional<SidebarRowSpan> reveal;  // rows to scroll into view
        bool redraw = false;                   // the type-ahead ring moved
        const Node* expansionChanged = nullptr;
        std::optional<SidebarAction> trigger;  // an action to run (F2)
    };
    // `command`: Ctrl; `recursive`: the modifier that applies an expansion
    // change to the whole subtree.
    KeyOutcome key(SidebarTreeKey key, bool command, bool recursive);
    // Printable characters typed into the tree.
    KeyOutcome typeCharacters(std::string_view characters);
    void setTypeNavigationClock(TypeNavigation::Clock clock) { typeNavigation_ = TypeNavigation(std::move(clock)); }
    const TypeNavigation& typeNavigation() const { return typeNavigation_; }
    void resetTypeNavigation() { typeNavigation_.reset(); }

    // ---- Mouse ----
    enum class Click : uint8_t { none, selected, toggled };
    // A left click at content x on a row: right of the disclosure boundary it
    // selects, left of it on an expandable row it toggles (the subtree too
    // when `recursive`), otherwise nothing.
    Click leftClick(size_t row, double x, bool recursive);
    // A right click selects its row (the menu is then built for it).
    void rightClick(size_t row);
    // The row a tag drag starts from carries this tag, if any.
    std::optional<std::string> draggedTag(size_t row);

    // ---- Expansion ----
    void setExpanded(const Node& node, bool expand, bool recursive);

    // ---- Rules of the current row ----
    // What F2 renames: a tag under a tag-holding parent, else a folder below
    // the Folders section.
    std::optional<SidebarAction> renameAction();
    std::vector<SidebarMenuItem> menu();

    // ---- Inline edits ----
    // Opens an edit of the current node for a naming action; none when the
    // action needs no name or the node has no row.
    std::optional<SidebarEdit> beginEdit(SidebarAction action);
    // Whether the edit's node is still in the tree at its path.
    bool isAlive(const SidebarEdit& edit);
    // The row the editor sits on (for a new item, the row just below the
    // node's) and the depth its text starts at; none when the node's row is
    // not shown.
    struct EditorPlace {
        size_t row;
        int depth;
    };
    std::optional<EditorPlace> editorPlace(const SidebarEdit& edit);
    // Runs the edit with the typed text on the node it was opened for.
    // Returns the message refusing the name, or empty.
    std::string commit(const SidebarEdit& edit, std::string_view text);

private:
    void navigate(const Node& node);
    bool commitTypeNavigation();
    NodePtr currentNode();

    const std::shared_ptr<BrowserState> window_;
    const std::shared_ptr<DB> db_;
    SidebarRows rows_;
    bool rowsDirty_ = true;
    std::optional<std::optional<size_t>> currentRowCache_;
    TypeNavigation typeNavigation_;
};

}  // namespace qm
