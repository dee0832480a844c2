#include "commands/AppWindowState.h"

#include <nlohmann/json.hpp>

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

double doubleOr0(const json& object, const char* key) {
    const auto it = object.find(key);
    return it != object.end() && it->is_number() ? it->get<double>() : 0.0;
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
    out["sidebarThickness"] = state.sidebarThickness;
    json scroll = json::object();
    if (const auto& s = state.scrollState.sidebar) scroll["sidebar"] = {{"relativeScrollOffset", s->relativeScrollOffset}};
    if (const auto& m = state.scrollState.map) scroll["map"] = {{"x", m->x}, {"y", m->y}, {"w", m->w}, {"h", m->h}};
    if (const auto& t = state.scrollState.tileGrid)
        scroll["tileGrid"] = {{"firstVisiblePath", encodeByteSafeText(t->firstVisiblePath)},
                              {"scrollOffset", t->scrollOffset}};
    out["scrollState"] = std::move(scroll);
    if (const auto& c = state.placedCircle) out["placedCircle"] = {{"x", c->x}, {"y", c->y}, {"r", c->r}};
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
    state.sidebarThickness = doubleOr0(object, "sidebarThickness");

    const json* scroll = objectAt(object, "scrollState");
    if (!scroll) return std::nullopt;
    if (const json* s = objectAt(*scroll, "sidebar"))
        state.scrollState.sidebar = AppWindowState::SidebarScroll{doubleOr0(*s, "relativeScrollOffset")};
    if (const json* m = objectAt(*scroll, "map"))
        state.scrollState.map =
            AppWindowState::MapScroll{doubleOr0(*m, "x"), doubleOr0(*m, "y"), doubleOr0(*m, "w"), doubleOr0(*m, "h")};
    if (const json* t = objectAt(*scroll, "tileGrid")) {
        // Without its path the grid's state counts as absent; the rest of the window still restores.
        const auto path = t->find("firstVisiblePath");
        std::string bytes;
        if (path != t->end() && path->is_string() && decodeByteSafeText(path->get_ref<const std::string&>(), bytes))
            state.scrollState.tileGrid = AppWindowState::TileGridScroll{std::move(bytes), doubleOr0(*t, "scrollOffset")};
    }
    if (const json* c = objectAt(object, "placedCircle"))
        state.placedCircle = AppWindowState::Circle{doubleOr0(*c, "x"), doubleOr0(*c, "y"), doubleOr0(*c, "r")};
    return state;
}

}  // namespace qm
