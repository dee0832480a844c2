#include "commands/TagPasteboardType.h"

#include <nlohmann/json.hpp>

namespace qm {

const std::string& TagPasteboardType::pasteboardType() {
    static const std::string type = "application/x-quillomere-tag";
    return type;
}

std::string TagPasteboardType::pasteboardPropertyList() const {
    nlohmann::json j = {{"tag", tag}};
    // Tags are bytes; invalid UTF-8 is written replaced rather than failing.
    return j.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

std::optional<TagPasteboardType> TagPasteboardType::decode(std::string_view data) {
    nlohmann::json j = nlohmann::json::parse(data.begin(), data.end(), nullptr, false);
    if (j.is_discarded() || !j.is_object()) return std::nullopt;
    auto it = j.find("tag");
    if (it == j.end() || !it->is_string()) return std::nullopt;
    return TagPasteboardType(it->get<std::string>());
}

}  // namespace qm
