#pragma once

#include <cstdint>

namespace qm {

// What a press on the map does: pan it, or place the circle.
enum class Tool : uint8_t { panCamera = 0, placeCircle = 1 };

}  // namespace qm
