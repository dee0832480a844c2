#pragma once

// The body of main() for the benchmarks that need a QApplication: the
// offscreen platform unless the caller chose one, and, for benchmarks that
// write tags, thumbnails or settings, a fresh temporary HOME and XDG
// directories around the run.

#include <benchmark/benchmark.h>

#include <QApplication>

#include <cstdlib>
#include <functional>
#include <optional>

#include "support/TempDir.h"

namespace qm::test {

// `beforeQuit` runs after the benchmarks, while the QApplication still
// exists: what they share that holds widgets must go there, not in a
// function-local static, which would outlive the application.
inline int runQtBenchmarks(int argc, char** argv, bool freshHome = false,
                           const std::function<void()>& beforeQuit = {}) {
    std::optional<TempDir> home;
    if (freshHome) {
        home.emplace("qm-bench-home");
        useAsHome(home->path());
    }
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    if (beforeQuit) beforeQuit();
    benchmark::Shutdown();
    return 0;
}

}  // namespace qm::test
