#include "sidebar/SearchSpanFitting.h"

namespace qm {

std::vector<double> SearchSpanFitting::fit(std::vector<double> widths, const std::vector<bool>& isMatch,
                                           double nameWidth, const std::function<double(size_t, double)>& measureIn) {
    double m = 0, o = 0;
    for (size_t i = 0; i < widths.size(); ++i) (isMatch[i] ? m : o) += widths[i];
    // One pass over one kind of span; `own` is that kind's sum, `other` the rest.
    auto shrink = [&](bool matches, double& own, double other) {
        for (size_t i = 0; i < widths.size() && own + other > nameWidth; ++i) {
            if (isMatch[i] != matches) continue;
            own -= widths[i];
            double room = nameWidth - own - other;
            widths[i] = room < 0 ? 0 : measureIn(i, room);
            own += widths[i];
        }
    };
    shrink(false, o, m);
    shrink(true, m, o);
    return widths;
}

}  // namespace qm
