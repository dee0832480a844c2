// Windows, tabs and their state coming back after a relaunch of the real
// program (AppDelegate offscreen, real tag store on a temporary home).

#include <QSplitter>
#include <QTabWidget>

#include <nlohmann/json.hpp>

#include "AppHarness.h"
#include "app/RootView.h"
#include "map/MapScrollState.h"
#include "map/MapView.h"
#include "app/WindowStateArchiver.h"
#include "commands/StateArchive.h"

namespace qm::test {
namespace {

using nlohmann::json;

// The same files for every launch of one test.
struct Home {
    fs::path folder;
    std::vector<std::pair<fs::path, std::vector<std::string>>> tagged;
    fs::path stateFile;

    explicit Home(const std::string& name) : folder(testHome() / name), stateFile(testHome() / name / "state/state.json") {
        auto add = [&](const std::string& rel, std::vector<std::string> tags) {
            fs::path p = folder / rel;
            writeFile(p, "x");
            tagged.push_back({p, std::move(tags)});
            return p;
        };
        add("rome1.jpg", {"Travel/Rome"});
        add("rome2.jpg", {"Travel/Rome"});
        add(std::string("caf\xe9-\xff.jpg"), {"Travel/Rome"});  // not UTF-8
        add("notes.txt", {"Work"});
    }
    ~Home() {
        std::error_code ec;
        fs::remove_all(folder, ec);
    }
    std::unique_ptr<AppHarness> start() const {
        auto app = std::make_unique<AppHarness>(tagged, std::nullopt, stateFile.string());
        // Two located files for the map.
        app->index.add({(folder / "pantheon.jpg").string(), std::nullopt, 41.8986, 12.4769});
        app->index.add({(folder / "colosseum.jpg").string(), std::nullopt, 41.8902, 12.4922});
        return app;
    }
    QuickString path(const std::string& rel) const { return QuickString::bytes((folder / rel).string()); }
};

MapView* mapPane(AppWindow* w) { return w->rootView()->mapView(); }

MapRect mapArea(AppWindow* w) { return std::any_cast<MapScrollState>(mapPane(w)->scrollState()).rect; }

std::vector<AppWindow*> tabsOf(BrowserFrame* frame) {
    std::vector<AppWindow*> out;
    for (int i = 0; i < frame->tabCount(); ++i) out.push_back(frame->windowAt(i));
    return out;
}

void expectAtDefaults(AppWindow* w) {
    EXPECT_TRUE(w->state()->currentNode().empty());
    EXPECT_TRUE(w->state()->currentSelection().empty());
    EXPECT_FALSE(w->initialState());
    EXPECT_FALSE(mapPane(w)->placedCircle());
}

TEST(WindowStateArchive, WindowsTabsNodesSelectionsExpansionAndCircleComeBackWithoutHistory) {
    Home home("relaunch");
    const QuickStringSet romeSelection{home.path("rome2.jpg"), home.path(std::string("caf\xe9-\xff.jpg"))};
    QuickStringSet romeExpanded;
    MapRect mapArchived;
    {
        auto app = home.start();
        AppWindow* first = app->launch();  // the first launch: one window at the root
        ASSERT_TRUE(first);
        ASSERT_EQ(app->delegate->frames().size(), 1u);
        EXPECT_FALSE(app->delegate->didRestoreState);
        app->load();

        first->state()->setCurrentNode(P({"Tags", "Travel", "Rome"}));
        first->state()->setCurrentSelection(romeSelection);
        first->state()->setExpanded(Q("Tags"), true);
        first->state()->setExpanded(Q("Tags/Travel"), true);
        first->state()->setExpanded(Q("Folders"), false);
        romeExpanded = first->state()->isExpanded();
        ASSERT_TRUE(romeExpanded.contains(Q("Tags/Travel")));

        AppWindow* mapTab = app->delegate->makeWindowInTabOf(first);
        mapTab->state()->setCurrentNode(app->delegate->db()->tree().mapNode()->nodePath());
        mapPane(mapTab)->setPlacedCircle(MapCircle{12.4964, 41.9028, 0.05});
        mapPane(mapTab)->setScrollState(MapScrollState{MapRect{140000000, 97000000, 200000, 150000}});
        mapArchived = mapArea(mapTab);

        AppWindow* other = app->delegate->makeWindowInNewFrame(true);
        other->state()->setCurrentNode(P({"Tags", "Work"}));
        other->rootView()->setSidebarThickness(180);
        other->rootView()->setSidebarVisible(false);
        first->frame()->selectTab(0);

        // A window the user closed does not come back, even before its deferred deletion.
        AppWindow* closed = app->delegate->makeWindowInNewFrame(true);
        closed->state()->setCurrentNode(P({"Tags", "Work"}));
        closed->frame()->show();
        closed->frame()->close();

        app->delegate->action(AppDelegate::Action::quit)->trigger();
    }
    ASSERT_TRUE(fs::exists(home.stateFile));
    {
        auto app = home.start();
        AppWindow* key = app->launch();
        ASSERT_TRUE(key);
        EXPECT_TRUE(app->delegate->didRestoreState);
        const auto frames = app->delegate->frames();
        ASSERT_EQ(frames.size(), 2u);
        const auto tabs = tabsOf(frames[0]);
        ASSERT_EQ(tabs.size(), 2u);
        ASSERT_EQ(tabsOf(frames[1]).size(), 1u);
        EXPECT_EQ(frames[0]->currentWindow(), tabs[0]);
        // Before the library has loaded, the windows wait at the root.
        EXPECT_TRUE(tabs[0]->state()->currentNode().empty());
        EXPECT_TRUE(tabs[0]->initialState());
        EXPECT_FALSE(mapPane(tabs[1])->placedCircle());
        // A write meanwhile keeps what the windows are about to show.
        const StateArchive meanwhile = app->delegate->stateArchiver()->capture();
        ASSERT_EQ(meanwhile.frames.size(), 2u);
        EXPECT_EQ(meanwhile.frames[0].tabs[0].state->currentNode, P({"Tags", "Travel", "Rome"}));

        app->load();
        AppWindow* rome = tabs[0];
        EXPECT_EQ(rome->state()->currentNode(), P({"Tags", "Travel", "Rome"}));
        EXPECT_EQ(rome->state()->currentSelection(), romeSelection);
        EXPECT_EQ(rome->state()->isExpanded(), romeExpanded);
        EXPECT_FALSE(rome->state()->isExpanded().contains(Q("Folders")));
        EXPECT_TRUE(rome->rootView()->isSidebarVisible());

        AppWindow* map = tabs[1];
        EXPECT_EQ(map->state()->currentNode(), app->delegate->db()->tree().mapNode()->nodePath());
        EXPECT_EQ(mapPane(map)->placedCircle(), (MapCircle{12.4964, 41.9028, 0.05}));
        const MapRect area = mapArea(map);
        // The map fits the archived area to its own shape around the same centre.
        EXPECT_NEAR(area.midX(), mapArchived.midX(), 1);
        EXPECT_NEAR(area.midY(), mapArchived.midY(), 1);

        AppWindow* work = tabsOf(frames[1])[0];
        EXPECT_EQ(work->state()->currentNode(), P({"Tags", "Work"}));
        EXPECT_FALSE(work->rootView()->isSidebarVisible());
        EXPECT_EQ(work->rootView()->sidebarThickness(), 180);

        for (AppWindow* w : {rome, map, work}) {
            EXPECT_TRUE(w->state()->backHistory().empty());
            EXPECT_FALSE(w->backAction()->isEnabled());
        }
    }
}

TEST(WindowStateArchive, DamagedFilesStartWithOneWindowAtTheRootAndOneLogLine) {
    Home home("damaged");
    std::string good;
    {
        auto app = home.start();
        AppWindow* w = app->launch();
        app->load();
        w->state()->setCurrentNode(P({"Tags", "Work"}));
        app->delegate->stateArchiver()->writeAtQuit();
        good = readFile(home.stateFile);
    }
    json future = json::parse(good);
    future["version"] = StateArchive::currentVersion + 1;
    json wrongTypes = json::parse(good);
    wrongTypes["frames"][0]["tabs"][0]["currentSelection"] = {1, 2};
    for (const std::string& bad : {std::string(), good.substr(0, good.size() / 2), std::string("<xml/>"), future.dump(),
                                   std::string(StateArchive::maximumFileSize + 1, ' ')}) {
        writeFile(home.stateFile, bad);
        auto app = home.start();
        testing::internal::CaptureStdout();
        AppWindow* w = app->launch();
        const std::string out = testing::internal::GetCapturedStdout();
        ASSERT_TRUE(w);
        EXPECT_EQ(app->delegate->frames().size(), 1u);
        EXPECT_FALSE(app->delegate->didRestoreState);
        EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 1) << out;
        EXPECT_NE(out.find("[setup] The window state " + home.stateFile.string() + " restores nothing"),
                  std::string::npos) << out;
        app->load();
        expectAtDefaults(w);
    }
    // Wrong types in one window: that window opens at the root, and it says so once.
    writeFile(home.stateFile, wrongTypes.dump());
    auto app = home.start();
    testing::internal::CaptureStdout();
    AppWindow* w = app->launch();
    const std::string out = testing::internal::GetCapturedStdout();
    ASSERT_TRUE(w);
    EXPECT_TRUE(app->delegate->didRestoreState);  // the window itself came back
    EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 1) << out;
    app->load();
    expectAtDefaults(w);
}

TEST(WindowStateArchive, ChangesAreWrittenCoalescedAndAnUnwritableFolderLogsOnce) {
    Home home("writes");
    auto app = home.start();
    AppWindow* w = app->launch();
    app->load();
    WindowStateArchiver* archiver = app->delegate->stateArchiver();
    ASSERT_TRUE(QTest::qWaitFor([&] { return archiver->writeCount() >= 1; }));  // the new window
    archiver->waitForWrites();
    const int before = archiver->writeCount();

    // A burst of changes is one write, made after the burst.
    w->state()->setCurrentNode(P({"Tags", "Travel", "Rome"}));
    for (const char* name : {"rome1.jpg", "rome2.jpg", "rome1.jpg"})
        w->state()->setCurrentSelection({home.path(name)});
    w->state()->setExpanded(Q("Tags"), true);
    w->state()->setExpanded(Q("Tags/Travel"), true);
    EXPECT_EQ(archiver->writeCount(), before);
    ASSERT_TRUE(QTest::qWaitFor([&] { return archiver->writeCount() > before; }));
    EXPECT_EQ(archiver->writeCount(), before + 1);
    archiver->waitForWrites();
    const auto reading = decodeStateArchive(readFile(home.stateFile));
    ASSERT_TRUE(reading.archive);
    const auto& saved = *reading.archive->frames.at(0).tabs.at(0).state;
    EXPECT_EQ(saved.currentNode, P({"Tags", "Travel", "Rome"}));
    EXPECT_EQ(saved.currentSelection, std::vector<QuickString>{home.path("rome1.jpg")});
    EXPECT_EQ(saved.isExpanded.size(), w->state()->isExpanded().size());
    EXPECT_NE(std::find(saved.isExpanded.begin(), saved.isExpanded.end(), Q("Tags/Travel")), saved.isExpanded.end());

    // A file where the state folder should be: every write fails, one line says so.
    fs::remove_all(home.stateFile.parent_path());
    writeFile(home.stateFile.parent_path(), "in the way");
    testing::internal::CaptureStdout();
    for (const char* name : {"rome2.jpg", "rome1.jpg", "rome2.jpg"}) {
        const int count = archiver->writeCount();
        w->state()->setCurrentSelection({home.path(name)});
        ASSERT_TRUE(QTest::qWaitFor([&] { return archiver->writeCount() > count; }));
        archiver->waitForWrites();
    }
    QCoreApplication::processEvents();  // the line comes back to the main thread
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 1) << out;
    EXPECT_NE(out.find("[fs] Cannot save the window state: "), std::string::npos) << out;
    EXPECT_EQ(readFile(home.stateFile.parent_path()), "in the way");
}

}  // namespace
}  // namespace qm::test
