#include "app/AppDelegate.h"

#include <QAction>
#include <QAbstractButton>
#include <QApplication>
#include <QButtonGroup>
#include <QDesktopServices>
#include <QFile>
#include <QKeyEvent>
#include <QMenu>
#include <QMenuBar>
#include <QScreen>
#include <QTextBrowser>
#include <QVBoxLayout>

#include "app/AppWindow.h"
#include "app/BrowserFrame.h"
#include "app/CascadePlacement.h"
#include "app/PreferencesWindow.h"
#include "app/RootView.h"
#include "app/WindowStateArchiver.h"
#include "commands/BrowserState.h"
#include "commands/CommandStack.h"
#include "core/FileURL.h"
#include "desktop/ThumbnailService.h"
#include "library/SettingsSchema.h"
#include "tilegrid/TileGridView.h"

// Resources of a static library must be registered by name, outside any namespace.
static void initialiseAppResources() {
    Q_INIT_RESOURCE(app);
}

namespace qm {

namespace {

void centre(QWidget* window) {
    QScreen* screen = window->screen() ? window->screen() : QGuiApplication::primaryScreen();
    if (!screen) return;
    QRect frame = window->frameGeometry();
    frame.moveCenter(screen->availableGeometry().center());
    window->move(frame.topLeft());
}

void showKeyAndFront(QWidget* window) {
    window->show();
    window->raise();
    window->activateWindow();
}

}  // namespace

AppDelegate::AppDelegate(AppServices services, QObject* parent)
    : QObject(parent), services_(std::move(services)) {
    initialiseAppResources();
    db_ = DB::create(services_.library);
    context_ = CommandContext{db_, services_.tagStore, services_.fileOperations};
    if (!services_.openUrl) services_.openUrl = [](const QUrl& url) { QDesktopServices::openUrl(url); };

    // A stored theme that is not exactly one of the three names is ignored.
    if (auto theme = themeFromString(db_->defaults().get(settings::theme))) currentTheme_ = *theme;

    makeActions();
    makePreferencesWindow();
    makeHelpWindow();
    themeApplier_.apply(currentTheme_);
    qApp->installEventFilter(this);
    if (!services_.stateFile.empty()) {
        archiver_ = new WindowStateArchiver(*this, services_.stateFile);
        // Quitting by closing the last window: what is pending reaches the disk.
        connect(qApp, &QCoreApplication::aboutToQuit, archiver_, &WindowStateArchiver::writeAtQuit);
    }
}

AppDelegate::~AppDelegate() {
    qApp->removeEventFilter(this);
    for (auto& frame : frames_)
        delete frame.data();
    frames_.clear();
}

std::shared_ptr<ThumbnailService> AppDelegate::thumbnails() {
    if (!services_.thumbnails) services_.thumbnails = std::make_shared<ThumbnailService>();
    return services_.thumbnails;
}

std::optional<size_t> AppDelegate::crawlProgress() const {
    return services_.crawlProgress ? services_.crawlProgress() : std::nullopt;
}

// ---- Theme ----

void AppDelegate::setCurrentTheme(Theme theme) {
    if (theme == currentTheme_) return;
    currentTheme_ = theme;
    themeApplier_.apply(theme);
    db_->defaults().set(settings::theme, themeString(theme));
    if (QAbstractButton* segment = themeSegmentedControl()->button(static_cast<int>(theme)))
        segment->setChecked(true);
    Q_EMIT themeChanged();
}

void AppDelegate::handleThemeChange(int segment) {
    if (auto theme = themeFromSegment(segment)) setCurrentTheme(*theme);
}

QButtonGroup* AppDelegate::themeSegmentedControl() const {
    return preferencesWindow_->themeSegmentedControl();
}

// ---- Launch ----

void AppDelegate::applicationDidFinishLaunching(const std::optional<Place>& place) {
    didFinishLaunching_ = true;
    connect(themeSegmentedControl(), &QButtonGroup::idClicked, this, &AppDelegate::handleThemeChange);
    if (archiver_) archiver_->restoreWindows();
    if (place)
        openPlace(*place);
    else if (!didRestoreState)
        makeKeyAndFront(makeWindowInNewFrame(true));
    if (helpWindow_->isVisible() && !canShowHelpWindow_) helpWindow_->hide();
}

void AppDelegate::openRequest(const PlaceRequest& request) {
    if (!didFinishLaunching_)
        applicationDidFinishLaunching(request.place);
    else if (request.place)
        openPlace(*request.place);
    else if (request.refusals.empty())
        newWindow();
}

AppWindow* AppDelegate::openPlace(const Place& place) {
    AppWindow* window = makeWindowInNewFrame(true);
    window->restoreState(stateForPlace(window->encodeRestorableState(), place));
    makeKeyAndFront(window);
    return window;
}

// ---- Windows ----

AppWindow* AppDelegate::keyBrowserWindow() const {
    auto* frame = qobject_cast<BrowserFrame*>(QApplication::activeWindow());
    return frame ? frame->currentWindow() : nullptr;
}

std::vector<BrowserFrame*> AppDelegate::frames() const {
    std::vector<BrowserFrame*> out;
    for (const auto& f : frames_)
        if (f) out.push_back(f.data());
    return out;
}

AppWindow* AppDelegate::makeWindowInNewFrame(bool cascade) {
    auto* frame = new BrowserFrame(*this);
    std::erase_if(frames_, [](const QPointer<BrowserFrame>& f) { return f.isNull(); });
    frames_.emplace_back(frame);
    auto* window = new AppWindow(*this);
    frame->addWindow(window);
    if (cascade) placeWithCascade(frame);
    if (archiver_) archiver_->watchWindow(window);
    return window;
}

AppWindow* AppDelegate::makeWindowInTabOf(AppWindow* anchor) {
    BrowserFrame* frame = anchor ? anchor->frame() : nullptr;
    if (!frame) return makeWindowInNewFrame(true);
    auto* window = new AppWindow(*this);
    frame->addWindow(window, anchor);
    if (archiver_) archiver_->watchWindow(window);
    return window;
}

void AppDelegate::makeKeyAndFront(AppWindow* window) {
    BrowserFrame* frame = window->frame();
    if (!frame) return;
    frame->selectTab(frame->indexOf(window));
    showKeyAndFront(frame);
}

void AppDelegate::placeWithCascade(BrowserFrame* frame) {
    AppWindow* key = keyBrowserWindow();
    BrowserFrame* keyFrame = key ? key->frame() : nullptr;
    QScreen* screen = keyFrame ? keyFrame->screen() : nullptr;
    if (!keyFrame || !screen) {
        centre(frame);
        return;
    }
    // The title bar's height; without a window manager's frame a fixed step,
    // so that a new window never hides the one it came from exactly.
    int offset = keyFrame->frameGeometry().height() - keyFrame->geometry().height();
    if (offset <= 0) offset = 24;
    frame->resize(keyFrame->size());
    const QSize frameSize = keyFrame->frameGeometry().size();
    frame->move(cascadeOrigin(keyFrame->frameGeometry(), offset, frameSize, screen->availableGeometry()));
}

// ---- Menu actions ----

void AppDelegate::handleUndo() {
    if (AppWindow* w = keyBrowserWindow()) w->state()->commandStack()->undo();
}

void AppDelegate::handleRedo() {
    if (AppWindow* w = keyBrowserWindow()) w->state()->commandStack()->redo();
}

AppWindow* AppDelegate::newWindow() {
    AppWindow* window = makeWindowInNewFrame(true);
    makeKeyAndFront(window);
    return window;
}

AppWindow* AppDelegate::newWindowForTab() {
    AppWindow* key = keyBrowserWindow();
    if (!key) return newWindow();
    AppWindow* window = makeWindowInTabOf(key);
    makeKeyAndFront(window);
    return window;
}

void AppDelegate::openSelection() {
    AppWindow* key = keyBrowserWindow();
    if (!key) {
        newWindow();
        return;
    }
    const auto& state = *key->state();
    NodePtr node = db_->tree().lookup(state.currentNode());
    if (!node) return;
    const auto& paths = node->resolvedPaths();
    for (const QuickString& path : state.currentSelection())
        if (paths.contains(path)) {
            // Escaped from the bytes: a name that is not UTF-8 must name the same file.
            const std::string url = fileURLForPath(path.utf8());
            services_.openUrl(QUrl::fromEncoded(QByteArray(url.data(), static_cast<qsizetype>(url.size()))));
        }
}

void AppDelegate::closeWindow() {
    if (AppWindow* key = keyBrowserWindow()) {
        if (BrowserFrame* frame = key->frame()) frame->closeWindow(key);
        return;
    }
    if (QWidget* active = QApplication::activeWindow()) active->close();
}

void AppDelegate::goBack() {
    if (AppWindow* w = keyBrowserWindow()) w->state()->navigateHistory(HistoryDirection::back);
}

void AppDelegate::goForward() {
    if (AppWindow* w = keyBrowserWindow()) w->state()->navigateHistory(HistoryDirection::forward);
}

void AppDelegate::showMap() {
    if (AppWindow* w = keyBrowserWindow()) w->state()->setCurrentNode({db_->tree().mapNode()->name});
}

void AppDelegate::showTab(int number) {
    AppWindow* key = keyBrowserWindow();
    BrowserFrame* frame = key ? key->frame() : nullptr;
    if (frame && frame->tabCount() >= number) frame->selectTab(number - 1);
}

void AppDelegate::lastTab() {
    AppWindow* key = keyBrowserWindow();
    BrowserFrame* frame = key ? key->frame() : nullptr;
    if (frame && frame->tabCount() > 0) frame->selectTab(frame->tabCount() - 1);
}

void AppDelegate::stepTab(int delta) {
    AppWindow* key = keyBrowserWindow();
    BrowserFrame* frame = key ? key->frame() : nullptr;
    if (!frame || frame->tabCount() < 2) return;
    const int n = frame->tabCount();
    frame->selectTab(((frame->indexOf(key) + delta) % n + n) % n);
}

void AppDelegate::showPreferences() {
    if (QAbstractButton* segment = themeSegmentedControl()->button(static_cast<int>(currentTheme_)))
        segment->setChecked(true);
    preferencesWindow_->reload();
    preferencesWindow_->adjustSize();
    showKeyAndFront(preferencesWindow_.get());
    centre(preferencesWindow_.get());
}

void AppDelegate::showHelp() {
    if (canShowHelpWindow_) {
        showKeyAndFront(helpWindow_.get());
        centre(helpWindow_.get());
        return;
    }
    services_.openUrl(QUrl(QString::fromLatin1(helpPageURL)));
}

void AppDelegate::performFindPanelAction() {
    if (AppWindow* w = keyBrowserWindow()) w->rootView()->performFindPanelAction();
}

void AppDelegate::toggleSidebar() {
    if (AppWindow* w = keyBrowserWindow()) w->rootView()->toggleSidebar();
}

void AppDelegate::setShowsFileNames(bool on) {
    action(Action::showFileNames)->setChecked(on);
    if (db_->defaults().get(settings::showFileNames) != on) db_->defaults().set(settings::showFileNames, on);
    for (BrowserFrame* frame : frames())
        for (int i = 0; i < frame->tabCount(); ++i)
            if (AppWindow* w = frame->windowAt(i)) w->rootView()->tileGridView()->setShowsFileNames(on);
}

// ---- Menus ----

void AppDelegate::makeActions() {
    auto make = [this](Action which, const QString& title, std::function<void()> handler,
                       QList<QKeySequence> keys = {}, const char* iconName = nullptr) {
        auto* a = new QAction(title, this);
        a->setShortcuts(keys);
        if (iconName) a->setIcon(icon(iconName));
        connect(a, &QAction::triggered, this, [handler = std::move(handler)] { handler(); });
        actions_[static_cast<size_t>(which)] = a;
        return a;
    };
    auto standard = [](QKeySequence::StandardKey key, QKeySequence fallback) {
        QList<QKeySequence> keys = QKeySequence::keyBindings(key);
        return keys.isEmpty() ? QList<QKeySequence>{fallback} : keys;
    };
    make(Action::newWindow, "New Window", [this] { newWindow(); }, standard(QKeySequence::New, QKeySequence(Qt::CTRL | Qt::Key_N)),
         "window-new");
    make(Action::newWindowForTab, "New Tab", [this] { newWindowForTab(); },
         standard(QKeySequence::AddTab, QKeySequence(Qt::CTRL | Qt::Key_T)), "tab-new");
    make(Action::openSelection, "Open", [this] { openSelection(); },
         standard(QKeySequence::Open, QKeySequence(Qt::CTRL | Qt::Key_O)), "document-open");
    make(Action::closeWindow, "Close Tab", [this] { closeWindow(); },
         standard(QKeySequence::Close, QKeySequence(Qt::CTRL | Qt::Key_W)), "window-close");
    make(Action::quit, "Quit", [this] {
        // The windows are saved as they are before they close.
        if (archiver_) archiver_->writeAtQuit();
        QApplication::closeAllWindows();
        QApplication::quit();
    },
         {QKeySequence(Qt::CTRL | Qt::Key_Q)}, "application-exit");
    make(Action::undo, "Undo", [this] { handleUndo(); }, {QKeySequence(Qt::CTRL | Qt::Key_Z)}, "edit-undo");
    make(Action::redo, "Redo", [this] { handleRedo(); },
         {QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z), QKeySequence(Qt::CTRL | Qt::Key_Y)}, "edit-redo");
    make(Action::find, "Find", [this] { performFindPanelAction(); }, {QKeySequence(Qt::CTRL | Qt::Key_F)},
         "edit-find");
    make(Action::showPreferences, "Preferences...", [this] { showPreferences(); },
         {QKeySequence(Qt::CTRL | Qt::Key_Comma)}, "preferences-system");
    make(Action::toggleSidebar, "Show or Hide Sidebar", [this] { toggleSidebar(); }, {QKeySequence(Qt::Key_F9)});
    QAction* names = make(Action::showFileNames, "Show File Names", [] {});
    names->setCheckable(true);
    names->setChecked(db_->defaults().get(settings::showFileNames));
    connect(names, &QAction::toggled, this, &AppDelegate::setShowsFileNames);
    make(Action::goBack, "Back", [this] { goBack(); }, {QKeySequence(Qt::ALT | Qt::Key_Left)}, "go-previous");
    make(Action::goForward, "Forward", [this] { goForward(); }, {QKeySequence(Qt::ALT | Qt::Key_Right)}, "go-next");
    make(Action::showMap, "Map", [this] { showMap(); }, {QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_M)});
    for (int n = 1; n <= 8; ++n)
        make(static_cast<Action>(static_cast<int>(Action::tab1) + n - 1), QStringLiteral("Tab %1").arg(n),
             [this, n] { showTab(n); }, {QKeySequence(Qt::ALT | static_cast<Qt::Key>(Qt::Key_0 + n))});
    make(Action::lastTab, "Last Tab", [this] { lastTab(); }, {QKeySequence(Qt::ALT | Qt::Key_9)});
    make(Action::previousTab, "Previous Tab", [this] { stepTab(-1); }, {QKeySequence(Qt::CTRL | Qt::Key_PageUp)});
    make(Action::nextTab, "Next Tab", [this] { stepTab(1); }, {QKeySequence(Qt::CTRL | Qt::Key_PageDown)});
    make(Action::showHelp, "Quillomere Help", [this] { showHelp(); }, {QKeySequence(Qt::Key_F1)}, "help-contents");
    // Every browser window's own buttons stay in step with these.
    action(Action::undo)->setEnabled(false);
    action(Action::redo)->setEnabled(false);
}

void AppDelegate::installMenus(QMenuBar* menuBar) {
    auto menu = [&](const QString& title, std::initializer_list<Action> items) {
        QMenu* m = menuBar->addMenu(title);
        for (Action a : items) {
            if (a == Action::count)
                m->addSeparator();
            else
                m->addAction(action(a));
        }
        connect(m, &QMenu::aboutToShow, this, &AppDelegate::validateMenuItems);
        return m;
    };
    constexpr Action separator = Action::count;
    menu("&File", {Action::newWindow, Action::newWindowForTab, separator, Action::openSelection, separator,
                   Action::closeWindow, Action::quit});
    menu("&Edit", {Action::undo, Action::redo, separator, Action::find, separator, Action::showPreferences});
    menu("&View", {Action::toggleSidebar, Action::showFileNames});
    menu("&Go", {Action::goBack, Action::goForward, separator, Action::showMap});
    menu("&Window", {Action::previousTab, Action::nextTab, separator, Action::tab1, Action::tab2, Action::tab3,
                     Action::tab4, Action::tab5, Action::tab6, Action::tab7, Action::tab8, Action::lastTab});
    menu("&Help", {Action::showHelp});
}

void AppDelegate::validateMenuItems() {
    AppWindow* key = keyBrowserWindow();
    // Without a key browser window every item keeps its state and title.
    if (!key) return;
    const BrowserState& state = *key->state();
    const CommandStack& stack = *state.commandStack();
    auto undoTitle = stack.undoMenuTitle();
    action(Action::undo)->setEnabled(undoTitle.has_value());
    action(Action::undo)->setText(QString::fromStdString(undoTitle.value_or("Undo")));
    auto redoTitle = stack.redoMenuTitle();
    action(Action::redo)->setEnabled(redoTitle.has_value());
    action(Action::redo)->setText(QString::fromStdString(redoTitle.value_or("Redo")));
    action(Action::goBack)->setEnabled(!state.backHistory().empty());
    action(Action::goForward)->setEnabled(!state.forwardHistory().empty());
    const NodePath mapPath{db_->tree().mapNode()->name};
    action(Action::showMap)->setEnabled(state.currentNode() != mapPath);
    BrowserFrame* frame = key->frame();
    const int tabs = frame ? frame->tabCount() : 0;
    for (int n = 1; n <= 8; ++n)
        action(static_cast<Action>(static_cast<int>(Action::tab1) + n - 1))->setEnabled(tabs > n - 1);
    action(Action::lastTab)->setEnabled(tabs >= 1);
}

bool AppDelegate::eventFilter(QObject* watched, QEvent* event) {
    // Every key press is offered as a shortcut override before shortcuts are
    // matched: validating here makes a disabled item's shortcut do nothing
    // and an enabled one act on the current state.
    if (event->type() == QEvent::ShortcutOverride) validateMenuItems();
    return QObject::eventFilter(watched, event);
}

// ---- Preferences and help ----

void AppDelegate::makePreferencesWindow() {
    preferencesWindow_ = std::make_unique<PreferencesWindow>(db_->defaults());
    preferencesWindow_->setWindowIcon(applicationIcon());
}

void AppDelegate::makeHelpWindow() {
    helpWindow_ = std::make_unique<QWidget>(nullptr, Qt::Window);
    helpWindow_->setObjectName("helpWindow");
    helpWindow_->setWindowTitle(QStringLiteral("Quillomere Help"));
    helpWindow_->setWindowIcon(applicationIcon());
    helpWindow_->resize(720, 640);
    auto* layout = new QVBoxLayout(helpWindow_.get());
    layout->setContentsMargins(0, 0, 0, 0);
    helpBrowser_ = new QTextBrowser(helpWindow_.get());
    helpBrowser_->setObjectName("helpBrowser");
    helpBrowser_->setOpenExternalLinks(true);
    layout->addWidget(helpBrowser_);
    // Help works from the program's own copy of the page; the web page is the fallback.
    if (QFile::exists(QStringLiteral(":/help.html"))) {
        helpBrowser_->setSource(QUrl(QStringLiteral("qrc:/help.html")));
        canShowHelpWindow_ = true;
    }
}

QIcon AppDelegate::icon(const char* name) {
    const QString ours = QStringLiteral(":/icons/%1.svg").arg(QString::fromLatin1(name));
    return QIcon::fromTheme(QString::fromLatin1(name), QFile::exists(ours) ? QIcon(ours) : QIcon());
}

QIcon AppDelegate::applicationIcon() {
    return QIcon::fromTheme(QStringLiteral("org.quillomere.Quillomere"), QIcon(QStringLiteral(":/icons/quillomere.svg")));
}

}  // namespace qm
