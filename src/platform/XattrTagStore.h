#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "library/TagStore.h"

namespace qm {

// Tags kept in the extended attribute "user.xdg.tags": UTF-8 names joined by
// ",", the convention KDE's file manager and indexer share, so tags written
// elsewhere show up here and ours show up there. Symlinks are never followed.
class XattrTagStore final : public TagStore {
public:
    static constexpr const char* attributeName = "user.xdg.tags";

    [[nodiscard]] ReadResult readTags(const std::string& path) override;

    // The raw attribute, never following a symlink: "" when the file carries
    // none (or its file system cannot), none when it cannot be read (errno
    // tells why; ERANGE when the value kept changing while read).
    static std::optional<std::string> readAttribute(const std::string& path);
    // The same of an open file.
    static std::optional<std::string> readAttribute(int fd);
    // The same of the entry `name` of the open folder `dirFd`, which is
    // `path`: resolved from the folder where the kernel can (getxattrat),
    // else through the whole path.
    static std::optional<std::string> readAttribute(int dirFd, const char* name, const std::string& path);
    [[nodiscard]] WriteResult writeTags(const std::string& path, const std::vector<std::string>& tags) override;

    // Splits a stored value at "," and drops empty pieces, as KDE's reader does.
    static std::vector<std::string> parse(std::string_view value);
    // The sorted, de-duplicated value to store; empty names are left out.
    // Callers check names for "," first.
    static std::string format(const std::vector<std::string>& tags);
};

}  // namespace qm
