#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace qm {

// Finding an item of a list by typing the start of its name, as the sidebar
// and the file grid do: typed characters build a pattern that picks the first
// item, from the one found last (or the current one) and wrapping around,
// whose letters and digits start with it; a pause longer than 0.8 s starts a
// new pattern one item further on. The clock is injected so that the pause
// rule is testable.
class TypeAhead {
public:
    using TimePoint = std::chrono::steady_clock::time_point;
    using Clock = std::function<TimePoint()>;
    // The name of the item at an index, as UTF-8 (undecodable bytes match nothing).
    using NameAt = std::function<std::string_view(size_t)>;
    static constexpr std::chrono::milliseconds pause{800};

    explicit TypeAhead(Clock clock = {});

    // Types `characters` over `count` items. `start` is the index of the item
    // found last, else of the current item; none (a list with no such item)
    // searches from the first item, pause or not. Returns the item found.
    std::optional<size_t> type(std::string_view characters, size_t count, const NameAt& nameAt,
                               std::optional<size_t> start);

    void reset() {
        pattern_.clear();
        latestDate_.reset();
    }
    bool isReset() const { return pattern_.empty() && !latestDate_; }
    const std::string& pattern() const { return pattern_; }
    // None: the distant past.
    const std::optional<TimePoint>& latestDate() const { return latestDate_; }

    // Letters and digits of `name` in order against the pattern; other name
    // characters are skipped, pattern characters never. Case matches when
    // either side is upper case and the lower-case forms agree. An empty
    // pattern matches nothing.
    static bool matches(std::string_view pattern, std::string_view name);

private:
    Clock clock_;
    std::string pattern_;
    std::optional<TimePoint> latestDate_;
};

}  // namespace qm
