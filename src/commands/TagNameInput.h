#pragma once

#include <string>
#include <string_view>

namespace qm {

// Checks of tag names a person types, shared by every prompt that asks for
// one, so that all of them refuse the same names with the same words.
class TagNameInput {
public:
    static constexpr const char* slashMessage = "The tag name cannot contain a \"/\" character";
    // Tags are stored comma-separated in user.xdg.tags; a comma would split the name.
    static constexpr const char* commaMessage = "The tag name cannot contain a \",\" character";
    // A tab or line break inside a name breaks every list that shows it.
    static constexpr const char* controlMessage =
        "The tag name cannot contain a control character such as a tab or a line break";
    static constexpr const char* emptyLevelMessage =
        "The tag name cannot have an empty level (a \"/\" at its start or end, or \"//\")";

    // A tag typed as a whole path ("Work/2024"), as the grid's "Add Tag…"
    // prompt takes it: `tag` is empty when nothing was typed; `refusal` is
    // the message that refuses the text (then `tag` is empty too).
    struct Path {
        std::string tag;
        std::string refusal;
        friend bool operator==(const Path&, const Path&) = default;
    };

    // Leading and trailing white space and line breaks removed.
    static std::string trimmed(std::string_view text);

    // One level of a tag (the sidebar's names): no "/", no "," and no
    // control character. Returns the refusal, or an empty string when the
    // name is fine.
    static std::string refusalForLevel(std::string_view name);

    // The text trimmed, split at "/", each level trimmed and the empty
    // levels dropped, so " Work / /2024 " is the tag "Work/2024"; refused
    // when any level holds a "," or a control character.
    static Path parsePath(std::string_view text);

    // As parsePath, but a level left empty ("Work/", "/Work", "a//b") is
    // refused rather than dropped: a name given in a script or on the
    // command line is taken as meant or not at all.
    static Path parseExactPath(std::string_view text);

    // Bytes 0-31 and 127, and the C1 controls U+0080-U+009F in UTF-8.
    static bool hasControlCharacter(std::string_view text);
};

}  // namespace qm
