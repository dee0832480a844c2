// The grid's rules without a widget, over a real library, command stack and
// files (tags in extended attributes) under the test's temporary home.
#include <gtest/gtest.h>

#include "commands/CommandHarness.h"
#include "library/TreeNames.h"

#include "tilegrid/TileGridController.h"

namespace qm::test {
namespace {

using K = TileEffect::Kind;

struct Controller : CommandHarness {
    std::unique_ptr<TileGridController> c;
    void make() { c = std::make_unique<TileGridController>(window); }
    TileGridLayout layout() const { return c->layout(600); }
};

TEST(TileGridController, OpeningMoreThanTenFilesAsksFirst) {
    Controller g;
    std::vector<std::pair<fs::path, std::vector<std::string>>> tagged;
    for (int i = 0; i < 30; ++i) tagged.push_back({g.file("p" + std::to_string(i) + ".jpg", "Trip"), {"Trip"}});
    g.load(tagged);
    g.make();
    g.window->setCurrentNode(P({"Tags", "Trip"}));
    ASSERT_EQ(g.layout().count(), 30u);

    // Ctrl+A then Return (or a double click, or Ctrl+O): one question, no opener.
    g.c->selectAll(g.layout());
    TileEffects e = g.c->open();
    ASSERT_EQ(e.size(), 1u);
    EXPECT_EQ(e[0].kind, K::confirmOpen);
    EXPECT_EQ(e[0].paths.size(), 30u);
    // Exactly ten open at once.
    QuickStringSet ten(g.layout().paths.begin(), g.layout().paths.begin() + 10);
    g.window->setCurrentSelection(ten);
    e = g.c->open();
    ASSERT_EQ(e.size(), 1u);
    EXPECT_EQ(e[0].kind, K::open);
    EXPECT_EQ(e[0].paths.size(), 10u);
    // Activating a tile (a double click, assistive technology) opens just it.
    e = g.c->activate(g.layout(), 4);
    ASSERT_EQ(e.size(), 1u);
    EXPECT_EQ(e[0].kind, K::open);
    EXPECT_EQ(e[0].paths, std::vector<QuickString>{g.layout().paths[4]});
    // The menu's "Open Files" asks the same question for many.
    g.c->selectAll(g.layout());
    std::vector<QuickString> selection;
    auto entries = g.c->menu(g.layout(), 0, &selection);
    auto open = std::find_if(entries.begin(), entries.end(),
                             [](const TileMenuEntry& m) { return m.action == TileMenuEntry::Action::open; });
    ASSERT_NE(open, entries.end());
    EXPECT_EQ(open->title, "Open Files");
    e = g.c->runMenuAction(*open, selection);
    ASSERT_EQ(e.size(), 1u);
    EXPECT_EQ(e[0].kind, K::confirmOpen);
    // Nothing selected: nothing to do.
    g.window->setCurrentSelection({});
    EXPECT_TRUE(g.c->open().empty());
}

TEST(TileGridController, DropsThatWouldDoNothingAreRefused) {
    Controller g;
    fs::path a = g.file("a.jpg", "Box"), b = g.file("b.jpg", "Box"), loose = g.file("loose.jpg");
    g.load({{a, {"Box"}}, {b, {"Box"}}});
    g.make();
    g.window->setCurrentNode(P({"Tags", "Box"}));
    // The grid's own files dragged over itself: already tagged.
    EXPECT_FALSE(g.c->acceptsDrop({Q(a.string()), Q(b.string())}));
    EXPECT_TRUE(g.c->acceptsDrop({Q(a.string()), Q(loose.string())}));
    EXPECT_FALSE(g.c->acceptsDrop({}));
    // A folder node: its own files would move where they are.
    auto folder = nodeNameForFolder(g.root.string());
    ASSERT_TRUE(folder);
    g.window->setCurrentNode(nodePathForFullName(*folder));
    ASSERT_TRUE(mainQueue().runUntil([&] { return g.layout().count() == 3; }, std::chrono::seconds(10)));
    EXPECT_FALSE(g.c->acceptsDrop({Q(loose.string())}));
    EXPECT_TRUE(g.c->acceptsDrop({Q("/elsewhere/x.jpg")}));
    // The map node takes no drops at all.
    g.window->setCurrentNode({mapSectionName()});
    EXPECT_FALSE(g.c->acceptsDrop({Q("/elsewhere/x.jpg")}));
}

// What the drag's feedback shows is what the drop would do: planned once,
// then read with the drop's modifiers and the source's allowed actions.
TEST(TileGridController, ADropPlanAnswersTheOperationTheDropWouldPerform) {
    Controller g;
    fs::path own = g.file("dest/own.jpg", "Box"), loose = g.file("src/loose.jpg");
    g.load({{own, {"Box"}}});
    g.make();
    auto drop = [](const fs::path& p, std::optional<DropOperation> requested = std::nullopt, bool move = true,
                   bool copy = true) {
        DropInfo d = DropInfo::forPaths({p.string()});
        d.requested = requested;
        d.sourceAllowsMove = move;
        d.sourceAllowsCopy = copy;
        return d;
    };
    using O = std::optional<DropOperation>;

    // A tag node tags the files where they are, whatever is asked for.
    g.window->setCurrentNode(P({"Tags", "Box"}));
    TileGridController::DropPlan plan = g.c->planDrop(drop(loose));
    EXPECT_TRUE(plan.accepted);
    EXPECT_EQ(plan.operation(drop(loose, DropOperation::move)), O(DropOperation::copy));
    EXPECT_EQ(plan.operation(drop(loose, std::nullopt, false, false)), O(DropOperation::copy));
    EXPECT_FALSE(g.c->planDrop(drop(own)).accepted);  // tagged already

    // A folder node on the same file system: a move unless Ctrl asks for a
    // copy or the source offers only a copy.
    auto folder = nodeNameForFolder((g.root / "dest").string());
    ASSERT_TRUE(folder);
    g.window->setCurrentNode(nodePathForFullName(*folder));
    ASSERT_TRUE(mainQueue().runUntil([&] { return g.layout().count() == 1; }, std::chrono::seconds(10)));
    plan = g.c->planDrop(drop(loose));
    EXPECT_TRUE(plan.accepted);
    EXPECT_TRUE(plan.isFolder);
    EXPECT_TRUE(plan.sameFileSystem);
    EXPECT_EQ(plan.operation(drop(loose)), O(DropOperation::move));
    EXPECT_EQ(plan.operation(drop(loose, DropOperation::copy)), O(DropOperation::copy));
    EXPECT_EQ(plan.operation(drop(loose, std::nullopt, false, true)), O(DropOperation::copy));
    EXPECT_EQ(plan.operation(drop(loose, DropOperation::copy, true, false)), O(DropOperation::move));
    // A source that allows neither is refused from the start, and so is a
    // file that is in the folder already.
    plan = g.c->planDrop(drop(loose, std::nullopt, false, false));
    EXPECT_FALSE(plan.accepted);
    EXPECT_EQ(plan.operation(drop(loose)), O());
    EXPECT_FALSE(g.c->planDrop(drop(own)).accepted);
    EXPECT_EQ(g.c->planDrop(drop(own)).operation(drop(own)), O());
}

TEST(TileGridController, RevealIntoAFolderNotReadYetScrollsOnceItsListingArrives) {
    Controller g;
    g.load();
    g.make();
    // Made after the first pass: the library has not read this folder.
    std::vector<fs::path> files;
    for (int i = 0; i < 60; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "album/IMG_%03d.jpg", i);
        files.push_back(g.file(name));
    }
    auto folder = nodeNameForFolder((g.root / "album").string());
    ASSERT_TRUE(folder);
    NodePath node = nodePathForFullName(*folder);
    const QuickString target = Q(files[55].string());
    TileEffects e = g.c->reveal(node, {target}, 600);
    EXPECT_TRUE(e.empty());
    EXPECT_TRUE(g.c->hasPendingReveal());
    EXPECT_EQ(g.window->currentNode(), node);
    // What the grid does after each update pass, once the listing is in.
    TileEffects owed;
    ASSERT_TRUE(mainQueue().runUntil(
        [&] {
            if (g.layout().count() < 60) return false;
            owed = g.c->pendingReveal(g.layout());
            return true;
        },
        std::chrono::seconds(10)));
    ASSERT_EQ(owed.size(), 1u);
    EXPECT_EQ(owed[0].kind, K::revealIndices);
    EXPECT_EQ(owed[0].indices, std::vector<size_t>{55});
    EXPECT_EQ(g.window->currentSelection(), QuickStringSet{target});
    EXPECT_FALSE(g.c->hasPendingReveal());

    // A reveal whose node the user left before its listing came is dropped.
    TileEffects none = g.c->reveal(P({"Tags", "Nothing"}), {target}, 600);
    EXPECT_TRUE(g.c->hasPendingReveal());
    g.window->setCurrentNode(node);
    EXPECT_FALSE(g.c->hasPendingReveal());
}

TEST(TileGridController, MenuJumpsAndKeysAnswerEffectsInsteadOfActing) {
    Controller g;
    fs::path a = g.file("x/a.jpg", "Jump"), b = g.file("y/b.jpg", "Jump,Other");
    g.load({{a, {"Jump"}}, {b, {"Jump", "Other"}}});
    g.make();
    g.window->setCurrentNode(P({"Tags", "Jump"}));
    g.c->selectAll(g.layout());
    std::vector<QuickString> selection;
    auto entries = g.c->menu(g.layout(), 1, &selection);
    ASSERT_EQ(selection.size(), 2u);
    auto find = [&](TileMenuEntry::Action action, const std::string& title) {
        for (const TileMenuEntry& m : entries)
            if (m.action == action && m.title.ends_with(title)) return m;
        ADD_FAILURE() << title;
        return TileMenuEntry{};
    };
    TileEffects e = g.c->runMenuAction(find(TileMenuEntry::Action::jumpToDir, "/y"), selection);
    ASSERT_EQ(e.size(), 1u);
    EXPECT_EQ(e[0].kind, K::reveal);
    EXPECT_EQ(e[0].files, QuickStringSet{Q(b.string())});
    e = g.c->runMenuAction(find(TileMenuEntry::Action::jumpToTag, "Other"), selection);
    ASSERT_EQ(e.size(), 1u);
    EXPECT_EQ(e[0].node, P({"Tags", "Other"}));
    EXPECT_EQ(e[0].files, QuickStringSet{Q(b.string())});
    e = g.c->runMenuAction(find(TileMenuEntry::Action::showInFileManager, ""), selection);
    ASSERT_EQ(e.size(), 1u);
    EXPECT_EQ(e[0].kind, K::showInFileManager);
    EXPECT_EQ(e[0].paths.size(), 2u);

    // A right press on a tile not selected selects just it first.
    g.window->setCurrentSelection({Q(a.string())});
    g.c->menu(g.layout(), 1, &selection);
    EXPECT_EQ(selection, std::vector<QuickString>{Q(b.string())});

    // Arrows answer where to scroll; Escape clears, then (on the map) asks
    // for the circle to go.
    e = g.c->arrow(g.layout(), TileArrow::left, {});
    ASSERT_EQ(e.size(), 1u);
    EXPECT_EQ(e[0].kind, K::scrollTo);
    EXPECT_EQ(e[0].index, 0u);
    EXPECT_EQ(g.window->currentSelection(), QuickStringSet{Q(a.string())});
    EXPECT_TRUE(g.c->escape().empty());
    EXPECT_TRUE(g.window->currentSelection().empty());
    EXPECT_TRUE(g.c->escape().empty());
    g.window->setCurrentNode({mapSectionName()});
    e = g.c->escape();
    ASSERT_EQ(e.size(), 1u);
    EXPECT_EQ(e[0].kind, K::removeCircle);
}

TEST(TileGridController, TypingANameSelectsTheFirstFileInGridOrderThatStartsWithIt) {
    Controller g;
    std::vector<std::pair<fs::path, std::vector<std::string>>> tagged;
    for (const char* name : {"\xc3\x89toile.jpg" /* Étoile */, "apple.jpg", "Avocado.jpg", "banana.jpg", "blue berry.jpg", "Blueprint 2.pdf",
                             "cherry.jpg", "\xc3\x89t\xc3\xa9.jpg" /* Été */, "\xe6\x97\xa5\xe6\x9c\xac.jpg" /* 日本 */})
        tagged.push_back({g.file(name, "Fruit"), {"Fruit"}});
    g.load(tagged);
    TypeAhead::TimePoint now{};
    g.c = std::make_unique<TileGridController>(g.window, [&] { return now; });
    g.window->setCurrentNode(P({"Tags", "Fruit"}));
    auto step = [&](int ms) { now += std::chrono::milliseconds(ms); };
    auto selectedName = [&]() -> std::string {
        if (g.window->currentSelection().size() != 1) return "<" + std::to_string(g.window->currentSelection().size()) + ">";
        std::string p(g.window->currentSelection().begin()->utf8());
        return p.substr(p.rfind('/') + 1);
    };
    auto type = [&](const char* s) { return g.c->typeAhead(g.layout(), s); };

    // Nothing selected: the search starts at the first file itself, not one
    // further on as after a pause.
    type("\xc3\xa9");  // é: the first file and the second start with it
    ASSERT_EQ(g.window->currentSelection().size(), 1u);
    EXPECT_EQ(*g.window->currentSelection().begin(), g.layout().paths[0]);
    g.window->setCurrentSelection({});
    step(900);
    TileEffects e = type("a");
    EXPECT_EQ(selectedName(), "apple.jpg");
    ASSERT_EQ(e.size(), 1u);
    EXPECT_EQ(e[0].kind, K::scrollTo);
    EXPECT_EQ(g.layout().paths[e[0].index], *g.window->currentSelection().begin());
    step(300);
    type("v");  // "av", case folded
    EXPECT_EQ(selectedName(), "Avocado.jpg");
    step(900);  // a pause: a new pattern, one file further on, wrapping around
    type("a");
    EXPECT_EQ(selectedName(), "apple.jpg");
    step(900);
    type("b");
    EXPECT_EQ(selectedName(), "banana.jpg");
    step(100);
    type("l");  // the name's space is skipped
    EXPECT_EQ(selectedName(), "blue berry.jpg");
    step(100);
    type("uep");
    EXPECT_EQ(selectedName(), "Blueprint 2.pdf");
    // Nothing matches: the selection stays.
    step(100);
    EXPECT_TRUE(type("zz").empty());
    EXPECT_EQ(selectedName(), "Blueprint 2.pdf");
    step(900);
    type("b");
    EXPECT_EQ(selectedName(), "banana.jpg");
    step(900);
    type("\xc3\xa9");  // é finds Été
    EXPECT_EQ(selectedName(), "\xc3\x89t\xc3\xa9.jpg");
    step(900);
    type("\xe6\x97\xa5");
    EXPECT_EQ(selectedName(), "\xe6\x97\xa5\xe6\x9c\xac.jpg");

    // A click starts a new pattern at once: "a" right after it is not "日a".
    step(900);
    type("c");
    EXPECT_EQ(selectedName(), "cherry.jpg");
    std::optional<size_t> banana;
    for (size_t i = 0; i < g.layout().count(); ++i)
        if (g.layout().paths[i].utf8().ends_with("/banana.jpg")) banana = i;
    g.c->press(g.layout(), banana, TileZone::body, {});
    EXPECT_EQ(selectedName(), "banana.jpg");
    step(100);
    type("b");
    EXPECT_EQ(selectedName(), "blue berry.jpg");  // one after the clicked file
    // So do the arrow keys and another node.
    step(100);
    g.c->arrow(g.layout(), TileArrow::right, {});
    step(100);
    type("c");
    EXPECT_EQ(selectedName(), "cherry.jpg");
    g.window->setCurrentNode(P({"Tags"}));
    EXPECT_TRUE(g.c->typeAheadState().isReset());
    EXPECT_TRUE(type("a").empty());  // nothing shown there
}

}  // namespace
}  // namespace qm::test
