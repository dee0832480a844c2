#pragma once

#include <QColor>

namespace qm {

// Text colours that stay readable in any palette: the contrast ratio of two
// colours as accessibility guidelines measure it, and the adjustments that
// keep dimmed secondary text and text on the selection above the ratio for
// normal-size text (4.5:1), whatever the theme's own colours are.
class TextContrast {
public:
    static constexpr double minimumRatio = 4.5;

    // Relative luminance of an opaque colour, 0 (black) to 1 (white).
    static double luminance(const QColor& c);
    // (lighter + 0.05) / (darker + 0.05): 1 for equal colours, 21 for black on white.
    static double ratio(const QColor& a, const QColor& b);
    // A translucent colour as it shows over an opaque background.
    static QColor composite(const QColor& over, const QColor& background);
    // The text colour at the given opacity, or the least opacity above it at
    // which the text still meets the ratio on the background.
    static QColor dimmed(const QColor& text, const QColor& background, double alpha,
                         double minRatio = minimumRatio);
    // The fill itself when the text reads on it; otherwise the fill moved
    // towards black (light text) or white (dark text) just far enough.
    static QColor fillForText(const QColor& fill, const QColor& text, double minRatio = minimumRatio);
};

}  // namespace qm
