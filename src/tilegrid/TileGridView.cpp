#include "tilegrid/TileGridView.h"

#include <QAccessible>
#include <QApplication>
#include <QContextMenuEvent>
#include <QDrag>
#include <QFile>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QMimeDatabase>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QScrollBar>
#include <QThreadPool>
#include <QToolTip>

#include <algorithm>
#include <cmath>

#include "commands/BrowserState.h"
#include "commands/CommandStack.h"
#include "commands/DropInfo.h"
#include "commands/TagNameInput.h"
#include "core/MainQueue.h"
#include "desktop/DragThreshold.h"
#include "desktop/FileDragData.h"
#include "desktop/FileManagerReveal.h"
#include "desktop/MimeIcon.h"
#include "desktop/RefusalBox.h"
#include "desktop/ThumbnailService.h"
#include "library/DB.h"
#include "library/SettingsSchema.h"
#include "tilegrid/AddTagAction.h"
#include "tilegrid/AddTagPrompt.h"
#include "tilegrid/DesktopActions.h"
#include "tilegrid/MovieTime.h"
#include "tilegrid/PlaceNames.h"
#include "tilegrid/TileGridAccessible.h"
#include "tilegrid/TileGridScrollState.h"
#include "tilegrid/TileToolTip.h"

namespace qm {

namespace {

// How long a tooltip waits for its file's size and date before it shows
// without them.
constexpr std::chrono::milliseconds kToolTipPatience{150};

std::vector<std::string> toStrings(const std::vector<QuickString>& paths) {
    std::vector<std::string> out;
    out.reserve(paths.size());
    for (const QuickString& p : paths) out.emplace_back(p.utf8());
    return out;
}

TileGridController::Modifiers modifiersOf(Qt::KeyboardModifiers m) {
    return {bool(m & Qt::ShiftModifier), bool(m & Qt::ControlModifier)};
}

// Reads the files' sizes and dates for tooltips: a thread or two, so that a
// hung mount stops only the tooltips of its own files.
QThreadPool& toolTipPool() {
    static QThreadPool* pool = [] {
        auto* p = new QThreadPool;  // never destroyed: a read may still hang at exit
        p->setMaxThreadCount(2);
        p->setExpiryTimeout(5000);
        return p;
    }();
    return *pool;
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
      controller_(window_) {
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

    ThumbnailRequester requester;
    if (thumbnails_) {
        requester = [service = thumbnails_](const std::string& path, ThumbnailCallback done) {
            return service->request(path, QSize(ThumbnailService::kMaxSize, ThumbnailService::kMaxSize),
                                    std::move(done));
        };
    }
    setThumbnailRequester(std::move(requester));
    staleTimer_.setInterval(1000);
    connect(&staleTimer_, &QTimer::timeout, this, [this] {
        scheduler_->expireStale();
        if (scheduler_->inFlight() == 0) staleTimer_.stop();
    });
    static const bool accessibleInstalled = [] {
        QAccessible::installFactory(&TileGridAccessible::factory);
        return true;
    }();
    (void)accessibleInstalled;

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
    if (!backend.icon)
        backend.icon = [](const std::string& path) {
            // By name only: the file is what did not answer.
            QMimeType type = QMimeDatabase().mimeTypeForFile(QFile::decodeName(QByteArray::fromStdString(path)),
                                                             QMimeDatabase::MatchExtension);
            return MimeIcon::forType(type.name());
        };
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

    const TileRowRange range = layout.rowsFor(verticalScrollBar()->value(), h);
    const size_t capacity = layout.tileCapacity(h);
    scheduler_->beginPass();
    for (long row : TileGridLayout::rowOrder(range)) {
        size_t begin = size_t(row) * size_t(layout.columns);
        size_t end = std::min(begin + size_t(layout.columns), layout.count());
        for (size_t i = begin; i < end; ++i) scheduler_->place(layout.paths[i], i, capacity);
    }
    scheduler_->endPass();
    if (scheduler_->inFlight() > 0 && !staleTimer_.isActive()) staleTimer_.start();
    inUpdate_ = false;
    viewport()->update();
    if (controller_.hasPendingReveal()) perform(controller_.pendingReveal(layout));
}

void TileGridView::repaintTile(TileId id) {
    const Tile& t = scheduler_->pool().tile(id);
    TileCell c = placedCell(t.index);
    viewport()->update(QRectF(c.x, c.y - verticalScrollBar()->value(), c.side, c.height()).toAlignedRect());
}

bool TileGridView::tileShowsContents(const QuickString& path) const {
    auto id = scheduler_->find(path);
    return id && scheduler_->pool().tile(*id).hasContents;
}

std::optional<double> TileGridView::tileDuration(const QuickString& path) const {
    auto id = scheduler_->find(path);
    if (!id) return std::nullopt;
    return scheduler_->pool().tile(*id).duration;
}

QImage TileGridView::tileImage(const QuickString& path) const {
    auto id = scheduler_->find(path);
    return id ? scheduler_->image(*id) : QImage();
}

TileCell TileGridView::placedCell(size_t index) const {
    size_t c = size_t(columns_);
    return TileCell{tileSize_ * double(index % c), (tileSize_ + captionHeight_) * double(index / c), tileSize_,
                    captionHeight_};
}

// ---- Scroll state and reveal ----

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
    scrollTo(layout.rowTop(layout.rowOf(*i)) + s->scrollOffset);
}

void TileGridView::scrollTo(double y) {
    verticalScrollBar()->setValue(int(std::lround(y)));
}

void TileGridView::scrollCellIntoView(size_t index) {
    TileCell c = computeLayout().cell(index);
    double top = verticalScrollBar()->value(), h = viewport()->height();
    if (c.y < top) scrollTo(c.y);
    else if (c.bottom() > top + h) scrollTo(c.bottom() - h);
}

void TileGridView::centerIndices(const std::vector<size_t>& indices) {
    TileGridLayout layout = computeLayout();
    std::optional<QRectF> rect;
    for (size_t i : indices) {
        TileCell c = layout.cell(i);
        QRectF r(c.x, c.y, c.side, c.side);
        rect = rect ? rect->united(r) : r;
    }
    if (!rect) return;
    updateTiles();  // the scroll range must cover the files
    double visible = viewport()->height();
    double used = std::min(rect->height(), visible);
    scrollTo(std::trunc(rect->top() - (visible - used) / 2));
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
        case K::open: openFilesWithDefaultApplication(toStrings(e.paths)); break;
        case K::confirmOpen: confirmOpen(e.paths); break;
        case K::showInFileManager: FileManagerReveal::showItems(toStrings(e.paths)); break;
        case K::reveal: Q_EMIT revealRequested(e.node, e.files, mods); break;
        case K::revealMap:
            if (e.gps) Q_EMIT revealMapRequested(e.gps->longitude, e.gps->latitude, mods);
            break;
        case K::removeCircle: Q_EMIT removeCircleRequested(); break;
        case K::promptAddTag: promptToAddTag(); break;
        }
    }
}

void TileGridView::confirmOpen(const std::vector<QuickString>& paths) {
    if (openConfirmation_) openConfirmation_->reject();
    auto* box = new QMessageBox(QMessageBox::Question, QString(), tr("Open %n files?", nullptr, int(paths.size())),
                                QMessageBox::Cancel, this);
    box->setObjectName(QStringLiteral("tileGridOpenConfirmation"));
    box->setInformativeText(tr("Each file opens in an application window of its own."));
    QPushButton* openButton = box->addButton(tr("Open"), QMessageBox::AcceptRole);
    box->setDefaultButton(QMessageBox::Cancel);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::WindowModal);
    connect(box, &QMessageBox::buttonClicked, this, [openButton, files = toStrings(paths)](QAbstractButton* b) {
        if (b == openButton) openFilesWithDefaultApplication(files);
    });
    connect(box, &QDialog::finished, this, &TileGridView::takeBackKeyboard);
    openConfirmation_ = box;
    box->open();
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

TilePainter::Style TileGridView::paintStyle() const {
    bool focused = drawsAsFocused_ ? *drawsAsFocused_ : hasFocus();
    TilePainter::Style style;
    style.selection = focused ? accentColor(0.7f) : QColor::fromRgbF(0.45f, 0.45f, 0.45f, 0.8f);
    style.placeholder = palette().color(QPalette::AlternateBase);
    style.font = font();
    style.scale = devicePixelRatioF();
    style.captionHeight = captionHeight_;
    if (captionHeight_ > 0) {
        style.caption = TileCaption::colors(palette(), std::nullopt);
        style.selectedCaption = TileCaption::colors(palette(), style.selection);
    }
    return style;
}

QPointF TileGridView::documentPoint(QPointF viewportPoint) const {
    return viewportPoint + QPointF(0, verticalScrollBar()->value());
}

void TileGridView::paintEvent(QPaintEvent* event) {
    QPainter painter(viewport());
    painter.fillRect(event->rect(), palette().color(QPalette::Base));
    painter.setRenderHint(QPainter::Antialiasing);
    const double top = verticalScrollBar()->value();
    const TilePainter::Style style = paintStyle();
    const bool checkBoxes = controller_.isUsingCheckBoxes();
    const QRectF dirty = QRectF(event->rect());
    // Hover affordances go to the tile under the mouse.
    std::optional<size_t> hovered;
    if (lastMousePos_ && !isDragging_) {
        QPointF p = documentPoint(*lastMousePos_);
        hovered = computeLayout().indexAt(p.x(), p.y());
    }
    for (TileId id : scheduler_->placed()) {
        const Tile& t = scheduler_->pool().tile(id);
        TileCell c = placedCell(t.index);
        // Whole device pixels, so that neighbours touch without seams.
        QRectF rect(QPointF(std::round(c.x), std::round(c.y - top)),
                    QPointF(std::round(c.right()), std::round(c.y + c.side - top)));
        if (!rect.adjusted(0, 0, 0, c.captionHeight).intersects(dirty)) continue;
        TileLook look;
        if (t.hasContents) look.image = &scheduler_->image(id);
        look.selected = controller_.isSelected(t.path);
        look.checkMark = checkBoxes;
        look.starred = controller_.isStarred(t.path);
        look.duration = t.duration;
        look.hasGPano = t.hasGPano;
        if (captionHeight_ > 0) look.caption = TileCaption::displayName(t.path.utf8());
        if (hovered == t.index) {
            look.emptyCheck = !(checkBoxes && look.selected);
            look.emptyStar = !checkBoxes && !look.starred;
        }
        painter_.paint(painter, rect, look, style, id, scheduler_->version(id));
    }
    if (isDropTarget_) {
        painter.setPen(QPen(accentColor(1), 4));
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
    TileZone zone = TileZone::body;
    if (i) {
        TileCell c = layout.cell(*i);
        zone = tileZoneAt(p.x() - c.x, p.y() - c.y, c.side);
    }
    controller_.press(layout, i, zone, modifiersOf(event->modifiers()));
    updateTiles();
}

void TileGridView::mouseDoubleClickEvent(QMouseEvent* event) {
    // Opening a file with a double click is what desktop users expect; the
    // corner zones keep acting as single clicks.
    TileGridLayout layout = computeLayout();
    QPointF p = documentPoint(event->position());
    std::optional<size_t> i = layout.indexAt(p.x(), p.y());
    if (event->button() == Qt::LeftButton && i && !controller_.isUsingCheckBoxes()) {
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
    controller_.dragMoved();
    if (isDragging_) return;
    if (!DragThreshold::reached(dragStart_, documentPoint(event->position()))) return;
    isDragging_ = true;
    startDrag();
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

QString TileGridView::accessibleDescription(const QuickString& path) const {
    QStringList parts;
    if (controller_.isStarred(path)) parts << tr("starred");
    if (const TileContents* contents = tileContentsCache().peek(path)) {
        if (contents->metadata.duration)
            parts << QString::fromStdString(formatMovieTime(*contents->metadata.duration));
        if (contents->metadata.gpano) parts << tr("panorama");
    }
    return parts.join(QStringLiteral(", "));
}

void TileGridView::activate(const QuickString& path) {
    TileGridLayout layout = computeLayout();
    if (auto i = layout.indexOf(path)) perform(controller_.activate(layout, *i));
}

// ---- Tooltips ----

struct TileGridView::ToolTipRequest {
    TileFacts facts;
    QPoint globalPos;
    QRect area;  // the tile, in viewport coordinates: leaving it hides the tooltip
    bool didShow = false;
};

void TileGridView::showToolTip(const QPoint& viewportPos, const QPoint& globalPos) {
    TileGridLayout layout = computeLayout();
    QPointF p = documentPoint(viewportPos);
    std::optional<size_t> i = layout.indexAt(p.x(), p.y());
    if (!i) {
        toolTip_.reset();
        QToolTip::hideText();
        return;
    }
    const QuickString& path = layout.paths[*i];
    TileCell c = layout.cell(*i);
    const QRect area = QRectF(c.x, c.y - verticalScrollBar()->value(), c.side, c.height()).toAlignedRect();
    if (toolTip_ && toolTip_->facts.path == path.utf8() && toolTip_->didShow) {
        // The pointer rests again on the same tile: what was read stands.
        toolTip_->globalPos = globalPos;
        toolTip_->area = area;
        showToolTip(toolTip_);
        return;
    }

    auto request = std::make_shared<ToolTipRequest>();
    request->facts = TileToolTip::known(window_->context().db->tree(), path, tileContentsCache().peek(path));
    request->globalPos = globalPos;
    request->area = area;
    toolTip_ = request;
    // Only the view holds the request, so a live request means a live view.
    std::weak_ptr<ToolTipRequest> weak = request;
    if (request->facts.gps) {
        PlaceNames& names = PlaceNames::shared();
        if (auto name = names.cached(*request->facts.gps)) {
            request->facts.placeName = *name;
        } else {
            names.lookup(*request->facts.gps, [this, weak](const std::string& name) {
                auto r = weak.lock();
                if (!r) return;
                r->facts.placeName = name;
                if (r->didShow) showToolTip(r);
            });
        }
    }
    // The size and date come from the file system, off this thread; what is
    // known already is shown meanwhile if they take long.
    toolTipPool().start([this, file = request->facts.path, weak] {
        if (weak.expired()) return;  // another tile's tooltip by now
        TileFacts read;
        read.path = file;
        TileToolTip::readFile(read);
        mainQueue().post([this, weak, read = std::move(read)] {
            auto r = weak.lock();
            if (!r) return;
            r->facts.didReadFile = read.didReadFile;
            r->facts.isDirectory = read.isDirectory;
            r->facts.size = read.size;
            r->facts.modified = read.modified;
            showToolTip(r);
        });
    });
    QTimer::singleShot(kToolTipPatience, this, [this, weak] {
        auto r = weak.lock();
        if (r && !r->didShow) showToolTip(r);
    });
}

void TileGridView::showToolTip(const std::shared_ptr<ToolTipRequest>& request) {
    if (request != toolTip_) return;
    request->didShow = true;
    QToolTip::showText(request->globalPos, TileToolTip::text(request->facts), viewport(), request->area);
}

// ---- Add Tag ----

AddTagPrompt* TileGridView::promptToAddTag() {
    std::vector<QuickString> selection = controller_.selectedShownPaths();
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
    QMessageBox* box = RefusalBox::open(this, message, QStringLiteral("tileGridTagRefusal"));
    connect(box, &QDialog::finished, this, &TileGridView::takeBackKeyboard);
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
    TileCell c = computeLayout().cell(*i);
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
    std::vector<QuickString> selection;
    std::vector<TileMenuEntry> entries = controller_.menu(layout, *i, &selection);
    if (entries.empty()) return nullptr;
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
            connect(action, &QAction::triggered, this,
                    [this, e, selection] { perform(controller_.runMenuAction(e, selection)); });
            break;
        }
        }
    }
    return menu;
}

// ---- Drag and drop ----

std::vector<QuickString> TileGridView::draggedPaths() const {
    return controller_.draggedPaths(computeLayout());
}

void TileGridView::startDrag() {
    std::vector<QuickString> paths = draggedPaths();
    if (paths.empty()) return;
    auto* drag = new QDrag(this);
    drag->setMimeData(FileDragData::forPaths(paths));
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
    if (!data || !FileDragData::hasFiles(*data)) return false;
    return controller_.acceptsDrop(FileDragData::dropInfo(*data).filePaths());
}

void TileGridView::setDropTarget(bool on) {
    if (on == isDropTarget_) return;
    isDropTarget_ = on;
    viewport()->update();
}

void TileGridView::dragEnterEvent(QDragEnterEvent* event) {
    // Planned once per drag: the files and the node stay the same while it
    // moves over the grid; only the modifiers change.
    dropPlan_ = controller_.planDrop(FileDragData::dropInfo(*event));
    dragMoveEvent(event);
}

void TileGridView::dragMoveEvent(QDragMoveEvent* event) {
    DropInfo actions;
    FileDragData::readActions(*event, actions);
    const std::optional<DropOperation> operation = dropPlan_.operation(actions);
    setDropTarget(operation.has_value());
    if (operation) {
        event->setDropAction(*operation == DropOperation::move ? Qt::MoveAction : Qt::CopyAction);
        event->accept();
    } else {
        event->ignore();
    }
}

void TileGridView::dragLeaveEvent(QDragLeaveEvent*) {
    setDropTarget(false);
}

void TileGridView::dropEvent(QDropEvent* event) {
    DropOperation performed = DropOperation::copy;
    if (performDrop(FileDragData::dropInfo(*event), &performed))
        FileDragData::reportPerformed(*event, performed);
    else
        event->ignore();
}

bool TileGridView::performDrop(const DropInfo& drop, DropOperation* performed) {
    setDropTarget(false);
    dropPlan_ = {};
    return controller_.drop(drop, performed);
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
