#include "desktop/AccessibleEvents.h"

#include <QAccessible>

namespace qm {

namespace {

// Set and read on the main thread only, as are the widgets that post.
AccessibleEvents::Observer& observer() {
    static AccessibleEvents::Observer o;
    return o;
}

}  // namespace

void AccessibleEvents::setObserver(Observer o) {
    observer() = std::move(o);
}

bool AccessibleEvents::wanted() {
    return QAccessible::isActive() || observer();
}

void AccessibleEvents::post(QAccessibleEvent* event) {
    if (observer()) observer()(event);
    if (QAccessible::isActive()) QAccessible::updateAccessibility(event);
}

}  // namespace qm
