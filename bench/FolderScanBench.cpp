// Folder scanning, on a real directory tree in a temporary home:
// - BM_RefreshBigDirectory: one re-read of a folder with 100,000
//   files, read on the folder queue and applied on the main queue (arg 0:
//   first read into an empty node; arg 1: re-read, nothing changed; arg 2:
//   re-read with one file added or removed). Target: under 300 ms each; the
//   main-thread turn that applies the result ("max_apply_ms") within a frame,
//   16 ms.
// - BM_ScanPass: the whole pass over an opened folder with 200 sub-folders
//   beside the 100,000-file one, turn by turn; no main-queue turn
//   ("max_turn_ms") may reach 50 ms, as directories are read off the main
//   thread; "turns" counts the turns that ran (two per directory read: start
//   and apply).
//
// Measured on the 2-core machine (load average 1.3 to 2.2): max_apply_ms
// 0.03 (first read), 11 (unchanged re-read: comparing the two tables), 0.02
// (one file changed: the sizes differ). Freeing the table of 100,000 paths
// left over on the main thread had taken another 15 ms (47.6 ms worst), so
// the folder queue frees it now.

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <memory>
#include <string>

#include "core/MainQueue.h"
#include "core/SerialQueue.h"
#include "library/DB.h"
#include "support/MemoryMetadataIndex.h"
#include "library/MemoryUserDefaults.h"
#include "support/LoadedLibrary.h"

namespace {

using namespace qm;
namespace fs = std::filesystem;

constexpr int bigFiles = 100'000;
constexpr int smallFolders = 200;
constexpr int smallFiles = 100;

void touch(const fs::path& p) {
    int fd = ::open(p.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    if (fd >= 0) ::close(fd);
}

// The home directory is read once per process (it is cached), so every
// benchmark shares one temporary home.
const fs::path& benchHome() {
    static const fs::path home = [] {
        fs::path h = fs::temp_directory_path() / ("qm-scanbench-" + std::to_string(::getpid()));
        fs::create_directories(h / "Big");
        for (int i = 0; i < bigFiles; ++i)
            touch(h / "Big" / ("IMG_" + std::to_string(i) + ".jpg"));
        for (int d = 0; d < smallFolders; ++d) {
            fs::path dir = h / "Many" / ("Folder " + std::to_string(d));
            fs::create_directories(dir);
            for (int i = 0; i < smallFiles; ++i)
                touch(dir / ("file " + std::to_string(i) + ".txt"));
        }
        ::setenv("HOME", h.c_str(), 1);
        std::atexit([] { fs::remove_all(fs::temp_directory_path() / ("qm-scanbench-" + std::to_string(::getpid()))); });
        return h;
    }();
    return home;
}

struct Library {
    MemoryMetadataIndex index;
    std::shared_ptr<DB> db;

    Library() {
        benchHome();
        db = test::loadLibrary(index);
    }
    ~Library() {
        db.reset();
        mainQueue().runPending();
    }
};

void BM_RefreshBigDirectory(benchmark::State& state) {
    Library lib;
    const bool reread = state.range(0) >= 1;
    const bool change = state.range(0) == 2;
    const fs::path extra = benchHome() / "Big" / "extra.jpg";
    int round = 0;
    NodePtr big = lib.db->tree().directoriesNode()->child(QuickString::literal("Big"));
    const QuickString bigPath = QuickString::path((benchHome() / "Big").string());
    if (!big) {
        state.SkipWithError("no Big folder");
        return;
    }
    lib.db->openDirectories({QuickString::literal("Folders/Big")});
    mainQueue().runUntil([&] { return !lib.db->isUpdatingDirectories(); }, std::chrono::minutes(1));
    double maxApply = 0;
    for (auto _ : state) {
        state.PauseTiming();
        if (!reread) {
            big->replacePaths({});
        }
        if (change) {
            if (round++ % 2 == 0)
                touch(extra);
            else
                fs::remove(extra);
        }
        state.ResumeTiming();
        // Marks the folder stale; the pass's next turn starts its read.
        lib.db->directoryChanged(bigPath, false);
        mainQueue().runPending();
        lib.db->folderQueue().sync([] {});
        const auto began = std::chrono::steady_clock::now();
        mainQueue().runPending();
        maxApply = std::max(maxApply, std::chrono::duration<double, std::milli>(
                                          std::chrono::steady_clock::now() - began).count());
        state.PauseTiming();
        mainQueue().runUntil([&] { return !lib.db->isUpdatingDirectories(); }, std::chrono::minutes(1));
        state.ResumeTiming();
    }
    state.counters["files"] = double(big->paths().size());
    state.counters["max_apply_ms"] = maxApply;
    state.SetLabel(change ? "re-read, one file changed; target < 300 ms"
                          : reread ? "re-read, target < 300 ms" : "first read, target < 300 ms");
    fs::remove(extra);
}
BENCHMARK(BM_RefreshBigDirectory)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->Iterations(5);

void BM_ScanPass(benchmark::State& state) {
    double maxTurn = 0;
    size_t turns = 0;
    for (auto _ : state) {
        Library lib;
        const auto passBegan = std::chrono::steady_clock::now();
        // Opening Many reads home and Many at once; its 200 sub-folders and
        // home's other folders (Big among them) are left to the pass.
        lib.db->openDirectories({QuickString::literal("Folders/Many")});
        turns = 0;
        while (lib.db->isUpdatingDirectories()) {
            // Nothing queued: a directory is being read; wait for it.
            if (mainQueue().pendingCount() == 0) {
                lib.db->folderQueue().sync([] {});
                continue;
            }
            const auto began = std::chrono::steady_clock::now();
            mainQueue().runPending();
            maxTurn = std::max(maxTurn, std::chrono::duration<double, std::milli>(
                                            std::chrono::steady_clock::now() - began).count());
            ++turns;
        }
        state.SetIterationTime(
            std::chrono::duration<double>(std::chrono::steady_clock::now() - passBegan).count());
    }
    state.counters["max_turn_ms"] = maxTurn;
    state.counters["turns"] = double(turns);
    state.SetLabel("longest turn < 50 ms");
}
BENCHMARK(BM_ScanPass)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace
