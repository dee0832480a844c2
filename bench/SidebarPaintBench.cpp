// Painting the sidebar tree with 100,000 expanded rows (1,000 tags with 99
// expanded-into subtags each). Targets: BM_PaintViewport (one full viewport
// frame) under 4 ms; BM_ScrollPage (scroll one page and paint) the same, and
// flat in the number of rows (arg: parent tags, 100 rows each), since painting visits
// only the rows it shows; BM_RebuildRows reports the cost of laying out all
// rows again after an expansion change.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QImage>
#include <QPainter>

#include <cstdlib>
#include <map>
#include <memory>
#include <string>

#include "commands/BrowserState.h"
#include "core/MainQueue.h"
#include "library/DB.h"
#include "support/MemoryMetadataIndex.h"
#include "library/MemoryUserDefaults.h"
#include "library/Tree.h"
#include "platform/LinuxFileOperations.h"
#include "platform/XattrTagStore.h"
#include "sidebar/SidebarRows.h"
#include "sidebar/SidebarView.h"
#include "support/LoadedLibrary.h"
#include "support/QtBenchmarkMain.h"

namespace {

using namespace qm;

struct Library {
    MemoryMetadataIndex index;
    std::shared_ptr<DB> db;
    std::shared_ptr<BrowserState> window;

    explicit Library(int parents) {
        db = test::loadLibrary(index);
        const QuickString tags = QuickString::literal("Tags");
        QuickStringSet expanded{QuickString(), tags};
        for (int p = 0; p < parents; ++p) {
            QuickString parent = QuickString::literal("Project " + std::to_string(p));
            expanded.insert(QuickString::literal("Tags/Project " + std::to_string(p)));
            for (int s = 0; s < 99; ++s)
                db->tree().rootNode()->addPath(
                    {tags, parent, QuickString::literal("Part " + std::to_string(s))},
                    QuickString::literal("/home/u/f" + std::to_string(p * 100 + s)), {});
        }
        db->apply(WhatChanged::children | WhatChanged::paths);
        window = BrowserState::create(
            CommandContext{db, std::make_shared<XattrTagStore>(), std::make_shared<LinuxFileOperations>()});
        window->setIsExpanded(std::move(expanded));
    }
    ~Library() {
        window.reset();
        db.reset();
        mainQueue().runPending();
    }
};

Library& library(int parents) {
    static std::map<int, Library*> libs;  // never freed (exit cleans up)
    auto& lib = libs[parents];
    if (!lib) lib = new Library(parents);
    return *lib;
}

void BM_PaintViewport(benchmark::State& state) {
    Library& lib = library(1000);
    SidebarView view(lib.window);
    view.resize(260, 1000);
    view.setAttribute(Qt::WA_DontShowOnScreen);
    view.show();
    lib.window->setCurrentNode({QuickString::literal("Tags"), QuickString::literal("Project 500")});
    view.scrollCurrentRowToVisible();
    QImage frame(view.viewport()->size(), QImage::Format_ARGB32_Premultiplied);
    for (auto _ : state) {
        QPainter painter(&frame);
        view.viewport()->render(&painter);
    }
    state.counters["rows"] = double(view.rows().size());
    state.SetLabel("target < 4 ms per frame");
}
BENCHMARK(BM_PaintViewport)->Unit(benchmark::kMillisecond);

void BM_ScrollPage(benchmark::State& state) {
    Library& lib = library(int(state.range(0)));
    SidebarView view(lib.window);
    view.resize(260, 1000);
    view.setAttribute(Qt::WA_DontShowOnScreen);
    view.show();
    QImage frame(view.viewport()->size(), QImage::Format_ARGB32_Premultiplied);
    int page = view.viewport()->height();
    int y = 0;
    for (auto _ : state) {
        y += page;
        if (y > int(view.contentHeight()) - page) y = 0;
        view.setScrollOffset(y);
        QPainter painter(&frame);
        view.viewport()->render(&painter);
    }
    state.counters["rows"] = double(view.rows().size());
    state.SetLabel("target < 4 ms, flat in the row count");
}
BENCHMARK(BM_ScrollPage)->Arg(10)->Arg(100)->Arg(1000)->Unit(benchmark::kMillisecond);

void BM_RebuildRows(benchmark::State& state) {
    Library& lib = library(1000);
    SidebarRows rows;
    for (auto _ : state) {
        rows.rebuild(*lib.db->tree().rootNode(), lib.window->isExpanded());
        benchmark::DoNotOptimize(rows.size());
    }
    state.counters["rows"] = double(rows.size());
}
BENCHMARK(BM_RebuildRows)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    return qm::test::runQtBenchmarks(argc, argv);
}
