#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qm {

// The payload of a tag dragged out of the sidebar: JSON {"tag": ...} under a
// MIME type private to this program.
class TagPasteboardType {
public:
    explicit TagPasteboardType(std::string tag) : tag(std::move(tag)) {}

    std::string tag;

    // "application/x-quillomere-tag".
    static const std::string& pasteboardType();
    static std::vector<std::string> writableTypes() { return {pasteboardType()}; }
    // The JSON text, whatever type is asked for.
    std::string pasteboardPropertyList() const;
    // None for anything but a JSON object with a string member "tag".
    static std::optional<TagPasteboardType> decode(std::string_view data);
};

}  // namespace qm
