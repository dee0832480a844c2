#pragma once

#include <QPointer>
#include <QTimer>

#include <memory>
#include <optional>
#include <vector>

#include "commands/DropInfo.h"
#include "core/Subscription.h"
#include "library/NodePath.h"
#include "sidebar/SidebarActions.h"
#include "sidebar/SidebarLayout.h"
#include "sidebar/SidebarRows.h"
#include "sidebar/SidebarRowsArea.h"
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

    const SidebarRows& rows();
    // For tests: the type-ahead clock, the last context menu and name editor.
    void setTypeNavigationClock(TypeNavigation::Clock clock) { typeNavigation_ = TypeNavigation(std::move(clock)); }
    const TypeNavigation& typeNavigation() const { return typeNavigation_; }
    QMenu* contextMenu() const { return menu_; }
    QLineEdit* nameEditor() const { return editor_; }
    const QTimer& hoverExpandTimer() const { return hoverTimer_; }
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
    // "Show in File Manager" asked to reveal these files or folders.
    void revealInFileManagerRequested(const QStringList& paths);

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
    void updateFonts() override;
    std::optional<size_t> focusedRow() override { return currentRow(); }
    std::optional<size_t> currentRow();
    std::optional<size_t> rowAtViewportY(int y);
    void navigate(const Node& node);
    void setExpanded(const Node& node, bool expand, bool recursive);
    bool commitTypeNavigation();
    void showContextMenu(const QPoint& viewportPos);
    // Shift+F10 and the Menu key: the menu of the current row, below it.
    void showContextMenuForCurrentRow();
    void openNameEditor(SidebarAction action);
    void refuse(const QString& message);
    void setDropTarget(std::optional<DropTarget> target);
    std::optional<DropTarget> evaluateDrop(const QMimeData* mime, const QPoint& viewportPos);

    const std::shared_ptr<BrowserState> window_;  // shared: it outlives the view
    std::shared_ptr<DB> db_;
    QFont miniFont_;
    double systemTextOffset_ = 0;
    double miniTextOffset_ = 0;
    SidebarRows rows_;
    bool rowsDirty_ = true;
    std::optional<std::optional<size_t>> currentRowCache_;
    TypeNavigation typeNavigation_;
    QPoint dragStart_;
    bool isDragging_ = false;
    std::optional<DropTarget> dropTarget_;
    QTimer hoverTimer_;
    QPointer<QMenu> menu_;
    QPointer<QLineEdit> editor_;
    SidebarAction editorAction_ = SidebarAction::renameCurrentTag;
    std::vector<Subscription> subscriptions_;  // last: ended before anything they reach
};

}  // namespace qm
