#pragma once

#include <QIcon>
#include <QObject>
#include <QPointer>
#include <QUrl>

#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/PlaceRequest.h"
#include "app/Theme.h"
#include "commands/CommandContext.h"
#include "library/DB.h"

class QAction;
class QButtonGroup;
class QMenuBar;
class QTextBrowser;
class QWidget;

namespace qm {

class AppWindow;
class BrowserFrame;
class PreferencesWindow;
class ThumbnailService;
class WindowStateArchiver;

// What the program runs on; main() passes the Linux services, tests their own.
struct AppServices {
    LibraryServices library;
    std::shared_ptr<TagStore> tagStore;
    std::shared_ptr<FileOperations> fileOperations;
    // Made on first use when null.
    std::shared_ptr<ThumbnailService> thumbnails;
    // Files and folders the index's crawl has seen so far (none when unknown).
    std::function<std::optional<size_t>()> crawlProgress;
    // Opens a file or web address with the desktop's default application.
    std::function<void(const QUrl&)> openUrl;
    // The file that keeps the windows across launches; empty: they are not kept.
    std::string stateFile;
};

// The process-wide object of the program: the one library database, the
// theme and its user default, the preferences and help windows, the browser
// windows and every menu action. Menu actions that concern a browser window
// go to the key browser window (the current tab of the active frame).
class AppDelegate : public QObject {
    Q_OBJECT
public:
    enum class Action {
        newWindow,
        newWindowForTab,
        openSelection,
        closeWindow,
        quit,
        undo,
        redo,
        find,
        showPreferences,
        toggleSidebar,
        showFileNames,
        goBack,
        goForward,
        showMap,
        tab1,
        tab2,
        tab3,
        tab4,
        tab5,
        tab6,
        tab7,
        tab8,
        lastTab,
        previousTab,
        nextTab,
        showHelp,
        count
    };

    static constexpr const char* helpPageURL = "https://quillomere.org/help";

    explicit AppDelegate(AppServices services, QObject* parent = nullptr);
    ~AppDelegate() override;

    const std::shared_ptr<DB>& db() const { return db_; }
    CommandContext context() const { return context_; }
    std::shared_ptr<ThumbnailService> thumbnails();
    std::optional<size_t> crawlProgress() const;

    bool didRestoreState = false;
    bool canShowHelpWindow() const { return canShowHelpWindow_; }

    Theme currentTheme() const { return currentTheme_; }
    // Stores, applies and writes the theme; nothing when it is the current one.
    void setCurrentTheme(Theme theme);

    // Opens the first window unless restoration made some, and readies help.
    // A start with a place opens the place's window instead, after the
    // restored ones.
    void applicationDidFinishLaunching(const std::optional<Place>& place = std::nullopt);
    bool didFinishLaunching() const { return didFinishLaunching_; }
    // A start's request: the first one launches; a later one (another start
    // handing over) opens a new window, on its place when it has one, and
    // nothing when every argument it had was refused.
    void openRequest(const PlaceRequest& request);
    // A new window on the place, key and front; its folder and selection
    // apply once the library has loaded.
    AppWindow* openPlace(const Place& place);

    // The active frame's current tab; null when another window (or none) is active.
    AppWindow* keyBrowserWindow() const;
    std::vector<BrowserFrame*> frames() const;
    WindowStateArchiver* stateArchiver() const { return archiver_; }

    QAction* action(Action which) const { return actions_[static_cast<size_t>(which)]; }
    // Sets every menu item's enabled state and title from the key browser
    // window; runs before a menu opens and before a shortcut is matched.
    void validateMenuItems();
    void installMenus(QMenuBar* menuBar);

    PreferencesWindow* preferencesWindow() const { return preferencesWindow_.get(); }
    QButtonGroup* themeSegmentedControl() const;
    QWidget* helpWindow() const { return helpWindow_.get(); }
    QTextBrowser* helpBrowser() const { return helpBrowser_; }

    // Window making, shared by the menu actions and reveals.
    AppWindow* makeWindowInNewFrame(bool cascade);
    AppWindow* makeWindowInTabOf(AppWindow* anchor);
    // Shows the window's frame with the window as its current tab, raised and active.
    void makeKeyAndFront(AppWindow* window);

    // An icon from the desktop's theme, or ours when the theme has none.
    static QIcon icon(const char* name);
    static QIcon applicationIcon();

    // Menu actions.
    void handleUndo();
    void handleRedo();
    AppWindow* newWindow();
    AppWindow* newWindowForTab();
    void openSelection();
    void closeWindow();
    void goBack();
    void goForward();
    void showMap();
    void showTab(int number);  // 1-based
    void lastTab();
    void stepTab(int delta);
    void showPreferences();
    void showHelp();
    void handleThemeChange(int segment);
    void performFindPanelAction();
    void toggleSidebar();
    // Names under the tiles in every window, kept in the settings.
    void setShowsFileNames(bool on);

Q_SIGNALS:
    void themeChanged();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void makeActions();
    void makePreferencesWindow();
    void makeHelpWindow();
    void placeWithCascade(BrowserFrame* frame);

    AppServices services_;
    std::shared_ptr<DB> db_;
    CommandContext context_;
    Theme currentTheme_ = Theme::automatic;
    ThemeApplier themeApplier_;
    bool canShowHelpWindow_ = false;
    bool didFinishLaunching_ = false;
    std::array<QAction*, static_cast<size_t>(Action::count)> actions_{};
    std::unique_ptr<PreferencesWindow> preferencesWindow_;
    std::unique_ptr<QWidget> helpWindow_;
    QTextBrowser* helpBrowser_ = nullptr;
    std::vector<QPointer<BrowserFrame>> frames_;
    WindowStateArchiver* archiver_ = nullptr;  // a child; null when windows are not kept
};

}  // namespace qm
