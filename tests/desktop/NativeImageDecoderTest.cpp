// The decoders for what Qt's plugins do not read, on files made by real tools:
// HEIF and AVIF by heif-enc, raw files whose preview exiv2's own tool embedded,
// PDFs by Ghostscript. Orientation is checked against ImageMagick's -auto-orient.
#include <gtest/gtest.h>

#include <QColor>
#include <QImage>
#include <QMimeDatabase>

#include <filesystem>
#include <random>
#include <string>

#include "desktop/HeifImageDecoder.h"
#include "desktop/ImageOrientation.h"
#include "desktop/NativeImageDecoder.h"
#include "desktop/PdfPageRenderer.h"
#include "desktop/RawPreviewDecoder.h"
#include "desktop/ThumbnailService.h"
#include "desktop/ThumbnailTestSupport.h"
#include "support/TempDir.h"

namespace fs = std::filesystem;
using namespace qm;
using namespace qm::test;

namespace {

const auto* const kGui = ::testing::AddGlobalTestEnvironment(new GuiEnvironment);

char colourName(QColor c) {
    auto high = [](int v) { return v > 170; };
    auto low = [](int v) { return v < 90; };
    if (high(c.red()) && high(c.green()) && high(c.blue())) return 'W';
    if (high(c.red()) && low(c.green()) && low(c.blue())) return 'R';
    if (low(c.red()) && high(c.green()) && low(c.blue())) return 'G';
    if (low(c.red()) && low(c.green()) && high(c.blue())) return 'B';
    return '?';
}

// The colours at the centres of the four quarters, and whether the image is
// portrait: what a person sees of a turned or mirrored picture.
std::string layout(const QImage& image) {
    std::string out;
    for (auto [fx, fy] : {std::pair{0.25, 0.25}, {0.75, 0.25}, {0.25, 0.75}, {0.75, 0.75}})
        out += colourName(QColor(pixelAt(image, fx, fy)));
    return out + (image.height() > image.width() ? " portrait" : " landscape");
}

// 160 x 100: red, green over blue, white. Written as true colour: heif-enc of
// libheif 1.15 scrambles palette PNGs.
fs::path quarters(const fs::path& dir) {
    fs::path p = dir / "quarters.png";
    EXPECT_TRUE(
        sh("convert -size 80x50 xc:red xc:'#00ff00' +append \\( -size 80x50 xc:blue xc:white +append \\) "
           "-append +repage -depth 8 PNG24:" +
           shellQuote(p)));
    return p;
}

// What ImageMagick shows for the quarters with an EXIF orientation.
std::string expectedLayout(const fs::path& dir, int orientation) {
    const fs::path jpeg = dir / ("oriented" + std::to_string(orientation) + ".jpg");
    const fs::path shown = dir / ("shown" + std::to_string(orientation) + ".png");
    EXPECT_TRUE(sh("convert " + shellQuote(quarters(dir)) + " -quality 95 " + shellQuote(jpeg) +
                   " && exiftool -q -overwrite_original -n -Orientation=" + std::to_string(orientation) +
                   " " + shellQuote(jpeg) + " && convert " + shellQuote(jpeg) + " -auto-orient " +
                   shellQuote(shown)));
    return layout(QImage(QString::fromStdString(shown.string())));
}

bool haveHeifTools() {
    return hasTool("convert") && hasTool("heif-enc") && hasTool("exiftool");
}

// A raw file as cameras lay them out: a TIFF structure with the DNG tags, the
// camera's orientation, and a JPEG preview inserted by exiv2's own tool. No Debian
// tool writes a camera's CR2, ORF, RW2 or RAF; NEF, ARW and PEF are this same TIFF
// structure under the camera's name.
fs::path rawWithPreview(const fs::path& dir, const std::string& name, const fs::path& previewSource,
                        int orientation) {
    const fs::path raw = dir / name;
    const fs::path stem = raw.parent_path() / raw.stem();
    EXPECT_TRUE(sh("convert -size 64x40 xc:gray -depth 8 -compress none tiff:" + shellQuote(raw)));
    EXPECT_TRUE(
        sh("exiftool -q -overwrite_original -n -DNGVersion='1 4 0 0' -Make=Quillomere -Model=Test "
           "-Orientation=" +
           std::to_string(orientation) + " " + shellQuote(raw)));
    if (!previewSource.empty()) {
        EXPECT_TRUE(sh("convert " + shellQuote(previewSource) + " -quality 92 " +
                       shellQuote(stem.string() + "-thumb.jpg") + " && exiv2 -it " + shellQuote(raw) +
                       " && rm " + shellQuote(stem.string() + "-thumb.jpg")));
    }
    return raw;
}

}  // namespace

TEST(HeifImageDecoder, PhotosAreDecodedFittedAndTurnedAsTheirExifSays) {
    if (!haveHeifTools()) GTEST_SKIP() << "needs ImageMagick, heif-enc and exiftool";
    TempDir dir;
    const fs::path source = quarters(dir.path());
    for (int orientation = 1; orientation <= 8; ++orientation) {
        const fs::path heic = dir / ("photo " + std::to_string(orientation) + ".HEIC");
        ASSERT_TRUE(sh("heif-enc -q 90 -o " + shellQuote(heic) + " " + shellQuote(source)));
        ASSERT_TRUE(sh("exiftool -q -overwrite_original -n -Orientation=" + std::to_string(orientation) +
                       " " + shellQuote(heic)));
        auto image = HeifImageDecoder::decode(heic.string(), {256, 256});
        ASSERT_TRUE(image) << orientation;
        EXPECT_EQ(layout(*image), expectedLayout(dir.path(), orientation)) << "orientation " << orientation;
        // Never enlarged: the 160 x 100 photo stays that size, turned or not.
        EXPECT_EQ(image->width() * image->height(), 160 * 100) << orientation;
        auto small = HeifImageDecoder::decode(heic.string(), {64, 64});
        ASSERT_TRUE(small);
        EXPECT_EQ(std::max(small->width(), small->height()), 64) << orientation;
        EXPECT_EQ(layout(*small), layout(*image)) << orientation;
    }

    // AVIF, a large photo with a thumbnail item, and transparency kept.
    const fs::path avif = dir / "quarters.avif";
    ASSERT_TRUE(sh("heif-enc -q 90 -o " + shellQuote(avif) + " " + shellQuote(source)));
    auto fromAvif = HeifImageDecoder::decode(avif.string(), {256, 256});
    ASSERT_TRUE(fromAvif);
    EXPECT_EQ(layout(*fromAvif), "RGBW landscape");
    const fs::path big = dir / "big.png";
    const fs::path withThumb = dir / "with thumbnail.heic";
    ASSERT_TRUE(sh("convert " + shellQuote(source) + " -scale 1600x1000 PNG24:" + shellQuote(big) +
                   " && heif-enc -q 60 -t 320 -o " + shellQuote(withThumb) + " " + shellQuote(big)));
    auto fromThumb = HeifImageDecoder::decode(withThumb.string(), {256, 256});
    ASSERT_TRUE(fromThumb);
    EXPECT_EQ(fromThumb->size(), QSize(256, 160));
    EXPECT_EQ(layout(*fromThumb), "RGBW landscape");
    auto beyondThumb = HeifImageDecoder::decode(withThumb.string(), {800, 800});
    ASSERT_TRUE(beyondThumb);
    EXPECT_EQ(beyondThumb->size(), QSize(800, 500)) << "a thumbnail item smaller than asked is not stretched";
    const fs::path clear = dir / "clear.png";
    const fs::path alpha = dir / "alpha.heic";
    ASSERT_TRUE(sh("convert -size 40x40 xc:none -fill red -draw 'rectangle 0,0 19,39' -depth 8 PNG32:" +
                   shellQuote(clear) + " && heif-enc -q 90 -o " + shellQuote(alpha) + " " +
                   shellQuote(clear)));
    auto withAlpha = HeifImageDecoder::decode(alpha.string(), {256, 256});
    ASSERT_TRUE(withAlpha);
    EXPECT_TRUE(withAlpha->hasAlphaChannel());
    EXPECT_LT(qAlpha(withAlpha->pixel(35, 20)), 30);
    EXPECT_GT(qAlpha(withAlpha->pixel(5, 20)), 220);

    // Damaged files: cut short, bytes overwritten, not HEIF at all. None may crash.
    const std::string bytes = readFile(withThumb);
    std::mt19937 rng(3);
    for (size_t cut : {size_t{0}, size_t{20}, size_t{200}, bytes.size() / 2, bytes.size() - 1}) {
        const fs::path bad = dir / ("cut " + std::to_string(cut) + ".heic");
        writeFile(bad, bytes.substr(0, cut));
        (void)HeifImageDecoder::decode(bad.string(), {256, 256});
    }
    for (int round = 0; round < 20; ++round) {
        std::string s = bytes;
        for (int k = 0; k < 6; ++k)
            s[rng() % s.size()] = static_cast<char>(rng());
        const fs::path bad = dir / ("flipped " + std::to_string(round) + ".heic");
        writeFile(bad, s);
        (void)HeifImageDecoder::decode(bad.string(), {256, 256});
    }
    writeFile(dir / "text.heic", "not a photo");
    EXPECT_FALSE(HeifImageDecoder::decode((dir / "text.heic").string(), {256, 256}));
    EXPECT_FALSE(HeifImageDecoder::decode((dir / "missing.heic").string(), {256, 256}));
}

TEST(RawPreviewDecoder, TheEmbeddedPreviewIsShownTurnedByTheCamerasOrientation) {
    if (!haveHeifTools() || !hasTool("exiv2")) GTEST_SKIP() << "needs ImageMagick, exiftool and exiv2";
    TempDir dir;
    const fs::path source = quarters(dir.path());
    for (int orientation : {1, 3, 6, 8, 5}) {
        const fs::path raw =
            rawWithPreview(dir.path(), "IMG_" + std::to_string(orientation) + ".DNG", source, orientation);
        auto image = RawPreviewDecoder::decode(raw.string(), {256, 256});
        ASSERT_TRUE(image) << orientation;
        EXPECT_EQ(layout(*image), expectedLayout(dir.path(), orientation)) << "orientation " << orientation;
    }
    for (const char* name : {"DSC_0001.NEF", "DSC01234.ARW", "IMGP0001.PEF"}) {
        auto image =
            RawPreviewDecoder::decode(rawWithPreview(dir.path(), name, source, 1).string(), {64, 64});
        ASSERT_TRUE(image) << name;
        EXPECT_EQ(image->size(), QSize(64, 40)) << name;
    }
    // The thumbnail service and the preview window take the same path by type.
    QMimeDatabase types;
    for (const char* name : {"a.dng", "a.cr2", "a.nef", "a.arw", "a.orf", "a.rw2", "a.raf", "a.pef"})
        EXPECT_EQ(NativeImageDecoder::kindOf(types.mimeTypeForFile(name, QMimeDatabase::MatchExtension)),
                  NativeImageDecoder::Kind::raw)
            << name;
    EXPECT_EQ(NativeImageDecoder::kindOf(types.mimeTypeForFile("a.tiff", QMimeDatabase::MatchExtension)),
              NativeImageDecoder::Kind::none);
    // Without a preview, or not a raw at all: nothing, and no crash.
    EXPECT_FALSE(
        RawPreviewDecoder::decode(rawWithPreview(dir.path(), "bare.dng", {}, 1).string(), {256, 256}));
    writeFile(dir / "text.nef", "not a raw");
    EXPECT_FALSE(RawPreviewDecoder::decode((dir / "text.nef").string(), {256, 256}));
    const std::string bytes = readFile(dir / "IMG_6.DNG");
    for (size_t cut : {size_t{8}, size_t{100}, bytes.size() / 2, bytes.size() - 10}) {
        writeFile(dir / "cut.dng", bytes.substr(0, cut));
        (void)RawPreviewDecoder::decode((dir / "cut.dng").string(), {256, 256});
        fs::remove(dir / "cut.dng");
    }
}

TEST(PdfPageRenderer, TheFirstPageIsRenderedAtTheSizeShown) {
    if (!hasTool("gs")) GTEST_SKIP() << "needs Ghostscript";
    TempDir dir;
    auto pdf = [&](const std::string& name, int width, int height, const std::string& postscript,
                   const std::string& extra = {}) {
        const fs::path p = dir / name;
        EXPECT_TRUE(sh("gs -q -dNOPAUSE -dBATCH -sDEVICE=pdfwrite -dFIXEDMEDIA -dDEVICEWIDTHPOINTS=" +
                       std::to_string(width) + " -dDEVICEHEIGHTPOINTS=" + std::to_string(height) + " " +
                       extra + " -o " + shellQuote(p) + " -c " + shellQuote(postscript)));
        return p;
    };
    // A letter page, its bottom-left quarter red; the second page all blue.
    const fs::path letter = pdf("invoice 2024-03 «März».pdf", 612, 792,
                                "1 0 0 setrgbcolor 0 0 306 396 rectfill showpage "
                                "0 0 1 setrgbcolor 0 0 612 792 rectfill showpage");
    auto page = PdfPageRenderer::render(letter.string(), {256, 256});
    ASSERT_TRUE(page);
    EXPECT_EQ(page->height(), 256);
    EXPECT_NEAR(page->width(), 256.0 * 612 / 792, 1.0);
    EXPECT_EQ(colourName(QColor(pixelAt(*page, 0.2, 0.8))), 'R');
    EXPECT_EQ(colourName(QColor(pixelAt(*page, 0.8, 0.2))), 'W') << "white paper, and the first page only";
    // The preview asks for the screen's size and gets the page that large.
    auto preview = NativeImageDecoder::decode(letter.string(), NativeImageDecoder::Kind::pdf, {1200, 900});
    ASSERT_TRUE(preview);
    EXPECT_EQ(preview->height(), 900);

    // The page's claimed size never decides the raster's: a 5 m square page and a
    // strip beyond the format's limit stay within the box.
    auto huge = PdfPageRenderer::render(
        pdf("poster.pdf", 14400, 14400, "0 1 0 setrgbcolor 0 0 14400 14400 rectfill showpage").string(),
        {256, 256});
    ASSERT_TRUE(huge);
    EXPECT_EQ(huge->size(), QSize(256, 256));
    EXPECT_EQ(colourName(QColor(huge->pixel(128, 128))), 'G');
    auto strip = PdfPageRenderer::render(pdf("strip.pdf", 200000, 100, "showpage").string(), {256, 256});
    if (strip) {
        EXPECT_LE(strip->width(), 256);
        EXPECT_LE(strip->height(), 256);
    }

    // Locked, damaged or not a PDF: nothing, and no crash.
    EXPECT_FALSE(PdfPageRenderer::render(
        pdf("locked.pdf", 612, 792, "showpage", "-sOwnerPassword=owner -sUserPassword=user").string(),
        {256, 256}));
    const std::string bytes = readFile(letter);
    for (size_t cut : {size_t{0}, size_t{10}, size_t{300}, bytes.size() / 2}) {
        writeFile(dir / "cut.pdf", bytes.substr(0, cut));
        (void)PdfPageRenderer::render((dir / "cut.pdf").string(), {256, 256});
        fs::remove(dir / "cut.pdf");
    }
    writeFile(dir / "text.pdf", "%PDF-1.4 nothing else");
    EXPECT_FALSE(PdfPageRenderer::render((dir / "text.pdf").string(), {256, 256}));
}

// Through the thumbnail service, as the grid asks: decoded once, then from the cache.
TEST(ThumbnailService, PhonePhotosRawFilesAndPdfsGetThumbnails) {
    if (!haveHeifTools() || !hasTool("exiv2") || !hasTool("gs")) GTEST_SKIP() << "needs the image tools";
    TempDir dir;
    const fs::path source = quarters(dir.path());
    const fs::path heic = dir / "IMG_0001.HEIC";
    ASSERT_TRUE(sh("heif-enc -q 90 -o " + shellQuote(heic) + " " + shellQuote(source)));
    const fs::path raw = rawWithPreview(dir.path(), "IMG_0002.dng", source, 6);
    const fs::path pdf = dir / "scan.pdf";
    ASSERT_TRUE(sh("gs -q -dNOPAUSE -dBATCH -sDEVICE=pdfwrite -o " + shellQuote(pdf) + " -c showpage"));
    ThumbnailService service(2);
    for (const fs::path& file : {heic, raw, pdf}) {
        auto done = std::make_shared<std::atomic<bool>>(false);
        auto got = std::make_shared<ThumbnailResult>();
        service.request(file.string(), {256, 256}, [done, got](const ThumbnailResult& r) {
            *got = r;
            done->store(true);
        });
        ASSERT_TRUE(waitUntil([&] { return done->load(); })) << file;
        EXPECT_EQ(got->origin, ThumbnailResult::Origin::decoded) << file;
        const fs::path entry = service.cache().entryPath("large", *ThumbnailCache::source(file.string()));
        EXPECT_EQ(capture("identify -format '%wx%h' " + shellQuote(entry)),
                  std::to_string(got->image.width()) + "x" + std::to_string(got->image.height()))
            << file;
        auto again = service.thumbnail(file.string(), {256, 256});
        ASSERT_TRUE(again) << file;
        EXPECT_EQ(again->origin, ThumbnailResult::Origin::cache) << file;
    }
    auto rawThumb = service.thumbnail(raw.string(), {256, 256});
    EXPECT_EQ(layout(rawThumb->image), expectedLayout(dir.path(), 6));
}
