#include "desktop/ThumbnailCache.h"

#include "core/FileURL.h"
#include "core/Mutex.h"
#include "core/UniqueFd.h"
#include "core/XdgDirectories.h"
#include "platform/FileOperationsPosix.h"

#include <QBuffer>
#include <QByteArray>
#include <QCryptographicHash>
#include <QFile>
#include <QImageReader>
#include <QImageWriter>

#include <array>
#include <optional>
#include <set>
#include <string_view>
#include <vector>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <ctime>
#include <sys/stat.h>
#include <unistd.h>

#ifndef QM_VERSION
#define QM_VERSION "0.1"
#endif

namespace qm {
namespace {

constexpr int kNormalSize = 128;
constexpr int kLargeSize = 256;
constexpr char kFailureDirectory[] = "quillomere-" QM_VERSION;

std::filesystem::path defaultRoot() { return std::filesystem::path(xdgCacheHome()) / "thumbnails"; }

QString qPath(const std::filesystem::path& p) { return QFile::decodeName(QByteArray(p.c_str())); }

// Creates missing directories with mode 0700, as the cache is private to the user.
bool ensureDirectory(const std::filesystem::path& dir) { return posix::makeDirectories(dir.string(), 0700).ok; }

std::uint32_t crc32(const char* data, std::size_t n, std::uint32_t crc = 0) {
    static const auto table = [] {
        std::array<std::uint32_t, 256> t{};
        for (std::uint32_t i = 0; i < 256; ++i) {
            std::uint32_t c = i;
            for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[i] = c;
        }
        return t;
    }();
    crc = ~crc;
    for (std::size_t i = 0; i < n; ++i)
        crc = table[(crc ^ static_cast<unsigned char>(data[i])) & 0xFF] ^ (crc >> 8);
    return ~crc;
}

void appendBigEndian(QByteArray& out, std::uint32_t v) {
    const char b[4] = {char(v >> 24), char(v >> 16), char(v >> 8), char(v)};
    out.append(b, 4);
}

QByteArray textChunk(const QByteArray& key, const QByteArray& value) {
    QByteArray body = "tEXt" + key + '\0' + value;
    QByteArray chunk;
    appendBigEndian(chunk, static_cast<std::uint32_t>(body.size() - 4));
    chunk += body;
    appendBigEndian(chunk, crc32(body.constData(), static_cast<std::size_t>(body.size())));
    return chunk;
}

// Qt compresses long text values into zTXt; the keys go in plain tEXt chunks right
// after IHDR instead, which every reader of the cache understands.
QByteArray encodePng(const QImage& image, const std::vector<std::pair<QByteArray, QByteArray>>& text) {
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "png");
    if (!writer.write(image)) return {};
    constexpr int kAfterIhdr = 8 + 4 + 4 + 13 + 4;
    if (png.size() < kAfterIhdr || png.mid(12, 4) != "IHDR") return {};
    QByteArray chunks;
    for (const auto& [k, v] : text) chunks += textChunk(k, v);
    png.insert(kAfterIhdr, chunks);
    return png;
}

// Our temporary names: "KEY.png.qm-PID-XXXXXX", so that a leftover can be told
// from other programs' and its writer looked for.
constexpr std::string_view kTempMark = ".png.qm-";

// The process whose temporary file this is, when it is one of ours.
std::optional<pid_t> writerOf(std::string_view name) {
    const size_t mark = name.find(kTempMark);
    if (mark == std::string_view::npos || mark == 0) return std::nullopt;
    std::string_view rest = name.substr(mark + kTempMark.size());
    const size_t dash = rest.find('-');
    if (dash == 0 || dash == std::string_view::npos || rest.size() - dash - 1 != 6) return std::nullopt;
    long long pid = 0;
    for (char c : rest.substr(0, dash)) {
        if (c < '0' || c > '9' || pid > 1'000'000'000) return std::nullopt;
        pid = pid * 10 + (c - '0');
    }
    return pid_t(pid);
}

// An entry name as earlier versions of ours left it ("KEY.png.XXXXXX"); other
// programs name theirs so too, so only old ones count.
bool isOldTemporary(std::string_view name) {
    if (name.size() != 32 + 4 + 7 || name.substr(32, 5) != ".png.") return false;
    for (char c : name.substr(0, 32))
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
    return true;
}

// Removes the temporary files writes of ours cut off (a crash, a full disk)
// left in a folder of the cache: those of processes that are gone, and old
// ones without a writer's mark. Once per folder and process, before the
// first write there.
void removeLeftovers(const std::filesystem::path& dir) {
    struct Swept {
        Mutex mutex;
        std::set<std::string> folders ABSL_GUARDED_BY(mutex);
    };
    static Swept swept;
    {
        MutexLock lock(swept.mutex);
        if (swept.folders.count(dir.string())) return;
    }
    DIR* listing = ::opendir(dir.c_str());
    if (!listing) return;
    const int dirfd = ::dirfd(listing);
    const time_t dayAgo = ::time(nullptr) - 24 * 3600;
    std::vector<std::string> leftovers;
    while (const dirent* ent = ::readdir(listing)) {
        std::string_view name = ent->d_name;
        struct stat st {};
        if (::fstatat(dirfd, ent->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode)) continue;
        if (std::optional<pid_t> pid = writerOf(name)) {
            if (*pid == ::getpid() || (*pid > 0 && (::kill(*pid, 0) == 0 || errno != ESRCH))) continue;
        } else if (!isOldTemporary(name) || st.st_mtim.tv_sec > dayAgo) {
            continue;
        }
        leftovers.emplace_back(name);
    }
    for (const std::string& name : leftovers) ::unlinkat(dirfd, name.c_str(), 0);
    ::closedir(listing);
    MutexLock lock(swept.mutex);
    swept.folders.insert(dir.string());
}

bool writeAtomically(const std::filesystem::path& file, const QByteArray& bytes) {
    removeLeftovers(file.parent_path());
    std::string temp = file.string();
    temp.replace(temp.size() - 4, 4, std::string(kTempMark) + std::to_string(::getpid()) + "-XXXXXX");
    UniqueFd fd(::mkostemp(temp.data(), O_CLOEXEC));
    if (!fd) return false;
    bool ok = ::fchmod(fd.get(), 0600) == 0;
    const char* p = bytes.constData();
    std::size_t left = static_cast<std::size_t>(bytes.size());
    while (ok && left > 0) {
        ssize_t n = ::write(fd.get(), p, left);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) ok = false;
        else p += n, left -= static_cast<std::size_t>(n);
    }
    ok = (fd.close() == 0) && ok;
    ok = ok && ::rename(temp.c_str(), file.c_str()) == 0;
    if (!ok) ::unlink(temp.c_str());
    return ok;
}

// Thumb::MTime is an integer of seconds; a fractional part some writers add is ignored.
std::optional<std::int64_t> parseSeconds(const QString& text) {
    QString whole = text.section(u'.', 0, 0).trimmed();
    bool ok = false;
    qint64 v = whole.toLongLong(&ok);
    return ok ? std::optional<std::int64_t>(v) : std::nullopt;
}

bool keysMatch(const QString& uri, const QString& mtime, const QString& size,
               const ThumbnailCache::Source& source) {
    if (uri != QString::fromStdString(source.uri)) return false;
    if (parseSeconds(mtime) != source.mtime) return false;
    // Optional; when present it catches a file rewritten within the same second.
    if (!size.isEmpty() && parseSeconds(size) != source.size) return false;
    return true;
}

QImage fitted(QImage image, QSize maxSize) {
    if (image.width() > maxSize.width() || image.height() > maxSize.height())
        image = image.scaled(maxSize, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    return image;
}

}  // namespace

ThumbnailCache::ThumbnailCache() : root_(defaultRoot()) {}
ThumbnailCache::ThumbnailCache(std::filesystem::path root) : root_(std::move(root)) {}

std::string ThumbnailCache::fileUri(std::string_view absolutePath) {
    // The punctuation g_filename_to_uri leaves unescaped in a path, so the
    // names match the entries other programs make.
    return "file://" + percentEncode(absolutePath, "!$&'()*+,-./:=@_~");
}

std::string ThumbnailCache::keyForUri(std::string_view uri) {
    QByteArray digest = QCryptographicHash::hash(
        QByteArrayView(uri.data(), static_cast<qsizetype>(uri.size())), QCryptographicHash::Md5);
    return digest.toHex().toStdString();
}

std::optional<ThumbnailCache::Source> ThumbnailCache::source(const std::string& path) {
    if (path.empty()) return std::nullopt;
    std::error_code ec;
    std::filesystem::path abs = std::filesystem::absolute(path, ec).lexically_normal();
    if (ec) return std::nullopt;
    std::string p = abs.string();
    while (p.size() > 1 && p.back() == '/') p.pop_back();
    struct stat st {};
    if (::stat(p.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
    Source s;
    s.path = p;
    s.uri = fileUri(p);
    s.key = keyForUri(s.uri);
    s.mtime = st.st_mtim.tv_sec;
    s.size = st.st_size;
    return s;
}

std::filesystem::path ThumbnailCache::entryPath(std::string_view flavour, const Source& source) const {
    return root_ / std::string(flavour) / (source.key + ".png");
}

std::filesystem::path ThumbnailCache::failurePath(const Source& source) const {
    return root_ / "fail" / kFailureDirectory / (source.key + ".png");
}

bool ThumbnailCache::contains(const std::string& absolutePath) const {
    std::string prefix = root_.string() + "/";
    return absolutePath.compare(0, prefix.size(), prefix) == 0;
}

std::optional<QImage> ThumbnailCache::readFresh(const std::filesystem::path& file,
                                                const Source& source) const {
    QImageReader reader(qPath(file), "png");
    if (!reader.canRead()) return std::nullopt;
    // Writers usually put the keys before the pixels: reject stale entries undecoded.
    QString uri = reader.text(QStringLiteral("Thumb::URI"));
    QString mtime = reader.text(QStringLiteral("Thumb::MTime"));
    if (!uri.isEmpty() && !mtime.isEmpty() &&
        !keysMatch(uri, mtime, reader.text(QStringLiteral("Thumb::Size")), source))
        return std::nullopt;
    QImage image = reader.read();
    if (image.isNull()) return std::nullopt;
    if (!keysMatch(image.text(QStringLiteral("Thumb::URI")), image.text(QStringLiteral("Thumb::MTime")),
                   image.text(QStringLiteral("Thumb::Size")), source))
        return std::nullopt;
    return image;
}

std::optional<QImage> ThumbnailCache::find(const Source& source, QSize maxSize) const {
    if (maxSize.width() <= kNormalSize && maxSize.height() <= kNormalSize) {
        if (auto image = readFresh(entryPath("normal", source), source)) return fitted(*image, maxSize);
    }
    if (auto image = readFresh(entryPath("large", source), source)) return fitted(*image, maxSize);
    return std::nullopt;
}

bool ThumbnailCache::writeEntry(const std::filesystem::path& file, const QImage& image,
                                const Source& source, const QString& mimeType) const {
    if (!ensureDirectory(file.parent_path())) return false;
    std::vector<std::pair<QByteArray, QByteArray>> text = {
        {"Thumb::URI", QByteArray::fromStdString(source.uri)},
        {"Thumb::MTime", QByteArray::number(static_cast<qlonglong>(source.mtime))},
        {"Thumb::Size", QByteArray::number(static_cast<qlonglong>(source.size))},
        {"Software", "Quillomere " QM_VERSION},
    };
    // tEXt is Latin-1; a MIME type is ASCII.
    if (!mimeType.isEmpty()) text.emplace_back("Thumb::Mimetype", mimeType.toLatin1());
    QByteArray png = encodePng(image, text);
    return !png.isEmpty() && writeAtomically(file, png);
}

bool ThumbnailCache::store(const Source& source, const QImage& thumbnail, const QString& mimeType) const {
    if (thumbnail.isNull() || contains(source.path)) return false;
    return writeEntry(entryPath("large", source), fitted(thumbnail, QSize(kLargeSize, kLargeSize)),
                      source, mimeType);
}

bool ThumbnailCache::hasFailure(const Source& source) const {
    return readFresh(failurePath(source), source).has_value();
}

bool ThumbnailCache::recordFailure(const Source& source) const {
    if (contains(source.path)) return false;
    QImage marker(1, 1, QImage::Format_ARGB32);
    marker.fill(Qt::transparent);
    return writeEntry(failurePath(source), marker, source, {});
}

}  // namespace qm
