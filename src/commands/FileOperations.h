#pragma once

#include <optional>
#include <string>

namespace qm {

// Outcome of one file operation. `error` describes a failure for the log;
// `resultingPath` is where the item ended up when the operation moves it
// somewhere of its own choosing (the Trash).
struct FileResult {
    bool ok = false;
    std::string error;
    std::optional<std::string> resultingPath;

    static FileResult success(std::optional<std::string> place = std::nullopt) {
        return FileResult{true, {}, std::move(place)};
    }
    static FileResult failure(std::string why) { return FileResult{false, std::move(why), std::nullopt}; }
};

// The file-system services the file commands use. None of them ever replaces
// an existing item, and none throws.
class FileOperations {
public:
    virtual ~FileOperations() = default;

    // Moves the item to a Trash from which it can be restored; the result's
    // path is its place there.
    virtual FileResult trashItem(const std::string& path) = 0;
    // Moves an item out of the Trash back to `to` and forgets its Trash record.
    virtual FileResult restoreItem(const std::string& trashedPath, const std::string& to) = 0;
    // Moves `from` to `to` only when nothing exists at `to`.
    virtual FileResult moveItem(const std::string& from, const std::string& to) = 0;
    // Copies `from` to `to`, with its extended attributes (its tags), only
    // when nothing exists at `to`.
    virtual FileResult copyItem(const std::string& from, const std::string& to) = 0;
    // Whether the item and the folder lie on one file system, so that a
    // move is a rename; false when either cannot be examined.
    virtual bool isOnSameFileSystem(const std::string& path, const std::string& folder) = 0;
    // Creates the folder and any missing parents; an existing folder is fine.
    virtual FileResult createDirectory(const std::string& path) = 0;
    // Removes the folder only when it is empty.
    virtual FileResult removeDirectory(const std::string& path) = 0;
    // True when anything, a dangling symbolic link included, is at the path.
    virtual bool fileExists(const std::string& path) = 0;
};

}  // namespace qm
