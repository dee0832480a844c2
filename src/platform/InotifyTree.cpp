#include "platform/InotifyTree.h"

#include <fcntl.h>
#include <linux/magic.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <optional>
#include <set>
#include <unordered_map>
#include <unordered_set>

#include "core/DirectoryReader.h"
#include "core/Log.h"
#include "core/PathNames.h"
#include "platform/IndexScope.h"

namespace qm {

namespace {

using Clock = std::chrono::steady_clock;

constexpr uint32_t watchMask = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_ATTRIB | IN_CLOSE_WRITE |
                               IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR | IN_DONT_FOLLOW | IN_EXCL_UNLINK;

// The kernel queues both halves of a rename within one system call, so a
// lone IN_MOVED_FROM older than this is a move out of the tree.
constexpr auto movePairingWait = std::chrono::milliseconds(10);

std::string joinPath(const std::string& dir, const char* name) {
    std::string p = dir;
    if (p.empty() || p.back() != '/') p += '/';
    p += name;
    return p;
}

// A directory itself, not a symlink to one: the tree never follows links.
bool isDirectoryNoFollow(const std::string& path) {
    struct stat st {};
    return lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string replacePrefix(const std::string& p, const std::string& from, const std::string& to) {
    return to + p.substr(from.size());
}

}  // namespace

bool InotifyTree::isPseudoFileSystem(const std::string& directory) {
    struct statfs fs {};
    if (statfs(directory.c_str(), &fs) != 0) return false;
    switch (static_cast<unsigned long>(fs.f_type)) {
        case PROC_SUPER_MAGIC:
        case SYSFS_MAGIC:
        case DEVPTS_SUPER_MAGIC:
        case DEBUGFS_MAGIC:
        case TRACEFS_MAGIC:
        case SECURITYFS_MAGIC:
        case CGROUP_SUPER_MAGIC:
        case CGROUP2_SUPER_MAGIC:
        case PSTOREFS_MAGIC:
        case BPF_FS_MAGIC:
        case 0x62656570:  // configfs
        case 0x65735543:  // fusectl
        case 0x19800202:  // mqueue
        case HUGETLBFS_MAGIC:
        case AUTOFS_SUPER_MAGIC:
        case BINFMTFS_MAGIC:
        case EFIVARFS_MAGIC:
        case SELINUX_MAGIC:
        case NSFS_MAGIC:
            return true;
        default:
            return false;
    }
}

// Everything the tree's thread owns and does. Only that thread touches it.
struct InotifyTree::State {
    struct PendingMove {
        uint32_t cookie = 0;
        size_t index = 0;  // its placeholder in `batch`
        std::string oldPath;
        bool wasVisible = false;
        bool isDirectory = false;
        Clock::time_point seen;
    };

    explicit State(InotifyTree& t) : tree(t), options(t.options_) {}

    InotifyTree& tree;
    const Options& options;
    std::vector<std::string> roots;
    IndexScope scope;
    std::unordered_map<int, std::string> pathOfWd;
    std::map<std::string, int> wdOfPath;
    std::set<std::string> unwatched;     // tops of subtrees left without watches
    std::set<std::string> missingRoots;  // roots that are not there (yet)
    std::vector<std::optional<InotifyEvent>> batch;
    std::unordered_set<std::string> repeatKeys;  // attributes/written already in the batch
    std::vector<PendingMove> pendingMoves;
    Clock::time_point batchDeadline;
    Clock::time_point nextRetry = Clock::time_point::max();
    bool loggedLimit = false;
    bool ownerPassTaken = false;

    void publishCounts() {
        tree.watchCount_ = pathOfWd.size();
        tree.unwatchedCount_ = unwatched.size();
    }

    bool isVisible(const std::string& path, const char* name) const {
        if (options.skipHidden && name[0] == '.') return false;
        return !scope.isExcluded(path);
    }

    void add(InotifyEvent event) {
        if (event.kind == InotifyEvent::Kind::attributes || event.kind == InotifyEvent::Kind::written) {
            std::string key = static_cast<char>(event.kind) + event.path;
            if (!repeatKeys.insert(std::move(key)).second) return;
        } else {
            // A later attribute change after this must be reported again.
            repeatKeys.erase(static_cast<char>(InotifyEvent::Kind::attributes) + event.path);
            repeatKeys.erase(static_cast<char>(InotifyEvent::Kind::written) + event.path);
        }
        if (batch.empty()) batchDeadline = Clock::now() + options.coalesce;
        batch.emplace_back(std::move(event));
        tree.bufferedCount_ = batch.size();
    }

    void scheduleRetry() {
        if ((unwatched.empty() && missingRoots.empty()) || nextRetry != Clock::time_point::max()) return;
        nextRetry = Clock::now() + options.unwatchedRescanInterval;
    }

    void noteLimit(const std::string& dir) {
        unwatched.insert(dir);
        scheduleRetry();
        if (loggedLimit) return;
        loggedLimit = true;
        char line[256];
        std::snprintf(line, sizeof line,
                      "[watch] Reached the inotify watch limit at %zu watches; directories left unwatched are "
                      "rescanned every %.0f seconds",
                      pathOfWd.size(),
                      std::chrono::duration<double>(options.unwatchedRescanInterval).count());
        options.log(line);
    }

    // Adds a watch; returns false when the directory cannot be watched. A
    // directory refused for lack of watches is remembered as unwatched.
    bool addWatch(const std::string& dir) {
        if (options.maxWatches != 0 && pathOfWd.size() >= options.maxWatches) {
            noteLimit(dir);
            return false;
        }
        int wd = inotify_add_watch(tree.inotifyFd_.get(), dir.c_str(), watchMask);
        if (wd < 0) {
            if (errno == ENOSPC) noteLimit(dir);
            return false;  // gone, unreadable or not a directory: nothing to watch
        }
        record(wd, dir);
        return true;
    }

    void record(int wd, const std::string& dir) {
        auto old = pathOfWd.find(wd);
        if (old != pathOfWd.end() && old->second != dir) {
            // The same directory under another name (a move we did not see).
            auto it = wdOfPath.find(old->second);
            if (it != wdOfPath.end() && it->second == wd) wdOfPath.erase(it);
        }
        pathOfWd[wd] = dir;
        wdOfPath[dir] = wd;
    }

    // Takes over what the owner's pass placed so far. Before any event read
    // after those watches existed is handled: the owner places each watch
    // under the mutex, so one read before this lock is already listed.
    void takePlaced() {
        MutexLock lock(tree.placedMutex_);
        takePlacedLocked();
    }

    void takePlacedLocked() ABSL_EXCLUSIVE_LOCKS_REQUIRED(tree.placedMutex_) {
        for (Placed& p : tree.placed_) {
            switch (p.kind) {
                case Placed::Kind::watched:
                    record(p.wd, p.dir);
                    break;
                case Placed::Kind::limit:
                    noteLimit(p.dir);
                    break;
                case Placed::Kind::missingRoot:
                    missingRoots.insert(p.dir);
                    scheduleRetry();
                    break;
            }
        }
        tree.placed_.clear();
        // Under the lock, so that the owner counts every watch once.
        publishCounts();
        if (tree.ownerPassDone_ && !ownerPassTaken) {
            ownerPassTaken = true;
            tree.announceReady();
        }
    }

    // Watches `top` and every directory below it; with `report`, every entry
    // found below `top` is reported created.
    void watchTree(const std::string& top, bool report) {
        struct stat topStat {};
        if (lstat(top.c_str(), &topStat) != 0 || !S_ISDIR(topStat.st_mode)) return;
        std::vector<std::pair<std::string, dev_t>> stack{{top, topStat.st_dev}};
        while (!stack.empty() && !tree.stopping_) {
            auto [dir, dev] = std::move(stack.back());
            stack.pop_back();
            if (!addWatch(dir)) continue;
            // Listed after the watch exists, so nothing falls in between.
            DirectoryReader listing = DirectoryReader::open(dir, O_NOFOLLOW);
            const int dfd = listing.fd();
            while (const dirent* e = listing.next()) {
                const char* name = e->d_name;
                std::string path = joinPath(dir, name);
                if (!isVisible(path, name)) continue;
                bool isDir = e->d_type == DT_DIR;
                struct stat st {};
                if (e->d_type == DT_DIR || e->d_type == DT_UNKNOWN) {
                    if (fstatat(dfd, name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
                    isDir = S_ISDIR(st.st_mode);
                }
                if (report) add({InotifyEvent::Kind::created, path, {}, isDir});
                if (!isDir) continue;
                if (st.st_dev != dev && isPseudoFileSystem(path)) continue;
                stack.emplace_back(std::move(path), st.st_dev);
            }
        }
        publishCounts();
    }

    // Forgets the watches of `top` and everything below it.
    void unwatchTree(const std::string& top) {
        if (options.ownerPlacesFirstWatches && !ownerPassTaken) {
            // The owner may meet the folder under its new name and place its
            // watch (the same wd) right now: take what it placed first, and
            // keep it from placing more until the old watches are gone.
            MutexLock lock(tree.placedMutex_);
            takePlacedLocked();
            unwatchTreeTaken(top);
            return;
        }
        unwatchTreeTaken(top);
    }

    void unwatchTreeTaken(const std::string& top) {
        auto drop = [&](std::map<std::string, int>::iterator it) {
            inotify_rm_watch(tree.inotifyFd_.get(), it->second);
            pathOfWd.erase(it->second);
            return wdOfPath.erase(it);
        };
        if (auto it = wdOfPath.find(top); it != wdOfPath.end()) drop(it);
        std::string lo = top == "/" ? "/" : top + "/";
        std::string hi = top == "/" ? "0" : top + "0";  // '0' follows '/'
        for (auto it = wdOfPath.lower_bound(lo); it != wdOfPath.end() && it->first < hi;) it = drop(it);
        for (auto it = unwatched.begin(); it != unwatched.end();)
            it = isAtOrBelow(*it, top) ? unwatched.erase(it) : std::next(it);
        publishCounts();
    }

    // Gives the watches of a directory moved inside the tree their new paths.
    void renameTree(const std::string& from, const std::string& to) {
        unwatchTree(to);  // a directory renamed onto an empty one replaces it
        std::vector<std::pair<std::string, int>> moved;
        if (auto it = wdOfPath.find(from); it != wdOfPath.end()) {
            moved.emplace_back(*it);
            wdOfPath.erase(it);
        }
        std::string lo = from + "/", hi = from + "0";
        for (auto it = wdOfPath.lower_bound(lo); it != wdOfPath.end() && it->first < hi;) {
            moved.emplace_back(*it);
            it = wdOfPath.erase(it);
        }
        for (auto& [path, wd] : moved) {
            std::string now = replacePrefix(path, from, to);
            pathOfWd[wd] = now;
            wdOfPath[now] = wd;
        }
        std::vector<std::string> tops;
        for (auto it = unwatched.begin(); it != unwatched.end();) {
            if (isAtOrBelow(*it, from)) {
                tops.push_back(replacePrefix(*it, from, to));
                it = unwatched.erase(it);
            } else {
                ++it;
            }
        }
        unwatched.insert(tops.begin(), tops.end());
    }

    void createdDirectory(const std::string& path) { watchTree(path, true); }

    void resolveMove(State::PendingMove& move, const std::string* newPath, bool nowVisible) {
        std::optional<InotifyEvent>& slot = batch[move.index];
        bool isDir = move.isDirectory;
        if (newPath == nullptr || !nowVisible) {
            if (move.wasVisible) slot = InotifyEvent{InotifyEvent::Kind::deleted, move.oldPath, {}, isDir};
            if (isDir) unwatchTree(move.oldPath);
            return;
        }
        if (move.wasVisible) {
            slot = InotifyEvent{InotifyEvent::Kind::moved, *newPath, move.oldPath, isDir};
            if (isDir) renameTree(move.oldPath, *newPath);
        } else {
            slot = InotifyEvent{InotifyEvent::Kind::created, *newPath, {}, isDir};
            if (isDir) createdDirectory(*newPath);
        }
    }

    void resolveStaleMoves(bool all) {
        auto now = Clock::now();
        for (auto it = pendingMoves.begin(); it != pendingMoves.end();) {
            if (all || now - it->seen >= movePairingWait) {
                resolveMove(*it, nullptr, false);
                it = pendingMoves.erase(it);
            } else {
                ++it;
            }
        }
    }

    bool isRoot(const std::string& path) const {
        return std::find(roots.begin(), roots.end(), path) != roots.end();
    }

    void rootGone(const std::string& root) {
        unwatchTree(root);
        add({InotifyEvent::Kind::deleted, root, {}, true});
        missingRoots.insert(root);
        scheduleRetry();
    }

    void handle(const inotify_event& ev) {
        if (ev.mask & IN_Q_OVERFLOW) {
            overflow();
            return;
        }
        auto where = pathOfWd.find(ev.wd);
        if (where == pathOfWd.end()) return;  // a watch already dropped
        const std::string dir = where->second;
        if (ev.mask & IN_IGNORED) {
            if (wdOfPath.count(dir) && wdOfPath[dir] == ev.wd) wdOfPath.erase(dir);
            pathOfWd.erase(where);
            publishCounts();
            return;
        }
        if (ev.mask & IN_UNMOUNT) {
            unwatchTree(dir);
            add({InotifyEvent::Kind::rescan, dir, {}, false});
            return;
        }
        if (ev.mask & (IN_DELETE_SELF | IN_MOVE_SELF)) {
            // Below a root the parent's event says it all.
            if (isRoot(dir)) rootGone(dir);
            return;
        }
        if (ev.len == 0 || ev.name[0] == '\0') return;  // the directory's own attributes
        const char* name = ev.name;
        std::string path = joinPath(dir, name);
        bool isDir = (ev.mask & IN_ISDIR) != 0;
        bool visible = isVisible(path, name);
        if (ev.mask & IN_MOVED_FROM) {
            batch.emplace_back(std::nullopt);
            tree.bufferedCount_ = batch.size();
            if (batch.size() == 1) batchDeadline = Clock::now() + options.coalesce;
            pendingMoves.push_back({ev.cookie, batch.size() - 1, path, visible, isDir, Clock::now()});
            return;
        }
        if (ev.mask & IN_MOVED_TO) {
            for (auto it = pendingMoves.begin(); it != pendingMoves.end(); ++it) {
                if (it->cookie != ev.cookie) continue;
                PendingMove move = std::move(*it);
                pendingMoves.erase(it);
                resolveMove(move, &path, visible);
                return;
            }
            if (!visible) return;
            add({InotifyEvent::Kind::created, path, {}, isDir});
            if (isDir) createdDirectory(path);
            return;
        }
        if (!visible) return;
        if (ev.mask & IN_CREATE) {
            add({InotifyEvent::Kind::created, path, {}, isDir});
            if (isDir) createdDirectory(path);
        } else if (ev.mask & IN_DELETE) {
            add({InotifyEvent::Kind::deleted, path, {}, isDir});
            if (isDir) unwatchTree(path);
        } else if (ev.mask & IN_ATTRIB) {
            add({InotifyEvent::Kind::attributes, path, {}, isDir});
        } else if (ev.mask & IN_CLOSE_WRITE) {
            add({InotifyEvent::Kind::written, path, {}, isDir});
        }
    }

    // Events were lost: bring the watches in line with the disk again and
    // have every root reread.
    void overflow() {
        resolveStaleMoves(true);
        std::unordered_map<int, std::string> old;
        old.swap(pathOfWd);
        wdOfPath.clear();
        unwatched.clear();
        for (const std::string& root : roots)
            if (!missingRoots.count(root)) watchTree(root, false);
        for (auto& [wd, path] : old)
            if (!pathOfWd.count(wd)) inotify_rm_watch(tree.inotifyFd_.get(), wd);
        for (const std::string& root : roots)
            if (!missingRoots.count(root)) add({InotifyEvent::Kind::rescan, root, {}, false});
        publishCounts();
    }

    // Tries the unwatched directories and missing roots again; each is to be
    // reread as a whole, watched now or not.
    void retry() {
        nextRetry = Clock::time_point::max();
        std::set<std::string> tops;
        tops.swap(unwatched);
        for (const std::string& top : tops) {
            if (!isDirectoryNoFollow(top)) continue;
            watchTree(top, false);
            add({InotifyEvent::Kind::rescan, top, {}, false});
        }
        std::set<std::string> missing;
        missing.swap(missingRoots);
        for (const std::string& root : missing) {
            if (!isDirectoryNoFollow(root)) {
                missingRoots.insert(root);
                continue;
            }
            watchTree(root, false);
            add({InotifyEvent::Kind::rescan, root, {}, false});
        }
        publishCounts();
        scheduleRetry();
    }

    void flush() {
        resolveStaleMoves(true);
        std::vector<InotifyEvent> out;
        out.reserve(batch.size());
        for (auto& e : batch)
            if (e) out.push_back(std::move(*e));
        batch.clear();
        repeatKeys.clear();
        if (!out.empty() && !tree.stopping_ && tree.callback_) tree.callback_(std::move(out));
        // Only now: whoever waits for quiet sees either the count or what the
        // callback did with the batch.
        tree.bufferedCount_ = 0;
    }

    void setUp() {
        scope = IndexScope(options.roots, options.excludedPaths);
        roots = tree.sortedRoots_;
        // Otherwise the owner's walk places the first watches (and names the
        // roots it finds missing).
        if (!options.ownerPlacesFirstWatches) {
            for (const std::string& root : roots) {
                if (!isDirectoryNoFollow(root)) {
                    missingRoots.insert(root);
                    continue;
                }
                watchTree(root, false);
            }
        }
        scheduleRetry();
        publishCounts();
    }

    int pollTimeoutMs() const {
        auto now = Clock::now();
        auto until = nextRetry;
        if (!batch.empty()) until = std::min(until, batchDeadline);
        for (const PendingMove& m : pendingMoves) until = std::min(until, m.seen + movePairingWait);
        if (until == Clock::time_point::max()) return -1;
        if (until <= now) return 0;
        auto ms = std::chrono::ceil<std::chrono::milliseconds>(until - now).count();
        return static_cast<int>(std::min<long long>(ms, 1 << 30));
    }

    void loop() {
        alignas(inotify_event) char buffer[64 * 1024];
        while (!tree.stopping_) {
            pollfd fds[2] = {{tree.inotifyFd_.get(), POLLIN, 0}, {tree.wakeFd_.get(), POLLIN, 0}};
            int n = poll(fds, 2, pollTimeoutMs());
            if (tree.stopping_) break;
            if (n < 0 && errno != EINTR) break;
            if (n > 0 && (fds[1].revents & POLLIN)) {
                uint64_t value = 0;
                (void)!read(tree.wakeFd_.get(), &value, sizeof value);
            }
            if (options.ownerPlacesFirstWatches) takePlaced();
            if (tree.overflowRequested_.load()) {
                // Cleared after its events are in the batch, so it counts as
                // pending throughout.
                overflow();
                tree.overflowRequested_ = false;
            }
            if (n > 0 && (fds[0].revents & POLLIN)) {
                // Set around the read so that events taken from the kernel
                // count as pending until they are in the batch.
                tree.reading_ = true;
                for (;;) {
                    ssize_t len = read(tree.inotifyFd_.get(), buffer, sizeof buffer);
                    if (len <= 0) break;
                    if (options.ownerPlacesFirstWatches) takePlaced();
                    for (ssize_t at = 0; at < len && !tree.stopping_;) {
                        const auto* ev = reinterpret_cast<const inotify_event*>(buffer + at);
                        handle(*ev);
                        at += static_cast<ssize_t>(sizeof(inotify_event) + ev->len);
                    }
                }
                tree.reading_ = false;
            }
            auto now = Clock::now();
            resolveStaleMoves(false);
            if (now >= nextRetry) retry();
            if (!batch.empty() && now >= batchDeadline) {
                bool youngMove = std::any_of(pendingMoves.begin(), pendingMoves.end(),
                                             [&](const PendingMove& m) { return now - m.seen < movePairingWait; });
                if (!youngMove) flush();
            }
        }
    }
};

InotifyTree::InotifyTree(Options options, Callback callback)
    : options_(std::move(options)), callback_(std::move(callback)) {
    if (!options_.log) options_.log = [](const std::string& line) { logTaggedLine(line); };
}

InotifyTree::~InotifyTree() {
    if (thread_.joinable() && thread_.get_id() == std::this_thread::get_id()) {
        // Destroyed from its own callback: the thread would run on in freed
        // memory, and it cannot join itself. A programming error.
        std::fprintf(stderr, "InotifyTree destroyed from its own callback\n");
        std::abort();
    }
    stop();
}

bool InotifyTree::start() {
    if (thread_.joinable()) return true;
    if (options_.simulatedStartError) {
        options_.log(std::string("[watch] Cannot watch for file changes: ") +
                     std::strerror(options_.simulatedStartError));
        return false;
    }
    inotifyFd_.reset(inotify_init1(IN_NONBLOCK | IN_CLOEXEC));
    if (!inotifyFd_) {
        options_.log(std::string("[watch] Cannot watch for file changes: ") + std::strerror(errno));
        return false;
    }
    wakeFd_.reset(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC));
    if (!wakeFd_) {
        options_.log(std::string("[watch] Cannot watch for file changes: ") + std::strerror(errno));
        inotifyFd_.reset();
        return false;
    }
    {
        MutexLock lock(placedMutex_);
        placed_.clear();
        ownerPassDone_ = false;
    }
    sortedRoots_ = IndexScope(options_.roots, options_.excludedPaths).roots();
    std::sort(sortedRoots_.begin(), sortedRoots_.end());
    stopping_ = false;
    overflowRequested_ = false;
    reading_ = false;
    bufferedCount_ = 0;
    {
        MutexLock lock(readyMutex_);
        ready_ = false;
    }
    thread_ = std::jthread([this] { run(); });
    return true;
}

void InotifyTree::stop() {
    if (!thread_.joinable()) return;
    stopping_ = true;
    wake();
    // From the callback: the thread ends once the callback returns, and the
    // owner's stop() or the destructor joins it. It never outlives the tree.
    if (thread_.get_id() == std::this_thread::get_id()) return;
    thread_.join();
    {
        // An owner's walk may still be placing watches.
        MutexLock lock(placedMutex_);
        inotifyFd_.reset();
        placed_.clear();
    }
    wakeFd_.reset();
    state_.reset();
    watchCount_ = 0;
    unwatchedCount_ = 0;
}

size_t InotifyTree::pendingEventCount() const {
    if (!thread_.joinable()) return 0;
    // In this order: a kernel queue found empty was read already, so a read
    // not under way means its events are in the buffer count.
    int queued = 0;
    if (ioctl(inotifyFd_.get(), FIONREAD, &queued) != 0) queued = 0;
    size_t pending = queued > 0 ? 1 : 0;
    if (reading_.load()) ++pending;
    if (overflowRequested_.load()) ++pending;
    return pending + bufferedCount_.load();
}

bool InotifyTree::waitUntilReady(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    MutexLock lock(readyMutex_);
    while (!ready_)
        if (!lock.waitUntil(readyChanged_, deadline)) break;
    return ready_;
}

void InotifyTree::simulateOverflow() {
    if (!thread_.joinable()) return;
    overflowRequested_ = true;
    wake();
}

InotifyTree::WatchResult InotifyTree::watchDirectory(const std::string& dir) {
    MutexLock lock(placedMutex_);
    if (!inotifyFd_) return WatchResult::failed;
    const bool isRoot = std::binary_search(sortedRoots_.begin(), sortedRoots_.end(), dir);
    // A missing root is retried until it is there, whatever the watch limit.
    if (isRoot && !isDirectoryNoFollow(dir)) return handOver(Placed::Kind::missingRoot, dir, WatchResult::failed);
    if (options_.maxWatches != 0 && watchCount_.load() + placed_.size() >= options_.maxWatches)
        return handOver(Placed::Kind::limit, dir, WatchResult::unwatched);
    const int wd = inotify_add_watch(inotifyFd_.get(), dir.c_str(), watchMask);
    if (wd < 0) {
        const int error = errno;
        if (error == ENOSPC) return handOver(Placed::Kind::limit, dir, WatchResult::unwatched);
        if ((error == ENOENT || error == ENOTDIR) && isRoot)
            return handOver(Placed::Kind::missingRoot, dir, WatchResult::failed);
        return WatchResult::failed;
    }
    placed_.push_back({Placed::Kind::watched, wd, dir});
    return WatchResult::watched;
}

InotifyTree::WatchResult InotifyTree::handOver(Placed::Kind kind, const std::string& dir, WatchResult result) {
    placed_.push_back({kind, -1, dir});
    wake();
    return result;
}

void InotifyTree::firstWatchesPlaced() {
    MutexLock lock(placedMutex_);
    ownerPassDone_ = true;
    if (inotifyFd_) wake();  // not stopped: the descriptors are still there
}

void InotifyTree::wake() {
    uint64_t one = 1;
    (void)!write(wakeFd_.get(), &one, sizeof one);
}

void InotifyTree::announceReady() {
    {
        MutexLock lock(readyMutex_);
        ready_ = true;
    }
    readyChanged_.notify_all();
}

void InotifyTree::run() {
    state_ = std::make_unique<State>(*this);
    state_->setUp();
    if (options_.ownerPlacesFirstWatches)
        state_->takePlaced();  // ready once the owner's pass is taken over
    else
        announceReady();
    state_->loop();
}

}  // namespace qm
