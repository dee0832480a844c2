#pragma once

#include <QSize>

#include <cstdint>

namespace qm {

// Why a decoder gave no image: the file (a failure kept on record until the
// file changes) or the moment (memory or descriptors ran short, a read
// failed), which a later try may not meet.
enum class DecodeFailure : uint8_t { file, transient };

// What one decode may cost, whatever the file claims, for the thumbnails and
// the preview alike: a crafted or merely huge picture must not take the
// program's memory.
struct DecodeLimits {
    // The most Qt's image readers may allocate for one image.
    static constexpr int allocationLimitMiB = 64;
    // Pictures larger than this are refused from their header, undecoded.
    static constexpr std::int64_t maxImagePixels = 100'000'000;
    // Movie streams larger than this are refused before their codec opens.
    static constexpr std::int64_t maxMoviePixels = std::int64_t{8192} * 8192;

    // Sets Qt's allocation limit (process-wide; once).
    static void applyToQt();
    static bool allowsImage(QSize size) {
        return std::int64_t(size.width()) * size.height() <= maxImagePixels;
    }
    // Errors that say more about the moment than about the file.
    static bool isTransientErrno(int err);
};

}  // namespace qm
