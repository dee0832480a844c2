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
};

}  // namespace qm
