#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "commands/AppWindowState.h"

namespace qm {

// The whole state file: every top-level window (a frame with its tab group
// and geometry) and the state of each of its tabs, in tab order.
struct StateArchive {
    static constexpr int currentVersion = 1;
    // Larger files are refused unread rather than parsed into memory.
    static constexpr size_t maximumFileSize = size_t{64} << 20;

    struct Tab {
        // Nothing when the tab's state could not be decoded: it opens at its defaults.
        std::optional<AppWindowState> state;
        friend bool operator==(const Tab&, const Tab&) = default;
    };
    struct Frame {
        int x = 0;
        int y = 0;
        int width = 0;
        int height = 0;
        bool isMaximized = false;
        int currentTab = 0;
        std::vector<Tab> tabs;
        friend bool operator==(const Frame&, const Frame&) = default;
    };

    std::vector<Frame> frames;

    friend bool operator==(const StateArchive&, const StateArchive&) = default;
};

std::string encodeStateArchive(const StateArchive& archive);

struct StateArchiveReading {
    // Nothing when the file as a whole cannot be used.
    std::optional<StateArchive> archive;
    // One line per problem: the whole file, or each tab that restores nothing.
    std::vector<std::string> problems;
};
StateArchiveReading decodeStateArchive(std::string_view bytes);

}  // namespace qm
