#pragma once

#include <optional>

#include "core/GPS.h"

namespace qm {

// What a node knows about one of its files.
struct PathMetadata {
    std::optional<GPS> gps;
    friend bool operator==(const PathMetadata& a, const PathMetadata& b) { return a.gps == b.gps; }
};

}  // namespace qm
