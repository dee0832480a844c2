#include "commands/TagPasteboardType.h"

#include <nlohmann/json.hpp>

#include "commands/ByteSafeText.h"

namespace qm {

const std::string& TagPasteboardType::pasteboardType() {
    static const std::string type = "application/x-quillomere-tag";
    return type;
}

std::string TagPasteboardType::pasteboardPropertyList() const {
    // Tags are bytes (other programs write any): a name that is not UTF-8
    // travels in the byte-safe form of the state file, so the drop finds it.
    nlohmann::json j = {{"tag", encodeByteSafeText(tag)}};
    return j.dump();
}

std::optional<TagPasteboardType> TagPasteboardType::decode(std::string_view data) {
    nlohmann::json j = nlohmann::json::parse(data.begin(), data.end(), nullptr, false);
    if (j.is_discarded() || !j.is_object()) return std::nullopt;
    auto it = j.find("tag");
    if (it == j.end() || !it->is_string()) return std::nullopt;
    std::string tag;
    if (!decodeByteSafeText(it->get_ref<const std::string&>(), tag)) return std::nullopt;
    return TagPasteboardType(std::move(tag));
}

}  // namespace qm
