#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "commands/CommandContext.h"
#include "commands/DropInfo.h"
#include "commands/HistoryEntry.h"
#include "core/EventEmitter.h"
#include "core/Subscription.h"
#include "library/Node.h"
#include "library/NodePath.h"

namespace qm {

class CommandStack;

enum class HistoryDirection : uint8_t { back = 0, forward = 1 };

// The navigation state of one browser window, free of any toolkit: the
// current node, the selection, the map results and the expanded sidebar
// rows, each with its emitter; back/forward history; the window's command
// stack; and the title and subtitle. The window that shows it fills in the
// hooks below.
class BrowserState : public std::enable_shared_from_this<BrowserState> {
public:
    // Subscribes to the database's first treeChanged.
    static std::shared_ptr<BrowserState> create(CommandContext context);
    BrowserState(const BrowserState&) = delete;
    BrowserState& operator=(const BrowserState&) = delete;

    // ---- Hooks for the window (each may be empty) ----
    // The panes' scroll state now, and putting one back.
    std::function<HistoryScrollState()> captureScrollState;
    std::function<void(const HistoryScrollState&)> restoreScrollState;
    // The state to archive for restoration changed.
    std::function<void()> invalidateRestorableState;
    // Back/Forward availability changed (updateHistoryButtons).
    std::function<void(bool canGoBack, bool canGoForward)> historyButtonsChanged;
    // Title or subtitle changed.
    std::function<void()> titleChanged;
    // A file drop needs renames; choosing Rename must call
    // commandStack()->performDrop(target, drop, true).
    std::function<void(const NodePtr& target, const DropInfo& drop,
                       const std::vector<std::pair<std::string, std::string>>& renames)>
        renameConflictAlert;

    // ---- State ----
    EventEmitter<> currentNodeChanged;
    EventEmitter<> currentSelectionChanged;
    EventEmitter<> mapResultsChanged;
    EventEmitter<> isExpandedChanged;

    const NodePath& currentNode() const { return _currentNode; }
    const QuickStringSet& currentSelection() const { return _currentSelection; }
    const std::optional<std::vector<QuickString>>& mapResults() const { return _mapResults; }
    const QuickStringSet& isExpanded() const { return _isExpanded; }
    const std::vector<HistoryEntry>& backHistory() const { return _backHistory; }
    const std::vector<HistoryEntry>& forwardHistory() const { return _forwardHistory; }
    bool isNavigatingHistory() const { return _isNavigatingHistory; }
    bool isFirstTreeChanged() const { return _isFirstTreeChanged; }
    const std::string& title() const { return _title; }
    const std::string& subtitle() const { return _subtitle; }

    CommandContext& context() { return _context; }
    const std::shared_ptr<CommandStack>& commandStack() const { return _commandStack; }

    // Goes to a node, recording where the window was unless navigating history.
    void setCurrentNode(const NodePath& node);
    void setCurrentSelection(const QuickStringSet& selection);
    void setMapResults(std::optional<std::vector<QuickString>> results);
    void setIsExpanded(QuickStringSet expanded);
    void setExpanded(const QuickString& fullName, bool expanded);
    void navigateHistory(HistoryDirection direction);
    // Takes a restored window's node and selection without recording history.
    void applyInitialNode(const NodePath& node, const QuickStringSet& selection);

    // Lists the folders that were expanded (and the current one) once the
    // first tree has arrived.
    void loadExpandedFolders();
    void updateTitle();

    // The title of a node path: "Quillomere" for the root, the one name, or
    // the section, ": " and the rest joined by "/".
    static std::string titleFor(const NodePath& node);
    // The subtitle of a selection: one path inside home without the home
    // prefix, "n selected" for two or more, otherwise empty.
    static std::string subtitleFor(const QuickStringSet& selection);

private:
    explicit BrowserState(CommandContext context);
    HistoryScrollState capture() const;
    void invalidate();
    void updateHistoryButtons();

    CommandContext _context;
    bool _isFirstTreeChanged = true;
    std::shared_ptr<CommandStack> _commandStack;
    std::vector<HistoryEntry> _backHistory;
    std::vector<HistoryEntry> _forwardHistory;
    bool _isNavigatingHistory = false;
    NodePath _currentNode;
    QuickStringSet _currentSelection;
    std::optional<std::vector<QuickString>> _mapResults;
    QuickStringSet _isExpanded;
    std::string _title;
    std::string _subtitle;
    Subscription _treeChangedSubscription;  // until the first tree has arrived
};

}  // namespace qm
