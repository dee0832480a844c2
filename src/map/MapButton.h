#pragma once

#include <QAbstractButton>
#include <QImage>
#include <QPointer>

class QTimer;

namespace qm {

// A side button of the map: a square filled by state, its title or icon,
// and a tooltip of our own that appears after 0.8 s, or at once while the
// pointer moves along the buttons.
class MapButton : public QAbstractButton {
    Q_OBJECT
public:
    enum class RoundedCorners { top, bottom };

    MapButton(const QString& title, const QString& tooltipText, RoundedCorners corners, QWidget* tooltipHost,
              QWidget* parent = nullptr);
    ~MapButton() override;

    void setImage(const QImage& image);
    const QString& tooltipText() const { return tooltipText_; }
    QWidget* tooltip() const { return tooltip_; }
    bool isTooltipVisible() const;
    // Where the tooltip's top-left sits in the host, set by the pane's layout.
    void setTooltipPosition(QPoint topLeft);

    QSize sizeHint() const override { return QSize(27, 27); }

protected:
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

private:
    void showTooltip();
    void hideTooltip();

    QString tooltipText_;
    RoundedCorners corners_;
    QImage image_;
    QPointer<QWidget> tooltip_;
    // Stopping it on leave stands for the pending tooltip's token.
    QTimer* tooltipTimer_;
};

}  // namespace qm
