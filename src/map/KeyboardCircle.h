#pragma once

#include "map/MapCamera.h"
#include "map/MapCircle.h"

namespace qm {

// Circle search without a mouse: the circle a key places at the view's
// centre, and the circles the keys grow, shrink and move it to. Moves are in
// view points, so one key press looks the same at every zoom and latitude.
class KeyboardCircle {
public:
    // A placed circle's radius is this part of the visible longitude span.
    static constexpr double placedRadiusFraction = 1.0 / 8;
    // One grow or shrink step scales the radius by this factor.
    static constexpr double resizeFactor = 1.25;
    // One move step is this part of the view's shorter side.
    static constexpr double moveFraction = 1.0 / 20;
    static constexpr double minRadius = 1e-6;
    static constexpr double maxRadius = 180;

    static MapCircle placedAtCenter(const MapCamera& camera);
    static MapCircle grown(const MapCircle& circle);
    static MapCircle shrunk(const MapCircle& circle);
    // dx, dy in steps (-1, 0 or 1): right and down are positive.
    static MapCircle moved(const MapCircle& circle, const MapCamera& camera, int dx, int dy);
};

}  // namespace qm
