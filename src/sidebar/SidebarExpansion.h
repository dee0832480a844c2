#pragma once

#include "library/Node.h"

namespace qm {

class BrowserState;
class DB;

// Expanding and collapsing sidebar rows on a window's expansion set. Opening
// a folder row marks its found-but-unread sub-folders stale and schedules the
// folder pass, which reads them a directory per main-queue turn.
class SidebarExpansion {
public:
    // Applies the change to `node` (and every descendant when recursive) on a
    // copy of the window's set; the window's set is replaced, and
    // isExpandedChanged emitted, only when the result differs.
    static void change(BrowserState& window, DB& db, const Node& node, bool expand, bool recursive);

    // The working-copy step alone; true when a folder must be read.
    static bool apply(QuickStringSet& expanded, const Node& node, bool expand, bool recursive);
};

}  // namespace qm
