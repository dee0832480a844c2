#include "core/TagFormat.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

namespace qm {
namespace {

TEST(TagFormatTest, BuiltInTableHasTheSevenLabels) {
    TagFormat format;
    ASSERT_EQ(format.colorTags().size(), 7u);
    for (const char* name : {"Red", "Orange", "Yellow", "Green", "Blue", "Purple", "Gray"}) {
        ASSERT_TRUE(format.isColorTag(name)) << name;
        const Color& c = format.colorTags().at(name);
        EXPECT_TRUE(c.red > 0 || c.green > 0 || c.blue > 0);
    }
    const Color& red = format.colorTags().at("Red");
    EXPECT_GT(red.red, red.green);
    EXPECT_GT(red.red, red.blue);
    const Color& blue = format.colorTags().at("Blue");
    EXPECT_GT(blue.blue, blue.red);
    EXPECT_FALSE(format.isColorTag("red"));  // names are case-sensitive
}

TEST(TagFormatTest, ConstructionPairsListsDropsInvisibleColoursLaterDuplicateWins) {
    const std::vector<std::string> names = {"None", "Black",   "Clear", "Dim",
                                            "Red",  "Blueish", "Red",   "Extra"};
    const std::vector<Color> colors = {
        {0, 0, 0, 0},                          // clear: dropped
        {0, 0, 0, 1},                          // black: dropped
        {-1, -0.5, 0, 1},                      // nothing above zero: dropped
        {0, 0, 0.01, 1},                       // any component above zero keeps it
        {1, 0, 0, 1},                          // first Red
        {0, 0.2, 1, 1},   {0.5, 0.1, 0.1, 1},  // later Red wins
    };                                         // "Extra" has no colour: pairing stops at the shorter list
    TagFormat format(names, colors);
    EXPECT_EQ(format.colorTags().size(), 3u);
    EXPECT_FALSE(format.isColorTag("None"));
    EXPECT_FALSE(format.isColorTag("Black"));
    EXPECT_FALSE(format.isColorTag("Clear"));
    EXPECT_FALSE(format.isColorTag("Extra"));
    EXPECT_TRUE(format.isColorTag("Dim"));
    EXPECT_EQ(format.colorTags().at("Red"), (Color{0.5, 0.1, 0.1, 1}));
    // A dropped label is an ordinary tag.
    EXPECT_EQ(format.nodeNameForTag("Black").utf8(), "Tags/Black");
    EXPECT_EQ(format.nodeNameForTag("Red").utf8(), "Colors/Red");
    // A later invisible duplicate does not remove an earlier visible one.
    TagFormat twice({"Green", "Green"}, {{0, 1, 0, 1}, {0, 0, 0, 1}});
    EXPECT_TRUE(twice.isColorTag("Green"));
    TagFormat none({}, {});
    EXPECT_EQ(none.nodeNameForTag("Red").utf8(), "Tags/Red");
}

TEST(TagFormatTest, NodeNamesAndBack) {
    TagFormat format;
    EXPECT_EQ(format.nodeNameForTag("Red").utf8(), "Colors/Red");
    EXPECT_EQ(format.nodeNameForTag("\xE2\x98\x85"), starString());
    EXPECT_EQ(format.nodeNameForTag("Work").utf8(), "Tags/Work");
    EXPECT_EQ(format.nodeNameForTag("a/b").utf8(), "Tags/a/b");
    EXPECT_EQ(format.nodeNameForTag("/a//b/").utf8(), "Tags//a//b/");
    EXPECT_EQ(format.nodeNameForTag("").utf8(), "Tags/");
    EXPECT_EQ(format.nodeNameForTag("Red/x").utf8(), "Tags/Red/x");
    EXPECT_EQ(format.nodeNameForTag("\xE2\x98\x85/x").utf8(), "Tags/\xE2\x98\x85/x");
    EXPECT_EQ(format.nodeNameForTag("caf\xE9").utf8(), "Tags/caf\xE9");
    EXPECT_EQ(format.nodeNameForTag("caf\xE9").string(), "Tags/caf\xEF\xBF\xBD");

    auto tag = [](const char* fullName) { return TagFormat::tagForNodeName(QuickString::literal(fullName)); };
    EXPECT_EQ(tag("Colors/X"), "X");
    EXPECT_EQ(tag("Tags/a/b"), "a/b");
    EXPECT_EQ(tag("Pinned/a/b"), "a/b");
    EXPECT_EQ(tag("\xE2\x98\x85"), "\xE2\x98\x85");
    EXPECT_EQ(tag("Colors"), std::nullopt);
    EXPECT_EQ(tag("Tags"), std::nullopt);
    EXPECT_EQ(tag("Pinned"), std::nullopt);
    EXPECT_EQ(tag("Tags/"), "");
    EXPECT_EQ(tag("TagsX"), "TagsX");
    EXPECT_EQ(format.tagForNodeName(QuickString::literal("Tags/\xFF")), "\xFF");
}

TEST(TagFormatTest, EveryTagSurvivesTheRoundTrip) {
    TagFormat format;
    std::vector<std::string> tags = {"Red",
                                     "Gray",
                                     "\xE2\x98\x85",
                                     "Colors",
                                     "Tags",
                                     "Pinned",
                                     "Colors/Red",
                                     "Tags/x",
                                     "",
                                     "/",
                                     "//",
                                     "a,b",
                                     "line\nbreak",
                                     std::string("nul\0x", 5)};
    std::mt19937 rng(5);
    for (int i = 0; i < 2000; ++i) {
        std::string t;
        size_t n = rng() % 12;
        for (size_t k = 0; k < n; ++k)
            t.push_back(rng() % 4 == 0 ? '/' : static_cast<char>(rng() % 256));
        tags.push_back(t);
    }
    for (const std::string& t : tags) {
        QuickString node = format.nodeNameForTag(t);
        EXPECT_EQ(TagFormat::tagForNodeName(node), t) << testing::PrintToString(t);
    }
}

}  // namespace
}  // namespace qm
