#include "sidebar/SidebarRowsArea.h"

#include <QEvent>

namespace qm {

void SidebarRowsArea::resizeEvent(QResizeEvent* event) {
    QAbstractScrollArea::resizeEvent(event);
    updateScrollBar();
}

void SidebarRowsArea::focusInEvent(QFocusEvent* event) {
    QAbstractScrollArea::focusInEvent(event);
    viewport()->update();
    if (SidebarListAccessible::wantsEvents())
        if (auto row = focusedRow()) SidebarListAccessible::notifyFocus(this, int(*row));
}

void SidebarRowsArea::focusOutEvent(QFocusEvent* event) {
    QAbstractScrollArea::focusOutEvent(event);
    viewport()->update();
}

void SidebarRowsArea::changeEvent(QEvent* event) {
    QAbstractScrollArea::changeEvent(event);
    if (event->type() == QEvent::FontChange) updateFonts();
    if (event->type() == QEvent::ActivationChange || event->type() == QEvent::PaletteChange) viewport()->update();
}

}  // namespace qm
