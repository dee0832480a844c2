#pragma once

#include <functional>
#include <string>

#include "commands/FileOperations.h"

// Low-level moves and copies on POSIX file systems that never replace an
// existing item and never lose the source.
namespace qm::posix {

// The system's description of an errno value.
std::string errorText(int err);

// Renames `from` to `to` unless something exists at `to`. Across file systems
// the item (with its contents, mode, times and extended attributes) is copied
// under a temporary name next to `to`, flushed, put in place, and only then
// is the source removed; on any failure the partial copy goes and the source
// stays. The removal deletes only what was copied and has not changed since
// (same identity, size and times); a folder whose other items stay behind is
// a failure that keeps the complete copy at `to`, logs what was left, and
// sets `*leftRemnant`. The hidden copies of runs of ours cut off by a crash
// (".NAME.qm-partial-PID-N" of a process that is gone) are removed from a
// folder the first time a copy goes there.
FileResult moveNoReplace(const std::string& from, const std::string& to, bool* leftRemnant = nullptr);

// The cross-file-system half of moveNoReplace, callable on its own so that
// it can be exercised where only one file system is at hand.
// `beforeRemoval` runs between the copy and the removal of the source.
FileResult copyThenRemove(const std::string& from, const std::string& to, bool* leftRemnant = nullptr,
                          const std::function<void()>& beforeRemoval = {});

// Copies `from` (with its contents, mode, times and extended attributes, so
// a file keeps its tags) to `to` unless something exists there, the same way
// as the first half of a move across file systems; the source stays.
FileResult copyNoReplace(const std::string& from, const std::string& to);

// Removes `path` and, for a folder, everything below it, never following
// symbolic links. Returns an empty string or the first error met.
std::string removeTree(const std::string& path);

// mkdir -p: every missing folder along the path, with the given mode.
FileResult makeDirectories(const std::string& path, unsigned mode);

}  // namespace qm::posix
