#pragma once

#include <QByteArray>
#include <QList>
#include <QPointer>
#include <QTimer>

#include <memory>
#include <optional>
#include <vector>

#include "commands/DropInfo.h"
#include "core/Subscription.h"
#include "library/NodePath.h"
#include "sidebar/SidebarActions.h"
#include "sidebar/SidebarDropRules.h"
#include "sidebar/SidebarLayout.h"
#include "sidebar/SidebarRows.h"
#include "sidebar/SidebarRowsArea.h"
#include "sidebar/SidebarTreeController.h"
#include "sidebar/TypeNavigation.h"

#include <QLineEdit>
#include <QMenu>

namespace qm {

class BrowserState;
class DB;

// The sidebar's tree: the library as an outline of custom-drawn rows with
// counts, colour dots, guide lines and disclosure triangles. Selecting a row
// makes its node the window's current node; clicks left of a name, the arrow
// keys and hovering drops expand and collapse rows; typing finds rows; the
// context menu edits tags and folders through the window's command stack;
// files and tags dropped on rows tag, move or reparent.
class SidebarView : public SidebarRowsArea {
    Q_OBJECT
public:
    // window: not null.
    explicit SidebarView(std::shared_ptr<BrowserState> window, QWidget* parent = nullptr);
    ~SidebarView() override;

    // ---- For the container ----
    double contentHeight() override;
    // The row of a node path in content coordinates (y from the top of the
    // content, not of the viewport); none when that row is not visible.
    std::optional<QRectF> rectForPath(const NodePath& path);
    bool handleKeyDown(QKeyEvent* event);
    void scrollCurrentRowToVisible();
    // Whether current-row text is drawn in the selected colour: the sidebar
    // holds the keyboard focus in the active window.
    bool hasKeyFocus() const;

    const SidebarRows& rows() { return controller_.rows(); }
    SidebarTreeController& controller() { return controller_; }
    // For tests: the type-ahead clock, the last context menu and name editor.
    void setTypeNavigationClock(TypeNavigation::Clock clock) { controller_.setTypeNavigationClock(std::move(clock)); }
    const TypeNavigation& typeNavigation() const { return controller_.typeNavigation(); }
    QMenu* contextMenu() const { return menu_; }
    QLineEdit* nameEditor() const { return editor_; }
    // The node path the open name editor applies to.
    std::optional<NodePath> nameEditorPath() const;
    const QTimer& hoverExpandTimer() const { return hoverTimer_; }
    const QTimer& autoScrollTimer() const { return autoScrollTimer_; }
    std::optional<NodePtr> dropTargetNode() const;

    // ---- Actions (each on the window's current node) ----
    // Opens the name editor of a naming action, or runs a direct one.
    void trigger(SidebarAction action);
    // Ends the name editor: the typed text is checked and the action run.
    void commitNameEditor();
    void cancelNameEditor();
    // Expands the row a hovering drop rests on (the hover timer calls it).
    void hoverExpand();

    // SidebarAccessibleRows
    int accessibleRowCount() const override;
    RowInfo accessibleRow(int index) const override;
    QRect accessibleRowRect(int index) const override;
    QWidget* accessibleWidget() override { return this; }
    void accessibleRowAction(int index, RowAction action) override;

Q_SIGNALS:
    // A name typed into the editor was refused; nothing changed.
    void nameRefused(const QString& message);
    // "Show in File Manager" asked to reveal these files or folders (paths as bytes).
    void revealInFileManagerRequested(const QList<QByteArray>& paths);

protected:
    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dragLeaveEvent(QDragLeaveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct DropTarget {
        NodePtr node;
        size_t row;
        friend bool operator==(const DropTarget&, const DropTarget&) = default;
    };

    void subscribe();
    void rowsChanged();
    void currentNodeChanged();
    void updateFonts() override;
    std::optional<size_t> focusedRow() override { return currentRow(); }
    std::optional<size_t> currentRow() { return controller_.currentRow(); }
    std::optional<size_t> rowAtViewportY(int y);
    void setExpanded(const Node& node, bool expand, bool recursive);
    void applyKeyOutcome(const SidebarTreeController::KeyOutcome& outcome);
    void notifyExpansion(const Node* node);
    void reveal(SidebarRowSpan span);
    void showContextMenu(const QPoint& viewportPos);
    // Shift+F10 and the Menu key: the menu of the current row, below it.
    void showContextMenuForCurrentRow();
    void openNameEditor(SidebarAction action);
    // Puts the editor over its row; cancels it when its node or row is gone.
    void placeNameEditor();
    // The editor's rectangle in content coordinates.
    std::optional<QRect> nameEditorRect();
    void refuse(const QString& message);
    void setDropTarget(std::optional<DropTarget> target);
    std::optional<DropTarget> evaluateDrop(const QMimeData* mime, const QPoint& viewportPos);
    // The drag's contents, read once per drag: a list of many files is
    // parsed and hashed at the first move, not at every one.
    const DropInfo& dropInfoFor(const QMimeData* mime);
    void updateAutoScroll(const QPoint& viewportPos);
    void autoScrollStep();
    void endDrag();

    const std::shared_ptr<BrowserState> window_;  // shared: it outlives the view
    std::shared_ptr<DB> db_;
    SidebarTreeController controller_;
    QFont miniFont_;
    double systemTextOffset_ = 0;
    double miniTextOffset_ = 0;
    QPoint dragStart_;
    bool isDragging_ = false;
    std::optional<DropTarget> dropTarget_;
    QTimer hoverTimer_;
    // Scrolls while a drag rests near the top or bottom edge.
    QTimer autoScrollTimer_;
    int autoScrollDirection_ = 0;
    const QMimeData* dropMime_ = nullptr;  // identity only: the drag whose contents dropInfo_ holds
    DropInfo dropInfo_;
    SidebarDropRules::Drag dropDrag_;
    QPoint lastDragPos_;
    QPointer<QMenu> menu_;
    QPointer<QLineEdit> editor_;
    std::optional<SidebarEdit> edit_;
    std::vector<Subscription> subscriptions_;  // last: ended before anything they reach
};

}  // namespace qm
