#pragma once

#include <QWidget>

#include <cstddef>
#include <optional>

class QLabel;
class QToolButton;

namespace qm {

// The map results panel: a title row with the count ("1 result",
// "N results") and a "×" button that removes the circle.
class ResultsView : public QWidget {
    Q_OBJECT
public:
    explicit ResultsView(QWidget* parent = nullptr);

    static constexpr int titleRowHeight = 30;
    static constexpr int panelWidth = 300;
    static constexpr int inset = 30;

    // Empty for none, "1 result", otherwise the count and " results".
    static QString textFor(const std::optional<size_t>& count);
    void setCount(const std::optional<size_t>& count);
    QString text() const;
    QToolButton* closeButton() const { return closeButton_; }
    QLabel* label() const { return label_; }

    // A new count is announced to assistive technology (the label's name is
    // its text) through AccessibleEvents.

Q_SIGNALS:
    void closeRequested();

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    QLabel* label_;
    QToolButton* closeButton_;
};

}  // namespace qm
