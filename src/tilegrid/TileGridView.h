#pragma once

#include <QAbstractScrollArea>
#include <QImage>
#include <QPixmap>
#include <QPointer>

#include <any>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/LRU.h"
#include "core/QuickString.h"
#include "core/Subscription.h"
#include "library/Node.h"
#include "library/NodePath.h"
#include "desktop/ThumbnailRequest.h"
#include "media/FileMetadata.h"
#include "tilegrid/TileContents.h"
#include "tilegrid/TileGridLayout.h"
#include "tilegrid/TileMenuModel.h"
#include "tilegrid/TilePool.h"
#include "tilegrid/TilePreview.h"
#include "tilegrid/TileSelection.h"

class QMenu;
class QMimeData;

namespace qm {

class AddTagPrompt;
class BrowserState;
class ThumbnailService;

// The files of the window's current node (or its map results) as a
// scrolling grid of square thumbnails. It keeps no object per file: a
// bounded pool of tiles is bound to the rows on and near the screen and
// recycled as they scroll away; painting draws the bound tiles.
class TileGridView : public QAbstractScrollArea {
    Q_OBJECT

public:
    // Starts a thumbnail request; the service's by default, a slower or
    // counted one in tests.
    using ThumbnailRequester = std::function<ThumbnailRequest(const std::string& path, ThumbnailCallback)>;

    static constexpr int kMaxConcurrentRequests = 16;
    static constexpr size_t kContentsCacheCapacity = 2048;

    // window: not null.
    TileGridView(std::shared_ptr<BrowserState> window, std::shared_ptr<ThumbnailService> thumbnails,
                 QWidget* parent = nullptr);
    ~TileGridView() override;

    // Thumbnails and metadata of every grid, by path.
    static LRU<QuickString, TileContents>& tileContentsCache();

    TileGridLayout computeLayout() const;
    // The update pass: binds tiles to the rows from a screen above to a
    // screen below the visible ones and requests what they lack.
    void updateTiles();

    // History and restoration: a TileGridScrollState, or an empty value.
    std::any scrollState() const;
    void setScrollState(const std::any& state);
    // Goes to the node, scrolls the files into the middle and selects them.
    void revealPaths(const NodePath& node, const QuickStringSet& paths);

    // Menu actions.
    void showSelectionInFileManager();
    void openSelection();
    // Untags in a tag node, moves to the Trash in a folder node.
    void deleteCurrentSelection();
    // "Add Tag…": opens the prompt for the selected files shown; null when
    // none is selected. Accepting it tags them in one undoable command.
    AddTagPrompt* promptToAddTag();
    // The context menu for a viewport point; null outside every tile. Makes
    // the tile under the point selected first when it is not.
    QMenu* makeContextMenu(QPoint viewportPos);

    // The drag data of files: text/uri-list of escaped file URLs.
    static QMimeData* makeDragData(const std::vector<QuickString>& paths);
    // The selected files a drag carries, in display order.
    std::vector<QuickString> draggedPaths() const;
    // What a drop of this data onto the grid does; false when refused.
    bool canDrop(const QMimeData* data) const;
    bool performDrop(const QMimeData* data);

    void setThumbnailRequester(ThumbnailRequester requester) { requester_ = std::move(requester); }

    // For tests and benchmarks.
    const TilePool& tilePool() const { return pool_; }
    size_t placedCount() const { return placed_.size(); }
    int requestsInFlight() const { return inFlight_; }
    bool isUsingCheckBoxes() const { return selection_.isUsingCheckBoxes; }
    bool tileShowsContents(const QuickString& path) const;
    bool isSelected(const QuickString& path) const;
    std::optional<double> tileDuration(const QuickString& path) const;
    QImage tileImage(const QuickString& path) const;
    TilePreview* preview() const { return preview_; }
    // The view draws its focused selection colour only when it has focus;
    // tests without a window system can force it.
    void setDrawsAsFocused(std::optional<bool> focused);

    // ---- For assistive technology ----
    // The tile arrow keys move from: the focused one while the grid has focus.
    std::optional<size_t> cursorIndex() const;
    // "starred", the duration and "panorama", as far as they are known.
    QString accessibleDescription(const QuickString& path) const;
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
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dragLeaveEvent(QDragLeaveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void changeEvent(QEvent* event) override;
    bool viewportEvent(QEvent* event) override;

private:
    struct TilePixels {
        QImage image;
        QPixmap scaled;  // aspect-filled to the tile size, made on first paint
        double scaledSide = 0;
        double scaledHeight = 0;
        ThumbnailRequest request;
    };

    NodePtr currentNode() const;
    bool isMapNode(const NodePtr& node) const;
    std::vector<QuickString> selectedShownPaths() const;
    // Starts the next waiting tile's request when fewer than 16 are in flight.
    bool requestNextThumbnail();
    void finishThumbnail(TileId id, const QuickString& path, const QImage& image, const FileMetadata& metadata);
    void applyContents(TileId id, const TileContents& contents);
    void recycle(TileId id);
    void setSelection(const QuickStringSet& selection);
    void toggleStar(const QuickString& path);
    void scrollTo(double y);
    void scrollCellIntoView(size_t index);
    void arrow(TileArrow arrow, Qt::KeyboardModifiers modifiers);
    void startDrag();
    void setDropTarget(NodePtr node);
    // Shows the selected file; a reload for a new selection leaves the
    // keyboard where it is.
    void showPreview(bool bringToFront);
    void runMenuAction(const TileMenuEntry& entry, const std::vector<QuickString>& selection);
    void addTag(const std::vector<QuickString>& selection, const QString& text);
    // A typed tag was refused; nothing changed.
    void refuse(const QString& message);
    // The window and the grid get the keyboard back when a prompt closes.
    void takeBackKeyboard();
    QColor accentColor(float alpha) const;
    QColor selectionColor() const;
    QPointF documentPoint(QPointF viewportPoint) const;
    // The cell of an index in the geometry of the last update pass.
    TileCell placedCell(size_t index) const;
    const QPixmap& checkerboard();
    void paintTile(QPainter& painter, TileId id, const QRectF& rect, bool selected, bool starred);
    void onCurrentNodeChanged();
    void onSelectionChanged();

    // The window whose files this view shows; shared, so that it outlives the
    // view however the window's widgets are torn down.
    const std::shared_ptr<BrowserState> window_;
    std::shared_ptr<ThumbnailService> thumbnails_;
    ThumbnailRequester requester_;

    TilePool pool_;
    std::vector<TilePixels> pixels_;  // by tile id
    std::vector<TileId> placed_;      // bound by the last pass, drawn by paint
    long columns_ = 1;
    double tileSize_ = 50;
    double documentHeight_ = 0;
    size_t shownCount_ = 0;
    int inFlight_ = 0;
    bool inUpdate_ = false;

    NodePath oldCurrentTag_;
    bool hasOldCurrentTag_ = false;
    TileSelection selection_;
    std::optional<QPointF> lastMousePos_;  // viewport coordinates
    QPointF dragStart_;                    // document coordinates
    bool isDragging_ = false;
    bool isPressing_ = false;
    NodePtr dropTarget_;
    QPixmap checkerboard_;
    std::optional<bool> drawsAsFocused_;
    QPointer<TilePreview> preview_;
    QPointer<QMenu> keyboardMenu_;
    QPointer<AddTagPrompt> addTagPrompt_;
    std::vector<Subscription> subscriptions_;  // last: ended before anything they reach
};

}  // namespace qm
