#include "app/PlaceholderPane.h"

#include <QPainter>

#include "commands/BrowserState.h"

namespace qm {

PlaceholderPane::PlaceholderPane(std::shared_ptr<BrowserState> window, QString paneName, QWidget* parent)
    : QWidget(parent), window_(window), paneName_(std::move(paneName)) {
    setObjectName(paneName_);
    setFocusPolicy(Qt::StrongFocus);
    setAutoFillBackground(true);
    setBackgroundRole(QPalette::Base);
    window->currentNodeChanged.subscribe(token_, [this] { update(); });
}

std::any PlaceholderPane::scrollState() const {
    return ScrollState{offset_};
}

void PlaceholderPane::setScrollState(const std::any& state) {
    if (const auto* s = std::any_cast<ScrollState>(&state)) offset_ = s->offset;
}

void PlaceholderPane::setPlacedCircle(const std::optional<Circle>& circle) {
    if (circle == placedCircle_) return;
    placedCircle_ = circle;
    if (auto window = window_.lock(); window && window->invalidateRestorableState) window->invalidateRestorableState();
}

void PlaceholderPane::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setPen(palette().color(QPalette::Disabled, QPalette::Text));
    QString text = paneName_;
    if (auto window = window_.lock()) text += "\n" + QString::fromStdString(window->title());
    painter.drawText(rect().adjusted(8, 8, -8, -8), Qt::AlignCenter | Qt::TextWordWrap, text);
}

}  // namespace qm
