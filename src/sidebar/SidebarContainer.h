#pragma once

#include <QByteArray>
#include <QList>
#include <QTimer>
#include <QWidget>

#include <any>
#include <memory>
#include <vector>

#include "core/Subscription.h"
#include "library/NodePath.h"
#include "sidebar/SidebarResultsView.h"
#include "sidebar/TagSearchIndex.h"

class QStackedWidget;

namespace qm {

class BrowserState;
class SidebarResultsView;
class SidebarSearchField;
class SidebarView;

// The sidebar of a browser window: the tree, or the search results while the
// search field holds text, with the field below them. Routes the field's keys
// to the list, reveals a found tag in the tree, and saves and restores the
// scroll position for history.
class SidebarContainer : public QWidget {
    Q_OBJECT
public:
    // window: not null.
    explicit SidebarContainer(std::shared_ptr<BrowserState> window, QWidget* parent = nullptr);
    ~SidebarContainer() override;

    void focusSearchField();
    // Leaves the search and shows the node at `path` in the tree, expanding
    // its collapsed ancestors, keeping its row where it was on screen.
    void openPathInTree(const NodePath& path);
    // Runs the search for the field's text now (the text changed): a
    // current node that is not a result is cleared.
    void queryUpdate();
    // Whether a search after a library change is still walking.
    bool isRefreshing() const;

    // A SidebarScrollState, or empty when the current node has no row.
    std::any scrollState() const;
    // Ignores an empty or foreign value.
    void setScrollState(const std::any& state);

    SidebarView* treeView() const { return tree_; }
    SidebarResultsView* resultsView() const { return results_; }
    SidebarSearchField* searchField() const { return field_; }
    bool isShowingTree() const;
    // "Save Query": keeps a query node under the Queries section, undoably.
    void saveQuery(const NodePtr& node);

Q_SIGNALS:
    // "Show in File Manager": the files or folders to reveal (already sent to
    // the desktop's file manager).
    void revealInFileManagerRequested(const QList<QByteArray>& paths);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void showTree(bool tree);
    void scrollCurrentRowToVisible();
    std::optional<QRectF> activeRectForPath(const NodePath& path) const;
    int activeScrollOffset() const;
    void setActiveScrollOffset(int y);
    bool routeToActive(QKeyEvent* event);
    std::vector<std::string> queryTokens() const;
    SidebarResultsView::QueryRow queryRow();  // opens the field's query
    // Collects the tags to search in slices (when they are not collected
    // yet), then searches again when `searchAfter`.
    void startRefresh(bool searchAfter);
    void refreshStep();
    // The tags to search, collected now when need be.
    const TagSearchIndex& searchIndex();

    const std::shared_ptr<BrowserState> window_;  // shared: it outlives the view
    QStackedWidget* stack_;
    SidebarView* tree_;
    SidebarResultsView* results_;
    SidebarSearchField* field_;
    // The tags to search, for the library as it is; none after a change
    // until they are collected again.
    std::unique_ptr<TagSearchIndex> index_;
    std::optional<TagSearchIndex::Builder> building_;
    bool searchPending_ = false;  // search again once the tags are collected
    bool openingQuery_ = false;
    QTimer refreshTimer_;
    std::vector<Subscription> subscriptions_;  // last: ended before anything they reach
};

}  // namespace qm
