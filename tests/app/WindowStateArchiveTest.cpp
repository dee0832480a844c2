// Windows, tabs and their state coming back after a relaunch of the real
// program (AppDelegate offscreen, real tag store on a temporary home).

#include <QGuiApplication>
#include <QScreen>
#include <QMouseEvent>
#include <QSplitter>
#include <QTabWidget>

#include <nlohmann/json.hpp>

#include <functional>

#include "AppHarness.h"
#include "app/RootView.h"
#include "app/WindowStateArchiver.h"
#include "commands/StateArchive.h"
#include "map/MapCanvas.h"
#include "map/MapScrollState.h"
#include "map/MapView.h"
#include "support/LogCapture.h"

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

// Brings the tab to the front and checks its map shows the area: around the
// same centre, at the same scale (fitted to the map's own shape, so one side
// matches and the other is at least as long).
void expectShowsArea(AppWindow* w, const MapRect& archived) {
    w->frame()->selectTab(w->frame()->indexOf(w));
    w->frame()->show();
    QApplication::processEvents();
    // What the canvas draws, not what the archive would be told.
    const MapRect area = mapPane(w)->canvas()->camera().visibleMapRect();
    EXPECT_NEAR(area.midX(), archived.midX(), 1);
    EXPECT_NEAR(area.midY(), archived.midY(), 1);
    EXPECT_NEAR(std::min(area.width / archived.width, area.height / archived.height), 1, 1e-3)
        << area.width << " x " << area.height << " for " << archived.width << " x " << archived.height;
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
        expectShowsArea(map, mapArchived);

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
        qm::test::LogCapture log1;
        AppWindow* w = app->launch();
        const std::string out = log1.release();
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
    qm::test::LogCapture log2;
    AppWindow* w = app->launch();
    const std::string out = log2.release();
    ASSERT_TRUE(w);
    EXPECT_TRUE(app->delegate->didRestoreState);  // the window itself came back
    EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 1) << out;
    app->load();
    expectAtDefaults(w);
}

// Closing the last window is how people quit here: it keeps what Quit keeps,
// by the window's close button and by closing its last tab alike.
TEST(WindowStateArchive, ClosingTheLastWindowKeepsWhatQuitKeeps) {
    Home home("closing");
    const QuickStringSet romeSelection{home.path("rome1.jpg"), home.path(std::string("caf\xe9-\xff.jpg"))};
    const MapCircle circle{12.4964, 41.9028, 0.05};
    MapRect mapArchived;
    {
        auto app = home.start();
        AppWindow* rome = app->launch();
        ASSERT_TRUE(rome);
        app->load();
        rome->state()->setCurrentNode(P({"Tags", "Travel", "Rome"}));
        rome->state()->setCurrentSelection(romeSelection);
        rome->state()->setExpanded(Q("Tags/Travel"), true);
        AppWindow* map = app->delegate->makeWindowInTabOf(rome);
        map->state()->setCurrentNode(app->delegate->db()->tree().mapNode()->nodePath());
        mapPane(map)->setPlacedCircle(circle);
        mapPane(map)->setScrollState(MapScrollState{MapRect{140000000, 97000000, 200000, 150000}});
        map->rootView()->setSidebarVisible(false);  // the map widens, at the same scale
        rome->frame()->selectTab(0);
        activate(rome->frame());
        mapArchived = mapArea(map);  // what it shows as the window closes
        rome->frame()->close();  // the window's close button
    }
    {
        auto app = home.start();
        ASSERT_TRUE(app->launch());
        ASSERT_EQ(app->delegate->frames().size(), 1u);
        const auto tabs = tabsOf(app->delegate->frames()[0]);
        ASSERT_EQ(tabs.size(), 2u);
        app->load();
        EXPECT_EQ(tabs[0]->state()->currentNode(), P({"Tags", "Travel", "Rome"}));
        EXPECT_EQ(tabs[0]->state()->currentSelection(), romeSelection);
        EXPECT_TRUE(tabs[0]->state()->isExpanded().contains(Q("Tags/Travel")));
        EXPECT_EQ(mapPane(tabs[1])->placedCircle(), circle);
        EXPECT_FALSE(tabs[1]->rootView()->isSidebarVisible());
        expectShowsArea(tabs[1], mapArchived);

        // Ctrl+W on each tab: the first closed is gone, the last is kept.
        BrowserFrame* frame = tabs[1]->frame();
        activate(frame);
        frame->selectTab(0);
        QTest::keyClick(frame, Qt::Key_W, Qt::ControlModifier);
        ASSERT_EQ(frame->tabCount(), 1);
        QApplication::processEvents();  // without the tab bar the map grows, at the same scale
        mapArchived = mapArea(tabs[1]);
        QTest::keyClick(frame, Qt::Key_W, Qt::ControlModifier);
        EXPECT_EQ(frame->tabCount(), 0);
    }
    auto app = home.start();
    ASSERT_TRUE(app->launch());
    ASSERT_EQ(app->delegate->frames().size(), 1u);
    const auto tabs = tabsOf(app->delegate->frames()[0]);
    ASSERT_EQ(tabs.size(), 1u);
    app->load();
    EXPECT_EQ(tabs[0]->state()->currentNode(), app->delegate->db()->tree().mapNode()->nodePath());
    EXPECT_EQ(mapPane(tabs[0])->placedCircle(), circle);
    expectShowsArea(tabs[0], mapArchived);
}

// Numbers and counts no start could take, and a window saved on a monitor
// unplugged since: what comes back is bounded and on a screen.
TEST(WindowStateArchive, HostileNumbersCountsAndPlacesAreBounded) {
    Home home("hostile");
    {
        auto app = home.start();
        AppWindow* w = app->launch();
        app->load();
        w->state()->setCurrentNode(app->delegate->db()->tree().mapNode()->nodePath());
        mapPane(w)->setPlacedCircle(MapCircle{12.4964, 41.9028, 0.05});
        app->delegate->stateArchiver()->writeAtQuit();
    }
    const json good = json::parse(readFile(home.stateFile));
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();

    json hostile = good;
    json& tab = hostile["frames"][0]["tabs"][0];
    tab["placedCircle"] = {{"x", 1e20}, {"y", 41.9}, {"r", 1e20}};
    tab["scrollState"]["map"] = {{"x", 1e20}, {"y", -1e20}, {"w", 1e20}, {"h", 1e20}};
    tab["sidebarThickness"] = 1e20;
    hostile["frames"][0].update({{"x", 30000}, {"y", -20000}, {"width", 5000}, {"height", 4000}});
    json second = good["frames"][0];
    second["tabs"] = json::array();
    for (int i = 0; i < 60000; ++i) second["tabs"].push_back(good["frames"][0]["tabs"][0]);
    second["width"] = 1e9;  // a backing store of gigabytes
    hostile["frames"].push_back(second);
    writeFile(home.stateFile, hostile.dump());

    auto app = home.start();
    qm::test::LogCapture log;
    ASSERT_TRUE(app->launch());
    const std::string out = log.release();
    EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 1) << out;
    EXPECT_NE(out.find("59900 tabs are left out"), std::string::npos) << out;
    const auto frames = app->delegate->frames();
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[1]->tabCount(), static_cast<int>(StateArchive::maximumTabsPerFrame));
    // The platform sets the window inside its frame's border, the border on the screen.
    for (BrowserFrame* frame : frames)
        EXPECT_TRUE(screen.contains(QRect(frame->frameGeometry().topLeft(), frame->size())))
            << frame->frameGeometry().x() << "," << frame->frameGeometry().y() << " " << frame->width() << "x"
            << frame->height();
    app->load();
    AppWindow* w = frames[0]->currentWindow();
    EXPECT_EQ(w->state()->currentNode(), app->delegate->db()->tree().mapNode()->nodePath());
    // Out of range reads as missing: 0 for the longitude and the radius.
    EXPECT_EQ(mapPane(w)->placedCircle(), (MapCircle{0, 41.9, 0}));
    EXPECT_GT(w->rootView()->sidebarThickness(), 0);
    EXPECT_LT(w->rootView()->sidebarThickness(), screen.width());
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

    // Moving, resizing and maximising the window, hiding and showing the
    // sidebar and dragging its divider are each written soon after.
    BrowserFrame* frame = w->frame();
    activate(frame);
    auto written = [&](const std::function<void()>& change) -> json {
        archiver->waitForWrites();
        const int count = archiver->writeCount();
        change();
        EXPECT_TRUE(QTest::qWaitFor([&] { return archiver->writeCount() > count; }));
        archiver->waitForWrites();
        return json::parse(readFile(home.stateFile), nullptr, false)["frames"][0];
    };
    json file = written([&] { frame->move(frame->x() + 7, frame->y() + 5); });
    // The window's own area, inside its frame's border.
    EXPECT_EQ(file["x"], frame->geometry().x());
    EXPECT_EQ(file["y"], frame->geometry().y());
    file = written([&] { frame->resize(frame->width() - 20, frame->height() - 10); });
    EXPECT_EQ(file["width"], frame->width());
    EXPECT_EQ(file["height"], frame->height());
    file = written([&] { frame->showMaximized(); });
    EXPECT_EQ(file["isMaximized"], true);
    file = written([&] { frame->showNormal(); });
    EXPECT_EQ(file["isMaximized"], false);
    file = written([&] { QTest::keyClick(frame, Qt::Key_F9); });  // Show or Hide Sidebar
    EXPECT_EQ(file["tabs"][0]["isSidebarVisible"], false);
    file = written([&] { w->sidebarAction()->trigger(); });
    EXPECT_EQ(file["tabs"][0]["isSidebarVisible"], true);
    QSplitterHandle* divider = w->rootView()->splitView()->handle(1);
    ASSERT_TRUE(divider);
    const int widthBefore = w->rootView()->sidebarContainer()->width();
    file = written([&] {
        // A drag of the divider 40 points to the right, as the mouse makes it:
        // the pointer moves on the screen, and the divider moves under it.
        const QPointF start = divider->mapToGlobal(QPointF(divider->width() / 2.0, divider->height() / 2.0));
        auto send = [&](QEvent::Type type, QPointF global, Qt::MouseButtons buttons) {
            QMouseEvent event(type, divider->mapFromGlobal(global), global, Qt::LeftButton, buttons, Qt::NoModifier);
            QApplication::sendEvent(divider, &event);
        };
        send(QEvent::MouseButtonPress, start, Qt::LeftButton);
        send(QEvent::MouseMove, start + QPointF(20, 0), Qt::LeftButton);
        send(QEvent::MouseMove, start + QPointF(40, 0), Qt::LeftButton);
        send(QEvent::MouseButtonRelease, start + QPointF(40, 0), Qt::NoButton);
    });
    EXPECT_EQ(w->rootView()->sidebarContainer()->width(), widthBefore + 40);
    EXPECT_EQ(file["tabs"][0]["sidebarThickness"], widthBefore + 40);

    // A file where the state folder should be: every write fails, one line says so.
    fs::remove_all(home.stateFile.parent_path());
    writeFile(home.stateFile.parent_path(), "in the way");
    qm::test::LogCapture log3;
    for (const char* name : {"rome2.jpg", "rome1.jpg", "rome2.jpg"}) {
        const int count = archiver->writeCount();
        w->state()->setCurrentSelection({home.path(name)});
        ASSERT_TRUE(QTest::qWaitFor([&] { return archiver->writeCount() > count; }));
        archiver->waitForWrites();
    }
    QCoreApplication::processEvents();  // the line comes back to the main thread
    const std::string out = log3.release();
    EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 1) << out;
    EXPECT_NE(out.find("[fs] Cannot save the window state: "), std::string::npos) << out;
    EXPECT_EQ(readFile(home.stateFile.parent_path()), "in the way");
}

}  // namespace
}  // namespace qm::test
