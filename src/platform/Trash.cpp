#include "platform/Trash.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <ctime>

#include "core/FileURL.h"
#include "core/PathNames.h"
#include "core/UniqueFd.h"
#include "core/XdgDirectories.h"
#include "platform/FileOperationsPosix.h"

namespace qm {

namespace {

constexpr size_t kNameMax = 255;
const std::string kInfoSuffix = ".trashinfo";

// A directory we may use as a trash root: a real folder, not a link, ours.
bool isOwnDirectory(const std::string& path) {
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::getuid();
}

// Creates `path` with mode 0700 unless it exists; true when it is then usable.
bool ensureOwnDirectory(const std::string& path) {
    if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) return false;
    return isOwnDirectory(path);
}

// The mount point holding `dir` (a resolved folder path): walk up while the
// device stays the same.
std::string mountPointOf(const std::string& dir, dev_t dev) {
    std::string cur = dir;
    while (cur != "/") {
        std::string up = parentOf(cur);
        struct stat st;
        if (::stat(up.c_str(), &st) != 0 || st.st_dev != dev) break;
        cur = up;
    }
    return cur;
}

// Cuts a name to at most `limit` bytes without splitting a UTF-8 sequence.
std::string cutName(const std::string& s, size_t limit) {
    if (s.size() <= limit) return s;
    size_t n = limit;
    while (n > 0 && (static_cast<unsigned char>(s[n]) & 0xC0) == 0x80)
        --n;
    return s.substr(0, n);
}

// Candidate names inside the trash: the name itself, then "stem.2.ext", ...
// kept short enough for "<name>.trashinfo" to be a valid file name.
std::string candidateName(const std::string& name, int n) {
    size_t limit = kNameMax - kInfoSuffix.size();
    size_t dot = name.find_last_of('.');
    std::string stem = (dot == std::string::npos || dot == 0) ? name : name.substr(0, dot);
    std::string ext = (dot == std::string::npos || dot == 0) ? std::string() : name.substr(dot);
    std::string counter = n == 1 ? std::string() : "." + std::to_string(n);
    if (ext.size() > 32) {
        stem = name;
        ext.clear();
    }
    size_t room = limit > counter.size() + ext.size() ? limit - counter.size() - ext.size() : 1;
    return cutName(stem, room) + counter + ext;
}

std::string deletionDate() {
    std::time_t now = std::time(nullptr);
    struct tm local;
    ::localtime_r(&now, &local);
    char buf[32];
    std::strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%S", &local);
    return buf;
}

bool writeAll(int fd, const std::string& text) {
    for (size_t off = 0; off < text.size();) {
        ssize_t w = ::write(fd, text.data() + off, text.size() - off);
        if (w < 0 && errno == EINTR) continue;
        if (w < 0) return false;
        off += size_t(w);
    }
    return true;
}

// The trash folder for an item on another volume, created when missing.
std::optional<std::string> volumeTrash(const std::string& topdir) {
    std::string uid = std::to_string(::getuid());
    std::string base = topdir == "/" ? std::string() : topdir;
    std::string shared = base + "/.Trash";
    struct stat st;
    // A shared .Trash is only trusted when it is a real sticky folder.
    if (::lstat(shared.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && (st.st_mode & S_ISVTX)) {
        std::string mine = shared + "/" + uid;
        if (ensureOwnDirectory(mine)) return mine;
    }
    std::string mine = base + "/.Trash-" + uid;
    if (ensureOwnDirectory(mine)) return mine;
    return std::nullopt;
}

}  // namespace

std::string Trash::homeTrashDirectory() {
    return xdgDataHome() + "/Trash";
}

std::optional<std::string> Trash::infoPathFor(const std::string& trashedPath) {
    std::string filesDir = parentOf(trashedPath);
    if (lastNameOf(filesDir) != "files") return std::nullopt;
    std::string info = parentOf(filesDir) + "/info/" + lastNameOf(trashedPath) + kInfoSuffix;
    struct stat st;
    if (::lstat(info.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
    return info;
}

FileResult Trash::trashItem(const std::string& rawPath) {
    return trashItem(rawPath, [](const std::string& from, const std::string& to, bool* leftRemnant) {
        return posix::moveNoReplace(from, to, leftRemnant);
    });
}

FileResult Trash::trashItem(const std::string& rawPath, const Mover& mover) {
    std::string path = rawPath;
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    if (path.empty() || path[0] != '/' || path == "/")
        return FileResult::failure("not an absolute path of an item");
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0) return FileResult::failure(posix::errorText(errno));

    std::string name = lastNameOf(path);
    char resolved[PATH_MAX];
    if (!::realpath(parentOf(path).c_str(), resolved))
        return FileResult::failure(posix::errorText(errno));
    std::string realParent = resolved;
    std::string realPath = (realParent == "/" ? std::string() : realParent) + "/" + name;

    // The home trash serves the home file system; other volumes keep their own.
    std::string trashDir = homeTrashDirectory();
    std::string dataHome = parentOf(trashDir);
    std::string recorded = path;
    posix::makeDirectories(dataHome, 0700);
    struct stat hst;
    bool useHome = ::stat(dataHome.c_str(), &hst) == 0 && hst.st_dev == st.st_dev;
    if (useHome) {
        if (!ensureOwnDirectory(trashDir)) return FileResult::failure("cannot create the Trash " + trashDir);
    } else {
        std::string topdir = mountPointOf(realParent, st.st_dev);
        std::optional<std::string> dir = volumeTrash(topdir);
        if (!dir) return FileResult::failure("no usable Trash on the volume at " + topdir);
        trashDir = *dir;
        // On removable volumes the record is relative to the volume's top.
        recorded = topdir == "/" ? realPath.substr(1) : realPath.substr(topdir.size() + 1);
    }
    std::string filesDir = trashDir + "/files", infoDir = trashDir + "/info";
    if (!ensureOwnDirectory(filesDir) || !ensureOwnDirectory(infoDir))
        return FileResult::failure("cannot create the Trash folders in " + trashDir);

    std::string contents =
        "[Trash Info]\nPath=" + percentEncodePath(recorded) + "\nDeletionDate=" + deletionDate() + "\n";
    for (int n = 1; n < 100000; ++n) {
        std::string candidate = candidateName(name, n);
        std::string infoPath = infoDir + "/" + candidate + kInfoSuffix;
        std::string place = filesDir + "/" + candidate;
        // Creating the record exclusively reserves the name.
        UniqueFd fd(::open(infoPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
        if (!fd) {
            if (errno == EEXIST) continue;
            return FileResult::failure("cannot write " + infoPath + ": " + posix::errorText(errno));
        }
        bool written = writeAll(fd.get(), contents);
        if (fd.close() != 0) written = false;
        if (!written) {
            int err = errno;
            ::unlink(infoPath.c_str());
            return FileResult::failure("cannot write " + infoPath + ": " + posix::errorText(err));
        }
        struct stat pst;
        if (::lstat(place.c_str(), &pst) == 0) {
            ::unlink(infoPath.c_str());  // an item without a record holds the name
            continue;
        }
        bool leftRemnant = false;
        FileResult moved = mover(path, place, &leftRemnant);
        if (!moved.ok && leftRemnant) {
            // The copy is complete and keeps its record, so it can be
            // restored; copying the remnant again would only pile up copies.
            return moved;
        }
        if (!moved.ok) {
            ::unlink(infoPath.c_str());
            if (::lstat(place.c_str(), &pst) == 0 && ::lstat(path.c_str(), &pst) == 0) continue;
            return moved;
        }
        return FileResult::success(place);
    }
    return FileResult::failure("no free name in " + filesDir);
}

FileResult Trash::restoreItem(const std::string& trashedPath, const std::string& to) {
    std::optional<std::string> info = infoPathFor(trashedPath);
    FileResult moved = posix::moveNoReplace(trashedPath, to);
    if (moved.ok && info) ::unlink(info->c_str());
    return moved;
}

}  // namespace qm
