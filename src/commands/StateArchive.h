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
    // What is restored at most, and so what is written at most: a damaged
    // or hostile file cannot make a start open thousands of windows.
    static constexpr size_t maximumFrames = 50;
    static constexpr size_t maximumTabsPerFrame = 100;
    // Selecting all of a huge library and quitting must still leave a file
    // that reads back: beyond this the selection is not kept.
    static constexpr size_t maximumSelectedPathsPerTab = 10000;
    // Frame geometry in pixels: a position or size beyond this is read as missing.
    static constexpr int maximumCoordinate = 1 << 16;

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

// At most the frames, tabs and selected paths above, with every number in
// the range its reader accepts; the text never exceeds maximumFileSize (the
// selections, then the expanded rows, give way first).
std::string encodeStateArchive(const StateArchive& archive);

struct StateArchiveReading {
    // Nothing when the file as a whole cannot be used.
    std::optional<StateArchive> archive;
    // One line per kind of problem: the whole file; the damaged windows; the
    // damaged tabs; what was left out beyond the limits.
    std::vector<std::string> problems;
};
StateArchiveReading decodeStateArchive(std::string_view bytes);

}  // namespace qm
