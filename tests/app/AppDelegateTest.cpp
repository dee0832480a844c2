// The menu rules, the window actions and the theme, on the real delegate,
// windows and command stack, driven through the real menus and keys.

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QStyle>
#include <QTabBar>
#include <QTabWidget>
#include <QTextBrowser>

#include "AppHarness.h"
#include "app/PlaceRequest.h"
#include "app/PreferencesWindow.h"
#include "map/TileLoader.h"
#include "app/RootView.h"
#include "app/Theme.h"
#include "commands/TagChangeCommand.h"
#include "tilegrid/TileGridView.h"

namespace qm::test {
namespace {

using Action = AppDelegate::Action;

// Opens the menu that holds the action, as a person would, and closes it;
// returns the action's title and enabled state as the open menu showed them.
std::pair<std::string, bool> shownInMenu(BrowserFrame* frame, QAction* action) {
    for (QAction* top : frame->menuBar()->actions()) {
        QMenu* menu = top->menu();
        if (!menu || !menu->actions().contains(action)) continue;
        menu->popup(QPoint(0, 0));
        std::pair<std::string, bool> out{action->text().toStdString(), action->isEnabled()};
        menu->hide();
        return out;
    }
    ADD_FAILURE() << "no menu holds " << action->text().toStdString();
    return {};
}

TEST(AppDelegateTest, UndoAndRedoTitlesAndShortcutsFollowTheKeyWindowsStack) {
    AppHarness h;
    fs::path a = h.file("a.txt"), b = h.file("b.txt"), c = h.file("c.txt");
    h.load();
    AppWindow* w = h.launch();
    ASSERT_TRUE(w);
    BrowserFrame* frame = w->frame();
    QAction* undo = h.delegate->action(Action::undo);
    QAction* redo = h.delegate->action(Action::redo);

    EXPECT_EQ(shownInMenu(frame, undo), (std::pair<std::string, bool>{"Undo", false}));
    EXPECT_EQ(shownInMenu(frame, redo), (std::pair<std::string, bool>{"Redo", false}));

    w->state()->commandStack()->performCommand(tagCommand({a, b, c}, "trip"));
    ASSERT_EQ(rawTags(b), "trip");
    EXPECT_EQ(shownInMenu(frame, undo), (std::pair<std::string, bool>{"Undo Tag 3 Files", true}));
    EXPECT_EQ(shownInMenu(frame, redo), (std::pair<std::string, bool>{"Redo", false}));

    // The shortcut acts although no menu was opened since the last change.
    w->state()->commandStack()->performCommand(tagCommand({a}, "more"));
    QTest::keyClick(frame, Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(rawTags(a), "trip");
    QTest::keyClick(frame, Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(rawTags(a), "<none>");
    EXPECT_EQ(rawTags(c), "<none>");
    EXPECT_EQ(shownInMenu(frame, undo), (std::pair<std::string, bool>{"Undo", false}));
    EXPECT_EQ(shownInMenu(frame, redo), (std::pair<std::string, bool>{"Redo Tag 3 Files", true}));

    // With the undo list empty, Ctrl+Z is a disabled item's shortcut: nothing happens.
    QTest::keyClick(frame, Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(w->state()->commandStack()->redoStack().size(), 2u);

    QTest::keyClick(frame, Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(rawTags(a), "trip");
    EXPECT_EQ(rawTags(c), "trip");
    EXPECT_EQ(shownInMenu(frame, undo), (std::pair<std::string, bool>{"Undo Tag 3 Files", true}));
    EXPECT_EQ(shownInMenu(frame, redo), (std::pair<std::string, bool>{"Redo Tag File", true}));
}

TEST(AppDelegateTest, TabItemsWithOneTwoAndThreeTabs) {
    AppHarness h;
    h.load();
    AppWindow* first = h.launch();
    ASSERT_TRUE(first);
    BrowserFrame* frame = first->frame();
    auto enabledTabs = [&] {
        std::string out;
        for (int n = 0; n < 8; ++n)
            out += shownInMenu(frame, h.delegate->action(static_cast<Action>(int(Action::tab1) + n))).second ? '1' : '0';
        out += shownInMenu(frame, h.delegate->action(Action::lastTab)).second ? 'L' : '-';
        return out;
    };
    EXPECT_EQ(enabledTabs(), "10000000L");
    EXPECT_TRUE(frame->tabs()->tabBar()->isHidden());

    QTest::keyClick(frame, Qt::Key_T, Qt::ControlModifier);
    ASSERT_EQ(frame->tabCount(), 2);
    AppWindow* second = frame->currentWindow();
    EXPECT_NE(second, first);
    EXPECT_EQ(h.delegate->keyBrowserWindow(), second);
    EXPECT_FALSE(frame->tabs()->tabBar()->isHidden());
    EXPECT_EQ(enabledTabs(), "11000000L");

    // Tab 3 of two does nothing.
    QTest::keyClick(frame, Qt::Key_3, Qt::AltModifier);
    EXPECT_EQ(frame->currentWindow(), second);
    QTest::keyClick(frame, Qt::Key_1, Qt::AltModifier);
    EXPECT_EQ(frame->currentWindow(), first);

    // A new tab goes right after the key window.
    h.delegate->action(Action::newWindowForTab)->trigger();
    ASSERT_EQ(frame->tabCount(), 3);
    EXPECT_EQ(frame->indexOf(frame->currentWindow()), 1);
    EXPECT_EQ(enabledTabs(), "11100000L");
    QTest::keyClick(frame, Qt::Key_3, Qt::AltModifier);
    EXPECT_EQ(frame->currentWindow(), second);
    QTest::keyClick(frame, Qt::Key_1, Qt::AltModifier);
    QTest::keyClick(frame, Qt::Key_9, Qt::AltModifier);
    EXPECT_EQ(frame->currentWindow(), second);

    // Ctrl+W closes the key tab; the last one closes the frame.
    QTest::keyClick(frame, Qt::Key_W, Qt::ControlModifier);
    EXPECT_EQ(frame->tabCount(), 2);
}

TEST(AppDelegateTest, WithoutAKeyBrowserWindowItemsKeepTheirStateAndOpenMakesAWindow) {
    AppHarness h;
    fs::path a = h.file("a.txt");
    h.load();
    AppWindow* w = h.launch();
    ASSERT_TRUE(w);
    w->state()->commandStack()->performCommand(tagCommand({a}, "x"));
    w->state()->setCurrentNode(P({"Folders"}));
    h.delegate->validateMenuItems();
    ASSERT_EQ(h.delegate->action(Action::undo)->text().toStdString(), "Undo Tag File");

    QTest::keyClick(w->frame(), Qt::Key_Comma, Qt::ControlModifier);
    PreferencesWindow* prefs = h.delegate->preferencesWindow();
    ASSERT_TRUE(prefs->isVisible());
    activate(prefs);
    EXPECT_EQ(h.delegate->keyBrowserWindow(), nullptr);

    // The stack changes meanwhile; the items do not follow without a key browser window.
    w->state()->commandStack()->undo();
    h.delegate->validateMenuItems();
    EXPECT_EQ(h.delegate->action(Action::undo)->text().toStdString(), "Undo Tag File");
    EXPECT_TRUE(h.delegate->action(Action::undo)->isEnabled());
    EXPECT_TRUE(h.delegate->action(Action::goBack)->isEnabled());
    EXPECT_TRUE(h.delegate->action(Action::tab1)->isEnabled());
    // Undo without a key browser window leaves the file alone.
    h.delegate->handleUndo();
    EXPECT_EQ(rawTags(a), "<none>");

    const size_t before = h.delegate->frames().size();
    h.delegate->openSelection();
    EXPECT_EQ(h.delegate->frames().size(), before + 1);
    EXPECT_TRUE(h.opened.empty());
}

TEST(AppDelegateTest, OpenSelectionOpensTheSelectedFilesStillInTheNode) {
    AppHarness h;
    fs::path a = h.file("a.txt", "t"), b = h.file("b.txt", "t");
    h.index.add({h.root.string() + "/gone.txt", std::vector<std::string>{"u"}, std::nullopt, std::nullopt});
    h.index.add({a.string(), std::vector<std::string>{"t"}, std::nullopt, std::nullopt});
    h.index.add({b.string(), std::vector<std::string>{"t"}, std::nullopt, std::nullopt});
    const fs::path latin1 = h.file(std::string("caf\xe9 #1%.txt"), "t");
    h.index.add({latin1.string(), std::vector<std::string>{"t"}, std::nullopt, std::nullopt});
    h.load();
    AppWindow* w = h.launch();
    ASSERT_TRUE(w);
    w->state()->setCurrentNode(P({"Tags", "t"}));
    w->state()->setCurrentSelection({Q(a.string()), Q(h.root.string() + "/gone.txt")});
    QTest::keyClick(w->frame(), Qt::Key_O, Qt::ControlModifier);
    ASSERT_EQ(h.opened.size(), 1u);
    EXPECT_EQ(h.opened[0], QUrl::fromLocalFile(QString::fromStdString(a.string())));

    // A name that is not UTF-8 (made on another system) opens that very file:
    // the address, percent-decoded, names the bytes on disk.
    w->state()->setCurrentSelection({QuickString::bytes(latin1.string())});
    QTest::keyClick(w->frame(), Qt::Key_O, Qt::ControlModifier);
    ASSERT_EQ(h.opened.size(), 2u);
    const QUrl url = h.opened[1];
    EXPECT_TRUE(url.isLocalFile());
    const QByteArray bytes = QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toLatin1());
    EXPECT_EQ(bytes.toStdString(), latin1.string());
    EXPECT_TRUE(fs::exists(fs::path(bytes.toStdString())));
}

TEST(AppDelegateTest, BackForwardAndMapItems) {
    AppHarness h;
    h.load();
    AppWindow* w = h.launch();
    ASSERT_TRUE(w);
    BrowserFrame* frame = w->frame();
    QAction* back = h.delegate->action(Action::goBack);
    QAction* map = h.delegate->action(Action::showMap);
    EXPECT_FALSE(shownInMenu(frame, back).second);
    EXPECT_TRUE(shownInMenu(frame, map).second);
    QTest::keyClick(frame, Qt::Key_M, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(w->state()->currentNode(), P({"Map"}));
    EXPECT_FALSE(shownInMenu(frame, map).second);
    EXPECT_TRUE(shownInMenu(frame, back).second);
    EXPECT_TRUE(w->backAction()->isEnabled());
    QTest::keyClick(frame, Qt::Key_Left, Qt::AltModifier);
    EXPECT_TRUE(w->state()->currentNode().empty());
    EXPECT_TRUE(w->forwardAction()->isEnabled());
    QTest::keyClick(frame, Qt::Key_Right, Qt::AltModifier);
    EXPECT_EQ(w->state()->currentNode(), P({"Map"}));
}

TEST(AppDelegateTest, ThemeIsReadExactlyWrittenOnChangeAndFollowedByNewWindows) {
    {
        AppHarness h({}, "Dark");
        EXPECT_EQ(h.delegate->currentTheme(), Theme::automatic);
        h.delegate->setCurrentTheme(Theme::automatic);
        EXPECT_EQ(h.defaults->writes, 0);
        EXPECT_EQ(h.defaults->value("theme"), DefaultsValue("Dark"));
    }
    AppHarness h({}, "light");
    EXPECT_EQ(h.delegate->currentTheme(), Theme::light);
    EXPECT_EQ(h.defaults->writes, 0);
    h.load();
    AppWindow* w = h.launch();
    ASSERT_TRUE(w);
    h.delegate->setCurrentTheme(Theme::light);
    EXPECT_EQ(h.defaults->writes, 0);

    // The preferences' segments set it, as a click would.
    h.delegate->showPreferences();
    QButtonGroup* segments = h.delegate->themeSegmentedControl();
    EXPECT_TRUE(segments->button(0)->isChecked());
    QTest::mouseClick(segments->button(1), Qt::LeftButton);
    EXPECT_EQ(h.delegate->currentTheme(), Theme::dark);
    EXPECT_EQ(h.defaults->writes, 1);
    EXPECT_EQ(h.defaults->value("theme"), DefaultsValue("dark"));
    EXPECT_EQ(QApplication::style()->name().toLower(), "fusion");

    // Windows that exist learn of the new palette through posted events.
    QCoreApplication::sendPostedEvents();
    AppWindow* second = h.delegate->newWindow();
    EXPECT_EQ(second->palette().color(QPalette::Window), darkPalette().color(QPalette::Window));
    EXPECT_EQ(w->palette().color(QPalette::Window), darkPalette().color(QPalette::Window));
    // The dark window is dark where it is drawn.
    const QImage shot = second->grab().toImage();
    EXPECT_LT(qGray(shot.pixel(shot.width() / 2, 5)), 100);

    h.delegate->handleThemeChange(7);  // no segment: ignored
    EXPECT_EQ(h.delegate->currentTheme(), Theme::dark);
    QTest::mouseClick(segments->button(2), Qt::LeftButton);
    EXPECT_EQ(h.defaults->value("theme"), DefaultsValue("auto"));
    EXPECT_EQ(h.defaults->writes, 2);
}

TEST(AppDelegateTest, ShowFileNamesIsKeptAndEveryWindowFollowsIt) {
    {
        AppHarness h;
        h.load();
        AppWindow* w = h.launch();
        ASSERT_TRUE(w);
        AppWindow* tab = h.delegate->newWindowForTab();
        QAction* names = h.delegate->action(Action::showFileNames);
        EXPECT_EQ(names->text(), QStringLiteral("Show File Names"));
        EXPECT_TRUE(names->isCheckable());
        EXPECT_TRUE(names->isChecked());  // on until the user says otherwise
        // It sits in the View menu of the window's menu bar.
        QMenu* view = nullptr;
        for (QAction* top : w->frame()->menuBar()->actions())
            if (top->text() == QStringLiteral("&View")) view = top->menu();
        ASSERT_TRUE(view);
        EXPECT_TRUE(view->actions().contains(names));
        EXPECT_TRUE(w->rootView()->tileGridView()->showsFileNames());
        EXPECT_TRUE(tab->rootView()->tileGridView()->showsFileNames());

        const int writes = h.defaults->writes;
        names->trigger();
        EXPECT_FALSE(names->isChecked());
        EXPECT_EQ(h.defaults->value("showFileNames"), DefaultsValue(false));
        EXPECT_EQ(h.defaults->writes, writes + 1);
        EXPECT_FALSE(w->rootView()->tileGridView()->showsFileNames());
        EXPECT_FALSE(tab->rootView()->tileGridView()->showsFileNames());
        EXPECT_EQ(w->rootView()->tileGridView()->computeLayout().captionHeight, 0);
        EXPECT_FALSE(h.delegate->newWindow()->rootView()->tileGridView()->showsFileNames());
        names->trigger();
        EXPECT_EQ(h.defaults->value("showFileNames"), DefaultsValue(true));
        EXPECT_TRUE(w->rootView()->tileGridView()->showsFileNames());
        EXPECT_GT(w->rootView()->tileGridView()->computeLayout().captionHeight, 0);
    }
    // A window of the next start reads it back.
    AppHarness again;
    again.defaults->inner.setValue("showFileNames", false);
    again.load();
    AppWindow* w = again.launch();
    ASSERT_TRUE(w);
    EXPECT_FALSE(w->rootView()->tileGridView()->showsFileNames());
}

TEST(AppDelegateTest, HelpShowsOurPageWithEveryShortcut) {
    AppHarness h;
    h.load();
    AppWindow* w = h.launch();
    ASSERT_TRUE(w);
    ASSERT_TRUE(h.delegate->canShowHelpWindow());
    QTest::keyClick(w->frame(), Qt::Key_F1);
    EXPECT_TRUE(h.delegate->helpWindow()->isVisible());
    EXPECT_TRUE(h.opened.empty());
    const QString help = h.delegate->helpBrowser()->toPlainText();
    for (int i = 0; i < int(Action::count); ++i) {
        QAction* a = h.delegate->action(static_cast<Action>(i));
        for (const QKeySequence& key : a->shortcuts())
            EXPECT_TRUE(help.contains(key.toString(QKeySequence::PortableText)))
                << key.toString().toStdString() << " of " << a->text().toStdString() << " is not in the help page";
    }
    for (const char* credit : {"user.xdg.tags", "OpenStreetMap contributors", "Natural Earth", "GeoNames", "CC BY 4.0"})
        EXPECT_TRUE(help.contains(QString::fromUtf8(credit))) << credit;
}

}  // namespace
}  // namespace qm::test

namespace qm::test {
namespace {

TEST(AppDelegateTest, PreferencesStoreTheMapTileSettings) {
    AppHarness h;
    h.load();
    h.launch();
    h.delegate->showPreferences();
    PreferencesWindow* prefs = h.delegate->preferencesWindow();
    // Defaults: online tiles on, OpenStreetMap's standard tiles; nothing written yet.
    EXPECT_TRUE(prefs->mapTilesCheckBox()->isChecked());
    EXPECT_EQ(prefs->tileURLField()->text(), "https://tile.openstreetmap.org/{z}/{x}/{y}.png");
    EXPECT_EQ(h.defaults->value("mapTilesEnabled"), std::nullopt);

    QTest::mouseClick(prefs->mapTilesCheckBox(), Qt::LeftButton, {}, QPoint(6, prefs->mapTilesCheckBox()->height() / 2));
    EXPECT_EQ(h.defaults->value("mapTilesEnabled"), DefaultsValue(false));
    EXPECT_FALSE(prefs->tileURLField()->isEnabled());
    QTest::mouseClick(prefs->mapTilesCheckBox(), Qt::LeftButton, {}, QPoint(6, prefs->mapTilesCheckBox()->height() / 2));
    EXPECT_EQ(h.defaults->value("mapTilesEnabled"), DefaultsValue(true));

    prefs->tileURLField()->setFocus();
    prefs->tileURLField()->selectAll();
    QTest::keyClicks(prefs->tileURLField(), "https://tiles.example.org/{z}/{x}/{y}.png");
    QTest::keyClick(prefs->tileURLField(), Qt::Key_Return);
    EXPECT_EQ(h.defaults->value("mapTileURLTemplate"), DefaultsValue("https://tiles.example.org/{z}/{x}/{y}.png"));
    EXPECT_FALSE(prefs->tileURLRefusal()->isVisibleTo(prefs));

    // An address of another scheme is refused and kept in the field to be corrected.
    prefs->tileURLField()->selectAll();
    QTest::keyClicks(prefs->tileURLField(), "file:///etc/{z}/{x}/{y}.png");
    QTest::keyClick(prefs->tileURLField(), Qt::Key_Return);
    EXPECT_EQ(h.defaults->value("mapTileURLTemplate"), DefaultsValue("https://tiles.example.org/{z}/{x}/{y}.png"));
    EXPECT_TRUE(prefs->tileURLRefusal()->isVisibleTo(prefs));
    EXPECT_EQ(prefs->tileURLField()->text(), "file:///etc/{z}/{x}/{y}.png");

    // The program's tile loader (every map's) follows each change at once.
    std::shared_ptr<TileLoader> loader = TileLoader::shared();
    TileLoader::applyPreferences(*h.defaults);
    EXPECT_EQ(loader->urlTemplate(), "https://tiles.example.org/{z}/{x}/{y}.png");
    QTest::mouseClick(prefs->mapTilesCheckBox(), Qt::LeftButton, {}, QPoint(6, prefs->mapTilesCheckBox()->height() / 2));
    EXPECT_FALSE(loader->isEnabled());
    QTest::mouseClick(prefs->mapTilesCheckBox(), Qt::LeftButton, {}, QPoint(6, prefs->mapTilesCheckBox()->height() / 2));
    EXPECT_EQ(loader->urlTemplate(), "https://tiles.example.org/{z}/{x}/{y}.png");
    prefs->tileURLField()->selectAll();
    QTest::keyClicks(prefs->tileURLField(), "http://127.0.0.1:9/{z}/{x}/{y}.png");
    QTest::keyClick(prefs->tileURLField(), Qt::Key_Return);
    EXPECT_EQ(loader->urlTemplate(), "http://127.0.0.1:9/{z}/{x}/{y}.png");
}

TEST(AppDelegateTest, AStartOnAPlaceOpensThereAndLaterRequestsOpenNewWindows) {
    AppHarness h;
    const fs::path a = h.file("Photos/a.jpg"), b = h.file("Photos/b.jpg");
    const std::string app = h.root.filename().string();
    const NodePath photos = P({"Folders", app.c_str(), "Photos"});

    // The first request launches, before the library has loaded: the one
    // window goes to the place once it has.
    h.delegate->openRequest(PlaceRequest::resolve({a.string()}, "/"));
    ASSERT_EQ(h.delegate->frames().size(), 1u);
    AppWindow* first = h.delegate->frames()[0]->currentWindow();
    h.load();
    const QuickStringSet onlyA{Q(a.string())};
    EXPECT_TRUE(QTest::qWaitFor([&] {
        NodePtr node = h.delegate->db()->tree().lookup(photos);
        return first->state()->currentNode() == photos && node && node->paths().contains(Q(a.string()));
    }));
    // The folder was listed meanwhile; the file is still selected and the
    // sidebar opened down to it.
    EXPECT_EQ(first->state()->currentSelection(), onlyA);
    EXPECT_TRUE(first->state()->isExpanded().contains(QuickString::literal("Folders/" + app)));
    EXPECT_TRUE(first->state()->backHistory().empty());

    // Later requests: a new window; nothing when all was refused; a place.
    h.delegate->openRequest(PlaceRequest{});
    EXPECT_EQ(h.delegate->frames().size(), 2u);
    EXPECT_EQ(h.delegate->frames()[1]->currentWindow()->state()->currentNode(), NodePath{});
    h.delegate->openRequest(PlaceRequest::resolve({"/etc"}, "/"));
    EXPECT_EQ(h.delegate->frames().size(), 2u);
    h.delegate->openRequest(PlaceRequest::resolve({b.string()}, "/"));
    ASSERT_EQ(h.delegate->frames().size(), 3u);
    AppWindow* third = h.delegate->frames()[2]->currentWindow();
    EXPECT_EQ(third->state()->currentNode(), photos);
    EXPECT_EQ(third->state()->currentSelection(), QuickStringSet{Q(b.string())});
}

}  // namespace
}  // namespace qm::test
