#pragma once

#include <QAbstractScrollArea>

#include <cstddef>
#include <optional>

#include "sidebar/SidebarAccessible.h"
#include "sidebar/SidebarLayout.h"

namespace qm {

// What the tree and the search results share as rows drawn in a scroll
// area: the row layout and the scroll range, which follows the size and the
// content; gaining or losing focus and the window's activation repaint (the
// selection colour depends on them), a font change measures again, and
// gaining focus tells assistive technology which row is current.
class SidebarRowsArea : public QAbstractScrollArea, public SidebarAccessibleRows {
    Q_OBJECT
public:
    using QAbstractScrollArea::QAbstractScrollArea;

    // Height of all rows, in content coordinates.
    virtual double contentHeight() = 0;
    const SidebarLayout& layout() const { return layout_; }
    int scrollOffset() const;
    void setScrollOffset(int y);
    // Scrolls as little as needed to show the content span [top, bottom].
    void scrollToVisible(double top, double bottom);

protected:
    void updateScrollBar();
    // Home, End, Page Up and Page Down scroll without moving the current
    // row; true when `key` was one of them.
    bool scrollByKey(int key);
    virtual void updateFonts() = 0;
    // The row of the window's current node, if shown.
    virtual std::optional<size_t> focusedRow() = 0;

    void resizeEvent(QResizeEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void changeEvent(QEvent* event) override;

    SidebarLayout layout_{13};
};

}  // namespace qm
