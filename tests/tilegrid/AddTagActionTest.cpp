// The plain parts of the grid's "Add Tag…": the prompt's words and how a
// path being typed splits into the levels the completer walks.
#include <gtest/gtest.h>

#include "tilegrid/AddTagAction.h"

namespace qm {
namespace {

using Levels = std::vector<std::string>;

TEST(AddTagAction, TypedLevelsKeepTheLevelBeingTyped) {
    EXPECT_EQ(AddTagAction::typedLevels(""), Levels{""});
    EXPECT_EQ(AddTagAction::typedLevels("wo"), Levels{"wo"});
    EXPECT_EQ(AddTagAction::typedLevels(" Work / 20"), (Levels{"Work", "20"}));
    // Just past a "/": the sub-tags of the level before are offered.
    EXPECT_EQ(AddTagAction::typedLevels("Work/"), (Levels{"Work", ""}));
    EXPECT_EQ(AddTagAction::typedLevels("Work / "), (Levels{"Work", ""}));
    // Empty levels before the last are dropped, as the added tag drops them.
    EXPECT_EQ(AddTagAction::typedLevels("/Work// 2024/x"), (Levels{"Work", "2024", "x"}));
    EXPECT_EQ(AddTagAction::typedLevels("//"), Levels{""});
}

TEST(AddTagAction, MessagesNameTheFileOrCountTheFiles) {
    EXPECT_EQ(AddTagAction::message({QuickString::bytes("/home/u/trip/a b.jpg")}),
              "Enter the tag to add to the file \"a b.jpg\":");
    EXPECT_EQ(AddTagAction::message({QuickString::bytes("/a"), QuickString::bytes("/b"), QuickString::bytes("/c")}),
              "Enter the tag to add to the 3 selected files:");
}

}  // namespace
}  // namespace qm
