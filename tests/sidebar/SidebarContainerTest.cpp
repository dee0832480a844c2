// The sidebar container with its search field, results list and tree, driven
// with real key and mouse events offscreen.
#include <gtest/gtest.h>

#include <QAccessible>
#include <QSignalSpy>
#include <QTest>
#include <QToolButton>

#include "SidebarHarness.h"
#include "desktop/AccessibleEvents.h"
#include "sidebar/SidebarAccessible.h"
#include "sidebar/SidebarContainer.h"
#include "sidebar/SidebarResultsView.h"
#include "sidebar/SidebarScrollState.h"
#include "sidebar/SidebarSearchField.h"
#include "sidebar/SidebarView.h"

using namespace qm;
using namespace qm::test;

namespace {

struct ContainerFixture : SidebarHarness {
    std::unique_ptr<SidebarContainer> sidebar;
    void open(const std::vector<std::vector<std::string>>& tags, int height = 600) {
        loadTags(tags);
        window->setIsExpanded({Q("")});
        sidebar = std::make_unique<SidebarContainer>(window);
        showActive(*sidebar, 260, height);
    }
    ~ContainerFixture() { sidebar.reset(); }
    SidebarSearchField* field() { return sidebar->searchField(); }
    std::vector<std::string> results() {
        std::vector<std::string> out;
        if (sidebar->resultsView()->results())
            for (const auto& r : *sidebar->resultsView()->results()) out.emplace_back(r.node->fullName.utf8());
        return out;
    }
    void typeInField(const char* text) {
        field()->setFocus();
        QTest::keyClicks(field(), QString::fromUtf8(text));
    }
    void fieldKey(int k, Qt::KeyboardModifiers mods = {}) { QTest::keyClick(field(), Qt::Key(k), mods); }
};

const std::vector<std::vector<std::string>> library = {
    {"Work/2024"}, {"Work/2025"}, {"Home"}, {"a/b/c/deep"}, {"Homework"}, {"Red"}};

}  // namespace

TEST(SidebarContainer, SearchShowsResultsAndKeysMoveThroughThem) {
    ContainerFixture f;
    f.open(library);
    EXPECT_TRUE(f.sidebar->isShowingTree());
    f.window->setCurrentNode(P({"Colors"}));
    f.typeInField("work");
    EXPECT_FALSE(f.sidebar->isShowingTree());
    EXPECT_EQ(f.results(), (std::vector<std::string>{"Tags/Work", "Tags/Homework"}));
    EXPECT_EQ(f.current(), "");  // the current node is not among the results
    EXPECT_EQ(SidebarResultsView::headerText(2), "2 matching tags:");
    EXPECT_EQ(SidebarResultsView::headerText(1), "1 matching tag:");
    EXPECT_EQ(SidebarResultsView::headerText(0), "0 matching tags");

    f.fieldKey(Qt::Key_Down);
    EXPECT_EQ(f.current(), "Tags/Work");
    f.fieldKey(Qt::Key_Down);
    EXPECT_EQ(f.current(), "Tags/Homework");
    f.fieldKey(Qt::Key_Down);  // the last stays
    EXPECT_EQ(f.current(), "Tags/Homework");
    f.fieldKey(Qt::Key_Up);
    f.fieldKey(Qt::Key_Up);  // the first stays
    EXPECT_EQ(f.current(), "Tags/Work");
    f.fieldKey(Qt::Key_Down, Qt::ControlModifier);
    EXPECT_EQ(f.current(), "Tags/Homework");
    // The results are accessible rows too.
    QAccessibleInterface* list = QAccessible::queryAccessibleInterface(f.sidebar->resultsView());
    ASSERT_EQ(list->childCount(), 2);
    EXPECT_EQ(list->child(1)->text(QAccessible::Name), "Homework");
    EXPECT_TRUE(list->child(1)->state().selected);
    EXPECT_EQ(list->child(1)->text(QAccessible::Description), "1");
    EXPECT_EQ(list->child(0)->text(QAccessible::Description), "");  // Work lists no file itself
    // The header is the list's description, announced with each new search;
    // the search field carries a name of its own.
    EXPECT_EQ(list->text(QAccessible::Description), "2 matching tags:");
    EXPECT_FALSE(QAccessible::queryAccessibleInterface(f.field())->text(QAccessible::Name).isEmpty());
    int announced = 0;
    AccessibleEvents::setObserver([&](QAccessibleEvent* e) {
        if (e->type() == QAccessible::DescriptionChanged && e->object() == f.sidebar->resultsView())
            ++announced;
    });
    f.field()->clear();
    f.typeInField("homework");
    AccessibleEvents::setObserver(nullptr);
    EXPECT_GT(announced, 0);
    EXPECT_EQ(QAccessible::queryAccessibleInterface(f.sidebar->resultsView())->text(QAccessible::Description),
              "1 matching tag:");

    // Nothing found; blanks only: the results view without results.
    f.field()->clear();
    f.typeInField("zzz");
    EXPECT_TRUE(f.sidebar->resultsView()->results());
    EXPECT_TRUE(f.results().empty());
    f.field()->clear();
    f.window->setCurrentNode(P({"Tags", "Home"}));
    f.typeInField("  ");
    EXPECT_FALSE(f.sidebar->isShowingTree());
    EXPECT_FALSE(f.sidebar->resultsView()->results());
    EXPECT_EQ(f.current(), "");

    // Escape with text clears it and shows the tree; on an empty field it leaves it.
    f.fieldKey(Qt::Key_Escape);
    EXPECT_TRUE(f.field()->text().isEmpty());
    EXPECT_TRUE(f.sidebar->isShowingTree());
    EXPECT_TRUE(f.field()->hasFocus());
    f.fieldKey(Qt::Key_Escape);
    EXPECT_TRUE(f.sidebar->treeView()->hasFocus());
    // Ctrl+F from the tree goes back to the field.
    QTest::keyClick(f.sidebar->treeView(), Qt::Key_F, Qt::ControlModifier);
    EXPECT_TRUE(f.field()->hasFocus());
}

TEST(SidebarContainer, OpeningAResultExpandsOnlyCollapsedAncestorsOnce) {
    ContainerFixture f;
    f.open(library);
    f.window->setIsExpanded({Q(""), Q("Tags"), Q("Tags/a")});
    int changes = 0;
    const Subscription onIsExpanded = f.window->isExpandedChanged.subscribe([&] { ++changes; });
    f.typeInField("deep");
    ASSERT_EQ(f.results(), std::vector<std::string>{"Tags/a/b/c/deep"});
    // Double click on the first result row.
    auto* results = f.sidebar->resultsView();
    int y = int(results->layout().rowTop(1) + results->layout().rowHeight / 2);
    QTest::mouseDClick(results->viewport(), Qt::LeftButton, {}, QPoint(40, y));
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(f.expanded(), (std::vector<std::string>{"", "Tags", "Tags/a", "Tags/a/b", "Tags/a/b/c"}));
    EXPECT_EQ(f.current(), "Tags/a/b/c/deep");
    EXPECT_TRUE(f.sidebar->isShowingTree());
    EXPECT_TRUE(f.field()->text().isEmpty());
    EXPECT_TRUE(f.sidebar->treeView()->rectForPath(P({"Tags", "a", "b", "c", "deep"})));

    // Return in the field opens the first result when nothing is current.
    f.typeInField("home");
    EXPECT_EQ(f.current(), "");
    f.fieldKey(Qt::Key_Return);
    EXPECT_EQ(f.current(), "Tags/Home");
    EXPECT_TRUE(f.sidebar->isShowingTree());
}

TEST(SidebarContainer, ScrollStateRestoresTheCurrentRowsDistanceFromTheTop) {
    ContainerFixture f;
    std::vector<std::vector<std::string>> many;
    for (int i = 0; i < 300; ++i) many.push_back({"tag " + std::to_string(i)});
    f.open(many, 300);
    f.window->setIsExpanded({Q(""), Q("Tags")});
    EXPECT_FALSE(f.sidebar->scrollState().has_value());  // no current node
    f.window->setCurrentNode(P({"Tags", "tag 150"}));
    SidebarView* tree = f.sidebar->treeView();
    auto rect = tree->rectForPath(P({"Tags", "tag 150"}));
    ASSERT_TRUE(rect);
    tree->setScrollOffset(int(rect->top()) - 100);
    std::any saved = f.sidebar->scrollState();
    ASSERT_TRUE(std::any_cast<SidebarScrollState>(&saved));
    EXPECT_EQ(std::any_cast<SidebarScrollState>(saved).relativeScrollOffset, 100);
    tree->setScrollOffset(0);
    f.sidebar->setScrollState(std::any(42));  // foreign values are ignored
    EXPECT_EQ(tree->scrollOffset(), 0);
    f.sidebar->setScrollState(saved);
    EXPECT_EQ(tree->scrollOffset(), int(rect->top()) - 100);
    // Moving the current row off screen scrolls it back into view.
    f.window->setCurrentNode(P({"Tags", "tag 299"}));
    auto last = tree->rectForPath(P({"Tags", "tag 299"}));
    EXPECT_GE(last->top(), tree->scrollOffset());
    EXPECT_LE(last->bottom(), tree->scrollOffset() + tree->viewport()->height());
}

TEST(SidebarContainer, AResultForAPinnedNestedTagOpensThePin) {
    ContainerFixture f;
    std::vector<std::vector<std::string>> travel;
    for (int i = 0; i < 12; ++i) travel.push_back({"Travel/Japan"});
    travel.push_back({"Travel/France"});
    f.open(travel);
    f.mutableTree().addPin(Q("Tags/Travel/Japan"));
    f.db->apply(WhatChanged::children);
    f.typeInField("Japan");
    ASSERT_EQ(f.results(), (std::vector<std::string>{"Pinned/Travel/Japan", "Tags/Travel/Japan"}));
    auto* results = f.sidebar->resultsView();
    auto rowY = [&](int i) { return int(results->layout().rowTop(size_t(i) + 1) + results->layout().rowHeight / 2); };

    // A click shows the pin's files: its node path is Pinned and the whole tag name.
    QTest::mouseClick(results->viewport(), Qt::LeftButton, {}, QPoint(40, rowY(0)));
    EXPECT_EQ(f.window->currentNode(), (NodePath{Q("Pinned"), Q("Travel/Japan")}));
    EXPECT_EQ(f.listed(f.window->currentNode()).size(), 12u);
    EXPECT_TRUE(results->rectForPath(f.window->currentNode()));  // drawn as the current row
    // Down and Up move between the two.
    f.fieldKey(Qt::Key_Down);
    EXPECT_EQ(f.window->currentNode(), P({"Tags", "Travel", "Japan"}));
    f.fieldKey(Qt::Key_Up);
    EXPECT_EQ(f.window->currentNode(), (NodePath{Q("Pinned"), Q("Travel/Japan")}));
    // Return opens it in the tree on a row of its own.
    f.fieldKey(Qt::Key_Return);
    EXPECT_TRUE(f.sidebar->isShowingTree());
    EXPECT_EQ(f.window->currentNode(), (NodePath{Q("Pinned"), Q("Travel/Japan")}));
    EXPECT_TRUE(f.sidebar->treeView()->rectForPath(f.window->currentNode()));

    // With nothing current, Return opens the first result; a double click too.
    f.window->setCurrentNode({});
    f.typeInField("Japan");
    f.fieldKey(Qt::Key_Return);
    EXPECT_EQ(f.window->currentNode(), (NodePath{Q("Pinned"), Q("Travel/Japan")}));
    f.typeInField("Japan");
    QTest::mouseDClick(results->viewport(), Qt::LeftButton, {}, QPoint(40, rowY(0)));
    EXPECT_EQ(f.window->currentNode(), (NodePath{Q("Pinned"), Q("Travel/Japan")}));
    EXPECT_TRUE(f.sidebar->treeView()->rectForPath(f.window->currentNode()));
}

TEST(SidebarContainer, ALibraryChangeDuringASearchRefreshesItAndKeepsTheChosenNode) {
    ContainerFixture f;
    f.open({{"Travel/Japan"}, {"Travel/France"}, {"Home"}});
    f.typeInField("japan");
    ASSERT_EQ(f.results(), std::vector<std::string>{"Tags/Travel/Japan"});
    f.fieldKey(Qt::Key_Down);
    ASSERT_EQ(f.current(), "Tags/Travel/Japan");
    // The person goes to the map; another program then tags a file, which
    // makes a tag.
    f.window->setCurrentNode(P({"Map"}));
    // (The index's live update changes the tree so and tells the library.)
    fs::path food = f.file("ramen.jpg", "Japanese food");
    f.mutableTree().setTags({Q("Tags/Japanese food")}, Q(food.string()));
    f.db->apply(WhatChanged::children | WhatChanged::paths);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !f.sidebar->isRefreshing(); }));
    // The search shows the new tag; the window stays where the person put it.
    EXPECT_EQ(f.results(), (std::vector<std::string>{"Tags/Travel/Japan", "Tags/Japanese food"}));
    EXPECT_EQ(f.current(), "Map");
    EXPECT_FALSE(f.sidebar->isShowingTree());

    // A result the person chose that the change takes away stays current.
    f.fieldKey(Qt::Key_Down);
    f.fieldKey(Qt::Key_Down);
    ASSERT_EQ(f.current(), "Tags/Japanese food");
    f.mutableTree().setTags({}, Q(food.string()));
    f.db->apply(WhatChanged::children | WhatChanged::paths);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !f.sidebar->isRefreshing(); }));
    EXPECT_EQ(f.results(), std::vector<std::string>{"Tags/Travel/Japan"});
    EXPECT_EQ(f.current(), "Tags/Japanese food");
    // Typing, unlike a change of the library, clears a node that is no result.
    f.typeInField("x");
    EXPECT_EQ(f.current(), "");
}

TEST(SidebarContainer, TheNextSearchFindsTheLibraryAsItIsNow) {
    // The tags searched are collected once and kept between keys; every
    // change of the library must reach the next search, focused or not.
    ContainerFixture f;
    f.open({{"Travel/Japan"}, {"Home"}});
    f.typeInField("ja");
    ASSERT_EQ(f.results(), std::vector<std::string>{"Tags/Travel/Japan"});
    f.fieldKey(Qt::Key_Escape);
    ASSERT_TRUE(f.sidebar->isShowingTree());

    // The field keeps the keyboard: the tags are collected again in slices.
    fs::path food = f.file("ramen.jpg", "Japanese food");
    f.mutableTree().setTags({Q("Tags/Japanese food")}, Q(food.string()));
    f.db->apply(WhatChanged::children | WhatChanged::paths);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !f.sidebar->isRefreshing(); }));
    f.typeInField("ja");
    EXPECT_EQ(f.results(), (std::vector<std::string>{"Tags/Japanese food", "Tags/Travel/Japan"}));
    f.fieldKey(Qt::Key_Escape);

    // Elsewhere: collected at the first key, however many changes came between.
    f.sidebar->treeView()->setFocus();
    f.mutableTree().setTags({}, Q(food.string()));
    f.db->apply(WhatChanged::children | WhatChanged::paths);
    f.mutableTree().setTags({Q("Tags/Jam")}, Q(food.string()));
    f.db->apply(WhatChanged::children | WhatChanged::paths);
    EXPECT_FALSE(f.sidebar->isRefreshing());
    f.field()->setText(QStringLiteral("ja"));
    EXPECT_EQ(f.results(), (std::vector<std::string>{"Tags/Jam", "Tags/Travel/Japan"}));

    // Typing queries makes and drops unsaved query nodes, which no search
    // reports; a change typed between them still reaches the search.
    for (int i = 0; i < 12; ++i) f.field()->setText(QString::fromStdString("Home and not x" + std::to_string(i)));
    f.mutableTree().setTags({Q("Tags/Jade")}, Q(food.string()));
    f.db->apply(WhatChanged::children | WhatChanged::paths);
    f.field()->setText(QStringLiteral("ja"));
    EXPECT_EQ(f.results(), (std::vector<std::string>{"Tags/Jade", "Tags/Travel/Japan"}));
}

TEST(SidebarContainer, TheSearchFieldsButtonsHaveNames) {
    ContainerFixture f;
    f.open(library);
    f.typeInField("work");  // the clear button shows with text
    const auto buttons = f.field()->findChildren<QToolButton*>();
    ASSERT_EQ(buttons.size(), 2);
    QStringList names;
    for (QToolButton* b : buttons) {
        QAccessibleInterface* a = QAccessible::queryAccessibleInterface(b);
        ASSERT_TRUE(a);
        EXPECT_FALSE(a->text(QAccessible::Name).isEmpty());
        names << a->text(QAccessible::Name);
    }
    EXPECT_NE(names[0], names[1]);
}
