#include "app/RootView.h"

#include <algorithm>
#include <cmath>
#include <type_traits>

#include <QAbstractButton>
#include <QApplication>
#include <QEvent>
#include <QResizeEvent>
#include <QSplitter>
#include <QTimer>
#include <QVBoxLayout>

#include "app/AppDelegate.h"
#include "app/AppWindow.h"
#include "app/LoadingMessageView.h"
#include "app/PaneStateArchive.h"
#include "app/ToastView.h"
#include "commands/BrowserState.h"
#include "commands/CommandStack.h"
#include "library/DB.h"
#include "map/MapView.h"
#include "sidebar/SidebarContainer.h"
#include "sidebar/SidebarSearchField.h"
#include "tilegrid/TileGridView.h"

namespace qm {

namespace {

// The three panes are made here and only here.
SidebarPane* makeSidebar(const std::shared_ptr<BrowserState>& window, AppDelegate&, QWidget* parent) {
    return new SidebarContainer(window, parent);
}

TileGridPane* makeTileGrid(const std::shared_ptr<BrowserState>& window, AppDelegate& delegate, QWidget* parent) {
    return new TileGridView(window, delegate.thumbnails(), parent);
}

MapPane* makeMapPane(const std::shared_ptr<BrowserState>& window, AppDelegate&, QWidget* parent) {
    return new MapView(window, parent);
}

bool isMapNode(const DB& db, const NodePath& node) {
    return node.size() == 1 && node[0] == db.tree().mapNode()->name;
}

}  // namespace

RootView::RootView(AppWindow& window, QWidget* parent)
    : QWidget(parent), window_(window), state_(window.state()), db_(window.state()->context().db) {
    setObjectName("rootView");
    AppDelegate& delegate = window.appDelegate();

    loadingMessageView_ = new LoadingMessageView();
    sidebarView_ = makeSidebar(state_, delegate, nullptr);
    tileGridView_ = makeTileGrid(state_, delegate, nullptr);
    mapView_ = makeMapPane(state_, delegate, nullptr);

    splitView_ = new QSplitter(Qt::Horizontal, this);
    splitView_->setObjectName("splitView");
    splitView_->setChildrenCollapsible(false);
    sidebarContainer_ = new QWidget();
    sidebarContainer_->setObjectName("sidebarContainer");
    auto* sidebarLayout = new QVBoxLayout(sidebarContainer_);
    sidebarLayout->setContentsMargins(0, 0, 0, 0);
    sidebarLayout->addWidget(sidebarView_);
    splitView_->addWidget(sidebarContainer_);
    splitView_->addWidget(loadingMessageView_);
    // Resizing the window keeps the sidebar's width and gives the rest to the content.
    splitView_->setStretchFactor(0, 0);
    splitView_->setStretchFactor(1, 1);
    splitView_->setSizes({sidebarWidth_, 1024 - sidebarWidth_});
    // Remember a dragged divider, so a window that is not on screen archives it too.
    connect(splitView_, &QSplitter::splitterMoved, this, [this] {
        if (isSidebarVisible() && sidebarContainer_->width() > 0) sidebarWidth_ = sidebarContainer_->width();
        Q_EMIT sidebarLayoutChanged();
    });

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(splitView_);

    // The grid lies above the map; the map starts hidden.
    mapView_->setParent(loadingMessageView_);
    tileGridView_->setParent(loadingMessageView_);
    mapView_->hide();
    loadingMessageView_->installEventFilter(this);

    toastView_ = new ToastView(this);

    subscriptions_.push_back(state_->commandStack()->commandDidRun.subscribe(
        [this](const std::string& text) { toastView_->show(QString::fromStdString(text)); }));
    subscriptions_.push_back(db_->loadingStateChanged.subscribe([this] { applyLoadingState(); }));
    subscriptions_.push_back(state_->currentNodeChanged.subscribe([this] { updateContentMode(true); }));
    subscriptions_.push_back(state_->mapResultsChanged.subscribe([this] { updateContentMode(false); }));

    // Upward requests of the panes.
    // Tab and Shift+Tab go from pane to pane: the search field (Ctrl+F) and
    // the map's buttons are left out of the loop.
    sidebarView_->searchField()->setProperty(AppWindow::skipInKeyViewLoopProperty, true);
    for (QAbstractButton* button : mapView_->findChildren<QAbstractButton*>())
        button->setProperty(AppWindow::skipInKeyViewLoopProperty, true);

    connect(tileGridView_, &TileGridView::revealRequested, this, &RootView::revealRequested);
    connect(tileGridView_, &TileGridView::revealMapRequested, this, &RootView::revealLocationRequested);
    connect(tileGridView_, &TileGridView::removeCircleRequested, mapView_, &MapView::clearPlacedCircle);

    // The first crawl of a large home takes a while: the message counts along.
    progressTimer_ = new QTimer(this);
    progressTimer_->setInterval(250);
    connect(progressTimer_, &QTimer::timeout, this, [this] {
        loadingMessageView_->setProgress(window_.appDelegate().crawlProgress());
    });

    applyLoadingState();
    updateContentMode(true);
}

RootView::~RootView() = default;

void RootView::applyLoadingState() {
    const LoadingState state = db_->loadingState();
    loadingMessageView_->setLoadingState(state);
    const bool loaded = state == LoadingState::loaded;
    sidebarView_->setVisible(loaded);
    tileGridView_->setVisible(loaded && tileGridConstraints_ != TileGridConstraints::hidden);
    // The map is drawn only on the map node; elsewhere the grid would cover it anyway.
    mapView_->setVisible(loaded && isMapNode(*db_, state_->currentNode()));
    if (state == LoadingState::loading) {
        loadingMessageView_->setProgress(window_.appDelegate().crawlProgress());
        progressTimer_->start();
    } else {
        progressTimer_->stop();
    }
    layoutContent();
    // The panes were hidden while it loaded: the keys go to the grid now,
    // unless the person already chose another place for them.
    if (loaded) {
        QWidget* focused = window_.focusWidget();
        if (!focused || focused == &window_ || !isAncestorOf(focused) || focused->isHidden())
            window_.focusPane(defaultFocusPane());
    }
}

void RootView::updateContentMode(bool nodeChanged) {
    const bool onMap = isMapNode(*db_, state_->currentNode());
    const bool loaded = db_->loadingState() == LoadingState::loaded;
    if (nodeChanged) mapView_->setVisible(loaded && onMap);
    const TileGridConstraints mode = contentModeFor(onMap, state_->mapResults().has_value());
    if (mode == tileGridConstraints_) return;
    tileGridConstraints_ = mode;
    tileGridView_->setVisible(loaded && mode != TileGridConstraints::hidden);
    layoutContent();
}

void RootView::layoutContent() {
    const QRect area = loadingMessageView_->rect();
    mapView_->setGeometry(area);
    if (tileGridConstraints_ != TileGridConstraints::hidden)
        tileGridView_->setGeometry(tileGridFrame(tileGridConstraints_, area));
    tileGridView_->raise();
}

bool RootView::eventFilter(QObject* watched, QEvent* event) {
    if (watched == loadingMessageView_ && event->type() == QEvent::Resize) layoutContent();
    return QWidget::eventFilter(watched, event);
}

void RootView::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    toastView_->place();
}

bool RootView::isSidebarVisible() const {
    return !sidebarContainer_->isHidden();
}

void RootView::setSidebarVisible(bool visible) {
    if (visible == isSidebarVisible()) return;
    if (!visible) {
        // Only a laid-out sidebar has a width of its own; before that it is the one set.
        if (splitView_->isVisible() && sidebarContainer_->width() > 0) sidebarWidth_ = sidebarContainer_->width();
        // The keyboard goes on to the files rather than wherever the focus
        // chain happens to lead.
        const bool hadKeyboard = sidebarContainer_->isAncestorOf(QApplication::focusWidget());
        sidebarContainer_->hide();
        if (hadKeyboard) tileGridView_->setFocus(Qt::OtherFocusReason);
        splitView_->refresh();  // lay out now rather than at the next event loop turn
    } else {
        sidebarContainer_->show();
        const int total = splitView_->width();
        splitView_->setSizes({sidebarWidth_, std::max(0, total - sidebarWidth_)});
    }
    Q_EMIT sidebarLayoutChanged();
}

void RootView::performFindPanelAction() {
    if (!isSidebarVisible()) setSidebarVisible(true);
    sidebarView_->focusSearchField();
}

HistoryScrollState RootView::captureScrollState() const {
    return {sidebarView_->scrollState(), mapView_->scrollState(), tileGridView_->scrollState()};
}

void RootView::restoreScrollState(const HistoryScrollState& state) {
    if (state.sidebar.has_value()) sidebarView_->setScrollState(state.sidebar);
    if (state.map.has_value()) mapView_->setScrollState(state.map);
    tileGridView_->setScrollState(state.tileGrid);
}

AppWindowState::RootViewScrollState RootView::archivedScrollState() const {
    return paneStateArchive::archived(captureScrollState());
}

void RootView::restoreArchivedScrollState(const AppWindowState::RootViewScrollState& state) {
    restoreScrollState(paneStateArchive::restored(state));
}

std::optional<AppWindowState::Circle> RootView::archivedPlacedCircle() const {
    const auto& circle = mapView_->placedCircle();
    if (!circle) return std::nullopt;
    return AppWindowState::Circle{circle->centerLongitude, circle->centerLatitude, circle->radiusLongitude};
}

void RootView::restorePlacedCircle(const std::optional<AppWindowState::Circle>& circle) {
    // Whatever circle type the map pane has: both name their fields alike.
    using Circle = std::remove_cvref_t<decltype(*mapView_->placedCircle())>;
    if (!circle) {
        mapView_->setPlacedCircle(std::nullopt);
        return;
    }
    Circle placed;
    placed.centerLongitude = circle->x;
    placed.centerLatitude = circle->y;
    placed.radiusLongitude = circle->r;
    mapView_->setPlacedCircle(placed);
}

double RootView::sidebarThickness() const {
    if (isSidebarVisible() && splitView_->isVisible() && sidebarContainer_->width() > 0) return sidebarContainer_->width();
    return sidebarWidth_;
}

void RootView::setSidebarThickness(double thickness) {
    // The split view keeps the sidebar at least as wide as its contents need,
    // so an archive without a width (0) or with a tiny one cannot make it vanish.
    const int minimum = std::max(sidebarContainer_->minimumSizeHint().width(), 1);
    if (!std::isfinite(thickness) || thickness < minimum) thickness = thickness > 0 ? minimum : contentLayout::sidebarThickness;
    sidebarWidth_ = static_cast<int>(std::lround(std::min(thickness, 1e6)));
    if (isSidebarVisible()) {
        const int total = std::max(splitView_->width(), sidebarWidth_ + 1);
        splitView_->setSizes({sidebarWidth_, total - sidebarWidth_});
    }
}

QWidget* RootView::defaultFocusPane() const {
    if (db_->loadingState() != LoadingState::loaded) return nullptr;
    if (!tileGridView_->isHidden()) return tileGridView_;
    if (!mapView_->isHidden()) return mapView_;
    return nullptr;
}

bool RootView::isTileGridViewFocused() const {
    QWidget* focused = window_.focusWidget();
    return focused && (focused == tileGridView_ || tileGridView_->isAncestorOf(focused));
}

void RootView::revealPaths(const NodePath& node, const QuickStringSet& paths) {
    tileGridView_->revealPaths(node, paths);
}

void RootView::revealLocation(double longitude, double latitude) {
    state_->setCurrentNode({db_->tree().mapNode()->name});
    mapView_->revealLocation(longitude, latitude);
}

}  // namespace qm
