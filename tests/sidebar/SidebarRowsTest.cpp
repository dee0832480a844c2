// Row walk, geometry and hit-testing of the sidebar tree, against the
// tree's own neighbour walk as an independent oracle.
#include <gtest/gtest.h>

#include <random>

#include "library/Tree.h"
#include "sidebar/SidebarLayout.h"
#include "sidebar/SidebarRows.h"

using namespace qm;

namespace {

QuickString Q(const std::string& s) {
    return QuickString::bytes(s);
}

void tag(Tree& tree, const std::string& name, const std::string& file) {
    tree.addTag(Q("Tags/" + name), Q(file));
}

// The visible rows the tree's neighbour walk reports, one step at a time.
std::vector<const Node*> rowsByNeighbour(const Tree& tree, const QuickStringSet& expanded) {
    std::vector<const Node*> out;
    auto path = tree.rootNode()->neighbour({}, expanded, NeighbourMode::first);
    while (path) {
        out.push_back(tree.lookup(*path).get());
        path = tree.rootNode()->neighbour(*path, expanded, NeighbourMode::next);
    }
    return out;
}

}  // namespace

TEST(SidebarRows, WalkMatchesNeighbourOrderDepthsAndGuideMasks) {
    Tree tree;
    tag(tree, "a/b/c", "/f1");
    tag(tree, "a/b/d", "/f2");
    tag(tree, "a/e", "/f3");
    tag(tree, "z", "/f4");
    tree.addPin(Q("Tags/a/b"));
    QuickStringSet expanded{Q(""), Q("Tags"), Q("Tags/a"), Q("Tags/a/b"), Q("Pinned")};
    SidebarRows rows;
    rows.rebuild(*tree.rootNode(), expanded);
    std::vector<const Node*> got;
    for (const SidebarRow& r : rows.rows()) got.push_back(r.node.get());
    EXPECT_EQ(got, rowsByNeighbour(tree, expanded));
    // Pinned, a/b, Colors, Folders, Tags, a, b, c, d, e, z, Map: the star is hidden.
    ASSERT_EQ(rows.size(), 12u);
    EXPECT_EQ(rows[0].node->name.utf8(), "Pinned");
    EXPECT_EQ(rows[1].node->name.utf8(), "a/b");
    EXPECT_EQ(rows[1].depth, 1);
    EXPECT_EQ(rows[7].node->fullName.utf8(), "Tags/a/b/c");
    EXPECT_EQ(rows[7].depth, 3);
    EXPECT_EQ(rows[7].lastChildMask, 0u);  // c is not the last child of b
    // d: last child of b (bit 2), b is not the last of a, so a's bit stays clear.
    EXPECT_EQ(rows[8].node->fullName.utf8(), "Tags/a/b/d");
    EXPECT_EQ(rows[8].lastChildMask, 0b100u);
    // e: last of a (bit 1); a is not the last of Tags.
    EXPECT_EQ(rows[9].lastChildMask, 0b10u);
    // z: last of Tags (bit 0).
    EXPECT_EQ(rows[10].lastChildMask, 0b1u);
    EXPECT_EQ(rows.indexOfPath(*tree.rootNode(), {Q("Tags"), Q("a"), Q("e")}), 9u);
    EXPECT_FALSE(rows.indexOfPath(*tree.rootNode(), {Q("Tags"), Q("nope")}));

    // Collapsing a hides its subtree.
    expanded.erase(Q("Tags/a"));
    rows.rebuild(*tree.rootNode(), expanded);
    EXPECT_EQ(rows.size(), 8u);
}

TEST(SidebarRows, RandomTreesAgreeWithTheNeighbourWalk) {
    std::mt19937 rng(7);
    for (int round = 0; round < 20; ++round) {
        Tree tree;
        std::vector<std::string> names;
        for (int i = 0; i < 60; ++i) {
            std::string name;
            int depth = 1 + int(rng() % 4);
            for (int d = 0; d < depth; ++d) name += (d ? "/" : "") + std::string(1, char('a' + rng() % 4));
            tag(tree, name, "/file" + std::to_string(i));
            names.push_back("Tags/" + name);
        }
        QuickStringSet expanded{Q(""), Q("Tags")};
        for (const auto& n : names)
            if (rng() % 2) {
                expanded.insert(Q(n));
                auto cut = n.rfind('/');
                expanded.insert(Q(n.substr(0, cut)));
            }
        SidebarRows rows;
        rows.rebuild(*tree.rootNode(), expanded);
        std::vector<const Node*> got;
        for (const SidebarRow& r : rows.rows()) got.push_back(r.node.get());
        ASSERT_EQ(got, rowsByNeighbour(tree, expanded)) << "round " << round;
        EXPECT_EQ(rows.size(), tree.rootNode()->visibleRowCount(expanded) - 1);  // minus the root itself
    }
}

TEST(SidebarLayout, RowsHitsAndEdges) {
    SidebarLayout layout(13);
    EXPECT_EQ(layout.rowHeight, 20);  // 19.5 rounds away from zero
    EXPECT_EQ(SidebarLayout(12).rowHeight, 18);
    EXPECT_EQ(layout.rowTop(0), 6);
    EXPECT_EQ(layout.contentHeight(3), 66);
    // A row owns [top, top + height).
    EXPECT_FALSE(layout.rowAt(5.9, 3));
    EXPECT_EQ(layout.rowAt(6, 3), 0u);
    EXPECT_EQ(layout.rowAt(25.9, 3), 0u);
    EXPECT_EQ(layout.rowAt(26, 3), 1u);
    EXPECT_FALSE(layout.rowAt(66, 3));
    // The rows a strip meets, clamped to the list.
    EXPECT_EQ(layout.rowsMeeting(0, 26, 10), std::make_pair(size_t(0), size_t(1)));
    EXPECT_EQ(layout.rowsMeeting(25, 27, 10), std::make_pair(size_t(0), size_t(2)));
    EXPECT_EQ(layout.rowsMeeting(1000, 2000, 10), std::make_pair(size_t(10), size_t(10)));
    // Names and the disclosure boundary.
    EXPECT_EQ(SidebarLayout::textX(0, false), 25);
    EXPECT_EQ(SidebarLayout::textX(2, true), 51);
    EXPECT_EQ(SidebarLayout::disclosureBoundary(2), 45);
    EXPECT_EQ(SidebarLayout::rightEdge(250, 250, 0), 250);
    EXPECT_EQ(SidebarLayout::rightEdge(250, 250, 4), 238);
    EXPECT_EQ(SidebarLayout::rightEdge(250, 300, 4), 244);
    EXPECT_EQ(SidebarLayout::textOffset(20, 9.1, 12.2), 1);   // round(14.55 - 12.2 - 1)
    EXPECT_EQ(SidebarLayout::textOffset(20, 9, 12), 2);       // 2.5 rounds away from zero
}
