// Type-to-select with an injected clock: the 0.8 s pause rule without waiting.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "desktop/TypeAhead.h"

using namespace qm;
using namespace std::chrono_literals;

TEST(TypeAhead, MatchingSkipsNameSymbolsAndFoldsCase) {
    EXPECT_FALSE(TypeAhead::matches("", "abc"));
    EXPECT_TRUE(TypeAhead::matches("ab", "a-b c"));
    EXPECT_TRUE(TypeAhead::matches("ab", "AB"));
    EXPECT_TRUE(TypeAhead::matches("AB", "ab"));
    EXPECT_TRUE(TypeAhead::matches("é", "Été"));
    EXPECT_FALSE(TypeAhead::matches("a b", "a b"));  // pattern characters are never skipped
    EXPECT_FALSE(TypeAhead::matches("abc", "ab"));
    EXPECT_TRUE(TypeAhead::matches("20", "2024"));
    EXPECT_TRUE(TypeAhead::matches("w", "★ work"));
    EXPECT_TRUE(TypeAhead::matches("t", "\xe9t\xe9"));  // undecodable bytes are skipped as symbols are

    // ASCII names take a path of their own; a trailing symbol outside ASCII
    // (skipped by both) sends the same name through the decoding one, which
    // must agree.
    const std::vector<std::string> names = {"IMG_2041.jpg", "a-b c", "Report 2024", "x", "", "  Zeta", "3d"};
    const std::vector<std::string> patterns = {"i", "IMG2", "img_", "ab", "Ab", "r2", "z", "Z", "3D", "x", "zeta"};
    for (const std::string& n : names)
        for (const std::string& p : patterns)
            EXPECT_EQ(TypeAhead::matches(p, n), TypeAhead::matches(p, n + " \xe2\x98\x85")) << p << " / " << n;
}

TEST(TypeAhead, PauseRuleWithInjectedClock) {
    const std::vector<std::string> names = {"alpha", "beta", "abacus", "able", "gamma"};
    auto nameAt = [&](size_t i) { return std::string_view(names[i]); };
    auto now = std::chrono::steady_clock::time_point{} + 100s;
    TypeAhead typing([&] { return now; });
    EXPECT_TRUE(typing.isReset());
    // First key: the search starts one item after the start (0).
    EXPECT_EQ(typing.type("a", names.size(), nameAt, 0), 2u);
    now += 300ms;
    // Quick second key: continues from the found item; "ab" matches abacus.
    EXPECT_EQ(typing.type("b", names.size(), nameAt, 2), 2u);
    now += 300ms;
    EXPECT_EQ(typing.type("l", names.size(), nameAt, 2), 3u);  // "abl": able
    EXPECT_EQ(typing.pattern(), "abl");
    // Exactly 0.8 s is not longer than the pause: the pattern grows.
    now += 800ms;
    EXPECT_EQ(typing.type("e", names.size(), nameAt, 3), 3u);
    EXPECT_EQ(typing.pattern(), "able");
    // A longer pause starts over one item further on, wrapping around.
    now += 801ms;
    EXPECT_EQ(typing.type("a", names.size(), nameAt, 3), 0u);
    EXPECT_EQ(typing.pattern(), "a");
    // No match finds nothing; a start beyond the list counts from the first.
    now += 100ms;
    EXPECT_FALSE(typing.type("z", names.size(), nameAt, 0));
    typing.reset();
    EXPECT_TRUE(typing.isReset());
    EXPECT_EQ(typing.type("g", names.size(), nameAt, 99), 4u);
    EXPECT_FALSE(typing.type("a", 0, nameAt, 0));
}
