// Tagging 10,000 files in one command, as a drop of 10,000 files onto a tag
// does. Targets: BM_TagTreePhase10k (the tree phase alone: one batch over
// 10,000 files) under 100 ms; BM_TagCommand10k (tree phase plus file phase
// with real extended-attribute writes on a temporary directory) is reported.
// Both check that the command emits childrenChanged and pathsChanged once
// each (counters "children" and "paths" must read 1).
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "commands/BrowserState.h"
#include "commands/CommandStack.h"
#include "commands/TagChangeCommand.h"
#include "core/MainQueue.h"
#include "library/DB.h"
#include "support/MemoryMetadataIndex.h"
#include "library/MemoryUserDefaults.h"
#include "platform/LinuxFileOperations.h"
#include "platform/XattrTagStore.h"
#include "support/LoadedLibrary.h"

namespace {

using namespace qm;
namespace fs = std::filesystem;

constexpr int kFiles = 10000;

// A temporary HOME and XDG tree, made before anything reads the environment,
// so the database never scans the real home.
struct TempHome {
    fs::path root;
    TempHome() {
        char tmpl[] = "/tmp/qm-tagbench-XXXXXX";
        root = ::mkdtemp(tmpl);
        for (const char* sub : {".config", ".cache", ".local/share", ".local/state"})
            fs::create_directories(root / sub);
        setenv("HOME", root.c_str(), 1);
        setenv("XDG_CONFIG_HOME", (root / ".config").c_str(), 1);
        setenv("XDG_CACHE_HOME", (root / ".cache").c_str(), 1);
        setenv("XDG_DATA_HOME", (root / ".local/share").c_str(), 1);
        setenv("XDG_STATE_HOME", (root / ".local/state").c_str(), 1);
    }
    ~TempHome() {
        std::error_code ec;
        fs::remove_all(root, ec);
    }
};
TempHome tempHome;

// Log lines go to /dev/null while measuring.
struct QuietStdout {
    int saved;
    QuietStdout() {
        std::fflush(stdout);
        saved = ::dup(1);
        int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, 1);
        ::close(null);
    }
    ~QuietStdout() {
        std::fflush(stdout);
        ::dup2(saved, 1);
        ::close(saved);
    }
};

struct Setup {
    MemoryMetadataIndex index;
    std::shared_ptr<DB> db;
    std::shared_ptr<BrowserState> window;
    std::vector<Subscription> subscriptions;
    int children = 0, paths = 0;
    std::shared_ptr<TagChangeCommand> command;

    Setup() {
        fs::path dir = tempHome.root / "Pictures" / "Trip";
        fs::create_directories(dir);
        std::vector<TagChange> changes;
        for (int i = 0; i < kFiles; ++i) {
            fs::path p = dir / ("IMG_" + std::to_string(10000 + i) + ".JPG");
            if (!fs::exists(p)) std::fclose(std::fopen(p.c_str(), "w"));
            changes.push_back(TagChange{QuickString::path(p.string()), {"Trips/Iceland 2024"}, {}});
        }
        command = std::make_shared<TagChangeCommand>(TagChangeKind::tag, TagChangeKind::tag, std::move(changes),
                                                     std::set<std::string>{}, std::set<std::string>{});
        db = test::loadLibrary(index, nullptr, nullptr);
        window = BrowserState::create(
            CommandContext{db, std::make_shared<XattrTagStore>(), std::make_shared<LinuxFileOperations>()});
        subscriptions.push_back(db->childrenChanged.subscribe([this] { ++children; }));
        subscriptions.push_back(db->pathsChanged.subscribe([this] { ++paths; }));
    }
};

void report(benchmark::State& state, const Setup& s, int runs) {
    state.counters["children"] = double(s.children) / runs;
    state.counters["paths"] = double(s.paths) / runs;
    state.counters["files"] = kFiles;
}

void BM_TagTreePhase10k(benchmark::State& state) {
    Setup s;
    auto inverse = s.command->makeInverse();
    int runs = 0;
    int children = 0, paths = 0;
    {
        QuietStdout quiet;
        for (auto _ : state) {
            s.children = s.paths = 0;
            s.command->runTreePhase(*s.db);
            children += s.children;
            paths += s.paths;
            ++runs;
            state.PauseTiming();
            inverse->runTreePhase(*s.db);
            state.ResumeTiming();
        }
    }
    s.children = children;
    s.paths = paths;
    report(state, s, runs);
    state.SetLabel("target: tree phase < 100 ms; each event once");
}
BENCHMARK(BM_TagTreePhase10k)->Unit(benchmark::kMillisecond);

void BM_TagCommand10k(benchmark::State& state) {
    Setup s;
    int runs = 0;
    int children = 0, paths = 0;
    {
        QuietStdout quiet;
        for (auto _ : state) {
            s.children = s.paths = 0;
            s.window->commandStack()->performCommand(s.command);
            children += s.children;
            paths += s.paths;
            ++runs;
            state.PauseTiming();
            s.window->commandStack()->undo();
            state.ResumeTiming();
        }
    }
    s.children = children;
    s.paths = paths;
    report(state, s, runs);
    state.SetLabel("reported: tree + 10,000 xattr writes; each event once");
}
BENCHMARK(BM_TagCommand10k)->Unit(benchmark::kMillisecond);

}  // namespace
