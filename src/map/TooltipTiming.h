#pragma once

#include <chrono>

namespace qm {

// When a side button's tooltip appears: 0.8 s after the pointer enters,
// or at once when another tooltip was hidden less than 0.5 s ago (moving
// along the buttons keeps showing their tooltips).
struct TooltipTiming {
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::milliseconds showDelay{800};
    static constexpr std::chrono::milliseconds followWindow{500};

    static std::chrono::milliseconds delayFor(Clock::time_point now, Clock::time_point lastHidden) {
        return now - lastHidden < followWindow ? std::chrono::milliseconds(0) : showDelay;
    }
};

}  // namespace qm
