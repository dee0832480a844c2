// The sidebar tree widget driven offscreen with real events over a loaded
// library: clicks, keys, type-ahead, editing through the command stack,
// accessibility and a few drawn pixels.
#include <gtest/gtest.h>

#include <QAccessible>
#include <QLineEdit>
#include <QMessageBox>
#include <QSignalSpy>
#include <QTest>

#include "SidebarHarness.h"
#include "desktop/AccessibleEvents.h"
#include "sidebar/SidebarView.h"

using namespace qm;
using namespace qm::test;
using namespace std::chrono_literals;

namespace {

struct ViewFixture : SidebarHarness {
    std::unique_ptr<SidebarView> view;
    std::chrono::steady_clock::time_point now = std::chrono::steady_clock::time_point{} + 100s;

    void open(const std::vector<std::vector<std::string>>& tags) {
        loadTags(tags);
        view = std::make_unique<SidebarView>(window);
        window->setIsExpanded({});
        view->setTypeNavigationClock([this] { return now; });
        showActive(*view);
        view->setFocus();
    }
    ~ViewFixture() { view.reset(); }

    size_t row(const std::string& fullName) {
        auto r = view->rows().indexOfPath(*tree().rootNode(), nodePathForFullName(Q(fullName)));
        EXPECT_TRUE(r) << fullName;
        return r.value_or(0);
    }
    int rowY(size_t r) {
        return int(view->layout().rowTop(r) + view->layout().rowHeight / 2) - view->scrollOffset();
    }
    void click(const std::string& fullName, int x, Qt::KeyboardModifiers mods = {}) {
        QTest::mouseClick(view->viewport(), Qt::LeftButton, mods, QPoint(x, rowY(row(fullName))));
    }
    void key(int k, Qt::KeyboardModifiers mods = {}) { QTest::keyClick(view.get(), Qt::Key(k), mods); }
    void type(const char* text) { QTest::keyClicks(view.get(), QString::fromUtf8(text)); }
    // Opens a naming editor on the current node, types and confirms.
    void edit(SidebarAction action, const QString& text) {
        view->trigger(action);
        ASSERT_TRUE(view->nameEditor());
        view->nameEditor()->setText(text);
        QTest::keyClick(view->nameEditor(), Qt::Key_Return);
        mainQueue().runPending();
    }
};

const std::vector<std::vector<std::string>> library = {
    {"Work/2024"}, {"Work/2025", "Home"}, {"x/"}, {"Red"}, {"Work"}};

}  // namespace

TEST(SidebarView, ClicksDisclosureBoundaryAndAltClickSubtree) {
    ViewFixture f;
    f.open(library);
    int changes = 0;
    const Subscription onIsExpanded = f.window->isExpandedChanged.subscribe([&] { ++changes; });

    // Left of the name on a row with children toggles it without selecting it.
    f.click("Tags", int(SidebarLayout::disclosureBoundary(0)) - 1);
    EXPECT_EQ(f.expanded(), std::vector<std::string>{"Tags"});
    EXPECT_EQ(f.current(), "");
    // At the boundary the click selects.
    f.click("Tags", int(SidebarLayout::disclosureBoundary(0)));
    EXPECT_EQ(f.current(), "Tags");
    // Left of the name on a childless row does nothing at all.
    f.click("Tags/Home", int(SidebarLayout::disclosureBoundary(1)) - 1);
    EXPECT_EQ(f.current(), "Tags");
    EXPECT_EQ(f.expanded(), std::vector<std::string>{"Tags"});
    f.click("Tags/Home", int(SidebarLayout::disclosureBoundary(1)) + 3);
    EXPECT_EQ(f.current(), "Tags/Home");

    // Alt+click collapses the whole subtree, then expands it: one change each.
    changes = 0;
    f.click("Tags", 10, Qt::AltModifier);
    EXPECT_EQ(changes, 1);
    EXPECT_TRUE(f.expanded().empty());
    f.click("Tags", 10, Qt::AltModifier);
    EXPECT_EQ(changes, 2);
    auto all = f.expanded();
    for (const char* n : {"Tags", "Tags/Work", "Tags/x"})
        EXPECT_NE(std::find(all.begin(), all.end(), n), all.end()) << n;
    EXPECT_TRUE(f.view->rows().indexOfPath(*f.tree().rootNode(), P({"Tags", "Work", "2024"})));
    // Clicking below the last row hits nothing.
    QTest::mouseClick(f.view->viewport(), Qt::LeftButton, {}, QPoint(100, f.view->viewport()->height() - 2));
    EXPECT_EQ(f.current(), "Tags/Home");
}

TEST(SidebarView, ArrowKeysHomeEndAndTypeAhead) {
    ViewFixture f;
    f.open(library);
    f.window->setCurrentNode(P({"Tags"}));
    f.key(Qt::Key_Right);
    EXPECT_EQ(f.expanded(), std::vector<std::string>{"Tags"});
    f.key(Qt::Key_Down);
    EXPECT_EQ(f.current(), "Tags/Home");
    f.key(Qt::Key_Down);
    EXPECT_EQ(f.current(), "Tags/Work");
    f.key(Qt::Key_Left);  // Work is collapsed: go to the parent
    EXPECT_EQ(f.current(), "Tags");
    f.key(Qt::Key_Left);  // Tags is expanded: collapse it
    EXPECT_TRUE(f.expanded().empty());
    f.key(Qt::Key_Down, Qt::ControlModifier);
    EXPECT_EQ(f.current(), "Map");
    f.key(Qt::Key_Up, Qt::ControlModifier);
    EXPECT_EQ(f.current(), "Pinned");
    f.key(Qt::Key_Up);  // the first row stays
    EXPECT_EQ(f.current(), "Pinned");

    // Type-ahead: "ta" from Pinned finds Tags; the pause rule uses the injected clock.
    f.type("t");
    f.now += 300ms;
    f.type("a");
    ASSERT_TRUE(f.view->typeNavigation().node);
    EXPECT_EQ(f.view->typeNavigation().node->fullName.utf8(), "Tags");
    EXPECT_EQ(f.current(), "Pinned");  // only Return or an arrow commits
    f.now += 900ms;
    f.type("m");
    EXPECT_EQ(f.view->typeNavigation().node->fullName.utf8(), "Map");
    f.key(Qt::Key_Escape);
    EXPECT_FALSE(f.view->typeNavigation().node);
    f.type("c");
    f.key(Qt::Key_Return);
    EXPECT_EQ(f.current(), "Colors");
    EXPECT_FALSE(f.view->typeNavigation().node);
    // Ctrl+letter is not type-ahead.
    f.type("x");
    f.view->setTypeNavigationClock([&] { return f.now; });
    QTest::keyClick(f.view.get(), Qt::Key_F, Qt::ControlModifier);
    EXPECT_FALSE(f.view->typeNavigation().node);
}

TEST(SidebarView, RenameAndNewTagThroughTheEditor) {
    ViewFixture f;
    f.open(library);
    QSignalSpy refused(f.view.get(), &SidebarView::nameRefused);
    f.window->setExpanded(Q("Tags"), true);
    f.window->setCurrentNode(P({"Tags", "Work"}));

    // The same name, blanks and Escape run nothing.
    f.edit(SidebarAction::renameCurrentTag, "Work");
    f.edit(SidebarAction::renameCurrentTag, "  \t ");
    f.view->trigger(SidebarAction::renameCurrentTag);
    EXPECT_EQ(f.view->nameEditor()->text(), "Work");
    EXPECT_EQ(f.view->nameEditor()->placeholderText(), "Enter the new name for the tag \"Work\":");
    QTest::keyClick(f.view->nameEditor(), Qt::Key_Escape);
    EXPECT_FALSE(f.view->nameEditor());
    EXPECT_TRUE(f.undoTitles().empty());

    // A comma cannot be stored in the tag attribute; a slash is refused too.
    f.edit(SidebarAction::renameCurrentTag, "a,b");
    f.edit(SidebarAction::addNewTag, "c,d");
    f.edit(SidebarAction::renameCurrentTag, "a/b");
    ASSERT_EQ(refused.count(), 3);
    EXPECT_EQ(refused[0][0].toString(), "The tag name cannot contain a \",\" character");
    EXPECT_EQ(refused[2][0].toString(), "The tag name cannot contain a \"/\" character");
    EXPECT_TRUE(f.view->findChild<QMessageBox*>("sidebarNameRefusal"));
    EXPECT_TRUE(f.undoTitles().empty());
    EXPECT_EQ(rawTags(f.root / "f0.txt"), "Work/2024");

    // A subtag that exists is selected, nothing runs.
    f.edit(SidebarAction::addNewTag, " 2024 ");
    EXPECT_EQ(f.current(), "Tags/Work/2024");
    EXPECT_TRUE(f.undoTitles().empty());

    // A new subtag: made, the parent expanded, undoable.
    f.window->setCurrentNode(P({"Tags", "Work"}));
    f.edit(SidebarAction::addNewTag, "2026");
    EXPECT_EQ(f.current(), "Tags/Work/2026");
    EXPECT_TRUE(f.tree().lookup(P({"Tags", "Work", "2026"})));
    EXPECT_EQ(f.undoTitles(), std::vector<std::string>{"Create Tag"});
    auto exp = f.expanded();
    EXPECT_NE(std::find(exp.begin(), exp.end(), "Tags/Work"), exp.end());
    f.stack().undo();
    EXPECT_FALSE(f.tree().lookup(P({"Tags", "Work", "2026"})));

    // Renaming rewrites the files' attributes; undo puts them back.
    f.window->setCurrentNode(P({"Tags", "Work"}));
    f.edit(SidebarAction::renameCurrentTag, "Job");
    EXPECT_TRUE(f.tree().lookup(P({"Tags", "Job", "2024"})));
    EXPECT_EQ(rawTags(f.root / "f0.txt"), "Job/2024");
    f.stack().undo();
    EXPECT_EQ(rawTags(f.root / "f0.txt"), "Work/2024");
    EXPECT_FALSE(f.tree().lookup(P({"Tags", "Job"})));
}

TEST(SidebarView, UndecodableTagNamesShowReplacementAndCanBeRenamed) {
    ViewFixture f;
    fs::path bad = f.file("bad.txt", "caf\xe9");
    f.load({{bad, {"caf\xe9"}}});
    f.view = std::make_unique<SidebarView>(f.window);
    showActive(*f.view);
    f.window->setExpanded(Q("Tags"), true);
    size_t r = f.row("Tags/caf\xe9");
    auto* list = QAccessible::queryAccessibleInterface(f.view.get());
    ASSERT_TRUE(list);
    EXPECT_EQ(list->child(int(r))->text(QAccessible::Name), QString::fromUtf8("caf\xef\xbf\xbd"));
    f.window->setCurrentNode(P({"Tags", "caf\xe9"}));
    f.edit(SidebarAction::renameCurrentTag, QString::fromUtf8("caf\xef\xbf\xbd"));  // unchanged text
    EXPECT_TRUE(f.undoTitles().empty());
    f.edit(SidebarAction::renameCurrentTag, "cafe");
    EXPECT_EQ(rawTags(bad), "cafe");
    f.stack().undo();
    EXPECT_EQ(rawTags(bad), "caf\xe9");
}

TEST(SidebarView, AccessibleRowsNamesStatesAndCounts) {
    ViewFixture f;
    f.open(library);
    f.window->setExpanded(Q("Tags"), true);
    f.window->setCurrentNode(P({"Tags", "Work"}));
    QAccessibleInterface* list = QAccessible::queryAccessibleInterface(f.view.get());
    ASSERT_TRUE(list);
    EXPECT_EQ(list->role(), QAccessible::Tree);
    ASSERT_EQ(list->childCount(), int(f.view->rows().size()));
    QAccessibleInterface* tags = list->child(int(f.row("Tags")));
    EXPECT_EQ(tags->text(QAccessible::Name), "Tags");
    EXPECT_EQ(tags->role(), QAccessible::TreeItem);
    EXPECT_TRUE(tags->state().expanded);
    EXPECT_FALSE(tags->state().collapsed);
    QAccessibleInterface* work = list->child(int(f.row("Tags/Work")));
    EXPECT_TRUE(work->state().collapsed);
    EXPECT_TRUE(work->state().selected);
    EXPECT_TRUE(work->state().focused);
    EXPECT_EQ(work->text(QAccessible::Description), "1");  // one file tagged Work itself
    EXPECT_EQ(list->indexOfChild(work), int(f.row("Tags/Work")));
    EXPECT_EQ(list->focusChild(), work);
    QAccessibleInterface* empty = list->child(int(f.row("Tags/x")));
    EXPECT_TRUE(empty->state().collapsed);
    // Rows follow the tree: expanding adds children.
    int before = list->childCount();
    f.window->setExpanded(Q("Tags/Work"), true);
    EXPECT_EQ(list->childCount(), before + 2);
}

TEST(SidebarView, DrawsCurrentRowInSelectedTextAndEmptyNames) {
    ViewFixture f;
    f.open(library);
    QPalette pal;
    pal.setColor(QPalette::Base, Qt::white);
    pal.setColor(QPalette::Text, Qt::black);
    pal.setColor(QPalette::Highlight, QColor(0, 0, 200));
    pal.setColor(QPalette::HighlightedText, QColor(255, 255, 0));
    f.view->setPalette(pal);
    f.window->setIsExpanded({Q("Tags"), Q("Tags/x")});
    f.window->setCurrentNode(P({"Tags", "Home"}));
    f.view->setFocus();
    ASSERT_TRUE(f.view->hasKeyFocus());
    QImage image = f.view->viewport()->grab().toImage();
    auto countColour = [&](size_t row, int x0, int x1, auto pred) {
        int n = 0;
        int top = int(f.view->layout().rowTop(row)), h = int(f.view->layout().rowHeight);
        for (int y = top; y < top + h; ++y)
            for (int x = x0; x < x1; ++x) n += pred(image.pixelColor(x, y));
        return n;
    };
    auto yellowish = [](QColor c) { return c.red() > 150 && c.green() > 150 && c.blue() < 120; };
    auto inked = [](QColor c) { return c.lightness() < 200; };
    size_t home = f.row("Tags/Home"), work = f.row("Tags/Work"), empty = f.row("Tags/x/");
    EXPECT_GT(countColour(home, 35, 120, yellowish), 10);  // the current row's text in the selected colour
    EXPECT_EQ(countColour(work, 35, 120, yellowish), 0);
    EXPECT_GT(countColour(work, 35, 120, inked), 10);
    // "(empty)" is drawn, at half alpha: grey, not black.
    auto grey = [](QColor c) { return c.lightness() > 60 && c.lightness() < 220; };
    EXPECT_GT(countColour(empty, 45, 110, grey), 10);
    EXPECT_EQ(countColour(empty, 45, 110, [](QColor c) { return c.lightness() < 40; }), 0);
    // Without key focus the current row uses the plain text colour.
    f.view->clearFocus();
    image = f.view->viewport()->grab().toImage();
    EXPECT_EQ(countColour(home, 35, 120, yellowish), 0);
}

TEST(SidebarView, AccessibleActionsEventsAndKeyboardContextMenu) {
    ViewFixture f;
    f.open(library);
    struct Seen {
        QAccessible::Event type;
        int child;
    };
    std::vector<Seen> events;
    AccessibleEvents::setObserver([&](QAccessibleEvent* e) { events.push_back({e->type(), e->child()}); });
    auto saw = [&](QAccessible::Event type, int child) {
        return std::any_of(events.begin(), events.end(), [&](const Seen& s) { return s.type == type && s.child == child; });
    };

    QAccessibleInterface* list = QAccessible::queryAccessibleInterface(f.view.get());
    ASSERT_TRUE(list);
    // Expanding through the accessible action expands the row and says so.
    QAccessibleInterface* tags = list->child(int(f.row("Tags")));
    QAccessibleActionInterface* actions = tags->actionInterface();
    ASSERT_TRUE(actions);
    ASSERT_TRUE(actions->actionNames().contains("Expand"));
    EXPECT_FALSE(actions->actionNames().contains("Collapse"));
    actions->doAction("Expand");
    EXPECT_EQ(f.expanded(), std::vector<std::string>{"Tags"});
    EXPECT_TRUE(saw(QAccessible::StateChanged, int(f.row("Tags"))));
    EXPECT_TRUE(saw(QAccessible::ObjectReorder, -1));
    tags = list->child(int(f.row("Tags")));  // the rows were rebuilt
    EXPECT_TRUE(tags->state().expanded);
    EXPECT_TRUE(tags->actionInterface()->actionNames().contains("Collapse"));

    // Activating a row makes its node current; the view has focus, so the row
    // is announced as focused and selected.
    events.clear();
    QAccessibleInterface* work = list->child(int(f.row("Tags/Work")));
    work->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
    EXPECT_EQ(f.current(), "Tags/Work");
    EXPECT_TRUE(saw(QAccessible::Focus, int(f.row("Tags/Work"))));
    EXPECT_TRUE(saw(QAccessible::Selection, int(f.row("Tags/Work"))));
    // A leaf offers only activation.
    QAccessibleInterface* home = list->child(int(f.row("Tags/Home")));
    EXPECT_EQ(home->actionInterface()->actionNames(), QStringList{QAccessibleActionInterface::pressAction()});

    // Keys move the focus too, and collapsing by key is announced.
    events.clear();
    f.key(Qt::Key_Up);
    EXPECT_TRUE(saw(QAccessible::Focus, int(f.row("Tags/Home"))));
    f.window->setCurrentNode(P({"Tags"}));
    events.clear();
    f.key(Qt::Key_Left);
    EXPECT_TRUE(f.expanded().empty());
    EXPECT_TRUE(saw(QAccessible::StateChanged, int(f.row("Tags"))));
    EXPECT_TRUE(list->child(int(f.row("Tags")))->state().collapsed);

    // Shift+F10 and the Menu key open the current row's context menu; the
    // keys of its entries work without a mouse.
    f.key(Qt::Key_F10, Qt::ShiftModifier);
    ASSERT_TRUE(f.view->contextMenu());
    EXPECT_TRUE(f.view->contextMenu()->isVisible());
    EXPECT_FALSE(f.view->contextMenu()->actions().isEmpty());
    f.view->contextMenu()->hide();
    f.key(Qt::Key_F10);  // F10 alone is not the menu key
    EXPECT_FALSE(f.view->contextMenu()->isVisible());
    f.key(Qt::Key_Menu);
    EXPECT_TRUE(f.view->contextMenu()->isVisible());
    f.view->contextMenu()->hide();

    // A colour-label row says its label's name, not only its coloured dot.
    f.window->setExpanded(Q("Colors"), true);
    ASSERT_TRUE(f.tree().lookup(P({"Colors", "Red"}))->color());
    EXPECT_EQ(list->child(int(f.row("Colors/Red")))->text(QAccessible::Name), "Red");

    AccessibleEvents::setObserver(nullptr);
}

TEST(SidebarView, HomeEndAndPageKeysScrollWithoutMovingTheCurrentRow) {
    std::vector<std::vector<std::string>> many;
    for (int i = 0; i < 200; ++i) many.push_back({"Tag " + std::to_string(i)});
    ViewFixture f;
    f.open(many);
    f.window->setExpanded(Q("Tags"), true);
    f.window->setCurrentNode(P({"Tags", "Tag 5"}));
    const int page = f.view->viewport()->height();
    const int bottom = int(std::ceil(f.view->contentHeight())) - page;
    ASSERT_GT(bottom, 2 * page);

    f.key(Qt::Key_End);
    EXPECT_EQ(f.view->scrollOffset(), bottom);
    f.key(Qt::Key_PageUp);
    EXPECT_EQ(f.view->scrollOffset(), bottom - page);
    f.key(Qt::Key_Home);
    EXPECT_EQ(f.view->scrollOffset(), 0);
    f.key(Qt::Key_PageDown);
    EXPECT_EQ(f.view->scrollOffset(), page);
    EXPECT_EQ(f.current(), "Tags/Tag 5");
}

TEST(SidebarView, ShiftOpensAndClosesAWholeBranchByKeyAndClick) {
    ViewFixture f;
    f.open({{"Work/2024/Q1"}, {"Work/2025"}, {"Home"}});
    int changes = 0;
    const Subscription onIsExpanded = f.window->isExpandedChanged.subscribe([&] { ++changes; });
    const std::vector<std::string> branch = {"Tags", "Tags/Work", "Tags/Work/2024"};
    auto opened = [&] {
        auto e = f.expanded();
        return std::all_of(branch.begin(), branch.end(),
                           [&](const std::string& n) { return std::find(e.begin(), e.end(), n) != e.end(); });
    };
    // Shift+click on the triangle (Alt+click is the window manager's).
    f.click("Tags", 10, Qt::ShiftModifier);
    EXPECT_TRUE(opened());
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(f.current(), "");
    f.click("Tags", 10, Qt::ShiftModifier);
    EXPECT_TRUE(f.expanded().empty());
    // Shift+Right and Shift+Left on the current row (Alt+arrows are Back and Forward).
    f.window->setCurrentNode(P({"Tags"}));
    f.key(Qt::Key_Right, Qt::ShiftModifier);
    EXPECT_TRUE(opened());
    EXPECT_EQ(f.current(), "Tags");
    f.key(Qt::Key_Left, Qt::ShiftModifier);
    EXPECT_TRUE(f.expanded().empty());
    // "*" opens the branch too; it is not type-ahead.
    f.key(Qt::Key_Asterisk);
    EXPECT_TRUE(opened());
    EXPECT_FALSE(f.view->typeNavigation().node);
    EXPECT_TRUE(f.view->rows().indexOfPath(*f.tree().rootNode(), P({"Tags", "Work", "2024", "Q1"})));
}

TEST(SidebarView, NameEditorStaysWithItsNodeAndOnScreen) {
    std::vector<std::vector<std::string>> many = library;
    for (int i = 0; i < 80; ++i) many.push_back({"Tag " + std::to_string(i)});
    ViewFixture f;
    f.open(many);
    f.window->setExpanded(Q("Tags"), true);

    // The window moves on while a name is typed (a history key, the map's
    // shortcut): the edit is abandoned, not applied to the new current node.
    f.window->setCurrentNode(P({"Tags", "Work"}));
    f.view->trigger(SidebarAction::renameCurrentTag);
    ASSERT_TRUE(f.view->nameEditor());
    EXPECT_EQ(f.view->nameEditorPath(), P({"Tags", "Work"}));
    f.view->nameEditor()->setText("Job");
    f.window->setCurrentNode(P({"Tags", "Home"}));
    if (QLineEdit* still = f.view->nameEditor()) QTest::keyClick(still, Qt::Key_Return);
    mainQueue().runPending();
    EXPECT_FALSE(f.view->nameEditor());
    EXPECT_TRUE(f.tree().lookup(P({"Tags", "Home"})));
    EXPECT_FALSE(f.tree().lookup(P({"Tags", "Job"})));
    EXPECT_TRUE(f.undoTitles().empty());

    // Its node goes away (another program untagged the file): the editor goes too.
    f.view->trigger(SidebarAction::renameCurrentTag);
    ASSERT_TRUE(f.view->nameEditor());
    f.mutableTree().setTags({}, Q((f.root / "f1.txt").string()));
    f.db->apply(WhatChanged::children | WhatChanged::paths);
    ASSERT_FALSE(f.tree().lookup(P({"Tags", "Home"})));
    EXPECT_FALSE(f.view->nameEditor());
    EXPECT_TRUE(f.view->hasFocus());

    // New Subtag from the row at the bottom of the viewport: the editor, on
    // the row below, is scrolled into view; scrolling carries it along.
    const std::string last = "Tags/Tag 40";
    f.window->setCurrentNode(nodePathForFullName(Q(last)));
    const size_t r = f.row(last);
    const int viewportHeight = f.view->viewport()->height();
    f.view->setScrollOffset(int(f.view->layout().rowTop(r) + f.view->layout().rowHeight) - viewportHeight);
    ASSERT_LE(f.rowY(r) + int(f.view->layout().rowHeight / 2), viewportHeight);
    f.view->trigger(SidebarAction::addNewTag);
    QLineEdit* editor = f.view->nameEditor();
    ASSERT_TRUE(editor);
    EXPECT_GE(editor->geometry().top(), 0);
    EXPECT_LE(editor->geometry().bottom(), viewportHeight);
    EXPECT_GT(editor->geometry().top(), f.rowY(r));  // below its node's row
    const int top = editor->geometry().top();
    f.view->setScrollOffset(f.view->scrollOffset() - 40);
    EXPECT_EQ(editor->geometry().top(), top + 40);
    EXPECT_EQ(f.view->nameEditorPath(), nodePathForFullName(Q(last)));
    editor->setText("Sub");
    QTest::keyClick(editor, Qt::Key_Return);
    mainQueue().runPending();
    EXPECT_TRUE(f.tree().lookup(P({"Tags", "Tag 40", "Sub"})));
}
