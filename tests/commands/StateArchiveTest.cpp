#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <string>

#include "commands/StateArchive.h"

namespace qm {
namespace {

using nlohmann::json;

AppWindowState stateAt(std::vector<std::string> node, std::vector<std::string> selection = {}) {
    AppWindowState s;
    for (const auto& name : node) s.currentNode.push_back(QuickString::bytes(name));
    for (const auto& path : selection) s.currentSelection.push_back(QuickString::bytes(path));
    s.scrollState.tileGrid = AppWindowState::TileGridScroll{"/home/u/x", 3};
    return s;
}

StateArchive twoFrames() {
    StateArchive a;
    a.frames.push_back({10, 20, 800, 600, false, 1,
                        {{stateAt({"Tags", "Rome"}, {"/home/u/a.jpg", "/home/u/b.jpg"})}, {stateAt({"Map"})}}});
    a.frames.push_back({-30, 40, 1024, 700, true, 0, {{stateAt({"Folders", "Pictures"})}}});
    return a;
}

TEST(StateArchive, FramesTabsAndGeometryRoundTripInOrder) {
    const StateArchive a = twoFrames();
    const std::string text = encodeStateArchive(a);
    const json j = json::parse(text);
    EXPECT_EQ(j["version"], StateArchive::currentVersion);
    EXPECT_EQ(j["frames"][0]["tabs"][1]["currentNode"], json({"Map"}));
    const auto reading = decodeStateArchive(text);
    EXPECT_TRUE(reading.problems.empty());
    EXPECT_EQ(reading.archive, a);

    EXPECT_EQ(decodeStateArchive(encodeStateArchive(StateArchive{})).archive, StateArchive{});
}

TEST(StateArchive, DamagedFilesRestoreNothingAndSayWhyOnce) {
    const std::string good = encodeStateArchive(twoFrames());
    json future = json::parse(good);
    future["version"] = StateArchive::currentVersion + 1;
    json noFrames = json::parse(good);
    noFrames.erase("frames");
    const std::string huge = "{\"version\":1,\"frames\":[],\"pad\":\"" +
                             std::string(StateArchive::maximumFileSize, 'x') + "\"}";
    for (const std::string& bad : {std::string(), good.substr(0, good.size() / 2), good.substr(0, good.size() - 1),
                                   std::string("not json at all"), std::string("\x89PNG\r\n\x1a\n", 8),
                                   std::string("[1,2,3]"), future.dump(), noFrames.dump(),
                                   std::string("{\"version\":\"1\",\"frames\":[]}"),
                                   std::string("{\"version\":0,\"frames\":[]}"), huge}) {
        const auto reading = decodeStateArchive(bad);
        EXPECT_FALSE(reading.archive) << bad.substr(0, 60);
        EXPECT_EQ(reading.problems.size(), 1u) << bad.substr(0, 60);
    }
}

TEST(StateArchive, ADamagedTabRestoresNothingOfThatTabOnly) {
    json j = json::parse(encodeStateArchive(twoFrames()));
    j["frames"][0]["tabs"][0]["currentSelection"] = {1, 2};  // numbers instead of paths
    j["frames"][0]["currentTab"] = 7;                        // out of range
    j["frames"].push_back(42);                               // not a window at all
    j["frames"][1]["width"] = "wide";
    const auto reading = decodeStateArchive(j.dump());
    ASSERT_TRUE(reading.archive);
    ASSERT_EQ(reading.archive->frames.size(), 2u);
    const auto& first = reading.archive->frames[0];
    ASSERT_EQ(first.tabs.size(), 2u);
    EXPECT_FALSE(first.tabs[0].state);
    EXPECT_EQ(first.tabs[1].state, stateAt({"Map"}));
    EXPECT_EQ(first.currentTab, 0);
    EXPECT_EQ(reading.archive->frames[1].width, 0);
    EXPECT_EQ(reading.archive->frames[1].tabs[0].state, stateAt({"Folders", "Pictures"}));
    EXPECT_EQ(reading.problems.size(), 2u);
}


// A hostile file: thousands of windows and tabs, many of them damaged. A
// start restores a bounded number and says what it left out in few lines.
TEST(StateArchive, AtMostFiftyWindowsOfAHundredTabsAreReadAndDamageIsSummedUp) {
    json tab;
    encodeAppWindowState(stateAt({"Tags", "Rome"}), tab);
    json frames = json::array();
    for (int f = 0; f < 70; ++f) {
        json tabs = json::array();
        for (int t = 0; t < 130; ++t) tabs.push_back(t % 2 ? json(t) : tab);  // every other tab damaged
        frames.push_back({{"x", 0}, {"y", 0}, {"width", 800}, {"height", 600}, {"currentTab", 120}, {"tabs", tabs}});
    }
    frames.push_back("not a window");
    const auto reading = decodeStateArchive(json{{"version", 1}, {"frames", frames}}.dump());
    ASSERT_TRUE(reading.archive);
    ASSERT_EQ(reading.archive->frames.size(), StateArchive::maximumFrames);
    for (const auto& frame : reading.archive->frames) {
        ASSERT_EQ(frame.tabs.size(), StateArchive::maximumTabsPerFrame);
        EXPECT_EQ(frame.currentTab, 0);  // beyond what was kept
        EXPECT_TRUE(frame.tabs[0].state);
        EXPECT_FALSE(frame.tabs[1].state);
    }
    // One line for the damaged window, one for the damaged tabs, one for what was left out.
    ASSERT_EQ(reading.problems.size(), 3u);
    EXPECT_EQ(reading.problems[0], "window 71 is damaged; it is left out");
    EXPECT_EQ(reading.problems[1], "2500 tabs (tab 2 of window 1, tab 4 of window 1, tab 6 of window 1 and 2497 more) "
                                   "are damaged; they open at their defaults");
    EXPECT_EQ(reading.problems[2], "only the first 50 windows and the first 100 tabs of each are restored; "
                                   "20 windows and 1500 tabs are left out");
}

TEST(StateArchive, FrameGeometryOutOfRangeReadsAsMissing) {
    json j = json::parse(encodeStateArchive(twoFrames()));
    j["frames"][0]["width"] = 1e9;                     // a backing store of gigabytes
    j["frames"][0]["height"] = uint64_t{1} << 63;      // must not wrap into range
    j["frames"][0]["x"] = -100000000;
    j["frames"][1]["y"] = 1e20;
    j["frames"][1]["currentTab"] = -1;
    const auto reading = decodeStateArchive(j.dump());
    ASSERT_TRUE(reading.archive);
    const auto& first = reading.archive->frames[0];
    EXPECT_EQ(first.width, 0);
    EXPECT_EQ(first.height, 0);
    EXPECT_EQ(first.x, 0);
    EXPECT_EQ(first.y, 20);
    EXPECT_EQ(reading.archive->frames[1].y, 0);
    EXPECT_EQ(reading.archive->frames[1].x, -30);
    EXPECT_TRUE(reading.problems.empty());
}

// The writer never makes a file its reader refuses: however much is selected
// and however many windows are open, every window comes back.
TEST(StateArchive, WhatIsWrittenAlwaysReadsBackWithEveryWindow) {
    // 800,000 selected files in one tab: 10,000 of them are kept.
    {
        AppWindowState all = stateAt({"Folders"});
        for (int i = 0; i < 800000; ++i) all.currentSelection.push_back(QuickString::bytes("/p/" + std::to_string(i)));
        StateArchive a;
        a.frames.push_back({0, 0, 800, 600, false, 0, {{all}}});
        const auto reading = decodeStateArchive(encodeStateArchive(a));
        ASSERT_TRUE(reading.archive);
        EXPECT_EQ(reading.archive->frames[0].tabs[0].state->currentSelection.size(),
                  StateArchive::maximumSelectedPathsPerTab);
    }
    // Long names in full selections of many tabs would pass the reader's
    // limit: the selections give way, the windows stay.
    {
        AppWindowState longNames = stateAt({"Tags", "Rome"});
        for (int i = 0; i < 10000; ++i)
            longNames.currentSelection.push_back(QuickString::bytes("/p/" + std::string(4000, 'n') + std::to_string(i)));
        longNames.isExpanded = {QuickString::bytes("Tags"), QuickString::bytes("Tags/Rome")};
        StateArchive a;
        a.frames.push_back({0, 0, 800, 600, false, 1, {{longNames}, {longNames}}});
        a.frames.push_back({0, 0, 800, 600, false, 0, {{stateAt({"Map"})}}});
        const std::string text = encodeStateArchive(a);
        EXPECT_LE(text.size(), StateArchive::maximumFileSize);
        const auto reading = decodeStateArchive(text);
        ASSERT_TRUE(reading.archive);
        ASSERT_EQ(reading.archive->frames.size(), 2u);
        const auto& tabs = reading.archive->frames[0].tabs;
        ASSERT_EQ(tabs.size(), 2u);
        EXPECT_EQ(reading.archive->frames[0].currentTab, 1);
        EXPECT_EQ(tabs[1].state->currentNode, longNames.currentNode);
        EXPECT_EQ(tabs[1].state->isExpanded, longNames.isExpanded);  // before the selections are all gone
        EXPECT_LT(tabs[1].state->currentSelection.size(), 10000u);
        EXPECT_EQ(reading.archive->frames[1].tabs[0].state, stateAt({"Map"}));
    }
    // More windows and tabs than a start restores are not written.
    {
        StateArchive a;
        for (int f = 0; f < 60; ++f) {
            StateArchive::Frame frame{0, 0, 800, 600, false, 110, {}};
            for (int t = 0; t < 120; ++t) frame.tabs.push_back({stateAt({"Tags", "Rome"})});
            a.frames.push_back(frame);
        }
        const json j = json::parse(encodeStateArchive(a));
        ASSERT_EQ(j["frames"].size(), StateArchive::maximumFrames);
        EXPECT_EQ(j["frames"][0]["tabs"].size(), StateArchive::maximumTabsPerFrame);
        EXPECT_EQ(j["frames"][0]["currentTab"], 0);
        EXPECT_TRUE(decodeStateArchive(j.dump()).problems.empty());
    }
}

}  // namespace
}  // namespace qm
