#pragma once

#include <QMainWindow>

class QTabWidget;

namespace qm {

class AppDelegate;
class AppWindow;

// A top-level window holding a tab group of browser windows: the tab bar
// shows from two tabs on; the frame's title is the current tab's title and
// subtitle; closing the last tab closes the frame. Each tab keeps its own
// keyboard focus; a tab shown for the first time starts in its tile grid.
class BrowserFrame : public QMainWindow {
    Q_OBJECT
public:
    explicit BrowserFrame(AppDelegate& delegate);
    ~BrowserFrame() override;

    // Adds a window as a tab right after `after` (at the end when null) and
    // makes it the current tab.
    void addWindow(AppWindow* window, AppWindow* after = nullptr);
    void closeWindow(AppWindow* window);
    int tabCount() const;
    AppWindow* windowAt(int index) const;
    AppWindow* currentWindow() const;
    int indexOf(AppWindow* window) const;
    void selectTab(int index);
    QTabWidget* tabs() const { return tabs_; }

Q_SIGNALS:
    // Moved, resized, maximised or restored.
    void geometryChanged();

protected:
    void closeEvent(QCloseEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void updateTitle();

    AppDelegate& delegate_;
    QTabWidget* tabs_;
};

}  // namespace qm
