#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "desktop/TypeAhead.h"
#include "library/Node.h"

namespace qm {

// The tree's type-to-select state: the shared type-ahead rules over the
// visible rows, and the row found by typing (drawn with a focus ring until
// Return or an arrow key makes it current).
class TypeNavigation {
public:
    using Clock = TypeAhead::Clock;

    explicit TypeNavigation(Clock clock = {}) : typeAhead_(std::move(clock)) {}

    NodePtr node;  // the row found by typing

    const std::string& pattern() const { return typeAhead_.pattern(); }
    void reset() {
        typeAhead_.reset();
        node.reset();
    }
    bool isReset() const { return typeAhead_.isReset() && !node; }

    // Types `characters` over the rows (in walk order); `current` is the
    // window's current row. Returns the index of the row found, if any.
    std::optional<size_t> type(std::string_view characters, const std::vector<const Node*>& rows,
                               std::optional<size_t> current);

private:
    TypeAhead typeAhead_;
};

}  // namespace qm
