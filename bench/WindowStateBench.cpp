// Saving the window state: 10 windows with 10,000 selected files each.
//
// Target: the main thread's part of a write (capturing every window's state)
// < 20 ms. Encoding and the atomic write run on the archive's queue, off the
// main thread (WindowStateEncodeAndWrite); only Quit waits for them.
//
// Measured on the shared 2-core machine, Release, load average 7.7: capture
// 2.5 ms (1.6 ms CPU); encoding and writing the 5.1 MB file with fsync
// 65 ms (34 ms CPU) on the queue; decoding it at launch 46 ms (30 ms CPU).

#include <benchmark/benchmark.h>

#include <QApplication>

#include <filesystem>
#include <memory>
#include <string>

#include "app/AppDelegate.h"
#include "app/AppWindow.h"
#include "app/BrowserFrame.h"
#include "app/WindowStateArchiver.h"
#include "commands/BrowserState.h"
#include "commands/StateArchive.h"
#include "core/MainQueue.h"
#include "library/DB.h"
#include "support/MemoryMetadataIndex.h"
#include "library/MemoryUserDefaults.h"
#include "platform/AtomicFileWriter.h"
#include "platform/LinuxFileOperations.h"
#include "desktop/QtMainQueue.h"
#include "platform/XattrTagStore.h"
#include "support/QtBenchmarkMain.h"

namespace {

namespace fs = std::filesystem;

constexpr int windowCount = 10;
constexpr int selectedPerWindow = 10000;

struct Program {
    qm::QtMainQueue binding;
    qm::MemoryMetadataIndex index;
    fs::path folder = fs::temp_directory_path() / ("qm-window-state-bench-" + std::to_string(::getpid()));
    std::unique_ptr<qm::AppDelegate> delegate;

    Program() {
        fs::create_directories(folder);
        auto defaults = std::make_shared<qm::MemoryUserDefaults>();
        defaults->setValue("hasBeenLaunched", true);
        qm::AppServices services;
        services.library = qm::LibraryServices{index.tagQuery(), index.gpsQuery(), defaults, nullptr, nullptr};
        services.tagStore = std::make_shared<qm::XattrTagStore>();
        services.fileOperations = std::make_shared<qm::LinuxFileOperations>();
        services.stateFile = (folder / "state.json").string();
        delegate = std::make_unique<qm::AppDelegate>(std::move(services));
        delegate->applicationDidFinishLaunching();
        qm::AppWindow* first = delegate->frames().front()->currentWindow();
        for (int w = 0; w < windowCount; ++w) {
            qm::AppWindow* window = w == 0 ? first : delegate->makeWindowInTabOf(first);
            qm::QuickStringSet selection;
            for (int i = 0; i < selectedPerWindow; ++i)
                selection.insert(qm::QuickString::path("/home/someone/Pictures/Holidays " + std::to_string(w) +
                                                       "/IMG_" + std::to_string(100000 + i) + ".jpg"));
            window->state()->setCurrentNode({qm::QuickString::literal("Tags"), qm::QuickString::literal("Holidays")});
            window->state()->setCurrentSelection(selection);
        }
    }
    ~Program() {
        delegate.reset();
        std::error_code ec;
        fs::remove_all(folder, ec);
    }
};

// Made on first use; ended before the application is (its windows need it).
std::unique_ptr<Program> shared;

Program& program() {
    if (!shared) shared = std::make_unique<Program>();
    return *shared;
}

// What runs on the main thread for each write.
void WindowStateCapture(benchmark::State& state) {
    auto* archiver = program().delegate->stateArchiver();
    for (auto _ : state) {
        qm::StateArchive archive = archiver->capture();
        benchmark::DoNotOptimize(archive);
    }
}
BENCHMARK(WindowStateCapture)->Unit(benchmark::kMillisecond);

// What the archive's queue then does.
void WindowStateEncodeAndWrite(benchmark::State& state) {
    const qm::StateArchive archive = program().delegate->stateArchiver()->capture();
    const std::string path = (program().folder / "bench.json").string();
    size_t bytes = 0;
    for (auto _ : state) {
        const std::string text = qm::encodeStateArchive(archive);
        bytes = text.size();
        if (!qm::AtomicFileWriter::write(path, text).empty()) state.SkipWithError("write failed");
    }
    state.counters["MB"] = static_cast<double>(bytes) / 1e6;
}
BENCHMARK(WindowStateEncodeAndWrite)->Unit(benchmark::kMillisecond);

// Reading it back at launch, for comparison.
void WindowStateDecode(benchmark::State& state) {
    const std::string text = qm::encodeStateArchive(program().delegate->stateArchiver()->capture());
    for (auto _ : state) {
        auto reading = qm::decodeStateArchive(text);
        benchmark::DoNotOptimize(reading);
    }
}
BENCHMARK(WindowStateDecode)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    return qm::test::runQtBenchmarks(argc, argv, false, [] { shared.reset(); });
}
