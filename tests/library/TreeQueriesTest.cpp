#include "library/TreeQueries.h"

#include <gtest/gtest.h>

#include <random>
#include <set>
#include <string>
#include <variant>
#include <vector>

#include "core/TagFormat.h"
#include "library/Tree.h"
#include "library/TreeNames.h"

namespace qm {
namespace {

QuickString B(const std::string& s) {
    return QuickString::bytes(s);
}

// The oracle: every tagged file of the tree tested on its own, its tags
// spelled back by the format's own mapping.
std::set<std::string> bruteForce(const Tree& tree, const std::string& text) {
    auto parsed = TagExpression::parse(text);
    const TagExpression& e = std::get<TagExpression>(parsed);
    std::set<std::string> out;
    for (const auto& [path, set] : tree.tags()) {
        std::vector<std::string> tags;
        for (const QuickString& n : *set) tags.push_back(*TagFormat::tagForNodeName(n));
        if (e.matches(tags)) out.emplace(path.utf8());
    }
    return out;
}

std::set<std::string> listed(const Node& node) {
    std::set<std::string> out;
    for (const auto& [path, _] : node.paths()) out.emplace(path.utf8());
    return out;
}

// Queries opened over a library, then a long run of random tag changes
// through every kind of tree change: each query lists exactly what a
// file-by-file test finds, at every step.
TEST(TreeQueries, FollowEveryTagChangeAsABruteForceSearchDoes) {
    TagFormat format;
    Tree tree;
    tree.addColorNodes(format);
    const std::vector<std::string> tags = {"Work", "Work/2024", "Work/2024/Q1", "Work2", "done", "Taxes/2025",
                                           "Red", "Blue", "\xE2\x98\x85", "a b", "x"};
    std::mt19937 rng(7);
    auto pickTag = [&] { return tags[rng() % tags.size()]; };
    auto pathOf = [&](size_t i) { return B("/home/u/f" + std::to_string(i)); };
    for (size_t i = 0; i < 300; ++i)
        for (int k = int(rng() % 4); k > 0; --k) tree.addTag(format.nodeNameForTag(pickTag()), pathOf(i));

    const std::vector<std::string> queries = {
        "Work/ and not done", "Taxes/2025 or Red", "not done", "\xE2\x98\x85 and (Blue or \"a b\")",
        "Work and Work/2024", "not (x or Work/)", "Red/", "Work/2024/ and not Work/2024/Q1", "nothing or x"};
    std::vector<NodePtr> nodes;
    for (const std::string& q : queries) {
        nodes.push_back(tree.openQuery(q));
        ASSERT_TRUE(nodes.back()) << q;
        EXPECT_EQ(listed(*nodes.back()), bruteForce(tree, q)) << q << " when opened";
    }
    // The ninth unsaved query pushed out the first one opened.
    EXPECT_FALSE(tree.queries().find(queries[0]));

    for (int step = 0; step < 3000; ++step) {
        const QuickString path = pathOf(rng() % 320);  // some files new to the library
        const QuickString name = format.nodeNameForTag(pickTag());
        switch (rng() % 3) {
            case 0: tree.addTag(name, path); break;
            case 1: tree.removeTag(name, path, {}); break;
            default: {
                QuickStringSet set;
                for (int k = int(rng() % 3); k > 0; --k) set.insert(format.nodeNameForTag(pickTag()));
                tree.setTags(set, path);
            }
        }
        if (step % 100 != 0 && step != 2999) continue;
        for (size_t q = 1; q < queries.size(); ++q)
            ASSERT_EQ(listed(*nodes[q]), bruteForce(tree, queries[q])) << queries[q] << " at step " << step;
    }
}

// A query's rows: no section before the first query, a hidden one while
// none is saved, a visible row per saved query under its own name; node
// paths keep the expression through saving and renaming.
TEST(TreeQueries, SavingShowsTheSectionAndKeepsTheNodePath) {
    Tree tree;
    const size_t sections = tree.rootNode()->children().size();
    EXPECT_FALSE(tree.openQuery("a and"));
    EXPECT_FALSE(tree.openQuery("   "));
    EXPECT_EQ(tree.rootNode()->children().size(), sections);

    NodePtr q = tree.openQuery("  Work/ and not done ");
    ASSERT_TRUE(q);
    EXPECT_EQ(q, tree.openQuery("Work/ and not done"));
    EXPECT_EQ(q->nodePath(), TreeQueries::pathFor("Work/ and not done"));
    EXPECT_EQ(tree.lookup(q->nodePath()), q);
    EXPECT_EQ(TreeQueries::textOf(q->nodePath()), std::optional<std::string_view>("Work/ and not done"));
    EXPECT_FALSE(TreeQueries::textOf({B("Tags"), B("Work/ and not done")}));
    NodePtr section = tree.rootNode()->child(queriesSectionName());
    ASSERT_TRUE(section);
    const QuickStringSet expanded = {tree.rootNode()->fullName, section->fullName};
    EXPECT_EQ(tree.rootNode()->visibleRowCount({tree.rootNode()->fullName}), 6u);  // the root, Pinned..Map: as before

    EXPECT_TRUE(tree.saveQuery("Work/ and not done", "Open work"));
    EXPECT_FALSE(section->isHidden());
    EXPECT_FALSE(q->isHidden());
    EXPECT_EQ(q->displayName().utf8(), "Open work");
    EXPECT_EQ(section->visibleRowCount(expanded), 2u);
    EXPECT_EQ(tree.queries().saved(), (std::vector<TreeQueries::Saved>{{"Open work", "Work/ and not done"}}));
    tree.saveQuery("Work/ and not done", "Later");
    EXPECT_EQ(q->nodePath(), TreeQueries::pathFor("Work/ and not done"));
    EXPECT_EQ(q->displayName().utf8(), "Later");

    // Saved queries are never pushed out by typed ones.
    for (int i = 0; i < 20; ++i) ASSERT_TRUE(tree.openQuery("x" + std::to_string(i) + " or y"));
    EXPECT_EQ(tree.queries().find("Work/ and not done"), q);
    EXPECT_EQ(tree.queries().unsavedTexts().size(), TreeQueries::maxUnsaved);

    EXPECT_TRUE(tree.unsaveQuery("Work/ and not done"));
    EXPECT_FALSE(tree.unsaveQuery("Work/ and not done"));
    EXPECT_TRUE(section->isHidden());
    EXPECT_EQ(tree.rootNode()->visibleRowCount({tree.rootNode()->fullName}), 6u);
}

// Queries handed away: the node waits empty, the snapshot it was judged on
// keeps the tags of the moment it was asked for while the tree goes on
// changing, and the delivered files plus the files changed meanwhile make
// exactly what a file-by-file test finds. A query that goes away, or whose
// tree goes, cancels its evaluation, and its files land nowhere.
TEST(TreeQueries, EvaluationsHandedAwayLandAsABruteForceSearchFinds) {
    TagFormat format;
    Tree tree;
    tree.addColorNodes(format);
    const std::vector<std::string> tags = {"Work", "Work/2024", "done", "Red", "x"};
    std::mt19937 rng(11);
    auto pickTag = [&] { return tags[rng() % tags.size()]; };
    auto pathOf = [&](size_t i) { return B("/home/u/f" + std::to_string(i)); };
    for (size_t i = 0; i < 200; ++i)
        for (int k = int(rng() % 3) + 1; k > 0; --k) tree.addTag(format.nodeNameForTag(pickTag()), pathOf(i));

    std::vector<TreeQueries::Evaluation> handed;
    // A small query stays on this thread; the rest are handed away.
    tree.setQueryEvaluator([&](TreeQueries::Evaluation e) { handed.push_back(std::move(e)); }, 3);
    NodePtr small = tree.openQuery("nothing or \"nothing else\"");
    ASSERT_TRUE(small);
    EXPECT_FALSE(tree.queries().isPending(*small));
    EXPECT_TRUE(handed.empty());

    const std::string text = "Work/ and not done";
    NodePtr q = tree.openQuery(text);
    ASSERT_TRUE(q);
    ASSERT_EQ(handed.size(), 1u);
    EXPECT_TRUE(tree.queries().isPending(*q));
    EXPECT_TRUE(q->paths().empty());
    const std::set<std::string> whenAsked = bruteForce(tree, text);
    const size_t taggedWhenAsked = tree.tags().size();

    // The tree changes while the evaluation is away, files new to it too.
    for (int step = 0; step < 300; ++step) {
        const QuickString path = pathOf(rng() % 240);
        const QuickString name = format.nodeNameForTag(pickTag());
        if (rng() % 2)
            tree.addTag(name, path);
        else
            tree.removeTag(name, path, {});
    }
    EXPECT_EQ(handed[0].tags->size(), taggedWhenAsked);
    Node::Paths found = TreeQueries::judge(handed[0]);
    std::set<std::string> judged;
    for (const auto& [path, _] : found) judged.emplace(path.utf8());
    EXPECT_EQ(judged, whenAsked);  // the snapshot did not move

    EXPECT_EQ(tree.deliverQuery(handed[0].id, std::move(found)), WhatChanged::paths);
    EXPECT_FALSE(tree.queries().isPending(*q));
    EXPECT_EQ(listed(*q), bruteForce(tree, text));
    EXPECT_EQ(tree.deliverQuery(handed[0].id, {}), WhatChanged::none);  // once only
    tree.addTag(format.nodeNameForTag("Work"), pathOf(500));
    EXPECT_EQ(listed(*q), bruteForce(tree, text));  // live again

    // Typed over: the ninth unsaved query pushes this one out and cancels it.
    NodePtr gone = tree.openQuery("not Red");
    ASSERT_EQ(handed.size(), 2u);
    for (int i = 0; i < 8; ++i) tree.openQuery("not x" + std::to_string(i));
    EXPECT_FALSE(tree.queries().find("not Red"));
    EXPECT_TRUE(handed[1].cancelled->load());
    EXPECT_TRUE(TreeQueries::judge(handed[1]).empty() || handed[1].tags->size() < 4096);
    EXPECT_EQ(tree.deliverQuery(handed[1].id, TreeQueries::judge(handed[1])), WhatChanged::none);
    EXPECT_TRUE(gone->paths().empty());

    // A replaced tree cancels what it still waits for.
    auto last = handed.back().cancelled;
    EXPECT_FALSE(last->load());
    tree = Tree();
    EXPECT_TRUE(last->load());
}

}  // namespace
}  // namespace qm
