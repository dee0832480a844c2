#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/QuickString.h"

namespace qm {

// A label colour, components in 0..1.
struct Color {
    double red = 0;
    double green = 0;
    double blue = 0;
    double alpha = 1;
    friend bool operator==(const Color&, const Color&) = default;
};

// The colour labels and the mapping between tag strings and the full names of
// the tree nodes that list their files: colour labels under "Colors/", the
// star as the stars node "★", every other tag under "Tags/" (where "/" nests).
// Immutable after construction, so one instance is shared between threads.
class TagFormat {
public:
    // The built-in label table (Red, Orange, Yellow, Green, Blue, Purple, Gray).
    TagFormat();
    // A table from parallel lists, paired by index up to the shorter one. A
    // label whose colour has no red, green or blue above 0 is left out; of two
    // labels with one name the later wins.
    TagFormat(const std::vector<std::string>& labelNames, const std::vector<Color>& labelColors);

    static const std::vector<std::string>& builtInLabelNames();
    static const std::vector<Color>& builtInLabelColors();

    // Label name to colour, for the labels that have a visible colour.
    const std::map<std::string, Color, std::less<>>& colorTags() const { return colorTags_; }
    bool isColorTag(std::string_view tag) const { return colorTags_.find(tag) != colorTags_.end(); }

    // "Colors/" + tag for a colour label, "★" for the star, else "Tags/" + tag.
    // The tag's bytes are kept as they are.
    QuickString nodeNameForTag(std::string_view tag) const;

    // The inverse: the tag a tag node's full name stands for; none for the bare
    // section names "Colors", "Tags" and "Pinned".
    static std::optional<std::string> tagForNodeName(const QuickString& fullName);

private:
    std::map<std::string, Color, std::less<>> colorTags_;
};

}  // namespace qm
