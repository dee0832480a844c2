#pragma once

#include "map/MapGeometry.h"

namespace qm {

// The map's part of a window's scroll state: its visible map rectangle.
struct MapScrollState {
    MapRect rect;
};

}  // namespace qm
