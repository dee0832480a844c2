#include "tilegrid/TileGridView.h"

#include <QAccessible>
#include <QApplication>
#include <QContextMenuEvent>
#include <QDrag>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QScrollBar>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <numbers>

#include "commands/BrowserState.h"
#include "commands/CommandStack.h"
#include "commands/DropInfo.h"
#include "core/FileURL.h"
#include "commands/TagChangeBuilder.h"
#include "commands/TagChangeCommand.h"
#include "commands/TagNameInput.h"
#include "commands/ToTrashCommand.h"
#include "core/MainQueue.h"
#include "core/TagFormat.h"
#include "desktop/FileManagerReveal.h"
#include "library/DB.h"
#include "library/TreeNames.h"
#include "desktop/ThumbnailService.h"
#include "tilegrid/AddTagAction.h"
#include "tilegrid/AddTagPrompt.h"
#include "tilegrid/DesktopActions.h"
#include "tilegrid/MovieTime.h"
#include "tilegrid/PlaceNames.h"
#include "tilegrid/TileGridAccessible.h"
#include "tilegrid/TileGridScrollState.h"
#include "tilegrid/TilePreview.h"

namespace qm {

namespace {

constexpr double kCheckInset = 7;
constexpr double kCheckSize = 16;
constexpr double kStarSize = 30;
constexpr double kTimeFontSize = 14;
constexpr double kTimeMargin = 8;
constexpr double kBadgeSize = 24;
constexpr double kBadgeRightMargin = 8;
constexpr double kBadgeBottomMargin = 4;
constexpr double kDragThreshold = 5;

const char* const kUriList = "text/uri-list";

// Ten points alternating between radius 12 and 6 around (15, 15).
const QPainterPath& starPath() {
    static const QPainterPath path = [] {
        QPainterPath p;
        for (int k = 0; k < 10; ++k) {
            double a = k * 36 * std::numbers::pi / 180, r = k % 2 == 0 ? 12 : 6;
            QPointF pt(15 + std::sin(a) * r, 15 - std::cos(a) * r);
            if (k == 0) p.moveTo(pt);
            else p.lineTo(pt);
        }
        p.closeSubpath();
        return p;
    }();
    return path;
}

// A wide frame with a mountain and a sun inside, in a 24 x 24 box, drawn
// with the even-odd rule so the inner shapes are cut out of the frame.
const QPainterPath& panoramaBadgePath() {
    static const QPainterPath path = [] {
        QPainterPath p;
        p.setFillRule(Qt::OddEvenFill);
        p.moveTo(1, 6);
        p.cubicTo(8, 4.5, 16, 4.5, 23, 6);
        p.lineTo(23, 18);
        p.cubicTo(16, 16.5, 8, 16.5, 1, 18);
        p.closeSubpath();
        p.moveTo(3, 8);
        p.cubicTo(9, 7, 15, 7, 21, 8);
        p.lineTo(21, 16);
        p.lineTo(15, 10.5);
        p.lineTo(11, 14);
        p.lineTo(8.5, 12);
        p.lineTo(3, 16);
        p.closeSubpath();
        p.addEllipse(QPointF(7, 10), 1.5, 1.5);
        return p;
    }();
    return path;
}

std::vector<QuickString> sortedPaths(const QuickStringSet& set) {
    std::vector<QuickString> out(set.begin(), set.end());
    std::sort(out.begin(), out.end());
    return out;
}

std::vector<std::string> toStrings(const std::vector<QuickString>& paths) {
    std::vector<std::string> out;
    out.reserve(paths.size());
    for (const QuickString& p : paths) out.emplace_back(p.utf8());
    return out;
}

}  // namespace

LRU<QuickString, TileContents>& TileGridView::tileContentsCache() {
    static auto* cache = new LRU<QuickString, TileContents>;  // never destroyed: outlives every grid
    return *cache;
}

TileGridView::TileGridView(std::shared_ptr<BrowserState> window, std::shared_ptr<ThumbnailService> thumbnails,
                           QWidget* parent)
    : QAbstractScrollArea(parent), window_(std::move(window)), thumbnails_(std::move(thumbnails)) {
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    // Always shown: a scroller that comes and goes would change the width, and so
    // the columns, and so whether it is needed.
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    verticalScrollBar()->setFocusPolicy(Qt::NoFocus);
    verticalScrollBar()->setSingleStep(30);
    setFocusPolicy(Qt::StrongFocus);
    setFrameShape(QFrame::NoFrame);
    setAcceptDrops(true);
    // Drags are delivered to the viewport, the widget under the pointer.
    viewport()->setAcceptDrops(true);
    viewport()->setMouseTracking(true);
    viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
    setAttribute(Qt::WA_Hover);

    if (thumbnails_) {
        requester_ = [service = thumbnails_](const std::string& path, ThumbnailCallback done) {
            return service->request(path, QSize(ThumbnailService::kMaxSize, ThumbnailService::kMaxSize),
                                    std::move(done));
        };
    }
    pool_.recycled = [this](TileId id, Tile&) { recycle(id); };
    static const bool accessibleInstalled = [] {
        QAccessible::installFactory(&TileGridAccessible::factory);
        return true;
    }();
    (void)accessibleInstalled;

    subscriptions_.push_back(window_->context().db->pathsChanged.subscribe([this] { updateTiles(); }));
    subscriptions_.push_back(window_->mapResultsChanged.subscribe([this] { updateTiles(); }));
    subscriptions_.push_back(window_->currentNodeChanged.subscribe([this] { onCurrentNodeChanged(); }));
    subscriptions_.push_back(window_->currentSelectionChanged.subscribe([this] { onSelectionChanged(); }));
}

TileGridView::~TileGridView() {
    subscriptions_.clear();
    for (TilePixels& px : pixels_) px.request.cancel();
    if (preview_) delete preview_.data();
}

// ---- Layout and the update pass ----

NodePtr TileGridView::currentNode() const {
    return window_->context().db->tree().lookup(window_->currentNode());
}

bool TileGridView::isMapNode(const NodePtr& node) const {
    return node && node == window_->context().db->tree().mapNode();
}

TileGridLayout TileGridView::computeLayout() const {
    double width = viewport()->width();
    const Tree& tree = window_->context().db->tree();
    NodePtr node = tree.lookup(window_->currentNode());
    if (node && node == tree.mapNode()) {
        static const std::vector<QuickString> none;
        const auto& results = window_->mapResults();
        return TileGridLayout::make(width, tree.rootNode(), results ? *results : none);
    }
    if (!node) return TileGridLayout::make(width, nullptr, {});
    return TileGridLayout::make(width, node, node->sortedPaths());
}

void TileGridView::updateTiles() {
    if (inUpdate_) return;
    inUpdate_ = true;
    if (window_->currentSelection().empty()) selection_.isUsingCheckBoxes = false;
    TileGridLayout layout = computeLayout();
    if (layout.width < 1) {
        documentHeight_ = 0;
        verticalScrollBar()->setRange(0, 0);
        inUpdate_ = false;
        return;
    }
    const double h = viewport()->height();
    documentHeight_ = layout.height();
    verticalScrollBar()->setPageStep(int(h));
    verticalScrollBar()->setRange(0, std::max(0, int(std::ceil(documentHeight_ - h))));
    if (!hasOldCurrentTag_ || window_->currentNode() != oldCurrentTag_) {
        oldCurrentTag_ = window_->currentNode();
        hasOldCurrentTag_ = true;
        verticalScrollBar()->setValue(0);
    }
    selection_.noticeSelection(window_->currentSelection());

    // Keyboard focus only where there is something to act on (the map node
    // takes it always: Escape removes its circle).
    const bool acceptsFocus = layout.count() > 0 || isMapNode(currentNode());
    setFocusPolicy(acceptsFocus ? Qt::StrongFocus : Qt::NoFocus);
    columns_ = layout.columns;
    tileSize_ = layout.tileSize;
    shownCount_ = layout.count();

    const double top = verticalScrollBar()->value();
    const TileRowRange range = layout.rowsFor(top, h);
    const size_t capacity = layout.tileCapacity(h);
    pool_.forEachBound([](TileId, Tile& t) { t.isPlaced = false; });
    placed_.clear();
    auto& cache = tileContentsCache();
    for (long row : TileGridLayout::rowOrder(range)) {
        size_t begin = size_t(row) * size_t(layout.columns);
        size_t end = std::min(begin + size_t(layout.columns), layout.count());
        for (size_t i = begin; i < end; ++i) {
            const QuickString& p = layout.paths[i];
            TilePool::Binding b = pool_.bind(p, capacity);
            if (pixels_.size() < pool_.tileCount()) pixels_.resize(pool_.tileCount());
            if (b.isNew) {
                if (const TileContents* contents = cache.get(p)) {
                    applyContents(b.id, *contents);
                } else {
                    pool_.markWaiting(p, b.id);
                }
            }
            Tile& t = pool_.tile(b.id);
            t.isPlaced = true;
            t.index = i;
        }
    }
    // Eviction may have freed a tile bound earlier in this pass only when the
    // capacity is below the prepared rows, which it never is; collect what
    // is placed now.
    pool_.forEachBound([this](TileId id, Tile& t) {
        if (t.isPlaced) placed_.push_back(id);
    });
    // Requests start once the pass is over, so that the most recently bound
    // tiles go first: the visible rows, top row first, then those below.
    while (requestNextThumbnail()) {
    }
    inUpdate_ = false;
    viewport()->update();
}

void TileGridView::recycle(TileId id) {
    if (id >= pixels_.size()) return;
    TilePixels& px = pixels_[id];
    // A request stopped before its completion ran never reports back.
    if (px.request.cancel()) --inFlight_;
    px.request = ThumbnailRequest();
    px.image = QImage();
    px.scaled = QPixmap();
    px.scaledSide = 0;
}

void TileGridView::applyContents(TileId id, const TileContents& contents) {
    Tile& t = pool_.tile(id);
    TilePixels& px = pixels_[id];
    px.image = contents.image ? *contents.image : QImage();
    px.scaled = QPixmap();
    px.scaledSide = 0;
    t.hasContents = true;
    t.duration = contents.metadata.duration;
    t.hasGPano = contents.metadata.gpano.has_value();
}

// ---- Thumbnails ----

bool TileGridView::requestNextThumbnail() {
    if (inFlight_ >= kMaxConcurrentRequests || !requester_) return false;
    std::optional<TileId> id = pool_.takeNextWaiting();
    if (!id) return false;
    const QuickString path = pool_.tile(*id).path;
    std::string file(path.utf8());
    ++inFlight_;
    TileId tile = *id;
    // The destructor cancels every request, so the completion never runs after
    // it; the hop back to the main queue may, and finds the view gone.
    QPointer<TileGridView> self(this);
    pixels_[tile].request = requester_(file, [self, tile, path, file](const ThumbnailResult& result) {
        // Background thread: the metadata is read here, off the main thread.
        FileMetadata metadata = readFileMetadata(file);
        QImage image = result.image;
        mainQueue().post([self, tile, path, image, metadata] {
            if (self) self->finishThumbnail(tile, path, image, metadata);
        });
    });
    return true;
}

void TileGridView::finishThumbnail(TileId id, const QuickString& path, const QImage& image,
                                   const FileMetadata& metadata) {
    if (id < pool_.tileCount() && pool_.tile(id).path == path) {
        TileContents contents{image.isNull() ? std::nullopt : std::optional<QImage>(image), metadata};
        tileContentsCache().set(path, contents, kContentsCacheCapacity);
        applyContents(id, contents);
        pixels_[id].request = ThumbnailRequest();
        const Tile& t = pool_.tile(id);
        if (t.isPlaced) {
            TileCell c = placedCell(t.index);
            viewport()->update(QRectF(c.x, c.y - verticalScrollBar()->value(), c.side, c.side).toAlignedRect());
        }
    }
    --inFlight_;
    requestNextThumbnail();
}

bool TileGridView::isSelected(const QuickString& path) const {
    return window_->currentSelection().contains(path);
}

bool TileGridView::tileShowsContents(const QuickString& path) const {
    auto id = pool_.find(path);
    return id && pool_.tile(*id).hasContents;
}

std::optional<double> TileGridView::tileDuration(const QuickString& path) const {
    auto id = pool_.find(path);
    if (!id) return std::nullopt;
    return pool_.tile(*id).duration;
}

QImage TileGridView::tileImage(const QuickString& path) const {
    auto id = pool_.find(path);
    if (!id || *id >= pixels_.size()) return {};
    return pixels_[*id].image;
}

TileCell TileGridView::placedCell(size_t index) const {
    size_t c = size_t(columns_);
    return TileCell{tileSize_ * double(index % c), tileSize_ * double(index / c), tileSize_};
}

// ---- Scroll state ----

std::any TileGridView::scrollState() const {
    TileGridLayout layout = computeLayout();
    auto anchor = layout.scrollAnchor(verticalScrollBar()->value());
    if (!anchor) return {};
    return TileGridScrollState{layout.paths[anchor->index], anchor->offset};
}

void TileGridView::setScrollState(const std::any& state) {
    const auto* s = std::any_cast<TileGridScrollState>(&state);
    if (!s) return;
    TileGridLayout layout = computeLayout();
    auto i = layout.indexOf(s->firstVisiblePath);
    if (!i) return;
    updateTiles();  // the scroll range must cover the target first
    scrollTo(layout.tileSize * double(layout.rowOf(*i)) + s->scrollOffset);
}

void TileGridView::scrollTo(double y) {
    verticalScrollBar()->setValue(int(std::lround(y)));
}

void TileGridView::revealPaths(const NodePath& nodePath, const QuickStringSet& paths) {
    NodePtr node = window_->context().db->tree().lookup(nodePath);
    if (node) {
        QuickStringSet expanded = window_->isExpanded();
        bool changed = false;
        for (NodePtr up = node->parent(); up; up = up->parent()) {
            if (!expanded.insert(up->fullName).second) break;
            changed = true;
        }
        if (changed) window_->setIsExpanded(std::move(expanded));
    }
    window_->setCurrentNode(nodePath);
    updateTiles();
    TileGridLayout layout = computeLayout();
    std::optional<QRectF> rect;
    for (size_t i = 0; i < layout.count(); ++i) {
        if (!paths.contains(layout.paths[i])) continue;
        TileCell c = layout.cell(i);
        QRectF r(c.x, c.y, c.side, c.side);
        rect = rect ? rect->united(r) : r;
    }
    if (rect) {
        double visible = viewport()->height();
        double used = std::min(rect->height(), visible);
        scrollTo(std::trunc(rect->top() - (visible - used) / 2));
    }
    // Selected a moment later, once the sidebar has caught up with the node.
    QTimer::singleShot(250, this, [this, paths] { window_->setCurrentSelection(paths); });
}

// ---- Window events ----

void TileGridView::onCurrentNodeChanged() {
    // A folder reached without its row being opened (history, a jump, a
    // restored window) is listed now, with its ancestors.
    const auto& db = window_->context().db;
    const NodePath& node = window_->currentNode();
    if (db && node.size() > 1 && nodePathStartsWith(node, db->tree().directoriesNode()->nodePath()))
        db->openDirectories({fullNameForNodePath(node)});
    updateTiles();
    if (preview_ && preview_->isVisible()) preview_->close();
}

void TileGridView::onSelectionChanged() {
    updateTiles();
    if (preview_ && preview_->isVisible()) showPreview(false);
    TileGridAccessible::notifySelection(this);
}

void TileGridView::resizeEvent(QResizeEvent* event) {
    QAbstractScrollArea::resizeEvent(event);
    updateTiles();
}

void TileGridView::scrollContentsBy(int, int) {
    updateTiles();
}

void TileGridView::changeEvent(QEvent* event) {
    QAbstractScrollArea::changeEvent(event);
    if (event->type() == QEvent::PaletteChange || event->type() == QEvent::StyleChange) {
        checkerboard_ = QPixmap();
        viewport()->update();
    }
}

void TileGridView::focusInEvent(QFocusEvent* event) {
    QAbstractScrollArea::focusInEvent(event);
    viewport()->update();
    TileGridAccessible::notifyFocus(this);
}

void TileGridView::focusOutEvent(QFocusEvent* event) {
    QAbstractScrollArea::focusOutEvent(event);
    viewport()->update();
}

bool TileGridView::viewportEvent(QEvent* event) {
    if (event->type() == QEvent::Leave && lastMousePos_) {
        lastMousePos_.reset();
        viewport()->update();
    }
    return QAbstractScrollArea::viewportEvent(event);
}

void TileGridView::leaveEvent(QEvent* event) {
    QAbstractScrollArea::leaveEvent(event);
    if (lastMousePos_) {
        lastMousePos_.reset();
        viewport()->update();
    }
}

void TileGridView::setDrawsAsFocused(std::optional<bool> focused) {
    drawsAsFocused_ = focused;
    viewport()->update();
}

// ---- Painting ----

QColor TileGridView::accentColor(float alpha) const {
    // The selected-text colour at full saturation and brightness; a grey
    // accent stays a middle grey.
    QColor accent = palette().color(QPalette::Active, QPalette::Highlight).toHsv();
    if (accent.hsvSaturationF() < 0.1f) return QColor::fromRgbF(0.5f, 0.5f, 0.5f, alpha);
    return QColor::fromHsvF(accent.hsvHueF(), 1, 1, alpha);
}

QColor TileGridView::selectionColor() const {
    bool focused = drawsAsFocused_ ? *drawsAsFocused_ : hasFocus();
    if (!focused) return QColor::fromRgbF(0.45f, 0.45f, 0.45f, 0.8f);
    return accentColor(0.7f);
}

const QPixmap& TileGridView::checkerboard() {
    if (checkerboard_.isNull()) {
        double scale = devicePixelRatioF();
        int n = std::max(int(std::lround(16 * scale)), 1);
        QImage img(n, n, QImage::Format_RGB32);
        for (int y = 0; y < n; ++y)
            for (int x = 0; x < n; ++x) {
                bool grey = (y < n / 2) == (x >= n / 2);
                img.setPixel(x, y, grey ? qRgb(238, 238, 238) : qRgb(255, 255, 255));
            }
        checkerboard_ = QPixmap::fromImage(img);
        checkerboard_.setDevicePixelRatio(scale);
    }
    return checkerboard_;
}

QPointF TileGridView::documentPoint(QPointF viewportPoint) const {
    return viewportPoint + QPointF(0, verticalScrollBar()->value());
}

void TileGridView::paintTile(QPainter& painter, TileId id, const QRectF& rect, bool selected, bool starred) {
    const Tile& t = pool_.tile(id);
    TilePixels& px = pixels_[id];
    if (t.hasContents && !px.image.isNull()) {
        painter.fillRect(rect, QBrush(checkerboard()));
        double scale = devicePixelRatioF();
        if (px.scaledSide != rect.width() || px.scaledHeight != rect.height() || px.scaled.isNull()) {
            // Aspect fill: scale to cover the cell, keep its centre.
            int w = std::max(1, int(std::lround(rect.width() * scale)));
            int h = std::max(1, int(std::lround(rect.height() * scale)));
            QImage filled = px.image.scaled(w, h, Qt::KeepAspectRatioByExpanding, Qt::SmoothTransformation);
            QImage cell = filled.copy((filled.width() - w) / 2, (filled.height() - h) / 2, w, h);
            px.scaled = QPixmap::fromImage(cell);
            px.scaled.setDevicePixelRatio(scale);
            px.scaledSide = rect.width();
            px.scaledHeight = rect.height();
        }
        painter.drawPixmap(rect.topLeft(), px.scaled);
    } else {
        painter.fillRect(rect, palette().color(QPalette::AlternateBase));
    }
    const double s = rect.width();
    if (selected) {
        painter.fillRect(rect, selectionColor());
        if (selection_.isUsingCheckBoxes) {
            QRectF box(rect.x() + kCheckInset, rect.y() + kCheckInset, kCheckSize, kCheckSize);
            painter.setPen(QPen(Qt::black, 1));
            painter.setBrush(Qt::white);
            painter.drawRect(box);
            QFont f = font();
            f.setPixelSize(14);
            painter.setFont(f);
            painter.drawText(box, Qt::AlignCenter, QStringLiteral("✓"));
        }
    }
    if (starred) {
        painter.save();
        painter.translate(rect.x() + s - kStarSize, rect.y());
        painter.setPen(QPen(Qt::black, 1));
        painter.setBrush(QColor::fromRgbF(1.0f, 0.75f, 0.25f));
        painter.drawPath(starPath());
        painter.restore();
    }
    if (t.duration) {
        QRectF box(rect.x(), rect.y() + s - kTimeFontSize - kTimeMargin, s - kTimeMargin, kTimeFontSize + 2);
        QFont f = font();
        f.setBold(true);
        f.setPixelSize(int(kTimeFontSize));
        painter.setFont(f);
        QString text = QString::fromStdString(formatMovieTime(*t.duration));
        painter.setPen(QColor(0, 0, 0, 160));
        for (QPointF d : {QPointF(-1, 0), QPointF(1, 0), QPointF(0, -1), QPointF(0, 1)})
            painter.drawText(box.translated(d), Qt::AlignRight | Qt::AlignBottom, text);
        painter.setPen(Qt::white);
        painter.drawText(box, Qt::AlignRight | Qt::AlignBottom, text);
    }
    if (t.hasGPano) {
        painter.save();
        painter.translate(rect.x() + s - kBadgeRightMargin - kBadgeSize,
                          rect.y() + s - kBadgeBottomMargin - kBadgeSize);
        painter.setPen(QPen(QColor(0, 0, 0, 140), 1.5));
        painter.setBrush(Qt::white);
        painter.drawPath(panoramaBadgePath());
        painter.restore();
    }
}

void TileGridView::paintEvent(QPaintEvent* event) {
    QPainter painter(viewport());
    painter.fillRect(event->rect(), palette().color(QPalette::Base));
    painter.setRenderHint(QPainter::Antialiasing);
    const double top = verticalScrollBar()->value();
    const QuickStringSet& selected = window_->currentSelection();
    const Tree& tree = window_->context().db->tree();
    const Node::Paths& stars = tree.starsNode()->resolvedPaths();
    const QRectF dirty = QRectF(event->rect());
    for (TileId id : placed_) {
        const Tile& t = pool_.tile(id);
        TileCell c = placedCell(t.index);
        // Whole device pixels, so that neighbours touch without seams.
        QRectF rect(QPointF(std::round(c.x), std::round(c.y - top)),
                    QPointF(std::round(c.right()), std::round(c.bottom() - top)));
        if (!rect.intersects(dirty)) continue;
        paintTile(painter, id, rect, selected.contains(t.path), stars.contains(t.path));
    }
    // Hover affordances over the tile under the mouse.
    if (lastMousePos_ && !isDragging_) {
        TileGridLayout layout = computeLayout();
        QPointF p = documentPoint(*lastMousePos_);
        if (auto i = layout.indexAt(p.x(), p.y())) {
            const QuickString& path = layout.paths[*i];
            TileCell c = layout.cell(*i);
            bool isSelected = selected.contains(path);
            if (!(selection_.isUsingCheckBoxes && isSelected)) {
                QRectF box(c.x + kCheckInset, c.y - top + kCheckInset, kCheckSize, kCheckSize);
                painter.setPen(QPen(Qt::black, 1));
                painter.setBrush(Qt::white);
                painter.drawRect(box);
            }
            if (!selection_.isUsingCheckBoxes && !stars.contains(path)) {
                painter.save();
                painter.translate(c.x + c.side - kStarSize, c.y - top);
                painter.setPen(QPen(Qt::black, 1));
                painter.setBrush(Qt::white);
                painter.drawPath(starPath());
                painter.restore();
            }
        }
    }
    if (dropTarget_) {
        QColor accent = accentColor(1);
        painter.setPen(QPen(accent, 4));
        painter.setBrush(Qt::NoBrush);
        painter.drawRect(QRectF(viewport()->rect()).adjusted(2, 2, -2, -2));
    }
}

// ---- Selection, mouse and keyboard ----

void TileGridView::setSelection(const QuickStringSet& selection) {
    window_->setCurrentSelection(selection);
}

std::vector<QuickString> TileGridView::selectedShownPaths() const {
    std::vector<QuickString> out;
    NodePtr node = currentNode();
    if (!node) return out;
    const QuickStringSet& selected = window_->currentSelection();
    if (isMapNode(node)) {
        TileGridLayout layout = computeLayout();
        for (const QuickString& p : layout.paths)
            if (selected.contains(p)) out.push_back(p);
        return out;
    }
    const Node::Paths& listed = node->resolvedPaths();
    for (const QuickString& p : sortedPaths(selected))
        if (listed.contains(p)) out.push_back(p);
    return out;
}

void TileGridView::toggleStar(const QuickString& path) {
    bool starred = window_->context().db->tree().starsNode()->resolvedPaths().contains(path);
    TagChange change{path, {}, {}};
    std::string star(starString().utf8());
    if (starred) change.tagsToRemove.insert(star);
    else change.tagsToAdd.insert(star);
    TagChangeKind kind = starred ? TagChangeKind::unstar : TagChangeKind::star;
    window_->commandStack()->performCommand(
        std::make_shared<TagChangeCommand>(kind, kind, std::vector<TagChange>{change}, std::set<std::string>{},
                                           std::set<std::string>{}));
}

void TileGridView::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        QAbstractScrollArea::mousePressEvent(event);
        return;
    }
    TileGridLayout layout = computeLayout();
    QPointF p = documentPoint(event->position());
    dragStart_ = p;
    isDragging_ = false;
    isPressing_ = true;
    setFocus(Qt::MouseFocusReason);
    std::optional<size_t> i = layout.indexAt(p.x(), p.y());
    TileZone zone = TileZone::body;
    if (i) {
        TileCell c = layout.cell(*i);
        zone = tileZoneAt(p.x() - c.x, p.y() - c.y, c.side);
    }
    TileSelection::Modifiers mods{bool(event->modifiers() & Qt::ShiftModifier),
                                  bool(event->modifiers() & Qt::ControlModifier)};
    TileSelection::Click click = selection_.mouseDown(i, zone, mods, layout.paths, window_->currentSelection());
    switch (click.effect) {
    case TileSelection::Click::Effect::none: break;
    case TileSelection::Click::Effect::select: setSelection(click.selection); break;
    case TileSelection::Click::Effect::toggleStar: toggleStar(click.path); break;
    }
    updateTiles();
}

void TileGridView::mouseDoubleClickEvent(QMouseEvent* event) {
    // Opening a file with a double click is what desktop users expect; the
    // corner zones keep acting as single clicks.
    TileGridLayout layout = computeLayout();
    QPointF p = documentPoint(event->position());
    std::optional<size_t> i = layout.indexAt(p.x(), p.y());
    if (event->button() == Qt::LeftButton && i && !selection_.isUsingCheckBoxes) {
        TileCell c = layout.cell(*i);
        if (tileZoneAt(p.x() - c.x, p.y() - c.y, c.side) == TileZone::body) {
            openSelection();
            return;
        }
    }
    mousePressEvent(event);
}

void TileGridView::mouseMoveEvent(QMouseEvent* event) {
    lastMousePos_ = event->position();
    if (!(event->buttons() & Qt::LeftButton) || !isPressing_) {
        viewport()->update();
        return;
    }
    selection_.itemToRemoveOnMouseUp.reset();
    if (isDragging_) return;
    QPointF d = documentPoint(event->position()) - dragStart_;
    if (d.x() * d.x() + d.y() * d.y() < kDragThreshold * kDragThreshold) return;
    isDragging_ = true;
    startDrag();
}

void TileGridView::mouseReleaseEvent(QMouseEvent* event) {
    isPressing_ = false;
    if (event->button() != Qt::LeftButton) return;
    if (auto next = selection_.mouseUp(window_->currentSelection())) setSelection(*next);
}

void TileGridView::scrollCellIntoView(size_t index) {
    TileGridLayout layout = computeLayout();
    TileCell c = layout.cell(index);
    double top = verticalScrollBar()->value(), h = viewport()->height();
    if (c.y < top) scrollTo(c.y);
    else if (c.bottom() > top + h) scrollTo(c.bottom() - h);
}

void TileGridView::arrow(TileArrow direction, Qt::KeyboardModifiers modifiers) {
    TileGridLayout layout = computeLayout();
    if (layout.count() == 0) return;
    std::optional<size_t> k = selection_.cursorIndex(layout.paths, window_->currentSelection());
    bool command = modifiers & Qt::ControlModifier;
    size_t target = tileArrowTarget(direction, k, layout.count(), size_t(layout.columns), size_t(layout.rows),
                                    command);
    scrollCellIntoView(direction == TileArrow::down && command ? layout.count() - 1 : target);
    selection_.isUsingCheckBoxes = false;
    setSelection(selection_.selectIndex(target, modifiers & Qt::ShiftModifier, layout.paths));
    updateTiles();
}

void TileGridView::keyPressEvent(QKeyEvent* event) {
    const Qt::KeyboardModifiers mods = event->modifiers() & ~Qt::KeypadModifier;
    const double top = verticalScrollBar()->value(), h = viewport()->height();
    switch (event->key()) {
    case Qt::Key_Space:
        if (shownCount_ > 0) {
            setFocus(Qt::OtherFocusReason);
            showPreview(true);
        }
        return;
    case Qt::Key_Delete:
    case Qt::Key_Backspace: deleteCurrentSelection(); return;
    case Qt::Key_Escape:
        if (!window_->currentSelection().empty()) window_->setCurrentSelection({});
        else if (isMapNode(currentNode())) Q_EMIT removeCircleRequested();
        return;
    case Qt::Key_Home: scrollTo(0); return;
    case Qt::Key_End: scrollTo(documentHeight_); return;
    case Qt::Key_PageUp: scrollTo(top - h); return;
    case Qt::Key_PageDown: scrollTo(top + h); return;
    case Qt::Key_Left: arrow(TileArrow::left, mods); return;
    case Qt::Key_Right: arrow(TileArrow::right, mods); return;
    case Qt::Key_Up: arrow(TileArrow::up, mods); return;
    case Qt::Key_Down: arrow(TileArrow::down, mods); return;
    case Qt::Key_Return:
    case Qt::Key_Enter: openSelection(); return;
    case Qt::Key_Menu: showContextMenuForCursor(); return;
    case Qt::Key_F10:
        if (mods == Qt::ShiftModifier) {
            showContextMenuForCursor();
            return;
        }
        break;
    default: break;
    }
    if (event->key() == Qt::Key_A && mods == Qt::ControlModifier) {
        setSelection(selection_.selectAll(computeLayout().paths));
        return;
    }
    if (event->key() == Qt::Key_O && mods == Qt::ControlModifier) {
        openSelection();
        return;
    }
    QAbstractScrollArea::keyPressEvent(event);
}

// ---- Actions ----

void TileGridView::showSelectionInFileManager() {
    FileManagerReveal::showItems(toStrings(selectedShownPaths()));
}

std::optional<size_t> TileGridView::cursorIndex() const {
    return selection_.cursorIndex(computeLayout().paths, window_->currentSelection());
}

QString TileGridView::accessibleDescription(const QuickString& path) const {
    QStringList parts;
    const Tree& tree = window_->context().db->tree();
    if (tree.starsNode() && tree.starsNode()->resolvedPaths().contains(path)) parts << tr("starred");
    if (const TileContents* contents = tileContentsCache().peek(path)) {
        if (contents->metadata.duration)
            parts << QString::fromStdString(formatMovieTime(*contents->metadata.duration));
        if (contents->metadata.gpano) parts << tr("panorama");
    }
    return parts.join(QStringLiteral(", "));
}

void TileGridView::activate(const QuickString& path) {
    TileGridLayout layout = computeLayout();
    auto it = std::find(layout.paths.begin(), layout.paths.end(), path);
    if (it == layout.paths.end()) return;
    selection_.isUsingCheckBoxes = false;
    setSelection(selection_.selectIndex(size_t(it - layout.paths.begin()), false, layout.paths));
    openSelection();
}

void TileGridView::openSelection() {
    openFilesWithDefaultApplication(toStrings(selectedShownPaths()));
}

void TileGridView::deleteCurrentSelection() {
    NodePtr node = currentNode();
    if (!node) return;
    const QuickStringSet& selected = window_->currentSelection();
    const Node::Paths& listed = node->resolvedPaths();
    if (has(node->kind, NodeKind::tag)) {
        if (auto tag = TagFormat::tagForNodeName(node->fullName)) {
            TagChangeBuilder builder;
            for (const QuickString& p : selected)
                if (listed.contains(p)) builder.removeTag(p, *tag);
            std::vector<TagChange> changes = builder.build();
            if (!changes.empty())
                window_->commandStack()->performCommand(std::make_shared<TagChangeCommand>(
                    TagChangeKind::untag, TagChangeKind::untag, std::move(changes), std::set<std::string>{},
                    std::set<std::string>{}));
            return;
        }
    }
    if (has(node->kind, NodeKind::directory)) {
        std::vector<std::string> paths;
        for (const QuickString& p : sortedPaths(selected))
            if (listed.contains(p)) paths.emplace_back(p.utf8());
        if (!paths.empty())
            window_->commandStack()->performCommand(std::make_shared<ToTrashCommand>(std::move(paths), TrashKind::files));
    }
}

// ---- Add Tag ----

AddTagPrompt* TileGridView::promptToAddTag() {
    std::vector<QuickString> selection = selectedShownPaths();
    if (selection.empty()) return nullptr;
    if (addTagPrompt_) addTagPrompt_->reject();
    auto* prompt = new AddTagPrompt(QString::fromStdString(AddTagAction::message(selection)),
                                    window_->context().db->tree(), this);
    connect(prompt, &AddTagPrompt::tagEntered, this,
            [this, selection](const QString& text) { addTag(selection, text); });
    connect(prompt, &QDialog::finished, this, &TileGridView::takeBackKeyboard);
    addTagPrompt_ = prompt;
    prompt->open();
    return prompt;
}

void TileGridView::addTag(const std::vector<QuickString>& selection, const QString& text) {
    const QByteArray utf8 = text.toUtf8();
    TagNameInput::Path typed = TagNameInput::parsePath(std::string_view(utf8.constData(), size_t(utf8.size())));
    if (!typed.refusal.empty()) {
        refuse(QString::fromStdString(typed.refusal));
        return;
    }
    DB& db = *window_->context().db;
    if (CommandPtr command = AddTagAction::command(db.tree(), *db.format, selection, typed.tag))
        window_->commandStack()->performCommand(command);
}

void TileGridView::refuse(const QString& message) {
    auto* box = new QMessageBox(QMessageBox::Warning, QString(), message, QMessageBox::Ok, this);
    box->setObjectName(QStringLiteral("tileGridTagRefusal"));
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::WindowModal);
    connect(box, &QDialog::finished, this, &TileGridView::takeBackKeyboard);
    box->open();
}

void TileGridView::takeBackKeyboard() {
    // Not every window manager (nor the offscreen platform) activates the
    // window again when its modal prompt closes; without it the keyboard
    // would go nowhere. A refusal that opened meanwhile keeps it.
    if (QApplication::activeModalWidget()) return;
    activateWindow();
    setFocus(Qt::OtherFocusReason);
}

// ---- Context menu ----

void TileGridView::contextMenuEvent(QContextMenuEvent* event) {
    if (event->reason() != QContextMenuEvent::Mouse) {
        showContextMenuForCursor();
        return;
    }
    QMenu* menu = makeContextMenu(event->pos());
    if (!menu) return;
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(event->globalPos());
}

QMenu* TileGridView::showContextMenuForCursor() {
    // Some platforms send both the key and a context-menu event for it.
    if (keyboardMenu_ && keyboardMenu_->isVisible()) return keyboardMenu_;
    auto i = cursorIndex();
    if (!i) return nullptr;
    scrollCellIntoView(*i);
    TileGridLayout layout = computeLayout();
    TileCell c = layout.cell(*i);
    QPoint at(int(c.x + c.side / 2), int(c.y + c.side / 2) - verticalScrollBar()->value());
    QMenu* menu = makeContextMenu(at);
    if (!menu) return nullptr;
    menu->setAttribute(Qt::WA_DeleteOnClose);
    keyboardMenu_ = menu;
    menu->popup(viewport()->mapToGlobal(at));
    return menu;
}

QMenu* TileGridView::makeContextMenu(QPoint viewportPos) {
    TileGridLayout layout = computeLayout();
    QPointF p = documentPoint(viewportPos);
    std::optional<size_t> i = layout.indexAt(p.x(), p.y());
    if (!i) return nullptr;
    NodePtr node = currentNode();
    if (!node) return nullptr;
    const QuickString& path = layout.paths[*i];
    if (!window_->currentSelection().contains(path)) {
        selection_.cursor = path;
        selection_.anchor = path;
        setSelection(selection_.selectIndex(*i, false, layout.paths));
    }
    std::vector<QuickString> selection = sortedPaths(window_->currentSelection());
    std::vector<TileMenuEntry> entries = buildTileMenu(window_->context().db->tree(), node, isMapNode(node), selection);
    auto* menu = new QMenu(this);
    for (const TileMenuEntry& e : entries) {
        switch (e.kind) {
        case TileMenuEntry::Kind::separator: menu->addSeparator(); break;
        case TileMenuEntry::Kind::header: menu->addAction(QString::fromStdString(e.title))->setEnabled(false); break;
        case TileMenuEntry::Kind::item: {
            QAction* action = menu->addAction(QString::fromStdString(e.title));
            if (e.action == TileMenuEntry::Action::open) action->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_O));
            if (e.action == TileMenuEntry::Action::remove) action->setShortcut(QKeySequence(Qt::Key_Delete));
            if (e.action == TileMenuEntry::Action::jumpToTag) {
                action->setCheckable(e.checked);
                action->setChecked(e.checked);
            }
            if (e.action == TileMenuEntry::Action::jumpToMap && e.gps) {
                PlaceNames& names = PlaceNames::shared();
                if (auto name = names.cached(*e.gps)) {
                    action->setText(QString::fromStdString(*name));
                } else {
                    QPointer<QAction> guarded(action);
                    names.lookup(*e.gps, [guarded](const std::string& name) {
                        if (guarded) guarded->setText(QString::fromStdString(name));
                    });
                }
            }
            connect(action, &QAction::triggered, this, [this, e, selection] { runMenuAction(e, selection); });
            break;
        }
        }
    }
    return menu;
}

void TileGridView::runMenuAction(const TileMenuEntry& entry, const std::vector<QuickString>& selection) {
    const Qt::KeyboardModifiers mods = QGuiApplication::keyboardModifiers();
    using A = TileMenuEntry::Action;
    switch (entry.action) {
    case A::none: break;
    case A::showInFileManager: showSelectionInFileManager(); break;
    case A::open: openSelection(); break;
    case A::addTag: promptToAddTag(); break;
    case A::remove: deleteCurrentSelection(); break;
    case A::jumpToDir: {
        auto name = nodeNameForFolder(entry.target);
        if (!name) break;
        QuickStringSet files;
        for (const QuickString& p : selection) {
            std::string_view s = p.utf8();
            size_t slash = s.rfind('/');
            if (slash != std::string_view::npos && s.substr(0, slash) == entry.target) files.insert(p);
        }
        Q_EMIT revealRequested(nodePathForFullName(*name), files, mods);
        break;
    }
    case A::jumpToTag: {
        QuickString name = QuickString::bytes(entry.target);
        NodePath nodePath = nodePathForFullName(name);
        QuickStringSet files;
        if (NodePtr node = window_->context().db->tree().lookup(nodePath)) {
            const Node::Paths& listed = node->resolvedPaths();
            for (const QuickString& p : selection)
                if (listed.contains(p)) files.insert(p);
        }
        Q_EMIT revealRequested(nodePath, files, mods);
        break;
    }
    case A::jumpToMap:
        if (entry.gps) Q_EMIT revealMapRequested(entry.gps->longitude, entry.gps->latitude, mods);
        break;
    }
}

// ---- Drag and drop ----

QMimeData* TileGridView::makeDragData(const std::vector<QuickString>& paths) {
    QByteArray list;
    for (const QuickString& p : paths) {
        std::string url = fileURLForPath(p.utf8());
        list.append(url.data(), qsizetype(url.size()));
        list.append("\r\n");
    }
    auto* data = new QMimeData;
    data->setData(QString::fromLatin1(kUriList), list);
    return data;
}

std::vector<QuickString> TileGridView::draggedPaths() const {
    std::vector<QuickString> out;
    const QuickStringSet& selected = window_->currentSelection();
    if (selected.empty()) return out;
    for (const QuickString& p : computeLayout().paths)
        if (selected.contains(p)) out.push_back(p);
    return out;
}

void TileGridView::startDrag() {
    std::vector<QuickString> paths = draggedPaths();
    if (paths.empty()) return;
    auto* drag = new QDrag(this);
    drag->setMimeData(makeDragData(paths));
    if (const TileContents* c = tileContentsCache().get(paths.front()); c && c->image) {
        const QImage& img = *c->image;
        int side = std::min(img.width(), img.height());
        QImage square = img.copy((img.width() - side) / 2, (img.height() - side) / 2, side, side);
        drag->setPixmap(QPixmap::fromImage(square.scaled(96, 96, Qt::KeepAspectRatio, Qt::SmoothTransformation)));
        drag->setHotSpot(QPoint(48, 48));
    }
    drag->exec(Qt::CopyAction | Qt::MoveAction, Qt::CopyAction);
}

bool TileGridView::canDrop(const QMimeData* data) const {
    if (!data || !data->hasFormat(QString::fromLatin1(kUriList))) return false;
    NodePtr node = currentNode();
    return node && (has(node->kind, NodeKind::tag) || has(node->kind, NodeKind::directory));
}

void TileGridView::setDropTarget(NodePtr node) {
    if (node == dropTarget_) return;
    dropTarget_ = std::move(node);
    viewport()->update();
}

void TileGridView::dragEnterEvent(QDragEnterEvent* event) {
    dragMoveEvent(event);  // entering is the first move
}

void TileGridView::dragMoveEvent(QDragMoveEvent* event) {
    if (canDrop(event->mimeData())) {
        setDropTarget(currentNode());
        event->setDropAction(Qt::CopyAction);
        event->accept();
    } else {
        setDropTarget(nullptr);
        event->ignore();
    }
}

void TileGridView::dragLeaveEvent(QDragLeaveEvent*) {
    setDropTarget(nullptr);
}

void TileGridView::dropEvent(QDropEvent* event) {
    if (performDrop(event->mimeData())) {
        event->setDropAction(Qt::CopyAction);
        event->accept();
    } else {
        event->ignore();
    }
}

bool TileGridView::performDrop(const QMimeData* data) {
    NodePtr target = canDrop(data) ? currentNode() : nullptr;
    setDropTarget(nullptr);
    if (!target) return false;
    DropInfo drop;
    const QByteArray list = data->data(QString::fromLatin1(kUriList));
    for (QByteArray line : list.split('\n')) {
        line = line.trimmed();
        if (line.isEmpty() || line.startsWith('#')) continue;
        drop.items.push_back(DropItem{std::nullopt, line.toStdString()});
    }
    return window_->commandStack()->performDrop(target, drop, false);
}

// ---- Preview ----

void TileGridView::showPreview(bool bringToFront) {
    if (!preview_) {
        preview_ = new TilePreview(nullptr);
        // The preview goes with this view (see the destructor).
        preview_->arrowPressed = [this](QKeyEvent* e) { keyPressEvent(e); };
    }
    std::optional<std::string> path;
    if (window_->currentSelection().size() == 1) path = std::string(window_->currentSelection().begin()->utf8());
    preview_->showFile(path, bringToFront);
}

}  // namespace qm
