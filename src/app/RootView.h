#pragma once

#include <QWidget>

#include <memory>
#include <vector>

#include "app/ContentLayout.h"
#include "commands/AppWindowState.h"
#include "commands/HistoryEntry.h"
#include "core/Subscription.h"

class QSplitter;
class QTimer;

namespace qm {

class AppWindow;
class BrowserState;
class DB;
class LoadingMessageView;
class MapView;
class SidebarContainer;
class TileGridView;
class ToastView;

// The three panes of a window.
using SidebarPane = SidebarContainer;
using TileGridPane = TileGridView;
using MapPane = MapView;

// The content of a browser window: the collapsible sidebar beside the
// content area, in which the tile grid lies above the map (filling the area,
// as a results panel at the map's right, or hidden), the loading message
// behind them and the toast in front.
class RootView : public QWidget {
    Q_OBJECT
public:
    explicit RootView(AppWindow& window, QWidget* parent = nullptr);
    ~RootView() override;

    QSplitter* splitView() const { return splitView_; }
    QWidget* sidebarContainer() const { return sidebarContainer_; }
    SidebarPane* sidebarView() const { return sidebarView_; }
    TileGridPane* tileGridView() const { return tileGridView_; }
    MapPane* mapView() const { return mapView_; }
    LoadingMessageView* loadingMessageView() const { return loadingMessageView_; }
    ToastView* toastView() const { return toastView_; }
    TileGridConstraints tileGridConstraints() const { return tileGridConstraints_; }

    bool isSidebarVisible() const;
    void setSidebarVisible(bool visible);
    void toggleSidebar() { setSidebarVisible(!isSidebarVisible()); }
    // The Find command: keyboard focus to the sidebar's search field.
    void performFindPanelAction();

    HistoryScrollState captureScrollState() const;
    void restoreScrollState(const HistoryScrollState& state);

    // The parts of the window's archived state the panes and the split view hold.
    AppWindowState::RootViewScrollState archivedScrollState() const;
    // The sidebar from its part, the map's area when present, the grid from its part.
    void restoreArchivedScrollState(const AppWindowState::RootViewScrollState& state);
    std::optional<AppWindowState::Circle> archivedPlacedCircle() const;
    // None removes the circle.
    void restorePlacedCircle(const std::optional<AppWindowState::Circle>& circle);
    // The sidebar's width, kept while it is collapsed.
    double sidebarThickness() const;
    void setSidebarThickness(double thickness);
    // The tile grid (or a widget inside it) has the window's keyboard focus.
    bool isTileGridViewFocused() const;
    // Where the keys go when nothing else was chosen: the tile grid, or the
    // map while the grid is hidden on it; none while the library loads.
    QWidget* defaultFocusPane() const;

    // Makes the node current with these files selected and scrolled into view.
    void revealPaths(const NodePath& node, const QuickStringSet& paths);
    // Makes the map current with a small circle placed at a place, and glides there.
    void revealLocation(double longitude, double latitude);

Q_SIGNALS:
    // A pane asked for a reveal; the window decides where (Ctrl: new tab,
    // Shift: new window).
    void revealRequested(qm::NodePath node, qm::QuickStringSet selection, Qt::KeyboardModifiers modifiers);
    void revealLocationRequested(double longitude, double latitude, Qt::KeyboardModifiers modifiers);
    // The sidebar was shown or hidden, or its divider dragged: the window's
    // archived state changed.
    void sidebarLayoutChanged();

protected:
    void resizeEvent(QResizeEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void applyLoadingState();
    void updateContentMode(bool nodeChanged);
    void layoutContent();

    AppWindow& window_;
    std::shared_ptr<BrowserState> state_;
    std::shared_ptr<DB> db_;
    ToastView* toastView_ = nullptr;
    QSplitter* splitView_ = nullptr;
    QWidget* sidebarContainer_ = nullptr;
    LoadingMessageView* loadingMessageView_ = nullptr;
    SidebarPane* sidebarView_ = nullptr;
    TileGridPane* tileGridView_ = nullptr;
    MapPane* mapView_ = nullptr;
    TileGridConstraints tileGridConstraints_ = TileGridConstraints::full;
    int sidebarWidth_ = contentLayout::sidebarThickness;
    QTimer* progressTimer_ = nullptr;
    std::vector<Subscription> subscriptions_;
};

}  // namespace qm
