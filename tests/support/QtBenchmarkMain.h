#pragma once

// The body of main() for the benchmarks that need a QApplication: the
// offscreen platform unless the caller chose one, and, for benchmarks that
// write tags, thumbnails or settings, a fresh temporary HOME and XDG
// directories around the run.

#include <benchmark/benchmark.h>

#include <QApplication>

#include <cstdlib>
#include <optional>

#include "support/TempDir.h"

namespace qm::test {

inline int runQtBenchmarks(int argc, char** argv, bool freshHome = false) {
    std::optional<TempDir> home;
    if (freshHome) {
        home.emplace("qm-bench-home");
        useAsHome(home->path());
    }
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

}  // namespace qm::test
