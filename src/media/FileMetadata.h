#pragma once

#include <filesystem>
#include <optional>

#include "media/GPano.h"

namespace qm {

class ByteSource;

// What a tile shows besides its thumbnail: a playing time and a panorama badge.
struct FileMetadata {
    std::optional<double> duration;  // seconds
    std::optional<GPano> gpano;

    friend bool operator==(const FileMetadata&, const FileMetadata&) = default;
};

// Reads the duration and panorama record of a file. Unreadable, short, unknown or
// malformed files yield absent values; nothing is thrown. Runs on any thread.
FileMetadata readFileMetadata(const std::filesystem::path& path);

// The same over already opened bytes. `path` is only used for the fallback by file
// name (sounds and movies through libavformat); an empty path skips that fallback.
FileMetadata readFileMetadata(ByteSource& source, const std::filesystem::path& path);

}  // namespace qm
