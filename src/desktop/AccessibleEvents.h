#pragma once

#include <functional>

class QAccessibleEvent;

namespace qm {

// The views' announcements to assistive technology. Events go out only while
// one listens, so views check `wanted()` and build none otherwise; tests
// watch them through the observer.
struct AccessibleEvents {
    using Observer = std::function<void(QAccessibleEvent*)>;
    static void setObserver(Observer observer);
    static bool wanted();
    static void post(QAccessibleEvent* event);
};

}  // namespace qm
