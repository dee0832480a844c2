#pragma once

#include <memory>
#include <optional>
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

    // None: no search (nothing is drawn, not even the header).
    void setResults(std::optional<std::vector<SearchResult>> results);
    const std::optional<std::vector<SearchResult>>& results() const { return results_; }

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

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    std::optional<size_t> currentIndex() const;
    std::optional<size_t> indexOfPath(const NodePath& path) const;
    std::optional<size_t> indexAt(int viewportY) const;
    void navigateTo(size_t index);
    void updateFonts() override;
    std::optional<size_t> focusedRow() override { return currentIndex(); }

    const std::shared_ptr<BrowserState> window_;  // shared: it outlives the view
    std::optional<std::vector<SearchResult>> results_;
    QFont boldFont_, miniFont_, smallFont_;
    double systemTextOffset_ = 0, smallTextOffset_ = 0, miniTextOffset_ = 0;
    std::vector<Subscription> subscriptions_;  // last: ended before anything they reach
};

}  // namespace qm
