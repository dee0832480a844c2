#pragma once

#include <QPointer>
#include <QString>
#include <QWidget>

#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "commands/AppWindowState.h"
#include "commands/DropInfo.h"
#include "core/Subscription.h"
#include "library/Node.h"
#include "library/NodePath.h"

class QAction;
class QToolBar;

namespace qm {

class AppDelegate;
class BrowserFrame;
class BrowserState;
class RootView;

// What revealTarget shows: files inside a node, or a place on the map.
struct RevealTarget {
    struct Files {
        QuickString fullName;
        QuickStringSet paths;
    };
    struct Location {
        double longitude = 0;
        double latitude = 0;
    };
    std::variant<Files, Location> target;
};

// One browser window, shown as one tab of a BrowserFrame: its navigation
// state (BrowserState, with history and the command stack), its toolbar with
// Back, Forward and the sidebar toggle, and its RootView.
class AppWindow : public QWidget {
    Q_OBJECT
public:
    explicit AppWindow(AppDelegate& delegate, QWidget* parent = nullptr);
    ~AppWindow() override;

    AppDelegate& appDelegate() const { return delegate_; }
    const std::shared_ptr<BrowserState>& state() const { return state_; }
    RootView* rootView() const { return rootView_; }
    QToolBar* toolbar() const { return toolbar_; }
    QAction* backAction() const { return backAction_; }
    QAction* forwardAction() const { return forwardAction_; }
    QAction* sidebarAction() const { return sidebarAction_; }
    // The tab group holding this window (null before it is added to one).
    BrowserFrame* frame() const;

    // The title a window frame shows: the title alone, or title, " - ", subtitle.
    QString frameTitle() const;

    // Shows files or a place. With allowNewWindow, Ctrl opens the reveal in
    // a new tab next to this one and Shift in a new cascaded window.
    void revealTarget(const RevealTarget& target, bool allowNewWindow, Qt::KeyboardModifiers modifiers);

    // Asks before a drop renames files; Rename repeats the drop with renaming allowed.
    void renameConflictAlert(const NodePtr& target, const DropInfo& drop,
                             const std::vector<std::pair<std::string, std::string>>& renames);

    // Keyboard focus back where it was when this tab was last in front, or,
    // the first time, in the tile grid (the map when the grid is hidden).
    void focusLastFocusedPane();
    // Gives a pane the keyboard focus when this tab is in front; otherwise it
    // gets it when the tab comes to the front.
    void focusPane(QWidget* pane);

    // Widgets with this property set to true are skipped by Tab and Shift+Tab
    // (the sidebar's search field, the map's buttons).
    static constexpr const char* skipInKeyViewLoopProperty = "qmSkipInKeyViewLoop";
    // The widget Tab (next) or Shift+Tab would focus from `from`; null when none.
    QWidget* keyViewFrom(QWidget* from, bool next) const;

    // ---- Restoration ----
    // This window's state for the archive, as it is now.
    AppWindowState encodeRestorableState() const;
    // Takes a decoded state: the sidebar at once, the rest once the library
    // has loaded (at once when it already has).
    void restoreState(AppWindowState state);
    // Goes to the archived node, selection and expansion without recording
    // history, then restores the panes and the circle; nothing without a state.
    void applyInitialState();
    const std::optional<AppWindowState>& initialState() const { return initialState_; }

Q_SIGNALS:
    void titleChanged();
    // The state to archive for restoration changed.
    void restorableStateInvalidated();

protected:
    bool focusNextPrevChild(bool next) override;

private:
    void updateTitle();
    void applyInitialStateNow();

    AppDelegate& delegate_;
    std::shared_ptr<BrowserState> state_;
    QToolBar* toolbar_ = nullptr;
    QAction* backAction_ = nullptr;
    QAction* forwardAction_ = nullptr;
    QAction* sidebarAction_ = nullptr;
    RootView* rootView_ = nullptr;
    std::optional<AppWindowState> initialState_;
    QPointer<QWidget> lastFocused_;  // the widget in this tab that last had the focus
    QMetaObject::Connection focusTracking_;
    Subscription loadingSubscription_;  // waiting for the library; ended once applied
};

}  // namespace qm
