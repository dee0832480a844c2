#pragma once

#include <string>
#include <string_view>

namespace qm {

// Replaces a file so that a crash or power cut at any moment leaves either
// the old contents or the new, never a mix: the bytes go to a temporary file
// in the same folder, which is flushed to disk and renamed over the target,
// and then the folder itself is flushed so the rename survives.
class AtomicFileWriter {
public:
    // Creates the missing folders of the path. Returns an empty string on
    // success, otherwise what failed (the target is then untouched).
    static std::string write(const std::string& path, std::string_view bytes);
    // Removes the temporary files of writes that were cut off (a crash or a
    // kill) and are older than a minute, so that a write in progress in
    // another process keeps its own.
    static void removeLeftovers(const std::string& path);
};

}  // namespace qm
