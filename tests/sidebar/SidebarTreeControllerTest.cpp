// The tree's decisions without a widget: row moves against the tree's own
// neighbour walk, expansion with and without the subtree, clicks, the rename
// and menu rules, and which node an inline edit applies to.
#include <gtest/gtest.h>

#include "SidebarHarness.h"
#include "sidebar/SidebarLayout.h"
#include "sidebar/SidebarTreeController.h"

using namespace qm;
using namespace qm::test;

namespace {

using Key = SidebarTreeKey;

struct ControllerFixture : SidebarHarness {
    std::unique_ptr<SidebarTreeController> controller;
    void open(const std::vector<std::vector<std::string>>& tags) {
        loadTags(tags);
        controller = std::make_unique<SidebarTreeController>(window, db);
        // The view does this on the window's events.
        subscriptions.push_back(window->isExpandedChanged.subscribe([this] { controller->invalidateRows(); }));
        subscriptions.push_back(window->currentNodeChanged.subscribe([this] { controller->invalidateCurrentRow(); }));
        subscriptions.push_back(db->childrenChanged.subscribe([this] { controller->invalidateRows(); }));
    }
    ~ControllerFixture() {
        subscriptions.clear();
        controller.reset();
    }
    // Every full name with children below (and including) a node.
    std::vector<std::string> subtreeWithChildren(const NodePath& path) {
        std::vector<std::string> out;
        std::function<void(const Node&)> walk = [&](const Node& n) {
            if (!n.sortedChildren().empty()) out.emplace_back(n.fullName.utf8());
            for (const NodePtr& c : n.sortedChildren()) walk(*c);
        };
        walk(*tree().lookup(path));
        std::sort(out.begin(), out.end());
        return out;
    }
};

const std::vector<std::vector<std::string>> library = {
    {"Work/2024/Q1"}, {"Work/2024/Q2"}, {"Work/2025"}, {"Home"}, {"Red"}, {"a/b/c"}};

}  // namespace

TEST(SidebarTreeController, UpAndDownFollowTheTreesNeighbourWalk) {
    ControllerFixture f;
    f.open(library);
    // The tree's walk starts below its root, which counts as expanded.
    f.window->setIsExpanded({Q(""), Q("Tags"), Q("Tags/Work"), Q("Tags/Work/2024"), Q("Tags/a"), Q("Colors")});
    f.mutableTree().addPin(Q("Tags/Work/2024"));
    f.db->apply(WhatChanged::children);
    f.window->setExpanded(Q("Pinned"), true);
    const Node& root = *f.tree().rootNode();
    const QuickStringSet& expanded = f.window->isExpanded();

    // From nothing: Down takes the first row, Up the last.
    EXPECT_TRUE(f.controller->key(Key::down, false, false).reveal);
    EXPECT_EQ(f.window->currentNode(), root.neighbour({}, expanded, NeighbourMode::first));
    f.window->setCurrentNode({});
    f.controller->key(Key::up, false, false);
    EXPECT_EQ(f.window->currentNode(), root.neighbour({}, expanded, NeighbourMode::last));

    // Every visible row, both ways, against the tree's own walk (the oracle
    // follows node paths, the controller the laid-out rows).
    size_t rows = f.controller->rows().size();
    ASSERT_GT(rows, 10u);
    for (size_t i = 0; i < rows; ++i) {
        const NodePath at = f.controller->rows()[i].node->nodePath();
        for (Key k : {Key::down, Key::up}) {
            f.window->setCurrentNode(at);
            auto outcome = f.controller->key(k, false, false);
            auto expected = root.neighbour(at, expanded, k == Key::down ? NeighbourMode::next : NeighbourMode::previous);
            EXPECT_EQ(fullNameForNodePath(f.window->currentNode()).utf8(), fullNameForNodePath(expected.value_or(at)).utf8())
                << fullNameForNodePath(at).utf8() << (k == Key::down ? " down" : " up");
            ASSERT_TRUE(outcome.reveal);
            EXPECT_EQ(f.controller->rows()[outcome.reveal->first].node->nodePath(), f.window->currentNode());
        }
    }
    // Ctrl with the arrows: the first and the last row.
    f.window->setCurrentNode(P({"Tags", "Home"}));
    f.controller->key(Key::down, true, false);
    EXPECT_EQ(f.window->currentNode(), root.neighbour({}, expanded, NeighbourMode::last));
    f.controller->key(Key::up, true, false);
    EXPECT_EQ(f.window->currentNode(), root.neighbour({}, expanded, NeighbourMode::first));
}

TEST(SidebarTreeController, LeftRightAndTheirSubtreeForms) {
    ControllerFixture f;
    f.open(library);
    f.window->setIsExpanded({});
    int changes = 0;
    const Subscription onIsExpanded = f.window->isExpandedChanged.subscribe([&] { ++changes; });
    f.window->setCurrentNode(P({"Tags"}));
    // Right opens the row alone and shows its rows.
    auto outcome = f.controller->key(Key::right, false, false);
    EXPECT_EQ(f.expanded(), std::vector<std::string>{"Tags"});
    ASSERT_TRUE(outcome.reveal);
    EXPECT_EQ(outcome.reveal->count, f.tree().lookup(P({"Tags"}))->visibleRowCount(f.window->isExpanded()));
    EXPECT_EQ(outcome.expansionChanged, f.tree().lookup(P({"Tags"})).get());
    // Its subtree form opens every row below too, even on an open row, in one change.
    changes = 0;
    f.controller->key(Key::right, false, true);
    EXPECT_EQ(changes, 1);
    auto all = f.expanded();
    for (const std::string& name : f.subtreeWithChildren(P({"Tags"})))
        EXPECT_NE(std::find(all.begin(), all.end(), name), all.end()) << name;
    // Left with it closes them all; Left without it on a closed row goes up.
    f.controller->key(Key::left, false, true);
    for (const std::string& name : f.expanded()) EXPECT_FALSE(name.starts_with("Tags")) << name;
    f.window->setIsExpanded({Q("Tags")});
    f.window->setCurrentNode(P({"Tags", "Work"}));
    f.controller->key(Key::left, false, false);
    EXPECT_EQ(f.current(), "Tags");
    // "*" is the subtree form of Right; on a leaf nothing changes.
    f.controller->key(Key::expandSubtree, false, false);
    EXPECT_TRUE(f.window->isExpanded().contains(Q("Tags/Work/2024")));
    changes = 0;
    f.window->setCurrentNode(P({"Tags", "Home"}));
    f.controller->key(Key::right, false, true);
    f.controller->key(Key::left, false, true);
    EXPECT_EQ(changes, 0);
    EXPECT_EQ(f.current(), "Tags");  // Left on a leaf goes to its parent
}

TEST(SidebarTreeController, ClicksTypeAheadRenameAndMenuRules) {
    ControllerFixture f;
    f.open(library);
    f.window->setIsExpanded({Q("Tags"), Q("Colors")});
    auto row = [&](const char* name) { return *f.controller->rows().indexOfPath(*f.tree().rootNode(), nodePathForFullName(Q(name))); };
    using Click = SidebarTreeController::Click;
    const double boundary = SidebarLayout::disclosureBoundary(1);
    EXPECT_EQ(f.controller->leftClick(row("Tags/Work"), boundary - 1, true), Click::toggled);
    EXPECT_TRUE(f.window->isExpanded().contains(Q("Tags/Work/2024")));  // the whole branch
    EXPECT_EQ(f.current(), "");
    EXPECT_EQ(f.controller->leftClick(row("Tags/Home"), boundary - 1, false), Click::none);
    EXPECT_EQ(f.controller->leftClick(row("Tags/Home"), boundary, false), Click::selected);
    EXPECT_EQ(f.current(), "Tags/Home");
    // Only a row under a tag-holding parent drags out as a tag.
    EXPECT_EQ(f.controller->draggedTag(row("Tags/Work/2024")), std::optional<std::string>("Work/2024"));
    EXPECT_FALSE(f.controller->draggedTag(row("Colors/Red")));

    // Typing finds a row without making it current; Return commits it.
    auto typed = f.controller->typeCharacters("q");
    ASSERT_TRUE(typed.reveal);
    EXPECT_EQ(f.controller->typeNavigation().node->fullName.utf8(), "Tags/Work/2024/Q1");
    EXPECT_EQ(f.current(), "Tags/Home");
    f.controller->key(Key::commit, false, false);
    EXPECT_EQ(f.current(), "Tags/Work/2024/Q1");
    // A saved query is found by the name its row shows, not by its expression
    // (whose first letter, "x", is on no row).
    ASSERT_TRUE(f.db->saveQuery("xq or Home", "Zebra files"));
    f.window->setIsExpanded({Q("Tags"), Q("Colors"), Q("Queries")});
    f.controller->invalidateRows();
    f.controller->setTypeNavigationClock({});  // a new pattern
    f.controller->typeCharacters("zeb");
    ASSERT_TRUE(f.controller->typeNavigation().node);
    EXPECT_EQ(f.controller->typeNavigation().node->displayName().utf8(), "Zebra files");
    f.controller->setTypeNavigationClock({});
    EXPECT_FALSE(f.controller->typeCharacters("x").reveal);

    // F2: tags under a tag-holding parent and folders below the section.
    auto renameAt = [&](const NodePath& p) {
        f.window->setCurrentNode(p);
        return f.controller->key(Key::rename, false, false).trigger;
    };
    EXPECT_EQ(renameAt(P({"Tags", "Work"})), SidebarAction::renameCurrentTag);
    EXPECT_EQ(renameAt(P({"Tags"})), std::nullopt);
    EXPECT_EQ(renameAt(P({"Colors", "Red"})), std::nullopt);
    EXPECT_EQ(renameAt(P({"Folders"})), std::nullopt);
    f.window->setCurrentNode(P({"Tags", "Work"}));
    auto menu = f.controller->menu();
    ASSERT_FALSE(menu.empty());
    EXPECT_EQ(menu.front().title, "New Subtag");
}

TEST(SidebarTreeController, AnEditAppliesToTheNodeItWasOpenedFor) {
    ControllerFixture f;
    f.open(library);
    f.window->setIsExpanded({Q("Tags")});
    f.window->setCurrentNode(P({"Tags", "Work"}));
    auto edit = f.controller->beginEdit(SidebarAction::renameCurrentTag);
    ASSERT_TRUE(edit);
    EXPECT_EQ(edit->prompt.initialText, "Work");
    EXPECT_FALSE(f.controller->beginEdit(SidebarAction::deleteCurrentTag));  // needs no name
    // The window moves on (a history key) before the name is confirmed.
    f.window->setCurrentNode(P({"Tags", "Home"}));
    EXPECT_EQ(f.controller->commit(*edit, "Job"), "");
    EXPECT_TRUE(f.tree().lookup(P({"Tags", "Job", "2025"})));
    EXPECT_TRUE(f.tree().lookup(P({"Tags", "Home"})));
    EXPECT_EQ(rawTags(f.root / "f2.txt"), "Job/2025");

    // New Tag edits the row below its node, one level in.
    f.window->setCurrentNode(P({"Tags", "Home"}));
    auto add = f.controller->beginEdit(SidebarAction::addNewTag);
    ASSERT_TRUE(add);
    auto place = f.controller->editorPlace(*add);
    ASSERT_TRUE(place);
    auto homeRow = f.controller->rows().indexOfPath(*f.tree().rootNode(), P({"Tags", "Home"}));
    EXPECT_EQ(place->row, *homeRow + 1);
    EXPECT_EQ(place->depth, 2);

    // When its node goes (another program untagged the file), the edit is dead
    // and confirming it changes nothing.
    f.mutableTree().setTags({}, Q((f.root / "f3.txt").string()));
    f.db->apply(WhatChanged::children | WhatChanged::paths);
    EXPECT_FALSE(f.tree().lookup(P({"Tags", "Home"})));
    EXPECT_FALSE(f.controller->isAlive(*add));
    EXPECT_FALSE(f.controller->editorPlace(*add));
    size_t undo = f.undoTitles().size();
    EXPECT_EQ(f.controller->commit(*add, "Sub"), "");
    EXPECT_EQ(f.undoTitles().size(), undo);
    EXPECT_FALSE(f.tree().lookup(P({"Tags", "Home", "Sub"})));
}
