// Tag expressions typed into the sidebar's search field: the query row, its
// live count, opening it, the message of a malformed one, and saving,
// renaming and removing queries, driven through the real widgets offscreen.
#include <gtest/gtest.h>

#include <QAccessible>
#include <QContextMenuEvent>
#include <QMenu>
#include <QTest>

#include "SidebarHarness.h"
#include "commands/SavedQueryCommand.h"
#include "commands/TagChangeCommand.h"
#include "library/SettingsSchema.h"
#include "library/TreeNames.h"
#include "sidebar/SidebarActions.h"
#include "sidebar/SidebarContainer.h"
#include "sidebar/SidebarResultsView.h"
#include "sidebar/SidebarSearchField.h"
#include "sidebar/SidebarView.h"

using namespace qm;
using namespace qm::test;

namespace {

struct QueryFixture : SidebarHarness {
    std::unique_ptr<SidebarContainer> sidebar;
    std::vector<fs::path> files;
    void open() {
        // f0..f4, tagged on disk.
        loadTags({{"Work/2024", "done"}, {"Work/2025"}, {"Home", "Red"}, {"Red"}, {"Work/2024/Q1"}, {"Rock and Roll"}});
        for (int i = 0; i < 6; ++i) files.push_back(root / ("f" + std::to_string(i) + ".txt"));
        sidebar = std::make_unique<SidebarContainer>(window);
        showActive(*sidebar, 300, 600);
    }
    ~QueryFixture() { sidebar.reset(); }
    SidebarResultsView* results() { return sidebar->resultsView(); }
    void type(const char* text) {
        sidebar->searchField()->clear();
        sidebar->searchField()->setFocus();
        const QString typed = QString::fromUtf8(text);
        // QTest types ASCII keys only; the star comes as a paste would.
        if (typed.toLatin1() == typed.toUtf8())
            QTest::keyClicks(sidebar->searchField(), typed);
        else
            sidebar->searchField()->setText(typed);
    }
    std::vector<std::string> rows() {
        std::vector<std::string> out;
        QAccessibleInterface* list = QAccessible::queryAccessibleInterface(results());
        for (int i = 0; i < list->childCount(); ++i) {
            QAccessibleInterface* row = list->child(i);
            out.push_back((row->text(QAccessible::Name) + " " + row->text(QAccessible::Description)).toStdString());
        }
        return out;
    }
    QPoint rowCentre(size_t layoutRow) {
        return QPoint(40, int(results()->layout().rowTop(layoutRow) + results()->layout().rowHeight / 2));
    }
    std::vector<std::string> names(const std::vector<size_t>& indexes) {
        std::vector<std::string> out;
        for (size_t i : indexes) out.push_back(files[i].string());
        std::sort(out.begin(), out.end());
        return out;
    }
    void tag(size_t file, const std::string& t, bool remove = false) {
        TagChange c{QuickString::path(files[file].string()), {}, {}};
        (remove ? c.tagsToRemove : c.tagsToAdd).insert(t);
        stack().performCommand(std::make_shared<TagChangeCommand>(TagChangeKind::tag, TagChangeKind::tag,
                                                                  std::vector<TagChange>{c}, std::set<std::string>{},
                                                                  std::set<std::string>{}));
    }
};

TEST(SidebarQuery, TheQueryRowCountsLiveAndOpensLikeANode) {
    QueryFixture f;
    f.open();
    // A plain tag search has no query row.
    f.type("Work");
    EXPECT_FALSE(f.results()->queryRow().node);
    EXPECT_EQ(f.rows(), std::vector<std::string>{"Work "});

    f.type("Work/ and not done");
    ASSERT_TRUE(f.results()->queryRow().node);
    EXPECT_TRUE(f.results()->queryRow().error.empty());
    EXPECT_EQ(f.rows(), std::vector<std::string>{"Files matching Work/ and not done 2"});
    EXPECT_EQ(QAccessible::queryAccessibleInterface(f.results())->text(QAccessible::Description).toStdString(),
              "0 matching tags");
    // A click opens it: the grid's node, with the query's title.
    QTest::mouseClick(f.results()->viewport(), Qt::LeftButton, {}, f.rowCentre(1));
    const NodePath queryPath = TreeQueries::pathFor("Work/ and not done");
    EXPECT_EQ(f.window->currentNode(), queryPath);
    EXPECT_EQ(f.window->title(), "Files matching Work/ and not done");
    EXPECT_EQ(f.listed(queryPath), f.names({1, 4}));

    // Live: a command tags a file, the count and the node follow.
    f.tag(1, "done");
    EXPECT_EQ(f.listed(queryPath), f.names({4}));
    EXPECT_EQ(f.rows(), std::vector<std::string>{"Files matching Work/ and not done 1"});
    // ... and so does a change another program makes, reported by the index.
    f.index.setTags(f.items[3], std::vector<std::string>{"Red", "Work/x"});
    f.index.tagQuery()->update({{}, {f.items[3]}, {}});
    ASSERT_TRUE(mainQueue().runUntil([&] { return f.listed(queryPath).size() == 2; }, QueryFixture::timeout));
    EXPECT_EQ(f.listed(queryPath), f.names({3, 4}));
    f.tag(4, "Work/2024/Q1", true);  // its last Work tag
    EXPECT_EQ(f.listed(queryPath), f.names({3}));

    // Colour labels and the star are names like any tag.
    f.type("Red and not Home");
    ASSERT_TRUE(f.results()->queryRow().node);
    EXPECT_EQ(f.rows().front(), "Files matching Red and not Home 1");
    EXPECT_EQ(f.rows().size(), 1u);  // no tag is called that
    f.type("Red or \xE2\x98\x85");
    EXPECT_EQ(f.rows().front(), "Files matching Red or \xE2\x98\x85 2");

    // Back returns to the query.
    QTest::mouseClick(f.results()->viewport(), Qt::LeftButton, {}, f.rowCentre(1));
    f.window->setCurrentNode({Q("Tags"), Q("Home")});
    f.window->navigateHistory(HistoryDirection::back);
    EXPECT_EQ(f.window->currentNode(), TreeQueries::pathFor("Red or \xE2\x98\x85"));
    EXPECT_EQ(f.window->title(), "Files matching Red or \xE2\x98\x85");
}

TEST(SidebarQuery, AMalformedExpressionSaysWhereInsteadOfARow) {
    QueryFixture f;
    f.open();
    f.type("rock and");
    EXPECT_FALSE(f.results()->queryRow().node);
    EXPECT_EQ(f.results()->queryRow().error,
              "malformed expression at position 9: expected a tag name, \"not\" or \"(\", found the end");
    // The tags that match follow below the message, and open as before.
    EXPECT_EQ(f.rows(), std::vector<std::string>{"Rock and Roll 1"});
    QTest::mouseClick(f.results()->viewport(), Qt::LeftButton, {}, f.rowCentre(2));
    EXPECT_EQ(f.current(), "Tags/Rock and Roll");
    // The message row itself opens nothing.
    f.type("(Home");
    EXPECT_NE(f.results()->queryRow().error.find("position 6"), std::string::npos);
    QTest::mouseClick(f.results()->viewport(), Qt::LeftButton, {}, f.rowCentre(1));
    EXPECT_EQ(f.current(), "");
    // Text that only a tag search means stays one.
    f.type("a,b");
    EXPECT_TRUE(f.results()->queryRow().error.empty());
    f.type("/");
    EXPECT_FALSE(f.results()->results());
}

TEST(SidebarQuery, SavedQueriesAreKeptRenamedAndRemovedUndoably) {
    QueryFixture f;
    f.open();
    const NodePtr section = [&] {
        f.type("Red or Home");
        return f.tree().rootNode()->child(queriesSectionName());
    }();
    ASSERT_TRUE(section);
    EXPECT_TRUE(section->isHidden());
    const size_t treeRows = f.sidebar->treeView()->rows().size();

    // "Save Query" from the row's menu.
    QContextMenuEvent menuEvent(QContextMenuEvent::Mouse, f.rowCentre(1), f.results()->viewport()->mapToGlobal(f.rowCentre(1)));
    QApplication::sendEvent(f.results()->viewport(), &menuEvent);
    QMenu* menu = f.results()->contextMenu();
    ASSERT_TRUE(menu);
    ASSERT_EQ(menu->actions().size(), 1);
    EXPECT_EQ(menu->actions()[0]->text().toStdString(), "Save Query");
    menu->actions()[0]->trigger();
    EXPECT_FALSE(section->isHidden());
    auto stored = f.defaults->value(settings::queriesKey);
    ASSERT_TRUE(stored);
    EXPECT_EQ(stored->dump(), R"([{"expression":"Red or Home","name":"Red or Home"}])");
    EXPECT_FALSE(f.defaults->value("pins"));
    EXPECT_EQ(f.undoTitles(), std::vector<std::string>{"Save Query \"Red or Home\""});

    // The tree shows it under Queries, in this window.
    f.sidebar->searchField()->clear();
    EXPECT_TRUE(f.sidebar->isShowingTree());
    const NodePath queryPath = TreeQueries::pathFor("Red or Home");
    EXPECT_TRUE(f.sidebar->treeView()->rectForPath(queryPath));
    EXPECT_EQ(f.sidebar->treeView()->rows().size(), treeRows + 2);

    // Its menu renames and removes it.
    f.window->setCurrentNode(queryPath);
    std::vector<std::string> titles;
    for (const SidebarMenuItem& i : SidebarActions::menuFor(f.tree(), queryPath)) titles.push_back(i.title);
    EXPECT_EQ(titles, (std::vector<std::string>{"Rename Query", "Remove Query", "Pin Query"}));
    EXPECT_EQ(SidebarActions::submit(*f.window, SidebarAction::renameQuery, "  Warm  "), "");
    EXPECT_EQ(f.tree().lookup(queryPath)->displayName().utf8(), "Warm");
    EXPECT_EQ(f.defaults->value(settings::queriesKey)->dump(), R"([{"expression":"Red or Home","name":"Warm"}])");
    SidebarActions::perform(*f.window, SidebarAction::removeQuery);
    EXPECT_TRUE(section->isHidden());
    EXPECT_EQ(f.defaults->value(settings::queriesKey)->dump(), "[]");
    EXPECT_FALSE(f.sidebar->treeView()->rectForPath(queryPath));

    f.stack().undo();
    EXPECT_EQ(f.tree().lookup(queryPath)->displayName().utf8(), "Warm");
    f.stack().undo();
    EXPECT_EQ(f.tree().lookup(queryPath)->displayName().utf8(), "Red or Home");
    f.stack().undo();
    EXPECT_TRUE(section->isHidden());
    f.stack().redo();
    EXPECT_FALSE(section->isHidden());

    // A library loaded again from the settings has it.
    auto tree2 = std::make_shared<Tree>();
    DB::loadQueries(*f.defaults, *tree2);
    ASSERT_TRUE(tree2->queries().find("Red or Home"));
    EXPECT_TRUE(tree2->queries().isSaved(*tree2->queries().find("Red or Home")));
}

}  // namespace
