#pragma once

#include <QMenu>
#include <QPointer>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/Subscription.h"
#include "library/NodePath.h"
#include "sidebar/SidebarLayout.h"
#include "sidebar/SidebarRowsArea.h"
#include "sidebar/TagSearch.h"

namespace qm {

class BrowserState;

// The tag search's hits as a flat list under a header ("3 matching tags:"),
// each name with its matched parts in bold. A click shows the tag's files; a
// double click asks the container to reveal it in the tree.
class SidebarResultsView : public SidebarRowsArea {
    Q_OBJECT
public:
    // window: not null.
    explicit SidebarResultsView(std::shared_ptr<BrowserState> window, QWidget* parent = nullptr);

    // What the search text says as a tag expression: its query node (a row
    // "Files matching ..." above the tags), or why it does not parse (the
    // message in that row's place), or neither for a tag search.
    struct QueryRow {
        NodePtr node;
        std::string error;
        friend bool operator==(const QueryRow&, const QueryRow&) = default;
    };

    // None: no search (nothing is drawn, not even the header).
    void setResults(std::optional<std::vector<SearchResult>> results, QueryRow query = {});
    // The rows after the header: the query row (when there is one) first.
    const std::optional<std::vector<SearchResult>>& results() const { return results_; }
    const QueryRow& queryRow() const { return query_; }
    // The query row's node when `index` is that row.
    NodePtr queryNodeAt(size_t index) const;
    // The last context menu, while it is open (for tests).
    QMenu* contextMenu() const { return menu_; }

    double contentHeight() override;
    std::optional<QRectF> rectForPath(const NodePath& path) const;
    // The node path a result opens: its node's own (for a pin reference,
    // Pinned and the whole tag name); none when the node left the tree.
    std::optional<NodePath> pathOf(size_t index) const;
    bool handleKeyDown(QKeyEvent* event);
    void scrollCurrentRowToVisible();
    bool hasKeyFocus() const;
    // "0 matching tags", "1 matching tag:", "n matching tags:".
    static QString headerText(size_t count);

    int accessibleRowCount() const override;
    RowInfo accessibleRow(int index) const override;
    QRect accessibleRowRect(int index) const override;
    QWidget* accessibleWidget() override { return this; }
    QString accessibleHeader() const override;
    void accessibleRowAction(int index, RowAction action) override;

Q_SIGNALS:
    void openPathRequested(const qm::NodePath& path);
    // "Save Query" in the query row's menu.
    void saveQueryRequested(const qm::NodePtr& node);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    std::optional<size_t> currentIndex() const;
    std::optional<size_t> indexOfPath(const NodePath& path) const;
    std::optional<size_t> indexAt(int viewportY) const;
    // The layout row of results_[0]: after the header, and the error line.
    size_t firstRow() const { return query_.error.empty() ? 1 : 2; }
    // Results that are tags (the header counts them).
    size_t tagCount() const { return results_ ? results_->size() - (query_.node ? 1 : 0) : 0; }
    void navigateTo(size_t index);
    void updateFonts() override;
    std::optional<size_t> focusedRow() override { return currentIndex(); }

    const std::shared_ptr<BrowserState> window_;  // shared: it outlives the view
    std::optional<std::vector<SearchResult>> results_;
    QueryRow query_;
    QPointer<QMenu> menu_;
    QFont boldFont_, miniFont_, smallFont_;
    double systemTextOffset_ = 0, smallTextOffset_ = 0, miniTextOffset_ = 0;
    std::vector<Subscription> subscriptions_;  // last: ended before anything they reach
};

}  // namespace qm
