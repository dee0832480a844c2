#include "platform/FileOperationsPosix.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <functional>
#include <set>
#include <string_view>
#include <vector>

#include "commands/CommandLog.h"
#include "core/DirectoryReader.h"
#include "core/Log.h"
#include "core/Mutex.h"
#include "core/PathNames.h"
#include "core/UniqueFd.h"

namespace qm::posix {

namespace {

std::string failed(std::string_view what, int err) {
    std::string s(what);
    s += ": ";
    s += errorText(err);
    return s;
}

// Reads all extended attribute names of an open file; empty on failure.
std::vector<std::string> attributeNames(int fd, int& err) {
    err = 0;
    std::vector<char> buf;
    for (int attempt = 0; attempt < 8; ++attempt) {
        ssize_t n = ::flistxattr(fd, nullptr, 0);
        if (n < 0) {
            err = errno;
            return {};
        }
        if (n == 0) return {};
        buf.resize(size_t(n));
        n = ::flistxattr(fd, buf.data(), buf.size());
        if (n < 0 && errno == ERANGE) continue;
        if (n < 0) {
            err = errno;
            return {};
        }
        std::vector<std::string> names;
        for (size_t i = 0; i < size_t(n);) {
            size_t len = ::strnlen(buf.data() + i, size_t(n) - i);
            if (len) names.emplace_back(buf.data() + i, len);
            i += len + 1;
        }
        return names;
    }
    err = ERANGE;
    return {};
}

// Copies extended attributes. Losing a user attribute (the file's tags live
// there) fails the copy; other namespaces are kept when the target allows.
std::string copyAttributes(int src, int dst) {
    int err = 0;
    std::vector<std::string> names = attributeNames(src, err);
    if (err && err != ENOTSUP) return failed("cannot list extended attributes", err);
    std::vector<char> value;
    for (const std::string& name : names) {
        bool mustKeep = name.starts_with("user.");
        ssize_t n = -1;
        for (int attempt = 0; attempt < 8; ++attempt) {
            n = ::fgetxattr(src, name.c_str(), nullptr, 0);
            if (n < 0) break;
            value.resize(size_t(n) + 1);
            n = ::fgetxattr(src, name.c_str(), value.data(), value.size());
            if (n >= 0 || errno != ERANGE) break;
        }
        if (n < 0) {
            if (errno == ENODATA) continue;  // removed meanwhile
            if (mustKeep) return failed("cannot read attribute " + name, errno);
            continue;
        }
        if (::fsetxattr(dst, name.c_str(), value.data(), size_t(n), 0) != 0 && mustKeep)
            return failed("cannot copy attribute " + name, errno);
    }
    return {};
}

// Owner (best effort: only a privileged process may give files away), then
// mode, then times, so that nothing later disturbs the times.
void copyOwnerAndMode(int dst, const struct stat& st) {
    if (::fchown(dst, st.st_uid, st.st_gid) != 0) {
        // Unprivileged: the copy belongs to us, which is what a move by hand gives.
    }
    ::fchmod(dst, st.st_mode & 07777);
}

std::string copyData(int src, int dst) {
    bool useCopyRange = true;
    std::vector<char> buf;
    for (;;) {
        if (useCopyRange) {
            ssize_t n = ::copy_file_range(src, nullptr, dst, nullptr, size_t(1) << 30, 0);
            if (n > 0) continue;
            if (n == 0) return {};
            if (errno == EINTR) continue;
            if (errno == EXDEV || errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP ||
                errno == EBADF) {
                useCopyRange = false;
                buf.resize(size_t(1) << 18);
                continue;
            }
            return failed("cannot copy contents", errno);
        }
        ssize_t n = ::read(src, buf.data(), buf.size());
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return failed("cannot read", errno);
        if (n == 0) return {};
        for (ssize_t off = 0; off < n;) {
            ssize_t w = ::write(dst, buf.data() + off, size_t(n - off));
            if (w < 0 && errno == EINTR) continue;
            if (w < 0) return failed("cannot write", errno);
            off += w;
        }
    }
}

// What a copy took from the source: each entry as it was when copied, so
// that the removal afterwards deletes only what is safely in the copy.
struct Copied {
    std::string name;
    struct stat st {};
    std::vector<Copied> children;
};

std::string copyEntry(int sdir, const char* sname, const struct stat& st, int ddir, const char* dname,
                      Copied& record);

std::string copyRegular(int sdir, const char* sname, const struct stat& given, int ddir, const char* dname,
                        Copied& record) {
    UniqueFd src(::openat(sdir, sname, O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    if (!src.valid()) return failed("cannot open source", errno);
    // The identity, size and times of what is actually read, taken before
    // the data: a write during the copy then shows as a change.
    struct stat st;
    if (::fstat(src.get(), &st) != 0) return failed("cannot examine source", errno);
    if (!S_ISREG(st.st_mode)) return failed(std::string("changed during the copy: ") + sname, EAGAIN);
    (void)given;
    record.st = st;
    UniqueFd dst(::openat(ddir, dname, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!dst.valid()) return failed("cannot create copy", errno);
    std::string e = copyData(src.get(), dst.get());
    if (e.empty()) e = copyAttributes(src.get(), dst.get());
    if (e.empty()) {
        copyOwnerAndMode(dst.get(), st);
        const struct timespec times[2] = {st.st_atim, st.st_mtim};
        ::futimens(dst.get(), times);
        // The source is deleted next: the copy must be on disk first.
        if (::fsync(dst.get()) != 0 && errno != EINVAL) e = failed("cannot flush copy", errno);
    }
    if (dst.close() != 0 && e.empty()) e = failed("cannot finish copy", errno);
    return e;
}

std::string copyDirectory(int sdir, const char* sname, const struct stat& given, int ddir, const char* dname,
                          Copied& record) {
    UniqueFd src(::openat(sdir, sname, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!src.valid()) return failed("cannot open folder", errno);
    struct stat st;
    if (::fstat(src.get(), &st) != 0) return failed("cannot examine folder", errno);
    (void)given;
    record.st = st;
    if (::mkdirat(ddir, dname, 0700) != 0) return failed("cannot create folder", errno);
    UniqueFd dst(::openat(ddir, dname, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!dst.valid()) return failed("cannot open new folder", errno);

    std::vector<std::string> names;
    {
        DirectoryReader listing = DirectoryReader::duplicate(src.get());
        while (const dirent* ent = listing.next())
            names.emplace_back(ent->d_name);
        if (listing.error()) return failed("cannot list folder", listing.error());
    }

    for (const std::string& name : names) {
        struct stat cst;
        if (::fstatat(src.get(), name.c_str(), &cst, AT_SYMLINK_NOFOLLOW) != 0)
            return failed("cannot examine " + name, errno);
        Copied& child = record.children.emplace_back();
        child.name = name;
        child.st = cst;
        std::string e = copyEntry(src.get(), name.c_str(), cst, dst.get(), name.c_str(), child);
        if (!e.empty()) return e;
    }
    std::string e = copyAttributes(src.get(), dst.get());
    if (!e.empty()) return e;
    copyOwnerAndMode(dst.get(), st);
    const struct timespec times[2] = {st.st_atim, st.st_mtim};
    ::futimens(dst.get(), times);
    // The folder's entries must be on disk before the source goes.
    if (::fsync(dst.get()) != 0 && errno != EINVAL) return failed("cannot flush folder", errno);
    return {};
}

std::string copySymlink(int sdir, const char* sname, const struct stat& st, int ddir, const char* dname) {
    std::vector<char> target(size_t(st.st_size > 0 ? st.st_size : 255) + 1);
    for (;;) {
        ssize_t n = ::readlinkat(sdir, sname, target.data(), target.size());
        if (n < 0) return failed("cannot read link", errno);
        if (size_t(n) < target.size()) {
            target[size_t(n)] = '\0';
            break;
        }
        target.resize(target.size() * 2);
    }
    if (::symlinkat(target.data(), ddir, dname) != 0) return failed("cannot create link", errno);
    // Owner and times as the original's where allowed; a user may not give
    // a link away, and the link is made either way.
    (void)!::fchownat(ddir, dname, st.st_uid, st.st_gid, AT_SYMLINK_NOFOLLOW);
    const struct timespec times[2] = {st.st_atim, st.st_mtim};
    ::utimensat(ddir, dname, times, AT_SYMLINK_NOFOLLOW);
    return {};
}

std::string copyEntry(int sdir, const char* sname, const struct stat& st, int ddir, const char* dname,
                      Copied& record) {
    record.st = st;
    if (S_ISREG(st.st_mode)) return copyRegular(sdir, sname, st, ddir, dname, record);
    if (S_ISDIR(st.st_mode)) return copyDirectory(sdir, sname, st, ddir, dname, record);
    if (S_ISLNK(st.st_mode)) return copySymlink(sdir, sname, st, ddir, dname);
    if (S_ISFIFO(st.st_mode)) {
        if (::mkfifoat(ddir, dname, st.st_mode & 07777) != 0) return failed("cannot create pipe", errno);
        const struct timespec times[2] = {st.st_atim, st.st_mtim};
        ::utimensat(ddir, dname, times, AT_SYMLINK_NOFOLLOW);
        return {};
    }
    return std::string("cannot copy special file ") + sname + " to another file system";
}

// Removes one entry below an open folder; the first error wins, the rest of
// the tree is still attempted so a partial copy does not linger.
std::string removeAt(int dirfd, const char* name) {
    struct stat st;
    if (::fstatat(dirfd, name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
        return errno == ENOENT ? std::string() : failed(std::string("cannot examine ") + name, errno);
    }
    if (!S_ISDIR(st.st_mode)) {
        if (::unlinkat(dirfd, name, 0) != 0 && errno != ENOENT)
            return failed(std::string("cannot remove ") + name, errno);
        return {};
    }
    std::string first;
    UniqueFd fd(::openat(dirfd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!fd) return failed(std::string("cannot open ") + name, errno);
    std::vector<std::string> names;
    {
        DirectoryReader listing = DirectoryReader::duplicate(fd.get());
        if (!listing.isOpen()) return failed(std::string("cannot list ") + name, listing.error());
        while (const dirent* ent = listing.next())
            names.emplace_back(ent->d_name);
    }
    for (const std::string& child : names) {
        std::string e = removeAt(fd.get(), child.c_str());
        if (first.empty()) first = e;
    }
    if (::unlinkat(dirfd, name, AT_REMOVEDIR) != 0 && errno != ENOENT && first.empty())
        first = failed(std::string("cannot remove ") + name, errno);
    return first;
}

bool sameTime(const struct timespec& a, const struct timespec& b) {
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

// Removes from the source only what the copy holds unchanged: the same item
// (device and inode), and for non-folders the same size, modification and
// change times. Anything else stays where it is, with the folders holding
// it, and is listed in `left` with the reason.
void removeCopied(int dirfd, const Copied& entry, const std::string& path,
                  std::vector<std::string>& left) {
    struct stat now;
    if (::fstatat(dirfd, entry.name.c_str(), &now, AT_SYMLINK_NOFOLLOW) != 0) {
        if (errno != ENOENT) left.push_back(quotedText(path) + ": " + errorText(errno));
        return;
    }
    const struct stat& was = entry.st;
    if (now.st_dev != was.st_dev || now.st_ino != was.st_ino ||
        (now.st_mode & S_IFMT) != (was.st_mode & S_IFMT)) {
        left.push_back(quotedText(path) + ": replaced during the move");
        return;
    }
    if (!S_ISDIR(now.st_mode)) {
        if (now.st_size != was.st_size || !sameTime(now.st_mtim, was.st_mtim) ||
            !sameTime(now.st_ctim, was.st_ctim)) {
            left.push_back(quotedText(path) + ": changed during the move");
            return;
        }
        if (::unlinkat(dirfd, entry.name.c_str(), 0) != 0 && errno != ENOENT)
            left.push_back(quotedText(path) + ": " + errorText(errno));
        return;
    }
    UniqueFd fd(::openat(dirfd, entry.name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    struct stat opened;
    if (!fd.valid() || ::fstat(fd.get(), &opened) != 0 || opened.st_ino != was.st_ino ||
        opened.st_dev != was.st_dev) {
        left.push_back(quotedText(path) + ": cannot open the folder to remove it");
        return;
    }
    const size_t leftBefore = left.size();
    for (const Copied& child : entry.children)
        removeCopied(fd.get(), child, path + "/" + child.name, left);
    if (::unlinkat(dirfd, entry.name.c_str(), AT_REMOVEDIR) == 0 || errno == ENOENT) return;
    int err = errno;
    if (err != ENOTEMPTY && err != EEXIST) {
        left.push_back(quotedText(path) + ": " + errorText(err));
        return;
    }
    // Still holds something: what the copy lacks was added meanwhile.
    DirectoryReader listing = DirectoryReader::duplicate(fd.get());
    while (const dirent* ent = listing.next()) {
        std::string_view n = ent->d_name;
        bool copiedHere = false;
        for (const Copied& child : entry.children)
            copiedHere = copiedHere || child.name == n;
        if (!copiedHere) left.push_back(quotedText(path + "/" + std::string(n)) + ": added during the move");
    }
    if (left.size() == leftBefore) left.push_back(quotedText(path) + ": not empty");
}

// Rename within one file system without replacing. File systems that do not
// know the flag get a hard link (atomic, no replace) for files and a checked
// rename otherwise.
int renameNoReplaceAt(int fromDir, const char* from, int toDir, const char* to) {
    if (::renameat2(fromDir, from, toDir, to, RENAME_NOREPLACE) == 0) return 0;
    int err = errno;
    if (err != EINVAL && err != ENOSYS && err != EOPNOTSUPP) return err;
    struct stat st;
    if (::fstatat(fromDir, from, &st, AT_SYMLINK_NOFOLLOW) != 0) return errno;
    if (!S_ISDIR(st.st_mode)) {
        if (::linkat(fromDir, from, toDir, to, 0) == 0) {
            ::unlinkat(fromDir, from, 0);
            return 0;
        }
        if (errno == EEXIST || errno == EXDEV || errno == ENOENT) return errno;
    }
    // Last resort for file systems without either: check, then rename. A
    // folder moved into itself still fails with EINVAL here.
    struct stat tst;
    if (::fstatat(toDir, to, &tst, AT_SYMLINK_NOFOLLOW) == 0) return EEXIST;
    if (::renameat(fromDir, from, toDir, to) == 0) return 0;
    return errno;
}

}  // namespace

std::string errorText(int err) {
    char buf[256];
    // GNU strerror_r returns the text, which need not be in buf.
    const char* s = ::strerror_r(err, buf, sizeof buf);
    return s ? std::string(s) : std::string("error ") + std::to_string(err);
}

namespace {

bool isOurPartialOf(std::string_view name, pid_t* pid) {
    // ".NAME.qm-partial-PID-N", as placeCopy names them.
    if (name.size() < 2 || name[0] != '.') return false;
    const size_t mark = name.rfind(".qm-partial-");
    if (mark == std::string_view::npos || mark < 1) return false;
    std::string_view rest = name.substr(mark + 12);
    const size_t dash = rest.find('-');
    if (dash == 0 || dash == std::string_view::npos || dash + 1 == rest.size()) return false;
    long long value = 0;
    for (char c : rest.substr(0, dash)) {
        if (c < '0' || c > '9' || value > 1'000'000'000) return false;
        value = value * 10 + (c - '0');
    }
    for (char c : rest.substr(dash + 1))
        if (c < '0' || c > '9') return false;
    *pid = pid_t(value);
    return true;
}

// Partial copies a run of ours cut off (a crash, a kill) left in the folder:
// those of processes that are gone. Looked for once per folder and process,
// the first time a copy goes there, so that a long move lists it only once.
void clearLeftoverPartials(int dirfd) {
    struct stat dst;
    if (::fstat(dirfd, &dst) != 0) return;
    struct Cleared {
        Mutex mutex;
        std::set<std::pair<dev_t, ino_t>> folders ABSL_GUARDED_BY(mutex);
    };
    static Cleared cleared;
    {
        MutexLock lock(cleared.mutex);
        if (!cleared.folders.emplace(dst.st_dev, dst.st_ino).second) return;
    }
    std::vector<std::string> gone;
    {
        DirectoryReader listing = DirectoryReader::duplicate(dirfd);
        if (!listing.isOpen()) return;
        while (const dirent* ent = listing.next()) {
            pid_t pid = 0;
            if (!isOurPartialOf(ent->d_name, &pid) || pid == ::getpid()) continue;
            if (pid > 0 && (::kill(pid, 0) == 0 || errno != ESRCH)) continue;  // its run may still go on
            gone.emplace_back(ent->d_name);
        }
    }
    for (const std::string& name : gone)
        if (removeAt(dirfd, name.c_str()).empty()) logLine(LogArea::fs, "Removed the partial copy " + quotedText(name));
}

// Copies the item under a hidden name next to `toName` (so that a half-made
// copy never shows there), flushes it and puts it in place without replacing
// anything. Empty, or the error; nothing is left behind on failure.
std::string placeCopy(int srcDir, const std::string& fromName, const struct stat& st, int dstDir,
                      const std::string& toName, const std::string& toFolder, Copied& copied) {
    clearLeftoverPartials(dstDir);
    std::string tmp;
    std::string e;
    copied.name = fromName;
    struct stat tst;
    for (int n = 0;; ++n) {
        tmp = "." + toName.substr(0, 180) + ".qm-partial-" + std::to_string(::getpid()) + "-" +
              std::to_string(n);
        if (::fstatat(dstDir, tmp.c_str(), &tst, AT_SYMLINK_NOFOLLOW) == 0) continue;
        e = copyEntry(srcDir, fromName.c_str(), st, dstDir, tmp.c_str(), copied);
        break;
    }
    if (!e.empty()) {
        removeAt(dstDir, tmp.c_str());
        return e;
    }
    if (int err = renameNoReplaceAt(dstDir, tmp.c_str(), dstDir, toName.c_str())) {
        removeAt(dstDir, tmp.c_str());
        return errorText(err);
    }
    // The copy's name in its folder must be on disk before anything relies on it.
    if (::fsync(dstDir) != 0 && errno != EINVAL) {
        int err = errno;
        removeAt(dstDir, toName.c_str());
        return "cannot flush " + toFolder + ": " + errorText(err);
    }
    return {};
}

struct Ends {
    struct stat st {};
    UniqueFd srcDir, dstDir;
    std::string fromName, toName;
};

// Opens both folders; empty, or the error.
std::string openEnds(const std::string& from, const std::string& to, Ends& ends) {
    if (from.empty() || to.empty() || lastNameOf(from).empty() || lastNameOf(to).empty())
        return errorText(EINVAL);
    if (::lstat(from.c_str(), &ends.st) != 0) return errorText(errno);
    struct stat tst;
    if (::lstat(to.c_str(), &tst) == 0) return errorText(EEXIST);
    ends.fromName = lastNameOf(from);
    ends.toName = lastNameOf(to);
    ends.srcDir = UniqueFd(::open(parentOf(from).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!ends.srcDir.valid()) return errorText(errno);
    ends.dstDir = UniqueFd(::open(parentOf(to).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!ends.dstDir.valid()) return errorText(errno);
    return {};
}

// Opens both folders and places the copy there; empty, or the error.
std::string copyBetween(const std::string& from, const std::string& to, Ends& ends, Copied& copied) {
    if (std::string e = openEnds(from, to, ends); !e.empty()) return e;
    return placeCopy(ends.srcDir.get(), ends.fromName, ends.st, ends.dstDir.get(), ends.toName, parentOf(to),
                     copied);
}

}  // namespace

FileResult copyNoReplace(const std::string& from, const std::string& to) {
    Ends ends;
    Copied copied;
    if (std::string e = copyBetween(from, to, ends, copied); !e.empty()) return FileResult::failure(e);
    return FileResult::success(to);
}

FileResult copyThenRemove(const std::string& from, const std::string& to, bool* leftRemnant,
                          const std::function<void()>& beforeRemoval) {
    if (leftRemnant) *leftRemnant = false;
    Ends ends;
    Copied copied;
    if (std::string e = copyBetween(from, to, ends, copied); !e.empty()) return FileResult::failure(e);
    if (beforeRemoval) beforeRemoval();

    std::vector<std::string> left;
    removeCopied(ends.srcDir.get(), copied, from, left);
    if (left.empty()) return FileResult::success(to);
    if (!S_ISDIR(copied.st.st_mode)) {
        // A lone item that changed stays whole at its place; its copy is stale.
        ::unlinkat(ends.dstDir.get(), ends.toName.c_str(), 0);
        return FileResult::failure("changed during the move, left in place");
    }
    for (const std::string& line : left)
        logLine(LogArea::fs, "Left " + line);
    if (leftRemnant) *leftRemnant = true;
    return FileResult::failure("copied to " + quotedText(to) + ", but " + std::to_string(left.size()) +
                               (left.size() == 1 ? " item was" : " items were") +
                               " left in the original place");
}

FileResult moveNoReplace(const std::string& from, const std::string& to, bool* leftRemnant) {
    if (leftRemnant) *leftRemnant = false;
    if (from.empty() || to.empty() || lastNameOf(from).empty() || lastNameOf(to).empty())
        return FileResult::failure(errorText(EINVAL));
    int err = renameNoReplaceAt(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str());
    if (err == 0) return FileResult::success(to);
    if (err == EXDEV) return copyThenRemove(from, to, leftRemnant);
    return FileResult::failure(errorText(err));
}

std::string removeTree(const std::string& path) {
    UniqueFd dir(::open(parentOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!dir.valid()) return failed("cannot open parent", errno);
    return removeAt(dir.get(), lastNameOf(path).c_str());
}

FileResult makeDirectories(const std::string& path, unsigned mode) {
    if (path.empty()) return FileResult::failure(errorText(ENOENT));
    for (size_t pos = 1;; ++pos) {
        pos = path.find('/', pos);
        std::string prefix = path.substr(0, pos);
        if (!prefix.empty() && prefix.back() != '/' && ::mkdir(prefix.c_str(), mode) != 0) {
            int err = errno;
            struct stat st;
            if (err != EEXIST) return FileResult::failure(errorText(err));
            if (::stat(prefix.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
                return FileResult::failure(errorText(ENOTDIR));
        }
        if (pos == std::string::npos) break;
    }
    return FileResult::success(path);
}

}  // namespace qm::posix
