// Operations on whole tag subtrees: reparent, merge, delete, create.
#include <gtest/gtest.h>

#include "commands/CommandHarness.h"
#include "commands/TagChangeCommand.h"

namespace qm {
namespace {

using namespace qm::test;
using Strings = std::vector<std::string>;

TEST(TagTreeChangeTest, ReparentSubtreeAndUndo) {
    CommandHarness h;
    fs::path x = h.file("x.jpg", "a,keep"), y = h.file("sub/y.png", "a/c"), z = h.file("z.mov", "a/c/d,zz");
    fs::path w = h.file("w.txt", "b"), v = h.file("v.txt", "p/q");
    h.load({{x, {"a", "keep"}}, {y, {"a/c"}}, {z, {"a/c/d", "zz"}}, {w, {"b"}}, {v, {"p/q"}}});
    h.window->setCurrentNode(P({"Tags", "a"}));

    h.events.clear();
    h.stack().performTagTreeChange(TagChangeKind::reparent, P({"Tags", "a"}), P({"Tags", "b", "a"}));
    EXPECT_EQ(rawTags(x), "b/a,keep");
    EXPECT_EQ(rawTags(y), "b/a/c");
    EXPECT_EQ(rawTags(z), "b/a/c/d,zz");
    EXPECT_EQ(rawTags(w), "b");
    EXPECT_EQ(h.listed(P({"Tags", "a"})), (Strings{"<missing>"}));
    EXPECT_EQ(h.listed(P({"Tags", "b", "a"})), (Strings{x.string()}));
    EXPECT_EQ(h.listed(P({"Tags", "b", "a", "c", "d"})), (Strings{z.string()}));
    EXPECT_EQ(h.events, (Strings{"children", "paths"}));
    EXPECT_EQ(h.window->currentNode(), P({"Tags", "b", "a"}));
    EXPECT_EQ(h.statuses.back(), "Reparented Tag");
    EXPECT_EQ(h.undoTitles(), (Strings{"Reparent Tag"}));
    const auto& inv = dynamic_cast<const TagChangeCommand&>(*h.stack().undoStack().back().command);
    EXPECT_EQ(inv.nodesToMake, (std::set<std::string>{"a", "a/c", "a/c/d", "b"}));
    EXPECT_EQ(inv.nodesToTrim, (std::set<std::string>{"b", "b/a", "b/a/c", "b/a/c/d"}));

    h.stack().undo();
    EXPECT_EQ(rawTags(x), "a,keep");
    EXPECT_EQ(rawTags(y), "a/c");
    EXPECT_EQ(rawTags(z), "a/c/d,zz");
    EXPECT_EQ(rawTags(w), "b");
    EXPECT_EQ(h.listed(P({"Tags", "a"})), (Strings{x.string()}));
    EXPECT_EQ(h.listed(P({"Tags", "a", "c"})), (Strings{y.string()}));
    EXPECT_EQ(h.listed(P({"Tags", "a", "c", "d"})), (Strings{z.string()}));
    EXPECT_EQ(h.listed(P({"Tags", "b", "a"})), (Strings{"<missing>"}));
    EXPECT_EQ(h.listed(P({"Tags", "b"})), (Strings{w.string()}));
    EXPECT_EQ(h.window->currentNode(), P({"Tags", "a"}));
    EXPECT_EQ(h.statuses.back(), "Reparented Tag");
    for (const fs::path& p : {x, y, z})
        EXPECT_EQ(h.tree().tagsFor(QuickString::path(p.string())).size(), p == y ? 1u : 2u);

    // Moving the only child out of a parent tag keeps the parent.
    h.stack().performTagTreeChange(TagChangeKind::reparent, P({"Tags", "p", "q"}), P({"Tags", "q"}));
    EXPECT_EQ(rawTags(v), "q");
    ASSERT_TRUE(h.tree().lookup(P({"Tags", "p"})));
    EXPECT_EQ(h.listed(P({"Tags", "q"})), (Strings{v.string()}));
    h.stack().undo();
    EXPECT_EQ(rawTags(v), "p/q");
    EXPECT_EQ(h.listed(P({"Tags", "q"})), (Strings{"<missing>"}));

    // Only sub-tags move: sections and colours do nothing.
    size_t n = h.stack().undoStack().size();
    h.stack().performTagTreeChange(TagChangeKind::deleteTag, P({"Tags"}));
    h.stack().performTagTreeChange(TagChangeKind::deleteTag, P({"Colors", "Red"}));
    h.stack().performTagTreeChange(TagChangeKind::deleteTag, P({"Tags", "nothing"}));
    EXPECT_EQ(h.stack().undoStack().size(), n);
}

TEST(TagTreeChangeTest, ReparentOntoATagTheFileHasUndoesExactly) {
    CommandHarness h;
    fs::path x = h.file("x.jpg", "a,b/a"), y = h.file("y.jpg", "a");
    h.load({{x, {"a", "b/a"}}, {y, {"a"}}});
    h.stack().performTagTreeChange(TagChangeKind::reparent, P({"Tags", "a"}), P({"Tags", "b", "a"}));
    EXPECT_EQ(rawTags(x), "b/a");
    EXPECT_EQ(rawTags(y), "b/a");
    h.stack().undo();
    EXPECT_EQ(rawTags(x), "a,b/a");  // b/a was there before the reparent
    EXPECT_EQ(rawTags(y), "a");
    EXPECT_EQ(h.listed(P({"Tags", "b", "a"})), (Strings{x.string()}));
    EXPECT_EQ(h.listed(P({"Tags", "a"})), (Strings{x.string(), y.string()}));
    h.stack().redo();
    EXPECT_EQ(rawTags(x), "b/a");
    EXPECT_EQ(rawTags(y), "b/a");
    h.stack().undo();
    EXPECT_EQ(rawTags(x), "a,b/a");
}

TEST(TagTreeChangeTest, MergeIntoParentDeleteAndCreate) {
    CommandHarness h;
    fs::path x = h.file("x", "a"), y = h.file("y", "a/c"), z = h.file("z", "a/c/d");
    h.load({{x, {"a"}}, {y, {"a/c"}}, {z, {"a/c/d"}}});

    h.stack().performTagTreeChange(TagChangeKind::merge, P({"Tags", "a", "c"}), P({"Tags", "a"}));
    EXPECT_EQ(rawTags(y), "a");
    EXPECT_EQ(rawTags(z), "a/d");
    EXPECT_EQ(h.listed(P({"Tags", "a"})), (Strings{x.string(), y.string()}));
    EXPECT_EQ(h.listed(P({"Tags", "a", "c"})), (Strings{"<missing>"}));
    EXPECT_EQ(h.statuses.back(), "Merged Tag");
    EXPECT_EQ(*h.stack().undoMenuTitle(), "Undo Merge Tag");
    h.stack().undo();
    EXPECT_EQ(h.statuses.back(), "Unmerged Tag");
    EXPECT_EQ(rawTags(y), "a/c");
    EXPECT_EQ(rawTags(z), "a/c/d");
    EXPECT_EQ(h.listed(P({"Tags", "a"})), (Strings{x.string()}));

    // Create a tag with no files, then delete it (0 files), then undo both.
    auto create = std::make_shared<TagChangeCommand>(TagChangeKind::create, TagChangeKind::create,
                                                     std::vector<TagChange>{}, std::set<std::string>{"a"},
                                                     std::set<std::string>{"a/new"});
    h.stack().performCommand(create);
    EXPECT_EQ(h.statuses.back(), "Created Tag");
    EXPECT_EQ(h.listed(P({"Tags", "a", "new"})), (Strings{}));
    h.stack().performTagTreeChange(TagChangeKind::deleteTag, P({"Tags", "a", "new"}));
    EXPECT_EQ(h.statuses.back(), "Deleted Tag");
    EXPECT_EQ(h.listed(P({"Tags", "a", "new"})), (Strings{"<missing>"}));
    EXPECT_EQ(h.window->currentNode(), P({"Tags", "a"}));
    EXPECT_EQ(h.undoTitles(), (Strings{"Create Tag", "Delete Tag"}));
    h.stack().undo();
    EXPECT_EQ(h.statuses.back(), "Undeleted Tag");
    EXPECT_EQ(h.listed(P({"Tags", "a", "new"})), (Strings{}));
    h.stack().undo();
    EXPECT_EQ(h.statuses.back(), "Deleted Tag");  // uncreate
    EXPECT_EQ(h.listed(P({"Tags", "a", "new"})), (Strings{"<missing>"}));
    EXPECT_EQ(h.listed(P({"Tags", "a"})), (Strings{x.string()}));
    EXPECT_EQ(rawTags(x), "a");
    h.stack().redo();
    EXPECT_EQ(h.statuses.back(), "Created Tag");
    EXPECT_EQ(*h.stack().undoMenuTitle(), "Undo Create Tag");
    EXPECT_EQ(h.listed(P({"Tags", "a", "new"})), (Strings{}));
}

}  // namespace
}  // namespace qm
