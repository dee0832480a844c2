#include "tilegrid/TileGridView.h"

#include <QContextMenuEvent>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>

#include <algorithm>
#include <cmath>

#include "commands/BrowserState.h"
#include "desktop/DragThreshold.h"
#include "library/DB.h"
#include "library/SettingsSchema.h"
#include "tilegrid/DesktopActions.h"
#include "tilegrid/TileContextMenu.h"
#include "tilegrid/TileGridAccessible.h"
#include "tilegrid/TileGridScrollState.h"

namespace qm {

namespace {

TileGridController::Modifiers modifiersOf(Qt::KeyboardModifiers m) {
    return {bool(m & Qt::ShiftModifier), bool(m & Qt::ControlModifier)};
}

// The zone of tile i under a document point.
TileZone zoneAt(const TileGridLayout& layout, size_t i, QPointF p) {
    TileCell c = layout.cell(i);
    return tileZoneAt(p.x() - c.x, p.y() - c.y, c.side);
}

// Typed characters that may start a file's name (not controls, not space,
// which shows the preview).
bool isTypeAheadText(const QString& text) {
    if (text.isEmpty()) return false;
    for (QChar c : text)
        if (!c.isPrint() || c.isSpace()) return false;
    return true;
}

}  // namespace

TileGridView::TileGridView(std::shared_ptr<BrowserState> window, std::shared_ptr<ThumbnailService> thumbnails,
                           QWidget* parent)
    : QAbstractScrollArea(parent), window_(std::move(window)), thumbnails_(std::move(thumbnails)),
      controller_(window_), dragDrop_(viewport(), controller_, [this] { viewport()->update(); }),
      toolTip_(viewport()), prompts_(this, window_) {
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    // Always shown: a scroller that comes and goes would change the width, and so
    // the columns, and so whether it is needed.
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    verticalScrollBar()->setFocusPolicy(Qt::NoFocus);
    verticalScrollBar()->setSingleStep(30);
    setFocusPolicy(Qt::StrongFocus);
    setFrameShape(QFrame::NoFrame);
    setAcceptDrops(true);
    viewport()->setMouseTracking(true);
    viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
    setAttribute(Qt::WA_Hover);

    setThumbnailRequester(ThumbnailScheduler::requesterFor(thumbnails_));
    staleTimer_.setInterval(1000);
    connect(&staleTimer_, &QTimer::timeout, this, [this] {
        scheduler_->expireStale();
        if (scheduler_->inFlight() == 0) staleTimer_.stop();
    });
    TileGridAccessible::install();

    subscriptions_.push_back(window_->context().db->pathsChanged.subscribe([this] { updateTiles(); }));
    subscriptions_.push_back(window_->mapResultsChanged.subscribe([this] { updateTiles(); }));
    subscriptions_.push_back(window_->currentNodeChanged.subscribe([this] { onCurrentNodeChanged(); }));
    subscriptions_.push_back(window_->currentSelectionChanged.subscribe([this] { onSelectionChanged(); }));
    setShowsFileNames(window_->context().db->defaults().get(settings::showFileNames));
}

TileGridView::~TileGridView() {
    subscriptions_.clear();
    scheduler_.reset();
    if (preview_) delete preview_.data();
}

void TileGridView::setShowsFileNames(bool on) {
    if (on == showsFileNames_) return;
    showsFileNames_ = on;
    applyCaptionHeight();
}

void TileGridView::applyCaptionHeight() {
    const double height = showsFileNames_ ? TileCaption::height(QFontMetricsF(font())) : 0;
    if (height == controller_.captionHeight()) return;
    // The first visible file stays at the top as the rows change height.
    std::any anchor = scrollState();
    controller_.setCaptionHeight(height);
    updateTiles();
    setScrollState(anchor);
}

void TileGridView::setThumbnailRequester(ThumbnailRequester requester) {
    ThumbnailScheduler::Backend backend;
    backend.request = std::move(requester);
    setThumbnailBackend(std::move(backend));
}

void TileGridView::setThumbnailBackend(ThumbnailScheduler::Backend backend) {
    scheduler_ = std::make_unique<ThumbnailScheduler>(tileContentsCache(), std::move(backend));
    scheduler_->contentsChanged = [this](TileId id) { repaintTile(id); };
    updateTiles();
}

// ---- Layout and the update pass ----

TileGridLayout TileGridView::computeLayout() const {
    return controller_.layout(viewport()->width());
}

void TileGridView::updateTiles() {
    if (inUpdate_ || !scheduler_) return;
    inUpdate_ = true;
    controller_.noticeSelection();
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
    // Keyboard focus only where there is something to act on (the map node
    // takes it always: Escape removes its circle).
    setFocusPolicy(layout.count() > 0 || controller_.isMapNode() ? Qt::StrongFocus : Qt::NoFocus);
    columns_ = layout.columns;
    tileSize_ = layout.tileSize;
    captionHeight_ = layout.captionHeight;
    shownCount_ = layout.count();

    scheduler_->placeRows(layout, verticalScrollBar()->value(), h);
    if (scheduler_->inFlight() > 0 && !staleTimer_.isActive()) staleTimer_.start();
    inUpdate_ = false;
    viewport()->update();
    if (controller_.hasPendingReveal()) perform(controller_.pendingReveal(layout));
}

void TileGridView::repaintTile(TileId id) {
    viewport()->update(viewportRect(placedCell(scheduler_->pool().tile(id).index)));
}

TileCell TileGridView::placedCell(size_t index) const {
    size_t c = size_t(columns_);
    return TileCell{tileSize_ * double(index % c), (tileSize_ + captionHeight_) * double(index / c), tileSize_,
                    captionHeight_};
}

// ---- Scroll state and reveal ----

std::any TileGridView::scrollState() const {
    if (auto state = TileGridScrollState::of(computeLayout(), verticalScrollBar()->value())) return *state;
    return {};
}

void TileGridView::setScrollState(const std::any& state) {
    const auto* s = std::any_cast<TileGridScrollState>(&state);
    std::optional<double> top = s ? s->topIn(computeLayout()) : std::nullopt;
    if (!top) return;
    updateTiles();  // the scroll range must cover the target first
    scrollTo(*top);
}

void TileGridView::scrollTo(double y) {
    verticalScrollBar()->setValue(int(std::lround(y)));
}

void TileGridView::scrollCellIntoView(size_t index) {
    if (auto top = computeLayout().topShowing(index, verticalScrollBar()->value(), viewport()->height()))
        scrollTo(*top);
}

void TileGridView::centerIndices(const std::vector<size_t>& indices) {
    std::optional<double> top = computeLayout().topCentering(indices, viewport()->height());
    if (!top) return;
    updateTiles();  // the scroll range must cover the files
    scrollTo(*top);
}

void TileGridView::revealPaths(const NodePath& node, const QuickStringSet& paths) {
    perform(controller_.reveal(node, paths, viewport()->width()));
    // Selected a moment later, once the sidebar has caught up with the node.
    QTimer::singleShot(250, this, [this, node, paths] {
        if (window_->currentNode() == node) window_->setCurrentSelection(paths);
    });
}

// ---- Effects ----

void TileGridView::perform(const TileEffects& effects) {
    const Qt::KeyboardModifiers mods = QGuiApplication::keyboardModifiers();
    for (const TileEffect& e : effects) {
        using K = TileEffect::Kind;
        switch (e.kind) {
        case K::scrollTo: scrollCellIntoView(e.index); break;
        case K::revealIndices: centerIndices(e.indices); break;
        case K::open: openFilesWithDefaultApplication(e.paths); break;
        case K::confirmOpen: prompts_.confirmOpen(e.paths); break;
        case K::showInFileManager: showFilesInFileManager(e.paths); break;
        case K::reveal: Q_EMIT revealRequested(e.node, e.files, mods); break;
        case K::revealMap:
            if (e.gps) Q_EMIT revealMapRequested(e.gps->longitude, e.gps->latitude, mods);
            break;
        case K::removeCircle: Q_EMIT removeCircleRequested(); break;
        case K::promptAddTag: promptToAddTag(); break;
        }
    }
}

// ---- Window events ----

void TileGridView::onCurrentNodeChanged() {
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
    if (event->type() == QEvent::PaletteChange || event->type() == QEvent::StyleChange ||
        event->type() == QEvent::FontChange) {
        painter_.reset();
        applyCaptionHeight();
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
    if (event->type() == QEvent::ToolTip) {
        auto* help = static_cast<QHelpEvent*>(event);
        showToolTip(help->pos(), help->globalPos());
        return true;
    }
    if (event->type() == QEvent::Leave) forgetPointer();
    return QAbstractScrollArea::viewportEvent(event);
}

void TileGridView::leaveEvent(QEvent* event) {
    QAbstractScrollArea::leaveEvent(event);
    forgetPointer();
}

void TileGridView::forgetPointer() {
    // The hover affordances go with the pointer.
    if (!lastMousePos_) return;
    lastMousePos_.reset();
    viewport()->update();
}

void TileGridView::setDrawsAsFocused(std::optional<bool> focused) {
    drawsAsFocused_ = focused;
    viewport()->update();
}

// ---- Painting ----

QPointF TileGridView::documentPoint(QPointF viewportPoint) const {
    return viewportPoint + QPointF(0, verticalScrollBar()->value());
}

std::optional<size_t> TileGridView::indexAt(const TileGridLayout& layout, QPointF viewportPoint) const {
    QPointF p = documentPoint(viewportPoint);
    return layout.indexAt(p.x(), p.y());
}

QRect TileGridView::viewportRect(const TileCell& c) const {
    return QRectF(c.x, c.y - verticalScrollBar()->value(), c.side, c.height()).toAlignedRect();
}

void TileGridView::paintEvent(QPaintEvent* event) {
    QPainter painter(viewport());
    painter.fillRect(event->rect(), palette().color(QPalette::Base));
    painter.setRenderHint(QPainter::Antialiasing);
    const double top = verticalScrollBar()->value();
    const TilePainter::Style style = TilePainter::style(palette(), font(), drawsAsFocused_.value_or(hasFocus()),
                                                        devicePixelRatioF(), captionHeight_);
    const bool checkBoxes = controller_.isUsingCheckBoxes();
    const QRectF dirty = QRectF(event->rect());
    // Hover affordances go to the tile under the mouse.
    std::optional<size_t> hovered;
    if (lastMousePos_ && !isDragging_) hovered = indexAt(computeLayout(), *lastMousePos_);
    for (TileId id : scheduler_->placed()) {
        const Tile& t = scheduler_->pool().tile(id);
        TileCell c = placedCell(t.index);
        // Whole device pixels, so that neighbours touch without seams.
        QRectF rect(QPointF(std::round(c.x), std::round(c.y - top)),
                    QPointF(std::round(c.right()), std::round(c.y + c.side - top)));
        if (!rect.adjusted(0, 0, 0, c.captionHeight).intersects(dirty)) continue;
        TileLook look = TilePainter::lookOf(t, controller_.isSelected(t.path), controller_.isStarred(t.path),
                                            checkBoxes, hovered == t.index, captionHeight_ > 0);
        if (t.hasContents) look.image = &scheduler_->image(id);
        painter_.paint(painter, rect, look, style, id, scheduler_->version(id));
    }
    if (dragDrop_.isTarget()) {
        painter.setPen(QPen(TilePainter::accentColor(palette(), 1), 4));
        painter.setBrush(Qt::NoBrush);
        painter.drawRect(QRectF(viewport()->rect()).adjusted(2, 2, -2, -2));
    }
}

// ---- Mouse and keyboard ----

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
    controller_.press(layout, i, i ? zoneAt(layout, *i, p) : TileZone::body, modifiersOf(event->modifiers()));
    updateTiles();
}

void TileGridView::mouseDoubleClickEvent(QMouseEvent* event) {
    // Opening a file with a double click is what desktop users expect; the
    // corner zones keep acting as single clicks.
    TileGridLayout layout = computeLayout();
    QPointF p = documentPoint(event->position());
    std::optional<size_t> i = layout.indexAt(p.x(), p.y());
    if (event->button() == Qt::LeftButton && i && !controller_.isUsingCheckBoxes() &&
        zoneAt(layout, *i, p) == TileZone::body) {
        openSelection();
        return;
    }
    mousePressEvent(event);
}

void TileGridView::mouseMoveEvent(QMouseEvent* event) {
    lastMousePos_ = event->position();
    if (!(event->buttons() & Qt::LeftButton) || !isPressing_) {
        viewport()->update();
        return;
    }
    controller_.dragMoved();
    if (isDragging_) return;
    if (!DragThreshold::reached(dragStart_, documentPoint(event->position()))) return;
    isDragging_ = true;
    TileGridDragDrop::startDrag(this, draggedPaths());
}

void TileGridView::mouseReleaseEvent(QMouseEvent* event) {
    isPressing_ = false;
    if (event->button() == Qt::LeftButton) controller_.release();
}

void TileGridView::keyPressEvent(QKeyEvent* event) {
    const Qt::KeyboardModifiers mods = event->modifiers() & ~Qt::KeypadModifier;
    const double top = verticalScrollBar()->value(), h = viewport()->height();
    auto arrow = [&](TileArrow a) { perform(controller_.arrow(computeLayout(), a, modifiersOf(mods))); };
    switch (event->key()) {
    case Qt::Key_Space:
        if (shownCount_ > 0) {
            setFocus(Qt::OtherFocusReason);
            showPreview(true);
        }
        return;
    case Qt::Key_Delete:
    case Qt::Key_Backspace: deleteCurrentSelection(); return;
    case Qt::Key_Escape: perform(controller_.escape()); return;
    case Qt::Key_Home: scrollTo(0); return;
    case Qt::Key_End: scrollTo(documentHeight_); return;
    case Qt::Key_PageUp: scrollTo(top - h); return;
    case Qt::Key_PageDown: scrollTo(top + h); return;
    case Qt::Key_Left: arrow(TileArrow::left); return;
    case Qt::Key_Right: arrow(TileArrow::right); return;
    case Qt::Key_Up: arrow(TileArrow::up); return;
    case Qt::Key_Down: arrow(TileArrow::down); return;
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
        controller_.selectAll(computeLayout());
        return;
    }
    if (event->key() == Qt::Key_O && mods == Qt::ControlModifier) {
        openSelection();
        return;
    }
    if (!(mods & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier)) && isTypeAheadText(event->text())) {
        const QByteArray typed = event->text().toUtf8();
        perform(controller_.typeAhead(computeLayout(), std::string_view(typed.constData(), size_t(typed.size()))));
        return;
    }
    QAbstractScrollArea::keyPressEvent(event);
}

// ---- Actions ----

void TileGridView::showSelectionInFileManager() {
    perform(controller_.showInFileManager());
}

void TileGridView::openSelection() {
    perform(controller_.open());
}

void TileGridView::deleteCurrentSelection() {
    controller_.deleteSelection();
}

std::optional<size_t> TileGridView::cursorIndex() const {
    return controller_.cursorIndex(computeLayout());
}

void TileGridView::activate(const QuickString& path) {
    TileGridLayout layout = computeLayout();
    if (auto i = layout.indexOf(path)) perform(controller_.activate(layout, *i));
}

// ---- Tooltips ----

void TileGridView::showToolTip(const QPoint& viewportPos, const QPoint& globalPos) {
    TileGridLayout layout = computeLayout();
    if (std::optional<size_t> i = indexAt(layout, viewportPos))
        toolTip_.show(window_->context().db->tree(), layout.paths[*i], viewportRect(layout.cell(*i)), globalPos);
    else
        toolTip_.hide();
}

// ---- Add Tag ----

AddTagPrompt* TileGridView::promptToAddTag() {
    return prompts_.promptToAddTag(controller_.selectedShownPaths());
}

// ---- Context menu ----

void TileGridView::contextMenuEvent(QContextMenuEvent* event) {
    if (event->reason() != QContextMenuEvent::Mouse)
        showContextMenuForCursor();
    else
        TileContextMenu::popUp(makeContextMenu(event->pos()), event->globalPos());
}

QMenu* TileGridView::showContextMenuForCursor() {
    // Some platforms send both the key and a context-menu event for it.
    if (keyboardMenu_ && keyboardMenu_->isVisible()) return keyboardMenu_;
    auto i = cursorIndex();
    if (!i) return nullptr;
    scrollCellIntoView(*i);
    TileCell c = computeLayout().cell(*i);
    QPoint at(int(c.x + c.side / 2), int(c.y + c.side / 2) - verticalScrollBar()->value());
    keyboardMenu_ = TileContextMenu::popUp(makeContextMenu(at), viewport()->mapToGlobal(at));
    return keyboardMenu_;
}

QMenu* TileGridView::makeContextMenu(QPoint viewportPos) {
    TileGridLayout layout = computeLayout();
    std::optional<size_t> i = indexAt(layout, viewportPos);
    if (!i) return nullptr;
    std::vector<QuickString> selection;
    std::vector<TileMenuEntry> entries = controller_.menu(layout, *i, &selection);
    return TileContextMenu::make(entries, this, [this, selection](const TileMenuEntry& e) {
        perform(controller_.runMenuAction(e, selection));
    });
}

// ---- Drag and drop ----

std::vector<QuickString> TileGridView::draggedPaths() const {
    return controller_.draggedPaths(computeLayout());
}

bool TileGridView::canDrop(const QMimeData* data) const {
    return dragDrop_.canDrop(data);
}

bool TileGridView::performDrop(const DropInfo& drop, DropOperation* performed) {
    return dragDrop_.performDrop(drop, performed);
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
