#include "commands/StateArchive.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <limits>
#include <optional>
#include <utility>

namespace qm {

namespace {

using nlohmann::json;

// An integer within ±limit; anything else counts as missing.
int intOr(const json& object, const char* key, int fallback, int limit) {
    const auto it = object.find(key);
    if (it == object.end() || !it->is_number_integer()) return fallback;
    // Read unsigned ones as such: a huge one must not wrap into range.
    if (it->is_number_unsigned()) {
        const auto value = it->get<uint64_t>();
        return value <= static_cast<uint64_t>(limit) ? static_cast<int>(value) : fallback;
    }
    const auto value = it->get<int64_t>();
    return value >= -limit && value <= limit ? static_cast<int>(value) : fallback;
}

int bounded(int value) {
    return std::clamp(value, -StateArchive::maximumCoordinate, StateArchive::maximumCoordinate);
}

// "tab 2 of window 1", or "5 tabs (tab 2 of window 1, ... and 2 more)".
std::string summary(const std::vector<std::string>& names, const char* plural) {
    if (names.size() == 1) return names.front();
    std::string out = std::to_string(names.size()) + " " + plural + " (";
    const size_t shown = std::min<size_t>(names.size(), 3);
    for (size_t i = 0; i < shown; ++i) out += (i ? ", " : "") + names[i];
    if (names.size() > shown) out += " and " + std::to_string(names.size() - shown) + " more";
    return out + ")";
}

// One window's state with its lists cut to at most these lengths.
const AppWindowState& trimmed(const AppWindowState& state, size_t selection, size_t expanded,
                              std::optional<AppWindowState>& copy) {
    if (state.currentSelection.size() <= selection && state.isExpanded.size() <= expanded) return state;
    copy = state;
    if (copy->currentSelection.size() > selection) copy->currentSelection.resize(selection);
    if (copy->isExpanded.size() > expanded) copy->isExpanded.resize(expanded);
    return *copy;
}

std::string encodeWithin(const StateArchive& archive, size_t selection, size_t expanded) {
    json frames = json::array();
    for (const auto& frame : archive.frames) {
        if (frames.size() == StateArchive::maximumFrames) break;
        if (frame.tabs.empty()) continue;  // the reader would refuse it
        json tabs = json::array();
        for (const auto& tab : frame.tabs) {
            if (tabs.size() == StateArchive::maximumTabsPerFrame) break;
            json& out = tabs.emplace_back();
            std::optional<AppWindowState> copy;
            // A tab that had nothing to restore still keeps its place in the group.
            if (tab.state) encodeAppWindowState(trimmed(*tab.state, selection, expanded, copy), out);
            else out = json::object();
        }
        const int currentTab = frame.currentTab >= 0 && static_cast<size_t>(frame.currentTab) < tabs.size()
                                   ? frame.currentTab
                                   : 0;
        frames.push_back({{"x", bounded(frame.x)},
                          {"y", bounded(frame.y)},
                          {"width", std::max(0, bounded(frame.width))},
                          {"height", std::max(0, bounded(frame.height))},
                          {"isMaximized", frame.isMaximized},
                          {"currentTab", currentTab},
                          {"tabs", std::move(tabs)}});
    }
    json root = {{"version", StateArchive::currentVersion}, {"frames", std::move(frames)}};
    // Strings were made UTF-8 by the byte-safe form; strict dumping would only throw on a fault of ours.
    return root.dump(-1, ' ', false, json::error_handler_t::replace);
}

}  // namespace

std::string encodeStateArchive(const StateArchive& archive) {
    constexpr size_t all = std::numeric_limits<size_t>::max();
    const size_t selected = StateArchive::maximumSelectedPathsPerTab;
    // Almost always the first fits; huge selections of long names give way
    // step by step, the sidebar's expanded rows only after them.
    const std::pair<size_t, size_t> steps[] = {{selected, all}, {selected / 10, all}, {selected / 100, all}, {0, 1000}, {0, 0}};
    for (const auto& [selection, expanded] : steps) {
        std::string text = encodeWithin(archive, selection, expanded);
        if (text.size() <= StateArchive::maximumFileSize) return text;
    }
    // Only names of impossible lengths get here: no windows rather than a file that cannot be read.
    return encodeWithin(StateArchive{}, 0, 0);
}

StateArchiveReading decodeStateArchive(std::string_view bytes) {
    StateArchiveReading reading;
    auto refuse = [&](std::string why) {
        reading.problems.push_back(std::move(why));
        return reading;
    };
    if (bytes.empty()) return refuse("it is empty");
    if (bytes.size() > StateArchive::maximumFileSize) return refuse("it is too large");
    json root = json::parse(bytes, nullptr, /*allow_exceptions=*/false);
    if (root.is_discarded()) return refuse("it is not complete JSON");
    if (!root.is_object()) return refuse("it is not a JSON object");
    const auto version = root.find("version");
    if (version == root.end() || !version->is_number_integer()) return refuse("it has no version");
    if (version->get<int64_t>() > StateArchive::currentVersion)
        return refuse("it was written by a newer version (" + version->dump() + ")");
    if (version->get<int64_t>() < 1) return refuse("its version is unknown (" + version->dump() + ")");
    const auto frames = root.find("frames");
    if (frames == root.end() || !frames->is_array()) return refuse("it has no window list");

    StateArchive archive;
    std::vector<std::string> damagedFrames;
    std::vector<std::string> damagedTabs;
    size_t framesLeftOut = 0;
    size_t tabsLeftOut = 0;
    const int limit = StateArchive::maximumCoordinate;
    for (size_t f = 0; f < frames->size(); ++f) {
        const json& in = (*frames)[f];
        const auto tabs = in.is_object() ? in.find("tabs") : in.end();
        if (!in.is_object() || tabs == in.end() || !tabs->is_array() || tabs->empty()) {
            damagedFrames.push_back("window " + std::to_string(f + 1));
            continue;
        }
        if (archive.frames.size() == StateArchive::maximumFrames) {
            ++framesLeftOut;
            continue;
        }
        StateArchive::Frame frame;
        frame.x = intOr(in, "x", 0, limit);
        frame.y = intOr(in, "y", 0, limit);
        frame.width = std::max(0, intOr(in, "width", 0, limit));
        frame.height = std::max(0, intOr(in, "height", 0, limit));
        const auto maximized = in.find("isMaximized");
        frame.isMaximized = maximized != in.end() && maximized->is_boolean() && maximized->get<bool>();
        const size_t kept = std::min(tabs->size(), StateArchive::maximumTabsPerFrame);
        tabsLeftOut += tabs->size() - kept;
        for (size_t t = 0; t < kept; ++t) {
            auto state = decodeAppWindowState((*tabs)[t]);
            if (!state) damagedTabs.push_back("tab " + std::to_string(t + 1) + " of window " + std::to_string(f + 1));
            frame.tabs.push_back({std::move(state)});
        }
        frame.currentTab = intOr(in, "currentTab", 0, limit);
        if (frame.currentTab < 0 || frame.currentTab >= static_cast<int>(frame.tabs.size())) frame.currentTab = 0;
        archive.frames.push_back(std::move(frame));
    }
    if (!damagedFrames.empty())
        reading.problems.push_back(summary(damagedFrames, "windows") +
                                   (damagedFrames.size() == 1 ? " is damaged; it is left out"
                                                              : " are damaged; they are left out"));
    if (!damagedTabs.empty())
        reading.problems.push_back(summary(damagedTabs, "tabs") +
                                   (damagedTabs.size() == 1 ? " is damaged; it opens at its defaults"
                                                            : " are damaged; they open at their defaults"));
    if (framesLeftOut + tabsLeftOut > 0)
        reading.problems.push_back("only the first " + std::to_string(StateArchive::maximumFrames) +
                                   " windows and the first " + std::to_string(StateArchive::maximumTabsPerFrame) +
                                   " tabs of each are restored; " + std::to_string(framesLeftOut) + " windows and " +
                                   std::to_string(tabsLeftOut) + " tabs are left out");
    reading.archive = std::move(archive);
    return reading;
}

}  // namespace qm
