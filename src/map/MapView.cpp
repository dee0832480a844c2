#include "map/MapView.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>

#include "commands/BrowserState.h"
#include "geo/AsyncMultiGrid.h"
#include "geo/MultiGrid.h"
#include "library/DB.h"
#include "library/SettingsSchema.h"
#include "library/TreeNames.h"
#include "map/MapButton.h"
#include "map/MapCanvas.h"
#include "map/KeyboardCircle.h"
#include "map/MapIcons.h"
#include "map/MapResultsUpdater.h"
#include "map/OverlayView.h"
#include "map/ResultsView.h"
#include "map/TileLoader.h"

namespace qm {

namespace {

// The keyboard focus ring around the map, over everything and never in the
// way of the pointer: the map draws no focus of its own.
class FocusRing : public QWidget {
public:
    explicit FocusRing(QWidget* parent) : QWidget(parent) {
        setAttribute(Qt::WA_TransparentForMouseEvents);
        setFocusPolicy(Qt::NoFocus);
        hide();
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        // A dark line under the highlight colour: the ring shows on light and
        // dark tiles alike, not by its colour alone.
        QRectF r = QRectF(rect()).adjusted(2, 2, -2, -2);
        p.setPen(QPen(QColor(0, 0, 0, 140), 4));
        p.drawRoundedRect(r, 4, 4);
        p.setPen(QPen(palette().color(QPalette::Active, QPalette::Highlight), 2));
        p.drawRoundedRect(r, 4, 4);
    }
};

// The rounded background of the side buttons, with its shadow: two groups
// of two buttons, 10 points apart.
class SideButtonBackground : public QWidget {
public:
    using QWidget::QWidget;

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        QColor fill = palette().color(QPalette::Window);
        fill.setAlphaF(0.92f);
        const int s = MapView::buttonSize;
        for (QRectF r : {QRectF(0, 0, s, 2 * s), QRectF(0, 2 * s + MapView::buttonGroupGap, s, 2 * s)}) {
            QPainterPath shadow;
            shadow.addRoundedRect(r.translated(0, 1), 8, 8);
            p.fillPath(shadow, QColor(0, 0, 0, 64));
            QPainterPath path;
            path.addRoundedRect(r, 8, 8);
            p.fillPath(path, fill);
        }
    }
};

}  // namespace

MapView::MapView(std::shared_ptr<BrowserState> window, QWidget* parent)
    : QWidget(parent), window_(std::move(window)), asyncGrid_(window_->context().db->asyncGrid()) {
    // Reachable with Tab and by clicking, for + and − and the place key.
    setFocusPolicy(Qt::StrongFocus);
    setAccessibleName(tr("Map"));
    setAccessibleDescription(
        tr("C places a search circle at the centre, ] and [ grow and shrink it, Shift with the arrow keys moves it, "
           "Delete removes it; + and - zoom"));
    canvas_ = new MapCanvas(this);
    overlay_ = new OverlayView(this);
    overlay_->setAccessibleName(tr("Map"));

    sideButtonView_ = new SideButtonBackground(this);
    using RC = MapButton::RoundedCorners;
    panButton_ = new MapButton(QString(), tr("Drag Map"), RC::top, this, sideButtonView_);
    placeButton_ = new MapButton(QString(), tr("Draw Circle (Ctrl+Click)"), RC::bottom, this, sideButtonView_);
    zoomInButton_ = new MapButton(QStringLiteral("+"), tr("Zoom In"), RC::top, this, sideButtonView_);
    zoomOutButton_ = new MapButton(QStringLiteral("\u2212"), tr("Zoom Out"), RC::bottom, this, sideButtonView_);
    panButton_->setCheckable(true);
    placeButton_->setCheckable(true);
    panButton_->setChecked(true);
    connect(panButton_, &QAbstractButton::clicked, this, &MapView::usePanTool);
    connect(placeButton_, &QAbstractButton::clicked, this, &MapView::usePlaceTool);
    // The zoom buttons act on mouse down.
    connect(zoomInButton_, &QAbstractButton::pressed, this, &MapView::zoomIn);
    connect(zoomOutButton_, &QAbstractButton::pressed, this, &MapView::zoomOut);
    updateButtonImages();

    attribution_ = new QLabel(QStringLiteral("\u00A9 OpenStreetMap contributors"), this);
    attribution_->setAutoFillBackground(true);
    attribution_->setContentsMargins(4, 1, 4, 1);
    QFont small = attribution_->font();
    small.setPointSizeF(small.pointSizeF() * 0.8);
    attribution_->setFont(small);

    resultsView_ = new ResultsView(this);
    resultsView_->hide();
    focusRing_ = new FocusRing(this);
    connect(resultsView_, &ResultsView::closeRequested, this, [this] {
        // The next update is the user's; without a circle nothing changes.
        setNextMapResultsUpdateIsDueToUser();
        setPlacedCircle(std::nullopt);
    });

    connect(canvas_, &MapCanvas::regionChanged, this, [this] {
        overlay_->redraw();
        invalidateRestorableState();
    });

    std::weak_ptr<AsyncMultiGrid> grid = asyncGrid_;
    MapResultsUpdater::Hooks hooks;
    hooks.circle = [this] { return placedCircle_; };
    hooks.grid = [grid]() -> std::shared_ptr<const MultiGrid> {
        auto g = grid.lock();
        return g ? g->latestGrid() : nullptr;
    };
    hooks.apply = [this](std::optional<std::vector<QuickString>> results, bool dueToUser) {
        applyResults(std::move(results), dueToUser);
    };
    updater_ = MapResultsUpdater::create(std::move(hooks));

    subscriptions_.push_back(window_->currentNodeChanged.subscribe([this] {
        if (isMapNodeCurrent()) overlay_->redraw();
    }));
    subscriptions_.push_back(window_->mapResultsChanged.subscribe([this] { updateResultsView(); }));
    subscriptions_.push_back(window_->context().db->gridChanged.subscribe([this] {
        if (isMapNodeCurrent()) overlay_->redraw();
        requestMapResultsUpdate(false);
    }));

    canvas_->setTileLoader(TileLoader::shared());
    // Every pane follows the program's tile preferences as they change.
    connect(canvas_->tileLoader(), &TileLoader::sourceChanged, this,
            [this] { attribution_->setVisible(canvas_->tileLoader()->isEnabled()); });
    applyTilePreferences();
    updateResultsView();
    qApp->installEventFilter(this);
}

MapView::~MapView() {
    // Answers still on their way find no updater and are dropped.
    updater_.reset();
}

std::shared_ptr<const MultiGrid> MapView::latestGrid() const {
    return asyncGrid_ ? asyncGrid_->latestGrid() : nullptr;
}

bool MapView::isMapNodeCurrent() const {
    return window_->currentNode().size() == 1 && window_->currentNode()[0] == mapSectionName();
}

void MapView::invalidateRestorableState() {
    if (window_->invalidateRestorableState) window_->invalidateRestorableState();
}

// ---- Circle and results ----

void MapView::setPlacedCircle(const std::optional<MapCircle>& circle) {
    if (circle == placedCircle_) return;
    placedCircle_ = circle;
    overlay_->redraw();
    overlay_->updateCursor();
    requestMapResultsUpdate(false);
    invalidateRestorableState();
}

void MapView::clearPlacedCircle() {
    setPlacedCircle(std::nullopt);
}

void MapView::setNextMapResultsUpdateIsDueToUser() {
    updater_->setNextUpdateIsDueToUser();
}

void MapView::requestMapResultsUpdate(bool dueToUser) {
    updater_->request(dueToUser);
}

void MapView::revealLocation(double longitude, double latitude) {
    setNextMapResultsUpdateIsDueToUser();
    setPlacedCircle(MapCircle{longitude, latitude, 0.001});
    canvas_->setRegion(CoordinateRegion{{longitude, latitude}, 0.01, 0.01}, true);
}

void MapView::applyResults(std::optional<std::vector<QuickString>> results, bool dueToUser) {
    BrowserState& w = *window_;
    const bool onMap = isMapNodeCurrent();
    if (!results) {
        w.setMapResults(std::nullopt);
        if (onMap && dueToUser) w.setCurrentSelection({});
        return;
    }
    QuickStringSet inside;
    if (onMap && dueToUser) inside.insert(results->begin(), results->end());
    w.setMapResults(std::move(results));
    if (onMap && dueToUser) {
        QuickStringSet kept;
        for (const QuickString& p : w.currentSelection())
            if (inside.contains(p)) kept.insert(p);
        w.setCurrentSelection(kept);
    }
}

void MapView::updateResultsView() {
    const auto& results = window_->mapResults();
    resultsView_->setCount(results ? std::optional<size_t>(results->size()) : std::nullopt);
    resultsView_->setVisible(results.has_value());
}

// ---- Scroll state ----

std::any MapView::scrollState() const {
    return MapScrollState{canvas_->visibleMapRect()};
}

void MapView::setScrollState(const std::any& state) {
    if (const auto* s = std::any_cast<MapScrollState>(&state)) canvas_->setVisibleMapRect(s->rect);
}

// ---- Tools ----

Tool MapView::effectiveTool() const {
    if ((isOptionKeyPressed_ && !shouldIgnoreOptionKey_) || toolFromSideButton_ == Tool::placeCircle)
        return Tool::placeCircle;
    return Tool::panCamera;
}

void MapView::usePanTool() {
    toolFromSideButton_ = Tool::panCamera;
    updateSideButtonStates();
}

void MapView::usePlaceTool() {
    toolFromSideButton_ = Tool::placeCircle;
    updateSideButtonStates();
}

void MapView::updateSideButtonStates() {
    bool place = effectiveTool() == Tool::placeCircle;
    panButton_->setChecked(!place);
    placeButton_->setChecked(place);
    updateButtonImages();
    overlay_->redraw();
    overlay_->updateCursor();
}

void MapView::updateButtonImages() {
    const QColor text = palette().color(QPalette::ButtonText);
    const qreal dpr = devicePixelRatioF();
    panButton_->setImage(MapIcons::pan(panButton_->isChecked() ? MapIcons::onColor(text) : MapIcons::offColor(text), dpr));
    placeButton_->setImage(
        MapIcons::place(placeButton_->isChecked() ? MapIcons::onColor(text) : MapIcons::offColor(text), dpr));
}

void MapView::setShouldIgnoreOptionKey(bool ignore) {
    if (ignore == shouldIgnoreOptionKey_) return;
    shouldIgnoreOptionKey_ = ignore;
    overlay_->redraw();
    overlay_->updateCursor();
    updateSideButtonStates();
}

void MapView::setOptionKeyPressed(bool pressed) {
    if (!pressed && isOptionKeyPressed_ && shouldIgnoreOptionKey_) {
        shouldIgnoreOptionKey_ = false;
        overlay_->redraw();
        overlay_->updateCursor();
        updateSideButtonStates();
    }
    if (pressed == isOptionKeyPressed_) return;
    isOptionKeyPressed_ = pressed;
    overlay_->redraw();
    overlay_->updateCursor();
    updateSideButtonStates();
}

void MapView::zoomIn() {
    zoomInButton_->setChecked(false);
    canvas_->zoomIn();
}

void MapView::zoomOut() {
    zoomOutButton_->setChecked(false);
    canvas_->zoomOut();
}

// ---- Tiles ----

void MapView::applyTilePreferences() {
    if (window_->context().db) TileLoader::applyPreferences(window_->context().db->defaults());
    attribution_->setVisible(canvas_->tileLoader()->isEnabled());
}

// ---- Layout and events ----

void MapView::layoutChildren() {
    const QRect r = rect();
    canvas_->setGeometry(r);
    overlay_->setGeometry(r);
    const int centre = r.height() / 2;
    const int s = buttonSize;
    sideButtonView_->setGeometry(sideMargin, centre - 59, s, 4 * s + buttonGroupGap);
    panButton_->move(0, 0);
    placeButton_->move(0, s);
    zoomInButton_->move(0, 2 * s + buttonGroupGap);
    zoomOutButton_->move(0, 3 * s + buttonGroupGap);
    const int tipX = sideMargin + s + buttonGroupGap;
    panButton_->setTooltipPosition(QPoint(tipX, centre - 59 + s / 2));
    placeButton_->setTooltipPosition(QPoint(tipX, centre - 59 + s + s / 2));
    zoomInButton_->setTooltipPosition(QPoint(tipX, centre + 5 + s / 2));
    zoomOutButton_->setTooltipPosition(QPoint(tipX, centre + 32 + s / 2));
    const int inset = ResultsView::inset;
    resultsView_->setGeometry(r.width() - inset - ResultsView::panelWidth, inset, ResultsView::panelWidth,
                              std::max(ResultsView::titleRowHeight, r.height() - 2 * inset));
    attribution_->adjustSize();
    attribution_->move(r.width() - attribution_->width(), r.height() - attribution_->height());
    attribution_->raise();
    sideButtonView_->raise();
    resultsView_->raise();
    focusRing_->setGeometry(r);
    focusRing_->raise();
}

void MapView::focusInEvent(QFocusEvent* event) {
    QWidget::focusInEvent(event);
    focusRing_->show();
}

void MapView::focusOutEvent(QFocusEvent* event) {
    QWidget::focusOutEvent(event);
    focusRing_->hide();
}

void MapView::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    layoutChildren();
}

void MapView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    applyTilePreferences();
    layoutChildren();
}

void MapView::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::PaletteChange || event->type() == QEvent::StyleChange) updateButtonImages();
    if (event->type() == QEvent::ActivationChange && !isActiveWindow()) setOptionKeyPressed(false);
}

void MapView::keyPressEvent(QKeyEvent* event) {
    if (event->matches(QKeySequence::ZoomIn) || event->key() == Qt::Key_Plus || event->key() == Qt::Key_Equal) {
        zoomIn();
        return;
    }
    if (event->matches(QKeySequence::ZoomOut) || event->key() == Qt::Key_Minus) {
        zoomOut();
        return;
    }
    if (handleCircleKey(event)) return;
    QWidget::keyPressEvent(event);
}

bool MapView::handleCircleKey(QKeyEvent* event) {
    const Qt::KeyboardModifiers mods = event->modifiers() & ~Qt::KeypadModifier;
    std::optional<MapCircle> next;
    const MapCamera& camera = canvas_->camera();
    if (event->key() == Qt::Key_C && mods == Qt::NoModifier) {
        next = KeyboardCircle::placedAtCenter(camera);
    } else if (placedCircle_) {
        const MapCircle& c = *placedCircle_;
        switch (event->key()) {
        case Qt::Key_BracketRight: next = KeyboardCircle::grown(c); break;
        case Qt::Key_BracketLeft: next = KeyboardCircle::shrunk(c); break;
        case Qt::Key_Left:
        case Qt::Key_Right:
        case Qt::Key_Up:
        case Qt::Key_Down: {
            if (mods != Qt::ShiftModifier) return false;
            int dx = event->key() == Qt::Key_Left ? -1 : event->key() == Qt::Key_Right ? 1 : 0;
            int dy = event->key() == Qt::Key_Up ? -1 : event->key() == Qt::Key_Down ? 1 : 0;
            next = KeyboardCircle::moved(c, camera, dx, dy);
            break;
        }
        case Qt::Key_Delete:
        case Qt::Key_Backspace:
            setNextMapResultsUpdateIsDueToUser();
            setPlacedCircle(std::nullopt);
            return true;
        default: return false;
        }
    } else {
        return false;
    }
    // As after a drag with the mouse: the results follow and so does the selection.
    setNextMapResultsUpdateIsDueToUser();
    setPlacedCircle(next);
    return true;
}

bool MapView::eventFilter(QObject* watched, QEvent* event) {
    // The place key is followed wherever the keyboard focus is, while the map shows.
    if ((event->type() == QEvent::KeyPress || event->type() == QEvent::KeyRelease) && isVisible()) {
        auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Control && !key->isAutoRepeat())
            setOptionKeyPressed(event->type() == QEvent::KeyPress);
    }
    return QWidget::eventFilter(watched, event);
}

}  // namespace qm
