#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <future>
#include <filesystem>
#include <random>
#include <string>

#include "media/ImageLocationReader.h"
#include "media/MediaInput.h"
#include "media/MovieLocationReader.h"
#include "support/TempDir.h"

namespace qm {
namespace {

namespace fs = std::filesystem;

bool have(const char* tool) {
    return std::system(("command -v " + std::string(tool) + " >/dev/null 2>&1").c_str()) == 0;
}

std::string q(const fs::path& p) {
    std::string out = "'";
    for (char c : p.string()) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

bool sh(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()) == 0; }

// An image made by ImageMagick with GPS tags written by exiftool (`gps` is a
// list of exiftool assignments, empty for none).
fs::path image(const fs::path& dir, const std::string& name, const std::string& gps) {
    const fs::path p = dir / name;
    EXPECT_TRUE(sh("convert -size 48x32 gradient:red-blue " + q(p)));
    if (!gps.empty()) {
        EXPECT_TRUE(sh("exiftool -q -overwrite_original " + gps + " " + q(p))) << name;
    }
    return p;
}

// A one-second movie made by ffmpeg, with a location when `iso6709` is given.
fs::path movie(const fs::path& dir, const std::string& name, const std::string& format, const std::string& iso6709) {
    const fs::path p = dir / name;
    std::string cmd = "ffmpeg -v error -y -f lavfi -i testsrc=duration=0.4:size=64x48:rate=5 -c:v mpeg4 ";
    if (!iso6709.empty()) cmd += "-metadata location=" + iso6709 + " ";
    EXPECT_TRUE(sh(cmd + "-f " + format + " " + q(p))) << name;
    return p;
}

void expectAt(const std::optional<GPS>& got, double lat, double lon, double tolerance, const std::string& what) {
    ASSERT_TRUE(got.has_value()) << what;
    EXPECT_NEAR(got->latitude, lat, tolerance) << what;
    EXPECT_NEAR(got->longitude, lon, tolerance) << what;
}

// Damaged variants of a good file: cut at several points, bytes overwritten,
// and random garbage under the same name. None may crash or hang; none may
// invent a position that the file does not hold.
template <typename Reader>
void damageDoesNotCrash(const fs::path& good, double lat, double lon) {
    const std::string bytes = test::readFile(good);
    ASSERT_FALSE(bytes.empty());
    const fs::path bad = good.parent_path() / ("damaged-" + good.filename().string());
    auto check = [&](const std::string& content, const std::string& what) {
        fs::remove(bad);
        test::writeFile(bad, content);
        auto got = Reader::read(bad.string());
        if (got) {
            EXPECT_NEAR(got->latitude, lat, 1e-3) << what;
            EXPECT_NEAR(got->longitude, lon, 1e-3) << what;
        }
    };
    for (size_t cut : {size_t{0}, size_t{2}, size_t{12}, size_t{40}, size_t{100}, bytes.size() / 3, bytes.size() / 2,
                       bytes.size() - 1})
        if (cut < bytes.size()) check(bytes.substr(0, cut), "cut at " + std::to_string(cut));
    std::mt19937 rng(7);
    for (int round = 0; round < 30; ++round) {
        std::string s = bytes;
        for (int k = 0; k < 8; ++k) s[rng() % s.size()] = static_cast<char>(rng());
        fs::remove(bad);
        test::writeFile(bad, s);
        (void)Reader::read(bad.string());  // any answer, but no crash
    }
    std::string garbage(5000, '\0');
    for (char& c : garbage) c = static_cast<char>(rng());
    fs::remove(bad);
    test::writeFile(bad, garbage);
    EXPECT_FALSE(Reader::read(bad.string())) << "garbage";
    EXPECT_FALSE(Reader::read((good.parent_path() / "missing.file").string()));
}

TEST(ImageLocationReader, ReadsGpsThatExiftoolWrote) {
    if (!have("convert") || !have("exiftool")) GTEST_SKIP() << "needs ImageMagick and exiftool";
    test::TempDir dir;
    expectAt(ImageLocationReader::read(image(dir.path(), "paris.jpg",
                                             "-GPSLatitude=48.8584 -GPSLatitudeRef=N -GPSLongitude=2.2945 "
                                             "-GPSLongitudeRef=E")
                                           .string()),
             48.8584, 2.2945, 1e-6, "N/E");
    expectAt(ImageLocationReader::read(image(dir.path(), "santiago.JPG",
                                             "-GPSLatitude=33.4489 -GPSLatitudeRef=S -GPSLongitude=70.6693 "
                                             "-GPSLongitudeRef=W")
                                           .string()),
             -33.4489, -70.6693, 1e-6, "S/W");
    expectAt(ImageLocationReader::read(image(dir.path(), "mixed.jpeg",
                                             "-GPSLatitude=-33.8568 -GPSLatitudeRef=South -GPSLongitude=-151.2153 "
                                             "-GPSLongitudeRef=East")
                                           .string()),
             -33.8568, 151.2153, 1e-6, "negative values with written refs");
    // Without the reference tags the hemisphere is unknown: read as north and east.
    expectAt(ImageLocationReader::read(
                 image(dir.path(), "noref.jpg", "-GPSLatitude=12.5 -GPSLongitude=99.25").string()),
             12.5, 99.25, 1e-6, "missing refs");
    // Both halves of the date line and the poles.
    expectAt(ImageLocationReader::read(image(dir.path(), "fiji.jpg",
                                             "-GPSLatitude=17.7134 -GPSLatitudeRef=S -GPSLongitude=179.99 "
                                             "-GPSLongitudeRef=W")
                                           .string()),
             -17.7134, -179.99, 1e-6, "date line");
    expectAt(ImageLocationReader::read(image(dir.path(), "pole.jpg",
                                             "-GPSLatitude=90 -GPSLatitudeRef=S -GPSLongitude=0 -GPSLongitudeRef=E")
                                           .string()),
             -90, 0, 1e-9, "south pole");

    EXPECT_FALSE(ImageLocationReader::read(image(dir.path(), "plain.jpg", "").string()));
    EXPECT_FALSE(ImageLocationReader::read(image(dir.path(), "other-exif.jpg", "-Make=Canon -Model=EOS").string()));
    EXPECT_FALSE(ImageLocationReader::read(
        image(dir.path(), "latonly.jpg", "-GPSLatitude=10 -GPSLatitudeRef=N").string()));
    EXPECT_FALSE(ImageLocationReader::read(image(dir.path(), "beyond.jpg",
                                                 "-GPSLatitude=95 -GPSLatitudeRef=N -GPSLongitude=10 "
                                                 "-GPSLongitudeRef=E")
                                               .string()))
        << "a latitude beyond the pole is no position";
}

TEST(ImageLocationReader, ReadsPngTiffAndWebp) {
    if (!have("convert") || !have("exiftool")) GTEST_SKIP() << "needs ImageMagick and exiftool";
    test::TempDir dir;
    const std::string gps = "-GPSLatitude=35.6586 -GPSLatitudeRef=N -GPSLongitude=139.7454 -GPSLongitudeRef=E";
    for (const char* name : {"tower.png", "tower.tif", "tower.webp"}) {
        const fs::path p = image(dir.path(), name, gps);
        expectAt(ImageLocationReader::read(p.string()), 35.6586, 139.7454, 1e-6, name);
    }
    EXPECT_FALSE(ImageLocationReader::read(image(dir.path(), "plain.png", "").string()));
}

TEST(ImageLocationReader, DamagedImagesYieldNothingAndNeverCrash) {
    if (!have("convert") || !have("exiftool")) GTEST_SKIP() << "needs ImageMagick and exiftool";
    test::TempDir dir;
    const std::string gps = "-GPSLatitude=48.8584 -GPSLatitudeRef=N -GPSLongitude=2.2945 -GPSLongitudeRef=E";
    damageDoesNotCrash<ImageLocationReader>(image(dir.path(), "good.jpg", gps), 48.8584, 2.2945);
    damageDoesNotCrash<ImageLocationReader>(image(dir.path(), "good.tif", gps), 48.8584, 2.2945);
    // A camera without a fix: every rational 0/0. exiftool will not write
    // that, so patch the values of a file it wrote (1 and 2 degrees, big-endian).
    {
        const fs::path p = image(dir.path(), "nofix.jpg",
                                 "-GPSLatitude=1 -GPSLatitudeRef=N -GPSLongitude=2 -GPSLongitudeRef=E");
        expectAt(ImageLocationReader::read(p.string()), 1, 2, 1e-9, "before patching");
        std::string bytes = test::readFile(p);
        auto rational = [](int degrees) {
            std::string s(24, '\0');
            s[3] = static_cast<char>(degrees);
            s[7] = s[15] = s[23] = 1;
            return s;
        };
        for (int deg : {1, 2}) {
            auto at = bytes.find(rational(deg));
            ASSERT_NE(at, std::string::npos) << deg;
            bytes.replace(at, 24, std::string(24, '\0'));
        }
        fs::remove(p);
        test::writeFile(p, bytes);
        EXPECT_FALSE(ImageLocationReader::read(p.string())) << "0/0 read as a position";
    }
    // Names that say image over contents that are not.
    test::writeFile(dir / "text.jpg", "hello, not a picture");
    test::writeFile(dir / "empty.png", "");
    EXPECT_FALSE(ImageLocationReader::read((dir / "text.jpg").string()));
    EXPECT_FALSE(ImageLocationReader::read((dir / "empty.png").string()));
    fs::create_directories(dir / "folder.jpg");
    EXPECT_FALSE(ImageLocationReader::read((dir / "folder.jpg").string()));

    EXPECT_TRUE(ImageLocationReader::handles("/a/IMG_1.JPG"));
    EXPECT_TRUE(ImageLocationReader::handles("/a/b.webp"));
    EXPECT_TRUE(ImageLocationReader::handles("/a/raw.NEF"));
    EXPECT_FALSE(ImageLocationReader::handles("/a/notes.txt"));
    EXPECT_FALSE(ImageLocationReader::handles("/a.jpg/noext"));
    EXPECT_FALSE(ImageLocationReader::handles("/a/jpg"));
}

// A phone-style photo: HEIF (or AVIF, by the name) encoded by libheif's heif-enc,
// positioned by exiftool.
fs::path heifPhoto(const fs::path& dir, const std::string& name, const std::string& exif) {
    const fs::path png = dir / (name + ".source.png");
    const fs::path p = dir / name;
    EXPECT_TRUE(sh("convert -size 64x48 gradient:red-blue -depth 8 " + q(png)));
    EXPECT_TRUE(sh("heif-enc -q 50 -o " + q(p) + " " + q(png))) << name;
    if (!exif.empty()) {
        EXPECT_TRUE(sh("exiftool -q -overwrite_original " + exif + " " + q(p))) << name;
    }
    return p;
}

TEST(ImageLocationReader, ReadsTheExifOfHeifAndAvifPhotos) {
    if (!have("convert") || !have("exiftool") || !have("heif-enc"))
        GTEST_SKIP() << "needs ImageMagick, exiftool, heif-enc";
    test::TempDir dir;
    const auto& d = dir.path();
    expectAt(
        ImageLocationReader::read(heifPhoto(d, "IMG_0001.HEIC",
                                            "-GPSLatitude=48.8584 -GPSLatitudeRef=N -GPSLongitude=2.2945 "
                                            "-GPSLongitudeRef=E -Make=Apple -Orientation=6 -n")
                                      .string()),
        48.8584, 2.2945, 1e-6, "heic");
    expectAt(
        ImageLocationReader::read(heifPhoto(d, "rio de janeiro.avif",
                                            "-GPSLatitude=22.9519 -GPSLatitudeRef=S -GPSLongitude=43.2105 "
                                            "-GPSLongitudeRef=W")
                                      .string()),
        -22.9519, -43.2105, 1e-6, "avif");
    // The name does not decide: a HEIC under another name is still read by its bytes.
    const fs::path renamed = d / "no extension";
    fs::copy_file(d / "IMG_0001.HEIC", renamed);
    expectAt(ImageLocationReader::read(renamed.string()), 48.8584, 2.2945, 1e-6, "renamed");
    EXPECT_FALSE(ImageLocationReader::read(heifPhoto(d, "plain.heic", "").string()));
    EXPECT_FALSE(
        ImageLocationReader::read(heifPhoto(d, "camera only.heic", "-Make=Apple -Model=iPhone").string()));
    EXPECT_TRUE(ImageLocationReader::handles("/p/IMG_0001.HEIC"));
    EXPECT_TRUE(ImageLocationReader::handles("/p/a.heif"));
    EXPECT_TRUE(ImageLocationReader::handles("/p/a.avif"));
    damageDoesNotCrash<ImageLocationReader>(d / "IMG_0001.HEIC", 48.8584, 2.2945);
}

TEST(MovieLocationReader, ReadsLocationsThatFfmpegWrote) {
    if (!have("ffmpeg")) GTEST_SKIP() << "needs ffmpeg";
    test::TempDir dir;
    const auto& d = dir.path();
    // MP4 and 3GP keep a fixed-point location box, QuickTime the ISO 6709 text.
    expectAt(MovieLocationReader::read(movie(d, "paris.mp4", "mp4", "+48.8584+002.2945/").string()), 48.8584,
             2.2945, 1e-4, "mp4");
    expectAt(MovieLocationReader::read(movie(d, "santiago.mp4", "mp4", "-33.4489-070.6693/").string()), -33.4489,
             -70.6693, 1e-4, "mp4 negative");
    expectAt(MovieLocationReader::read(movie(d, "paris.mov", "mov", "+48.8584+002.2945/").string()), 48.8584,
             2.2945, 1e-9, "mov");
    expectAt(MovieLocationReader::read(movie(d, "rio.MOV", "mov", "-22.9519-043.2105/").string()), -22.9519,
             -43.2105, 1e-9, "mov negative");
    expectAt(MovieLocationReader::read(movie(d, "everest.mov", "mov", "+27.5916+086.5640+8850/").string()), 27.5916,
             86.5640, 1e-9, "mov with altitude");
    expectAt(MovieLocationReader::read(movie(d, "everest.3gp", "3gp", "+27.5916+086.5640+8850/").string()),
             27.5916, 86.5640, 1e-4, "3gp with altitude");
    expectAt(MovieLocationReader::read(movie(d, "sydney.m4v", "ipod", "-33.8568+151.2153/").string()), -33.8568,
             151.2153, 1e-4, "m4v");

    EXPECT_FALSE(MovieLocationReader::read(movie(d, "none.mp4", "mp4", "").string()));
    EXPECT_FALSE(MovieLocationReader::read(movie(d, "none.mov", "mov", "").string()));
    EXPECT_FALSE(MovieLocationReader::read(movie(d, "junk.mov", "mov", "somewhere").string()));

    EXPECT_TRUE(MovieLocationReader::handles("/v/A.MP4"));
    EXPECT_TRUE(MovieLocationReader::handles("/v/a.3gp"));
    EXPECT_FALSE(MovieLocationReader::handles("/v/a.mkv"));
}

TEST(MovieLocationReader, DamagedMoviesYieldNothingAndNeverCrash) {
    if (!have("ffmpeg")) GTEST_SKIP() << "needs ffmpeg";
    test::TempDir dir;
    damageDoesNotCrash<MovieLocationReader>(movie(dir.path(), "good.mov", "mov", "+48.8584+002.2945/"), 48.8584,
                                            2.2945);
    damageDoesNotCrash<MovieLocationReader>(movie(dir.path(), "good.mp4", "mp4", "-33.4489-070.6693/"), -33.4489,
                                            -70.6693);
    test::writeFile(dir / "empty.mp4", "");
    EXPECT_FALSE(MovieLocationReader::read((dir / "empty.mp4").string()));
    fs::create_directories(dir / "folder.mov");
    EXPECT_FALSE(MovieLocationReader::read((dir / "folder.mov").string()));
}

// The crawl opens movies only with a demuxer for the type their name says: a file
// whose bytes claim another container, or a playlist or concat list under a movie's
// name that would pull in other files, is not read.
TEST(MovieLocationReader, ReadsOnlyTheFormatTheNameSays) {
    if (!have("ffmpeg")) GTEST_SKIP() << "needs ffmpeg";
    test::TempDir dir;
    const auto& d = dir.path();
    const fs::path located = movie(d, "paris.mov", "mov", "+48.8584+002.2945/");
    expectAt(MovieLocationReader::read(located.string()), 48.8584, 2.2945, 1e-9, "the real movie");
    // ffprobe shows the Matroska file's location tag, which a probing reader would take.
    const fs::path matroska = movie(d, "disguised.mp4", "matroska", "+48.8584+002.2945/");
    ASSERT_TRUE(sh("ffprobe -v error -show_entries format_tags=location -of csv=p=0 " + q(matroska) +
                   " | grep -q 48.8584"));
    EXPECT_FALSE(MovieLocationReader::read(matroska.string())) << "Matroska bytes under an MP4 name";
    fs::copy_file(matroska, d / "honest.mkv");
    EXPECT_TRUE(openMediaInput((d / "honest.mkv").string(), "honest.mkv")) << "the same bytes as what they are";

    test::writeFile(d / "list.mov", "ffconcat version 1.0\nfile paris.mov\n");
    EXPECT_FALSE(MovieLocationReader::read((d / "list.mov").string()));
    EXPECT_FALSE(openMediaInput((d / "list.mov").string(), "list.mov")) << "a concat list under a movie name";
    test::writeFile(d / "play.mp4", "#EXTM3U\n#EXT-X-TARGETDURATION:1\n#EXTINF:1,\nparis.mov\n#EXT-X-ENDLIST\n");
    EXPECT_FALSE(openMediaInput((d / "play.mp4").string(), "play.mp4")) << "a playlist under a movie name";
    EXPECT_FALSE(openMediaInput(located.string(), "paris")) << "no type, no demuxer";
}

TEST(MovieLocationReader, ParsesTheIso6709Forms) {
    expectAt(MovieLocationReader::parseISO6709("+48.8577+002.2950+035.000/"), 48.8577, 2.2950, 1e-12, "degrees");
    expectAt(MovieLocationReader::parseISO6709("-33.8568+151.2153/"), -33.8568, 151.2153, 1e-12, "signs");
    expectAt(MovieLocationReader::parseISO6709("+4851.5-00217.7/"), 48 + 51.5 / 60, -(2 + 17.7 / 60), 1e-9,
             "degrees and minutes");
    expectAt(MovieLocationReader::parseISO6709("+485130.24+0021740.2/"), 48 + 51 / 60.0 + 30.24 / 3600,
             2 + 17 / 60.0 + 40.2 / 3600, 1e-9, "degrees, minutes and seconds");
    expectAt(MovieLocationReader::parseISO6709("+90-180/"), 90, -180, 1e-12, "integers at the limits");
    for (const char* bad : {"", "/", "48.85+2.29/", "+48.85", "+48.85/", "+95.0+010.0/", "+45.0+190.0/",
                            "+4.5+010.0/", "++48.8+002.2/", "+.5+002.2/", "somewhere"})
        EXPECT_FALSE(MovieLocationReader::parseISO6709(bad)) << bad;
}

}  // namespace
}  // namespace qm

namespace qm {
namespace {

// What the crawl may meet under a media name after its lstat: a FIFO (no
// writer, so opening it for reading would wait forever), a device, a symlink.
TEST(LocationReaders, SpecialFilesAreRefusedWithoutBlocking) {
    test::TempDir dir;
    for (const char* name : {"pipe.jpg", "pipe.mp4"}) {
        const fs::path p = dir / name;
        ASSERT_EQ(::mkfifo(p.c_str(), 0600), 0);
        auto pending = std::async(std::launch::async, [p] {
            return ImageLocationReader::read(p.string()).has_value() ||
                   MovieLocationReader::read(p.string()).has_value();
        });
        if (pending.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
            ADD_FAILURE() << "reading " << name << " blocked";
            // Unblock the reader so the test can end.
            int fd = ::open(p.c_str(), O_WRONLY | O_NONBLOCK);
            if (fd >= 0) ::close(fd);
        }
        EXPECT_FALSE(pending.get()) << name;
    }
    EXPECT_FALSE(ImageLocationReader::read("/dev/zero"));
    EXPECT_FALSE(MovieLocationReader::read("/dev/null"));
    if (have("convert") && have("exiftool")) {
        const fs::path target = image(dir.path(), "real.jpg",
                                      "-GPSLatitude=10 -GPSLatitudeRef=N -GPSLongitude=20 -GPSLongitudeRef=E");
        fs::create_symlink(target, dir / "link.jpg");
        EXPECT_TRUE(ImageLocationReader::read(target.string()));
        EXPECT_FALSE(ImageLocationReader::read((dir / "link.jpg").string())) << "symlinks are not followed";
    }
}

}  // namespace
}  // namespace qm
