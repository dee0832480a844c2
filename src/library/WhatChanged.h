#pragma once

#include <cstdint>

namespace qm {

// What a change of the tree touched, so the database knows which events to
// emit. Raw values are stable.
enum class WhatChanged : uint8_t {
    none = 0,
    children = 1,  // a node was added or removed
    paths = 2,     // a path was added to or removed from a node
    grid = 4,      // the GPS grid changed
};

constexpr uint8_t rawValue(WhatChanged w) {
    return static_cast<uint8_t>(w);
}
constexpr WhatChanged operator|(WhatChanged a, WhatChanged b) {
    return WhatChanged(rawValue(a) | rawValue(b));
}
constexpr WhatChanged operator&(WhatChanged a, WhatChanged b) {
    return WhatChanged(rawValue(a) & rawValue(b));
}
constexpr WhatChanged& operator|=(WhatChanged& a, WhatChanged b) {
    return a = a | b;
}
constexpr WhatChanged& operator&=(WhatChanged& a, WhatChanged b) {
    return a = a & b;
}

// True when every bit of `bits` is set in `set` (and `bits` is not empty).
constexpr bool has(WhatChanged set, WhatChanged bits) {
    return rawValue(bits) != 0 && (rawValue(set) & rawValue(bits)) == rawValue(bits);
}
constexpr bool isEmpty(WhatChanged w) {
    return w == WhatChanged::none;
}

}  // namespace qm
