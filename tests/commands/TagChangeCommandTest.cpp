#include "commands/TagChangeCommand.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "commands/TagChangeBuilder.h"
#include "commands/CommandHarness.h"

namespace qm {
namespace {

using namespace qm::test;
using Strings = std::vector<std::string>;

CommandPtr tagCommand(TagChangeKind kind, const std::vector<fs::path>& paths, const std::string& tag,
                      bool remove = false) {
    std::vector<TagChange> changes;
    for (const fs::path& p : paths) {
        TagChange c{QuickString::path(p.string()), {}, {}};
        (remove ? c.tagsToRemove : c.tagsToAdd).insert(tag);
        changes.push_back(c);
    }
    return std::make_shared<TagChangeCommand>(kind, kind, changes, std::set<std::string>{},
                                              std::set<std::string>{});
}

TEST(TagChangeCommandTest, TagUndoRedoUndoOnRealFiles) {
    CommandHarness h;
    fs::path a = h.file("a.jpg", "c"), b = h.file("b.jpg"), c = h.file("c.jpg", "zed");
    h.load({{a, {"c"}}, {c, {"zed"}}});
    NodePath start = P({"Folders"});
    h.window->setCurrentNode(start);
    QuickStringSet sel{QuickString::path(a.string())};
    h.window->setCurrentSelection(sel);

    Output out;
    h.events.clear();
    h.stack().performCommand(tagCommand(TagChangeKind::tag, {a, b, c}, "b"));
    std::string log = out.take();
    // Written lists are sorted.
    EXPECT_EQ(rawTags(a), "b,c");
    EXPECT_EQ(rawTags(b), "b");
    EXPECT_EQ(rawTags(c), "b,zed");
    EXPECT_NE(log.find("[fs] Set tags to [\"b\", \"c\"] for \"" + a.string() + "\" (was [\"c\"])\n"),
              std::string::npos)
        << log;
    EXPECT_NE(log.find("[fs] Set tags to [\"b\", \"zed\"] for \"" + c.string() + "\" (was [\"zed\"])"),
              std::string::npos)
        << log;
    EXPECT_NE(log.find("[run] TagChangeCommand(files: [TagChange(path: \"" + a.string() +
                       "\", toAdd: [\"b\"], toRemove: [])/TagChange"),
              std::string::npos)
        << log;
    // One batch: the new node and the new paths are announced once each.
    EXPECT_EQ(h.events, (Strings{"children", "paths"}));
    EXPECT_EQ(h.listed(P({"Tags", "b"})), (Strings{a.string(), b.string(), c.string()}));
    EXPECT_EQ(h.statuses, (Strings{"Tagged 3 Files"}));
    EXPECT_EQ(h.undoTitles(), (Strings{"Tag 3 Files"}));
    EXPECT_EQ(*h.stack().undoMenuTitle(), "Undo Tag 3 Files");
    EXPECT_EQ(h.window->currentNode(), start);
    EXPECT_EQ(h.window->currentSelection(), sel);

    h.stack().undo();
    EXPECT_EQ(rawTags(a), "c");
    EXPECT_EQ(rawTags(b), "<none>");  // an empty list removes the attribute
    EXPECT_EQ(rawTags(c), "zed");
    EXPECT_EQ(h.listed(P({"Tags", "b"})), (Strings{"<missing>"}));
    EXPECT_EQ(h.statuses.back(), "Untagged 3 Files");
    EXPECT_EQ(*h.stack().redoMenuTitle(), "Redo Tag 3 Files");

    h.stack().redo();
    EXPECT_EQ(rawTags(b), "b");
    EXPECT_EQ(h.statuses.back(), "Tagged 3 Files");
    h.stack().undo();
    EXPECT_TRUE(h.stack().undoStack().empty());
    EXPECT_EQ(h.redoTitles(), (Strings{"Tag 3 Files"}));
    EXPECT_EQ(h.window->currentNode(), start);
    EXPECT_EQ(h.window->currentSelection(), sel);

    // Undo with nothing to undo: no line, no status.
    Output quiet;
    size_t n = h.statuses.size();
    h.stack().undo();
    EXPECT_EQ(quiet.take(), "");
    EXPECT_EQ(h.statuses.size(), n);

    // A new command empties the redo list; a file that has the tag already
    // is not written.
    Output again;
    h.stack().performCommand(tagCommand(TagChangeKind::tag, {a}, "c"));
    EXPECT_NE(again.take().find("[fs] No change to tags for \"" + a.string() + "\" (was [\"c\"])\n"),
              std::string::npos);
    EXPECT_TRUE(h.stack().redoStack().empty());
    h.stack().performCommand(tagCommand(TagChangeKind::tag, {b}, "q"));
    EXPECT_TRUE(h.stack().redoStack().empty());
    EXPECT_EQ(h.statuses.back(), "Tagged File");
    h.stack().undo();
    EXPECT_EQ(h.statuses.back(), "Untagged File");
    EXPECT_EQ(*h.stack().redoMenuTitle(), "Redo Tag File");
}

TEST(TagChangeCommandTest, WindowMovesAndComesBack) {
    CommandHarness h;
    fs::path a = h.file("a.jpg", "t");
    h.load({{a, {"t"}}});
    h.window->setCurrentNode(P({"Tags", "t"}));
    QuickStringSet sel{QuickString::path(a.string())};
    h.window->setCurrentSelection(sel);
    h.stack().performCommand(tagCommand(TagChangeKind::untag, {a}, "t", true), P({"Tags"}), QuickStringSet{});
    EXPECT_EQ(h.window->currentNode(), P({"Tags"}));
    EXPECT_TRUE(h.window->currentSelection().empty());
    EXPECT_EQ(h.undoTitles(), (Strings{"Untag File"}));
    EXPECT_EQ(h.statuses.back(), "Untagged File");
    EXPECT_EQ(rawTags(a), "<none>");
    h.stack().undo();
    EXPECT_EQ(h.window->currentNode(), P({"Tags", "t"}));
    EXPECT_EQ(h.window->currentSelection(), sel);
    EXPECT_EQ(rawTags(a), "t");
    h.stack().redo();
    EXPECT_EQ(h.window->currentNode(), P({"Tags"}));
}

TEST(TagChangeCommandTest, FailedWritesPutTheTreeBackToTheDisk) {
    CommandHarness h;
    fs::path a = h.file("a.jpg", "old");
    fs::path target = h.file("target.jpg", "old");
    fs::path link = h.root / "link.jpg";
    ASSERT_EQ(0, ::symlink(target.c_str(), link.c_str()));
    fs::path ro = h.file("ro.jpg", "old");
    h.load({{a, {"old"}}, {link, {"old"}}, {ro, {"old"}}});
    ::chmod(ro.c_str(), 0444);

    // A tag with "," cannot be stored; a symlink carries no user attributes
    // (the target must not be written through it); a read-only file refuses
    // unless we are root.
    Output out;
    h.events.clear();
    std::vector<TagChange> changes = {
        {QuickString::path(a.string()), {"x,y"}, {"old"}},
        {QuickString::path(link.string()), {"new"}, {}},
        {QuickString::path(ro.string()), {"new"}, {}},
    };
    auto cmd = std::make_shared<TagChangeCommand>(TagChangeKind::tag, TagChangeKind::tag, changes,
                                                  std::set<std::string>{}, std::set<std::string>{});
    h.stack().performCommand(cmd);
    std::string log = out.take();
    EXPECT_EQ(rawTags(a), "old");
    EXPECT_EQ(rawTags(target), "old");
    EXPECT_NE(log.find("[fs] Failed to set tags for \"" + a.string() + "\": "), std::string::npos) << log;
    EXPECT_NE(log.find("[fs] Failed to set tags for \"" + link.string() + "\": "), std::string::npos) << log;
    // The tree shows what the disk holds again.
    EXPECT_EQ(h.tree().tagsFor(QuickString::path(a.string())), (QuickStringSet{Q("Tags/old")}));
    // The link itself carries no tags: that is what the tree shows now.
    EXPECT_TRUE(h.tree().tagsFor(QuickString::path(link.string())).empty());
    EXPECT_EQ(h.listed(P({"Tags", "x,y"})), (Strings{"<missing>"}));
    if (::geteuid() != 0) {
        EXPECT_EQ(rawTags(ro), "old");
        EXPECT_EQ(h.tree().tagsFor(QuickString::path(ro.string())), (QuickStringSet{Q("Tags/old")}));
        EXPECT_EQ(h.listed(P({"Tags", "new"})), (Strings{"<missing>"}));
    } else {
        EXPECT_EQ(rawTags(ro), "new,old");
        EXPECT_EQ(h.listed(P({"Tags", "new"})), (Strings{ro.string()}));
    }
    // The inverse lists every file, but undoes only what was written.
    const auto& inverse = dynamic_cast<const TagChangeCommand&>(*h.stack().undoStack().back().command);
    ASSERT_EQ(inverse.files.size(), 3u);
    EXPECT_TRUE(inverse.files[0].tagsToAdd.empty());
    EXPECT_TRUE(inverse.files[0].tagsToRemove.empty());
    EXPECT_EQ(inverse.currentKind, TagChangeKind::untag);
    EXPECT_EQ(inverse.originalKind, TagChangeKind::tag);
    h.stack().undo();
    EXPECT_EQ(rawTags(a), "old");
    ::chmod(ro.c_str(), 0644);
}

TEST(TagChangeCommandTest, UndoRestoresExactlyTheTagsEachFileHad) {
    CommandHarness h;
    fs::path a = h.file("a.jpg", "x"), b = h.file("b.jpg"), c = h.file("c.jpg", "y"), d = h.file("d.jpg", "z");
    h.load({{a, {"x"}}, {c, {"y"}}, {d, {"z"}}});

    // Tagging three files with x when one already has it.
    h.stack().performCommand(tagCommand(TagChangeKind::tag, {a, b, c}, "x"));
    EXPECT_EQ(h.statuses.back(), "Tagged 3 Files");
    EXPECT_EQ(h.undoTitles(), (Strings{"Tag 3 Files"}));
    EXPECT_EQ(rawTags(a), "x");
    EXPECT_EQ(rawTags(b), "x");
    EXPECT_EQ(rawTags(c), "x,y");
    for (int round = 0; round < 2; ++round) {
        h.stack().undo();
        EXPECT_EQ(h.statuses.back(), "Untagged 3 Files");
        EXPECT_EQ(rawTags(a), "x");  // had it before: keeps it
        EXPECT_EQ(rawTags(b), "<none>");
        EXPECT_EQ(rawTags(c), "y");
        EXPECT_EQ(h.listed(P({"Tags", "x"})), (Strings{a.string()}));
        h.stack().redo();
        EXPECT_EQ(h.statuses.back(), "Tagged 3 Files");
        EXPECT_EQ(rawTags(a), "x");
        EXPECT_EQ(rawTags(b), "x");
        EXPECT_EQ(rawTags(c), "x,y");
        EXPECT_EQ(h.listed(P({"Tags", "x"})), (Strings{a.string(), b.string(), c.string()}));
    }

    // Untagging a file that never had the tag, then undoing, does not give it.
    h.stack().performCommand(tagCommand(TagChangeKind::untag, {b, d}, "z", true));
    EXPECT_EQ(h.statuses.back(), "Untagged 2 Files");
    EXPECT_EQ(rawTags(d), "<none>");
    h.stack().undo();
    EXPECT_EQ(rawTags(b), "x");
    EXPECT_EQ(rawTags(d), "z");
    EXPECT_EQ(h.listed(P({"Tags", "z"})), (Strings{d.string()}));
    h.stack().redo();
    EXPECT_EQ(rawTags(b), "x");
    EXPECT_EQ(rawTags(d), "<none>");
}

TEST(TagChangeCommandTest, UnreadableFilePutsTheTreeBack) {
    CommandHarness h;
    fs::path a = h.file("a.jpg", "old"), gone = h.file("gone.jpg", "old");
    h.load({{a, {"old"}}, {gone, {"old"}}});
    fs::remove(gone);  // the index has not caught up yet
    h.stack().performCommand(tagCommand(TagChangeKind::tag, {a, gone}, "new"));
    EXPECT_EQ(rawTags(a), "new,old");
    EXPECT_EQ(h.tree().tagsFor(QuickString::path(gone.string())), (QuickStringSet{Q("Tags/old")}));
    EXPECT_EQ(h.listed(P({"Tags", "new"})), (Strings{a.string()}));
    EXPECT_EQ(h.listed(P({"Tags", "old"})), (Strings{a.string(), gone.string()}));
    h.stack().undo();
    EXPECT_EQ(rawTags(a), "old");
    EXPECT_EQ(h.tree().tagsFor(QuickString::path(gone.string())), (QuickStringSet{Q("Tags/old")}));
}

TEST(TagChangeCommandTest, BuilderAndDescriptions) {
    TagChangeBuilder b;
    b.addTag(Q("/x/file10"), "a");
    b.removeTag(Q("/x/file10"), "a");
    b.addTag(Q("/x/file9"), "b");
    b.addTag(Q("/x/File1"), "c");
    std::vector<TagChange> built = b.build();
    ASSERT_EQ(built.size(), 3u);
    EXPECT_EQ(built[0].path, Q("/x/File1"));
    EXPECT_EQ(built[1].path, Q("/x/file9"));
    EXPECT_EQ(built[2].path, Q("/x/file10"));
    EXPECT_EQ(built[2].tagsToAdd, (std::set<std::string>{"a"}));
    EXPECT_EQ(built[2].tagsToRemove, (std::set<std::string>{"a"}));
    EXPECT_EQ(built[2].debugDescription(), "TagChange(path: \"/x/file10\", toAdd: [\"a\"], toRemove: [\"a\"])");

    TagChangeCommand none(TagChangeKind::deleteTag, TagChangeKind::deleteTag, {}, {"a"}, {});
    EXPECT_EQ(none.statusText(), "Deleted Tag");
    EXPECT_EQ(none.menuText(), "Delete Tag");
    EXPECT_EQ(none.debugDescription(), "TagChangeCommand(files: [], nodesToTrim: [\"a\"], nodesToMake: [])");
    TagChangeCommand zero(TagChangeKind::star, TagChangeKind::unstar, {}, {}, {});
    EXPECT_EQ(zero.statusText(), "Unstarred 0 Files");
    EXPECT_EQ(zero.menuText(), "Star 0 Files");
    // Every kind's inverse is its partner, twice round is itself.
    for (int k = 0; k < 12; ++k)
        EXPECT_EQ(inverse(inverse(TagChangeKind(k))), TagChangeKind(k));
    EXPECT_EQ(inverse(TagChangeKind::uncreate), TagChangeKind::create);
    EXPECT_EQ(menuText(TagChangeKind::uncreate, ""), "Delete Tag");
    EXPECT_EQ(statusText(TagChangeKind::undelete, ""), "Undeleted Tag");
    EXPECT_EQ(statusText(TagChangeKind::rename, ""), "Renamed Tag");
}

}  // namespace
}  // namespace qm
