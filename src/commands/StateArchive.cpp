#include "commands/StateArchive.h"

#include <nlohmann/json.hpp>

namespace qm {

namespace {

using nlohmann::json;

int intOr(const json& object, const char* key, int fallback) {
    const auto it = object.find(key);
    if (it == object.end() || !it->is_number_integer()) return fallback;
    const auto value = it->get<int64_t>();
    return value >= -(1 << 24) && value <= (1 << 24) ? static_cast<int>(value) : fallback;
}

}  // namespace

std::string encodeStateArchive(const StateArchive& archive) {
    json frames = json::array();
    for (const auto& frame : archive.frames) {
        json tabs = json::array();
        for (const auto& tab : frame.tabs) {
            json& out = tabs.emplace_back();
            // A tab that had nothing to restore still keeps its place in the group.
            if (tab.state) encodeAppWindowState(*tab.state, out);
            else out = json::object();
        }
        frames.push_back({{"x", frame.x},
                          {"y", frame.y},
                          {"width", frame.width},
                          {"height", frame.height},
                          {"isMaximized", frame.isMaximized},
                          {"currentTab", frame.currentTab},
                          {"tabs", std::move(tabs)}});
    }
    json root = {{"version", StateArchive::currentVersion}, {"frames", std::move(frames)}};
    // Strings were made UTF-8 by the byte-safe form; strict dumping would only throw on a fault of ours.
    return root.dump(-1, ' ', false, json::error_handler_t::replace);
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
    for (size_t f = 0; f < frames->size(); ++f) {
        const json& in = (*frames)[f];
        const auto tabs = in.is_object() ? in.find("tabs") : in.end();
        if (!in.is_object() || tabs == in.end() || !tabs->is_array() || tabs->empty()) {
            reading.problems.push_back("window " + std::to_string(f + 1) + " is damaged");
            continue;
        }
        StateArchive::Frame frame;
        frame.x = intOr(in, "x", 0);
        frame.y = intOr(in, "y", 0);
        frame.width = intOr(in, "width", 0);
        frame.height = intOr(in, "height", 0);
        const auto maximized = in.find("isMaximized");
        frame.isMaximized = maximized != in.end() && maximized->is_boolean() && maximized->get<bool>();
        for (size_t t = 0; t < tabs->size(); ++t) {
            auto state = decodeAppWindowState((*tabs)[t]);
            if (!state)
                reading.problems.push_back("tab " + std::to_string(t + 1) + " of window " + std::to_string(f + 1) +
                                           " is damaged");
            frame.tabs.push_back({std::move(state)});
        }
        frame.currentTab = intOr(in, "currentTab", 0);
        if (frame.currentTab < 0 || frame.currentTab >= static_cast<int>(frame.tabs.size())) frame.currentTab = 0;
        archive.frames.push_back(std::move(frame));
    }
    reading.archive = std::move(archive);
    return reading;
}

}  // namespace qm
