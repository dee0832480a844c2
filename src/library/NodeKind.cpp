#include "library/NodeKind.h"

namespace qm {

const char* describe(NodeKind k) {
    static const char* const names[16] = {"0", "1", "2",  "3",  "4",  "5",  "6",  "7",
                                          "8", "9", "10", "11", "12", "13", "14", "15"};
    uint8_t raw = rawValue(k);
    return raw < 16 ? names[raw] : "?";
}

}  // namespace qm
