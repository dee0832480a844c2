#pragma once

#include <QColor>
#include <QPalette>
#include <QString>

#include <optional>
#include <string_view>

class QFontMetricsF;

namespace qm {

// The line of a file's name under its picture: how tall the strip is, what
// the name reads as and how it is shortened, and its colours.
class TileCaption {
public:
    static constexpr double kPadding = 3;  // above and below the text
    static constexpr double kInset = 4;    // left and right of it

    // One line of the font and the padding, in whole pixels so that rows
    // stay on the pixel grid.
    static double height(const QFontMetricsF& metrics);

    // The last component of a path as a person should read it: its bytes as
    // UTF-8 (undecodable ones as U+FFFD), and control characters and the
    // characters that reorder text (embeddings, overrides, isolates) as
    // U+FFFD too, so that a name shows as one line and cannot pass for
    // another ("invoice\u202Efdp.exe" reading as "invoiceexe.pdf").
    static QString displayName(std::string_view path);
    // Any bytes of a path (a folder, a whole path) read the same way.
    static QString displayText(std::string_view bytes);

    // Shortened in the middle to fit the width, so that the start of the
    // name and its extension stay visible.
    static QString elided(const QString& name, const QFontMetricsF& metrics, double width);

    struct Colors {
        std::optional<QColor> fill;  // behind the text; none: the grid's background
        QColor text;
    };
    // The palette's text colour on its base; a selected file's name on the
    // selection colour (as it shows over the base), in the palette's
    // selected-text colour or its text colour, whichever reads better, with
    // the fill darkened or lightened until it meets the contrast ratio.
    static Colors colors(const QPalette& palette, std::optional<QColor> selection);
};

}  // namespace qm
