#include "commands/BrowserState.h"

#include <gtest/gtest.h>

#include "commands/CommandHarness.h"

namespace qm {
namespace {

using namespace qm::test;

TEST(BrowserStateTest, HistoryBackForwardAndConsumedEntries) {
    CommandHarness h;
    h.load();
    BrowserState& w = *h.window;
    int nodeEvents = 0, selectionEvents = 0, invalidations = 0;
    std::vector<std::pair<bool, bool>> buttons;
    const Subscription onCurrentNode = w.currentNodeChanged.subscribe([&] { ++nodeEvents; });
    const Subscription onCurrentSelection = w.currentSelectionChanged.subscribe([&] { ++selectionEvents; });
    w.invalidateRestorableState = [&] { ++invalidations; };
    w.historyButtonsChanged = [&](bool back, bool forward) { buttons.emplace_back(back, forward); };
    int scroll = 0;
    w.captureScrollState = [&] { return HistoryScrollState{++scroll, scroll, scroll}; };
    std::vector<HistoryScrollState> restored;
    w.restoreScrollState = [&](const HistoryScrollState& s) { restored.push_back(s); };

    NodePath A = P({"Tags", "a"}), B = P({"Tags", "b"}), C = P({"Folders", "c"}), D = P({"Map"});
    w.setCurrentNode(A);
    w.setCurrentSelection({Q("/a1")});
    w.setCurrentNode(B);
    EXPECT_TRUE(w.currentSelection().empty());  // a new node starts unselected
    w.setCurrentNode(C);
    w.setCurrentNode(C);  // same node: nothing
    EXPECT_EQ(nodeEvents, 3);
    EXPECT_EQ(w.backHistory().size(), 3u);
    EXPECT_FALSE(w.backHistory()[1].scrollState.sidebar.has_value());  // sidebar scroll not kept
    EXPECT_TRUE(w.backHistory()[1].scrollState.tileGrid.has_value());
    EXPECT_EQ(w.backHistory()[1].selection, (QuickStringSet{Q("/a1")}));

    w.navigateHistory(HistoryDirection::back);
    w.navigateHistory(HistoryDirection::back);
    EXPECT_EQ(w.currentNode(), A);
    EXPECT_EQ(w.currentSelection(), (QuickStringSet{Q("/a1")}));  // the entry's selection returns
    EXPECT_EQ(w.forwardHistory().size(), 2u);
    EXPECT_TRUE(w.forwardHistory().back().scrollState.sidebar.has_value());  // kept when navigating
    EXPECT_EQ(restored.size(), 2u);
    EXPECT_EQ(buttons.back(), (std::pair{true, true}));
    w.navigateHistory(HistoryDirection::forward);
    EXPECT_EQ(w.currentNode(), B);
    w.navigateHistory(HistoryDirection::back);
    EXPECT_EQ(w.currentNode(), A);
    w.setCurrentNode(D);
    EXPECT_TRUE(w.forwardHistory().empty());
    EXPECT_EQ(buttons.back(), (std::pair{true, false}));

}

TEST(BrowserStateTest, BackOntoTheCurrentNodeIsConsumed) {
    CommandHarness h;
    h.load();
    BrowserState& w = *h.window;
    NodePath A = P({"Tags", "a"}), B = P({"Tags", "b"});
    w.setCurrentNode(A);
    w.setCurrentNode(B);  // back: [root, A]
    w.applyInitialNode(A, {});  // a restored state: nothing recorded
    ASSERT_EQ(w.backHistory().back().node, A);
    int events = 0;
    const Subscription onCurrentNode = w.currentNodeChanged.subscribe([&] { ++events; });
    w.navigateHistory(HistoryDirection::back);  // consumed
    EXPECT_EQ(events, 0);
    EXPECT_EQ(w.currentNode(), A);
    EXPECT_EQ(w.backHistory().size(), 1u);
    EXPECT_TRUE(w.forwardHistory().empty());
    w.navigateHistory(HistoryDirection::back);
    EXPECT_EQ(w.currentNode(), NodePath{});
    EXPECT_EQ(events, 1);
    w.navigateHistory(HistoryDirection::back);  // empty: nothing
    EXPECT_EQ(events, 1);
}

TEST(BrowserStateTest, TitlesSubtitlesAndResults) {
    CommandHarness h;
    h.load();
    BrowserState& w = *h.window;
    int titles = 0;
    w.titleChanged = [&] { ++titles; };
    EXPECT_EQ(w.title(), "Quillomere");
    EXPECT_EQ(BrowserState::titleFor(P({"Tags", "a", "b"})), "Tags: a/b");
    EXPECT_EQ(BrowserState::titleFor(P({"Folders", "Documents"})), "Folders: Documents");
    EXPECT_EQ(BrowserState::titleFor(P({"Map"})), "Map");
    w.setCurrentNode(P({"Folders", "Documents"}));
    EXPECT_EQ(w.title(), "Folders: Documents");
    EXPECT_EQ(titles, 1);
    std::string home = testHome().string();
    w.setCurrentSelection({Q(home + "/Documents/\x01a.txt\n"), Q(home + "/b")});
    EXPECT_EQ(w.subtitle(), "2 selected");
    w.setCurrentSelection({Q(home + "/\x01\tDocuments/a.txt\xC2\x85\n")});
    EXPECT_EQ(w.subtitle(), "Documents/a.txt");
    w.setCurrentSelection({Q("/etc/passwd")});
    EXPECT_EQ(w.subtitle(), "");
    w.setCurrentSelection({Q(home + "x/file")});  // a sibling of home is outside it
    EXPECT_EQ(w.subtitle(), "");
    EXPECT_EQ(BrowserState::subtitleFor({}), "");

    int results = 0;
    const Subscription onMapResults = w.mapResultsChanged.subscribe([&] { ++results; });
    w.setMapResults(std::vector<QuickString>{});
    w.setMapResults(std::vector<QuickString>{});
    w.setMapResults(std::vector<QuickString>{Q("/p")});
    w.setMapResults(std::nullopt);
    EXPECT_EQ(results, 3);

    // Expanded rows start with the root and four sections.
    EXPECT_EQ(w.isExpanded(), (QuickStringSet{Q(""), Q("Pinned"), Q("Colors"), Q("Folders"), Q("Tags")}));
    int expanded = 0;
    const Subscription onIsExpanded = w.isExpandedChanged.subscribe([&] { ++expanded; });
    w.setExpanded(Q("Tags/a"), true);
    w.setExpanded(Q("Tags/a"), true);
    w.setExpanded(Q("Colors"), false);
    EXPECT_EQ(expanded, 2);

    // The stack does nothing once its window is gone.
    std::shared_ptr<CommandStack> stack = w.commandStack();
    h.window.reset();
    stack->undo();
    EXPECT_FALSE(stack->performDrop(h.db->tree().tagsNode(), DropInfo::forTag("a"), false));
}

}  // namespace
}  // namespace qm
