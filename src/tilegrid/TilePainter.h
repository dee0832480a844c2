#pragma once

#include <QColor>
#include <QFont>
#include <QImage>
#include <QPixmap>
#include <QString>

#include <cstdint>
#include <optional>
#include <vector>

class QPainter;
class QRectF;

namespace qm {

// What one tile shows; the painter draws it all in one place, whether the
// tile is bound or only hovered.
struct TileLook {
    const QImage* image = nullptr;      // null or a null image: the placeholder
    bool selected = false;
    bool checkMark = false;             // selected in check-box mode
    bool starred = false;
    bool emptyCheck = false;            // hover affordances
    bool emptyStar = false;
    std::optional<double> duration;     // seconds
    bool hasGPano = false;
    QString caption;                    // a line under the picture; empty: none
};

// Draws tiles: the thumbnail aspect-filled over the checkerboard, the
// selection overlay, check box, star, duration and panorama badge. Keeps one
// scaled copy of each tile's image, so scrolling redraws without rescaling.
class TilePainter {
public:
    // Corner sizes, in device-independent pixels.
    static constexpr double kCheckInset = 7;
    static constexpr double kCheckSize = 16;
    static constexpr double kStarSize = 30;
    static constexpr double kTimeFontSize = 14;
    static constexpr double kTimeMargin = 8;
    static constexpr double kBadgeSize = 24;
    static constexpr double kBadgeRightMargin = 8;
    static constexpr double kBadgeBottomMargin = 4;

    struct Style {
        QColor selection;      // overlay of selected tiles
        QColor placeholder;    // a tile still waiting for its thumbnail
        QFont font;
        double scale = 1;      // device pixel ratio
    };

    // The tile of a slot (its id) whose image has this version; the slot's
    // scaled copy is remade when either or the size changes.
    void paint(QPainter& painter, const QRectF& rect, const TileLook& look, const Style& style,
               uint32_t slot, uint32_t version);
    // Only the hover affordances, over a tile drawn already.
    void paintAffordances(QPainter& painter, const QRectF& rect, const TileLook& look) const;
    // Forgets the checkerboard and scaled copies (a new screen or theme).
    void reset();

private:
    struct Scaled {
        QPixmap pixmap;
        uint32_t version = 0;
        double width = 0;
        double height = 0;
    };
    const QPixmap& checkerboard(double scale);
    const QPixmap& scaled(uint32_t slot, uint32_t version, const QImage& image, const QRectF& rect, double scale);

    QPixmap checkerboard_;
    std::vector<Scaled> scaled_;
};

}  // namespace qm
