#pragma once

#include <QColor>
#include <QImage>

namespace qm {

// The side buttons' 23 × 23 icons, drawn for a colour and pixel ratio.
struct MapIcons {
    static QImage pan(const QColor& color, qreal devicePixelRatio);
    static QImage place(const QColor& color, qreal devicePixelRatio);
    // Off: the control text colour at half alpha. On: white over the dark fill
    // of a light appearance, black over the light fill of a dark one.
    static QColor offColor(const QColor& controlText);
    static QColor onColor(const QColor& controlText);
    // Light when the control text is dark.
    static bool isLightAppearance(const QColor& controlText);
};

}  // namespace qm
