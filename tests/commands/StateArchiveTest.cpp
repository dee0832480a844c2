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

}  // namespace
}  // namespace qm
