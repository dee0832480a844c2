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

    // One level of a tag (the sidebar's names): no "/" and no ",". Returns
    // the refusal, or an empty string when the name is fine.
    static std::string refusalForLevel(std::string_view name);

    // The text trimmed, split at "/", each level trimmed and the empty
    // levels dropped, so " Work / /2024 " is the tag "Work/2024"; refused
    // when any level holds a ",".
    static Path parsePath(std::string_view text);
};

}  // namespace qm
