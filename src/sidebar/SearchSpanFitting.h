#pragma once

#include <functional>
#include <vector>

namespace qm {

// Fits a result's spans into the name's width: first the unmatched runs give
// up room, in order, each shrunk to what is left for it (truncated by the
// view); only then the matched runs. Widths come in measured and go out
// fitted; `measureIn(i, room)` is the width span i takes when laid out in
// `room` (its truncated text's width).
struct SearchSpanFitting {
    static std::vector<double> fit(std::vector<double> widths, const std::vector<bool>& isMatch, double nameWidth,
                                   const std::function<double(size_t, double)>& measureIn);
};

}  // namespace qm
