// Requests submitted and cancelled from the main thread while the workers decode,
// read the cache and hand icons back: every request that was not cancelled in time
// completes exactly once, a cancelled one never, and nothing races.
#include <gtest/gtest.h>

#include <QImageReader>
#include <QMimeDatabase>

#include <atomic>
#include <chrono>
#include <memory>
#include <random>
#include <vector>

#include "desktop/MimeIcon.h"
#include "desktop/ThumbnailService.h"
#include "desktop/ThumbnailTestSupport.h"
#include "support/TempDir.h"

namespace fs = std::filesystem;
using namespace qm;
using namespace qm::test;

namespace {

const auto* const kGui = ::testing::AddGlobalTestEnvironment(new GuiEnvironment);

struct Tally {
    std::atomic<int> calls{0};
    std::atomic<bool> nullImage{false};
};

}  // namespace

// Qt, its image plugins and FFmpeg are not instrumented: TSan sees their memory
// traffic through its interceptors but not the futex-based locks that order it.
// Calls from those libraries are ignored; our own code stays fully checked.
extern "C" const char* __tsan_default_suppressions() {
    return "called_from_lib:libQt6Core.so.6\n"
           "called_from_lib:libQt6Gui.so.6\n"
           "called_from_lib:libqjpeg.so\n"
           "called_from_lib:libqgif.so\n"
           "called_from_lib:libjpeg.so.62\n"
           "called_from_lib:libpng16.so.16\n"
           "called_from_lib:libavformat.so.59\n"
           "called_from_lib:libavcodec.so.59\n"
           "called_from_lib:libswscale.so.6\n";
}

TEST(ThumbnailServiceConcurrency, SubmitAndCancelWhileWorkersDeliver) {
    if (!hasTool("convert")) GTEST_SKIP() << "ImageMagick missing";
    TempDir dir;
    std::vector<std::string> files;
    // Images (decoded once, then cache hits), files of types with and without icons
    // drawn yet (the main-thread hop), a missing file and a folder.
    for (int i = 0; i < 8; ++i) {
        fs::path f = dir / ("img" + std::to_string(i) + ".png");
        ASSERT_TRUE(sh("convert -size " + std::to_string(64 + 9 * i) + "x48 plasma:fractal " + shellQuote(f)));
        files.push_back(f.string());
    }
    for (const char* name : {"a.txt", "b.csv", "c.json", "d.sh", "broken.jpg"}) {
        writeFile(dir / name, "\xff\xd8 not really");
        files.push_back((dir / name).string());
    }
    files.push_back((dir / "missing.png").string());
    files.push_back(dir.path().string());

    // Qt is not instrumented: TSan cannot see the locks that guard the MIME database
    // and the image plugins while they load, and would take the one-time mmap of
    // mime.cache for a race. Load them here first; what follows is our code's traffic.
    // The icons are drawn here too: their hop to the main thread goes through Qt's
    // event queue, whose ordering cannot be stated to TSan (the other test covers it).
    for (const auto& f : files)
        MimeIcon::forType(QMimeDatabase().mimeTypeForFile(QString::fromStdString(f)).name());
    QImageReader(QString::fromStdString(files[0])).read();

    constexpr int kRequests = 400;
    auto tally = std::make_shared<std::vector<Tally>>(kRequests);
    std::vector<ThumbnailRequest> requests(kRequests);
    std::vector<char> prevented(kRequests, 0);
    std::mt19937 random(7);
    ThumbnailService service(3);
    for (int i = 0; i < kRequests; ++i) {
        requests[static_cast<std::size_t>(i)] = service.request(
            files[random() % files.size()], {128 + static_cast<int>(random() % 129), 256},
            [tally, i](const ThumbnailResult& r) {
                Tally& t = (*tally)[static_cast<std::size_t>(i)];
                if (r.image.isNull()) t.nullImage = true;
                t.calls.fetch_add(1);
            });
        // Cancel some at once and some of the earlier ones, which may be running or done.
        if (random() % 2) {
            int victim = (random() % 3 == 0) ? static_cast<int>(random() % static_cast<unsigned>(i + 1)) : i;
            const int before = (*tally)[static_cast<std::size_t>(victim)].calls.load();
            const bool was = requests[static_cast<std::size_t>(victim)].cancel();
            prevented[static_cast<std::size_t>(victim)] |= static_cast<char>(was);
            // Once cancel() returns, the count is final: it ran before or never will.
            if (was) {
                EXPECT_EQ(before, 0) << victim;
            }
        }
        if (i % 16 == 0) QCoreApplication::processEvents();
    }
    auto allDelivered = [&] {
        for (int i = 0; i < kRequests; ++i)
            if (!prevented[static_cast<std::size_t>(i)] && (*tally)[static_cast<std::size_t>(i)].calls.load() == 0)
                return false;
        return true;
    };
    ASSERT_TRUE(waitUntil(allDelivered, std::chrono::seconds(60)));
    waitUntil([] { return false; }, std::chrono::milliseconds(300));  // stragglers would show here
    int cancelled = 0;
    for (int i = 0; i < kRequests; ++i) {
        const Tally& t = (*tally)[static_cast<std::size_t>(i)];
        EXPECT_EQ(t.calls.load(), prevented[static_cast<std::size_t>(i)] ? 0 : 1) << i;
        EXPECT_FALSE(t.nullImage.load()) << i;
        cancelled += prevented[static_cast<std::size_t>(i)];
    }
    EXPECT_GT(cancelled, kRequests / 5);
}
