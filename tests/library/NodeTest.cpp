#include "library/Node.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "library/Tree.h"
#include "support/LogCapture.h"

namespace qm {
namespace {

QuickString L(const std::string& s) {
    return QuickString::literal(s);
}

TEST(NodeTest, ConstructionAndFullNames) {
    NodePtr root = Node::make(NodeKind::none, emptyString());
    NodePtr tags = root->addChild(NodeKind::tagContainer, L("Tags"));
    NodePtr sub = tags->addChild(NodeKind::subTag, L("a"));
    NodePtr empty = sub->addChild(NodeKind::subTag, emptyString());
    EXPECT_EQ(tags->fullName.utf8(), "Tags");
    EXPECT_EQ(sub->fullName.utf8(), "Tags/a");
    EXPECT_EQ(empty->fullName.utf8(), "Tags/a/");
    EXPECT_EQ(Node::make(NodeKind::none, L("x"))->fullName.utf8(), "x");
    // A child is listed by the parent that made it, and links back to it.
    EXPECT_EQ(root->child(L("Tags")), tags);
    EXPECT_EQ(sub->parent(), tags);
    EXPECT_EQ(root->parent(), nullptr);
    EXPECT_EQ(sub->nodePath(), (NodePath{L("Tags"), L("a")}));
    EXPECT_EQ(sub->flags(), NodeFlags::none);
    EXPECT_FALSE(sub->color());
    EXPECT_TRUE(empty->isEmpty());
    EXPECT_FALSE(sub->isEmpty()) << "it lists a child";
    EXPECT_EQ(rawValue(NodeKind::subTag), 5);
    EXPECT_EQ(rawValue(NodeKind::pin), 9);
    EXPECT_TRUE(has(NodeKind::pin, NodeKind::tag));
    EXPECT_FALSE(has(NodeKind::subTag, NodeKind::pinReference));
    EXPECT_FALSE(has(NodeKind::none, NodeKind::none));
    NodeFlags f = NodeFlags::opened | NodeFlags::stale;
    f &= ~NodeFlags::stale;
    EXPECT_EQ(f, NodeFlags::opened);
    EXPECT_EQ(std::string(describe(NodeKind::pin)), "9");
}

TEST(NodeTest, CachesAreClearedOnTheChangedNodeOnly) {
    Tree tree;
    tree.rootNode()->addPath(L("Tags/a/b").components(), L("/1"), {});
    NodePtr a = tree.lookup({L("Tags"), L("a")});
    NodePtr b = tree.lookup({L("Tags"), L("a"), L("b")});
    const auto* tagsSorted = &tree.tagsNode()->sortedChildren();
    a->sortedChildren();
    b->sortedPaths();
    ASSERT_TRUE(tree.tagsNode()->hasSortedChildren() && a->hasSortedChildren() && b->hasSortedPaths());

    // A new grandchild clears its parent's list only.
    tree.rootNode()->addPath(L("Tags/a/c").components(), L("/2"), {});
    EXPECT_TRUE(tree.tagsNode()->hasSortedChildren());
    EXPECT_EQ(&tree.tagsNode()->sortedChildren(), tagsSorted);
    EXPECT_FALSE(a->hasSortedChildren());
    EXPECT_TRUE(b->hasSortedPaths());
    EXPECT_EQ(a->sortedChildren().size(), 2u);

    // Replacing metadata keeps the path list; a new key clears it.
    tree.rootNode()->addPath(L("Tags/a/b").components(), L("/1"),
                             PathMetadata{GPS{.latitude = 4, .longitude = 3}});
    EXPECT_TRUE(b->hasSortedPaths());
    tree.rootNode()->addPath(L("Tags/a/b").components(), L("/0"), {});
    EXPECT_FALSE(b->hasSortedPaths());
    EXPECT_EQ(b->sortedPaths(), (std::vector<QuickString>{L("/0"), L("/1")}));

    tree.rootNode()->removePath(L("Tags/a/b").components(), L("/0"), {});
    EXPECT_FALSE(b->hasSortedPaths());
    a->sortedChildren();
    tree.rootNode()->removePath(L("Tags/a/b").components(), L("/1"), {});  // b vanishes
    EXPECT_FALSE(a->hasSortedChildren());
    EXPECT_EQ(a->sortedChildren().size(), 1u);
    EXPECT_TRUE(tree.tagsNode()->hasSortedChildren());
}

TEST(NodeTest, SortedPathsUseTheNaturalOrder) {
    NodePtr n = Node::make(NodeKind::subTag, L("n"));
    for (const char* p : {"/p/IMG_10.JPG", "/p/img_9.jpg", "/p/IMG_9.JPG", "/p/a", "/p/B", "/p/\xFF", "/p/_"})
        n->insertPath(L(p), {});
    std::vector<std::string> got;
    for (const auto& p : n->sortedPaths())
        got.emplace_back(p.utf8());
    EXPECT_EQ(got, (std::vector<std::string>{"/p/_", "/p/\xFF", "/p/a", "/p/B", "/p/IMG_9.JPG",
                                             "/p/img_9.jpg", "/p/IMG_10.JPG"}));
    EXPECT_TRUE(n->erasePath(L("/p/a")));
    EXPECT_FALSE(n->erasePath(L("/p/a")));
    EXPECT_EQ(n->sortedPaths().size(), 6u);
}

TEST(NodeTest, LookupWalksNamesAndStopsAtPins) {
    Tree tree;
    tree.rootNode()->ensurePath(L("Tags/a/b").components());
    EXPECT_EQ(tree.rootNode()->lookup({}), tree.rootNode());
    EXPECT_EQ(tree.lookup({L("Tags")}), tree.tagsNode());
    EXPECT_EQ(tree.tagsNode()->lookup({L("a"), L("b")}), tree.lookup({L("Tags"), L("a"), L("b")}));
    EXPECT_EQ(tree.lookup({L("Tags"), L("A")}), nullptr);
    EXPECT_EQ(tree.lookup({L("Tags"), L("a"), L("b"), L("c")}), nullptr);
    EXPECT_EQ(tree.lookup({L("tags")}), nullptr);
    EXPECT_EQ(tree.rootNode()->child(L("Map")), tree.mapNode());
    EXPECT_EQ(tree.rootNode()->child(L("Nope")), nullptr);
    EXPECT_EQ(tree.rootNode()->nodePath(), NodePath{});
    EXPECT_EQ(nodePathForFullName(emptyString()), NodePath{});
    EXPECT_EQ(nodePathForFullName(L("Tags/a")), (NodePath{L("Tags"), L("a")}));
    EXPECT_EQ(fullNameForNodePath({L("Pinned"), L("a/b")}).utf8(), "Pinned/a/b");
    EXPECT_TRUE(nodePathStartsWith({L("Folders"), L("x")}, {L("Folders")}));
    EXPECT_FALSE(nodePathStartsWith({L("Folders")}, {L("Folders"), L("x")}));
}

// ---- Sidebar rows against a brute-force walk ----

struct RowOracle {
    std::vector<NodePath> rows;
    void walk(const Node& n, NodePath prefix, const QuickStringSet& expanded) {
        for (const NodePtr& c : n.sortedChildren()) {
            if (has(c->flags(), NodeFlags::hidden)) continue;
            NodePath p = prefix;
            p.push_back(c->name);
            rows.push_back(p);
            if (!c->isPinReference() && expanded.contains(c->fullName)) walk(*c, p, expanded);
        }
    }
};

size_t bruteRowCount(const Node& n, const QuickStringSet& expanded) {
    if (has(n.flags(), NodeFlags::hidden)) return 0;
    if (n.isPinReference() || !expanded.contains(n.fullName)) return 1;
    size_t sum = 1;
    for (const auto& [_, c] : n.children())
        sum += bruteRowCount(*c, expanded);
    return sum;
}

void allNodes(const NodePtr& n, NodePath prefix, std::vector<std::pair<NodePath, NodePtr>>& out) {
    for (const auto& c : n->sortedChildren()) {
        NodePath p = prefix;
        p.push_back(c->name);
        out.emplace_back(p, c);
        allNodes(c, p, out);
    }
}

std::string show(const std::optional<NodePath>& p) {
    if (!p) return "none";
    std::string s;
    for (const auto& c : *p)
        s += "/" + std::string(c.utf8());
    return s;
}

TEST(NodeTest, NeighbourAndVisibleRowCountMatchAWalkOfTheRows) {
    std::mt19937 rng(2024);
    const std::vector<std::string> parts = {"a", "B", "b", "2", "10", "x y", "\xFF"};
    for (int round = 0; round < 150; ++round) {
        Tree tree;
        tree.addColorNodes(TagFormat());
        int tagCount = static_cast<int>(rng() % 25);
        std::vector<std::string> tagNames;
        for (int t = 0; t < tagCount; ++t) {
            std::string name = "Tags";
            size_t depth = 1 + rng() % 4;
            for (size_t d = 0; d < depth; ++d)
                name += "/" + parts[rng() % parts.size()];
            tagNames.push_back(name);
            tree.rootNode()->addPath(L(name).components(), L("/f" + std::to_string(t)), {});
        }
        for (int p = 0; p < 3; ++p)
            if (!tagNames.empty() && rng() % 2) tree.addPin(L(tagNames[rng() % tagNames.size()]));
        std::vector<std::pair<NodePath, NodePtr>> nodes;
        allNodes(tree.rootNode(), {}, nodes);
        QuickStringSet expanded;
        if (rng() % 6 != 0) expanded.insert(emptyString());
        for (auto& [path, node] : nodes) {
            if (rng() % 3 != 0) expanded.insert(node->fullName);
            if (node != tree.starsNode() && rng() % 12 == 0) node->hide();
        }
        if (rng() % 10 == 0)  // now and then a hidden root section
            tree.mapNode()->hide();

        RowOracle oracle;
        bool rootShown = expanded.contains(emptyString());
        if (rootShown) oracle.walk(*tree.rootNode(), {}, expanded);
        const auto& rows = oracle.rows;

        EXPECT_EQ(tree.rootNode()->visibleRowCount(expanded), bruteRowCount(*tree.rootNode(), expanded));
        if (rootShown) {
            EXPECT_EQ(tree.rootNode()->visibleRowCount(expanded), rows.size() + 1);
        }
        for (auto& [path, node] : nodes)
            ASSERT_EQ(node->visibleRowCount(expanded), bruteRowCount(*node, expanded)) << show(path);

        // first and last do not depend on the root being expanded.
        RowOracle full;
        QuickStringSet withRoot = expanded;
        withRoot.insert(emptyString());
        full.walk(*tree.rootNode(), {}, withRoot);
        auto first = tree.rootNode()->neighbour({}, expanded, NeighbourMode::first);
        auto last = tree.rootNode()->neighbour({}, expanded, NeighbourMode::last);
        ASSERT_EQ(show(first), show(full.rows.empty() ? std::nullopt : std::optional(full.rows.front())));
        ASSERT_EQ(show(last), show(full.rows.empty() ? std::nullopt : std::optional(full.rows.back())));

        for (size_t i = 0; i < rows.size(); ++i) {
            auto next = tree.rootNode()->neighbour(rows[i], expanded, NeighbourMode::next);
            auto prev = tree.rootNode()->neighbour(rows[i], expanded, NeighbourMode::previous);
            ASSERT_EQ(show(next), show(i + 1 < rows.size() ? std::optional(rows[i + 1]) : std::nullopt))
                << "next of " << show(rows[i]);
            ASSERT_EQ(show(prev), show(i > 0 ? std::optional(rows[i - 1]) : std::nullopt))
                << "previous of " << show(rows[i]);
        }
        // Paths that name no visible row have no neighbours.
        std::vector<NodePath> invisible;
        for (auto& [path, node] : nodes)
            if (std::find(rows.begin(), rows.end(), path) == rows.end()) invisible.push_back(path);
        invisible.push_back({L("Nope")});
        invisible.push_back({L("Tags"), L("nope")});
        invisible.push_back({});
        for (const NodePath& p : invisible) {
            ASSERT_EQ(tree.rootNode()->neighbour(p, expanded, NeighbourMode::next), std::nullopt) << show(p);
            ASSERT_EQ(tree.rootNode()->neighbour(p, expanded, NeighbourMode::previous), std::nullopt)
                << show(p);
        }
    }
}

TEST(NodeTest, RowsOfAFreshTree) {
    Tree tree;
    QuickStringSet expanded = {emptyString(), L("Pinned"), L("Colors"), L("Folders"), L("Tags")};
    // Pinned, Colors, Folders, Tags, Map: the stars node is hidden.
    EXPECT_EQ(tree.rootNode()->visibleRowCount(expanded), 6u);
    EXPECT_EQ(tree.rootNode()->neighbour({}, expanded, NeighbourMode::first), NodePath{L("Pinned")});
    EXPECT_EQ(tree.rootNode()->neighbour({}, expanded, NeighbourMode::last), NodePath{L("Map")});
    EXPECT_EQ(tree.rootNode()->neighbour({L("Pinned")}, expanded, NeighbourMode::next),
              NodePath{L("Colors")});
    EXPECT_EQ(tree.rootNode()->neighbour({L("Colors")}, expanded, NeighbourMode::previous),
              NodePath{L("Pinned")});
    EXPECT_EQ(tree.rootNode()->neighbour({starString()}, expanded, NeighbourMode::next), std::nullopt);
    EXPECT_EQ(tree.starsNode()->visibleRowCount(expanded), 0u);
    tree.addPin(L("Tags/a"));
    expanded.insert(L("Pinned/a"));
    EXPECT_EQ(tree.pinnedNode()->visibleRowCount(expanded), 2u);
    EXPECT_EQ(tree.rootNode()->neighbour({L("Pinned"), L("a")}, expanded, NeighbourMode::next),
              NodePath{L("Colors")});
    EXPECT_EQ(tree.rootNode()->neighbour({L("Colors")}, expanded, NeighbourMode::previous),
              (NodePath{L("Pinned"), L("a")}));
}

// ---- Folder bookkeeping ----

// In natural order, so a run's random choices are the same in every process
// (hash tables iterate in an order seeded per process).
void allFolders(const NodePtr& n, std::vector<NodePtr>& out) {
    out.push_back(n);
    for (const NodePtr& c : n->sortedChildren()) allFolders(c, out);
}

TEST(NodeTest, FolderBookkeepingKeepsEveryStaleFolderReachable) {
    Tree tree;
    const NodePtr& home = tree.directoriesNode();
    // Found below a folder not yet opened: noted, not read.
    NodePtr a = home->addFoundSubfolder(L("a"));
    EXPECT_EQ(a->kind, NodeKind::directory);
    EXPECT_EQ(a->parent(), home);
    EXPECT_EQ(a->flags(), NodeFlags::foundUnscheduled);
    EXPECT_FALSE(home->hasFlag(NodeFlags::descendantStale));
    // Opening turns what was found into folders to read, and reaches them.
    EXPECT_TRUE(home->markOpened());
    EXPECT_EQ(a->flags(), NodeFlags::stale);
    EXPECT_TRUE(home->hasFlag(NodeFlags::opened) && home->hasFlag(NodeFlags::descendantStale));
    EXPECT_TRUE(tree.rootNode()->hasFlag(NodeFlags::descendantStale));
    EXPECT_FALSE(home->markOpened()) << "nothing left to schedule";
    // Found below an opened folder: read at once.
    a->markRead();
    EXPECT_EQ(a->flags(), NodeFlags::none);
    EXPECT_TRUE(a->markOpened() == false && a->hasFlag(NodeFlags::opened));
    NodePtr b = a->addFoundSubfolder(L("b"));
    EXPECT_EQ(b->flags(), NodeFlags::stale);
    EXPECT_TRUE(a->hasFlag(NodeFlags::descendantStale));

    // A subtree marked stale on its own is reachable from the top.
    NodePtr c = b->addFoundSubfolder(L("c"));
    b->markRead();
    c->markRead();
    for (const NodePtr& n : {home, a, b}) n->markDescendantsRead();
    b->markSubtreeStale();
    EXPECT_TRUE(c->hasFlag(NodeFlags::stale));
    for (const NodePtr& n : {home, a, b}) EXPECT_TRUE(n->hasFlag(NodeFlags::descendantStale)) << n->fullName.utf8();

    // Random changes: a stale folder's ancestors always lead the pass to it,
    // and a whole subtree marked stale is stale throughout.
    std::mt19937 rng(7);
    for (int round = 0; round < 400; ++round) {
        std::vector<NodePtr> folders;
        allFolders(home, folders);
        NodePtr n = folders[rng() % folders.size()];
        switch (rng() % 5) {
            case 0:
                n->addFoundSubfolder(L("f" + std::to_string(round)));
                break;
            case 1:
                n->markStale();
                break;
            case 2:
                n->markRead();
                break;
            case 3:
                n->markOpened();
                break;
            case 4: {
                n->markSubtreeStale();
                std::vector<NodePtr> below;
                allFolders(n, below);
                for (size_t k = 1; k < below.size(); ++k)  // below[0] is n itself
                    ASSERT_TRUE(below[k]->hasFlag(NodeFlags::stale)) << below[k]->fullName.utf8();
                break;
            }
        }
        folders.clear();
        allFolders(home, folders);
        for (const NodePtr& f : folders) {
            if (!f->hasFlag(NodeFlags::stale)) continue;
            for (NodePtr up = f->parent(); up; up = up->parent())
                ASSERT_TRUE(up->hasFlag(NodeFlags::descendantStale))
                    << "round " << round << ": " << up->fullName.utf8() << " above " << f->fullName.utf8();
        }
        for (const NodePtr& f : folders) {
            if (!f->hasFlag(NodeFlags::opened)) continue;
            for (const auto& [_, c] : f->children())
                ASSERT_FALSE(c->hasFlag(NodeFlags::foundUnscheduled))
                    << "an opened folder reads what it finds";
        }
    }
}

TEST(NodeTest, DeeplyNestedTagsDoNotExhaustTheStack) {
    // "/" repeated: every level an empty name, as a hostile tag would give.
    Tree tree;
    std::string name = "Tags" + std::string(5000, '/');
    QuickString full = QuickString::bytes(name);
    qm::test::LogCapture log1;
    EXPECT_EQ(tree.addTag(full, L("/deep")) & WhatChanged::children, WhatChanged::children);
    NodePtr deepest = tree.lookup(full.components());
    ASSERT_TRUE(deepest);
    EXPECT_EQ(deepest->fullName, full);
    QuickStringSet expanded;
    for (NodePtr n = deepest; n; n = n->parent())
        expanded.insert(n->fullName);
    EXPECT_EQ(tree.tagsNode()->visibleRowCount(expanded), 5001u);
    EXPECT_EQ(tree.tagsNode()->neighbour({}, expanded, NeighbourMode::last)->size(), 5000u);
    EXPECT_EQ(tree.removeTag(full, L("/deep"), {}), WhatChanged::children | WhatChanged::paths);
    log1.release();
    EXPECT_TRUE(tree.tagsNode()->children().empty());
    // And a whole deep tree going away at once.
    auto doomed = std::make_unique<Tree>();
    doomed->rootNode()->ensurePath(full.components());
    doomed.reset();
}

}  // namespace
}  // namespace qm
