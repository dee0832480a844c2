#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <vector>

#include "support/TempDir.h"
#include "media/FileByteSource.h"
#include "media/FileMetadata.h"
#include "media/MemoryByteSource.h"

namespace qm {
namespace {

namespace fs = std::filesystem;

// Fixtures are made once per run with the real tools (ImageMagick, exiftool, ffmpeg, img2webp).
class FileMetadataTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { dir_ = new test::TempDir("qm-media"); }
    static void TearDownTestSuite() {
        delete dir_;
        dir_ = nullptr;
    }
    static fs::path at(const std::string& name) { return *dir_ / name; }
    static void run(const std::string& command) {
        const std::string full = "cd '" + dir_->path().string() + "' && " + command + " >/dev/null 2>&1";
        ASSERT_EQ(std::system(full.c_str()), 0) << command;
    }
    static std::string bytes(const fs::path& p) {
        std::ifstream in(p, std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    static FileMetadata fromBytes(const std::string& b) {
        MemoryByteSource source({reinterpret_cast<const std::uint8_t*>(b.data()), b.size()});
        return readFileMetadata(source, {});
    }
    // Writes an XMP packet verbatim into a fresh JPEG.
    static fs::path jpegWithXmp(const std::string& name, const std::string& description) {
        const std::string packet =
            "<?xpacket begin='' id='W5M0MpCehiHzreSzNTczkc9d'?><x:xmpmeta xmlns:x='adobe:ns:meta/'>"
            "<rdf:RDF xmlns:rdf='http://www.w3.org/1999/02/22-rdf-syntax-ns#'>" +
            description + "</rdf:RDF></x:xmpmeta><?xpacket end='w'?>";
        test::writeFile(at(name + ".xmp"), packet);
        run("convert -size 64x32 xc:gray " + name + " && exiftool -q -overwrite_original '-XMP<=" + name +
            ".xmp' " + name);
        return at(name);
    }
    static inline test::TempDir* dir_ = nullptr;
};

constexpr const char* kGPanoTags =
    "-XMP-GPano:ProjectionType=equirectangular -XMP-GPano:CroppedAreaLeftPixels=100 "
    "-XMP-GPano:CroppedAreaTopPixels=50 -XMP-GPano:CroppedAreaImageWidthPixels=4000 "
    "-XMP-GPano:CroppedAreaImageHeightPixels=1800 -XMP-GPano:FullPanoWidthPixels=8000 "
    "-XMP-GPano:FullPanoHeightPixels=4000";
const GPano kExpected{100, 50, 4000, 1800, 8000, 4000};

TEST_F(FileMetadataTest, AnimatedImagesSumTheirFrameDelays) {
    std::string frames;
    for (int i = 0; i < 25; ++i)
        frames += i % 2 ? " xc:red" : " xc:blue";
    run("convert -size 16x16 -delay 10" + frames + " anim.gif");
    run("convert -size 16x16 -delay 10 xc:red one.gif && convert -size 16x16 xc:red one.png");
    run("convert -size 16x16 xc:red xc:blue nodelay.gif");  // two frames, no delay given
    run("ffmpeg -v error -f lavfi -i testsrc=size=32x32:rate=4 -frames:v 6 -plays 0 -f apng anim.png");
    run("convert -size 16x16 xc:red r.png && convert -size 16x16 xc:blue b.png && "
        "img2webp -loop 0 -d 200 r.png b.png r.png -o anim.webp && cwebp -quiet r.png -o still.webp && "
        "cwebp -quiet -lossless r.png -o lossless.webp");

    auto gif = readFileMetadata(at("anim.gif"));
    ASSERT_TRUE(gif.duration);
    EXPECT_NEAR(*gif.duration, 2.5, 1e-9);
    EXPECT_FALSE(gif.gpano);
    EXPECT_EQ(readFileMetadata(at("one.gif")), FileMetadata{});
    EXPECT_EQ(readFileMetadata(at("one.png")), FileMetadata{});
    EXPECT_EQ(readFileMetadata(at("nodelay.gif")).duration, 0.0);
    auto apng = readFileMetadata(at("anim.png"));
    ASSERT_TRUE(apng.duration);
    EXPECT_NEAR(*apng.duration, 1.5, 1e-9);
    auto webp = readFileMetadata(at("anim.webp"));
    ASSERT_TRUE(webp.duration);
    EXPECT_NEAR(*webp.duration, 0.6, 1e-9);
    EXPECT_EQ(readFileMetadata(at("still.webp")), FileMetadata{});
    EXPECT_EQ(readFileMetadata(at("lossless.webp")), FileMetadata{});

    // Damaged animations: every prefix is read without fault, never with a duration
    // longer than the whole file's.
    for (const char* name : {"anim.gif", "anim.png", "anim.webp"}) {
        const std::string b = bytes(at(name));
        const double whole = *readFileMetadata(at(name)).duration;
        for (std::size_t n = 0; n < b.size(); ++n) {
            auto d = fromBytes(b.substr(0, n)).duration;
            if (d) {
                EXPECT_LE(*d, whole + 1e-9) << name << " cut at " << n;
            }
        }
    }
}

TEST_F(FileMetadataTest, AviAndAsfHeaders) {
    run("ffmpeg -v error -f lavfi -i testsrc=size=32x32:rate=25 -t 2 -c:v mjpeg movie.avi");
    auto avi = readFileMetadata(at("movie.avi"));
    ASSERT_TRUE(avi.duration);
    EXPECT_NEAR(*avi.duration, 2.0, 1e-6);

    // A JUNK chunk before the header list is valid RIFF, but the header is not where
    // it is looked for.
    std::string b = bytes(at("movie.avi"));
    std::string junk = std::string("JUNK") + std::string("\x04\0\0\0", 4) + "pad!";
    b.insert(12, junk);
    std::uint32_t riffSize = static_cast<std::uint32_t>(b.size() - 8);
    for (int i = 0; i < 4; ++i)
        b[4 + i] = static_cast<char>(riffSize >> (8 * i));
    test::writeFile(at("junkfirst.avi"), b);
    EXPECT_FALSE(readFileMetadata(at("junkfirst.avi")).duration);

    run("ffmpeg -v error -f lavfi -i testsrc=size=32x32:rate=10 -t 2 -c:v wmv2 movie.asf");
    auto asf = readFileMetadata(at("movie.asf"));
    ASSERT_TRUE(asf.duration);
    EXPECT_NEAR(*asf.duration, 2.0, 0.15);

    // A stream header with no play time yet: the preroll exceeds it.
    std::string a = bytes(at("movie.asf"));
    const std::string fileProperties("\xA1\xDC\xAB\x8C\x47\xA9\xCF\x11\x8E\xE4\x00\xC0\x0C\x20\x53\x65", 16);
    std::size_t fpo = a.find(fileProperties);
    ASSERT_NE(fpo, std::string::npos);
    a.replace(fpo + 64, 8, std::string(8, '\0'));
    test::writeFile(at("preroll.asf"), a);
    auto negative = readFileMetadata(at("preroll.asf"));
    ASSERT_TRUE(negative.duration);
    EXPECT_LT(*negative.duration, 0.0);

    for (const char* name : {"movie.avi", "movie.asf"}) {
        const std::string whole = bytes(at(name));
        for (std::size_t n = 0; n < std::min<std::size_t>(whole.size(), 4096); ++n)
            fromBytes(whole.substr(0, n));
    }
    // Object sizes that point past the end or are too small to advance.
    for (std::uint64_t objectSize : {0ull, 23ull, 1ull << 40, ~0ull}) {
        std::string h = a;
        for (int i = 0; i < 8; ++i)
            h[30 + 16 + i] = static_cast<char>(objectSize >> (8 * i));
        EXPECT_FALSE(fromBytes(h).duration);
    }
}

TEST_F(FileMetadataTest, SoundsAndMoviesByFileName) {
    run("ffmpeg -v error -f lavfi -i testsrc=size=32x32:rate=25 -t 3 -c:v mpeg4 movie.mp4");
    run("ffmpeg -v error -f lavfi -i testsrc=size=32x32:rate=25 -t 2.5 -c:v mpeg4 movie.mkv");
    run("ffmpeg -v error -f lavfi -i sine=duration=1.5 sound.wav");
    run("ffmpeg -v error -f lavfi -i sine=duration=1 -c:a aac onlysound.mp4");
    EXPECT_NEAR(readFileMetadata(at("movie.mp4")).duration.value_or(-1), 3.0, 0.05);
    EXPECT_NEAR(readFileMetadata(at("movie.mkv")).duration.value_or(-1), 2.5, 0.05);
    EXPECT_NEAR(readFileMetadata(at("sound.wav")).duration.value_or(-1), 1.5, 0.01);
    EXPECT_FALSE(readFileMetadata(at("onlysound.mp4")).duration);  // a movie type without video

    // The same bytes without an extension, or under a non-media name, are not probed.
    fs::copy_file(at("movie.mp4"), at("movie"));
    fs::copy_file(at("movie.mp4"), at("movie.txt"));
    EXPECT_EQ(readFileMetadata(at("movie")), FileMetadata{});
    EXPECT_EQ(readFileMetadata(at("movie.txt")), FileMetadata{});
    test::writeFile(at("garbage.mp4"), std::string(4096, 'x'));
    EXPECT_EQ(readFileMetadata(at("garbage.mp4")), FileMetadata{});
}

TEST_F(FileMetadataTest, JpegPanoramas) {
    run("convert -size 64x32 xc:gray child.jpg && exiftool -q -overwrite_original " +
        std::string(kGPanoTags) + " child.jpg");
    run("convert -size 64x32 xc:gray attrs.jpg && exiftool -q -overwrite_original -api compact=shorthand " +
        std::string(kGPanoTags) + " attrs.jpg");
    run("convert -size 64x32 xc:gray exif.jpg && exiftool -q -overwrite_original -Make=Canon -Model=Test " +
        std::string(kGPanoTags) + " exif.jpg");
    EXPECT_EQ(readFileMetadata(at("child.jpg")).gpano, kExpected);
    EXPECT_EQ(readFileMetadata(at("attrs.jpg")).gpano, kExpected);
    const std::string exif = bytes(at("exif.jpg"));
    ASSERT_LT(exif.find("Exif"), exif.find("http://ns.adobe.com/xap/1.0/"));
    EXPECT_EQ(readFileMetadata(at("exif.jpg")), (FileMetadata{std::nullopt, kExpected}));

    const std::string ns = " xmlns:GPano='http://ns.google.com/photos/1.0/panorama/'";
    auto description = [&](const std::string& projection, const std::string& width) {
        return "<rdf:Description rdf:about=''" + ns + "><GPano:ProjectionType>" + projection +
               "</GPano:ProjectionType><GPano:CroppedAreaLeftPixels>-1</GPano:CroppedAreaLeftPixels>"
               "<GPano:CroppedAreaTopPixels>+2</GPano:CroppedAreaTopPixels>"
               "<GPano:CroppedAreaImageWidthPixels>" +
               width +
               "</GPano:CroppedAreaImageWidthPixels>"
               "<GPano:CroppedAreaImageHeightPixels>4</GPano:CroppedAreaImageHeightPixels>"
               "<GPano:FullPanoWidthPixels>5</GPano:FullPanoWidthPixels>"
               "<GPano:FullPanoHeightPixels>6</GPano:FullPanoHeightPixels></rdf:Description>";
    };
    EXPECT_EQ(readFileMetadata(jpegWithXmp("signs.jpg", description("equirectangular", "3"))).gpano,
              (GPano{-1, 2, 3, 4, 5, 6}));
    // A character reference splits the text; the value is still whole.
    EXPECT_EQ(readFileMetadata(jpegWithXmp("ref.jpg", description("equirectangular", "&#51;0"))).gpano,
              (GPano{-1, 2, 30, 4, 5, 6}));
    EXPECT_FALSE(readFileMetadata(jpegWithXmp("cyl.jpg", description("cylindrical", "3"))).gpano);
    EXPECT_FALSE(readFileMetadata(jpegWithXmp("nan.jpg", description("equirectangular", "wide"))).gpano);
    EXPECT_FALSE(readFileMetadata(jpegWithXmp("blank.jpg", description("equirectangular", " 3"))).gpano);
    EXPECT_FALSE(
        readFileMetadata(jpegWithXmp("huge.jpg", description("equirectangular", "99999999999999999999")))
            .gpano);
    // XMP without the GPano namespace: no record, and not an error.
    EXPECT_EQ(readFileMetadata(jpegWithXmp("plain.jpg", "<rdf:Description rdf:about=''/>")), FileMetadata{});
    // Broken XML after the namespace: no record, no fault.
    EXPECT_FALSE(
        readFileMetadata(jpegWithXmp("broken.jpg", description("equirectangular", "3").substr(0, 120)))
            .gpano);
}

// Segment offsets of a JPEG, for damaging it at each one.
std::vector<std::size_t> segmentStarts(const std::string& b) {
    std::vector<std::size_t> starts;
    std::size_t p = 2;
    while (p + 4 <= b.size() && static_cast<unsigned char>(b[p]) == 0xFF) {
        starts.push_back(p);
        if (static_cast<unsigned char>(b[p + 1]) == 0xDA) break;
        p += 2 + (static_cast<unsigned char>(b[p + 2]) << 8 | static_cast<unsigned char>(b[p + 3]));
    }
    return starts;
}

TEST_F(FileMetadataTest, DamagedJpegsYieldNothingAndNeverFault) {
    run("convert -size 64x32 xc:gray dmg.jpg && exiftool -q -overwrite_original -Make=Canon " +
        std::string(kGPanoTags) + " dmg.jpg");
    const std::string whole = bytes(at("dmg.jpg"));
    ASSERT_EQ(fromBytes(whole).gpano, kExpected);
    const std::size_t xmp = whole.find("http://ns.adobe.com/xap/1.0/");
    const auto starts = segmentStarts(whole);
    ASSERT_GE(starts.size(), 4u);

    // Every prefix: the record appears only once the whole XMP segment is there.
    for (std::size_t n = 0; n <= whole.size(); ++n) {
        auto gpano = fromBytes(whole.substr(0, n)).gpano;
        if (n < xmp) {
            EXPECT_FALSE(gpano) << n;
        }
    }
    for (std::size_t s : starts) {
        // Cut at the boundary, on disk too.
        test::writeFile(at("cut.jpg"), whole.substr(0, s));
        if (s < xmp) {
            EXPECT_FALSE(readFileMetadata(at("cut.jpg")).gpano);
        }
        for (std::uint16_t length : {0, 1, 2, 0xFFFF}) {
            std::string d = whole;
            d[s + 2] = static_cast<char>(length >> 8);
            d[s + 3] = static_cast<char>(length & 0xFF);
            auto gpano = fromBytes(d).gpano;
            if (s < xmp && length != 2) {
                EXPECT_FALSE(gpano) << s << " " << length;
            }
        }
    }
    // A zero-length (length 2) segment before the XMP is simply passed over.
    std::string withEmpty = whole;
    withEmpty.insert(2, std::string("\xFF\xE2\x00\x02", 4));
    EXPECT_EQ(fromBytes(withEmpty).gpano, kExpected);

    test::writeFile(at("short.jpg"), whole.substr(0, 15));
    EXPECT_EQ(readFileMetadata(at("short.jpg")), FileMetadata{});
    EXPECT_EQ(readFileMetadata(at("missing.jpg")), FileMetadata{});
    EXPECT_EQ(readFileMetadata(dir_->path()), FileMetadata{});
    ASSERT_EQ(::mkfifo(at("pipe.mp4").c_str(), 0600), 0);
    EXPECT_EQ(readFileMetadata(at("pipe.mp4")), FileMetadata{});  // returns at once, no writer needed
}

TEST_F(FileMetadataTest, CameraJpegCostsOnlySegmentHeaders) {
    run("convert -size 1600x1200 plasma:fractal -quality 90 cam.jpg && exiftool -q -overwrite_original "
        "-Make=Canon -Model=EOS '-ThumbnailImage<=cam.jpg' cam.jpg");
    FileByteSource source;
    ASSERT_TRUE(source.open(at("cam.jpg")));
    ASSERT_GT(source.size(), 100'000u);
    EXPECT_EQ(readFileMetadata(source, at("cam.jpg")), FileMetadata{});
    EXPECT_LT(source.bytesRead(), 1024u);
}

}  // namespace
}  // namespace qm
