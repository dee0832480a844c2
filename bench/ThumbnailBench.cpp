// Thumbnails of camera-size JPEGs (4000 x 3000, made once with ImageMagick; each copy
// made distinct by a comment segment of its own right after the start-of-image marker).
// Must reach:
// - cold and warm cache throughput are reported (files/s);
// - a warm-cache hit costs under 2 ms (BM_WarmCacheHit, "target < 2 ms");
// - scaled JPEG decoding is far faster than full decode then scale
//   (BM_DecodeScaled vs BM_DecodeFullThenScale; the ratio is printed in the label).
// The cache lives in a temporary directory, never the user's.
#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QString>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "desktop/ScaledImageDecoder.h"
#include "desktop/ThumbnailCache.h"
#include "desktop/ThumbnailService.h"

namespace {

namespace fs = std::filesystem;

// 1,000 copies are about 4 GB of JPEG and a cold pass takes most of a minute per
// repetition on a shared two-core machine; 250 keep the run short with the same
// per-file figures. QM_THUMB_BENCH_FILES overrides it.
int fileCount() {
    const char* env = std::getenv("QM_THUMB_BENCH_FILES");
    int n = env ? std::atoi(env) : 0;
    return n > 0 ? n : 250;
}

const fs::path& benchDir() {
    static const fs::path dir = fs::temp_directory_path() / "qm-bench-thumbnails";
    return dir;
}

void ensureApp() {
    static int argc = 1;
    static char name[] = "thumbnail-bench";
    static char* argv[] = {name, nullptr};
    static QCoreApplication* app = QCoreApplication::instance() ? nullptr : new QCoreApplication(argc, argv);
    (void)app;
}

const std::vector<std::string>& cameraJpegs() {
    static const std::vector<std::string> files = [] {
        ensureApp();
        fs::create_directories(benchDir() / "photos");
        fs::path seed = benchDir() / "seed.jpg";
        if (!fs::exists(seed)) {
            std::string cmd = "convert -size 4000x3000 plasma:fractal -quality 90 '" + seed.string() + "'";
            if (std::system(cmd.c_str()) != 0) std::abort();
        }
        std::ifstream in(seed, std::ios::binary);
        std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        if (bytes.size() < 4) std::abort();
        std::vector<std::string> out;
        for (int i = 0, n = fileCount(); i < n; ++i) {
            fs::path p = benchDir() / "photos" / ("DSC_" + std::to_string(10000 + i) + ".JPG");
            if (!fs::exists(p)) {
                std::string comment = "copy " + std::to_string(i);
                std::string segment(1, '\xFF');
                segment += '\xFE';
                segment += static_cast<char>((comment.size() + 2) >> 8);
                segment += static_cast<char>((comment.size() + 2) & 0xFF);
                segment += comment;
                std::ofstream f(p, std::ios::binary);
                f << bytes.substr(0, 2) << segment << bytes.substr(2);
            }
            out.push_back(p.string());
        }
        return out;
    }();
    return files;
}

fs::path cacheRoot() { return benchDir() / "cache" / "thumbnails"; }

// Requests every file at once and waits for all completions.
void requestAll(qm::ThumbnailService& service, const std::vector<std::string>& files) {
    std::atomic<std::size_t> done{0};
    std::vector<qm::ThumbnailRequest> requests;
    requests.reserve(files.size());
    for (const auto& f : files)
        requests.push_back(service.request(f, {256, 256}, [&done](const qm::ThumbnailResult& r) {
            benchmark::DoNotOptimize(r.image.constBits());
            done.fetch_add(1);
        }));
    while (done.load() < files.size()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

void BM_ColdCache(benchmark::State& state) {
    const auto& files = cameraJpegs();
    for (auto _ : state) {
        state.PauseTiming();
        fs::remove_all(cacheRoot());
        qm::ThumbnailService service(0, qm::ThumbnailCache(cacheRoot()));
        state.ResumeTiming();
        requestAll(service, files);
    }
    state.counters["files/s"] = benchmark::Counter(static_cast<double>(files.size() * state.iterations()),
                                                   benchmark::Counter::kIsRate);
    state.SetLabel("cold cache, decode + write, all cores");
}
BENCHMARK(BM_ColdCache)->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(3)->UseRealTime();

void fillCache() {
    const auto& files = cameraJpegs();
    qm::ThumbnailService service(0, qm::ThumbnailCache(cacheRoot()));
    requestAll(service, files);
}

void BM_WarmCache(benchmark::State& state) {
    const auto& files = cameraJpegs();
    fillCache();
    qm::ThumbnailService service(0, qm::ThumbnailCache(cacheRoot()));
    for (auto _ : state) requestAll(service, files);
    state.counters["files/s"] = benchmark::Counter(static_cast<double>(files.size() * state.iterations()),
                                                   benchmark::Counter::kIsRate);
    state.SetLabel("warm cache, all cores");
}
BENCHMARK(BM_WarmCache)->Unit(benchmark::kMillisecond)->Repetitions(3)->UseRealTime();

// One hit on the calling thread: stat, open and check the entry, decode the PNG.
void BM_WarmCacheHit(benchmark::State& state) {
    const auto& files = cameraJpegs();
    fillCache();
    qm::ThumbnailService service(1, qm::ThumbnailCache(cacheRoot()));
    std::size_t i = 0, misses = 0;
    for (auto _ : state) {
        auto r = service.thumbnail(files[i++ % files.size()], {256, 256});
        if (!r || r->origin != qm::ThumbnailResult::Origin::cache) ++misses;
        benchmark::DoNotOptimize(r);
    }
    if (misses) state.SkipWithError("warm cache missed");
    state.SetLabel("target < 2 ms per hit");
}
BENCHMARK(BM_WarmCacheHit)->Unit(benchmark::kMillisecond)->Repetitions(3);

double gScaledSeconds = 0;

void BM_DecodeScaled(benchmark::State& state) {
    const QString file = QString::fromStdString(cameraJpegs().front());
    auto start = std::chrono::steady_clock::now();
    for (auto _ : state) benchmark::DoNotOptimize(qm::ScaledImageDecoder::decode(file, {256, 256}));
    gScaledSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() /
                     static_cast<double>(state.iterations());
    state.SetLabel("scaled by the JPEG codec");
}
BENCHMARK(BM_DecodeScaled)->Unit(benchmark::kMillisecond)->Repetitions(3);

void BM_DecodeFullThenScale(benchmark::State& state) {
    const QString file = QString::fromStdString(cameraJpegs().front());
    auto start = std::chrono::steady_clock::now();
    for (auto _ : state) benchmark::DoNotOptimize(qm::ScaledImageDecoder::decodeFullThenScale(file, {256, 256}));
    double full = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() /
                  static_cast<double>(state.iterations());
    if (gScaledSeconds > 0)
        state.SetLabel("target: far slower than scaled; full/scaled = " + std::to_string(full / gScaledSeconds));
}
BENCHMARK(BM_DecodeFullThenScale)->Unit(benchmark::kMillisecond)->Repetitions(3);

}  // namespace
