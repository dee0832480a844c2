#include "desktop/TextContrast.h"

#include <algorithm>
#include <cmath>

namespace qm {

namespace {

double linear(double channel) {
    return channel <= 0.04045 ? channel / 12.92 : std::pow((channel + 0.055) / 1.055, 2.4);
}

QColor mix(const QColor& a, const QColor& b, double t) {
    auto m = [t](double x, double y) { return float(x + (y - x) * t); };
    return QColor::fromRgbF(m(a.redF(), b.redF()), m(a.greenF(), b.greenF()), m(a.blueF(), b.blueF()));
}

}  // namespace

double TextContrast::luminance(const QColor& c) {
    QColor rgb = c.toRgb();
    return 0.2126 * linear(rgb.redF()) + 0.7152 * linear(rgb.greenF()) + 0.0722 * linear(rgb.blueF());
}

double TextContrast::ratio(const QColor& a, const QColor& b) {
    double la = luminance(a), lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

QColor TextContrast::composite(const QColor& over, const QColor& background) {
    QColor bg = background.toRgb();
    bg.setAlphaF(1);
    return mix(bg, over.toRgb(), over.alphaF());
}

QColor TextContrast::dimmed(const QColor& text, const QColor& background, double alpha, double minRatio) {
    // Opacity raises contrast monotonically from the background's own colour
    // to the text's, so the least sufficient opacity is found by halving.
    QColor c = text.toRgb();
    auto reads = [&](double a) {
        QColor t = c;
        t.setAlphaF(float(a));
        return ratio(composite(t, background), background) >= minRatio;
    };
    double lo = std::clamp(alpha, 0.0, 1.0);
    if (reads(lo) || !reads(1.0)) {
        c.setAlphaF(float(reads(lo) ? lo : 1.0));
        return c;
    }
    double hi = 1.0;
    for (int i = 0; i < 20; ++i) {
        double mid = (lo + hi) / 2;
        (reads(mid) ? hi : lo) = mid;
    }
    c.setAlphaF(float(hi));
    return c;
}

QColor TextContrast::fillForText(const QColor& fill, const QColor& text, double minRatio) {
    QColor opaque = fill.toRgb();
    opaque.setAlphaF(1);
    if (ratio(opaque, text) >= minRatio) return opaque;
    const QColor towards = luminance(text) > 0.5 ? QColor(Qt::black) : QColor(Qt::white);
    double lo = 0, hi = 1;
    for (int i = 0; i < 20; ++i) {
        double mid = (lo + hi) / 2;
        (ratio(mix(opaque, towards, mid), text) >= minRatio ? hi : lo) = mid;
    }
    return mix(opaque, towards, hi);
}

}  // namespace qm
