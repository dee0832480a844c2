#pragma once

class QPointF;

namespace qm {

// A press starts a drag only once the pointer has travelled this far from
// where it went down, so that a slightly shaky click stays a click.
struct DragThreshold {
    static constexpr double distance = 5;
    static bool reached(const QPointF& from, const QPointF& to);
};

}  // namespace qm
