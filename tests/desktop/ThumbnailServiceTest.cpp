// The thumbnail service on files made by real tools (ImageMagick, exiftool, ffmpeg):
// cache reuse and staleness, size and orientation of what it makes, movie frames,
// the icon fallback with its failure record, and cancellation.
#include <gtest/gtest.h>

#include <QColor>
#include <QImage>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <optional>

#include "desktop/ThumbnailCache.h"
#include "desktop/ThumbnailService.h"
#include "desktop/ThumbnailTestSupport.h"
#include "support/TempDir.h"

namespace fs = std::filesystem;
using namespace qm;
using namespace qm::test;

namespace {

const auto* const kGui = ::testing::AddGlobalTestEnvironment(new GuiEnvironment);

bool haveImageTools() { return hasTool("convert") && hasTool("identify"); }

// Fails requests complete only while the main thread's events run; waitUntil pumps them.
ThumbnailResult requestSync(ThumbnailService& service, const std::string& path, QSize size = {256, 256}) {
    auto done = std::make_shared<std::atomic<bool>>(false);
    auto got = std::make_shared<ThumbnailResult>();
    service.request(path, size, [done, got](const ThumbnailResult& r) {
        *got = r;
        done->store(true);
    });
    EXPECT_TRUE(waitUntil([&] { return done->load(); })) << path;
    return *got;
}

std::int64_t mtimeNs(const fs::path& p) {
    struct stat st {};
    if (::stat(p.c_str(), &st) != 0) return -1;
    return std::int64_t(st.st_mtim.tv_sec) * 1'000'000'000 + st.st_mtim.tv_nsec;
}

void setMtime(const fs::path& p, std::int64_t seconds) {
    ASSERT_TRUE(sh("touch -d @" + std::to_string(seconds) + " " + shellQuote(p)));
}

bool isRed(QColor c) { return c.red() > 180 && c.green() < 80 && c.blue() < 80; }
bool isBlue(QColor c) { return c.blue() > 180 && c.red() < 80 && c.green() < 80; }

void expectIcon(const ThumbnailResult& r, const std::string& what) {
    EXPECT_EQ(r.origin, ThumbnailResult::Origin::icon) << what;
    EXPECT_FALSE(r.image.isNull()) << what;
    EXPECT_EQ(r.image.size(), QSize(256, 256)) << what;
}

}  // namespace

TEST(ThumbnailService, FreshEntryUsedUntilTheFileChanges) {
    if (!haveImageTools()) GTEST_SKIP() << "ImageMagick missing";
    TempDir dir;
    fs::path photo = dir / "IMG_2041.JPG";
    ASSERT_TRUE(sh("convert -size 800x600 xc:red " + shellQuote(photo)));
    setMtime(photo, 1'600'000'000);
    auto source = ThumbnailCache::source(photo.string());
    ASSERT_TRUE(source);
    ThumbnailService service;

    // Another program's entry: blue and 120 x 90, unlike anything decoded from the red photo.
    fs::path entry = service.cache().entryPath("large", *source);
    fs::create_directories(entry.parent_path());
    std::string uri;
    for (char c : source->uri) uri += (c == '%') ? std::string("%%") : std::string(1, c);
    ASSERT_TRUE(sh("convert -size 120x90 xc:blue -set Thumb::URI " + shellQuote(uri) +
                   " -set Thumb::MTime 1600000000 " + shellQuote(entry)));
    ThumbnailResult hit = requestSync(service, photo.string());
    EXPECT_EQ(hit.origin, ThumbnailResult::Origin::cache);
    EXPECT_EQ(hit.image.size(), QSize(120, 90));
    EXPECT_TRUE(isBlue(QColor(hit.image.pixel(60, 45))));

    // Same pixels, new mtime: the entry is stale and is replaced by ours.
    setMtime(photo, 1'600'000'100);
    ThumbnailResult made = requestSync(service, photo.string());
    EXPECT_EQ(made.origin, ThumbnailResult::Origin::decoded);
    EXPECT_EQ(made.image.size(), QSize(256, 192));
    EXPECT_TRUE(isRed(QColor(made.image.pixel(128, 96))));
    EXPECT_EQ(capture("identify -format '%[Thumb::MTime]|%w' " + shellQuote(entry)), "1600000100|256");
    EXPECT_EQ(requestSync(service, photo.string()).origin, ThumbnailResult::Origin::cache);
}

TEST(ThumbnailService, MadeThumbnailsFitKeepAspectAndAreCached) {
    if (!haveImageTools()) GTEST_SKIP() << "ImageMagick missing";
    TempDir dir;
    struct Case {
        const char* name;
        const char* geometry;
        QSize expected;
    };
    const Case cases[] = {
        {"wide panorama.jpg", "4000x1000", {256, 64}},
        {"tall.png", "300x600", {128, 256}},
        {"square.webp", "1000x1000", {256, 256}},
        {"small icon.gif", "100x80", {100, 80}},  // never enlarged
        {"odd.tiff", "257x3", {256, 2}},  // Qt rounds the short side down
    };
    ThumbnailService service;
    for (const Case& c : cases) {
        fs::path file = dir / c.name;
        ASSERT_TRUE(sh(std::string("convert -size ") + c.geometry + " gradient:white-black " + shellQuote(file)))
            << c.name;
        ThumbnailResult r = requestSync(service, file.string());
        EXPECT_EQ(r.origin, ThumbnailResult::Origin::decoded) << c.name;
        EXPECT_EQ(r.image.size(), c.expected) << c.name;
        fs::path entry = service.cache().entryPath("large", *ThumbnailCache::source(file.string()));
        ASSERT_TRUE(fs::exists(entry)) << c.name;
        EXPECT_EQ(capture("identify -format '%wx%h' " + shellQuote(entry)),
                  std::to_string(c.expected.width()) + "x" + std::to_string(c.expected.height()))
            << c.name;
    }
    // A smaller request is served from the 256 px entry, scaled down.
    ThumbnailResult small = requestSync(service, (dir / "wide panorama.jpg").string(), {64, 64});
    EXPECT_EQ(small.origin, ThumbnailResult::Origin::cache);
    EXPECT_EQ(small.image.size(), QSize(64, 16));
    // Oversized requests are clamped to 256 x 256.
    EXPECT_EQ(requestSync(service, (dir / "tall.png").string(), {4096, 4096}).image.size(), QSize(128, 256));
}

TEST(ThumbnailService, ExifOrientationIsApplied) {
    if (!haveImageTools() || !hasTool("exiftool")) GTEST_SKIP() << "ImageMagick or exiftool missing";
    TempDir dir;
    // Stored landscape: top half red, bottom half blue. Orientation 6 means "turn 90
    // degrees clockwise to show", which puts the red half on the right.
    fs::path photo = dir / "rotated.jpg";
    ASSERT_TRUE(sh("convert -size 400x150 xc:red -size 400x150 xc:blue -append -quality 95 " + shellQuote(photo)));
    ASSERT_TRUE(sh("exiftool -q -overwrite_original -Orientation#=6 " + shellQuote(photo)));
    ASSERT_EQ(capture("exiftool -s3 -n -Orientation " + shellQuote(photo)), "6");
    ThumbnailService service;
    for (auto origin : {ThumbnailResult::Origin::decoded, ThumbnailResult::Origin::cache}) {
        ThumbnailResult r = requestSync(service, photo.string());
        EXPECT_EQ(r.origin, origin);
        EXPECT_EQ(r.image.size(), QSize(192, 256));
        EXPECT_TRUE(isRed(QColor(pixelAt(r.image, 0.85, 0.5))));
        EXPECT_TRUE(isBlue(QColor(pixelAt(r.image, 0.15, 0.5))));
    }
}

TEST(ThumbnailService, MovieFrames) {
    if (!hasTool("ffmpeg")) GTEST_SKIP() << "ffmpeg missing";
    TempDir dir;
    fs::path movie = dir / "clip.mp4";
    ASSERT_TRUE(sh("ffmpeg -nostdin -v error -f lavfi -i testsrc=duration=2:size=320x240:rate=25 "
                   "-c:v libx264 -pix_fmt yuv420p " + shellQuote(movie)));
    // A phone held upright: stored landscape, shown portrait through the track's
    // display matrix (written by exiftool, as this ffmpeg cannot).
    fs::path upright = dir / "upright.mov";
    ASSERT_TRUE(sh("ffmpeg -nostdin -v error -f lavfi -i testsrc=duration=1:size=320x240:rate=25 "
                   "-c:v libx264 -pix_fmt yuv420p " + shellQuote(upright)));
    const bool canRotate =
        hasTool("exiftool") && sh("exiftool -q -overwrite_original -Rotation=90 " + shellQuote(upright));
    // Sound only: nothing to show.
    fs::path sound = dir / "tone.mkv";
    ASSERT_TRUE(sh("ffmpeg -nostdin -v error -f lavfi -i sine=duration=1 -c:a pcm_s16le " + shellQuote(sound)));
    ThumbnailService service;

    ThumbnailResult r = requestSync(service, movie.string());
    EXPECT_EQ(r.origin, ThumbnailResult::Origin::decoded);
    ASSERT_FALSE(r.image.isNull());
    EXPECT_EQ(r.image.size(), QSize(256, 192));
    // testsrc is colourful, not a black frame.
    QColor centre(pixelAt(r.image, 0.5, 0.5));
    EXPECT_GT(centre.red() + centre.green() + centre.blue(), 120);
    EXPECT_TRUE(fs::exists(service.cache().entryPath("large", *ThumbnailCache::source(movie.string()))));

    if (canRotate) {
        EXPECT_EQ(requestSync(service, upright.string()).image.size(), QSize(192, 256));
    }
    ThumbnailResult none = requestSync(service, sound.string());
    expectIcon(none, "sound");
}

TEST(ThumbnailService, FailuresFallBackToTheIconAndAreNotRetried) {
    if (!haveImageTools()) GTEST_SKIP() << "ImageMagick missing";
    TempDir dir;
    ThumbnailService service;

    fs::path good = dir / "good.jpg";
    ASSERT_TRUE(sh("convert -size 640x480 plasma:fractal " + shellQuote(good)));
    const std::string jpeg = readFile(good);
    ASSERT_GT(jpeg.size(), 2000u);
    fs::path text = dir / "notes.txt";
    writeFile(text, "just words\n");
    fs::path truncated = dir / "truncated.jpg";
    writeFile(truncated, jpeg.substr(0, 300));  // ends inside the header segments
    fs::path corrupt = dir / "corrupt.jpg";
    writeFile(corrupt, jpeg.substr(0, 4) + std::string(4000, '\x5a'));
    fs::path empty = dir / "empty.jpg";
    writeFile(empty, "");
    const std::string hostile = "bad\nname \xff\xfe\x80 \xc3(.png";
    fs::path hostilePng = dir / hostile;
    ASSERT_TRUE(sh("convert -size 300x200 xc:red " + shellQuote(hostilePng)));
    std::string png = readFile(hostilePng);
    ASSERT_GT(png.size(), 33u);
    std::string brokenPng = png;
    brokenPng[29] = static_cast<char>(brokenPng[29] ^ 0x55);  // the IHDR checksum
    fs::path hostileBroken = dir / (hostile + " broken.png");
    writeFile(hostileBroken, brokenPng);

    // The hostile name itself is no obstacle when the file is sound.
    ThumbnailResult fine = requestSync(service, hostilePng.string());
    EXPECT_EQ(fine.origin, ThumbnailResult::Origin::decoded);
    EXPECT_EQ(fine.image.size(), QSize(256, 170));
    EXPECT_TRUE(fs::exists(service.cache().entryPath("large", *ThumbnailCache::source(hostilePng.string()))));

    for (const fs::path& f : {text, truncated, corrupt, empty, hostileBroken, dir / "missing.jpg", dir.path()})
        expectIcon(requestSync(service, f.string()), f.filename().string());
    for (const fs::path& f : {truncated, corrupt, hostileBroken}) {
        auto source = ThumbnailCache::source(f.string());
        EXPECT_TRUE(fs::exists(service.cache().failurePath(*source))) << f;
        EXPECT_FALSE(fs::exists(service.cache().entryPath("large", *source))) << f;
    }

    // Not retried: the file is mended behind the service's back with its size and
    // mtime kept, so only a retry could produce a thumbnail; the record stays as it was.
    setMtime(hostileBroken, 1'500'000'000);
    expectIcon(requestSync(service, hostileBroken.string()), "broken");
    auto source = ThumbnailCache::source(hostileBroken.string());
    fs::path failure = service.cache().failurePath(*source);
    ASSERT_TRUE(fs::exists(failure));
    const std::int64_t recorded = mtimeNs(failure);
    writeFile(hostileBroken, png);
    setMtime(hostileBroken, 1'500'000'000);
    for (int i = 0; i < 3; ++i) expectIcon(requestSync(service, hostileBroken.string()), "mended, same mtime");
    EXPECT_EQ(mtimeNs(failure), recorded);
    EXPECT_FALSE(fs::exists(service.cache().entryPath("large", *source)));
    // Once the file changes visibly it is tried again.
    setMtime(hostileBroken, 1'500'000'060);
    EXPECT_EQ(requestSync(service, hostileBroken.string()).origin, ThumbnailResult::Origin::decoded);

    // Smaller requests get the icon at their size.
    EXPECT_EQ(requestSync(service, text.string(), {64, 64}).image.size(), QSize(64, 64));
    // The synchronous call reports the same failures as absent.
    EXPECT_FALSE(service.thumbnail(corrupt.string(), {256, 256}));
    EXPECT_TRUE(service.thumbnail(good.string(), {256, 256}));
}

TEST(ThumbnailService, CancelledCallbacksAreNeverCalled) {
    if (!haveImageTools()) GTEST_SKIP() << "ImageMagick missing";
    TempDir dir;
    std::vector<std::string> files;
    for (int i = 0; i < 12; ++i) {
        fs::path f = dir / ("p" + std::to_string(i) + ".png");
        ASSERT_TRUE(sh("convert -size " + std::to_string(200 + i * 37) + "x150 plasma:fractal " + shellQuote(f)));
        files.push_back(f.string());
    }
    for (int i = 0; i < 4; ++i) {
        fs::path f = dir / ("t" + std::to_string(i) + ".txt");
        writeFile(f, "text");
        files.push_back(f.string());
    }
    files.push_back((dir / "gone.jpg").string());

    struct Slot {
        std::atomic<int> calls{0};
        bool cancelled = false;
        int callsAtCancel = 0;
    };
    constexpr int kRequests = 300;
    auto tally = std::make_shared<std::vector<Slot>>(kRequests);
    ThumbnailService service(4);
    std::vector<ThumbnailRequest> requests;
    for (int i = 0; i < kRequests; ++i) {
        requests.push_back(service.request(files[static_cast<std::size_t>(i) % files.size()], {256, 256},
                                           [tally, i](const ThumbnailResult& r) {
                                               EXPECT_FALSE(r.image.isNull());
                                               (*tally)[static_cast<std::size_t>(i)].calls.fetch_add(1);
                                           }));
        if (i % 3 != 0) {
            Slot& s = (*tally)[static_cast<std::size_t>(i)];
            s.cancelled = requests.back().cancel();
            s.callsAtCancel = s.calls.load();
            // cancel() is true exactly when the callback had not run.
            EXPECT_EQ(s.cancelled, s.callsAtCancel == 0);
        }
    }
    auto live = [&] {
        for (int i = 0; i < kRequests; ++i)
            if (i % 3 == 0 && (*tally)[static_cast<std::size_t>(i)].calls.load() == 0) return false;
        return true;
    };
    ASSERT_TRUE(waitUntil(live, std::chrono::seconds(40)));
    // Grace period for stragglers that should never come.
    waitUntil([] { return false; }, std::chrono::milliseconds(300));
    int prevented = 0;
    for (int i = 0; i < kRequests; ++i) {
        const Slot& s = (*tally)[static_cast<std::size_t>(i)];
        if (i % 3 == 0) {
            EXPECT_EQ(s.calls.load(), 1) << i;
        } else {
            EXPECT_EQ(s.calls.load(), s.callsAtCancel) << i;
            prevented += s.cancelled;
        }
    }
    EXPECT_GT(prevented, kRequests / 3);  // most were cancelled before they ran
}

TEST(ThumbnailService, DestroyedServiceCallsNoMoreCallbacks) {
    TempDir dir;
    std::vector<std::string> files;
    // Types whose icons no earlier test drew, so that each goes to the main thread.
    const char* const extensions[] = {"csv", "sh", "c", "json", "xml", "md", "py", "html", "css", "js",
                                      "tex", "ics", "vcf", "diff", "sql", "rb", "java", "go", "rs", "ini"};
    for (const char* ext : extensions) {
        fs::path f = dir / (std::string("n.") + ext);
        writeFile(f, "x");
        files.push_back(f.string());
    }
    auto calls = std::make_shared<std::atomic<int>>(0);
    {
        ThumbnailService service(2);
        for (int round = 0; round < 5; ++round)
            for (const auto& f : files)
                service.request(f, {256, 256}, [calls](const ThumbnailResult&) { calls->fetch_add(1); });
        // Leave some work waiting for the main thread when the service goes.
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    const int atDestruction = calls->load();
    EXPECT_LT(atDestruction, 100);  // some were still waiting for their icon
    waitUntil([] { return false; }, std::chrono::milliseconds(300));
    EXPECT_EQ(calls->load(), atDestruction);
}

TEST(ThumbnailService, PicturesAndMoviesThatWouldTakeTooMuchMemoryAreRefusedUndecoded) {
    if (!haveImageTools() || !hasTool("ffmpeg")) GTEST_SKIP() << "ImageMagick or ffmpeg missing";
    TempDir dir;
    ThumbnailService service;
    auto ffmpeg = [&](const std::string& args, const fs::path& out) {
        return sh("ffmpeg -nostdin -v error " + args + " " + shellQuote(out));
    };
    // 10,240 x 10,240 (105 megapixels): a JPEG would decode at an eighth of
    // that, cheaply, but its size alone refuses it.
    const fs::path huge = dir / "huge.jpg";
    ASSERT_TRUE(ffmpeg("-f lavfi -i color=c=white:s=10240x10240 -frames:v 1", huge));
    EXPECT_EQ(capture("identify -ping -format %wx%h " + shellQuote(huge)), "10240x10240");
    // A movie whose stream is larger than 8192 x 8192 pixels.
    const fs::path wide = dir / "wide.mkv";
    ASSERT_TRUE(ffmpeg("-f lavfi -i color=c=blue:s=16400x4100:d=0.2:r=5 -c:v mjpeg", wide));
    EXPECT_EQ(capture("ffprobe -v error -select_streams v:0 -show_entries stream=width,height -of csv=p=0 " +
                      shellQuote(wide)),
              "16400,4100");
    for (const fs::path& f : {huge, wide}) {
        expectIcon(requestSync(service, f.string()), f.filename().string());
        // Refusing is the file's property: not tried again until it changes.
        EXPECT_TRUE(fs::exists(service.cache().failurePath(*ThumbnailCache::source(f.string())))) << f;
    }
    // Just inside every bound: still thumbnailed.
    const fs::path fine = dir / "fine.png", movie = dir / "fine.mkv";
    ASSERT_TRUE(ffmpeg("-f lavfi -i color=c=red:s=4000x4000 -frames:v 1", fine));
    ASSERT_TRUE(ffmpeg("-f lavfi -i color=c=blue:s=8192x2048:d=0.2:r=5 -c:v mjpeg", movie));
    for (const fs::path& f : {fine, movie})
        EXPECT_EQ(requestSync(service, f.string()).origin, ThumbnailResult::Origin::decoded) << f;
}

// Lowers the limit of open descriptors so that exactly `spare` are free,
// and restores it when it goes.
class ScarceDescriptors {
public:
    explicit ScarceDescriptors(int spare) {
        ::getrlimit(RLIMIT_NOFILE, &saved_);
        // Far below the usual limits, so that filling up is quick.
        rlimit low = saved_;
        low.rlim_cur = std::min<rlim_t>(saved_.rlim_cur, 512);
        ::setrlimit(RLIMIT_NOFILE, &low);
        for (;;) {
            int fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
            if (fd < 0) break;
            held_.push_back(fd);
        }
        for (int i = 0; i < spare && !held_.empty(); ++i) {
            ::close(held_.back());
            held_.pop_back();
        }
    }
    ~ScarceDescriptors() {
        for (int fd : held_) ::close(fd);
        ::setrlimit(RLIMIT_NOFILE, &saved_);
    }

private:
    rlimit saved_{};
    std::vector<int> held_;
};

TEST(ThumbnailService, DescriptorsRunningShortAreNotTakenForAFailureOfTheFile) {
    if (!hasTool("ffmpeg") || !hasTool("heif-enc") || !haveImageTools()) GTEST_SKIP() << "tools missing";
    TempDir dir;
    const fs::path movie = dir / "clip.mp4", warmMovie = dir / "warm.mp4";
    ASSERT_TRUE(sh("ffmpeg -nostdin -v error -f lavfi -i testsrc=s=320x240:d=1:r=10 -pix_fmt yuv420p " +
                   shellQuote(movie)));
    fs::copy_file(movie, warmMovie);
    const fs::path jpeg = dir / "p.jpg", photo = dir / "photo.heic", warmPhoto = dir / "warm.heic";
    ASSERT_TRUE(sh("convert -size 320x240 gradient:red-blue " + shellQuote(jpeg)));
    ASSERT_TRUE(sh("heif-enc -q 50 -o " + shellQuote(photo) + " " + shellQuote(jpeg)));
    fs::copy_file(photo, warmPhoto);

    int trial = 0;
    for (const fs::path* file : {&movie, &photo}) {
        const fs::path& warm = file == &movie ? warmMovie : warmPhoto;
        for (int spare : {1, 2}) {
            // A cache of its own each time, so that nothing is found there.
            ThumbnailCache cache(dir / ("cache" + std::to_string(trial++)));
            ThumbnailService service(1, cache);
            // The type databases and decoders load their files beforehand.
            ASSERT_TRUE(service.thumbnail(warm.string(), {256, 256}));
            std::optional<ThumbnailResult> made;
            {
                ScarceDescriptors scarce(spare);
                made = service.thumbnail(file->string(), {256, 256});
            }
            // The checked descriptor is all a decoder reads, so the thumbnail is
            // made; and no failure is recorded that would stop later tries.
            EXPECT_TRUE(made) << *file << " with " << spare << " spare";
            EXPECT_FALSE(fs::exists(cache.failurePath(*ThumbnailCache::source(file->string()))))
                << *file << " with " << spare << " spare";
            EXPECT_TRUE(service.thumbnail(file->string(), {256, 256})) << *file;
        }
    }
}

TEST(ThumbnailService, LeftoverTemporaryFilesOfOursAreRemovedFromTheCache) {
    if (!haveImageTools()) GTEST_SKIP() << "ImageMagick missing";
    TempDir dir;
    ThumbnailCache cache(dir / "thumbnails");
    const fs::path large = dir / "thumbnails" / "large";
    fs::create_directories(large);
    pid_t gone = ::fork();
    if (gone == 0) ::_exit(0);
    ::waitpid(gone, nullptr, 0);
    const std::string key = "0123456789abcdef0123456789abcdef";
    const fs::path ofGone = large / (key + ".png.qm-" + std::to_string(gone) + "-a1B2c3");
    const fs::path ofRunning = large / (key + ".png.qm-" + std::to_string(::getppid()) + "-a1B2c3");
    const fs::path oldUnmarked = large / (key + ".png.Zx9Qw1");
    const fs::path newUnmarked = large / (key + ".png.Zx9Qw2");
    const fs::path foreign = large / "gnome-thumbnail-Zx9Qw1";
    for (const fs::path& f : {ofGone, ofRunning, oldUnmarked, newUnmarked, foreign}) writeFile(f, "partial");
    setMtime(oldUnmarked, ::time(nullptr) - 3 * 24 * 3600);

    const fs::path photo = dir / "photo.png";
    ASSERT_TRUE(sh("convert -size 64x64 xc:red " + shellQuote(photo)));
    ThumbnailService service(1, cache);
    ASSERT_TRUE(service.thumbnail(photo.string(), {256, 256}));
    EXPECT_TRUE(fs::exists(cache.entryPath("large", *ThumbnailCache::source(photo.string()))));
    EXPECT_FALSE(fs::exists(ofGone));
    EXPECT_FALSE(fs::exists(oldUnmarked));
    EXPECT_TRUE(fs::exists(ofRunning));
    EXPECT_TRUE(fs::exists(newUnmarked));
    EXPECT_TRUE(fs::exists(foreign));
    // Our own writes leave nothing behind.
    size_t entries = 0;
    for (const auto& e : fs::directory_iterator(large)) entries += e.path().extension() == ".png";
    EXPECT_EQ(entries, 1u);
}
