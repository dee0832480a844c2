// A window on a tag query in the real program: its grid, its title, and the
// query coming back after a relaunch, saved queries and pins with it.

#include "AppHarness.h"
#include "app/RootView.h"
#include "library/SettingsSchema.h"
#include "library/TreeNames.h"
#include "tilegrid/TileGridView.h"

namespace qm::test {
namespace {

struct Home {
    fs::path folder;
    std::vector<std::pair<fs::path, std::vector<std::string>>> tagged;
    fs::path stateFile;
    explicit Home(const std::string& name)
        : folder(testHome() / name), stateFile(testHome() / name / "state/state.json") {
        auto add = [&](const std::string& rel, std::vector<std::string> tags) {
            writeFile(folder / rel, "x");
            tagged.push_back({folder / rel, std::move(tags)});
        };
        add("rome.jpg", {"Travel/Rome"});
        add("paris.jpg", {"Travel/Paris", "done"});
        add("notes.txt", {"Work"});
        add("red.txt", {"Red"});
    }
    ~Home() {
        std::error_code ec;
        fs::remove_all(folder, ec);
    }
    std::vector<std::string> shown(AppWindow* w) const {
        std::vector<std::string> out;
        TileGridLayout layout = w->rootView()->tileGridView()->controller().layout(800);
        for (const QuickString& p : layout.paths) out.emplace_back(fs::path(std::string(p.utf8())).filename());
        return out;
    }
};

TEST(QueryWindow, AWindowLeftOnAQueryComesBackOnItWithItsSavedQueries) {
    Home home("queries");
    const NodePath travel = TreeQueries::pathFor("Travel/ and not done");
    const NodePath red = TreeQueries::pathFor("Red or Work");
    auto defaults = std::make_shared<CountingDefaults>();
    {
        AppHarness app(home.tagged, std::nullopt, home.stateFile.string(), defaults);
        AppWindow* w = app.launch();
        ASSERT_TRUE(w);
        app.load();
        w->state()->setCurrentNode(travel);
        EXPECT_EQ(w->windowTitle().toStdString(), "Files matching Travel/ and not done");
        EXPECT_EQ(home.shown(w), std::vector<std::string>{"rome.jpg"});
        // Tagging in the window moves files in and out at once.
        w->state()->commandStack()->performCommand(tagCommand({home.folder / "rome.jpg"}, "done"));
        EXPECT_TRUE(home.shown(w).empty());
        w->state()->commandStack()->undo();
        EXPECT_EQ(home.shown(w), std::vector<std::string>{"rome.jpg"});
        w->state()->setCurrentSelection({Q((home.folder / "rome.jpg").string())});

        // A second tab with a saved, renamed and pinned query.
        AppWindow* tab = app.delegate->makeWindowInTabOf(w);
        DB& db = *app.delegate->db();
        ASSERT_TRUE(db.saveQuery("Red or Work", "Desk"));
        db.mutableTree().addPin(QuickString::bytes("Queries/Red or Work"));
        db.savePins();
        tab->state()->setCurrentNode({pinnedSectionName(), Q("Red or Work")});
        EXPECT_EQ(home.shown(tab), (std::vector<std::string>{"notes.txt", "red.txt"}));
        w->frame()->selectTab(0);
        app.delegate->action(AppDelegate::Action::quit)->trigger();
    }
    EXPECT_EQ(defaults->inner.value("pins")->dump(), R"(["Queries/Red or Work"])");
    {
        AppHarness app(home.tagged, std::nullopt, home.stateFile.string(), defaults);
        AppWindow* key = app.launch();
        ASSERT_TRUE(key);
        app.load();
        const auto tabs = app.delegate->frames().at(0);
        AppWindow* w = tabs->windowAt(0);
        EXPECT_EQ(w->state()->currentNode(), travel);
        EXPECT_EQ(w->state()->title(), "Files matching Travel/ and not done");
        EXPECT_EQ(home.shown(w), std::vector<std::string>{"rome.jpg"});
        EXPECT_EQ(w->state()->currentSelection().size(), 1u);
        AppWindow* tab = tabs->windowAt(1);
        EXPECT_EQ(home.shown(tab), (std::vector<std::string>{"notes.txt", "red.txt"}));
        const Tree& tree = app.delegate->db()->tree();
        NodePtr saved = tree.lookup(red);
        ASSERT_TRUE(saved);
        EXPECT_TRUE(tree.queries().isSaved(*saved));
        EXPECT_EQ(saved->displayName().utf8(), "Desk");
        EXPECT_EQ(tree.lookup({pinnedSectionName(), Q("Red or Work")})->displayName().utf8(), "Desk");
    }
}

}  // namespace
}  // namespace qm::test
