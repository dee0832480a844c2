#pragma once

#include <QWidget>

#include <any>
#include <memory>
#include <optional>
#include <vector>

#include "core/QuickString.h"
#include "core/Subscription.h"
#include "map/MapCircle.h"
#include "map/MapScrollState.h"
#include "map/MapTool.h"

class QLabel;

namespace qm {

class AsyncMultiGrid;
class BrowserState;
class MapButton;
class MapCanvas;
class MapResultsUpdater;
class MultiGrid;
class OverlayView;
class ResultsView;

// The map pane: the map with its offline base and online tiles, the
// overlay of cluster dots and the search circle, the four side buttons, and
// the results panel. The files inside the placed circle become the window's
// map results, computed one query at a time on the serial queue "mapResults".
//
// Placing a circle by holding a key: the original uses Option, which is Alt
// here, and most Linux window managers take Alt+drag to move windows. The
// key here is Ctrl; the side button works as well.
class MapView : public QWidget {
    Q_OBJECT
public:
    static constexpr int sideMargin = 10;
    static constexpr int buttonSize = 27;
    static constexpr int buttonGroupGap = 10;

    // window: not null.
    explicit MapView(std::shared_ptr<BrowserState> window, QWidget* parent = nullptr);
    ~MapView() override;

    // ---- For the window ----
    const std::optional<MapCircle>& placedCircle() const { return placedCircle_; }
    // A different circle redraws the overlay, asks for new results and marks
    // the window's state for saving (restoration sets it through here).
    void setPlacedCircle(const std::optional<MapCircle>& circle);
    // Removes the circle; results follow without touching the selection.
    void clearPlacedCircle();
    // The location step of revealing a place: a tiny circle there, results as
    // after a user action, and the map gliding to 0.01° around it. The window
    // makes the map node current.
    void revealLocation(double longitude, double latitude);
    // The next results update follows a user action (its selection follows).
    void setNextMapResultsUpdateIsDueToUser();
    void requestMapResultsUpdate(bool dueToUser = false);

    std::any scrollState() const;
    void setScrollState(const std::any& state);

    // ---- Tools and the place key (Ctrl) ----
    void usePanTool();
    void usePlaceTool();
    Tool toolFromSideButton() const { return toolFromSideButton_; }
    Tool effectiveTool() const;
    bool isOptionKeyPressed() const { return isOptionKeyPressed_; }
    bool shouldIgnoreOptionKey() const { return shouldIgnoreOptionKey_; }
    // The place key went down or up (also learnt from key and pointer events).
    void setOptionKeyPressed(bool pressed);
    void setShouldIgnoreOptionKey(bool ignore);
    void updateSideButtonStates();
    void zoomIn();
    void zoomOut();

    // ---- Parts, for the overlay and for tests ----
    MapCanvas* canvas() const { return canvas_; }
    OverlayView* overlay() const { return overlay_; }
    ResultsView* resultsView() const { return resultsView_; }
    MapButton* panButton() const { return panButton_; }
    MapButton* placeButton() const { return placeButton_; }
    MapButton* zoomInButton() const { return zoomInButton_; }
    MapButton* zoomOutButton() const { return zoomOutButton_; }
    QLabel* attribution() const { return attribution_; }
    QWidget* focusRing() const { return focusRing_; }
    const std::shared_ptr<MapResultsUpdater>& resultsUpdater() const { return updater_; }
    std::shared_ptr<const MultiGrid> latestGrid() const;
    bool isMapNodeCurrent() const;

    // Rereads the tile preferences ("mapTilesEnabled", "mapTileURLTemplate",
    // "mapTileCacheMegabytes") into the program's tile loader.
    void applyTilePreferences();

protected:
    void resizeEvent(QResizeEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void changeEvent(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void layoutChildren();
    void updateResultsView();
    void updateButtonImages();
    void invalidateRestorableState();
    // The keyboard's circle: C places one at the centre, ] and [ grow and
    // shrink it, Shift+arrows move it, Delete removes it. They leave + and -
    // to the zoom and the plain arrows to the map.
    bool handleCircleKey(QKeyEvent* event);
    void applyResults(std::optional<std::vector<QuickString>> results, bool dueToUser);

    const std::shared_ptr<BrowserState> window_;  // shared: it outlives the view
    std::shared_ptr<AsyncMultiGrid> asyncGrid_;
    MapCanvas* canvas_;
    OverlayView* overlay_;
    QWidget* sideButtonView_;
    MapButton* panButton_;
    MapButton* placeButton_;
    MapButton* zoomInButton_;
    MapButton* zoomOutButton_;
    ResultsView* resultsView_;
    QLabel* attribution_;
    QWidget* focusRing_;
    std::shared_ptr<MapResultsUpdater> updater_;

    std::optional<MapCircle> placedCircle_;
    Tool toolFromSideButton_ = Tool::panCamera;
    bool isOptionKeyPressed_ = false;
    bool shouldIgnoreOptionKey_ = false;
    std::vector<Subscription> subscriptions_;  // last: ended before anything they reach
};

}  // namespace qm
