#include "map/TileCachePruner.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <numeric>
#include <system_error>

#include "core/UniqueFd.h"
#include "map/TileDiskCache.h"

namespace qm {

namespace fs = std::filesystem;

TileCachePruner::Plan TileCachePruner::plan(const std::vector<Tree>& trees, const std::vector<Tile>& tiles,
                                            std::string_view currentTree, Clock::time_point now,
                                            int64_t capBytes) {
    Plan out;
    std::vector<bool> treeRemoved(trees.size(), false);
    for (size_t i = 0; i < trees.size(); ++i)
        if (trees[i].name != currentTree && now - trees[i].lastUse > TilePolicy::minimumLifetime) {
            treeRemoved[i] = true;
            out.trees.push_back(i);
        }
    std::vector<size_t> kept;
    for (size_t i = 0; i < tiles.size(); ++i) {
        if (tiles[i].tree < trees.size() && treeRemoved[tiles[i].tree]) continue;
        if (tiles[i].expiry < now)
            out.tiles.push_back(i);
        else
            kept.push_back(i);
    }
    int64_t total = 0;
    for (size_t i : kept)
        total += tiles[i].bytes;
    if (total > capBytes) {
        // Used longest ago first; the path breaks ties so the plan is the same every time.
        std::sort(kept.begin(), kept.end(), [&](size_t a, size_t b) {
            if (tiles[a].lastUse != tiles[b].lastUse) return tiles[a].lastUse < tiles[b].lastUse;
            return tiles[a].path < tiles[b].path;
        });
        const int64_t target = capBytes - capBytes / 10;
        size_t evicted = 0;
        while (evicted < kept.size() && total > target) {
            total -= tiles[kept[evicted]].bytes;
            out.tiles.push_back(kept[evicted++]);
        }
    }
    out.keptBytes = total;
    return out;
}

namespace {

TilePolicy::Clock::time_point modified(const struct stat& st) {
    return TilePolicy::Clock::time_point(std::chrono::seconds(st.st_mtim.tv_sec));
}

// The expiry at the start of a tile file; a file too short to hold one reads as expired.
TilePolicy::Clock::time_point expiryOf(const fs::path& path) {
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK));
    int64_t seconds = 0;
    if (!fd || ::read(fd.get(), &seconds, sizeof seconds) != ssize_t(sizeof seconds)) return {};
    constexpr int64_t latest = 7258118400;  // 2200-01-01, as the cache reads it
    return TilePolicy::Clock::time_point(std::chrono::seconds(std::clamp<int64_t>(seconds, 0, latest)));
}

}  // namespace

TileCachePruner::Result TileCachePruner::prune(const fs::path& tilesFolder, std::string_view currentTree,
                                               Clock::time_point now, int64_t capBytes,
                                               const std::atomic<bool>* cancel) {
    auto cancelled = [cancel] { return cancel && cancel->load(std::memory_order_relaxed); };
    Result result;
    std::vector<Tree> trees;
    std::vector<Tile> tiles;
    std::vector<fs::path> treeFolders;
    std::vector<fs::path> folders;
    std::error_code ec;
    for (fs::directory_iterator it(tilesFolder, ec), end; !ec && it != end; it.increment(ec)) {
        if (cancelled()) return result;
        // Symbolic links are never followed: what they point at is not ours.
        if (!it->is_directory(ec) || it->is_symlink(ec)) continue;
        struct stat st {};
        const fs::path marker = it->path() / TileDiskCache::markerName;
        if (::lstat(marker.c_str(), &st) != 0 && ::lstat(it->path().c_str(), &st) != 0) continue;
        const size_t treeIndex = trees.size();
        trees.push_back(Tree{it->path().filename().string(), modified(st)});
        treeFolders.push_back(it->path());
        std::error_code walk;
        for (fs::recursive_directory_iterator
                 f(it->path(), fs::directory_options::skip_permission_denied, walk),
             fend;
             !walk && f != fend; f.increment(walk)) {
            if (cancelled()) return result;
            struct stat fileStat {};
            if (::lstat(f->path().c_str(), &fileStat) != 0) continue;
            if (S_ISDIR(fileStat.st_mode)) {
                folders.push_back(f->path());
                continue;
            }
            if (!S_ISREG(fileStat.st_mode)) continue;
            const std::string name = f->path().filename().string();
            if (name.ends_with(".tile")) {
                tiles.push_back(Tile{f->path(), treeIndex, int64_t(fileStat.st_size), modified(fileStat),
                                     expiryOf(f->path())});
            } else if (name.find(".tile.") != std::string::npos &&
                       now - modified(fileStat) > std::chrono::hours(1)) {
                ::unlink(f->path().c_str());  // a write that was cut short
            }
        }
    }
    const Plan p = plan(trees, tiles, currentTree, now, capBytes);
    for (size_t i : p.trees) {
        if (cancelled()) return result;
        std::error_code removeError;
        fs::remove_all(treeFolders[i], removeError);
        if (!removeError) ++result.removedTrees;
    }
    for (size_t i : p.tiles) {
        if (cancelled()) return result;
        if (::unlink(tiles[i].path.c_str()) == 0) ++result.removedTiles;
    }
    // Folders left empty go too, deepest first (rmdir leaves the others).
    std::sort(folders.begin(), folders.end(),
              [](const fs::path& a, const fs::path& b) { return a.native().size() > b.native().size(); });
    for (const fs::path& folder : folders)
        ::rmdir(folder.c_str());
    result.keptBytes = p.keptBytes;
    return result;
}

}  // namespace qm
