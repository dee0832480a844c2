#pragma once

#include <QAbstractScrollArea>
#include <QImage>
#include <QMessageBox>
#include <QPointer>
#include <QTimer>

#include <any>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/QuickString.h"
#include "core/Subscription.h"
#include "library/NodePath.h"
#include "tilegrid/ThumbnailScheduler.h"
#include "tilegrid/TileContentsCache.h"
#include "tilegrid/TileGridController.h"
#include "tilegrid/TileGridDragDrop.h"
#include "tilegrid/TileGridLayout.h"
#include "tilegrid/TileGridPrompts.h"
#include "tilegrid/TilePainter.h"
#include "tilegrid/TilePreview.h"
#include "tilegrid/TileToolTipPresenter.h"

class QMenu;
class QMimeData;

namespace qm {

class AddTagPrompt;
class BrowserState;
class ThumbnailService;

// The files of the window's current node (or its map results) as a
// scrolling grid of square thumbnails. The widget paints, translates events
// into the controller's intents and carries out the effects it answers; the
// scheduler binds the few tiles near the screen and fetches their thumbnails.
class TileGridView : public QAbstractScrollArea {
    Q_OBJECT

public:
    // Starts a thumbnail request; the service's by default, a slower or
    // counted one in tests.
    using ThumbnailRequester = ThumbnailScheduler::Requester;

    static constexpr int kMaxConcurrentRequests = ThumbnailScheduler::kMaxInFlight;

    // window: not null.
    TileGridView(std::shared_ptr<BrowserState> window, std::shared_ptr<ThumbnailService> thumbnails,
                 QWidget* parent = nullptr);
    ~TileGridView() override;

    // Thumbnails and metadata of every grid, by path.
    static TileContentsCache& tileContentsCache() { return TileContentsCache::shared(); }

    TileGridLayout computeLayout() const;
    // The update pass: binds tiles to the rows from a screen above to a
    // screen below the visible ones and requests what they lack.
    void updateTiles();

    // History and restoration: a TileGridScrollState, or an empty value.
    std::any scrollState() const;
    void setScrollState(const std::any& state);
    // Goes to the node, scrolls the files into the middle and selects them
    // (once listed, for a folder still being read).
    void revealPaths(const NodePath& node, const QuickStringSet& paths);

    // Menu actions.
    void showSelectionInFileManager();
    // Opens the selected files; asks first when there are many.
    void openSelection();
    void deleteCurrentSelection();
    // "Add Tag…": opens the prompt for the selected files shown; null when
    // none is selected. Accepting it tags them in one undoable command.
    AddTagPrompt* promptToAddTag();
    // The context menu for a viewport point; null outside every tile. Makes
    // the tile under the point selected first when it is not.
    QMenu* makeContextMenu(QPoint viewportPos);

    // The selected files a drag carries, in display order.
    std::vector<QuickString> draggedPaths() const;
    // Whether a drop of this data onto the grid would do anything.
    bool canDrop(const QMimeData* data) const;
    // Moves, copies or tags the files as the drop asks; whether it was taken.
    bool performDrop(const DropInfo& drop, DropOperation* performed = nullptr);

    // Names under the pictures ("Show File Names"); the grid keeps the first
    // visible file where it was when they come or go.
    void setShowsFileNames(bool on);
    bool showsFileNames() const { return showsFileNames_; }

    void setThumbnailRequester(ThumbnailRequester requester);
    // The whole backend (tests: slow disks, hung mounts, a fake clock).
    void setThumbnailBackend(ThumbnailScheduler::Backend backend);

    TileGridController& controller() { return controller_; }
    const ThumbnailScheduler& scheduler() const { return *scheduler_; }
    ThumbnailScheduler& scheduler() { return *scheduler_; }

    // For tests and benchmarks.
    const TilePool& tilePool() const { return scheduler_->pool(); }
    size_t placedCount() const { return scheduler_->placed().size(); }
    int requestsInFlight() const { return scheduler_->inFlight(); }
    bool isUsingCheckBoxes() const { return controller_.isUsingCheckBoxes(); }
    bool tileShowsContents(const QuickString& path) const {
        const Tile* t = scheduler_->tile(path);
        return t && t->hasContents;
    }
    bool isSelected(const QuickString& path) const { return controller_.isSelected(path); }
    std::optional<double> tileDuration(const QuickString& path) const {
        const Tile* t = scheduler_->tile(path);
        return t ? t->duration : std::nullopt;
    }
    QImage tileImage(const QuickString& path) const { return scheduler_->image(path); }
    TilePreview* preview() const { return preview_; }
    // The open confirmation while it is shown.
    QMessageBox* openConfirmation() const { return prompts_.openConfirmation(); }
    // The view draws its focused selection colour only when it has focus;
    // tests without a window system can force it.
    void setDrawsAsFocused(std::optional<bool> focused);

    // ---- For assistive technology ----
    std::optional<size_t> cursorIndex() const;
    // Selects just this file and opens it, as a double click does.
    void activate(const QuickString& path);
    // Shift+F10 and the Menu key: the menu of the focused tile, beside it.
    QMenu* showContextMenuForCursor();

Q_SIGNALS:
    // Go to a node and select files there (a new tab with Ctrl, a new
    // window with Shift).
    void revealRequested(qm::NodePath node, qm::QuickStringSet selection, Qt::KeyboardModifiers modifiers);
    // Show a position on the map.
    void revealMapRequested(double longitude, double latitude, Qt::KeyboardModifiers modifiers);
    // Escape with nothing selected on the map node.
    void removeCircleRequested();

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void changeEvent(QEvent* event) override;
    bool viewportEvent(QEvent* event) override;

private:
    void perform(const TileEffects& effects);
    void scrollTo(double y);
    void scrollCellIntoView(size_t index);
    void centerIndices(const std::vector<size_t>& indices);
    void showPreview(bool bringToFront);
    QPointF documentPoint(QPointF viewportPoint) const;
    std::optional<size_t> indexAt(const TileGridLayout& layout, QPointF viewportPoint) const;
    QRect viewportRect(const TileCell& cell) const;
    TileCell placedCell(size_t index) const;
    void repaintTile(TileId id);
    void onCurrentNodeChanged();
    void onSelectionChanged();
    void applyCaptionHeight();
    void showToolTip(const QPoint& viewportPos, const QPoint& globalPos);
    void forgetPointer();

    // Shared, so that it outlives the view however the window's widgets are
    // torn down.
    const std::shared_ptr<BrowserState> window_;
    std::shared_ptr<ThumbnailService> thumbnails_;
    TileGridController controller_;
    TileGridDragDrop dragDrop_;
    TileToolTipPresenter toolTip_;
    TileGridPrompts prompts_;
    std::unique_ptr<ThumbnailScheduler> scheduler_;
    TilePainter painter_;
    QTimer staleTimer_;  // expires hung requests while any are in flight

    long columns_ = 1;
    double tileSize_ = 50;
    double captionHeight_ = 0;
    bool showsFileNames_ = false;
    double documentHeight_ = 0;
    size_t shownCount_ = 0;
    bool inUpdate_ = false;
    NodePath oldCurrentTag_;
    bool hasOldCurrentTag_ = false;
    std::optional<QPointF> lastMousePos_;  // viewport coordinates
    QPointF dragStart_;                    // document coordinates
    bool isDragging_ = false;
    bool isPressing_ = false;
    std::optional<bool> drawsAsFocused_;
    QPointer<TilePreview> preview_;
    QPointer<QMenu> keyboardMenu_;
    std::vector<Subscription> subscriptions_;  // last: ended before anything they reach
};

}  // namespace qm
