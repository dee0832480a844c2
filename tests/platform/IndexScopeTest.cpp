#include "platform/IndexScope.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace qm {
namespace {

using Paths = std::vector<std::string>;

// The index and its watcher read their folders through one scope: the same
// roots and exclusions whatever slashes, repeats and nesting they were given.
TEST(IndexScopeTest, NormalisesRootsAndExclusionsOnce) {
    IndexScope scope({"/home/u/", "/home/u/Pictures", "/srv//", "/home/u", "", "/srv/a/"},
                     {"/home/u/.local/share/Trash/", "", "/home", "/srv/cache", "/elsewhere/x"});
    // Order kept; a root inside another, a repeat and an empty one go.
    EXPECT_EQ(scope.roots(), (Paths{"/home/u", "/srv"}));
    // "/home" holds a root and would hide it: dropped. Paths outside every root stay (harmless).
    EXPECT_EQ(scope.excludedPaths(), (Paths{"/home/u/.local/share/Trash", "/srv/cache", "/elsewhere/x"}));

    EXPECT_TRUE(scope.contains("/home/u"));
    EXPECT_TRUE(scope.contains("/home/u/Pictures/a.jpg"));
    EXPECT_FALSE(scope.contains("/home/user2/a.jpg"));  // a longer name is no child
    EXPECT_FALSE(scope.contains("/home"));
    EXPECT_TRUE(scope.isExcluded("/home/u/.local/share/Trash"));
    EXPECT_TRUE(scope.isExcluded("/home/u/.local/share/Trash/files/x"));
    EXPECT_FALSE(scope.isExcluded("/home/u/.local/share/Trashcan"));
    EXPECT_FALSE(scope.isExcluded("/home/u/Pictures"));
}

TEST(IndexScopeTest, RootOfTheFileSystemHoldsEverything) {
    EXPECT_EQ(IndexScope::normalized("///"), "/");
    EXPECT_EQ(IndexScope::normalized("/a/b//"), "/a/b");
    IndexScope scope({"/", "/home/u"}, {"/proc/", "/"});
    EXPECT_EQ(scope.roots(), Paths{"/"});
    EXPECT_EQ(scope.excludedPaths(), Paths{"/proc"});
    EXPECT_TRUE(scope.contains("/home/u/x"));
    EXPECT_TRUE(scope.isExcluded("/proc/1/fd"));
    EXPECT_FALSE(scope.isExcluded("/processes"));
    EXPECT_TRUE(IndexScope().roots().empty());
    EXPECT_FALSE(IndexScope().contains("/a"));
}

}  // namespace
}  // namespace qm
