#include "sidebar/SidebarRowsArea.h"

#include <QEvent>
#include <QScrollBar>

#include <algorithm>
#include <cmath>

#include "desktop/AccessibleEvents.h"

namespace qm {

void SidebarRowsArea::updateScrollBar() {
    const int page = viewport()->height();
    verticalScrollBar()->setRange(0, std::max(0, int(std::ceil(contentHeight())) - page));
    verticalScrollBar()->setPageStep(page);
    verticalScrollBar()->setSingleStep(int(layout_.rowHeight));
}

int SidebarRowsArea::scrollOffset() const {
    return verticalScrollBar()->value();
}

void SidebarRowsArea::setScrollOffset(int y) {
    updateScrollBar();
    verticalScrollBar()->setValue(y);
}

void SidebarRowsArea::scrollToVisible(double top, double bottom) {
    const int y = scrollOffset(), h = viewport()->height();
    if (top < y)
        setScrollOffset(int(std::floor(top)));
    else if (bottom > y + h)
        setScrollOffset(int(std::ceil(std::min(top, bottom - h))));
}

bool SidebarRowsArea::scrollByKey(int key) {
    const int page = viewport()->height();
    switch (key) {
    case Qt::Key_Home: setScrollOffset(0); return true;
    case Qt::Key_End: setScrollOffset(int(std::ceil(contentHeight()))); return true;
    case Qt::Key_PageUp: setScrollOffset(scrollOffset() - page); return true;
    case Qt::Key_PageDown: setScrollOffset(scrollOffset() + page); return true;
    default: return false;
    }
}

void SidebarRowsArea::resizeEvent(QResizeEvent* event) {
    QAbstractScrollArea::resizeEvent(event);
    updateScrollBar();
}

void SidebarRowsArea::focusInEvent(QFocusEvent* event) {
    QAbstractScrollArea::focusInEvent(event);
    viewport()->update();
    if (AccessibleEvents::wanted())
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
