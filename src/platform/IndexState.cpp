#include "platform/IndexState.h"

#include <fcntl.h>
#include <sys/xattr.h>
#include <time.h>
#include <unistd.h>

#include <absl/container/flat_hash_set.h>

#include <algorithm>
#include <cassert>
#include <cerrno>

#include "core/UniqueFd.h"
#include "media/ImageLocationReader.h"
#include "media/MediaTypeDatabase.h"
#include "media/MovieLocationReader.h"
#include "platform/XattrTagStore.h"

namespace qm {

namespace {

int64_t nanoseconds(const struct timespec& t) {
    return int64_t(t.tv_sec) * 1000000000 + t.tv_nsec;
}

// A stored value names at least one tag when it holds anything but commas.
bool hasTags(const std::string& raw) {
    return raw.find_first_not_of(',') != std::string::npos;
}

bool hasPosition(const std::optional<double>& lat, const std::optional<double>& lon) {
    return lat.has_value() && lon.has_value();
}

// What each query holds of a record: the early answer and a flush say the same.
IndexQuery::Entry tagEntry(const IndexRecord& r) {
    return {r.path, XattrTagStore::parse(r.tags), {}, {}};
}

IndexQuery::Entry positionEntry(const IndexRecord& r) {
    return {r.path, {}, r.latitude, r.longitude};
}

std::string childPrefix(const std::string& path) {
    return path == "/" ? path : path + "/";
}

// True when a change time is so close to now that a write after the read
// just made could still carry the same time. File times come from the
// coarse clock; one of its ticks is the granule (a generous floor covers
// file systems with coarser times of their own).
// A value that cannot be read now keeps the last one read.
void readTags(IndexRecord& r, std::optional<std::string> value) {
    if (value) r.tags = std::move(*value);
}

bool isRacy(int64_t ctimeNs) {
    static const int64_t granule = [] {
        struct timespec res {};
        ::clock_getres(CLOCK_REALTIME_COARSE, &res);
        return std::max<int64_t>(nanoseconds(res), 10'000'000);
    }();
    struct timespec now {};
    ::clock_gettime(CLOCK_REALTIME, &now);
    return ctimeNs + granule >= nanoseconds(now);
}

}  // namespace

bool IndexState::wantsPosition(std::string_view path) {
    // One lookup of the name's type for both readers: the crawl asks for every file.
    const std::string_view type = MediaTypeDatabase::shared().typeForFileName(path);
    return !type.empty() && (ImageLocationReader::handlesType(type) || MovieLocationReader::handlesType(type));
}

bool IndexState::stillNamed(const std::string& path, const MetadataItem& item, bool fileOnly) {
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0 && !(fileOnly && S_ISDIR(st.st_mode)) &&
           uint64_t(st.st_dev) == item.device && uint64_t(st.st_ino) == item.inode;
}

void IndexState::readTagsAndTimes(IndexRecord& r, const std::string& path, const struct stat& st, int dirFd,
                                  const char* name) {
    const bool isDir = S_ISDIR(st.st_mode);
    if (name) {
        // The crawl: its stat was taken just before, through the open folder.
        // Opening every file as well would cost the first crawl a third more;
        // the racy rule below still keeps a later write from looking current.
        readTags(r, dirFd >= 0 ? XattrTagStore::readAttribute(dirFd, name, path) : XattrTagStore::readAttribute(path));
        r.size = isDir ? 0 : int64_t(st.st_size);
        r.mtimeNs = nanoseconds(st.st_mtim);
        r.ctimeNs = isRacy(nanoseconds(st.st_ctim)) ? racyCtime : nanoseconds(st.st_ctim);
        return;
    }
    const int flags = O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | (isDir ? O_DIRECTORY : 0);
    UniqueFd fd(::open(path.c_str(), flags));
    struct stat now;
    if (fd && ::fstat(fd.get(), &now) == 0 && uint64_t(now.st_dev) == r.item.device &&
        uint64_t(now.st_ino) == r.item.inode && S_ISDIR(now.st_mode) == isDir) {
        // The stat first: a write after it shows as a newer ctime next time.
        readTags(r, XattrTagStore::readAttribute(fd.get()));
        r.size = isDir ? 0 : int64_t(now.st_size);
        r.mtimeNs = nanoseconds(now.st_mtim);
        r.ctimeNs = isRacy(nanoseconds(now.st_ctim)) ? racyCtime : nanoseconds(now.st_ctim);
        return;
    }
    fd.reset();
    // Unreadable, or replaced meanwhile: the caller's stat, checked again later.
    readTags(r, XattrTagStore::readAttribute(path));
    r.size = isDir ? 0 : int64_t(st.st_size);
    r.mtimeNs = nanoseconds(st.st_mtim);
    r.ctimeNs = racyCtime;
}

IndexState::Before& IndexState::touch(const MetadataItem& item, Entry* entry, bool dirty) {
    auto [it, inserted] = touched_.try_emplace(item);
    Before& b = it->second;
    if (entry) b.now = entry;
    if (inserted && entry) {
        b.existed = true;
        b.path = entry->record.path;
        b.tags = entry->record.tags;
        b.latitude = entry->record.latitude;
        b.longitude = entry->record.longitude;
    }
    if (dirty) b.dirty = true;
    return b;
}

void IndexState::account(const IndexRecord& r, int sign) {
    if (hasTags(r.tags)) tagged_ += static_cast<size_t>(sign);
    if (hasPosition(r.latitude, r.longitude)) positioned_ += static_cast<size_t>(sign);
}

void IndexState::askPosition(Entry& entry) {
    if (entry.positionAsked) return;
    entry.positionAsked = true;
    const IndexRecord& r = entry.record;
    reads_.push_back(PositionRead{r.item, r.path, r.size, r.mtimeNs});
}

void IndexState::removeItem(const MetadataItem& item) {
    auto it = items_.find(item);
    if (it == items_.end()) return;
    Before& b = touch(item, &it->second);
    account(it->second.record, -1);
    // The key views the record's path: drop it before the record goes.
    if (auto p = byPath_.find(it->second.record.path); p != byPath_.end() && p->second == item)
        byPath_.erase(p);
    items_.erase(it);
    b.now = nullptr;
    ++forgotten_;
}

bool IndexState::knowsAtOrBelow(const std::string& path) const {
    if (byPath_.contains(path)) return true;
    const std::string prefix = childPrefix(path);
    auto it = byPath_.lower_bound(prefix);
    return it != byPath_.end() && it->first.starts_with(prefix);
}

void IndexState::setPath(Entry& entry, const std::string& path) {
    const MetadataItem item = entry.record.item;
    if (auto p = byPath_.find(entry.record.path); p != byPath_.end() && p->second == item) byPath_.erase(p);
    if (auto p = byPath_.find(path); p != byPath_.end()) removeItem(p->second);
    entry.record.path = path;
    byPath_.emplace(std::string_view(entry.record.path), item);
}

std::vector<MetadataItem> IndexState::itemsAtOrBelow(const std::string& path) const {
    std::vector<MetadataItem> out;
    if (auto it = byPath_.find(path); it != byPath_.end()) out.push_back(it->second);
    const std::string prefix = childPrefix(path);
    for (auto it = byPath_.lower_bound(prefix); it != byPath_.end() && it->first.starts_with(prefix); ++it)
        out.push_back(it->second);
    return out;
}

void IndexState::visit(const std::string& path, const struct stat& st, uint32_t pass, bool rereadTags, int dirFd,
                       const char* name) {
    const MetadataItem item{uint64_t(st.st_dev), uint64_t(st.st_ino)};
    const bool isDir = S_ISDIR(st.st_mode);
    // A folder's size says nothing about its contents worth comparing.
    const int64_t size = isDir ? 0 : int64_t(st.st_size);
    const int64_t mtime = nanoseconds(st.st_mtim);
    const int64_t ctime = nanoseconds(st.st_ctim);

    // One probe each for the item and its path: the first crawl inserts every one.
    auto [it, inserted] = items_.try_emplace(item);
    if (!inserted) {
        Entry& e = it->second;
        IndexRecord& r = e.record;
        const bool moved = r.path != path;
        // The same file under a second name (a hard link): one path per item.
        // Unless the first name is gone: then it moved, or its number was
        // reused, where a folder not yet watched sent no event to say so.
        if (moved && pass != 0 && e.pass == pass && stillNamed(r.path, item)) return;
        if (moved && !r.isDirectory && stillNamed(r.path, item, /*fileOnly=*/true)) {
            if (pass) e.pass = pass;
            return;
        }
        if (pass) e.pass = pass;
        const bool sameStat =
            r.size == size && r.mtimeNs == mtime && r.ctimeNs == ctime && r.isDirectory == isDir;
        if (!moved && sameStat && !rereadTags) {
            if (!r.gpsChecked) askPosition(e);
            return;
        }
        // Attribute writes (tags) and renames move ctime; contents move mtime.
        const bool readTags = r.ctimeNs != ctime || r.isDirectory != isDir || rereadTags;
        if (!moved && sameStat && readTags) {
            // Only an attribute event brings us here: nothing to do unless
            // the tags differ from what was read.
            IndexRecord fresh = r;
            readTagsAndTimes(fresh, path, st, dirFd, name);
            if (fresh.tags == r.tags && fresh.ctimeNs == r.ctimeNs && fresh.size == r.size &&
                fresh.mtimeNs == r.mtimeNs) {
                if (!r.gpsChecked) askPosition(e);
                return;
            }
        }
        touch(item, &e);
        account(r, -1);
        const bool kindChanged = moved && wantsPosition(r.path) != wantsPosition(path);
        if (moved) setPath(e, path);
        const int64_t oldSize = r.size, oldMtime = r.mtimeNs;
        const bool wasDir = r.isDirectory;
        r.isDirectory = isDir;
        if (readTags) {
            readTagsAndTimes(r, path, st, dirFd, name);
        } else {
            r.size = size;
            r.mtimeNs = mtime;
            r.ctimeNs = ctime;
        }
        const bool contentChanged =
            oldSize != r.size || oldMtime != r.mtimeNs || wasDir != isDir || kindChanged;
        if (contentChanged) {
            // The old position stays until the new read says otherwise.
            r.gpsChecked = isDir || !wantsPosition(path);
            if (r.gpsChecked) {
                r.latitude.reset();
                r.longitude.reset();
            }
        }
        account(r, +1);
        if (!r.gpsChecked) askPosition(e);
        return;
    }

    Entry& e = it->second;
    auto at = byPath_.lower_bound(path);
    if (at != byPath_.end() && at->first == path) {
        // Another file was known here: it is gone, and with a folder all it held.
        const MetadataItem old = at->second;
        auto o = items_.find(old);
        const bool wasDir = o != items_.end() && o->second.record.isDirectory;
        removeItem(old);
        if (wasDir)
            for (const MetadataItem& below : itemsAtOrBelow(path))
                removeItem(below);
        at = byPath_.lower_bound(path);
    }
    touch(item, nullptr).now = &e;
    IndexRecord& r = e.record;
    r.item = item;
    r.path = path;
    r.isDirectory = isDir;
    readTagsAndTimes(r, path, st, dirFd, name);
    r.gpsChecked = isDir || !wantsPosition(path);
    e.pass = pass;
    byPath_.emplace_hint(at, std::string_view(r.path), item);
    account(r, +1);
    if (!r.gpsChecked) askPosition(e);
}

void IndexState::refresh(const std::string& path, bool rereadTags) {
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0 || !(S_ISREG(st.st_mode) || S_ISDIR(st.st_mode))) {
        removeSubtree(path);
        return;
    }
    visit(path, st, 0, rereadTags);
}

void IndexState::removeSubtree(const std::string& path) {
    for (const MetadataItem& item : itemsAtOrBelow(path))
        removeItem(item);
}

void IndexState::moveSubtree(const std::string& from, const std::string& to) {
    if (from == to) return;
    std::vector<MetadataItem> moving = itemsAtOrBelow(from);
    if (moving.empty()) return;
    std::sort(moving.begin(), moving.end(), [](const MetadataItem& a, const MetadataItem& b) {
        return a.device != b.device ? a.device < b.device : a.inode < b.inode;
    });
    auto isMoving = [&](const MetadataItem& item) {
        return std::binary_search(moving.begin(), moving.end(), item,
                                  [](const MetadataItem& a, const MetadataItem& b) {
                                      return a.device != b.device ? a.device < b.device : a.inode < b.inode;
                                  });
    };
    for (const MetadataItem& item : itemsAtOrBelow(to))
        if (!isMoving(item)) removeItem(item);
    for (const MetadataItem& item : moving) {
        auto it = items_.find(item);
        if (it == items_.end()) continue;
        Entry& e = it->second;
        touch(item, &e);
        const std::string newPath = to + e.record.path.substr(from.size());
        if (wantsPosition(e.record.path) != wantsPosition(newPath) && !e.record.isDirectory) {
            // Renamed to or from a photo or movie name: what it holds is read again.
            account(e.record, -1);
            e.record.latitude.reset();
            e.record.longitude.reset();
            e.record.gpsChecked = !wantsPosition(newPath);
            account(e.record, +1);
        }
        setPath(e, newPath);
        if (!e.record.gpsChecked) askPosition(e);
    }
}

void IndexState::keepSubtree(const std::string& path, uint32_t pass) {
    for (const MetadataItem& item : itemsAtOrBelow(path))
        items_[item].pass = pass;
}

void IndexState::sweep(const std::string& root, uint32_t pass) {
    for (const MetadataItem& item : itemsAtOrBelow(root)) {
        auto it = items_.find(item);
        if (it != items_.end() && it->second.pass != pass) removeItem(item);
    }
}

void IndexState::load(IndexRecord record, bool notify) {
    const MetadataItem item = record.item;
    if (items_.contains(item)) return;
    if (auto p = byPath_.find(record.path); p != byPath_.end()) return;  // damaged store: first row wins
    Entry& e = items_[item];
    if (notify) touch(item, nullptr, /*dirty=*/false).now = &e;
    e.record = std::move(record);
    byPath_.emplace(std::string_view(e.record.path), item);
    account(e.record, +1);
    if (!e.record.gpsChecked && !e.record.isDirectory && wantsPosition(e.record.path)) askPosition(e);
}

IndexState::Changes IndexState::gatheringOf(const std::vector<IndexRecord>& rows) {
    Changes c;
    absl::flat_hash_set<MetadataItem> items;
    absl::flat_hash_set<std::string_view> paths;
    items.reserve(rows.size());
    paths.reserve(rows.size());
    for (const IndexRecord& r : rows) {
        if (!items.insert(r.item).second || !paths.insert(r.path).second) continue;
        if (hasTags(r.tags)) {
            c.tags.upserts.push_back({r.item, tagEntry(r)});
            c.tags.update.added.push_back(r.item);
        }
        if (hasPosition(r.latitude, r.longitude)) {
            c.gps.upserts.push_back({r.item, positionEntry(r)});
            c.gps.update.added.push_back(r.item);
        }
    }
    return c;
}

void IndexState::markAllDirty() {
    for (auto& [item, entry] : items_) touch(item, &entry);
}

void IndexState::setPosition(const PositionRead& read, std::optional<double> latitude,
                             std::optional<double> longitude) {
    auto it = items_.find(read.item);
    if (it == items_.end()) return;
    Entry& e = it->second;
    e.positionAsked = false;
    IndexRecord& r = e.record;
    if (r.path != read.path || r.size != read.size || r.mtimeNs != read.mtimeNs) {
        // Changed while being read: read it again.
        if (!r.gpsChecked) askPosition(e);
        return;
    }
    if (r.gpsChecked && r.latitude == latitude && r.longitude == longitude) return;
    touch(read.item, &e);
    account(r, -1);
    r.latitude = latitude;
    r.longitude = longitude;
    r.gpsChecked = true;
    account(r, +1);
}

IndexState::Entry* IndexState::heldEntry(const MetadataItem& item, Entry* entry) {
    // A forgotten item's reference may name freed storage: then all are looked up.
    if (forgotten_ == forgottenWhenHeld_) return entry;
    auto it = items_.find(item);
    return it != items_.end() ? &it->second : nullptr;
}

std::vector<IndexRecord> IndexState::takeHeldRows() {
    std::vector<IndexRecord> rows;
    rows.reserve(held_.size());
    for (const auto& [item, entry] : held_) {
        Entry* e = heldEntry(item, entry);
        if (!e || !e->held) continue;  // forgotten, or known again since
        e->held = false;
        rows.push_back(e->record);
    }
    held_.clear();
    return rows;
}

void IndexState::dropHeldRows() {
    for (const auto& [item, entry] : held_)
        if (Entry* e = heldEntry(item, entry)) e->held = false;
    held_.clear();
}

IndexState::Changes IndexState::flush(Rows rows) {
    Changes c;
    if (rows == Rows::none) dropHeldRows();
    if (rows == Rows::hold && held_.empty()) forgottenWhenHeld_ = forgotten_;
    for (auto& [item, before] : touched_) {
        const IndexRecord* now = before.now ? &before.now->record : nullptr;
        assert(now == (items_.contains(item) ? &items_.find(item)->second.record : nullptr));
        if (!now)
            c.deletions.push_back(item);
        else if (before.dirty && rows == Rows::copy)
            c.upserts.push_back(*now);
        else if (before.dirty && rows == Rows::hold && !before.now->held) {
            before.now->held = true;
            held_.emplace_back(item, before.now);
        }

        const bool tagsBefore = before.existed && hasTags(before.tags);
        const bool tagsNow = now && hasTags(now->tags);
        if (tagsNow) {
            if (!tagsBefore || before.path != now->path || before.tags != now->tags) {
                c.tags.upserts.push_back({item, tagEntry(*now)});
                (tagsBefore ? c.tags.update.changed : c.tags.update.added).push_back(item);
            }
        } else if (tagsBefore) {
            c.tags.removals.push_back(item);
            c.tags.update.removed.push_back(item);
        }

        const bool gpsBefore = before.existed && hasPosition(before.latitude, before.longitude);
        const bool gpsNow = now && hasPosition(now->latitude, now->longitude);
        if (gpsNow) {
            if (!gpsBefore || before.path != now->path || before.latitude != now->latitude ||
                before.longitude != now->longitude) {
                c.gps.upserts.push_back({item, positionEntry(*now)});
                (gpsBefore ? c.gps.update.changed : c.gps.update.added).push_back(item);
            }
        } else if (gpsBefore) {
            c.gps.removals.push_back(item);
            c.gps.update.removed.push_back(item);
        }
    }
    touched_.clear();
    return c;
}

}  // namespace qm
