#pragma once

#include <QString>
#include <QWidget>

class QGraphicsOpacityEffect;
class QPropertyAnimation;

namespace qm {

// The short status text after a command ("Tagged 3 Files"): fades in, stays
// and fades out over two seconds at the bottom centre of the window. A new
// text replaces the old one and starts the fade over.
class ToastView : public QWidget {
    Q_OBJECT
public:
    static constexpr int durationMilliseconds = 2000;

    explicit ToastView(QWidget* parent = nullptr);

    void show(const QString& text);
    QString text() const { return text_; }
    // True while the fade runs.
    bool isShowing() const;
    double opacity() const;
    // Keeps the toast at the bottom centre of its parent.
    void place();

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString text_;
    QGraphicsOpacityEffect* effect_;
    QPropertyAnimation* animation_;
};

}  // namespace qm
