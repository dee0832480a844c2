// Tag search per keystroke over a library of 100,000 tag nodes (1,000 tags
// with 99 subtags each, every one listing files), typed one key at a time.
// Targets: BM_SearchKeystroke (query parsing, the walk, matching, scoring
// and sorting) and BM_ContainerKeystroke (the field's query update with the
// results handed to the list and one viewport of results painted) under
// 16 ms per key, goal 8 ms.
//
// The window keeps the tags to search in one flat table (TagSearchIndex),
// collected once per library state: BM_SearchIndexBuild is that collection,
// paid in 2 ms slices after a change while a search is shown, or while the
// field has the keyboard.
//
// Measured on the 2-core machine with another engineer's builds running
// (load average 1.2 to 1.4), medians of 5: 0.94 ms per typed key (walking
// the tree instead: 6.3 to 8.5 ms), 5.3 ms for the key matching 99,002
// tags (8.4 to 11.5 ms walking), 16 ms to collect the table, 1.8 ms per key
// in the container with one painted viewport (8.6 to 8.9 ms walking), 5.6 ms
// for the key matching everything there, and a library change during a
// search holds the main thread 3.1 ms in its longest turn (median; worst
// 5.3 ms). Most of a walk's time was spent waiting for scattered names;
// most of the table's key matching every tag is making the 99,002 results.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QCoreApplication>
#include <QImage>
#include <QPainter>

#include <chrono>
#include <cstdlib>
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
#include "sidebar/SidebarContainer.h"
#include "sidebar/SidebarResultsView.h"
#include "sidebar/SidebarSearchField.h"
#include "sidebar/TagSearch.h"
#include "sidebar/TagSearchIndex.h"
#include "sidebar/TagSearchQuery.h"
#include "support/LoadedLibrary.h"
#include "support/QtBenchmarkMain.h"

namespace {

using namespace qm;

struct Library {
    MemoryMetadataIndex index;
    std::shared_ptr<DB> db;
    std::shared_ptr<BrowserState> window;
    size_t tagNodes = 0;

    Library() {
        db = test::loadLibrary(index);
        // Straight into the live tree: the ingest is measured elsewhere.
        const QuickString tags = QuickString::literal("Tags");
        for (int p = 0; p < 1000; ++p) {
            QuickString parent = QuickString::literal("Project " + std::to_string(p));
            db->tree().rootNode()->addPath({tags, parent},
                                           QuickString::literal("/home/u/p" + std::to_string(p)), {});
            ++tagNodes;
            for (int s = 0; s < 99; ++s) {
                QuickString child = QuickString::literal("Part " + std::to_string(s) + (s % 3 ? " draft" : " final"));
                db->tree().rootNode()->addPath(
                    {tags, parent, child}, QuickString::literal("/home/u/f" + std::to_string(p * 100 + s)),
                    {});
                ++tagNodes;
            }
        }
        db->apply(WhatChanged::children | WhatChanged::paths);
        window = BrowserState::create(
            CommandContext{db, std::make_shared<XattrTagStore>(), std::make_shared<LinuxFileOperations>()});
    }
    ~Library() {
        window.reset();
        db.reset();
        mainQueue().runPending();
    }
};

Library& library() {
    static Library* lib = new Library;  // shared by the benchmarks, never freed (exit cleans up)
    return *lib;
}

// Keystrokes of someone typing a query, each a whole query text.
const std::vector<std::string>& keystrokes() {
    static const std::vector<std::string> keys = [] {
        std::vector<std::string> out;
        const std::string typed = "project 12/part 3 fin";
        for (size_t i = 1; i <= typed.size(); ++i) out.push_back(typed.substr(0, i));
        return out;
    }();
    return keys;
}

// The tags to search, collected once per library state as a window keeps them.
const TagSearchIndex& searchIndex() {
    static const std::unique_ptr<TagSearchIndex> index = TagSearchIndex::build(*library().db->tree().rootNode());
    return *index;
}

void BM_SearchKeystroke(benchmark::State& state) {
    Library& lib = library();
    const TagSearchIndex& index = searchIndex();
    size_t key = 0, results = 0;
    for (auto _ : state) {
        const std::string& text = keystrokes()[key++ % keystrokes().size()];
        auto found = index.search(TagSearchQuery::tokens(text));
        results += found.size();
        benchmark::DoNotOptimize(found.data());
    }
    state.counters["tag_nodes"] = double(lib.tagNodes);
    state.counters["results_per_key"] = double(results) / double(state.iterations());
    state.SetLabel("target < 16 ms per key, goal 8 ms");
}
BENCHMARK(BM_SearchKeystroke)->Unit(benchmark::kMillisecond);

// The worst single key: "a" matches no parent tag but every subtag (99,000 results).
void BM_SearchEverything(benchmark::State& state) {
    const TagSearchIndex& index = searchIndex();
    for (auto _ : state) {
        auto found = index.search(TagSearchQuery::tokens("a"));
        benchmark::DoNotOptimize(found.data());
        state.counters["results"] = double(found.size());
    }
    state.SetLabel("target < 16 ms per key, goal 8 ms");
}
BENCHMARK(BM_SearchEverything)->Unit(benchmark::kMillisecond);

// Collecting the tags to search, as after a library change (in slices while
// a search is shown, or at the first key).
void BM_SearchIndexBuild(benchmark::State& state) {
    Library& lib = library();
    size_t tags = 0;
    for (auto _ : state) {
        auto index = TagSearchIndex::build(*lib.db->tree().rootNode());
        tags = index->size();
        benchmark::DoNotOptimize(index.get());
    }
    state.counters["tags"] = double(tags);
    state.SetLabel("once per library state");
}
BENCHMARK(BM_SearchIndexBuild)->Unit(benchmark::kMillisecond);

void BM_ContainerKeystroke(benchmark::State& state) {
    Library& lib = library();
    SidebarContainer sidebar(lib.window);
    sidebar.resize(260, 900);
    QImage frame(260, 900, QImage::Format_ARGB32_Premultiplied);
    size_t key = 0;
    for (auto _ : state) {
        const std::string& text = keystrokes()[key++ % keystrokes().size()];
        sidebar.searchField()->setText(QString::fromStdString(text));  // runs the query update
        QPainter painter(&frame);
        sidebar.resultsView()->viewport()->render(&painter);
    }
    state.SetLabel("query update + one painted viewport; target < 16 ms per key, goal 8 ms");
}
BENCHMARK(BM_ContainerKeystroke)->Unit(benchmark::kMillisecond);

// The key that matches every subtag, typed into the field: the query update
// with one painted viewport.
void BM_ContainerEverything(benchmark::State& state) {
    Library& lib = library();
    SidebarContainer sidebar(lib.window);
    sidebar.resize(260, 900);
    QImage frame(260, 900, QImage::Format_ARGB32_Premultiplied);
    bool odd = false;
    for (auto _ : state) {
        // Alternating with a key that matches nothing, so every step is a fresh search.
        state.PauseTiming();
        sidebar.searchField()->setText(QStringLiteral("zzz"));
        state.ResumeTiming();
        sidebar.searchField()->setText(odd ? QStringLiteral("a") : QStringLiteral("A"));
        odd = !odd;
        QPainter painter(&frame);
        sidebar.resultsView()->viewport()->render(&painter);
    }
    state.SetLabel("query update + one painted viewport; target < 16 ms");
}
BENCHMARK(BM_ContainerEverything)->Unit(benchmark::kMillisecond);

// A library change (a tag made or removed, as a live index update does)
// while a search is shown: the longest the main thread is held at a time,
// from the change's events through the search again to the painted list.
void BM_LibraryChangeDuringSearch(benchmark::State& state) {
    Library& lib = library();
    SidebarContainer sidebar(lib.window);
    sidebar.resize(260, 900);
    sidebar.searchField()->setText(QStringLiteral("part 3"));
    QImage frame(260, 900, QImage::Format_ARGB32_Premultiplied);
    const QuickString tags = QuickString::literal("Tags");
    const QuickString extra = QuickString::literal("Part 3 extra");
    const QuickString file = QuickString::literal("/home/u/extra");
    bool add = true;
    double worst = 0, total = 0;
    size_t turns = 0;
    using Clock = std::chrono::steady_clock;
    auto ms = [](Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); };
    for (auto _ : state) {
        Clock::time_point start = Clock::now();
        if (add)
            lib.db->apply(lib.db->tree().rootNode()->addPath({tags, extra}, file, {}));
        else
            lib.db->apply(lib.db->tree().rootNode()->removePath({tags, extra}, file, {}));
        add = !add;
        double longest = ms(Clock::now() - start), sum = longest;
        size_t n = 1;
        while (sidebar.isRefreshing()) {
            Clock::time_point turn = Clock::now();
            QCoreApplication::processEvents();
            QPainter painter(&frame);
            sidebar.resultsView()->viewport()->render(&painter);
            double t = ms(Clock::now() - turn);
            longest = std::max(longest, t);
            sum += t;
            ++n;
        }
        state.SetIterationTime(longest / 1000);
        worst = std::max(worst, longest);
        total += sum;
        turns += n;
    }
    state.counters["worst_turn_ms"] = worst;
    state.counters["main_thread_ms_per_change"] = total / double(state.iterations());
    state.counters["turns_per_change"] = double(turns) / double(state.iterations());
    state.SetLabel("longest main-thread turn per change; target < 5 ms");
}
BENCHMARK(BM_LibraryChangeDuringSearch)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    return qm::test::runQtBenchmarks(argc, argv);
}
