#include "library/DB.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <set>
#include <thread>
#include <string>
#include <vector>

#include "core/MainQueue.h"
#include "core/SerialQueue.h"
#include "geo/AsyncMultiGrid.h"
#include "support/ManualDirectoryWatcher.h"
#include "support/MemoryMetadataIndex.h"
#include "library/MemoryUserDefaults.h"
#include "support/TempDir.h"

namespace qm {
namespace {

struct Fixture {
    MemoryMetadataIndex index;
    std::shared_ptr<MemoryUserDefaults> defaults = std::make_shared<MemoryUserDefaults>();
    std::shared_ptr<FolderAccessProbe> probe;
    bool watched = false;
    ManualDirectoryWatcher* watcher = nullptr;  // owned by the monitor
    std::shared_ptr<DB> db;
    std::vector<std::string> events;
    std::vector<LoadingState> states;
    int grids = 0;
    std::vector<Subscription> subscriptions;

    void make() {
        defaults->setValue("hasBeenLaunched", true);
        LibraryServices s{index.tagQuery(), index.gpsQuery(), defaults, nullptr, probe};
        if (watched)
            s.makeDirectoryWatcher = [this] {
                auto w = std::make_unique<ManualDirectoryWatcher>();
                watcher = w.get();
                return w;
            };
        db = DB::create(s);
        subscriptions.push_back(db->childrenChanged.subscribe([this] { events.push_back("children"); }));
        subscriptions.push_back(db->pathsChanged.subscribe([this] { events.push_back("paths"); }));
        subscriptions.push_back(db->treeChanged.subscribe([this] { events.push_back("tree"); }));
        subscriptions.push_back(db->loadingStateChanged.subscribe([this] {
            events.push_back("loading");
            states.push_back(db->loadingState());
        }));
        subscriptions.push_back(db->gridChanged.subscribe([this] { ++grids; }));
        ASSERT_TRUE(
            mainQueue().runUntil([&] { return index.tagQuery()->isExecuted(); }, std::chrono::seconds(10)));
    }
    void load() {
        index.tagQuery()->finish();
        ASSERT_TRUE(mainQueue().runUntil([&] { return db->loadingState() == LoadingState::loaded; },
                                         std::chrono::seconds(10)));
    }
    // Runs the folder pass, its directory reads included, to its end.
    void pump() {
        ASSERT_TRUE(
            mainQueue().runUntil([&] { return !db->isUpdatingDirectories(); }, std::chrono::seconds(10)));
    }
    // Waits for the directory read in flight (or the one the pass's next
    // turn starts) and applies its result, without running the rest of the
    // pass.
    void applyRead() {
        if (!db->isReadingDirectory()) mainQueue().runPending();
        ASSERT_TRUE(db->isReadingDirectory());
        db->folderQueue().sync([] {});
        mainQueue().runPending();
        EXPECT_FALSE(db->isReadingDirectory());
    }
    // Lets the grid's queue publish what it was given.
    void settleGrid() {
        db->asyncGrid()->waitUntilIdle();
        mainQueue().runPending();
    }
    ~Fixture() {
        db.reset();
        mainQueue().runPending();
    }
};

std::set<std::string> keys(const Node::Paths& paths) {
    std::set<std::string> out;
    for (const auto& [p, meta] : paths)
        out.insert(std::string(p.utf8()));
    return out;
}

TEST(DBTest, FirstTreeBatchesAndLoadingState) {
    Fixture f;
    f.index.add({"/h/a", std::vector<std::string>{"A"}, std::nullopt, std::nullopt});
    f.defaults->setValue(
        "pins", DefaultsValue::parse(R"([3, ["Tags/A"], "Tags/A", "Colors/Red", "Tags/Missing", null])"));
    f.make();
    EXPECT_EQ(f.db->loadingState(), LoadingState::loading);
    f.load();
    EXPECT_EQ(f.events, (std::vector<std::string>{"children", "paths", "tree", "loading"}));
    f.pump();
    Tree& t = f.db->mutableTree();
    EXPECT_TRUE(t.isPinned(QuickString::literal("Tags/A")));
    EXPECT_TRUE(t.isPinned(QuickString::literal("Tags/Missing")));
    EXPECT_EQ(t.pinnedNode()->children().size(), 2u);
    auto missing = t.pinnedNode()->child(QuickString::literal("Missing"));
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
    f.db->setMapPaths(t.mapNode()->paths(), std::nullopt);
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
    auto pump = [&] { f.pump(); };
    pump();
    const Tree& t = f.db->tree();
    auto folders = t.directoriesNode();
    EXPECT_TRUE(folders->child(QuickString::literal("Docs")));
    EXPECT_FALSE(folders->child(QuickString::literal("Library")));
    EXPECT_FALSE(folders->child(QuickString::literal(".hidden")));
    EXPECT_FALSE(folders->child(QuickString::literal("Pics.photoslibrary")));
    EXPECT_TRUE(folders->paths().contains(QuickString::literal((home / "top.txt").string())));
    auto docs = folders->child(QuickString::literal("Docs"));
    EXPECT_TRUE(docs->hasFlag(NodeFlags::foundUnscheduled));
    EXPECT_TRUE(docs->paths().empty()) << "lazy: not read before it is opened";

    f.db->openDirectories({QuickString::literal("Folders/Docs")});
    f.applyRead();
    EXPECT_EQ(docs->paths().size(), 1u);
    EXPECT_TRUE(docs->paths().contains(QuickString::literal((home / "Docs" / "d\xff.txt").string())));
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
    EXPECT_EQ(locked->paths().size(), 1u);
    std::filesystem::remove_all(home / "Docs" / "Locked");
    f.db->directoryChanged(QuickString::path((home / "Docs" / "Locked").string()), false);
    f.applyRead();
    EXPECT_EQ(locked->paths().size(), 1u) << "an unreadable directory keeps what it had";
    EXPECT_TRUE(docs->hasFlag(NodeFlags::stale));
    pump();
    EXPECT_FALSE(docs->child(QuickString::literal("Locked")));
}

// Holds the listing of Documents, as a system permission prompt would.
class SlowProbe final : public FolderAccessProbe {
public:
    void listDirectory(const std::string& path) override {
        if (path.ends_with("/Documents")) std::this_thread::sleep_for(std::chrono::milliseconds(600));
    }
};

TEST(DBTest, LoadingStateFollowsTheProbeAndNeverLeavesLoaded) {
    Fixture f;
    f.probe = std::make_shared<SlowProbe>();
    f.make();
    mainQueue().runPending();
    EXPECT_EQ(f.states, (std::vector<LoadingState>{LoadingState::blockedByPermissionPrompt,
                                                   LoadingState::loading}));
    f.load();
    EXPECT_EQ(f.states.back(), LoadingState::loaded);
    f.events.clear();
    f.db->permissionStateChanged(true);
    f.db->permissionStateChanged(false);
    EXPECT_EQ(f.db->loadingState(), LoadingState::loaded);
    EXPECT_TRUE(f.events.empty());
}

// The map node's positions reach the grid exactly once whichever query
// finishes first; an equal re-delivery touches neither the events nor the grid.
TEST(DBTest, PositionsReachTheMapAndTheGridOnce) {
    for (bool gpsFirst : {true, false}) {
        SCOPED_TRACE(gpsFirst ? "GPS first" : "tags first");
        Fixture f;
        f.index.add({"/h/t", std::vector<std::string>{"T"}, std::nullopt, std::nullopt});
        f.index.add({"/h/p1", std::nullopt, 47.0, 8.0});
        f.index.add({"/h/zero", std::nullopt, 0.0, 0.0});
        f.index.add({"/h/equator", std::nullopt, 0.0, 8.0});
        f.make();
        if (gpsFirst) f.index.gpsQuery()->finish();
        f.load();
        f.pump();  // the home directory's read announces its own changes
        f.events.clear();
        if (!gpsFirst) f.index.gpsQuery()->finish();
        const Tree& t = f.db->tree();
        ASSERT_TRUE(mainQueue().runUntil([&] { return t.mapNode()->paths().size() == 2 && f.grids == 1; },
                                         std::chrono::seconds(10)));
        f.settleGrid();
        EXPECT_EQ(keys(t.mapNode()->paths()), (std::set<std::string>{"/h/equator", "/h/p1"}));
        EXPECT_EQ(f.grids, 1);
        EXPECT_EQ(f.db->asyncGrid()->latestGrid()->count(), 2u);
        // Delivered with the tree, or once afterwards.
        EXPECT_EQ(f.events, gpsFirst ? std::vector<std::string>{} : std::vector<std::string>{"paths"});

        f.events.clear();
        const auto grid = f.db->asyncGrid()->latestGrid();
        Node::Paths same = t.mapNode()->paths();
        f.db->setMapPaths(same, QuickStringSet{QuickString::path("/h/p1")});
        f.settleGrid();
        EXPECT_TRUE(f.events.empty());
        EXPECT_EQ(f.grids, 1);
        EXPECT_EQ(f.db->asyncGrid()->latestGrid(), grid);

        same.erase(QuickString::path("/h/p1"));
        f.db->setMapPaths(same, QuickStringSet{QuickString::path("/h/p1")});
        f.settleGrid();
        EXPECT_EQ(f.events, (std::vector<std::string>{"paths"}));
        EXPECT_EQ(f.grids, 2);
        EXPECT_EQ(f.db->asyncGrid()->latestGrid()->count(), 1u);
    }
}

TEST(DBTest, PinsSurviveJunkAndSaveInNaturalOrder) {
    for (const char* junk : {"3", "\"Tags/A\"", "{\"0\": \"Tags/A\"}", "[[\"Tags/A\"]]",
                             "[1, 2.5, true, null, {}, [[]], {\"Tags/A\": 1}]", "null", "[]", "false"}) {
        SCOPED_TRACE(junk);
        MemoryUserDefaults defaults;
        defaults.setValue("pins", DefaultsValue::parse(junk));
        Tree tree;
        tree.addTag(QuickString::literal("Tags/A"), QuickString::path("/h/a"));
        DB::loadPins(defaults, tree);
        EXPECT_TRUE(tree.pinnedNode()->children().empty());
    }
    {
        MemoryUserDefaults defaults;
        defaults.setValue("pins", DefaultsValue::parse(R"([7, "Tags/B", ["Tags/C"], "Colors/Red", "Tags",
            "Tags/", "", "Folders/x", "Tags/B", "Tags/a/b", "Tags/caf\u00e9"])"));
        Tree tree;
        DB::loadPins(defaults, tree);
        std::set<std::string> pins;
        for (const auto& [name, node] : tree.pinnedNode()->children())
            pins.insert(std::string(name.utf8()));
        EXPECT_EQ(pins, (std::set<std::string>{"B", "a/b", "caf\xc3\xa9"}));
    }

    Fixture f;
    f.make();
    f.load();
    Tree& t = f.db->mutableTree();
    for (const char* name : {"Tags/b", "Tags/a10", "Tags/a9", "Tags/A2", "Tags/a"})
        t.addPin(QuickString::literal(name));
    f.db->savePins();
    EXPECT_EQ(f.defaults->value("pins")->dump(), R"(["Tags/a","Tags/A2","Tags/a9","Tags/a10","Tags/b"])");
}

// Folder nodes against the file system itself, for the folders read so far.
void expectMirrors(const NodePtr& node, const std::filesystem::path& dir, bool isHome = false) {
    std::set<std::string> files, folders;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        std::string name = entry.path().filename().string();
        if (name.front() == '.' || (isHome && name == "Library")) continue;
        if (entry.is_directory()) {
            if (!name.ends_with(".photoslibrary")) folders.insert(name);
        } else {
            files.insert(entry.path().string());
        }
    }
    EXPECT_EQ(keys(node->paths()), files) << dir;
    std::set<std::string> children;
    for (const auto& [name, child] : node->children())
        children.insert(std::string(name.utf8()));
    EXPECT_EQ(children, folders) << dir;
    for (const auto& [name, child] : node->children())
        if (!child->hasFlag(NodeFlags::foundUnscheduled)) expectMirrors(child, dir / std::string(name.utf8()));
}

TEST(DBTest, OneDirectoryPerTurnAndRecursiveEvents) {
    const auto home = test::testHome();
    for (int i = 0; i < 6; ++i)
        test::writeFile(home / ("ScanH" + std::to_string(i)) / "f", "x");
    for (int i = 0; i < 8; ++i)
        for (int j = 0; j < 3; ++j)
            test::writeFile(home / "ScanWork" / ("W" + std::to_string(i)) / ("S" + std::to_string(j)) / "f", "x");

    Fixture f;
    f.watched = true;
    f.make();
    f.load();
    ASSERT_TRUE(f.watcher);
    EXPECT_TRUE(f.watcher->isRunning());
    EXPECT_EQ(f.watcher->root(), home.string());
    EXPECT_DOUBLE_EQ(f.watcher->latency(), 1.0);
    f.pump();
    const Tree& t = f.db->tree();
    auto work = t.directoriesNode()->child(QuickString::literal("ScanWork"));
    ASSERT_TRUE(work);

    // Every node of the Folders section, and which of them still wait to be read.
    auto staleNodes = [&] {
        std::set<const Node*> out;
        std::vector<NodePtr> todo{t.directoriesNode()};
        while (!todo.empty()) {
            NodePtr n = todo.back();
            todo.pop_back();
            if (n->hasFlag(NodeFlags::stale)) out.insert(n.get());
            for (const auto& [name, child] : n->children())
                todo.push_back(child);
        }
        return out;
    };

    // Opening ScanWork opens home (read already) at once; the pass then
    // reads ScanWork first and W3 second. Left to it after them: home's other folders (other tests may have
    // made some), W3's seven siblings and W3's three sub-folders.
    size_t homeFolders = 0;
    for (const auto& entry : std::filesystem::directory_iterator(home)) {
        std::string name = entry.path().filename().string();
        if (entry.is_directory() && name.front() != '.' && name != "Library" &&
            !name.ends_with(".photoslibrary"))
            ++homeFolders;
    }
    f.db->openDirectories({QuickString::literal("Folders/ScanWork")});
    f.db->openDirectories({QuickString::literal("Folders/ScanWork/W3")});
    EXPECT_TRUE(t.directoriesNode()->hasFlag(NodeFlags::opened));
    size_t turns = 0, reads = 0;
    size_t w3Turn = 0, scanHTurn = 0;
    auto w3 = [&] { return work->child(QuickString::literal("W3")); };
    while (f.db->isUpdatingDirectories() && turns < 1000) {
        // Nothing queued means a read is in flight: wait for its result.
        if (mainQueue().pendingCount() == 0) f.db->folderQueue().sync([] {});
        auto before = staleNodes();
        ASSERT_EQ(mainQueue().runPending(), 1u) << "the pass alone is queued";
        ++turns;
        size_t read = 0;
        auto after = staleNodes();
        for (const Node* n : before)
            if (!after.contains(n)) {
                ++read;
                if (turns == 1) {
                    EXPECT_EQ(n, work.get()) << "ScanWork is read first";
                }
            }
        EXPECT_LE(read, 1u) << "turn " << turns;
        reads += read;
        if (!w3Turn && w3() && !w3()->children().empty()) w3Turn = turns;
        for (int i = 0; i < 6 && !scanHTurn; ++i)
            if (!t.directoriesNode()
                     ->child(QuickString::literal("ScanH" + std::to_string(i)))
                     ->paths()
                     .empty())
                scanHTurn = turns;
    }
    // W3 turns stale and is read in the same turn, when ScanWork is opened,
    // so that read is not counted.
    EXPECT_EQ(reads, 1 + homeFolders - 1 + 7 + 3);
    EXPECT_GT(w3Turn, 0u);
    EXPECT_LT(w3Turn, scanHTurn) << "the opened folders are read before the rest";
    expectMirrors(t.directoriesNode(), home, true);
    auto w5 = work->child(QuickString::literal("W5"));
    ASSERT_TRUE(w5);
    EXPECT_TRUE(w5->child(QuickString::literal("S0"))->hasFlag(NodeFlags::foundUnscheduled));

    // Files appear deep down without events of their own: a plain event on
    // Work sees none of them, a recursive one re-reads the whole subtree.
    for (int i = 0; i < 8; ++i)
        test::writeFile(home / "ScanWork" / ("W" + std::to_string(i)) / "new", "x");
    test::writeFile(home / "ScanWork" / "W3" / "S1" / "new", "x");
    test::writeFile(home / "ScanWork" / "top", "x");
    f.watcher->fire({{(home / "ScanWork").string(), false}});
    f.pump();
    EXPECT_TRUE(work->paths().contains(QuickString::path((home / "ScanWork" / "top").string())));
    EXPECT_EQ(w5->paths().size(), 0u);
    f.watcher->fire({{(home / "ScanWork").string(), true}, {"/elsewhere", true}});
    f.pump();
    expectMirrors(t.directoriesNode(), home, true);
    EXPECT_EQ(w5->paths().size(), 1u);
    EXPECT_EQ(work->child(QuickString::literal("W3"))->child(QuickString::literal("S1"))->paths().size(), 2u);
}

TEST(DBTest, UnreadableDirectoryKeepsItsNodeAndMarksTheParent) {
    const auto home = test::testHome();
    test::writeFile(home / "Shut" / "Inner" / "a", "x");
    Fixture f;
    f.make();
    f.load();
    f.db->openDirectories({QuickString::literal("Folders/Shut/Inner")});
    f.pump();
    const Tree& t = f.db->tree();
    auto shut = t.directoriesNode()->child(QuickString::literal("Shut"));
    ASSERT_TRUE(shut);
    auto inner = shut->child(QuickString::literal("Inner"));
    ASSERT_TRUE(inner);
    ASSERT_EQ(inner->paths().size(), 1u);

    test::writeFile(home / "Shut" / "Inner" / "b", "x");
    ASSERT_EQ(::chmod((home / "Shut" / "Inner").c_str(), 0), 0);
    f.db->directoryChanged(QuickString::path((home / "Shut" / "Inner").string()), false);
    f.events.clear();
    f.applyRead();
    if (::geteuid() != 0) {
        EXPECT_EQ(keys(inner->paths()), (std::set<std::string>{(home / "Shut" / "Inner" / "a").string()}));
        EXPECT_TRUE(shut->hasFlag(NodeFlags::stale)) << "the parent is read again";
        EXPECT_TRUE(f.events.empty()) << "nothing changed, nothing announced";
        f.pump();
        EXPECT_EQ(shut->child(QuickString::literal("Inner")), inner) << "the folder is still there";
        EXPECT_EQ(inner->paths().size(), 1u);
    }
    ::chmod((home / "Shut" / "Inner").c_str(), 0755);
    f.pump();
    // Readable again: the next event brings it up to date.
    f.db->directoryChanged(QuickString::path((home / "Shut" / "Inner").string()), false);
    f.pump();
    EXPECT_EQ(inner->paths().size(), 2u);
}

}  // namespace
}  // namespace qm
