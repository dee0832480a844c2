#pragma once

#include <cstdint>

namespace qm {

// Panorama cropping of an equirectangular image (Google's GPano XMP properties), in pixels.
struct GPano {
    std::int64_t croppedAreaLeft = 0;
    std::int64_t croppedAreaTop = 0;
    std::int64_t croppedAreaWidth = 0;
    std::int64_t croppedAreaHeight = 0;
    std::int64_t fullPanoWidth = 0;
    std::int64_t fullPanoHeight = 0;

    friend bool operator==(const GPano&, const GPano&) = default;
};

}  // namespace qm
