#include "core/TagFormat.h"

#include <algorithm>

namespace qm {

namespace {

constexpr std::string_view colorsPrefix = "Colors/";
constexpr std::string_view tagsPrefix = "Tags/";
constexpr std::string_view pinnedPrefix = "Pinned/";

}  // namespace

const std::vector<std::string>& TagFormat::builtInLabelNames() {
    static const std::vector<std::string> names = {"Red",  "Orange", "Yellow", "Green",
                                                   "Blue", "Purple", "Gray"};
    return names;
}

const std::vector<Color>& TagFormat::builtInLabelColors() {
    static const std::vector<Color> colors = {
        {1.0, 0.231, 0.188, 1},    // red
        {1.0, 0.584, 0.0, 1},      // orange
        {1.0, 0.8, 0.0, 1},        // yellow
        {0.204, 0.78, 0.349, 1},   // green
        {0.0, 0.478, 1.0, 1},      // blue
        {0.686, 0.322, 0.871, 1},  // purple
        {0.557, 0.557, 0.576, 1},  // gray
    };
    return colors;
}

TagFormat::TagFormat() : TagFormat(builtInLabelNames(), builtInLabelColors()) {}

TagFormat::TagFormat(const std::vector<std::string>& labelNames, const std::vector<Color>& labelColors) {
    size_t n = std::min(labelNames.size(), labelColors.size());
    for (size_t i = 0; i < n; ++i) {
        const Color& c = labelColors[i];
        // A colour without any red, green or blue shows nothing (black or clear).
        if (!(c.red > 0.0 || c.green > 0.0 || c.blue > 0.0)) continue;
        colorTags_.insert_or_assign(labelNames[i], c);
    }
}

QuickString TagFormat::nodeNameForTag(std::string_view tag) const {
    std::string full;
    if (isColorTag(tag)) {
        full.reserve(colorsPrefix.size() + tag.size());
        full.append(colorsPrefix).append(tag);
    } else if (tag == starString().utf8()) {
        return starString();
    } else {
        full.reserve(tagsPrefix.size() + tag.size());
        full.append(tagsPrefix).append(tag);
    }
    return QuickString::literal(full);
}

std::optional<std::string> TagFormat::tagForNodeName(const QuickString& fullName) {
    std::string_view s = fullName.utf8();
    for (std::string_view prefix : {colorsPrefix, tagsPrefix, pinnedPrefix}) {
        if (s.starts_with(prefix)) return std::string(s.substr(prefix.size()));
        if (s == prefix.substr(0, prefix.size() - 1)) return std::nullopt;
    }
    return std::string(s);
}

}  // namespace qm
