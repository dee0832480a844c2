// Writes a generated home directory for the index benchmarks: a nested tree of
// directories, small plain files, a share of them tagged in `user.xdg.tags`,
// JPEG copies with distinct EXIF GPS positions and movie copies with distinct
// locations. The media are patched copies of templates made once by real tools
// (bench/make-home makes them), so every copy is a file those tools would read.
//
// make-home-gen JPEG MP4 MOV DIR EXPECTED [--files N] [--dirs N] [--jpegs N]
//               [--movies N] [--seed N]
// Standard library and POSIX only.

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

[[noreturn]] void die(const std::string& what) {
    std::fprintf(stderr, "make-home: %s\n", what.c_str());
    std::exit(1);
}

std::string readAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) die("cannot read " + path);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void writeAll(const std::string& path, const char* data, size_t size) {
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0) die("cannot create " + path + ": " + std::strerror(errno));
    while (size > 0) {
        ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            die("cannot write " + path + ": " + std::strerror(errno));
        }
        data += n;
        size -= static_cast<size_t>(n);
    }
    ::close(fd);
}

// Offsets of the GPS values inside a JPEG's EXIF, found by walking its TIFF
// structure.
struct JpegGpsLayout {
    bool bigEndian = false;
    size_t latRef = 0, lat = 0, lonRef = 0, lon = 0;
};

JpegGpsLayout locateGps(const std::string& jpeg) {
    auto u8 = [&](size_t i) -> unsigned {
        if (i >= jpeg.size()) die("template JPEG: EXIF runs past the end");
        return static_cast<unsigned char>(jpeg[i]);
    };
    if (u8(0) != 0xFF || u8(1) != 0xD8) die("template JPEG: not a JPEG");
    size_t p = 2;
    while (true) {
        if (u8(p) != 0xFF) die("template JPEG: no EXIF segment");
        const unsigned marker = u8(p + 1);
        const size_t length = (u8(p + 2) << 8) | u8(p + 3);
        if (marker == 0xE1 && jpeg.compare(p + 4, 6, std::string("Exif\0\0", 6)) == 0) break;
        if (marker == 0xDA || marker == 0xD9) die("template JPEG: no EXIF segment");
        p += 2 + length;
    }
    const size_t tiff = p + 10;
    JpegGpsLayout out;
    out.bigEndian = jpeg.compare(tiff, 2, "MM") == 0;
    auto u16 = [&](size_t i) -> unsigned {
        return out.bigEndian ? (u8(tiff + i) << 8) | u8(tiff + i + 1) : u8(tiff + i) | (u8(tiff + i + 1) << 8);
    };
    auto u32 = [&](size_t i) -> uint32_t { return out.bigEndian ? (u16(i) << 16) | u16(i + 2) : u16(i) | (u16(i + 2) << 16); };
    // Entries of one IFD: tag -> offset (from the TIFF start) of its 4-byte value field.
    auto entries = [&](uint32_t ifd) {
        std::vector<std::pair<unsigned, size_t>> list;
        const unsigned count = u16(ifd);
        for (unsigned k = 0; k < count; ++k) list.emplace_back(u16(ifd + 2 + 12 * k), ifd + 2 + 12 * k + 8);
        return list;
    };
    uint32_t gpsIfd = 0;
    for (auto [tag, value] : entries(u32(4)))
        if (tag == 0x8825) gpsIfd = u32(value);
    if (!gpsIfd) die("template JPEG: no GPS IFD");
    for (auto [tag, value] : entries(gpsIfd)) {
        if (tag == 1) out.latRef = tiff + value;                // ASCII[2], inline
        if (tag == 2) out.lat = tiff + u32(value);              // RATIONAL[3]
        if (tag == 3) out.lonRef = tiff + value;
        if (tag == 4) out.lon = tiff + u32(value);
    }
    if (!out.latRef || !out.lat || !out.lonRef || !out.lon) die("template JPEG: GPS tags missing");
    if (out.lat + 24 > jpeg.size() || out.lon + 24 > jpeg.size()) die("template JPEG: GPS values past the end");
    return out;
}

void put32(std::string& s, size_t at, uint32_t v, bool bigEndian) {
    for (int i = 0; i < 4; ++i) {
        const int shift = bigEndian ? 24 - 8 * i : 8 * i;
        s[at + static_cast<size_t>(i)] = static_cast<char>((v >> shift) & 0xFF);
    }
}

// Degrees as degrees/1, minutes/1, seconds/10000; returns the value stored.
double putDms(std::string& s, size_t at, double degrees, bool bigEndian) {
    const uint64_t units = static_cast<uint64_t>(std::llround(std::fabs(degrees) * 3600.0 * 10000.0));
    const uint32_t d = static_cast<uint32_t>(units / 36000000), m = static_cast<uint32_t>(units / 600000 % 60),
                   sec = static_cast<uint32_t>(units % 600000);
    const uint32_t values[6] = {d, 1, m, 1, sec, 10000};
    for (int i = 0; i < 6; ++i) put32(s, at + 4 * static_cast<size_t>(i), values[i], bigEndian);
    return d + m / 60.0 + sec / 10000.0 / 3600.0;
}

// Where the 3GPP location box of an MP4 keeps its 16.16 longitude.
size_t locateLoci(const std::string& mp4) {
    const size_t box = mp4.find("loci");
    if (box == std::string::npos) die("template MP4: no location box");
    size_t p = box + 4 + 4 + 2;  // type, version and flags, language
    while (p < mp4.size() && mp4[p] != '\0') ++p;  // name
    p += 1 + 1;                                     // its terminator, role
    if (p + 8 > mp4.size()) die("template MP4: location box truncated");
    return p;
}

struct Place {
    double lat, lon;
};

// Where people take pictures: clusters around cities, the rest anywhere.
Place randomPlace(std::mt19937_64& rng) {
    static const Place cities[] = {
        {48.8584, 2.2945},    {51.5007, -0.1246},  {40.6892, -74.0445}, {35.6586, 139.7454}, {-33.8568, 151.2153},
        {-22.9519, -43.2105}, {55.7539, 37.6208},  {27.1751, 78.0421},  {-13.1631, -72.5450}, {30.0444, 31.2357},
        {64.1466, -21.9426},  {-34.6037, -58.3816}, {1.2834, 103.8607}, {37.8199, -122.4783}, {-54.8019, -68.3030},
        {78.2232, 15.6267},   {-77.8463, 166.6682}, {21.3069, -157.8583}, {-41.2865, 174.7762}, {19.4326, -99.1332},
        {52.5163, 13.3777},   {41.9029, 12.4534},  {39.9042, 116.4074}, {6.5244, 3.3792},    {-1.2921, 36.8219}};
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    Place p;
    if (unit(rng) < 0.8) {
        const Place& c = cities[rng() % std::size(cities)];
        std::normal_distribution<double> jitter(0.0, 0.3);
        p = {c.lat + jitter(rng), c.lon + jitter(rng)};
    } else {
        p = {std::asin(unit(rng) * 2 - 1) * 180 / M_PI, unit(rng) * 360 - 180};
    }
    p.lat = std::clamp(p.lat, -89.9, 89.9);
    if (p.lon > 180) p.lon -= 360;
    if (p.lon < -180) p.lon += 360;
    // Exactly 0,0 is what broken writers produce; keep it out of the fixtures.
    if (std::fabs(p.lat) < 0.001 && std::fabs(p.lon) < 0.001) p.lat = 0.5;
    return p;
}

std::vector<std::string> tagPool() {
    std::vector<std::string> pool = {
        "Important", "Family", "Work", "Travel", "Receipts", "To Do", "★", "Red", "Green", "Blue", "Orange",
        "Projects/Alpha", "Projects/Beta", "Projects/Alpha/Specs", "Travel/2019/Japan", "Travel/2021/Île-de-France",
        "Photos/Best of", "Music/Jazz", "Tax 2023", "日本", "Кошки", "Kids/School", "Home/Renovation", "Recipes",
        "Read later", "Archive", "Clients/Müller & Söhne", "Sport/Running", "Garden", "Car"};
    for (int i = 1; i <= 120; ++i) pool.push_back("Topic " + std::to_string(i));
    for (int i = 1; i <= 40; ++i) pool.push_back("Clients/Client " + std::to_string(i));
    return pool;
}

// A few hundred tag sets reused with a skewed frequency, as in real libraries.
std::vector<std::string> tagSets(std::mt19937_64& rng, const std::vector<std::string>& pool) {
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    std::vector<std::string> sets;
    for (int i = 0; i < 800; ++i) {
        const double r = unit(rng);
        const int count = r < 0.5 ? 1 : r < 0.8 ? 2 : r < 0.95 ? 3 : 4;
        std::set<std::string> tags;
        while (static_cast<int>(tags.size()) < count)
            tags.insert(pool[static_cast<size_t>(std::pow(unit(rng), 2.5) * static_cast<double>(pool.size()))]);
        std::string value;
        for (const auto& t : tags) value += (value.empty() ? "" : ",") + t;
        sets.push_back(value);
    }
    return sets;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 6) {
        std::fprintf(stderr, "usage: %s JPEG MP4 MOV DIR EXPECTED [--files N] [--dirs N] [--jpegs N] [--movies N] [--seed N]\n",
                     argv[0]);
        return 2;
    }
    const std::string jpegTemplate = readAll(argv[1]), mp4Template = readAll(argv[2]), movTemplate = readAll(argv[3]);
    const std::string root = argv[4], expectedPath = argv[5];
    long files = 200000, dirs = -1, jpegs = -1, movies = -1;
    uint64_t seed = 5;
    for (int i = 6; i + 1 < argc; i += 2) {
        const std::string opt = argv[i];
        const long v = std::strtol(argv[i + 1], nullptr, 10);
        if (opt == "--files") files = v;
        else if (opt == "--dirs") dirs = v;
        else if (opt == "--jpegs") jpegs = v;
        else if (opt == "--movies") movies = v;
        else if (opt == "--seed") seed = static_cast<uint64_t>(v);
        else die("unknown option " + opt);
    }
    if (files < 1) die("--files must be positive");
    if (dirs < 0) dirs = std::max(1L, files / 10);
    if (jpegs < 0) jpegs = files / 40;
    if (movies < 0) movies = files / 400;
    if (jpegs + movies > files) die("more media than files");

    const JpegGpsLayout gps = locateGps(jpegTemplate);
    const size_t loci = locateLoci(mp4Template);
    const std::string movMarker = "+48.8584+002.2945/";
    std::vector<size_t> movAt;
    for (size_t p = movTemplate.find(movMarker); p != std::string::npos; p = movTemplate.find(movMarker, p + 1))
        movAt.push_back(p);
    if (movAt.empty()) die("template MOV: no location text");

    std::mt19937_64 rng(seed);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    if (::mkdir(root.c_str(), 0755) != 0 && errno != EEXIST) die("cannot create " + root + ": " + std::strerror(errno));
    {
        const std::string probe = root + "/.make-home-probe";
        writeAll(probe, "", 0);
        const bool ok = ::lsetxattr(probe.c_str(), "user.xdg.tags", "x", 1, 0) == 0;
        ::unlink(probe.c_str());
        if (!ok) die("the file system of " + root + " does not take user extended attributes");
    }

    // Directories: the usual top-level folders, then each new one under a
    // random earlier one at most five levels deep.
    static const char* const top[] = {"Documents", "Pictures", "Music", "Videos", "Downloads", "Desktop", "Projects"};
    static const char* const words[] = {"Holiday", "src", "Invoices", "Camera Roll", "Été", "Backup", "old", "Notes",
                                        "Scans", "Projekt Übersicht", "2019-07 Trip", "misc", "Thesis", "build",
                                        "Recipes", "写真", "Screenshots", "Letters", "Band", "tmp"};
    std::vector<std::string> dirPaths;
    std::vector<int> depth;
    for (const char* t : top) {
        if (static_cast<long>(dirPaths.size()) >= dirs) break;
        dirPaths.push_back(root + "/" + t);
        depth.push_back(1);
    }
    while (static_cast<long>(dirPaths.size()) < dirs) {
        size_t parent;
        do parent = rng() % dirPaths.size();
        while (depth[parent] >= 5);
        const long n = static_cast<long>(dirPaths.size());
        const std::string word = words[rng() % std::size(words)];
        const std::string name = n % 3 == 0 ? word + " " + std::to_string(n) : n % 3 == 1 ? word + "_" + std::to_string(n)
                                                                                           : word + " (" + std::to_string(n) + ")";
        dirPaths.push_back(dirPaths[parent] + "/" + name);
        depth.push_back(depth[parent] + 1);
    }
    for (const auto& d : dirPaths)
        if (::mkdir(d.c_str(), 0755) != 0) die("cannot create " + d + ": " + std::strerror(errno));
    // A hidden folder the index skips; nothing in it counts.
    const std::string hidden = root + "/.cache";
    ::mkdir(hidden.c_str(), 0755);
    for (int i = 0; i < 20; ++i) writeAll(hidden + "/blob" + std::to_string(i), "cache", 5);

    const std::vector<std::string> pool = tagPool();
    const std::vector<std::string> sets = tagSets(rng, pool);
    auto pickTags = [&]() -> const std::string& {
        return sets[static_cast<size_t>(std::pow(unit(rng), 2.0) * static_cast<double>(sets.size()))];
    };
    auto tag = [&](const std::string& path, const std::string& value) {
        if (::lsetxattr(path.c_str(), "user.xdg.tags", value.data(), value.size(), 0) != 0)
            die("cannot tag " + path + ": " + std::strerror(errno));
    };

    std::string filler(8192, '\0');
    for (char& c : filler) c = static_cast<char>(rng());
    static const char* const docExt[] = {"txt", "md", "pdf", "c", "h", "odt", "docx", "csv", "json", "log", "zip", "mp3", "bin"};
    static const char* const docWords[] = {"notes", "report", "draft", "Invoice", "readme", "data", "Übersicht", "todo", "song", "letter"};
    static const char* const jpegNames[] = {"IMG_%05ld.JPG", "DSC%05ld.jpg", "photo %ld.jpeg", "PXL_2023%05ld.jpg"};

    long taggedFiles = 0, taggedDirs = 0, positionedImages = 0, positionedMovies = 0;
    std::ostringstream samples;
    samples.precision(10);
    int sampleImages = 0, sampleMovies = 0;
    std::string jpeg = jpegTemplate, mp4 = mp4Template, mov = movTemplate;
    char name[128];
    for (long i = 0; i < files; ++i) {
        const std::string& dir = dirPaths[rng() % dirPaths.size()];
        std::string path;
        bool positioned = false;
        if (i < jpegs) {
            std::snprintf(name, sizeof name, jpegNames[i % std::size(jpegNames)], i);
            path = dir + "/" + name;
            const Place p = randomPlace(rng);
            jpeg[gps.latRef] = p.lat < 0 ? 'S' : 'N';
            jpeg[gps.lonRef] = p.lon < 0 ? 'W' : 'E';
            double lat = putDms(jpeg, gps.lat, p.lat, gps.bigEndian);
            double lon = putDms(jpeg, gps.lon, p.lon, gps.bigEndian);
            if (p.lat < 0) lat = -lat;
            if (p.lon < 0) lon = -lon;
            writeAll(path, jpeg.data(), jpeg.size());
            if (sampleImages++ < 5) samples << "image\t" << path << "\t" << lat << "\t" << lon << "\n";
            positioned = true;
            ++positionedImages;
        } else if (i < jpegs + movies) {
            const Place p = randomPlace(rng);
            if ((i - jpegs) % 5 == 4) {
                // QuickTime: the location as ISO 6709 text of fixed width.
                std::snprintf(name, sizeof name, "%+08.4f%+09.4f/", p.lat, p.lon);
                for (size_t at : movAt) mov.replace(at, movMarker.size(), name);
                std::snprintf(name, sizeof name, "MOV_%05ld.MOV", i);
                path = dir + "/" + name;
                writeAll(path, mov.data(), mov.size());
                if (sampleMovies++ < 5)
                    samples << "movie\t" << path << "\t" << std::round(p.lat * 1e4) / 1e4 << "\t"
                            << std::round(p.lon * 1e4) / 1e4 << "\n";
            } else {
                // MP4: the 3GPP location box, 16.16 fixed point, longitude first.
                const auto lon = static_cast<int32_t>(std::lround(p.lon * 65536.0));
                const auto lat = static_cast<int32_t>(std::lround(p.lat * 65536.0));
                put32(mp4, loci, static_cast<uint32_t>(lon), true);
                put32(mp4, loci + 4, static_cast<uint32_t>(lat), true);
                std::snprintf(name, sizeof name, "VID_%05ld.mp4", i);
                path = dir + "/" + name;
                writeAll(path, mp4.data(), mp4.size());
                if (sampleMovies++ < 5)
                    samples << "movie\t" << path << "\t" << lat / 65536.0 << "\t" << lon / 65536.0 << "\n";
            }
            positioned = true;
            ++positionedMovies;
        } else {
            std::snprintf(name, sizeof name, "%s %ld.%s", docWords[rng() % std::size(docWords)], i,
                          docExt[rng() % std::size(docExt)]);
            path = dir + "/" + name;
            const size_t size = rng() % 5 == 0 ? 0 : rng() % 4096;
            writeAll(path, filler.data() + rng() % 4096, size);
        }
        (void)positioned;
        if (unit(rng) < 0.10) {
            tag(path, pickTags());
            ++taggedFiles;
        }
    }
    for (size_t d = 0; d < dirPaths.size(); d += 50) {
        tag(dirPaths[d], pickTags());
        ++taggedDirs;
    }

    std::ofstream expected(expectedPath);
    expected << "# make-home " << root << "\n"
             << "files=" << files << "\n"
             << "directories=" << dirPaths.size() << "\n"
             << "tagged_files=" << taggedFiles << "\n"
             << "tagged_directories=" << taggedDirs << "\n"
             << "tagged=" << taggedFiles + taggedDirs << "\n"
             << "positioned_images=" << positionedImages << "\n"
             << "positioned_movies=" << positionedMovies << "\n"
             << "positioned=" << positionedImages + positionedMovies << "\n";
    if (!expected) die("cannot write " + expectedPath);
    std::ofstream(expectedPath + ".samples") << samples.str();
    return 0;
}
