// A person who uses only the keyboard: from the start of the program, through
// the sidebar, the grid, its context menu and the "Add Tag…" prompt, undo, to
// a circle search on the map. Only key events change anything; the results
// are read back from the files' extended attributes, the real objects and
// what assistive technology is told.

#include <QAccessible>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>

#include "AppHarness.h"
#include "app/RootView.h"
#include "library/DB.h"
#include "library/Tree.h"
#include "map/MapView.h"
#include "map/ResultsView.h"
#include "sidebar/SidebarContainer.h"
#include "tilegrid/AddTagPrompt.h"
#include "tilegrid/TileGridView.h"

namespace qm::test {
namespace {

using Action = AppDelegate::Action;

// Whether the keyboard focus is in the pane (the pane itself or a child).
bool focusIsIn(QWidget* pane) {
    QWidget* f = QApplication::focusWidget();
    return f && (f == pane || pane->isAncestorOf(f));
}

// Presses Tab on the focused widget until the focus is in the pane; a few
// presses go round the whole window.
bool tabTo(QWidget* pane) {
    for (int i = 0; i < 8 && !focusIsIn(pane); ++i) {
        QWidget* f = QApplication::focusWidget();
        if (!f) return false;
        QTest::keyClick(f, Qt::Key_Tab);
    }
    return focusIsIn(pane);
}

void press(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    QWidget* f = QApplication::focusWidget();
    ASSERT_TRUE(f);
    QTest::keyClick(f, key, modifiers);
}

// Opens the focused view's context menu with Shift+F10 and picks the item
// with the arrow keys and Return.
void chooseFromContextMenu(const QString& title) {
    press(Qt::Key_F10, Qt::ShiftModifier);
    ASSERT_TRUE(QTest::qWaitFor([] { return qobject_cast<QMenu*>(QApplication::activePopupWidget()); }));
    auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
    for (int i = 0; i < 12 && !(menu->activeAction() && menu->activeAction()->text() == title); ++i)
        QTest::keyClick(menu, Qt::Key_Down);
    ASSERT_TRUE(menu->activeAction());
    ASSERT_EQ(menu->activeAction()->text(), title);
    QTest::keyClick(menu, Qt::Key_Return);
}

TEST(KeyboardJourneyTest, TagUndoAndSearchTheMapWithTheKeyboardAlone) {
    AppHarness h;
    // Two photos of a trip near where the map starts (0°, 0°), one far away.
    fs::path a = h.file("photos/a.jpg", "Trip"), b = h.file("photos/b.jpg", "Trip");
    fs::path far = h.file("photos/far.jpg", "Trip");
    h.index.add({a.string(), std::vector<std::string>{"Trip"}, 0.5, 0.5});
    h.index.add({b.string(), std::vector<std::string>{"Trip"}, -0.3, -0.6});
    h.index.add({far.string(), std::vector<std::string>{"Trip"}, -40, 150});

    // 1. Start: the library loads, with its positions on the map.
    h.load();
    DB& db = *h.delegate->db();
    int grids = 0;
    const Subscription onGrid = db.gridChanged.subscribe([&] { ++grids; });
    h.index.gpsQuery()->finish();
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return db.tree().mapNode()->resolvedPaths().size() == 3 && grids > 0; }));
    AppWindow* w = h.launch();
    ASSERT_TRUE(w);
    ASSERT_TRUE(QTest::qWaitFor([&] { return QApplication::focusWidget() != nullptr; }));
    RootView* root = w->rootView();
    const std::shared_ptr<BrowserState>& state = w->state();

    // 2. Tab to the sidebar; 3. type the tag's name and open it with Return.
    ASSERT_TRUE(tabTo(root->sidebarView()));
    QTest::keyClicks(QApplication::focusWidget(), "trip");
    press(Qt::Key_Return);
    ASSERT_EQ(state->currentNode(), P({"Tags", "Trip"}));

    // 4. Tab to the grid; select the first two files.
    TileGridView* grid = root->tileGridView();
    ASSERT_TRUE(tabTo(grid));
    press(Qt::Key_Home);
    press(Qt::Key_Right);
    press(Qt::Key_Right, Qt::ShiftModifier);
    ASSERT_EQ(state->currentSelection(), (QuickStringSet{Q(a.string()), Q(b.string())}));

    // 5. The context menu from the keyboard, "Add Tag…" chosen with the arrows.
    chooseFromContextMenu("Add Tag…");

    ASSERT_TRUE(QTest::qWaitFor([] {
        auto* prompt = qobject_cast<AddTagPrompt*>(QApplication::activeModalWidget());
        return prompt && QApplication::focusWidget() == prompt->lineEdit();
    }));
    auto* prompt = qobject_cast<AddTagPrompt*>(QApplication::activeModalWidget());
    EXPECT_EQ(prompt->findChild<QLabel*>()->text(), "Enter the tag to add to the 2 selected files:");
    QTest::keyClicks(QApplication::focusWidget(), "Holiday/2026");
    press(Qt::Key_Return);
    EXPECT_EQ(rawTags(a), "Holiday/2026,Trip");
    EXPECT_EQ(rawTags(b), "Holiday/2026,Trip");
    EXPECT_EQ(rawTags(far), "Trip");
    NodePtr tagged = db.tree().lookup(P({"Tags", "Holiday", "2026"}));
    ASSERT_TRUE(tagged);
    EXPECT_EQ(tagged->resolvedPaths().size(), 2u);
    // The keyboard is back in the grid, on the same node and files, and the
    // Edit menu (which follows the key window) offers the undo.
    ASSERT_TRUE(QTest::qWaitFor([&] { return focusIsIn(grid); }));
    h.delegate->validateMenuItems();
    EXPECT_EQ(h.delegate->action(Action::undo)->text(), "Undo Tag 2 Files");
    EXPECT_EQ(state->currentNode(), P({"Tags", "Trip"}));
    EXPECT_EQ(state->currentSelection().size(), 2u);

    // 6. Ctrl+Z takes the tag off again.
    press(Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(rawTags(a), "Trip");
    EXPECT_EQ(rawTags(b), "Trip");
    EXPECT_FALSE(db.tree().lookup(P({"Tags", "Holiday"})));

    // 7. Ctrl+Shift+M shows the map; Tab reaches it; C places a circle at
    // its centre, and the count of files in it is announced.
    press(Qt::Key_M, Qt::ControlModifier | Qt::ShiftModifier);
    ASSERT_EQ(state->currentNode(), db.tree().mapNode()->nodePath());
    MapView* map = root->mapView();
    ASSERT_TRUE(QTest::qWaitFor([&] { return map->isVisible(); }));
    ASSERT_TRUE(tabTo(map));
    press(Qt::Key_C);
    ASSERT_TRUE(map->placedCircle());
    QAccessibleInterface* results = QAccessible::queryAccessibleInterface(map->resultsView()->label());
    ASSERT_TRUE(results);
    EXPECT_TRUE(QTest::qWaitFor([&] { return results->text(QAccessible::Name) == "2 results"; }))
        << results->text(QAccessible::Name).toStdString();
    ASSERT_TRUE(state->mapResults());
    EXPECT_EQ(state->mapResults()->size(), 2u);
}

// A name the sidebar refuses, typed and dismissed from the keyboard: the
// keyboard comes back to the tree, not to nowhere.
TEST(KeyboardJourneyTest, ARefusedTagNameGivesTheKeyboardBackToTheSidebar) {
    AppHarness h;
    fs::path a = h.file("a.txt", "Trip");
    h.index.add({a.string(), std::vector<std::string>{"Trip"}, std::nullopt, std::nullopt});
    h.load();
    AppWindow* w = h.launch();
    ASSERT_TRUE(w);
    ASSERT_TRUE(QTest::qWaitFor([&] { return QApplication::focusWidget() != nullptr; }));
    QWidget* sidebar = w->rootView()->sidebarView();
    ASSERT_TRUE(tabTo(sidebar));
    QTest::keyClicks(QApplication::focusWidget(), "trip");
    press(Qt::Key_Return);
    ASSERT_EQ(w->state()->currentNode(), P({"Tags", "Trip"}));

    chooseFromContextMenu("Rename Tag");
    ASSERT_TRUE(QTest::qWaitFor([] { return qobject_cast<QLineEdit*>(QApplication::focusWidget()); }));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(QApplication::focusWidget(), "Trip, 2026");
    press(Qt::Key_Return);

    ASSERT_TRUE(QTest::qWaitFor([] { return qobject_cast<QMessageBox*>(QApplication::activeModalWidget()); }));
    QTest::keyClick(QApplication::activeModalWidget(), Qt::Key_Return);
    EXPECT_TRUE(QTest::qWaitFor([&] { return focusIsIn(sidebar); }));
    EXPECT_EQ(rawTags(a), "Trip");
}

}  // namespace
}  // namespace qm::test
