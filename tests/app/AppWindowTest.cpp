// Browser windows: titles, history with the panes' scroll states, reveals
// into new tabs and windows, the rename alert and the key-view loop.

#include <QAbstractButton>
#include <QAccessible>
#include <QLabel>
#include <QLineEdit>
#include <QRegularExpression>
#include <QAction>
#include <QPushButton>
#include <QApplication>
#include <QMessageBox>
#include <QScreen>
#include <QTabWidget>

#include "AppHarness.h"
#include <QScrollBar>

#include "app/RootView.h"
#include "map/MapView.h"
#include "sidebar/SidebarContainer.h"
#include "sidebar/SidebarSearchField.h"
#include "tilegrid/TileGridScrollState.h"
#include "tilegrid/TileGridView.h"

namespace qm::test {
namespace {

using Action = AppDelegate::Action;

TEST(AppWindowTest, TitleAndSubtitleFollowTheNodeAndSelection) {
    AppHarness h;
    fs::path a = h.file("Documents/a.txt"), b = h.file("Documents/b.txt");
    h.load();
    AppWindow* w = h.launch();
    ASSERT_TRUE(w);
    BrowserFrame* frame = w->frame();
    EXPECT_EQ(frame->windowTitle(), "Quillomere");

    w->state()->setCurrentNode(P({"Folders", "Documents"}));
    EXPECT_EQ(frame->windowTitle(), "Folders: Documents");
    EXPECT_EQ(frame->tabs()->tabText(0), "Folders: Documents");

    w->state()->setCurrentSelection({Q(a.string())});
    const std::string relative = fs::relative(a, testHome()).string();
    EXPECT_EQ(frame->windowTitle().toStdString(), "Folders: Documents - " + relative);

    w->state()->setCurrentSelection({Q(a.string()), Q(b.string())});
    EXPECT_EQ(frame->windowTitle(), "Folders: Documents - 2 selected");

    // Outside the home folder there is no subtitle.
    w->state()->setCurrentSelection({Q("/opt/elsewhere/c.txt")});
    EXPECT_EQ(frame->windowTitle(), "Folders: Documents");

    w->state()->setCurrentNode(P({"Tags", "a", "b"}));
    EXPECT_EQ(frame->windowTitle(), "Tags: a/b");

    // The frame shows the current tab's title.
    AppWindow* second = h.delegate->newWindowForTab();
    EXPECT_EQ(frame->windowTitle(), "Quillomere");
    frame->selectTab(frame->indexOf(w));
    EXPECT_EQ(frame->windowTitle(), "Tags: a/b");
    (void)second;
}

// A closed tab lets its state, command stack and panes go, and nothing of it
// hears the library afterwards (the panes hold their window's state, which
// holds nothing of theirs).
TEST(AppWindowTest, AClosedTabReleasesItsStateAndHearsTheLibraryNoMore) {
    AppHarness h;
    fs::path a = h.file("a.txt");
    h.load();
    AppWindow* first = h.launch();
    ASSERT_TRUE(first);
    BrowserFrame* frame = first->frame();
    AppWindow* second = h.delegate->newWindowForTab();
    ASSERT_TRUE(second);
    second->state()->setCurrentNode(P({"Map"}));
    second->state()->setCurrentNode(P({"Folders"}));
    std::weak_ptr<BrowserState> closed = second->state();
    std::weak_ptr<CommandStack> closedStack = second->state()->commandStack();
    frame->closeWindow(second);
    ASSERT_TRUE(QTest::qWaitFor([&] { return closed.expired(); }));
    EXPECT_TRUE(closedStack.expired());

    // Every emitter the panes listened to fires once more.
    first->state()->commandStack()->performCommand(tagCommand({a}, "x"));
    first->state()->setCurrentNode(P({"Tags", "x"}));
    first->state()->setCurrentSelection({Q(a.string())});
    first->state()->setExpanded(Q("Tags"), false);
    int grids = 0;
    const Subscription onGrid = h.delegate->db()->gridChanged.subscribe([&] { ++grids; });
    h.delegate->db()->setMapPaths({{Q(a.string()), PathMetadata{GPS{.latitude = 48.85, .longitude = 2.35}}}},
                                  std::nullopt);
    ASSERT_TRUE(QTest::qWaitFor([&] { return grids > 0; }));
    EXPECT_EQ(frame->tabCount(), 1);
    EXPECT_EQ(first->state()->currentNode(), P({"Tags", "x"}));
}

TEST(AppWindowTest, HistoryKeepsTheScrollStatesOfThePanes) {
    AppHarness h;
    for (const char* dir : {"A", "B", "C"})
        for (int i = 0; i < 600; ++i) h.file(std::string(dir) + "/f" + std::to_string(i) + ".txt");
    h.load();
    AppWindow* w = h.launch();
    ASSERT_TRUE(w);
    RootView* root = w->rootView();
    auto& state = *w->state();
    TileGridView* grid = root->tileGridView();
    QScrollBar* bar = grid->verticalScrollBar();
    const std::string home = h.root.filename().string();
    auto folder = [&](const char* dir) { return P({"Folders", home.c_str(), dir}); };
    // Goes to a folder, waits for its files to be listed and scrolls the grid.
    auto visit = [&](const char* dir, int rows) {
        state.setCurrentNode(folder(dir));
        ASSERT_TRUE(QTest::qWaitFor([&] { return bar->maximum() > 20 * rows; }, 20000)) << dir;
        bar->setValue(bar->singleStep() * rows);
    };
    auto firstVisible = [&] {
        return std::string(std::any_cast<TileGridScrollState>(grid->scrollState()).firstVisiblePath.utf8());
    };

    visit("A", 3);
    const std::string inA = firstVisible();
    visit("B", 6);
    const std::string inB = firstVisible();
    visit("C", 9);
    EXPECT_NE(inA.find("/A/"), std::string::npos);
    EXPECT_NE(inB.find("/B/"), std::string::npos);
    EXPECT_TRUE(w->backAction()->isEnabled());
    EXPECT_FALSE(w->forwardAction()->isEnabled());

    // Back through the toolbar: the grid returns to where it was.
    w->backAction()->trigger();
    EXPECT_EQ(state.currentNode(), folder("B"));
    EXPECT_EQ(firstVisible(), inB);
    w->backAction()->trigger();
    EXPECT_EQ(state.currentNode(), folder("A"));
    EXPECT_EQ(firstVisible(), inA);
    EXPECT_EQ(state.forwardHistory().size(), 2u);
    EXPECT_TRUE(w->forwardAction()->isEnabled());

    // Forward with the keyboard puts B back as the window left it.
    QTest::keyClick(w->frame(), Qt::Key_Right, Qt::AltModifier);
    EXPECT_EQ(state.currentNode(), folder("B"));
    EXPECT_EQ(firstVisible(), inB);

    state.setCurrentNode(P({"Pinned"}));
    EXPECT_TRUE(state.forwardHistory().empty());
    EXPECT_FALSE(w->forwardAction()->isEnabled());
}

TEST(AppWindowTest, RevealWithCtrlOpensATabAndWithShiftACascadedWindow) {
    AppHarness h;
    fs::path a = h.file("a.txt", "t");
    h.index.add({a.string(), std::vector<std::string>{"t"}, std::nullopt, std::nullopt});
    h.load();
    AppWindow* w = h.launch();
    ASSERT_TRUE(w);
    BrowserFrame* frame = w->frame();
    const QuickStringSet selection{Q(a.string())};

    Q_EMIT w->rootView()->revealRequested(P({"Tags", "t"}), selection, Qt::ControlModifier);
    ASSERT_EQ(frame->tabCount(), 2);
    AppWindow* tab = frame->currentWindow();
    EXPECT_NE(tab, w);
    EXPECT_EQ(tab->state()->currentNode(), P({"Tags", "t"}));
    // The grid selects the revealed files once the sidebar has caught up.
    EXPECT_TRUE(QTest::qWaitFor([&] { return tab->state()->currentSelection() == selection; }));
    EXPECT_TRUE(w->state()->currentNode().empty());

    activate(frame);
    const size_t frames = h.delegate->frames().size();
    Q_EMIT w->rootView()->revealRequested(P({"Tags", "t"}), selection, Qt::ShiftModifier);
    ASSERT_EQ(h.delegate->frames().size(), frames + 1);
    BrowserFrame* other = h.delegate->frames().back();
    EXPECT_EQ(other->currentWindow()->state()->currentNode(), P({"Tags", "t"}));
    EXPECT_EQ(other->size(), frame->size());
    EXPECT_NE(other->pos(), frame->pos());
    // Shown, in front and taking the keys: a window nobody sees would be lost.
    EXPECT_TRUE(other->isVisible());
    EXPECT_TRUE(QTest::qWaitForWindowActive(other));
    EXPECT_EQ(h.delegate->keyBrowserWindow(), other->currentWindow());
    EXPECT_TRUE(QTest::qWaitFor([&] { return QApplication::focusWidget() == other->currentWindow()->rootView()->tileGridView(); }));
    activate(frame);

    // Without a modifier the window itself goes there.
    Q_EMIT w->rootView()->revealRequested(P({"Tags", "t"}), selection, {});
    EXPECT_EQ(w->state()->currentNode(), P({"Tags", "t"}));
    EXPECT_TRUE(QTest::qWaitFor([&] { return w->state()->currentSelection() == selection; }));
    EXPECT_EQ(frame->tabCount(), 2);

    // A place goes to the map.
    Q_EMIT w->rootView()->revealLocationRequested(2.29, 48.86, {});
    EXPECT_EQ(w->state()->currentNode(), P({"Map"}));
}

QMessageBox* openAlert(AppWindow* w) {
    for (QMessageBox* box : w->findChildren<QMessageBox*>())
        if (box->isVisible()) return box;
    return nullptr;
}

TEST(AppWindowTest, RenameConflictAlertTexts) {
    AppHarness h;
    h.load();
    AppWindow* w = h.launch();
    ASSERT_TRUE(w);
    NodePtr folders = h.delegate->db()->tree().directoriesNode();

    w->state()->renameConflictAlert(folders, DropInfo{}, {{"a.jpg", "a copy.jpg"}});
    QMessageBox* box = openAlert(w);
    ASSERT_TRUE(box);
    EXPECT_EQ(box->text().toStdString(),
              "The file \"a.jpg\" already exists in the destination. Rename it to \"a copy.jpg\" to avoid a conflict?");
    EXPECT_EQ(box->windowModality(), Qt::WindowModal);
    ASSERT_EQ(box->buttons().size(), 2);
    QAbstractButton* cancel = nullptr;
    for (QAbstractButton* b : box->buttons())
        if (b->text() == "Cancel") cancel = b;
    ASSERT_TRUE(box->defaultButton());
    EXPECT_EQ(box->defaultButton()->text(), "Rename");
    ASSERT_TRUE(cancel);
    QTest::mouseClick(cancel, Qt::LeftButton);
    EXPECT_FALSE(openAlert(w));
    EXPECT_TRUE(w->state()->commandStack()->undoStack().empty());

    w->state()->renameConflictAlert(folders, DropInfo{},
                                    {{"c.txt", "c copy.txt"}, {"a.txt", "a copy.txt"}, {"b.txt", "b copy.txt"}});
    box = openAlert(w);
    ASSERT_TRUE(box);
    EXPECT_EQ(box->text().toStdString(),
              "The following files already exist in the destination. Rename them to avoid a conflict?");
    EXPECT_EQ(box->informativeText().toStdString(),
              "a.txt  \u2192  a copy.txt\nb.txt  \u2192  b copy.txt\nc.txt  \u2192  c copy.txt");
    box->reject();
}

// Names are shown as written: markup in a name is no markup, and the list
// keeps one line per file. What a screen reader reads from the labels is
// the oracle: it is the text as shown, tags dropped and lines joined when
// the label takes it for rich text.
TEST(AppWindowTest, RenameConflictAlertShowsNamesAsPlainText) {
    AppHarness h;
    h.load();
    AppWindow* w = h.launch();
    ASSERT_TRUE(w);
    NodePtr folders = h.delegate->db()->tree().directoriesNode();
    auto shownTexts = [](QMessageBox* box) {
        QStringList out;
        for (QLabel* label : box->findChildren<QLabel*>())
            if (QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(label))
                out << accessible->text(QAccessible::Name);
        return out.join(QStringLiteral("\n---\n"));
    };

    w->state()->renameConflictAlert(folders, DropInfo{}, {{"<b>x</b>.jpg", "<b>x</b> copy.jpg"}});
    QMessageBox* box = openAlert(w);
    ASSERT_TRUE(box);
    const QString shown = shownTexts(box);
    EXPECT_TRUE(shown.contains(QStringLiteral("\"<b>x</b>.jpg\""))) << shown.toStdString();
    box->reject();

    w->state()->renameConflictAlert(folders, DropInfo{},
                                    {{"<i>a</i>.txt", "<i>a</i> copy.txt"}, {"b.txt", "b copy.txt"}, {"c.txt", "c copy.txt"}});
    box = openAlert(w);
    ASSERT_TRUE(box);
    const QString list = shownTexts(box);
    EXPECT_TRUE(list.contains(QStringLiteral("<i>a</i>.txt"))) << list.toStdString();
    EXPECT_TRUE(list.contains(QRegularExpression(QStringLiteral("a</i>.txt[^\n]*\n[^\n]*b.txt[^\n]*\n[^\n]*c.txt"))))
        << list.toStdString();
    box->reject();
}

// What a screen reader announces for each control of a window: never an
// empty name ("push button").
TEST(AppWindowTest, EveryControlHasAnAccessibleName) {
    AppHarness h;
    h.load();
    AppWindow* w = h.launch();
    ASSERT_TRUE(w);
    w->state()->setCurrentNode(P({"Map"}));
    w->state()->setMapResults(std::vector<QuickString>{});
    w->rootView()->sidebarView()->searchField()->setText("x");  // shows the clear button
    QApplication::processEvents();
    int checked = 0;
    for (QWidget* control : w->frame()->findChildren<QWidget*>()) {
        if (!control->isVisible()) continue;
        if (!qobject_cast<QAbstractButton*>(control) && !qobject_cast<QLineEdit*>(control)) continue;
        QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(control);
        ASSERT_TRUE(accessible);
        EXPECT_FALSE(accessible->text(QAccessible::Name).trimmed().isEmpty())
            << control->metaObject()->className() << " " << control->objectName().toStdString() << " in "
            << (control->parentWidget() ? control->parentWidget()->metaObject()->className() : "");
        ++checked;
    }
    EXPECT_GE(checked, 6);  // the toolbar's three, the search field and its two buttons
}

// The keyboard starts in the tile grid when a window opens, before or after
// the library has loaded, and each tab gets its own focus back when it
// comes to the front again.
TEST(AppWindowTest, TheKeysGoToTheTileGridOfTheWindowInFront) {
    AppHarness h;
    const fs::path a = h.file("a.txt", "t"), b = h.file("b.txt", "t");
    for (const fs::path& p : {a, b}) h.index.add({p.string(), std::vector<std::string>{"t"}, std::nullopt, std::nullopt});
    AppWindow* first = h.launch();  // opened while the library loads
    ASSERT_TRUE(first);
    h.load();
    auto grid = [](AppWindow* w) { return w->rootView()->tileGridView(); };
    // Keys go where the keyboard sends them: to the widget with the focus.
    auto press = [](Qt::Key key, Qt::KeyboardModifiers modifiers = {}) {
        QWidget* focused = QApplication::focusWidget();
        ASSERT_TRUE(focused);
        QTest::keyClick(focused, key, modifiers);
    };
    auto name = [](QWidget* w) { return w ? std::string(w->metaObject()->className()) : std::string("none"); };
    EXPECT_TRUE(QTest::qWaitFor([&] { return QApplication::focusWidget() == grid(first); }));
    first->state()->setCurrentNode(P({"Tags", "t"}));
    // An arrow key reaches the grid without a click: it selects a file.
    press(Qt::Key_Right);
    EXPECT_EQ(first->state()->currentSelection().size(), 1u);

    // A new tab takes the keys, in its own grid.
    press(Qt::Key_T, Qt::ControlModifier);
    AppWindow* second = first->frame()->currentWindow();
    ASSERT_NE(second, first);
    EXPECT_EQ(QApplication::focusWidget(), grid(second)) << name(QApplication::focusWidget());
    second->rootView()->sidebarView()->setFocus();  // the person moves to the sidebar here

    // Back to the first: its grid again, and its keys act there.
    press(Qt::Key_PageUp, Qt::ControlModifier);
    ASSERT_EQ(first->frame()->currentWindow(), first);
    EXPECT_EQ(QApplication::focusWidget(), grid(first)) << name(QApplication::focusWidget());
    const QuickStringSet before = first->state()->currentSelection();
    press(Qt::Key_Right);
    EXPECT_NE(first->state()->currentSelection(), before);
    // And to the second: the sidebar it was left in.
    press(Qt::Key_PageDown, Qt::ControlModifier);
    ASSERT_EQ(first->frame()->currentWindow(), second);
    QWidget* focused = QApplication::focusWidget();
    EXPECT_TRUE(focused && (focused == second->rootView()->sidebarView() ||
                            second->rootView()->sidebarView()->isAncestorOf(focused)));

    // A new window, after the library has loaded: its grid.
    press(Qt::Key_N, Qt::ControlModifier);
    BrowserFrame* other = h.delegate->frames().back();
    ASSERT_TRUE(QTest::qWaitForWindowActive(other));
    EXPECT_EQ(QApplication::focusWidget(), grid(other->currentWindow()));
}

TEST(AppWindowTest, RenameRepeatsTheDropWithRenaming) {
    AppHarness h;
    const fs::path kept = h.file("dest/a.txt"), moved = h.file("src/a.txt");
    h.load();
    AppWindow* w = h.launch();
    ASSERT_TRUE(w);
    const std::string rel = fs::relative(h.root, testHome()).string();
    const NodePath destPath = P({"Folders", rel.c_str(), "dest"});
    h.delegate->db()->openDirectories({fullNameForNodePath(destPath)});
    ASSERT_TRUE(QTest::qWaitFor([&] { return h.delegate->db()->tree().lookup(destPath) != nullptr; }));
    NodePtr dest = h.delegate->db()->tree().lookup(destPath);

    w->state()->commandStack()->performDrop(dest, DropInfo::forPaths({moved.string()}), false);
    QMessageBox* box = openAlert(w);
    ASSERT_TRUE(box);
    EXPECT_EQ(box->text().toStdString(),
              "The file \"a.txt\" already exists in the destination. Rename it to \"a copy.txt\" to avoid a conflict?");
    QTest::mouseClick(box->defaultButton(), Qt::LeftButton);
    EXPECT_TRUE(fs::exists(h.root / "dest/a copy.txt"));
    EXPECT_TRUE(fs::exists(kept));
    EXPECT_FALSE(fs::exists(moved));
}

TEST(AppWindowTest, TabGoesFromPaneToPaneSkippingTheSearchFieldAndMapButtons) {
    AppHarness h;
    h.load();
    AppWindow* w = h.launch();
    ASSERT_TRUE(w);
    w->state()->setCurrentNode(P({"Map"}));
    w->state()->setMapResults(std::vector<QuickString>{});
    RootView* root = w->rootView();
    QWidget* sidebar = root->sidebarView();
    QWidget* grid = root->tileGridView();
    QWidget* map = root->mapView();
    ASSERT_TRUE(map->isVisible() && grid->isVisible() && sidebar->isVisible());

    // The pane a focused widget belongs to.
    auto paneOf = [&](QWidget* focused) -> QWidget* {
        for (QWidget* pane : {sidebar, grid, map})
            if (focused == pane || pane->isAncestorOf(focused)) return pane;
        return nullptr;
    };
    grid->setFocus();
    for (bool next : {true, false}) {
        std::set<QWidget*> panes;
        for (int i = 0; i < 8; ++i) {
            QTest::keyClick(QApplication::focusWidget(), next ? Qt::Key_Tab : Qt::Key_Backtab,
                            next ? Qt::NoModifier : Qt::ShiftModifier);
            QWidget* focused = QApplication::focusWidget();
            ASSERT_TRUE(focused);
            EXPECT_FALSE(focused->property(AppWindow::skipInKeyViewLoopProperty).toBool())
                << focused->metaObject()->className();
            panes.insert(paneOf(focused));
        }
        EXPECT_TRUE(panes.contains(sidebar) && panes.contains(grid)) << next;
    }

    // A marked view is never chosen, the others still are.
    grid->setProperty(AppWindow::skipInKeyViewLoopProperty, true);
    QWidget* at = sidebar;
    for (int i = 0; i < 8; ++i) {
        at = w->keyViewFrom(at, true);
        ASSERT_TRUE(at);
        EXPECT_NE(at, grid);
    }
}

TEST(AppWindowTest, NewWindowsCascadeFromTheKeyWindow) {
    AppHarness h;
    h.load();
    AppWindow* w = h.launch();
    ASSERT_TRUE(w);
    BrowserFrame* first = w->frame();
    // Well inside the (small) offscreen screen.
    first->resize(400, 300);
    first->move(40, 40);
    QTest::keyClick(first, Qt::Key_N, Qt::ControlModifier);
    ASSERT_EQ(h.delegate->frames().size(), 2u);
    BrowserFrame* second = h.delegate->frames().back();
    ASSERT_TRUE(QTest::qWaitForWindowActive(second));
    EXPECT_EQ(h.delegate->keyBrowserWindow(), second->currentWindow());
    EXPECT_EQ(second->size(), first->size());
    const QPoint step = second->frameGeometry().topLeft() - first->frameGeometry().topLeft();
    EXPECT_GT(step.x(), 0);
    EXPECT_EQ(step.x(), step.y());
}

}  // namespace
}  // namespace qm::test
