#pragma once

#include <QByteArray>

#include <functional>
#include <optional>
#include <string>

#include "core/PathMetadata.h"

namespace qm {

// The process's reverse geocoder: names a position from the bundled place
// table, loaded on first use on a background queue. Answers arrive on the
// main queue and are remembered for the life of the process. Main thread only.
class PlaceNames {
public:
    static PlaceNames& shared();

    // The remembered name, if the position was named before.
    std::optional<std::string> cached(const GPS& gps) const;
    // Names the position; `done` runs on the main queue only when a place is
    // near enough, and the name is remembered even if nobody waits any more.
    void lookup(const GPS& gps, std::function<void(const std::string&)> done);

    // The bundled table's bytes (empty when missing).
    static QByteArray tableBytes();

private:
    PlaceNames() = default;
    struct State;
    State& state() const;
};

}  // namespace qm
