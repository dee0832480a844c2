#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <limits>
#include <random>
#include <utility>
#include <vector>
#include <string>

#include "commands/AppWindowState.h"
#include "commands/ByteSafeText.h"

namespace qm {
namespace {

using nlohmann::json;

std::vector<QuickString> names(std::initializer_list<std::string> list) {
    std::vector<QuickString> out;
    for (const auto& s : list) out.push_back(QuickString::bytes(s));
    return out;
}

AppWindowState fullState() {
    AppWindowState s;
    s.currentNode = names({"Tags", "Travel", "Rome"});
    s.currentSelection = names({"/home/u/a.jpg", "/home/u/b c.jpg", "/home/u/\xff\xfe.jpg"});
    s.isExpanded = names({"Tags", "Tags/Travel", "Tags/caf\xe9", std::string("\0odd", 4)});
    s.isSidebarVisible = true;
    s.isTileGridViewFocused = true;
    s.sidebarThickness = 231.5;
    s.scrollState.sidebar = AppWindowState::SidebarScroll{-12.25};
    s.scrollState.map = AppWindowState::MapScroll{1.5, 2.5, 3000.25, 4000.75};
    s.scrollState.tileGrid = AppWindowState::TileGridScroll{std::string("/home/u/\x80x.png"), 17.5};
    s.placedCircle = AppWindowState::Circle{12.4964, 41.9028, 0.25};
    return s;
}

json encoded(const AppWindowState& s) {
    json out;
    encodeAppWindowState(s, out);
    // Through text, as the file carries it.
    return json::parse(out.dump());
}

TEST(ByteSafeText, KeepsUtf8AsTextAndEveryOtherByteStringExactly) {
    EXPECT_EQ(encodeByteSafeText("Tags/Café ★"), "Tags/Café ★");
    EXPECT_EQ(encodeByteSafeText(""), "");
    EXPECT_TRUE(isValidUtf8("\xF0\x9F\x98\x80"));
    // Overlong, surrogate, beyond U+10FFFF, truncated, stray continuation: all not UTF-8.
    for (std::string bad : {"\xC0\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80", "\xE2\x82", "\x80", "a\xFF"})
        EXPECT_FALSE(isValidUtf8(bad)) << bad.size() << " bytes";

    std::mt19937 random(7);
    for (int round = 0; round < 2000; ++round) {
        std::string bytes(random() % 12, '\0');
        for (auto& b : bytes) b = static_cast<char>(random() % 256);
        const std::string text = encodeByteSafeText(bytes);
        EXPECT_TRUE(isValidUtf8(text));
        // The encoded text must survive JSON, whose writer refuses anything but UTF-8.
        const json carried = json::parse(json(text).dump(-1, ' ', false, json::error_handler_t::strict));
        std::string back;
        ASSERT_TRUE(decodeByteSafeText(carried.get<std::string>(), back));
        EXPECT_EQ(back, bytes);
    }
    // A name that starts with NUL is encoded too, so decoding stays unambiguous.
    EXPECT_NE(encodeByteSafeText(std::string("\0a", 2)), std::string("\0a", 2));

    std::string out;
    EXPECT_FALSE(decodeByteSafeText(std::string("\0ab$", 4), out));
    EXPECT_FALSE(decodeByteSafeText(std::string("\0abc", 4), out));
    EXPECT_FALSE(decodeByteSafeText(std::string("\0a=bc", 5), out));
}

TEST(AppWindowState, EveryFieldRoundTripsWithTheKeysOfTheArchive) {
    const AppWindowState s = fullState();
    const json j = encoded(s);
    EXPECT_EQ(j["currentNode"], json({"Tags", "Travel", "Rome"}));
    EXPECT_EQ(j["isSidebarVisible"], true);
    EXPECT_EQ(j["sidebarThickness"], 231.5);
    EXPECT_EQ(j["scrollState"]["sidebar"]["relativeScrollOffset"], -12.25);
    EXPECT_EQ(j["scrollState"]["map"], json({{"x", 1.5}, {"y", 2.5}, {"w", 3000.25}, {"h", 4000.75}}));
    EXPECT_EQ(j["scrollState"]["tileGrid"]["scrollOffset"], 17.5);
    EXPECT_EQ(j["placedCircle"], json({{"x", 12.4964}, {"y", 41.9028}, {"r", 0.25}}));
    EXPECT_EQ(j.size(), 8u);
    EXPECT_EQ(decodeAppWindowState(j), s);

    AppWindowState bare;
    const json b = encoded(bare);
    EXPECT_FALSE(b.contains("placedCircle"));
    EXPECT_EQ(b["scrollState"], json::object());
    EXPECT_EQ(decodeAppWindowState(b), bare);
}

TEST(AppWindowState, TheThreeStringArraysAndScrollStateAreRequired) {
    for (const char* key : {"currentNode", "currentSelection", "isExpanded", "scrollState"}) {
        json j = encoded(fullState());
        j.erase(key);
        EXPECT_FALSE(decodeAppWindowState(j)) << key << " missing";
        for (json wrong : {json(3), json("Tags"), json::object(), json(nullptr), json::array({"a", 1})}) {
            if (std::string(key) == "scrollState" && wrong.is_object()) continue;  // an empty object is valid
            if (std::string(key) == "scrollState" && wrong.is_array()) continue;
            j[key] = wrong;
            EXPECT_FALSE(decodeAppWindowState(j)) << key << " = " << wrong.dump();
        }
    }
    json selectionWithNumber = encoded(fullState());
    selectionWithNumber["currentSelection"] = {1, 2};
    EXPECT_FALSE(decodeAppWindowState(selectionWithNumber));
    json arrayScroll = encoded(fullState());
    arrayScroll["scrollState"] = json::array();
    EXPECT_FALSE(decodeAppWindowState(arrayScroll));
    json badBytes = encoded(fullState());
    badBytes["currentNode"] = {std::string("\0!!", 3)};
    EXPECT_FALSE(decodeAppWindowState(badBytes));
    EXPECT_FALSE(decodeAppWindowState(json::array()));
}

TEST(AppWindowState, OptionalValuesTakeTheirDefaultsWhenMissingOrWrong) {
    for (bool erase : {true, false}) {
        json j = encoded(fullState());
        auto drop = [&](json& object, const char* key) {
            if (erase) object.erase(key);
            else object[key] = "wrong";
        };
        drop(j, "isSidebarVisible");
        drop(j, "isTileGridViewFocused");
        drop(j, "sidebarThickness");
        drop(j["scrollState"]["sidebar"], "relativeScrollOffset");
        for (const char* k : {"x", "y", "w", "h"}) drop(j["scrollState"]["map"], k);
        drop(j["scrollState"]["tileGrid"], "scrollOffset");
        for (const char* k : {"x", "y", "r"}) drop(j["placedCircle"], k);
        const auto s = decodeAppWindowState(j);
        ASSERT_TRUE(s);
        EXPECT_FALSE(s->isSidebarVisible);
        EXPECT_FALSE(s->isTileGridViewFocused);
        EXPECT_EQ(s->sidebarThickness, 0.0);
        EXPECT_EQ(s->scrollState.sidebar, AppWindowState::SidebarScroll{0.0});
        EXPECT_EQ(s->scrollState.map, (AppWindowState::MapScroll{0, 0, 0, 0}));
        ASSERT_TRUE(s->scrollState.tileGrid);
        EXPECT_EQ(s->scrollState.tileGrid->scrollOffset, 0.0);
        EXPECT_EQ(s->placedCircle, (AppWindowState::Circle{0, 0, 0}));
        EXPECT_EQ(s->currentSelection, fullState().currentSelection);
    }
    // The grid's state needs its path; without it only the grid's part is absent.
    for (json path : {json(), json(5)}) {
        json j = encoded(fullState());
        if (path.is_null()) j["scrollState"]["tileGrid"].erase("firstVisiblePath");
        else j["scrollState"]["tileGrid"]["firstVisiblePath"] = path;
        const auto s = decodeAppWindowState(j);
        ASSERT_TRUE(s);
        EXPECT_FALSE(s->scrollState.tileGrid);
        EXPECT_EQ(s->scrollState.sidebar, fullState().scrollState.sidebar);
        EXPECT_EQ(s->scrollState.map, fullState().scrollState.map);
    }
    // Parts that are missing or not objects are absent.
    json j = encoded(fullState());
    j.erase("placedCircle");
    j["scrollState"] = {{"sidebar", 3}, {"map", "x"}};
    const auto s = decodeAppWindowState(j);
    ASSERT_TRUE(s);
    EXPECT_EQ(s->scrollState, AppWindowState::RootViewScrollState{});
    EXPECT_FALSE(s->placedCircle);
}


// Numbers a damaged file may hold: each reads as missing, never as a value
// the views would loop on or allocate for.
TEST(AppWindowState, NumbersOutOfRangeReadAsMissing) {
    using Limits = AppWindowState::Limits;
    struct Case {
        std::vector<const char*> where;  // the path to the number
        double inRange;                  // kept as it is
    };
    const std::vector<Case> cases = {
        {{"sidebarThickness"}, 250},
        {{"scrollState", "sidebar", "relativeScrollOffset"}, -4000},
        {{"scrollState", "tileGrid", "scrollOffset"}, 120},
        {{"scrollState", "map", "x"}, -1e8},
        {{"scrollState", "map", "y"}, 2e8},
        {{"scrollState", "map", "w"}, 3e8},
        {{"scrollState", "map", "h"}, 1},
        {{"placedCircle", "x"}, -179.5},
        {{"placedCircle", "y"}, -89.5},
        {{"placedCircle", "r"}, 359},
    };
    auto at = [](json& j, const std::vector<const char*>& where) -> json& {
        json* node = &j;
        for (const char* key : where) node = &(*node)[key];
        return *node;
    };
    auto read = [](const AppWindowState& s, const std::vector<const char*>& where) {
        const std::string key = where.size() == 1 ? where[0] : std::string(where[where.size() - 2]) + "." + where.back();
        if (key == "sidebarThickness") return s.sidebarThickness;
        if (key == "sidebar.relativeScrollOffset") return s.scrollState.sidebar->relativeScrollOffset;
        if (key == "tileGrid.scrollOffset") return s.scrollState.tileGrid->scrollOffset;
        if (key == "map.x") return s.scrollState.map->x;
        if (key == "map.y") return s.scrollState.map->y;
        if (key == "map.w") return s.scrollState.map->w;
        if (key == "map.h") return s.scrollState.map->h;
        if (key == "placedCircle.x") return s.placedCircle->x;
        if (key == "placedCircle.y") return s.placedCircle->y;
        return s.placedCircle->r;
    };
    for (const Case& c : cases) {
        json j = encoded(fullState());
        at(j, c.where) = c.inRange;
        auto kept = decodeAppWindowState(j);
        ASSERT_TRUE(kept);
        EXPECT_EQ(read(*kept, c.where), c.inRange) << c.where.back();
        for (double hostile : {1e20, -1e20, 1e300, -1e300, 1e9 + 1, -(Limits::mapExtent * 2)}) {
            at(j, c.where) = hostile;
            auto s = decodeAppWindowState(j);
            ASSERT_TRUE(s);
            EXPECT_EQ(read(*s, c.where), 0.0) << c.where.back() << " = " << hostile;
            // The rest of the window still restores.
            EXPECT_EQ(s->currentNode, fullState().currentNode);
        }
    }
    // Negative sizes, a latitude past the pole and a negative radius cannot be.
    for (auto [where, value] : std::vector<std::pair<std::vector<const char*>, double>>{
             {{"sidebarThickness"}, -1}, {{"scrollState", "map", "w"}, -5}, {{"placedCircle", "y"}, 90.5},
             {{"placedCircle", "r"}, -0.5}, {{"placedCircle", "x"}, 541}}) {
        json j = encoded(fullState());
        at(j, where) = value;
        EXPECT_EQ(read(*decodeAppWindowState(j), where), 0.0) << where.back() << " = " << value;
    }
    // A longitude a turn or so east or west of the map names the same place.
    json j = encoded(fullState());
    j["placedCircle"]["x"] = 372.5;
    EXPECT_DOUBLE_EQ(decodeAppWindowState(j)->placedCircle->x, 12.5);
    j["placedCircle"]["x"] = -190;
    EXPECT_DOUBLE_EQ(decodeAppWindowState(j)->placedCircle->x, 170);
}

// Whatever the live window holds, the file it writes reads back with every
// value kept or brought into range, none dropped as missing.
TEST(AppWindowState, TheWriterBringsEveryNumberIntoTheRangeItsReaderAccepts) {
    AppWindowState s = fullState();
    s.sidebarThickness = 1e7;
    s.scrollState.sidebar->relativeScrollOffset = -1e12;
    s.scrollState.tileGrid->scrollOffset = std::numeric_limits<double>::infinity();
    s.scrollState.map = AppWindowState::MapScroll{-1e10, 1e10, 1e10, std::numeric_limits<double>::quiet_NaN()};
    s.placedCircle = AppWindowState::Circle{2 * 360 + 5.25, 91, 1e6};  // a circle dragged far past the view
    const auto back = decodeAppWindowState(encoded(s));
    ASSERT_TRUE(back);
    using Limits = AppWindowState::Limits;
    EXPECT_EQ(back->sidebarThickness, Limits::sidebarThickness);
    EXPECT_EQ(back->scrollState.sidebar->relativeScrollOffset, -Limits::scrollOffset);
    EXPECT_EQ(back->scrollState.tileGrid->scrollOffset, Limits::scrollOffset);
    EXPECT_EQ(back->scrollState.map, (AppWindowState::MapScroll{-Limits::mapExtent, Limits::mapExtent,
                                                                Limits::mapExtent, 0}));
    EXPECT_DOUBLE_EQ(back->placedCircle->x, 5.25);
    EXPECT_EQ(back->placedCircle->y, 90);
    EXPECT_EQ(back->placedCircle->r, Limits::radius);
    // Values in range are written to the last bit.
    EXPECT_EQ(decodeAppWindowState(encoded(fullState())), fullState());
}

}  // namespace
}  // namespace qm
