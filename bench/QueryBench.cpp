// Tag-expression queries over a library of 1,000,000 files of which 100,000
// are tagged (the others carry no tag, so no query can list them and the tag
// query never reports them), with 100,000 distinct tags: 1,000 areas of 99
// topics each ("Area 7/Topic 123"), plus done, Taxes/2025 and the colour
// labels Red and Blue on some files.
// Targets:
// - BM_QueryOpen: a three-term query evaluated into its node, < 30 ms on
//   the main thread (a big one is judged off it and handed back: the time
//   is the main thread's share, handed_back_ms the wait for the files);
//   BM_QueryOpenNot the same for a query that any file without its names
//   satisfies, which reads every tagged file.
// - BM_LiveBatch: a batch of 1,000 tag changes, as the ingest applies them,
//   with a query node open: the whole batch < 10 ms of query upkeep
//   (counter query_ms: the batch's time minus the same batch without the
//   query; the tree's own bookkeeping and log lines are the rest).
// - BM_ContainerQueryKeystroke: typing a query into the sidebar's field,
//   each key's query update (query row and tag search over 100,000 tags)
//   with one painted viewport, < 8 ms per key. Measured at load 1.25:
//   0.96 ms per key (33.5 ms while each key walked the tree's 100,000 tags).
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <unistd.h>

#include <QApplication>
#include <QImage>
#include <QPainter>

#include <chrono>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "commands/BrowserState.h"
#include "core/MainQueue.h"
#include "library/DB.h"
#include "library/Tree.h"
#include "platform/LinuxFileOperations.h"
#include "platform/XattrTagStore.h"
#include "sidebar/SidebarContainer.h"
#include "sidebar/SidebarResultsView.h"
#include "sidebar/SidebarSearchField.h"
#include "support/LoadedLibrary.h"
#include "support/MemoryMetadataIndex.h"
#include "support/QtBenchmarkMain.h"

namespace {

using namespace qm;

constexpr size_t files = 1'000'000;
constexpr size_t tagged = 100'000;

struct Library {
    MemoryMetadataIndex index;
    std::shared_ptr<DB> db;
    std::shared_ptr<BrowserState> window;
    std::vector<QuickString> paths;
    std::vector<QuickStringSet> sets;  // each tagged file's tag node names

    Library() {
        std::mt19937_64 rng(33);
        index.reserve(files);
        for (size_t i = 0; i < files; ++i) {
            const std::string path = "/home/user/Pictures/" + std::to_string(2000 + i % 25) + "/Album " +
                                     std::to_string(i / 400) + "/IMG_" + std::to_string(i) + ".jpg";
            std::optional<std::vector<std::string>> tags;
            if (i % 10 == 0) {
                const size_t t = i / 10;  // every one of the 100,000 tags
                std::vector<std::string> list{"Area " + std::to_string(t % 1000) + "/Topic " + std::to_string(t)};
                if (rng() % 3 == 0) list.push_back("done");
                if (rng() % 5 == 0) list.push_back("Taxes/2025");
                if (rng() % 7 == 0) list.push_back("Red");
                if (rng() % 11 == 0) list.push_back("Blue");
                tags = std::move(list);
            }
            index.add({path, tags, std::nullopt, std::nullopt});
            if (tags) paths.push_back(QuickString::bytes(path));
        }
        db = test::loadLibrary(index);
        for (const QuickString& p : paths) sets.push_back(db->tree().tagsFor(p));
        window = BrowserState::create(
            CommandContext{db, std::make_shared<XattrTagStore>(), std::make_shared<LinuxFileOperations>()});
    }
};

Library& library() {
    static Library* lib = new Library;  // shared by the benchmarks, never freed (exit cleans up)
    return *lib;
}

// The tree's log lines go nowhere while a loop runs, so they do not flood
// the report (their cost stays in the figure).
struct QuietStdout {
    int saved;
    QuietStdout() {
        std::fflush(stdout);
        saved = dup(1);
        int null = open("/dev/null", O_WRONLY);
        dup2(null, 1);
        close(null);
    }
    ~QuietStdout() {
        std::fflush(stdout);
        dup2(saved, 1);
        close(saved);
    }
};

// First: the baseline without any query needs a tree that has none yet.
// 1,000 files change tags in one batch: each gains or loses "done".
double runBatch(Library& lib, bool add, size_t first) {
    const QuickString done = lib.db->format->nodeNameForTag("done");
    auto start = std::chrono::steady_clock::now();
    lib.db->performBatch([&] {
        for (size_t k = 0; k < 1000; ++k) {
            const size_t i = (first + k * 97) % lib.paths.size();
            QuickStringSet set = lib.sets[i];
            if (add)
                set.insert(done);
            else
                set.erase(done);
            lib.db->noteChange(lib.db->mutableTree().setTags(set, lib.paths[i]));
        }
    });
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

void BM_LiveBatch(benchmark::State& state) {
    Library& lib = library();
    QuietStdout quiet;
    // Without a query first, for the difference.
    double without = 0;
    for (int r = 0; r < 10; ++r) without += runBatch(lib, r % 2 == 0, 0) + runBatch(lib, r % 2 != 0, 0);
    without /= 20;
    NodePtr node = lib.db->openQuery("(\"Area 7/\" or Red) and not done");
    mainQueue().runUntil([&] { return !lib.db->tree().queries().isPending(*node); }, std::chrono::seconds(60));
    lib.window->setCurrentNode(node->nodePath());
    bool add = true;
    double total = 0;
    for (auto _ : state) {
        const double ms = runBatch(lib, add, 0);
        add = !add;
        total += ms;
        state.SetIterationTime(ms / 1000);
    }
    state.counters["without_query_ms"] = without;
    state.counters["query_ms"] = total / double(state.iterations()) - without;
    state.SetLabel("1,000 tag changes with a query open; target < 10 ms of query upkeep");
}
BENCHMARK(BM_LiveBatch)->UseManualTime()->Unit(benchmark::kMillisecond);

// Each text is opened through the database as the sidebar does: a query that
// reads many files is judged on "QueryQueue", so the main thread pays for
// the open and for the turn that takes the files in. The iteration time is
// that main-thread time; handed_back_ms is the wait until the files are in.
void openEach(benchmark::State& state, const std::vector<std::string>& texts) {
    Library& lib = library();
    QuietStdout quiet;
    size_t i = 0, listed = 0;
    double handedBack = 0;
    using Clock = std::chrono::steady_clock;
    auto ms = [](Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); };
    for (auto _ : state) {
        // A fresh text each time (a trailing blank is trimmed, so vary the names).
        const std::string text = texts[i % texts.size()] + " or \"x" + std::to_string(i) + "\"";
        ++i;
        const auto start = Clock::now();
        NodePtr node = lib.db->openQuery(text);
        double mainThread = ms(Clock::now() - start);
        while (lib.db->tree().queries().isPending(*node)) {
            while (mainQueue().pendingCount() == 0) std::this_thread::sleep_for(std::chrono::microseconds(50));
            const auto turn = Clock::now();
            mainQueue().runPending();
            mainThread += ms(Clock::now() - turn);
        }
        handedBack += ms(Clock::now() - start);
        listed = node->pathCount();
        state.SetIterationTime(mainThread / 1000);
        benchmark::DoNotOptimize(node.get());
    }
    state.counters["listed"] = double(listed);
    state.counters["tagged_files"] = double(lib.paths.size());
    state.counters["handed_back_ms"] = handedBack / double(state.iterations());
}

void BM_QueryOpen(benchmark::State& state) {
    // Three terms, plus the name that makes each text new.
    openEach(state, {"(\"Area 7/\" or Red) and not done", "Taxes/2025 and Blue and not done",
                     "\"Area 12/\" and (Red or Blue)"});
    state.SetLabel("target < 30 ms");
}
BENCHMARK(BM_QueryOpen)->UseManualTime()->Unit(benchmark::kMillisecond);

void BM_QueryOpenNot(benchmark::State& state) {
    openEach(state, {"not done and not Red or Blue"});
    state.SetLabel("every tagged file read; target < 30 ms");
}
BENCHMARK(BM_QueryOpenNot)->UseManualTime()->Unit(benchmark::kMillisecond);

void BM_ContainerQueryKeystroke(benchmark::State& state) {
    Library& lib = library();
    SidebarContainer sidebar(lib.window);
    sidebar.resize(260, 900);
    QImage frame(260, 900, QImage::Format_ARGB32_Premultiplied);
    const std::string typed = "\"Area 7/\" and not done or Taxes/2025";
    size_t key = 0;
    size_t queryRows = 0;
    for (auto _ : state) {
        const size_t n = 1 + key++ % typed.size();
        sidebar.searchField()->setText(QString::fromStdString(typed.substr(0, n)));  // runs the query update
        // Files judged away since the last key come in on this turn.
        mainQueue().runPending();
        QPainter painter(&frame);
        sidebar.resultsView()->viewport()->render(&painter);
        if (sidebar.resultsView()->queryRow().node) ++queryRows;
    }
    state.counters["keys_with_query_row"] = double(queryRows) / double(state.iterations());
    state.SetLabel("query update + one painted viewport at 100,000 tags; target < 8 ms per key");
}
BENCHMARK(BM_ContainerQueryKeystroke)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    return qm::test::runQtBenchmarks(argc, argv);
}
