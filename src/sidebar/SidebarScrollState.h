#pragma once

namespace qm {

// Where the sidebar was scrolled, kept in history entries and the window's
// archive: the current row's distance from the top of the visible area.
struct SidebarScrollState {
    double relativeScrollOffset = 0;
};

}  // namespace qm
