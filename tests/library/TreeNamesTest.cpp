#include "library/TreeNames.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "library/Tree.h"

namespace qm {
namespace {

TEST(TreeNamesTest, FoldersMapToTheHomeDirectoryAndBack) {
    // The test main gives this run a fresh HOME.
    const std::string home(homeDirectory().utf8());
    ASSERT_EQ(home, std::string(std::getenv("HOME")));
    ASSERT_FALSE(home.empty());

    EXPECT_EQ(nodeNameForFolder(home), QuickString::literal("Folders"));
    EXPECT_EQ(nodeNameForFolder(home + "/Documents"), QuickString::literal("Folders/Documents"));
    EXPECT_EQ(nodeNameForFolder(home + "/a/b c/d"), QuickString::literal("Folders/a/b c/d"));
    EXPECT_EQ(nodeNameForFolder(QuickString::path(home + "/Documents/")),
              QuickString::literal("Folders/Documents"));
    // A sibling whose name merely starts like the home directory is outside it.
    EXPECT_EQ(nodeNameForFolder(home + "x/Documents"), std::nullopt);
    EXPECT_EQ(nodeNameForFolder(std::string("/")), std::nullopt);
    EXPECT_EQ(nodeNameForFolder(std::string("")), std::nullopt);

    EXPECT_EQ(folderPathForNode(QuickString::literal("Folders")), home);
    EXPECT_EQ(folderPathForNode(QuickString::literal("Folders/Documents")), home + "/Documents");
    EXPECT_EQ(folderPathForNode(QuickString::literal("Tags/a")), std::nullopt);
    EXPECT_EQ(folderPathForNode(QuickString::literal("Folders2/x")), std::nullopt);
    EXPECT_EQ(folderPathForNode(emptyString()), std::nullopt);

    // Names that are not UTF-8, or hold commas and newlines, go both ways by bytes.
    for (std::string rel : {"caf\xE9", "a,b", "line\nbreak", "\xFF/\xFE", " lead", "x\xE2\x98\x85"}) {
        std::string path = home + "/" + rel;
        auto name = nodeNameForFolder(path);
        ASSERT_TRUE(name);
        EXPECT_EQ(name->utf8(), "Folders/" + rel);
        EXPECT_EQ(folderPathForNode(*name), path);
    }

    // Node names built by the tree agree with the mapping.
    Tree tree;
    NodePtr docs = tree.directoriesNode()->addChild(NodeKind::directory, QuickString::literal("Documents"));
    EXPECT_EQ(folderPathForNode(docs->fullName), home + "/Documents");
    EXPECT_EQ(folderPathForNode(tree.directoriesNode()->fullName), home);
}

TEST(TreeNamesTest, SectionNames) {
    EXPECT_EQ(pinnedSectionName().utf8(), "Pinned");
    EXPECT_EQ(colorsSectionName().utf8(), "Colors");
    EXPECT_EQ(foldersSectionName().utf8(), "Folders");
    EXPECT_EQ(tagsSectionName().utf8(), "Tags");
    EXPECT_EQ(mapSectionName().utf8(), "Map");
    EXPECT_EQ(&tagsSectionName(), &tagsSectionName());
}

}  // namespace
}  // namespace qm
