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

    const NodePath& currentNode() const { return currentNode_; }
    const QuickStringSet& currentSelection() const { return currentSelection_; }
    const std::optional<std::vector<QuickString>>& mapResults() const { return mapResults_; }
    const QuickStringSet& isExpanded() const { return isExpanded_; }
    const std::vector<HistoryEntry>& backHistory() const { return backHistory_; }
    const std::vector<HistoryEntry>& forwardHistory() const { return forwardHistory_; }
    bool isNavigatingHistory() const { return isNavigatingHistory_; }
    bool isFirstTreeChanged() const { return isFirstTreeChanged_; }
    const std::string& title() const { return title_; }
    const std::string& subtitle() const { return subtitle_; }

    CommandContext& context() { return context_; }
    const std::shared_ptr<CommandStack>& commandStack() const { return commandStack_; }

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

    CommandContext context_;
    bool isFirstTreeChanged_ = true;
    std::shared_ptr<CommandStack> commandStack_;
    std::vector<HistoryEntry> backHistory_;
    std::vector<HistoryEntry> forwardHistory_;
    bool isNavigatingHistory_ = false;
    NodePath currentNode_;
    QuickStringSet currentSelection_;
    std::optional<std::vector<QuickString>> mapResults_;
    QuickStringSet isExpanded_;
    std::string title_;
    std::string subtitle_;
    Subscription treeChangedSubscription_;  // until the first tree has arrived
};

}  // namespace qm
