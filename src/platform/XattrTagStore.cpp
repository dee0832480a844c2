#include "platform/XattrTagStore.h"

#include <sys/xattr.h>

#include <algorithm>
#include <cerrno>
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

TagStore::ReadResult XattrTagStore::readTags(const std::string& path) {
    ReadResult result;
    std::string buffer;
    // The value may grow between asking its size and reading it; retry then.
    for (int attempt = 0; attempt < 8; ++attempt) {
        ssize_t size = ::lgetxattr(path.c_str(), attributeName, nullptr, 0);
        if (size < 0) {
            if (meansNoTags(errno)) {
                result.ok = true;
                return result;
            }
            result.error = reason("Cannot read tags of", path, errno);
            return result;
        }
        buffer.resize(static_cast<size_t>(size) + 1);
        ssize_t got = ::lgetxattr(path.c_str(), attributeName, buffer.data(), buffer.size());
        if (got >= 0) {
            buffer.resize(static_cast<size_t>(got));
            result.ok = true;
            result.tags = parse(buffer);
            return result;
        }
        if (errno == ERANGE) continue;
        if (meansNoTags(errno)) {
            result.ok = true;
            return result;
        }
        result.error = reason("Cannot read tags of", path, errno);
        return result;
    }
    result.error = "Cannot read tags of " + path + ": the value keeps changing";
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
