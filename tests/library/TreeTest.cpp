#include "library/Tree.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/TagFormat.h"
#include "library/TreeNames.h"
#include "support/LogCapture.h"

namespace qm {
namespace {

QuickString L(const std::string& s) {
    return QuickString::literal(s);
}

std::vector<std::string> names(const std::vector<NodePtr>& nodes) {
    std::vector<std::string> out;
    for (const auto& n : nodes)
        out.emplace_back(n->name.utf8());
    return out;
}

QuickStringSet setOf(std::initializer_list<const char*> list) {
    QuickStringSet s;
    for (const char* x : list)
        s.insert(L(x));
    return s;
}

TEST(TreeTest, NewTreeHasTheSixSectionsInOrder) {
    Tree tree;
    EXPECT_EQ(names(tree.rootNode()->sortedChildren()),
              (std::vector<std::string>{"Pinned", "\xE2\x98\x85", "Colors", "Folders", "Tags", "Map"}));
    EXPECT_EQ(tree.rootNode()->kind, NodeKind::none);
    EXPECT_TRUE(tree.rootNode()->name.empty());
    EXPECT_TRUE(tree.rootNode()->fullName.empty());
    EXPECT_EQ(tree.pinnedNode()->kind, NodeKind::none);
    EXPECT_EQ(tree.colorsNode()->kind, NodeKind::none);
    EXPECT_EQ(tree.directoriesNode()->kind, NodeKind::directory);
    EXPECT_EQ(tree.tagsNode()->kind, NodeKind::tagContainer);
    EXPECT_EQ(tree.starsNode()->kind, NodeKind::tag);
    EXPECT_EQ(tree.starsNode()->flags(), NodeFlags::hidden);
    EXPECT_EQ(tree.mapNode()->kind, NodeKind::none);
    EXPECT_EQ(tree.tagsNode()->fullName.utf8(), "Tags");  // no leading "/" under the root
    EXPECT_EQ(tree.starsNode()->fullName, starString());
    for (const auto& n : tree.rootNode()->sortedChildren()) {
        EXPECT_EQ(n->flags() == NodeFlags::hidden, n == tree.starsNode());
        EXPECT_EQ(n->parent(), tree.rootNode());
    }
    EXPECT_TRUE(tree.tags().empty());

    // Pinned first and Map last whatever else the root holds.
    for (const char* extra : {"0", "AAA", "Pinnee", "Maq", "zzz", "_", "\xFF"})
        tree.rootNode()->addChild(NodeKind::none, L(extra));
    auto sorted = names(tree.rootNode()->sortedChildren());
    EXPECT_EQ(sorted.front(), "Pinned");
    EXPECT_EQ(sorted.back(), "Map");
    // Elsewhere "Pinned" and "Map" are ordinary names.
    tree.addTag(L("Tags/Pinned"), L("/p"));
    tree.addTag(L("Tags/Map"), L("/p"));
    tree.addTag(L("Tags/A"), L("/p"));
    EXPECT_EQ(names(tree.tagsNode()->sortedChildren()), (std::vector<std::string>{"A", "Map", "Pinned"}));
}

TEST(TreeTest, ColorNodesFromTheFormat) {
    Tree tree;
    TagFormat format({"Red", "Black", "Blue"}, {{1, 0, 0, 1}, {0, 0, 0, 1}, {0, 0, 1, 1}});
    tree.addColorNodes(format);
    EXPECT_EQ(names(tree.colorsNode()->sortedChildren()), (std::vector<std::string>{"Blue", "Red"}));
    NodePtr red = tree.colorsNode()->child(L("Red"));
    ASSERT_TRUE(red);
    EXPECT_EQ(red->kind, NodeKind::tag);
    EXPECT_EQ(red->fullName.utf8(), "Colors/Red");
    EXPECT_EQ(red->color(), (Color{1, 0, 0, 1}));
    EXPECT_FALSE(tree.tagsNode()->color().has_value());
}

TEST(TreeTest, SubTagsAppearAndVanishWithTheirFiles) {
    Tree tree;
    auto comps = L("Tags/a/b").components();
    QuickStringSet keep;
    EXPECT_EQ(tree.rootNode()->addPath(comps, L("/f"), {}), WhatChanged::children | WhatChanged::paths);
    NodePtr a = tree.lookup({L("Tags"), L("a")});
    NodePtr b = tree.lookup({L("Tags"), L("a"), L("b")});
    ASSERT_TRUE(a && b);
    EXPECT_EQ(a->kind, NodeKind::subTag);
    EXPECT_EQ(b->kind, NodeKind::subTag);
    EXPECT_EQ(b->fullName.utf8(), "Tags/a/b");
    EXPECT_EQ(b->nodePath(), (NodePath{L("Tags"), L("a"), L("b")}));
    EXPECT_EQ(b->parent(), a);
    EXPECT_TRUE(a->paths().empty());
    EXPECT_TRUE(b->paths().contains(L("/f")));

    // Listing it again reports nothing, whatever the metadata.
    EXPECT_EQ(tree.rootNode()->addPath(comps, L("/f"), PathMetadata{GPS{.latitude = 2, .longitude = 1}}),
              WhatChanged::none);
    EXPECT_EQ(b->paths().at(L("/f")).gps, (GPS{.latitude = 2, .longitude = 1}));

    EXPECT_EQ(tree.rootNode()->removePath(comps, L("/f"), keep), WhatChanged::children | WhatChanged::paths);
    EXPECT_FALSE(tree.lookup({L("Tags"), L("a")}));
    EXPECT_TRUE(tree.tagsNode()->children().empty());
    // The removed node is still whole for whoever holds it.
    EXPECT_EQ(b->fullName.utf8(), "Tags/a/b");
    EXPECT_EQ(tree.rootNode()->removePath(comps, L("/f"), keep), WhatChanged::none);

    // A sibling keeps the shared parent; `keep` protects a named node.
    tree.rootNode()->addPath(L("Tags/a/b").components(), L("/1"), {});
    tree.rootNode()->addPath(L("Tags/a/c").components(), L("/2"), {});
    EXPECT_EQ(tree.rootNode()->removePath(L("Tags/a/b").components(), L("/1"), keep),
              WhatChanged::children | WhatChanged::paths);
    EXPECT_TRUE(tree.lookup({L("Tags"), L("a"), L("c")}));
    EXPECT_EQ(tree.rootNode()->removePath(L("Tags/a/c").components(), L("/2"), setOf({"Tags/a"})),
              WhatChanged::children | WhatChanged::paths);
    EXPECT_TRUE(tree.lookup({L("Tags"), L("a")}));
    EXPECT_FALSE(tree.lookup({L("Tags"), L("a"), L("c")}));
    // A path not listed removes nothing, even below an empty node.
    EXPECT_EQ(tree.rootNode()->removePath(L("Tags/a").components(), L("/9"), keep), WhatChanged::none);
    EXPECT_TRUE(tree.lookup({L("Tags"), L("a")}));
    // A missing step changes nothing.
    EXPECT_EQ(tree.rootNode()->removePath(L("Tags/zz/b").components(), L("/1"), keep), WhatChanged::none);
}

TEST(TreeTest, ColourStarsAndFolderNodesStayWhenEmptied) {
    Tree tree;
    tree.addColorNodes(TagFormat());
    EXPECT_EQ(tree.addTag(L("Colors/Red"), L("/x")), WhatChanged::paths);
    EXPECT_EQ(tree.addTag(starString(), L("/x")), WhatChanged::paths);
    EXPECT_EQ(tree.removeTag(L("Colors/Red"), L("/x"), {}), WhatChanged::paths);
    EXPECT_EQ(tree.removeTag(starString(), L("/x"), {}), WhatChanged::paths);
    EXPECT_TRUE(tree.colorsNode()->child(L("Red")));
    EXPECT_TRUE(tree.rootNode()->child(starString()));
    EXPECT_TRUE(tree.tags().empty());

    NodePtr docs = tree.directoriesNode()->addChild(NodeKind::directory, L("Documents"));
    EXPECT_EQ(docs->fullName.utf8(), "Folders/Documents");
    docs->insertPath(L("/home/u/Documents/a.txt"), {});
    EXPECT_EQ(
        tree.rootNode()->removePath(L("Folders/Documents").components(), L("/home/u/Documents/a.txt"), {}),
        WhatChanged::paths);
    EXPECT_EQ(tree.directoriesNode()->child(L("Documents")), docs);
}

TEST(TreeTest, TagBookkeepingAndLogLines) {
    Tree tree;
    const QuickString path = L("/home/u/My \"photo\".jpg");
    qm::test::LogCapture log1;
    EXPECT_EQ(tree.addTag(L("Tags/Work/2024"), path), WhatChanged::children | WhatChanged::paths);
    EXPECT_EQ(tree.addTag(L("Tags/Work/2024"), path), WhatChanged::none);  // no line either
    EXPECT_EQ(tree.tagsFor(path), setOf({"Tags/Work/2024"}));
    EXPECT_EQ(tree.removeTag(L("Tags/Other"), path, {}), WhatChanged::none);
    EXPECT_EQ(tree.removeTag(L("Tags/Work/2024"), path, {}), WhatChanged::children | WhatChanged::paths);
    EXPECT_EQ(tree.removeTag(L("Tags/Work/2024"), path, {}), WhatChanged::none);
    std::string out = log1.release();
    EXPECT_EQ(out,
              "[tree] Added \"Tags/Work/2024\" to \"/home/u/My \"photo\".jpg\"\n"
              "[tree] Removed \"Tags/Work/2024\" from \"/home/u/My \"photo\".jpg\"\n");
    EXPECT_FALSE(tree.tags().contains(path));
    EXPECT_TRUE(tree.tagsFor(path).empty());
    EXPECT_TRUE(tree.tagsNode()->children().empty());

    // A byte path shows with U+FFFD in the log but is kept as bytes.
    qm::test::LogCapture log2;
    QuickString bad = QuickString::bytes("/x/caf\xE9");
    tree.addTag(L("Tags/t"), bad);
    EXPECT_EQ(log2.release(), "[tree] Added \"Tags/t\" to \"/x/caf\xEF\xBF\xBD\"\n");
    EXPECT_TRUE(tree.lookup({L("Tags"), L("t")})->paths().contains(bad));
    EXPECT_FALSE(tree.lookup({L("Tags"), L("t")})->paths().contains(L("/x/caf\xEF\xBF\xBD")));
}

TEST(TreeTest, SetTagsChangesOnlyTheDifference) {
    Tree tree;
    tree.addColorNodes(TagFormat());
    const QuickString p = L("/p");
    EXPECT_EQ(tree.setTags({}, p), WhatChanged::none);
    EXPECT_FALSE(tree.tags().contains(p));

    qm::test::LogCapture log3;
    EXPECT_EQ(tree.setTags(setOf({"Tags/b", "Colors/Red", "Tags/a"}), p),
              WhatChanged::children | WhatChanged::paths);
    EXPECT_EQ(tree.tagsFor(p), setOf({"Tags/b", "Colors/Red", "Tags/a"}));
    EXPECT_EQ(tree.setTags(setOf({"Tags/b", "Colors/Red", "Tags/a"}), p), WhatChanged::none);
    EXPECT_EQ(tree.setTags(setOf({"Tags/b", "Tags/c"}), p), WhatChanged::children | WhatChanged::paths);
    std::string out = log3.release();
    EXPECT_EQ(out,
              "[tree] Added \"Colors/Red\" to \"/p\"\n"
              "[tree] Added \"Tags/a\" to \"/p\"\n"
              "[tree] Added \"Tags/b\" to \"/p\"\n"
              "[tree] Removed \"Colors/Red\" from \"/p\"\n"
              "[tree] Removed \"Tags/a\" from \"/p\"\n"
              "[tree] Added \"Tags/c\" to \"/p\"\n");
    EXPECT_EQ(tree.tagsFor(p), setOf({"Tags/b", "Tags/c"}));
    EXPECT_FALSE(tree.tagsNode()->child(L("a")));
    EXPECT_TRUE(tree.colorsNode()->child(L("Red"))->paths().empty());

    // Only paths change when the nodes exist already.
    tree.addTag(L("Tags/b"), L("/q"));
    qm::test::LogCapture log4;
    EXPECT_EQ(tree.setTags(setOf({"Tags/b"}), p), WhatChanged::children | WhatChanged::paths);  // c vanishes
    EXPECT_EQ(tree.setTags({}, L("/q")), WhatChanged::paths);  // b still lists /p
    log4.release();
    EXPECT_EQ(tree.setTags({}, p), WhatChanged::children | WhatChanged::paths);
    EXPECT_TRUE(tree.tags().empty());
    EXPECT_TRUE(tree.tagsNode()->children().empty());
}

TEST(TreeTest, PinsReferToTagsAndResolveTheirPaths) {
    Tree tree;
    EXPECT_FALSE(tree.addPin(L("Colors/Red")));
    EXPECT_FALSE(tree.addPin(L("Tags")));
    EXPECT_FALSE(tree.addPin(L("TagsX/a")));
    EXPECT_TRUE(tree.addPin(L("Tags/a/b")));
    EXPECT_FALSE(tree.addPin(L("Tags/a/b")));
    EXPECT_TRUE(tree.isPinned(L("Tags/a/b")));
    EXPECT_FALSE(tree.isPinned(L("Tags/a")));
    EXPECT_FALSE(tree.isPinned(L("Pinned/a/b")));

    NodePtr pin = tree.lookup({L("Pinned"), L("a/b")});
    ASSERT_TRUE(pin);
    EXPECT_EQ(pin->kind, NodeKind::pin);
    EXPECT_EQ(pin->fullName.utf8(), "Pinned/a/b");
    EXPECT_EQ(pin->nodePath(), (NodePath{L("Pinned"), L("a/b")}));
    // A pin of a missing tag resolves to nothing.
    EXPECT_EQ(pin->pinTarget(), nullptr);
    EXPECT_TRUE(pin->resolvedPaths().empty());
    EXPECT_TRUE(pin->sortedPaths().empty());
    EXPECT_FALSE(pin->isEmpty());

    qm::test::LogCapture log5;
    tree.addTag(L("Tags/a/b"), L("/f10"));
    tree.addTag(L("Tags/a/b"), L("/f9"));
    log5.release();
    NodePtr target = tree.lookup({L("Tags"), L("a"), L("b")});
    EXPECT_EQ(pin->pinTarget(), target);
    EXPECT_EQ(&pin->resolvedPaths(), &target->paths());
    EXPECT_EQ(pin->pathCount(), 2u);
    EXPECT_EQ(pin->sortedPaths(), (std::vector<QuickString>{L("/f9"), L("/f10")}));
    EXPECT_TRUE(pin->paths().empty());
    EXPECT_TRUE(pin->sortedChildren().empty());
    // lookup started at a pin finds nothing, not even itself; nor passes through one.
    EXPECT_EQ(pin->lookup({}), nullptr);
    EXPECT_EQ(tree.lookup({L("Pinned"), L("a/b"), L("x")}), nullptr);
    // Changes never touch a pin.
    EXPECT_EQ(pin->addPath({}, L("/z"), {}), WhatChanged::none);
    EXPECT_EQ(pin->ensurePath(L("x").components()), WhatChanged::none);
    EXPECT_EQ(tree.rootNode()->addPath({L("Pinned"), L("a/b"), L("x")}, L("/z"), {}), WhatChanged::none);
    EXPECT_EQ(tree.rootNode()->addPath({L("Pinned"), L("a/b")}, L("/z"), {}), WhatChanged::none);
    EXPECT_TRUE(pin->children().empty());
    EXPECT_TRUE(pin->paths().empty());

    EXPECT_FALSE(tree.removePin(L("Tags/a")));
    EXPECT_TRUE(tree.removePin(L("Tags/a/b")));
    EXPECT_FALSE(tree.removePin(L("Tags/a/b")));
    EXPECT_FALSE(tree.isPinned(L("Tags/a/b")));
    EXPECT_TRUE(tree.pinnedNode()->children().empty());
}

TEST(TreeTest, EnsureAndPruneEmpty) {
    Tree tree;
    EXPECT_EQ(tree.rootNode()->ensurePath(L("Tags/new/sub").components()), WhatChanged::children);
    EXPECT_EQ(tree.rootNode()->ensurePath(L("Tags/new/sub").components()), WhatChanged::none);
    EXPECT_TRUE(tree.lookup({L("Tags"), L("new"), L("sub")}));
    EXPECT_TRUE(tree.lookup({L("Tags"), L("new"), L("sub")})->paths().empty());

    // The first empty step on the way goes: here the leaf.
    EXPECT_EQ(tree.rootNode()->pruneEmpty(L("Tags/new/sub").components()), WhatChanged::children);
    EXPECT_TRUE(tree.lookup({L("Tags"), L("new")}));
    EXPECT_FALSE(tree.lookup({L("Tags"), L("new"), L("sub")}));
    // Now "new" is the first empty one, even though "sub" is missing.
    EXPECT_EQ(tree.rootNode()->pruneEmpty(L("Tags/new/sub").components()), WhatChanged::children);
    EXPECT_FALSE(tree.lookup({L("Tags"), L("new")}));
    EXPECT_EQ(tree.rootNode()->pruneEmpty(L("Tags/new").components()), WhatChanged::none);

    // A node with files is not pruned; nor is anything outside a tag container.
    qm::test::LogCapture log6;
    tree.addTag(L("Tags/full"), L("/f"));
    log6.release();
    EXPECT_EQ(tree.rootNode()->pruneEmpty(L("Tags/full").components()), WhatChanged::none);
    tree.addColorNodes(TagFormat());
    EXPECT_EQ(tree.rootNode()->pruneEmpty(L("Colors/Red").components()), WhatChanged::none);
    EXPECT_EQ(tree.rootNode()->pruneEmpty(L("Map").components()), WhatChanged::none);
    EXPECT_TRUE(tree.mapNode());
    // An empty Tags section itself has a parent of kind none: it stays.
    Tree fresh;
    EXPECT_EQ(fresh.rootNode()->pruneEmpty(L("Tags").components()), WhatChanged::none);
    EXPECT_TRUE(fresh.rootNode()->child(L("Tags")));
}

TEST(TreeTest, AddPathsInBulk) {
    Tree tree;
    Node::Paths batch;
    for (int i = 0; i < 100; ++i)
        batch[L("/f" + std::to_string(i))] = {};
    auto comps = L("Tags/bulk").components();
    EXPECT_EQ(tree.rootNode()->addPaths(comps, batch), WhatChanged::children | WhatChanged::paths);
    NodePtr n = tree.lookup({L("Tags"), L("bulk")});
    EXPECT_EQ(n->paths().size(), 100u);
    EXPECT_EQ(n->sortedPaths().front().utf8(), "/f0");
    EXPECT_EQ(n->sortedPaths().back().utf8(), "/f99");
    EXPECT_EQ(tree.rootNode()->addPaths(comps, batch), WhatChanged::none);
    EXPECT_TRUE(n->hasSortedPaths());  // nothing new: the cache stays
    batch[L("/f100")] = {};
    EXPECT_EQ(tree.rootNode()->addPaths(comps, batch), WhatChanged::paths);
    EXPECT_FALSE(n->hasSortedPaths());
    EXPECT_EQ(n->sortedPaths().size(), 101u);
    EXPECT_EQ(tree.rootNode()->addPaths(L("Tags/empty").components(), {}), WhatChanged::children);
}

}  // namespace
}  // namespace qm
