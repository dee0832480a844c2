#pragma once

#include <type_traits>

namespace qm {

// Opt-in bit-set operators for scoped enumerations whose enumerators are bits:
// specialise `isBitFlags` for the enum, next to its definition, e.g.
//   template <> inline constexpr bool isBitFlags<WhatChanged> = true;
template <typename E>
inline constexpr bool isBitFlags = false;

template <typename E>
concept BitFlagsEnum = std::is_enum_v<E> && isBitFlags<E>;

template <BitFlagsEnum E>
constexpr std::underlying_type_t<E> rawValue(E e) {
    return static_cast<std::underlying_type_t<E>>(e);
}
template <BitFlagsEnum E>
constexpr E operator|(E a, E b) {
    return static_cast<E>(rawValue(a) | rawValue(b));
}
template <BitFlagsEnum E>
constexpr E operator&(E a, E b) {
    return static_cast<E>(rawValue(a) & rawValue(b));
}
template <BitFlagsEnum E>
constexpr E operator~(E a) {
    return static_cast<E>(static_cast<std::underlying_type_t<E>>(~rawValue(a)));
}
template <BitFlagsEnum E>
constexpr E& operator|=(E& a, E b) {
    return a = a | b;
}
template <BitFlagsEnum E>
constexpr E& operator&=(E& a, E b) {
    return a = a & b;
}

// True when every bit of `bits` is set in `set` (and `bits` is not empty).
template <BitFlagsEnum E>
constexpr bool has(E set, E bits) {
    return rawValue(bits) != 0 && (rawValue(set) & rawValue(bits)) == rawValue(bits);
}

}  // namespace qm
