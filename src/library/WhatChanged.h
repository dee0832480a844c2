#pragma once

#include <cstdint>

#include "core/BitFlags.h"

namespace qm {

// What a change of the tree touched, so the database knows which events to
// emit. Raw values are stable.
enum class WhatChanged : uint8_t {
    none = 0,
    children = 1,  // a node was added or removed
    paths = 2,     // a path was added to or removed from a node
    grid = 4,      // the GPS grid changed
};

template <>
inline constexpr bool isBitFlags<WhatChanged> = true;

constexpr bool isEmpty(WhatChanged w) {
    return w == WhatChanged::none;
}

}  // namespace qm
