// The sidebar's menu items per kind of row and the commands its actions run,
// checked on the files' attributes and folders on disk.
#include <gtest/gtest.h>

#include "SidebarHarness.h"
#include "sidebar/SidebarActions.h"

using namespace qm;
using namespace qm::test;

namespace {

std::vector<std::string> titles(SidebarHarness& h, const NodePath& path) {
    std::vector<std::string> out;
    for (const auto& item : SidebarActions::menuFor(h.tree(), path)) out.push_back(item.title);
    return out;
}

using Titles = std::vector<std::string>;

}  // namespace

TEST(SidebarActions, MenuItemsPerKindOfRow) {
    SidebarHarness h;
    h.loadTags({{"Work/2024"}, {"Red"}});
    h.mutableTree().addPin(Q("Tags/Work"));
    std::string home = h.root.filename().string();
    EXPECT_EQ(titles(h, P({"Tags"})), Titles{"New Tag"});
    EXPECT_EQ(titles(h, P({"Tags", "Work"})),
              (Titles{"New Subtag", "Rename Tag", "Delete Tag", "Unpin Tag", "Show in File Manager"}));
    EXPECT_EQ(titles(h, P({"Tags", "Work", "2024"})),
              (Titles{"New Subtag", "Rename Tag", "Delete Tag", "Merge into Parent Tag", "Pin Tag",
                      "Show in File Manager"}));
    EXPECT_EQ(titles(h, P({"Pinned", "Work"})), (Titles{"Unpin Tag", "Show in File Manager"}));
    EXPECT_EQ(titles(h, P({"Colors", "Red"})), Titles{"Show in File Manager"});
    EXPECT_EQ(titles(h, P({"Folders"})), (Titles{"New Folder", "Show in File Manager"}));
    EXPECT_EQ(titles(h, {Q("Folders"), Q(home)}),
              (Titles{"New Subfolder", "Rename Folder", "Move to Trash", "Show in File Manager"}));
    EXPECT_TRUE(titles(h, P({"Map"})).empty());
    EXPECT_TRUE(titles(h, P({"Tags", "missing"})).empty());

    auto prompt = SidebarActions::promptFor(SidebarAction::addNewTag, P({"Tags", "Work", "2024"}));
    ASSERT_TRUE(prompt);
    EXPECT_EQ(prompt->message, "Enter the name for the new subtag inside the tag \"Work/2024\":");
    EXPECT_EQ(prompt->button, "Create Subtag");
    EXPECT_EQ(SidebarActions::promptFor(SidebarAction::addNewFolder, P({"Folders"}))->message,
              "Enter the name for the new folder:");
    EXPECT_FALSE(SidebarActions::promptFor(SidebarAction::deleteCurrentTag, P({"Tags", "Work"})));

    // A tag reveals its files that share the folder of its first file.
    EXPECT_EQ(SidebarActions::revealPaths(h.tree(), P({"Tags", "Work", "2024"})),
              std::vector<std::string>{(h.root / "f0.txt").string()});
    EXPECT_EQ(SidebarActions::revealPaths(h.tree(), {Q("Folders"), Q(home)}),
              std::vector<std::string>{h.root.string()});
}

TEST(SidebarActions, DirectActionsRunUndoableCommands) {
    SidebarHarness h;
    h.loadTags({{"Work/2024"}, {"Work"}});
    fs::path f0 = h.root / "f0.txt";
    h.window->setCurrentNode(P({"Tags", "Work", "2024"}));
    SidebarActions::perform(*h.window, SidebarAction::pinCurrentTag);
    EXPECT_TRUE(h.tree().isPinned(Q("Tags/Work/2024")));
    h.window->setCurrentNode(P({"Tags", "Work", "2024"}));
    SidebarActions::perform(*h.window, SidebarAction::mergeIntoParentTag);
    EXPECT_EQ(rawTags(f0), "Work");
    h.stack().undo();
    EXPECT_EQ(rawTags(f0), "Work/2024");
    h.window->setCurrentNode(P({"Tags", "Work"}));
    SidebarActions::perform(*h.window, SidebarAction::deleteCurrentTag);
    EXPECT_EQ(rawTags(f0), "<none>");
    EXPECT_FALSE(h.tree().lookup(P({"Tags", "Work"})));
    h.stack().undo();
    EXPECT_EQ(rawTags(f0), "Work/2024");
    h.window->setCurrentNode(P({"Pinned", "Work/2024"}));
    SidebarActions::perform(*h.window, SidebarAction::unpinCurrentTag);
    EXPECT_FALSE(h.tree().isPinned(Q("Tags/Work/2024")));
}

TEST(SidebarActions, FolderNamesAreCheckedAndFoldersMadeRenamedAndTrashed) {
    SidebarHarness h;
    h.loadTags({{"x"}});
    std::string home = h.root.filename().string();
    h.window->setCurrentNode({Q("Folders"), Q(home)});
    EXPECT_EQ(SidebarActions::submit(*h.window, SidebarAction::addNewFolder, ".hidden"),
              "The folder name cannot start with a \".\" character");
    EXPECT_EQ(SidebarActions::submit(*h.window, SidebarAction::addNewFolder, "a/b"),
              "The folder name cannot contain a \"/\" character");
    EXPECT_EQ(SidebarActions::submit(*h.window, SidebarAction::addNewFolder, " \n "), "");
    EXPECT_TRUE(h.undoTitles().empty());
    EXPECT_EQ(SidebarActions::submit(*h.window, SidebarAction::addNewFolder, " Photos "), "");
    EXPECT_TRUE(fs::is_directory(h.root / "Photos"));
    EXPECT_EQ(h.window->currentNode(), (NodePath{Q("Folders"), Q(home), Q("Photos")}));
    EXPECT_EQ(SidebarActions::submit(*h.window, SidebarAction::renameCurrentFolder, "Pictures"), "");
    EXPECT_TRUE(fs::is_directory(h.root / "Pictures"));
    EXPECT_FALSE(fs::exists(h.root / "Photos"));
    h.stack().undo();
    EXPECT_TRUE(fs::is_directory(h.root / "Photos"));
    h.stack().undo();
    EXPECT_FALSE(fs::exists(h.root / "Photos"));
}
