#include "app/BrowserFrame.h"

#include <QCloseEvent>
#include <QTabBar>
#include <QTabWidget>

#include "app/AppDelegate.h"
#include "app/AppWindow.h"
#include "app/WindowStateArchiver.h"

namespace qm {

BrowserFrame::BrowserFrame(AppDelegate& delegate) : delegate_(delegate), tabs_(new QTabWidget(this)) {
    setObjectName("browserFrame");
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowIcon(AppDelegate::applicationIcon());
    tabs_->setDocumentMode(true);
    tabs_->setTabBarAutoHide(true);  // the bar shows from two tabs on
    tabs_->setTabsClosable(true);
    tabs_->setMovable(true);
    tabs_->tabBar()->setExpanding(true);
    setCentralWidget(tabs_);
    delegate_.installMenus(menuBar());
    connect(tabs_, &QTabWidget::currentChanged, this, [this] {
        updateTitle();
        if (AppWindow* w = currentWindow()) w->focusLastFocusedPane();
    });
    connect(tabs_, &QTabWidget::tabCloseRequested, this, [this](int index) { closeWindow(windowAt(index)); });
    resize(1024, 700);
}

BrowserFrame::~BrowserFrame() = default;

void BrowserFrame::addWindow(AppWindow* window, AppWindow* after) {
    const int index = after ? indexOf(after) + 1 : tabs_->count();
    tabs_->insertTab(index, window, window->frameTitle());
    connect(window, &AppWindow::titleChanged, this, [this, window] {
        const int i = indexOf(window);
        if (i >= 0) tabs_->setTabText(i, window->frameTitle());
        if (window == currentWindow()) updateTitle();
    });
    tabs_->setCurrentIndex(index);
    updateTitle();
    window->focusLastFocusedPane();  // a new window's keys go to its grid
}

void BrowserFrame::closeWindow(AppWindow* window) {
    const int index = indexOf(window);
    if (index < 0) return;
    // The last tab takes the frame with it: the state is kept before the tab goes.
    if (tabs_->count() == 1)
        if (WindowStateArchiver* archiver = delegate_.stateArchiver()) archiver->frameClosing(this);
    tabs_->removeTab(index);
    window->hide();
    window->deleteLater();  // the window and its state go once nothing runs in it
    if (tabs_->count() == 0) close();
}

int BrowserFrame::tabCount() const {
    return tabs_->count();
}

AppWindow* BrowserFrame::windowAt(int index) const {
    return qobject_cast<AppWindow*>(tabs_->widget(index));
}

AppWindow* BrowserFrame::currentWindow() const {
    return qobject_cast<AppWindow*>(tabs_->currentWidget());
}

int BrowserFrame::indexOf(AppWindow* window) const {
    return tabs_->indexOf(window);
}

void BrowserFrame::selectTab(int index) {
    if (index < 0 || index >= tabs_->count()) return;
    tabs_->setCurrentIndex(index);
    raise();
    activateWindow();
}

void BrowserFrame::closeEvent(QCloseEvent* event) {
    if (WindowStateArchiver* archiver = delegate_.stateArchiver()) archiver->frameClosing(this);
    QMainWindow::closeEvent(event);
}

void BrowserFrame::moveEvent(QMoveEvent* event) {
    QMainWindow::moveEvent(event);
    Q_EMIT geometryChanged();
}

void BrowserFrame::resizeEvent(QResizeEvent* event) {
    QMainWindow::resizeEvent(event);
    Q_EMIT geometryChanged();
}

void BrowserFrame::changeEvent(QEvent* event) {
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange) Q_EMIT geometryChanged();
}

void BrowserFrame::updateTitle() {
    AppWindow* w = currentWindow();
    setWindowTitle(w ? w->frameTitle() : QStringLiteral("Quillomere"));
}

}  // namespace qm
