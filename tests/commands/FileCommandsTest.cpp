// Trash, move, folder and pin commands on real files.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "commands/AlterPinCommand.h"
#include "commands/CommandHarness.h"
#include "commands/MoveFilesCommand.h"
#include "commands/NewSubdirectoryCommand.h"
#include "commands/RemoveSubdirectoryCommand.h"
#include "commands/ToTrashCommand.h"
#include "platform/Trash.h"

namespace qm {
namespace {

using namespace qm::test;
using Strings = std::vector<std::string>;

size_t entries(const fs::path& dir) {
    if (!fs::exists(dir)) return 0;
    return size_t(std::distance(fs::directory_iterator(dir), fs::directory_iterator()));
}

TEST(FileCommandsTest, TrashAndRestore) {
    CommandHarness h;
    std::string bytes("\x00\xff jpeg bytes\n", 14);
    fs::path photo = h.file("Pictures/photo.jpg", "holiday,Red", bytes);
    fs::path d1 = h.root / "old1", d2 = h.root / "old2";
    fs::create_directories(d1 / "inner");
    h.file("old1/inner/n.txt", "", "n");
    fs::create_directories(d2);
    h.load();
    fs::path trash = Trash::homeTrashDirectory();
    EXPECT_EQ(trash, fs::path(std::getenv("XDG_DATA_HOME")) / "Trash");

    Output out;
    h.stack().performCommand(std::make_shared<ToTrashCommand>(Strings{photo.string()}, TrashKind::files));
    std::string log = out.take();
    EXPECT_FALSE(fs::exists(photo));
    fs::path place = trash / "files" / "photo.jpg";
    EXPECT_EQ(qm::test::readFile(place), bytes);
    EXPECT_TRUE(fs::exists(trash / "info" / "photo.jpg.trashinfo"));
    std::string home = testHome().string() + "/";
    std::string shown = photo.string().substr(home.size());
    std::string shownPlace = place.string().substr(home.size());
    EXPECT_NE(log.find("[fs] Trashed \"" + shown + "\" to \"" + shownPlace + "\"\n"), std::string::npos) << log;
    EXPECT_EQ(h.statuses.back(), "Trashed File");
    EXPECT_EQ(*h.stack().undoMenuTitle(), "Undo Trash File");

    Output back;
    h.stack().undo();
    log = back.take();
    EXPECT_EQ(h.statuses.back(), "Restored File");
    EXPECT_EQ(qm::test::readFile(photo), bytes);
    EXPECT_EQ(rawTags(photo), "holiday,Red");
    EXPECT_EQ(entries(trash / "files"), 0u);
    EXPECT_EQ(entries(trash / "info"), 0u);  // no orphan record
    EXPECT_NE(log.find("[fs] Restored \"" + shownPlace + "\" to \"" + shown + "\"\n"), std::string::npos) << log;
    EXPECT_NE(log.find("[run] Undo: FromTrashCommand(fromTo: [(\"" + place.string() + "\", \"" +
                       photo.string() + "\")])"),
              std::string::npos)
        << log;
    h.stack().redo();
    EXPECT_FALSE(fs::exists(photo));
    EXPECT_EQ(h.statuses.back(), "Trashed File");
    h.stack().undo();
    EXPECT_TRUE(fs::exists(photo));

    // Two folders, one of which is missing: only the one that went comes back.
    Output two;
    fs::path gone = h.root / "never";
    h.stack().performCommand(std::make_shared<ToTrashCommand>(Strings{d1.string(), d2.string(), gone.string()},
                                                              TrashKind::directories));
    log = two.take();
    EXPECT_EQ(h.statuses.back(), "Trashed 2 Folders; 1 could not be trashed");
    EXPECT_EQ(*h.stack().undoMenuTitle(), "Undo Trash 3 Folders");
    EXPECT_NE(log.find("[fs] Failed to trash \"" + gone.string().substr(home.size()) + "\": "),
              std::string::npos);
    const auto& inv = *h.stack().undoStack().back().command;
    EXPECT_EQ(inv.statusText(), "Restored 2 Folders");
    h.stack().undo();
    EXPECT_EQ(h.statuses.back(), "Restored 2 Folders");
    EXPECT_TRUE(fs::exists(d1 / "inner" / "n.txt"));
    EXPECT_TRUE(fs::is_directory(d2));
    EXPECT_EQ(entries(trash / "info"), 0u);

    // Nothing trashed: said so, and nothing to undo; the redo step stays.
    ASSERT_EQ(h.redoTitles(), (Strings{"Trash 3 Folders"}));
    h.stack().performCommand(std::make_shared<ToTrashCommand>(Strings{gone.string()}, TrashKind::files));
    EXPECT_EQ(h.statuses.back(), "Trashed 0 Files; 1 could not be trashed");
    EXPECT_TRUE(h.stack().undoStack().empty());
    EXPECT_EQ(h.redoTitles(), (Strings{"Trash 3 Folders"}));
    // A restore that partly fails says so too.
    h.stack().redo();
    fs::create_directories(d2);  // something took the place of one folder
    h.stack().undo();
    EXPECT_EQ(h.statuses.back(), "Restored Folder; 1 could not be restored");
    EXPECT_TRUE(fs::exists(d1 / "inner" / "n.txt"));

    ToTrashCommand twoFolders({"/a", "/b"}, TrashKind::directories);
    EXPECT_EQ(twoFolders.statusText(), "Trashed 2 Folders");
    EXPECT_EQ(twoFolders.menuText(), "Trash 2 Folders");
    EXPECT_EQ(twoFolders.debugDescription(), "ToTrashCommand(paths: [\"/a\", \"/b\"])");
    EXPECT_EQ(ToTrashCommand({"/a"}, TrashKind::directories).statusText(), "Trashed Folder");
    EXPECT_EQ(ToTrashCommand({"/a", "/b"}, TrashKind::files).statusText(), "Trashed 2 Files");
}

TEST(FileCommandsTest, MovesNeverReplace) {
    CommandHarness h;
    fs::path a = h.file("a.txt", "", "A"), b = h.file("b.txt", "", "B"), c = h.file("c.txt", "t", "C");
    fs::path dest = h.root / "dest";
    fs::create_directories(dest);
    fs::path taken = h.file("dest/b.txt", "", "other B");
    h.load();

    Output out;
    MoveFilesCommand::Pairs pairs = {{a.string(), (dest / "a.txt").string()},
                                     {b.string(), taken.string()},
                                     {c.string(), (dest / "c.txt").string()}};
    h.stack().performCommand(std::make_shared<MoveFilesCommand>(pairs));
    std::string log = out.take();
    EXPECT_EQ(h.statuses.back(), "Moved 2 files; 1 could not be moved");
    EXPECT_EQ(*h.stack().undoMenuTitle(), "Undo Move 3 files");
    EXPECT_EQ(qm::test::readFile(taken), "other B");
    EXPECT_EQ(qm::test::readFile(b), "B");
    EXPECT_EQ(qm::test::readFile(dest / "a.txt"), "A");
    EXPECT_EQ(rawTags(dest / "c.txt"), "t");
    std::string home = testHome().string() + "/";
    EXPECT_NE(log.find("[fs] Failed to move \"" + b.string().substr(home.size()) + "\": "), std::string::npos)
        << log;
    EXPECT_NE(log.find("[fs] Moved \"" + a.string().substr(home.size()) + "\" to \"" +
                       (dest / "a.txt").string().substr(home.size()) + "\""),
              std::string::npos);
    const auto& inv = dynamic_cast<const MoveFilesCommand&>(*h.stack().undoStack().back().command);
    EXPECT_EQ(inv.fromTo, (MoveFilesCommand::Pairs{{(dest / "a.txt").string(), a.string()},
                                                   {(dest / "c.txt").string(), c.string()}}));
    h.stack().undo();
    EXPECT_EQ(h.statuses.back(), "Moved 2 files");
    EXPECT_EQ(qm::test::readFile(a), "A");
    EXPECT_EQ(qm::test::readFile(c), "C");
    EXPECT_EQ(qm::test::readFile(taken), "other B");
    EXPECT_EQ(MoveFilesCommand(MoveFilesCommand::Pairs{{"/x", "/y"}}).statusText(), "Moved File");

    // Nothing moved: no undo step.
    size_t steps = h.stack().undoStack().size();
    h.stack().performCommand(std::make_shared<MoveFilesCommand>(MoveFilesCommand::Pairs{{b.string(), taken.string()}}));
    EXPECT_EQ(h.statuses.back(), "Moved 0 files; 1 could not be moved");
    EXPECT_EQ(h.stack().undoStack().size(), steps);
    EXPECT_EQ(qm::test::readFile(b), "B");
}

TEST(FileCommandsTest, Subfolders) {
    CommandHarness h;
    h.load();
    fs::path deep = h.root / "new" / "deeper";
    Output out;
    h.stack().performCommand(std::make_shared<NewSubdirectoryCommand>(deep.string()));
    EXPECT_TRUE(fs::is_directory(deep));
    EXPECT_EQ(h.statuses.back(), "Created Subfolder");
    EXPECT_EQ(*h.stack().undoMenuTitle(), "Undo Create Subfolder");
    h.file("new/deeper/keep.txt");
    h.stack().undo();  // not empty: fails, logged, and the folder stays
    std::string log = out.take();
    EXPECT_NE(log.find("[fs] Created \"" + deep.string() + "\"\n"), std::string::npos) << log;
    EXPECT_NE(log.find("[fs] Failed to remove \"" + deep.string() + "\"\n"), std::string::npos) << log;
    EXPECT_NE(log.find("[run] Undo: RemoveSubdirectoryCommand(path: " + deep.string() + ")\n"),
              std::string::npos);
    EXPECT_TRUE(fs::exists(deep / "keep.txt"));
    EXPECT_EQ(h.statuses.back(), "Could not remove Subfolder");
    fs::remove(deep / "keep.txt");
    h.stack().redo();  // the inverse was made anyway: creating an existing folder is fine
    h.stack().undo();
    EXPECT_FALSE(fs::exists(deep));
    EXPECT_TRUE(fs::exists(h.root / "new"));

    // A file in the way.
    h.file("blocker");
    Output fail;
    size_t steps = h.stack().undoStack().size();
    h.stack().performCommand(std::make_shared<NewSubdirectoryCommand>((h.root / "blocker" / "x").string()));
    EXPECT_NE(fail.take().find("[fs] Failed to create \""), std::string::npos);
    EXPECT_EQ(h.statuses.back(), "Could not create Subfolder");
    EXPECT_EQ(h.stack().undoStack().size(), steps);  // nothing to undo
    EXPECT_EQ(NewSubdirectoryCommand("/p q").debugDescription(), "NewSubdirectoryCommand(path: /p q)");
}

TEST(FileCommandsTest, PinsAndTheirNodes) {
    CommandHarness h;
    fs::path x = h.file("x", "a/b");
    h.load({{x, {"a/b"}}});
    h.window->setCurrentNode(P({"Tags", "a", "b"}));
    h.events.clear();
    h.stack().performPinChange(Q("Tags/a/b"), PinAction::pinTag);
    EXPECT_TRUE(h.tree().isPinned(Q("Tags/a/b")));
    EXPECT_EQ(h.window->currentNode(), P({"Pinned", "a/b"}));
    EXPECT_EQ(h.statuses.back(), "Pinned Tag \"a/b\"");
    EXPECT_EQ(*h.stack().undoMenuTitle(), "Undo Pin Tag \"a/b\"");
    EXPECT_EQ(h.events, (Strings{"children"}));
    auto pins = h.defaults->value("pins");
    ASSERT_TRUE(pins);
    EXPECT_EQ(pins->dump(), R"(["Tags/a/b"])");
    h.stack().performPinChange(Q("Tags/a/b"), PinAction::pinTag);  // already pinned: nothing changes
    EXPECT_EQ(h.events, (Strings{"children"}));
    h.stack().performPinChange(Q("Tags/a/b"), PinAction::unpinTag);
    EXPECT_FALSE(h.tree().isPinned(Q("Tags/a/b")));
    EXPECT_EQ(h.window->currentNode(), P({"Tags", "a", "b"}));
    EXPECT_EQ(h.statuses.back(), "Unpinned Tag \"a/b\"");
    h.stack().undo();  // back to where the unpin was asked for
    EXPECT_TRUE(h.tree().isPinned(Q("Tags/a/b")));
    EXPECT_EQ(h.window->currentNode(), P({"Pinned", "a/b"}));
    EXPECT_EQ(AlterPinCommand(Q("Tags/a/b"), PinAction::unpinTag).debugDescription(),
              "AlterPinCommand(fullPath: \"Tags/a/b\", action: unpinTag)");
}

}  // namespace
}  // namespace qm
