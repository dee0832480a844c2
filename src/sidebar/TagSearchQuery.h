#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace qm {

// The tokens of a tag search: the trimmed, lower-cased text split at "/",
// each "/" kept as a token of its own between words ("a/b" gives a, /, b;
// "a//b" gives a, /, b; "/a" gives a; "a/" gives a, /). No tokens: no search.
struct TagSearchQuery {
    static std::vector<std::string> tokens(std::string_view text);
};

}  // namespace qm
