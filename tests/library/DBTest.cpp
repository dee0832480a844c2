#include "library/DB.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "core/MainQueue.h"
#include "library/ManualDirectoryWatcher.h"
#include "library/MemoryMetadataIndex.h"
#include "library/MemoryUserDefaults.h"
#include "support/TempDir.h"

namespace qm {
namespace {

struct Fixture {
    MemoryMetadataIndex index;
    std::shared_ptr<MemoryUserDefaults> defaults = std::make_shared<MemoryUserDefaults>();
    std::shared_ptr<DB> db;
    std::vector<std::string> events;
    std::shared_ptr<int> token = std::make_shared<int>(0);

    void make() {
        defaults->setValue("hasBeenLaunched", true);
        LibraryServices s{index.tagQuery(), index.gpsQuery(), defaults, nullptr, nullptr};
        db = DB::create(s);
        db->childrenChanged.subscribe(token, [this] { events.push_back("children"); });
        db->pathsChanged.subscribe(token, [this] { events.push_back("paths"); });
        db->treeChanged.subscribe(token, [this] { events.push_back("tree"); });
        db->loadingStateChanged.subscribe(token, [this] { events.push_back("loading"); });
        ASSERT_TRUE(
            mainQueue().runUntil([&] { return index.tagQuery()->isExecuted(); }, std::chrono::seconds(10)));
    }
    void load() {
        index.tagQuery()->finish();
        ASSERT_TRUE(mainQueue().runUntil([&] { return db->loadingState() == LoadingState::loaded; },
                                         std::chrono::seconds(10)));
    }
    ~Fixture() {
        db.reset();
        mainQueue().runPending();
    }
};

TEST(DBTest, FirstTreeBatchesAndLoadingState) {
    Fixture f;
    f.index.add({"/h/a", std::vector<std::string>{"A"}, std::nullopt, std::nullopt});
    f.defaults->setValue(
        "pins", DefaultsValue::parse(R"([3, ["Tags/A"], "Tags/A", "Colors/Red", "Tags/Missing", null])"));
    f.make();
    EXPECT_EQ(f.db->loadingState(), LoadingState::loading);
    f.load();
    EXPECT_EQ(f.events, (std::vector<std::string>{"children", "paths", "tree", "loading"}));
    mainQueue().runUntil([&] { return !f.db->isUpdatingDirectories(); }, std::chrono::seconds(10));
    Tree& t = f.db->tree();
    EXPECT_TRUE(t.isPinned(QuickString::literal("Tags/A")));
    EXPECT_TRUE(t.isPinned(QuickString::literal("Tags/Missing")));
    EXPECT_EQ(t.pinnedNode->children.size(), 2u);
    auto missing = t.pinnedNode->child(QuickString::literal("Missing"));
    ASSERT_TRUE(missing);
    EXPECT_EQ(missing->pathCount(), 0u);

    f.events.clear();
    f.db->performBatch([&] {
        f.db->noteChange(t.addTag(QuickString::literal("Tags/B"), QuickString::path("/h/x")));
        f.db->performBatch(
            [&] { f.db->noteChange(t.addTag(QuickString::literal("Tags/C"), QuickString::path("/h/x"))); });
        EXPECT_TRUE(f.events.empty());
        f.db->noteChange(t.addTag(QuickString::literal("Tags/B"), QuickString::path("/h/y")));
    });
    EXPECT_EQ(f.events, (std::vector<std::string>{"children", "paths"}));

    // Unchanged tags re-reported: nothing.
    f.events.clear();
    f.index.tagQuery()->update({{}, {MetadataItem{1, 1}}, {}});
    mainQueue().runUntil([] { return false; }, std::chrono::milliseconds(200));
    EXPECT_TRUE(f.events.empty());

    // setMapPaths with equal paths emits nothing.
    f.db->setMapPaths(t.mapNode->paths, std::nullopt);
    EXPECT_TRUE(f.events.empty());

    f.db->savePins();
    EXPECT_EQ(f.defaults->value("pins")->dump(), R"(["Tags/A","Tags/Missing"])");
}

TEST(DBTest, FoldersOnARealHome) {
    const auto home = test::testHome();
    std::filesystem::create_directories(home / "Library" / "x");
    std::filesystem::create_directories(home / ".hidden");
    std::filesystem::create_directories(home / "Pics.photoslibrary");
    std::filesystem::create_directories(home / "Docs" / "Deep" / "Library");
    test::writeFile(home / "top.txt", "x");
    test::writeFile(home / "Docs" / "d\xff.txt", "x");
    test::writeFile(home / "Docs" / ".dot", "x");

    Fixture f;
    f.make();
    f.load();
    auto pump = [&] {
        mainQueue().runUntil([&] { return !f.db->isUpdatingDirectories(); }, std::chrono::seconds(10));
    };
    pump();
    Tree& t = f.db->tree();
    auto folders = t.directoriesNode;
    EXPECT_TRUE(folders->child(QuickString::literal("Docs")));
    EXPECT_FALSE(folders->child(QuickString::literal("Library")));
    EXPECT_FALSE(folders->child(QuickString::literal(".hidden")));
    EXPECT_FALSE(folders->child(QuickString::literal("Pics.photoslibrary")));
    EXPECT_TRUE(folders->paths.contains(QuickString::literal((home / "top.txt").string())));
    auto docs = folders->child(QuickString::literal("Docs"));
    EXPECT_TRUE(docs->hasFlag(NodeFlags::foundUnscheduled));
    EXPECT_TRUE(docs->paths.empty()) << "lazy: not read before it is opened";

    f.db->openDirectories({QuickString::literal("Folders/Docs")});
    EXPECT_EQ(docs->paths.size(), 1u);
    EXPECT_TRUE(docs->paths.contains(QuickString::literal((home / "Docs" / "d\xff.txt").string())));
    pump();
    auto deep = docs->child(QuickString::literal("Deep"));
    ASSERT_TRUE(deep);
    f.db->openDirectories({QuickString::literal("Folders/Docs/Deep")});
    pump();
    EXPECT_TRUE(deep->child(QuickString::literal("Library"))) << "only home's Library is hidden";

    // Deleting a folder: the event marks the parent stale; its read drops the child.
    std::filesystem::remove_all(home / "Docs" / "Deep");
    f.db->directoryChanged(QuickString::path((home / "Docs").string()), false);
    pump();
    EXPECT_FALSE(docs->child(QuickString::literal("Deep")));

    // A directory that cannot be listed leaves its node and marks the parent.
    std::filesystem::create_directories(home / "Docs" / "Locked");
    test::writeFile(home / "Docs" / "Locked" / "f", "x");
    f.db->directoryChanged(QuickString::path((home / "Docs").string()), false);
    pump();
    auto locked = docs->child(QuickString::literal("Locked"));
    ASSERT_TRUE(locked);
    pump();
    EXPECT_EQ(locked->paths.size(), 1u);
    std::filesystem::remove_all(home / "Docs" / "Locked");
    locked->flags |= NodeFlags::stale;
    EXPECT_TRUE(f.db->refreshDirectory(locked));
    EXPECT_EQ(locked->paths.size(), 1u) << "an unreadable directory keeps what it had";
    EXPECT_TRUE(docs->hasFlag(NodeFlags::stale));
    pump();
    EXPECT_FALSE(docs->child(QuickString::literal("Locked")));
}

}  // namespace
}  // namespace qm
