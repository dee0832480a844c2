#include "map/TileDiskCache.h"

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <system_error>

namespace qm {

namespace fs = std::filesystem;

fs::path TileDiskCache::rootFor(const fs::path& cacheHome, const std::string& urlTemplate) {
    // FNV-1a: stable across runs and builds, unlike std::hash.
    uint64_t h = 1469598103934665603ull;
    for (unsigned char c : urlTemplate) h = (h ^ c) * 1099511628211ull;
    char name[17];
    std::snprintf(name, sizeof name, "%016llx", static_cast<unsigned long long>(h));
    return cacheHome / "quillomere" / "tiles" / name;
}

fs::path TileDiskCache::pathOf(const TileKey& key) const {
    return root_ / std::to_string(key.z) / std::to_string(key.x) / (std::to_string(key.y) + ".tile");
}

std::optional<TileDiskCache::Entry> TileDiskCache::read(const TileKey& key) const {
    std::ifstream in(pathOf(key), std::ios::binary);
    if (!in) return std::nullopt;
    int64_t seconds = 0;
    if (!in.read(reinterpret_cast<char*>(&seconds), sizeof seconds)) return std::nullopt;
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (bytes.empty()) return std::nullopt;
    return Entry{std::move(bytes), TilePolicy::Clock::time_point(std::chrono::seconds(seconds))};
}

bool TileDiskCache::write(const TileKey& key, const std::string& bytes, TilePolicy::Clock::time_point expiry) const {
    fs::path target = pathOf(key);
    std::error_code ec;
    fs::create_directories(target.parent_path(), ec);
    if (ec) return false;
    fs::path temp = target;
    temp += ".part";
    {
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        int64_t seconds = std::chrono::duration_cast<std::chrono::seconds>(expiry.time_since_epoch()).count();
        out.write(reinterpret_cast<const char*>(&seconds), sizeof seconds);
        out.write(bytes.data(), std::streamsize(bytes.size()));
        if (!out.flush()) {
            fs::remove(temp, ec);
            return false;
        }
    }
    fs::rename(temp, target, ec);
    if (ec) fs::remove(temp, ec);
    return !ec;
}

}  // namespace qm
