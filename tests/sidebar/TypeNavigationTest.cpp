// Type-to-select with an injected clock: the 0.8 s pause rule without waiting.
#include <gtest/gtest.h>

#include "library/Tree.h"
#include "sidebar/TypeNavigation.h"

using namespace qm;
using namespace std::chrono_literals;

TEST(TypeNavigation, MatchingSkipsNameSymbolsAndFoldsCase) {
    EXPECT_FALSE(TypeNavigation::matches("", "abc"));
    EXPECT_TRUE(TypeNavigation::matches("ab", "a-b c"));
    EXPECT_TRUE(TypeNavigation::matches("ab", "AB"));
    EXPECT_TRUE(TypeNavigation::matches("AB", "ab"));
    EXPECT_TRUE(TypeNavigation::matches("é", "Été"));
    EXPECT_FALSE(TypeNavigation::matches("a b", "a b"));  // pattern characters are never skipped
    EXPECT_FALSE(TypeNavigation::matches("abc", "ab"));
    EXPECT_TRUE(TypeNavigation::matches("20", "2024"));
    EXPECT_TRUE(TypeNavigation::matches("w", "★ work"));
}

TEST(TypeNavigation, PauseRuleWithInjectedClock) {
    std::vector<NodePtr> nodes;
    for (const char* n : {"alpha", "beta", "abacus", "able", "gamma"})
        nodes.push_back(Node::make(NodeKind::subTag, QuickString::bytes(n)));
    std::vector<const Node*> rows;
    for (auto& n : nodes) rows.push_back(n.get());

    auto now = std::chrono::steady_clock::time_point{} + 100s;
    TypeNavigation nav([&] { return now; });
    // First key: the search starts one row after the current row (0).
    EXPECT_EQ(nav.type("a", rows, 0), 2u);
    now += 300ms;
    // Quick second key: continues from the found row; "ab" matches abacus.
    EXPECT_EQ(nav.type("b", rows, 0), 2u);
    now += 300ms;
    EXPECT_EQ(nav.type("l", rows, 0), 3u);  // "abl": able
    EXPECT_EQ(nav.pattern, "abl");
    // Exactly 0.8 s is not longer than the pause: the pattern grows.
    now += 800ms;
    EXPECT_EQ(nav.type("e", rows, 0), 3u);
    EXPECT_EQ(nav.pattern, "able");
    // A longer pause starts over one row further on, wrapping around.
    now += 801ms;
    EXPECT_EQ(nav.type("a", rows, 0), 0u);
    EXPECT_EQ(nav.pattern, "a");
    EXPECT_EQ(nav.node, nodes[0]);
    // No match keeps the found node.
    now += 100ms;
    EXPECT_FALSE(nav.type("z", rows, 0));
    EXPECT_EQ(nav.node, nodes[0]);
    nav.reset();
    EXPECT_TRUE(nav.isReset());
    EXPECT_FALSE(nav.type("a", {}, std::nullopt));
}
