#pragma once

#include <QAbstractScrollArea>

#include <cstddef>
#include <optional>

#include "sidebar/SidebarAccessible.h"

namespace qm {

// What the tree and the search results share as rows drawn in a scroll
// area: the scroll range follows the size, gaining or losing focus and the
// window's activation repaint (the selection colour depends on them), a
// font change measures again, and gaining focus tells assistive technology
// which row is current.
class SidebarRowsArea : public QAbstractScrollArea, public SidebarAccessibleRows {
    Q_OBJECT
public:
    using QAbstractScrollArea::QAbstractScrollArea;

protected:
    virtual void updateScrollBar() = 0;
    virtual void updateFonts() = 0;
    // The row of the window's current node, if shown.
    virtual std::optional<size_t> focusedRow() = 0;

    void resizeEvent(QResizeEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void changeEvent(QEvent* event) override;
};

}  // namespace qm
