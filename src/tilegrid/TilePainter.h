#pragma once

#include <QColor>
#include <QFont>
#include <QImage>
#include <QPixmap>
#include <QStaticText>
#include <QString>

#include <cstdint>
#include <optional>
#include <vector>

#include "tilegrid/TileCaption.h"
#include "tilegrid/TilePool.h"

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
    QString caption;                    // the name under the picture (TileCaption::displayName)
};

// Draws tiles: the thumbnail aspect-filled over the checkerboard, the
// selection overlay, check box, star, duration and panorama badge, and the
// file's name in a strip under the picture when names are shown. Keeps one
// scaled copy of each tile's image and its laid-out name, so scrolling
// redraws without rescaling or shaping text again.
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
        double captionHeight = 0;  // 0: no names
        TileCaption::Colors caption;          // of a file not selected
        TileCaption::Colors selectedCaption;  // of a selected one
    };

    // The grid's accent: the selected-text colour at full saturation and
    // brightness; a grey accent stays a middle grey.
    static QColor accentColor(const QPalette& palette, float alpha);
    // How a grid with this palette and font draws its tiles; the selection
    // is grey while the grid has no focus.
    static Style style(const QPalette& palette, const QFont& font, bool focused, double scale, double captionHeight);

    // What a bound tile shows (all but its image): its badges and name, the
    // selection and check-box mode, and under the pointer the empty check
    // box or star it offers.
    static TileLook lookOf(const Tile& tile, bool selected, bool starred, bool checkBoxes, bool hovered,
                           bool withCaption);

    // The tile of a slot (its id) whose image has this version; the slot's
    // scaled copy is remade when either or the size changes. `rect` is the
    // picture; the name's strip lies below it.
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
    struct Caption {
        QString name;
        double width = -1;
        QStaticText text;
    };
    const QPixmap& checkerboard(double scale);
    const QPixmap& scaled(uint32_t slot, uint32_t version, const QImage& image, const QRectF& rect, double scale);
    void paintCaption(QPainter& painter, const QRectF& strip, const TileLook& look, const Style& style,
                      uint32_t slot);

    QPixmap checkerboard_;
    std::vector<Scaled> scaled_;
    std::vector<Caption> captions_;
};

}  // namespace qm
