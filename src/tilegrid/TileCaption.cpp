#include "tilegrid/TileCaption.h"

#include <QFontMetricsF>

#include <cmath>

#include "desktop/TextContrast.h"

namespace qm {

namespace {

bool isHiddenOrReordering(char32_t c) {
    if (c < 0x20 || (c >= 0x7f && c < 0xa0)) return true;          // C0, DEL, C1
    if (c == 0x2028 || c == 0x2029) return true;                     // line and paragraph separators
    if (c >= 0x202a && c <= 0x202e) return true;                     // embeddings and overrides
    if (c >= 0x2066 && c <= 0x2069) return true;                     // isolates
    return false;
}

}  // namespace

double TileCaption::height(const QFontMetricsF& metrics) {
    return std::ceil(metrics.height()) + 2 * kPadding;
}

QString TileCaption::displayName(std::string_view path) {
    size_t slash = path.rfind('/');
    return displayText(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

QString TileCaption::displayText(std::string_view bytes) {
    QString text = QString::fromUtf8(bytes.data(), qsizetype(bytes.size()));
    for (qsizetype i = 0; i < text.size(); ++i) {
        // Every character that needs care is in the Basic Multilingual Plane.
        if (text[i].isSurrogate()) continue;
        if (isHiddenOrReordering(text[i].unicode())) text[i] = QChar(QChar::ReplacementCharacter);
    }
    return text;
}

QString TileCaption::elided(const QString& name, const QFontMetricsF& metrics, double width) {
    return metrics.elidedText(name, Qt::ElideMiddle, std::max(width, 0.0));
}

TileCaption::Colors TileCaption::colors(const QPalette& palette, std::optional<QColor> selection) {
    const QColor base = palette.color(QPalette::Base);
    const QColor text = palette.color(QPalette::Text);
    if (!selection) return {std::nullopt, text};
    const QColor fill = TextContrast::composite(*selection, base);
    const QColor selectedText = palette.color(QPalette::HighlightedText);
    const QColor chosen =
        TextContrast::ratio(selectedText, fill) >= TextContrast::ratio(text, fill) ? selectedText : text;
    return {TextContrast::fillForText(fill, chosen), chosen};
}

}  // namespace qm
