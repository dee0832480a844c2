#include "platform/XattrTagStore.h"

#include <fcntl.h>
#include <sys/syscall.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstring>

namespace qm {

namespace {

std::string reason(const std::string& what, const std::string& path, int err) {
    return what + " " + path + ": " + std::strerror(err);
}

// No attribute, or a file system / file type that cannot carry one: no tags.
bool meansNoTags(int err) {
    return err == ENODATA || err == ENOTSUP;
}

}  // namespace

std::vector<std::string> XattrTagStore::parse(std::string_view value) {
    std::vector<std::string> tags;
    while (!value.empty()) {
        size_t comma = value.find(',');
        std::string_view piece = value.substr(0, comma);
        if (!piece.empty()) tags.emplace_back(piece);
        if (comma == std::string_view::npos) break;
        value.remove_prefix(comma + 1);
    }
    return tags;
}

std::string XattrTagStore::format(const std::vector<std::string>& tags) {
    std::vector<std::string> sorted;
    sorted.reserve(tags.size());
    for (const auto& tag : tags)
        if (!tag.empty()) sorted.push_back(tag);
    std::sort(sorted.begin(), sorted.end());
    sorted.erase(std::unique(sorted.begin(), sorted.end()), sorted.end());
    std::string out;
    for (const auto& tag : sorted) {
        if (!out.empty()) out += ',';
        out += tag;
    }
    return out;
}

namespace {

// The attribute through `get` (lgetxattr of a path or fgetxattr of an open
// file, bound to the attribute's name).
template <typename Get>
std::optional<std::string> readAttributeWith(Get get) {
    // Most values fit the stack buffer: one call.
    char small[1024];
    ssize_t n = get(small, sizeof small);
    if (n >= 0) return std::string(small, static_cast<size_t>(n));
    if (meansNoTags(errno)) return std::string();
    if (errno != ERANGE) return std::nullopt;
    // Larger: ask for the size, which may change again meanwhile; retry then.
    for (int attempt = 0; attempt < 8; ++attempt) {
        ssize_t size = get(nullptr, 0);
        if (size < 0) return meansNoTags(errno) ? std::optional<std::string>(std::string()) : std::nullopt;
        std::string value(static_cast<size_t>(size) + 1, '\0');
        n = get(value.data(), value.size());
        if (n >= 0) {
            value.resize(static_cast<size_t>(n));
            return value;
        }
        if (meansNoTags(errno)) return std::string();
        if (errno != ERANGE) return std::nullopt;
    }
    errno = ERANGE;
    return std::nullopt;
}

}  // namespace

std::optional<std::string> XattrTagStore::readAttribute(const std::string& path) {
    return readAttributeWith(
        [&](void* buffer, size_t size) { return ::lgetxattr(path.c_str(), attributeName, buffer, size); });
}

std::optional<std::string> XattrTagStore::readAttribute(int fd) {
    return readAttributeWith([&](void* buffer, size_t size) { return ::fgetxattr(fd, attributeName, buffer, size); });
}

namespace {

// getxattrat(2), Linux 6.13; the C library has no wrapper for it yet.
constexpr long getxattratCall = 464;
struct XattrArgs {
    uint64_t value;
    uint32_t size;
    uint32_t flags;
};
std::atomic<bool> getxattratMissing{false};

}  // namespace

std::optional<std::string> XattrTagStore::readAttribute(int dirFd, const char* name, const std::string& path) {
    // A crawl reads every file's attribute: resolving the whole path again
    // for each cost as much kernel time as the folder's listing and stats.
    if (!getxattratMissing.load(std::memory_order_relaxed)) {
        bool unusable = false;
        std::optional<std::string> value = readAttributeWith([&](void* buffer, size_t size) -> ssize_t {
            if (unusable) return -1;
            XattrArgs args{reinterpret_cast<uintptr_t>(buffer), static_cast<uint32_t>(size), 0};
            const long n = ::syscall(getxattratCall, dirFd, name, AT_SYMLINK_NOFOLLOW, attributeName, &args,
                                     sizeof args);
            // An older kernel, or a sandbox that refuses calls it does not know.
            if (n < 0 && (errno == ENOSYS || errno == EPERM)) {
                if (errno == ENOSYS) getxattratMissing.store(true, std::memory_order_relaxed);
                unusable = true;
            }
            return n;
        });
        if (!unusable) return value;
    }
    return readAttribute(path);
}

TagStore::ReadResult XattrTagStore::readTags(const std::string& path) {
    ReadResult result;
    std::optional<std::string> value = readAttribute(path);
    if (!value) {
        result.error = errno == ERANGE ? "Cannot read tags of " + path + ": the value keeps changing"
                                       : reason("Cannot read tags of", path, errno);
        return result;
    }
    result.ok = true;
    result.tags = parse(*value);
    return result;
}

TagStore::WriteResult XattrTagStore::writeTags(const std::string& path,
                                               const std::vector<std::string>& tags) {
    WriteResult result;
    for (const auto& tag : tags) {
        if (tag.find(',') != std::string::npos) {
            result.error = "Cannot set tags of " + path + ": the tag \"" + tag +
                           "\" contains a comma, which the tag attribute cannot store";
            return result;
        }
    }
    std::string value = format(tags);
    if (value.empty()) {
        if (::lremovexattr(path.c_str(), attributeName) != 0 && errno != ENODATA) {
            result.error = reason("Cannot remove tags of", path, errno);
            return result;
        }
        result.ok = true;
        return result;
    }
    if (::lsetxattr(path.c_str(), attributeName, value.data(), value.size(), 0) != 0) {
        int err = errno;
        if (err == EPERM) {
            // Symlinks and special files cannot carry user attributes.
            result.error = reason("Cannot set tags of", path, err) + " (tags need a regular file or folder)";
        } else if (err == ENOTSUP) {
            result.error = reason("Cannot set tags of", path, err) + " (the file system does not store tags)";
        } else {
            result.error = reason("Cannot set tags of", path, err);
        }
        return result;
    }
    result.ok = true;
    return result;
}

}  // namespace qm
