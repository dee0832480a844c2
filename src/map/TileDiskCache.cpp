#include "map/TileDiskCache.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <system_error>

#include "core/UniqueFd.h"

namespace qm {

namespace fs = std::filesystem;

namespace {

bool writeAll(int fd, const char* data, size_t size) {
    while (size > 0) {
        ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n;
        size -= size_t(n);
    }
    return true;
}

bool readAll(int fd, char* data, size_t size) {
    while (size > 0) {
        ssize_t n = ::read(fd, data, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n;
        size -= size_t(n);
    }
    return true;
}

}  // namespace

fs::path TileDiskCache::rootFor(const fs::path& cacheHome, const std::string& urlTemplate) {
    // FNV-1a: stable across runs and builds, unlike std::hash.
    uint64_t h = 1469598103934665603ull;
    for (unsigned char c : urlTemplate)
        h = (h ^ c) * 1099511628211ull;
    char name[17];
    std::snprintf(name, sizeof name, "%016llx", static_cast<unsigned long long>(h));
    return cacheHome / "quillomere" / "tiles" / name;
}

fs::path TileDiskCache::pathOf(const TileKey& key) const {
    return root_ / std::to_string(key.z) / std::to_string(key.x) / (std::to_string(key.y) + ".tile");
}

bool TileDiskCache::makePrivateFolders(const fs::path& base, const fs::path& folder) {
    const fs::path relative = folder.lexically_relative(base);
    if (relative.empty() || *relative.begin() == "..") return false;
    fs::path at = base;
    for (const fs::path& part : relative) {
        at /= part;
        if (::mkdir(at.c_str(), 0700) == 0) continue;
        if (errno != EEXIST) return false;
        // Not through a symbolic link, and only a folder of ours is changed.
        struct stat st {};
        if (::lstat(at.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return false;
        if (st.st_uid == ::geteuid() && (st.st_mode & 077) != 0) ::chmod(at.c_str(), 0700);
    }
    return true;
}

std::optional<TileDiskCache::Entry> TileDiskCache::read(const TileKey& key) const {
    const fs::path path = pathOf(key);
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK));
    if (!fd) return std::nullopt;
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
    const int64_t header = sizeof(int64_t);
    if (st.st_size <= header || st.st_size > header + TilePolicy::maxResponseBytes) return std::nullopt;
    int64_t seconds = 0;
    std::string bytes(size_t(st.st_size - header), '\0');
    if (!readAll(fd.get(), reinterpret_cast<char*>(&seconds), sizeof seconds) ||
        !readAll(fd.get(), bytes.data(), bytes.size()))
        return std::nullopt;
    // Last used: what the pruning keeps longest.
    const auto now = TilePolicy::Clock::now();
    const auto modified = TilePolicy::Clock::time_point(std::chrono::seconds(st.st_mtim.tv_sec));
    if (now - modified > std::chrono::hours(24)) ::futimens(fd.get(), nullptr);
    // Seconds far outside the clock's range (a damaged file) read as expired.
    constexpr int64_t latest = 7258118400;  // 2200-01-01
    const auto expiry =
        TilePolicy::Clock::time_point(std::chrono::seconds(std::clamp<int64_t>(seconds, 0, latest)));
    return Entry{std::move(bytes), expiry};
}

bool TileDiskCache::write(const TileKey& key, const std::string& bytes,
                          TilePolicy::Clock::time_point expiry) const {
    const fs::path target = pathOf(key);
    // The cache home's own folders (quillomere/tiles/<source>) are made
    // private too; the cache home itself is the user's business.
    const fs::path base = root_.parent_path().parent_path().parent_path();
    std::error_code ec;
    if (!fs::is_directory(base, ec) && !fs::create_directories(base, ec)) return false;
    if (!makePrivateFolders(base, target.parent_path())) return false;
    std::string temp = target.string() + ".XXXXXX";
    UniqueFd fd(::mkostemp(temp.data(), O_CLOEXEC));
    if (!fd) return false;
    const int64_t seconds =
        std::chrono::duration_cast<std::chrono::seconds>(expiry.time_since_epoch()).count();
    bool ok = writeAll(fd.get(), reinterpret_cast<const char*>(&seconds), sizeof seconds) &&
              writeAll(fd.get(), bytes.data(), bytes.size());
    fd.reset();
    if (ok) ok = ::rename(temp.c_str(), target.c_str()) == 0;
    if (!ok) ::unlink(temp.c_str());
    return ok;
}

void TileDiskCache::markUsed() const {
    const fs::path base = root_.parent_path().parent_path().parent_path();
    std::error_code ec;
    if (!fs::is_directory(base, ec) && !fs::create_directories(base, ec)) return;
    if (!makePrivateFolders(base, root_)) return;
    const fs::path marker = root_ / markerName;
    UniqueFd fd(::open(marker.c_str(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (fd) ::futimens(fd.get(), nullptr);
}

}  // namespace qm
