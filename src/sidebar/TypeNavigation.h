#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "library/Node.h"

namespace qm {

// Type-to-select over the visible rows: typed characters build a pattern that
// picks the first row (from the current one, wrapping) whose letters and
// digits start with it; a pause longer than 0.8 s starts a new pattern one
// row further on. The clock is injected so the pause rule is testable.
class TypeNavigation {
public:
    using Clock = std::function<std::chrono::steady_clock::time_point()>;
    static constexpr std::chrono::milliseconds pause{800};

    explicit TypeNavigation(Clock clock = [] { return std::chrono::steady_clock::now(); })
        : clock_(std::move(clock)) {}

    std::string pattern;
    std::optional<std::chrono::steady_clock::time_point> latestDate;  // none: the distant past
    NodePtr node;                                                     // the row found by typing

    void reset() {
        pattern.clear();
        latestDate.reset();
        node.reset();
    }
    bool isReset() const { return pattern.empty() && !latestDate && !node; }

    // Types `characters` over the rows (in walk order); `current` is the
    // window's current row. Returns the index of the row found, if any.
    std::optional<size_t> type(std::string_view characters, const std::vector<const Node*>& rows,
                               std::optional<size_t> current);

    // Letters and digits of `name` in order against the pattern; other name
    // characters are skipped, pattern characters never. Case matches when
    // either side is upper case and the lower-case forms agree.
    static bool matches(std::string_view pattern, std::string_view name);

private:
    Clock clock_;
};

}  // namespace qm
