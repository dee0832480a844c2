#pragma once

#include <QPalette>
#include <QString>

#include <cstdint>
#include <optional>
#include <string_view>

namespace qm {

// The appearance of the program's windows; the raw values are the segment
// indexes of the theme control and stay fixed.
enum class Theme : uint8_t { light = 0, dark = 1, automatic = 2 };

// "light", "dark", "auto" exactly; anything else is no theme.
std::optional<Theme> themeFromString(std::string_view text);
const char* themeString(Theme theme);
// A segment index 0..2; anything else (no segment selected) is no theme.
std::optional<Theme> themeFromSegment(int index);

// The dark palette used with the Fusion style.
QPalette darkPalette();

// Applies a theme to the whole application: light and dark force the Fusion
// style with a light or dark palette; auto puts back the desktop's own style
// and palette, which then follow the desktop's changes.
class ThemeApplier {
public:
    // Remembers the desktop's style; make it once the QApplication exists.
    ThemeApplier();
    void apply(Theme theme);
    // The theme last applied, if any.
    std::optional<Theme> applied() const { return applied_; }

private:
    QString desktopStyle_;
    std::optional<Theme> applied_;
};

}  // namespace qm
