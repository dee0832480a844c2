// Phone photos, raw files and PDFs, on files made once by the real tools: a
// 12-megapixel HEIC (4032 x 3024, heif-enc, positioned by exiftool), a raw file
// with a 12-megapixel JPEG preview inserted by exiv2, a text-and-graphics PDF
// page by Ghostscript. Must reach:
// - position read of the HEIC by the crawl's reader: at least 1,000 files/s
//   (BM_HeicPositionRead, items_per_second);
// - a thumbnail as the worker makes it (decode, then the cache entry written):
//   12-MP HEIC under 150 ms (BM_HeicThumbnail; with a phone's 320 px thumbnail
//   item, BM_HeicThumbnailFromItem), raw preview under 50 ms
//   (BM_RawPreviewThumbnail), PDF first page under 150 ms (BM_PdfFirstPage).
// Everything lives in a temporary directory, the cache too.
#include <benchmark/benchmark.h>

#include <QCoreApplication>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "desktop/ThumbnailCache.h"
#include "desktop/ThumbnailService.h"
#include "media/ImageLocationReader.h"

namespace {

namespace fs = std::filesystem;

const fs::path& benchDir() {
    static const fs::path dir = fs::temp_directory_path() / "qm-bench-native-formats";
    return dir;
}

void ensureApp() {
    static int argc = 1;
    static char name[] = "native-format-bench";
    static char* argv[] = {name, nullptr};
    static QCoreApplication* app = QCoreApplication::instance() ? nullptr : new QCoreApplication(argc, argv);
    (void)app;
}

void run(const std::string& command) {
    if (std::system(command.c_str()) != 0) {
        std::fprintf(stderr, "failed: %s\n", command.c_str());
        std::abort();
    }
}

std::string q(const fs::path& p) {
    return "'" + p.string() + "'";
}

// Made once per machine (the encoder takes a while), reused by later runs.
fs::path made(const std::string& name, const std::string& command) {
    fs::create_directories(benchDir());
    const fs::path p = benchDir() / name;
    if (!fs::exists(p)) run(command + " >/dev/null 2>&1");
    return p;
}

fs::path photoPng() {
    const fs::path png = benchDir() / "photo.png";
    return made("photo.png", "convert -size 4032x3024 plasma:fractal -blur 0x2 -depth 8 " + q(png));
}

fs::path heic(bool withItem) {
    const std::string name = withItem ? "IMG_with_thumb.HEIC" : "IMG_0001.HEIC";
    const fs::path p = benchDir() / name;
    const fs::path src = photoPng();
    return made(name, "heif-enc -q 60 " + std::string(withItem ? "-t 320 " : "") + "-o " + q(p) + " " +
                          q(src) +
                          " && exiftool -q -overwrite_original -GPSLatitude=48.8584 -GPSLatitudeRef=N "
                          "-GPSLongitude=2.2945 -GPSLongitudeRef=E -Make=Apple " +
                          q(p));
}

fs::path raw() {
    const fs::path p = benchDir() / "DSC_0001.dng";
    const fs::path src = photoPng();
    return made("DSC_0001.dng",
                "convert -size 600x400 xc:gray -depth 8 -compress none tiff:" + q(p) +
                    " && exiftool -q -overwrite_original -n -DNGVersion='1 4 0 0' -Orientation=6 " + q(p) +
                    " && convert " + q(src) + " -quality 90 " + q(benchDir() / "DSC_0001-thumb.jpg") +
                    " && exiv2 -it " + q(p));
}

fs::path pdf() {
    const fs::path p = benchDir() / "letter.pdf";
    std::string ps;
    for (int i = 0; i < 40; ++i)
        ps += "/Times-Roman findfont 11 scalefont setfont 72 " + std::to_string(720 - i * 16) +
              " moveto (Invoice line " + std::to_string(i) +
              " - quantity, price, total and a long description) show ";
    ps += "0.2 0.4 0.8 setrgbcolor 72 40 468 20 rectfill showpage";
    return made("letter.pdf", "gs -q -dNOPAUSE -dBATCH -sDEVICE=pdfwrite -o " + q(p) + " -c '" + ps + "'");
}

void BM_HeicPositionRead(benchmark::State& state) {
    const fs::path seed = heic(false);
    // Distinct files, as a crawl meets them.
    std::vector<std::string> files;
    fs::create_directories(benchDir() / "copies");
    for (int i = 0; i < 200; ++i) {
        const fs::path p = benchDir() / "copies" / ("IMG_" + std::to_string(1000 + i) + ".HEIC");
        if (!fs::exists(p)) fs::copy_file(seed, p);
        files.push_back(p.string());
    }
    size_t found = 0;
    for (auto _ : state)
        for (const auto& f : files)
            found += qm::ImageLocationReader::read(f).has_value();
    if (found != files.size() * state.iterations()) state.SkipWithError("a position was not read");
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * files.size()));
    state.SetLabel("target >= 1000 files/s");
}
BENCHMARK(BM_HeicPositionRead)->Unit(benchmark::kMillisecond)->Repetitions(3);

// The worker's whole job for one file with nothing cached yet.
void thumbnailOnce(benchmark::State& state, const fs::path& file, const char* target) {
    ensureApp();
    const fs::path cacheDir = benchDir() / "cache";
    qm::ThumbnailService service(1, qm::ThumbnailCache(cacheDir));
    const auto source = qm::ThumbnailCache::source(file.string());
    const fs::path entry = service.cache().entryPath("large", *source);
    for (auto _ : state) {
        state.PauseTiming();
        fs::remove(entry);
        state.ResumeTiming();
        auto r = service.thumbnail(file.string(), {256, 256});
        if (!r || r->origin != qm::ThumbnailResult::Origin::decoded) state.SkipWithError("no thumbnail");
        benchmark::DoNotOptimize(r);
    }
    state.SetLabel(target);
}

void BM_HeicThumbnail(benchmark::State& state) {
    thumbnailOnce(state, heic(false), "target < 150 ms");
}
BENCHMARK(BM_HeicThumbnail)->Unit(benchmark::kMillisecond)->Repetitions(3)->UseRealTime();

void BM_HeicThumbnailFromItem(benchmark::State& state) {
    thumbnailOnce(state, heic(true), "target < 150 ms");
}
BENCHMARK(BM_HeicThumbnailFromItem)->Unit(benchmark::kMillisecond)->Repetitions(3)->UseRealTime();

void BM_RawPreviewThumbnail(benchmark::State& state) {
    thumbnailOnce(state, raw(), "target < 50 ms");
}
BENCHMARK(BM_RawPreviewThumbnail)->Unit(benchmark::kMillisecond)->Repetitions(3)->UseRealTime();

void BM_PdfFirstPage(benchmark::State& state) {
    thumbnailOnce(state, pdf(), "target < 150 ms");
}
BENCHMARK(BM_PdfFirstPage)->Unit(benchmark::kMillisecond)->Repetitions(3)->UseRealTime();

}  // namespace
