#pragma once

// A loaded library with a window over it (see commands/CommandHarness.h) and
// helpers to drive the sidebar's widgets as a person would.

#include <QApplication>
#include <QTest>
#include <QWidget>

#include <string>
#include <vector>

#include "commands/CommandHarness.h"
#include "library/Tree.h"

namespace qm::test {

struct SidebarHarness : CommandHarness {
    // Files tagged with each tag list, made on disk with their attribute, then loaded.
    void loadTags(const std::vector<std::vector<std::string>>& tagLists) {
        std::vector<std::pair<fs::path, std::vector<std::string>>> tagged;
        int n = 0;
        for (const auto& tags : tagLists) {
            std::string joined;
            for (const auto& t : tags) joined += (joined.empty() ? "" : ",") + t;
            fs::path p = file("f" + std::to_string(n++) + ".txt", joined);
            tagged.push_back({p, tags});
        }
        load(tagged);
    }

    // The expansion set as sorted full names.
    std::vector<std::string> expanded() {
        std::vector<std::string> out;
        for (const QuickString& s : window->isExpanded()) out.emplace_back(s.utf8());
        std::sort(out.begin(), out.end());
        return out;
    }

    std::string current() { return std::string(fullNameForNodePath(window->currentNode()).utf8()); }
};

// Shows a widget in its own top-level window of a fixed size and makes it active.
inline void showActive(QWidget& w, int width = 260, int height = 600) {
    w.resize(width, height);
    w.show();
    w.activateWindow();
    QApplication::setActiveWindow(&w);
    (void)QTest::qWaitForWindowExposed(&w);
}

}  // namespace qm::test
