// What assistive technology costs the tile grid over 100,000 files.
// Must reach:
// - one screen's worth of accessible tiles at 1920 x 1080 (about 110 tiles:
//   each made on demand and asked for its name, description, state and
//   place, as a screen reader walking the screen does), the screen scrolled
//   elsewhere each time: < 4 ms, goal 1 ms (BM_ScreenOfAccessibleTiles;
//   measured 0.28 ms wall, 0.11 ms CPU at load 10 on the shared machine);
// - the grid's selection and focus announcements with no assistive
//   technology listening: no interface made, no event built, < 50 ns
//   (BM_AnnounceWithoutAT).
// Runs with its own temporary HOME; never touches the user's.
#include <benchmark/benchmark.h>

// The model's headers before Qt's: their emitters' member "emit" would
// otherwise meet Qt's keyword macro.
#include "commands/BrowserState.h"
#include "core/MainQueue.h"
#include "library/DB.h"
#include "support/MemoryMetadataIndex.h"
#include "library/MemoryUserDefaults.h"

#include <QAccessible>
#include <QApplication>
#include <QScrollBar>
#include <QTemporaryDir>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "tilegrid/TileGridAccessible.h"
#include "tilegrid/TileGridView.h"
#include "support/LoadedLibrary.h"
#include "support/QtBenchmarkMain.h"

namespace {

namespace fs = std::filesystem;
using namespace qm;

struct Library {
    MemoryMetadataIndex index;
    std::shared_ptr<DB> db;
    std::shared_ptr<BrowserState> window;
    NodePath node{QuickString::literal("Tags"), QuickString::literal("Big")};
    std::vector<QuickString> sorted;

    Library() {
        db = test::loadLibrary(index, nullptr, nullptr);
        window = BrowserState::create(CommandContext{db, nullptr, nullptr});
        Node::Paths paths;
        paths.reserve(100000);
        char buf[48];
        for (size_t i = 0; i < 100000; ++i) {
            std::snprintf(buf, sizeof buf, "/photos/Big/IMG_%06zu.JPG", i);
            paths.emplace(QuickString::path(buf), PathMetadata{});
        }
        db->tree().rootNode()->addPaths(node, paths);
        window->setCurrentNode(node);
        auto n = db->tree().lookup(node);
        sorted.assign(n->sortedPaths().begin(), n->sortedPaths().end());
    }
};

Library& library() {
    static Library* lib = new Library;
    return *lib;
}

std::unique_ptr<TileGridView> makeView() {
    auto view = std::make_unique<TileGridView>(library().window, nullptr);
    view->setThumbnailRequester([](const std::string&, ThumbnailCallback) { return ThumbnailRequest(); });
    view->show();
    QSize frame = view->size() - view->viewport()->size();
    view->resize(1920 + frame.width(), 1080 + frame.height());
    view->updateTiles();
    return view;
}

void BM_ScreenOfAccessibleTiles(benchmark::State& state) {
    auto view = makeView();
    QAccessibleInterface* grid = QAccessible::queryAccessibleInterface(view.get());
    const int max = view->verticalScrollBar()->maximum();
    int y = 0;
    size_t items = 0;
    for (auto _ : state) {
        y = (y + 104729) % (max + 1);
        view->verticalScrollBar()->setValue(y);
        TileGridLayout layout = view->computeLayout();
        auto first = layout.indexAt(1, y + 1);
        auto last = layout.indexAt(1, y + view->viewport()->height() - 1);
        size_t end = std::min(layout.count(), (last ? *last : *first) + size_t(layout.columns));
        for (size_t i = *first; i < end; ++i) {
            QAccessibleInterface* tile = grid->child(int(i));
            benchmark::DoNotOptimize(tile->text(QAccessible::Name));
            benchmark::DoNotOptimize(tile->text(QAccessible::Description));
            benchmark::DoNotOptimize(tile->state());
            benchmark::DoNotOptimize(tile->rect());
            ++items;
        }
    }
    state.counters["tiles/screen"] = double(items) / double(state.iterations());
    state.counters["kept"] = double(static_cast<TileGridAccessible*>(grid)->keptTiles());
}
BENCHMARK(BM_ScreenOfAccessibleTiles)->Unit(benchmark::kMicrosecond);

void BM_AnnounceWithoutAT(benchmark::State& state) {
    auto view = makeView();
    Library& lib = library();
    lib.window->setCurrentSelection({lib.sorted[3]});
    view->setFocus();
    for (auto _ : state) {
        TileGridAccessible::notifySelection(view.get());
        TileGridAccessible::notifyFocus(view.get());
    }
    state.counters["AT active"] = QAccessible::isActive() ? 1 : 0;
}
BENCHMARK(BM_AnnounceWithoutAT)->Unit(benchmark::kNanosecond);

}  // namespace

int main(int argc, char** argv) {
    return qm::test::runQtBenchmarks(argc, argv, true);
}
