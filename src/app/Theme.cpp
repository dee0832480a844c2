#include "app/Theme.h"

#include <QApplication>
#include <QStyle>
#include <QStyleFactory>

namespace qm {

std::optional<Theme> themeFromString(std::string_view text) {
    if (text == "light") return Theme::light;
    if (text == "dark") return Theme::dark;
    if (text == "auto") return Theme::automatic;
    return std::nullopt;
}

const char* themeString(Theme theme) {
    switch (theme) {
    case Theme::light:
        return "light";
    case Theme::dark:
        return "dark";
    case Theme::automatic:
        break;
    }
    return "auto";
}

std::optional<Theme> themeFromSegment(int index) {
    if (index < 0 || index > 2) return std::nullopt;
    return static_cast<Theme>(index);
}

QPalette darkPalette() {
    const QColor window(45, 45, 48), base(30, 30, 32), text(230, 230, 230), disabled(128, 128, 128);
    const QColor highlight(42, 130, 218);
    QPalette p;
    p.setColor(QPalette::Window, window);
    p.setColor(QPalette::WindowText, text);
    p.setColor(QPalette::Base, base);
    p.setColor(QPalette::AlternateBase, window);
    p.setColor(QPalette::ToolTipBase, base);
    p.setColor(QPalette::ToolTipText, text);
    p.setColor(QPalette::PlaceholderText, disabled);
    p.setColor(QPalette::Text, text);
    p.setColor(QPalette::Button, window);
    p.setColor(QPalette::ButtonText, text);
    p.setColor(QPalette::BrightText, Qt::red);
    p.setColor(QPalette::Link, highlight.lighter(130));
    p.setColor(QPalette::LinkVisited, highlight.lighter(110));
    p.setColor(QPalette::Highlight, highlight);
    p.setColor(QPalette::HighlightedText, Qt::white);
    p.setColor(QPalette::Light, window.lighter(150));
    p.setColor(QPalette::Midlight, window.lighter(125));
    p.setColor(QPalette::Mid, window.lighter(110));
    p.setColor(QPalette::Dark, window.darker(150));
    p.setColor(QPalette::Shadow, Qt::black);
    for (auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        p.setColor(QPalette::Disabled, role, disabled);
    p.setColor(QPalette::Disabled, QPalette::Highlight, QColor(80, 80, 80));
    return p;
}

ThemeApplier::ThemeApplier() {
    if (QApplication::style()) desktopStyle_ = QApplication::style()->name();
}

void ThemeApplier::apply(Theme theme) {
    applied_ = theme;
    if (theme == Theme::automatic) {
        if (QApplication::style()->name() != desktopStyle_) QApplication::setStyle(desktopStyle_);
        // A palette that sets nothing resolves to the desktop's, and keeps following it.
        QApplication::setPalette(QPalette());
        return;
    }
    // Replacing a style that is already Fusion would only repolish every widget.
    if (QApplication::style()->name().compare(QLatin1String("fusion"), Qt::CaseInsensitive) != 0)
        QApplication::setStyle(QStringLiteral("Fusion"));
    QApplication::setPalette(theme == Theme::dark ? darkPalette() : QApplication::style()->standardPalette());
}

}  // namespace qm
