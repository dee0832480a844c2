#include "sidebar/TypeNavigation.h"

namespace qm {

std::optional<size_t> TypeNavigation::type(std::string_view characters, const std::vector<const Node*>& rows,
                                           std::optional<size_t> current) {
    if (rows.empty()) return std::nullopt;
    size_t start = current && *current < rows.size() ? *current : 0;
    if (node)
        for (size_t i = 0; i < rows.size(); ++i)
            if (rows[i] == node.get()) {
                start = i;
                break;
            }
    // Rows are found by what they show: a saved query by its name, not its expression.
    auto hit =
        typeAhead_.type(characters, rows.size(), [&](size_t i) { return rows[i]->displayName().utf8(); }, start);
    if (hit) node = std::const_pointer_cast<Node>(rows[*hit]->shared_from_this());
    return hit;
}

}  // namespace qm
