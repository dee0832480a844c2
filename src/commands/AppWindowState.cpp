#include "commands/AppWindowState.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cmath>

#include "commands/ByteSafeText.h"

namespace qm {

namespace {

using nlohmann::json;

json encodeStrings(const std::vector<QuickString>& strings) {
    json array = json::array();
    auto& items = array.get_ref<json::array_t&>();
    items.reserve(strings.size());
    for (const auto& s : strings) items.emplace_back(encodeByteSafeText(s.utf8()));
    return array;
}

// Every element must be a string in the byte-safe form.
bool decodeStrings(const json& object, const char* key, std::vector<QuickString>& out) {
    const auto it = object.find(key);
    if (it == object.end() || !it->is_array()) return false;
    out.clear();
    out.reserve(it->size());
    std::string bytes;
    for (const auto& element : *it) {
        if (!element.is_string()) return false;
        if (!decodeByteSafeText(element.get_ref<const std::string&>(), bytes)) return false;
        out.push_back(QuickString::bytes(bytes));
    }
    return true;
}

using Limits = AppWindowState::Limits;

// A number within [low, high]; anything else counts as missing (0).
double doubleOr0(const json& object, const char* key, double low, double high) {
    const auto it = object.find(key);
    if (it == object.end() || !it->is_number()) return 0.0;
    const double value = it->get<double>();
    return value >= low && value <= high ? value : 0.0;  // NaN fails both
}

double symmetricOr0(const json& object, const char* key, double limit) {
    return doubleOr0(object, key, -limit, limit);
}

// Within [low, high]; a value that is not a number becomes low.
double clamped(double value, double low, double high) {
    if (!std::isfinite(value)) return value > 0 ? high : low;
    return std::clamp(value, low, high);
}

// Into [-180, 180] by whole turns: a remainder, so it takes one step
// whatever the value. One already there is kept to the last bit.
double normalisedLongitude(double longitude) {
    if (!std::isfinite(longitude)) return 0;
    if (longitude >= -180 && longitude <= 180) return longitude;
    double wrapped = std::fmod(longitude + 180, 360);
    if (wrapped < 0) wrapped += 360;
    return wrapped - 180;
}

bool boolOrFalse(const json& object, const char* key) {
    const auto it = object.find(key);
    return it != object.end() && it->is_boolean() && it->get<bool>();
}

const json* objectAt(const json& object, const char* key) {
    const auto it = object.find(key);
    return it != object.end() && it->is_object() ? &*it : nullptr;
}

}  // namespace

void encodeAppWindowState(const AppWindowState& state, json& out) {
    out = json::object();
    out["currentNode"] = encodeStrings(state.currentNode);
    out["currentSelection"] = encodeStrings(state.currentSelection);
    out["isExpanded"] = encodeStrings(state.isExpanded);
    out["isSidebarVisible"] = state.isSidebarVisible;
    out["isTileGridViewFocused"] = state.isTileGridViewFocused;
    out["sidebarThickness"] = clamped(state.sidebarThickness, 0, Limits::sidebarThickness);
    auto offset = [](double value) { return clamped(value, -Limits::scrollOffset, Limits::scrollOffset); };
    auto extent = [](double value) { return clamped(value, -Limits::mapExtent, Limits::mapExtent); };
    json scroll = json::object();
    if (const auto& s = state.scrollState.sidebar) scroll["sidebar"] = {{"relativeScrollOffset", offset(s->relativeScrollOffset)}};
    if (const auto& m = state.scrollState.map)
        scroll["map"] = {{"x", extent(m->x)},
                         {"y", extent(m->y)},
                         {"w", clamped(m->w, 0, Limits::mapExtent)},
                         {"h", clamped(m->h, 0, Limits::mapExtent)}};
    if (const auto& t = state.scrollState.tileGrid)
        scroll["tileGrid"] = {{"firstVisiblePath", encodeByteSafeText(t->firstVisiblePath)},
                              {"scrollOffset", offset(t->scrollOffset)}};
    out["scrollState"] = std::move(scroll);
    if (const auto& c = state.placedCircle)
        out["placedCircle"] = {{"x", normalisedLongitude(c->x)},
                               {"y", clamped(c->y, -Limits::latitude, Limits::latitude)},
                               {"r", clamped(c->r, 0, Limits::radius)}};
}

std::optional<AppWindowState> decodeAppWindowState(const json& object) {
    if (!object.is_object()) return std::nullopt;
    AppWindowState state;
    if (!decodeStrings(object, "currentNode", state.currentNode) ||
        !decodeStrings(object, "currentSelection", state.currentSelection) ||
        !decodeStrings(object, "isExpanded", state.isExpanded))
        return std::nullopt;
    state.isSidebarVisible = boolOrFalse(object, "isSidebarVisible");
    state.isTileGridViewFocused = boolOrFalse(object, "isTileGridViewFocused");
    state.sidebarThickness = doubleOr0(object, "sidebarThickness", 0, Limits::sidebarThickness);

    const json* scroll = objectAt(object, "scrollState");
    if (!scroll) return std::nullopt;
    if (const json* s = objectAt(*scroll, "sidebar"))
        state.scrollState.sidebar =
            AppWindowState::SidebarScroll{symmetricOr0(*s, "relativeScrollOffset", Limits::scrollOffset)};
    if (const json* m = objectAt(*scroll, "map"))
        state.scrollState.map = AppWindowState::MapScroll{
            symmetricOr0(*m, "x", Limits::mapExtent), symmetricOr0(*m, "y", Limits::mapExtent),
            doubleOr0(*m, "w", 0, Limits::mapExtent), doubleOr0(*m, "h", 0, Limits::mapExtent)};
    if (const json* t = objectAt(*scroll, "tileGrid")) {
        // Without its path the grid's state counts as absent; the rest of the window still restores.
        const auto path = t->find("firstVisiblePath");
        std::string bytes;
        if (path != t->end() && path->is_string() && decodeByteSafeText(path->get_ref<const std::string&>(), bytes))
            state.scrollState.tileGrid = AppWindowState::TileGridScroll{
                std::move(bytes), symmetricOr0(*t, "scrollOffset", Limits::scrollOffset)};
    }
    if (const json* c = objectAt(object, "placedCircle"))
        state.placedCircle = AppWindowState::Circle{normalisedLongitude(symmetricOr0(*c, "x", Limits::longitude)),
                                                    symmetricOr0(*c, "y", Limits::latitude),
                                                    doubleOr0(*c, "r", 0, Limits::radius)};
    return state;
}

}  // namespace qm
