#pragma once

#include <QString>
#include <QWidget>

#include <any>
#include <memory>
#include <optional>

#include "library/Node.h"
#include "library/NodePath.h"

namespace qm {

class BrowserState;

// Stands in for a pane (sidebar, tile grid, map) that is not part of this
// build: the same constructor shape, scroll-state methods and upward signals
// as the real panes, so the window wires them all in one place. It shows the
// pane's name and the window's current node.
class PlaceholderPane : public QWidget {
    Q_OBJECT
public:
    struct ScrollState {
        int offset = 0;
    };
    // The map's placed circle, with the fields of the real map's.
    struct Circle {
        double centerLongitude = 0;
        double centerLatitude = 0;
        double radiusLongitude = 0;
        friend bool operator==(const Circle&, const Circle&) = default;
    };

    PlaceholderPane(std::shared_ptr<BrowserState> window, QString paneName, QWidget* parent = nullptr);

    std::any scrollState() const;
    void setScrollState(const std::any& state);
    void focusSearchField() { setFocus(Qt::ShortcutFocusReason); }

    // A stand-in for how far the pane is scrolled.
    int offset() const { return offset_; }
    void setOffset(int offset) { offset_ = offset; }
    // As the map: a new circle invalidates the window's restorable state.
    const std::optional<Circle>& placedCircle() const { return placedCircle_; }
    void setPlacedCircle(const std::optional<Circle>& circle);

Q_SIGNALS:
    void revealRequested(qm::NodePath node, qm::QuickStringSet selection, Qt::KeyboardModifiers modifiers);
    void revealLocationRequested(double longitude, double latitude, Qt::KeyboardModifiers modifiers);
    void statusTextRequested(const QString& text);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::weak_ptr<BrowserState> window_;
    QString paneName_;
    int offset_ = 0;
    std::optional<Circle> placedCircle_;
    std::shared_ptr<int> token_ = std::make_shared<int>(0);  // subscriptions live as long as the pane
};

}  // namespace qm
