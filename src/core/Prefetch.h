#pragma once

#include <cstddef>
#include <span>

#include "core/QuickString.h"

namespace qm {

// Calls `visit` on each key in order, with the string block of the key two
// strides ahead and the slots of `table` for the key one stride ahead already
// on their way. Bulk inserts of a million cold strings into big tables wait
// on memory, not on work; this overlaps the waits. `table` is anything with
// absl's prefetch(key).
template <typename Table, typename Visit>
void forEachPrefetched(std::span<const QuickString> keys, const Table& table, Visit&& visit) {
    constexpr size_t stride = 8;
    const size_t n = keys.size();
    for (size_t i = 0; i < n; ++i) {
        if (i + 2 * stride < n) keys[i + 2 * stride].prefetch();
        if (i + stride < n) table.prefetch(keys[i + stride]);
        visit(keys[i]);
    }
}

}  // namespace qm
