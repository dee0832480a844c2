#pragma once

#include <optional>

#include "map/MapCircle.h"
#include "map/OverlayProjection.h"

namespace qm {

// What a press does at a distance from the placed circle's edge.
enum class CircleZone {
    inside,   // more than 5 points inside: moves the circle
    edge,     // within 5 points of the edge: resizes it
    outside,  // 5 points or more outside: pans the map
};

// The circle's hit zones, cursor buckets and drag threshold, in view points.
struct CircleHitTest {
    static constexpr double edgeWidth = 5;
    static constexpr double dragThreshold = 3;
    // Resize cursors by angle over half a turn; this bucket is the four-way one.
    static constexpr int cursorBuckets = 32;
    static constexpr int fourDirectionBucket = 32;

    // Distance from the point to the circle's edge, negative inside.
    static double edgeDistance(const MapCircle& circle, const OverlayProjection& projection, double x,
                               double y);
    static CircleZone zoneForEdgeDistance(double d);
    // The zone of a point; outside when no circle is placed.
    static CircleZone zone(const std::optional<MapCircle>& circle, const OverlayProjection& projection,
                           double x, double y);
    // The two-direction cursor's bucket for an angle in radians (the same
    // arrow after half a turn).
    static int bucketForAngle(double angle);
    // Whether a drag from the press to the point has gone far enough to act.
    static bool passesThreshold(double pressX, double pressY, double x, double y);
};

}  // namespace qm
