#include "app/LoadingMessageView.h"

#include <QLocale>
#include <QPaintEvent>
#include <QPainter>

#include <algorithm>

namespace qm {

LoadingMessageView::LoadingMessageView(QWidget* parent) : QWidget(parent) {
    setObjectName("loadingMessageView");
}

void LoadingMessageView::setLoadingState(LoadingState state) {
    if (state == loadingState_) return;
    loadingState_ = state;
    update();
}

void LoadingMessageView::setProgress(std::optional<size_t> itemsSeen) {
    if (itemsSeen == itemsSeen_) return;
    itemsSeen_ = itemsSeen;
    if (loadingState_ == LoadingState::loading) update();
}

QString LoadingMessageView::messageFor(LoadingState state, std::optional<size_t> itemsSeen) {
    switch (state) {
    case LoadingState::blockedByPermissionPrompt:
        return QStringLiteral(
            "You need to grant this app permission to view files in some of your folders. If you do not "
            "grant permission, files in these folders will not be visible.");
    case LoadingState::loading: {
        QString text = QStringLiteral("Loading...");
        // A large home takes a while on the first start; show that work goes on.
        if (itemsSeen && *itemsSeen > 0)
            text += QStringLiteral("\n%1 files and folders seen so far")
                        .arg(QLocale().toString(static_cast<qulonglong>(*itemsSeen)));
        return text;
    }
    case LoadingState::loaded:
        break;
    }
    return {};
}

QString LoadingMessageView::message() const {
    return messageFor(loadingState_, itemsSeen_);
}

QRect LoadingMessageView::textRect() const {
    const QRect area = rect();
    const int width = std::max(0, std::min(area.width() - horizontalMargin, maximumTextWidth));
    const QRect bounds = fontMetrics().boundingRect(QRect(0, 0, width, 100000),
                                                    Qt::AlignHCenter | Qt::TextWordWrap, message());
    QRect r(0, 0, width, bounds.height());
    r.moveCenter(area.center());
    return r;
}

void LoadingMessageView::paintEvent(QPaintEvent* event) {
    if (loadingState_ == LoadingState::loaded) return;
    QPainter painter(this);
    painter.fillRect(event->rect(), palette().color(QPalette::Base));
    painter.setPen(palette().color(QPalette::Disabled, QPalette::Text));
    painter.drawText(textRect(), Qt::AlignHCenter | Qt::AlignTop | Qt::TextWordWrap, message());
}

}  // namespace qm
