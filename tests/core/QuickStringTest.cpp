#include "core/QuickString.h"

#include <absl/container/flat_hash_set.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <unordered_set>

namespace qm {
namespace {

TEST(QuickStringTest, PathConstructorNormalises) {
    EXPECT_EQ(QuickString::path("/Users/a//").utf8(), "/Users/a");
    EXPECT_EQ(QuickString::path("/").utf8(), "/");
    EXPECT_EQ(QuickString::path("//").utf8(), "/");
    EXPECT_EQ(QuickString::path("a/").utf8(), "a");
    EXPECT_EQ(QuickString::path("").utf8(), "");
    // No folder prefix is taken off: /System/Volumes/Data/a and /a are two
    // different files here, and a path must keep naming the one it named.
    EXPECT_EQ(QuickString::path("/System/Volumes/Data/Users/a/").utf8(), "/System/Volumes/Data/Users/a");
    EXPECT_EQ(QuickString::path("/System/Volumes/Data/Users/a").utf8(), "/System/Volumes/Data/Users/a");
    EXPECT_EQ(QuickString::path("/System/Volumes/Data/").utf8(), "/System/Volumes/Data");
    EXPECT_EQ(QuickString::path("/x/System/Volumes/Data/y").utf8(), "/x/System/Volumes/Data/y");
    // The literal constructor keeps everything.
    EXPECT_EQ(QuickString::literal("/System/Volumes/Data/a//").utf8(), "/System/Volumes/Data/a//");
}

TEST(QuickStringTest, EqualityAndHashAreByBytesWhateverTheConstructor) {
    QuickString p = QuickString::path("/home/u/x.jpg");
    QuickString l = QuickString::literal("/home/u/x.jpg");
    QuickString b = QuickString::bytes("/home/u/x.jpg");
    EXPECT_EQ(p, l);
    EXPECT_EQ(l, b);
    EXPECT_EQ(p.hash(), l.hash());
    EXPECT_EQ(l.hash(), b.hash());
    EXPECT_EQ(std::hash<QuickString>{}(p), std::hash<QuickString>{}(b));

    QuickString other = QuickString::literal("/home/u/x.jpG");
    EXPECT_NE(p, other);
    EXPECT_FALSE(p == other);

    // Sets keyed by one constructor find values built by another.
    absl::flat_hash_set<QuickString> set{p};
    EXPECT_TRUE(set.contains(b));
    std::unordered_set<QuickString> stdSet{l};
    EXPECT_TRUE(stdSet.contains(p));

    // Embedded NUL bytes are bytes like any other.
    std::string withNul("a\0b", 3);
    QuickString n1 = QuickString::bytes(withNul), n2 = QuickString::literal(withNul);
    EXPECT_EQ(n1.size(), 3u);
    EXPECT_EQ(n1, n2);
    EXPECT_NE(n1, QuickString::literal("a"));
    EXPECT_NE(n1, QuickString::literal(std::string("a\0c", 3)));

    EXPECT_EQ(QuickString(), emptyString());
    EXPECT_EQ(QuickString::literal(""), emptyString());
    EXPECT_TRUE(QuickString::bytes("").empty());
}

TEST(QuickStringTest, InvalidUtf8IsKeptAsBytesAndShownWithReplacementCharacters) {
    struct Case {
        std::string bytes;
        std::string text;  // decoded with replacement, as Python's "replace" error handler does
    };
    const std::string fffd = "\xEF\xBF\xBD";
    const Case cases[] = {
        {"\xFF", fffd},
        {"a\xFF"
         "b",
         "a" + fffd + "b"},
        {"\xC0\xAF", fffd + fffd},             // overlong
        {"\xED\xA0\x80", fffd + fffd + fffd},  // surrogate
        {"\xE2\x98", fffd},                    // truncated at the end
        {"\xE2\x98"
         "x",
         fffd + "x"},  // truncated before ASCII
        {"\xF0\x9F\x98", fffd},
        {"\xF4\x90\x80\x80", fffd + fffd + fffd + fffd},  // above U+10FFFF
        {"\xE2\x98\x85\x80", "\xE2\x98\x85" + fffd},      // stray continuation
        {"caf\xE9", "caf" + fffd},                        // Latin-1
        {"\xE2\x98\x85", "\xE2\x98\x85"},                 // valid stays
    };
    for (const Case& c : cases) {
        for (QuickString q :
             {QuickString::bytes(c.bytes), QuickString::literal(c.bytes), QuickString::path(c.bytes)}) {
            EXPECT_EQ(q.utf8(), c.bytes);
            EXPECT_EQ(q.string(), c.text);
            EXPECT_EQ(q.string(), c.text);  // kept, and still the same
            EXPECT_EQ(q.utf8(), c.bytes);
            EXPECT_EQ(q.description(), "\"" + c.text + "\"");
        }
    }
    // Two byte strings that show the same text stay different values.
    QuickString x = QuickString::bytes("a\xFF"), y = QuickString::bytes("a\xFE");
    EXPECT_EQ(x.string(), y.string());
    EXPECT_NE(x, y);
    EXPECT_NE(x, QuickString::literal("a" + fffd));
    EXPECT_TRUE(x < y || y < x);
}

TEST(QuickStringTest, ComponentsKeepEmptyPiecesAndBytes) {
    auto texts = [](const QuickString& s) {
        std::vector<std::string> out;
        for (const QuickString& c : s.components())
            out.emplace_back(c.utf8());
        return out;
    };
    using V = std::vector<std::string>;
    EXPECT_EQ(texts(emptyString()), V{""});
    EXPECT_EQ(texts(QuickString::literal("abc")), V{"abc"});
    EXPECT_EQ(texts(QuickString::literal("a//b")), (V{"a", "", "b"}));
    EXPECT_EQ(texts(QuickString::literal("/a/")), (V{"", "a", ""}));
    EXPECT_EQ(texts(QuickString::literal("/")), (V{"", ""}));
    EXPECT_EQ(texts(QuickString::literal("Tags/\xFF/x")), (V{"Tags", "\xFF", "x"}));

    // Components equal values made directly, and decode lazily to the same text.
    auto parts = QuickString::literal("Tags/caf\xE9/\xE2\x98\x85").components();
    ASSERT_EQ(parts.size(), 3u);
    EXPECT_EQ(parts[0], QuickString::literal("Tags"));
    EXPECT_EQ(parts[0].hash(), QuickString::literal("Tags").hash());
    EXPECT_EQ(parts[1].string(), "caf\xEF\xBF\xBD");
    EXPECT_EQ(parts[2], starString());
    EXPECT_EQ(parts[2].string(), "\xE2\x98\x85");
}

TEST(QuickStringTest, CopiesShareOneBlock) {
    static_assert(sizeof(QuickString) == sizeof(void*));
    QuickString a = QuickString::literal("/home/u/Pictures/2023/IMG_1234.JPG");
    QuickString b = a;
    EXPECT_EQ(a.utf8().data(), b.utf8().data());
    QuickString c = std::move(b);
    EXPECT_EQ(c.utf8().data(), a.utf8().data());
    EXPECT_TRUE(b.empty());  // NOLINT(bugprone-use-after-move): a moved-from value is the empty string
    b = c;
    EXPECT_EQ(b, a);
    b = b;  // self-assignment keeps the value
    EXPECT_EQ(b, a);
    a = std::move(a);
    EXPECT_EQ(a, c);
    // A builder's copy shares the block and counts like any other (ASan
    // reports a leak or a double free otherwise).
    {
        QuickString u = a.unsharedCopy();
        EXPECT_EQ(u.utf8().data(), a.utf8().data());
        QuickString v = QuickString().unsharedCopy();
        EXPECT_TRUE(v.empty());
    }
    EXPECT_EQ(a, c);
    // Every empty value is the one empty string, whichever way it was made.
    QuickString moved = QuickString::literal("x");
    QuickString taken = std::move(moved);
    for (const QuickString& e : {QuickString(), moved, QuickString::literal(""), QuickString::path(""),
                                 QuickString::bytes("")}) {
        EXPECT_EQ(e, QuickString());
        EXPECT_EQ(e.hash(), quickHash(""));
        EXPECT_EQ(e.utf8().data()[0], '\0');
    }
}

TEST(QuickStringTest, ComparisonOperatorsFollowTheNaturalOrder) {
    QuickString a2 = QuickString::literal("a2"), a10 = QuickString::literal("a10");
    EXPECT_TRUE(a2 < a10);
    EXPECT_FALSE(a10 < a2);
    EXPECT_TRUE(a10 > a2);
    EXPECT_TRUE(a2 <= a10);
    EXPECT_TRUE(a2 <= a2);
    EXPECT_TRUE(a10 >= a2);
    EXPECT_TRUE(a10 >= a10);
    EXPECT_FALSE(a2 < a2);
    EXPECT_TRUE(a2 != a10);
}

TEST(QuickStringTest, ProcessConstants) {
    EXPECT_EQ(starString().utf8(), "\xE2\x98\x85");
    EXPECT_TRUE(emptyString().empty());
    const char* home = std::getenv("HOME");
    ASSERT_NE(home, nullptr);
    EXPECT_EQ(homeDirectory(), QuickString::path(home));
    EXPECT_EQ(homeDirectoryWithSlash(), std::string(homeDirectory().utf8()) + "/");
    EXPECT_EQ(&starString(), &starString());
}

}  // namespace
}  // namespace qm
