#pragma once

#include <string>
#include <string_view>

namespace qm {

// Names of absolute, normalised paths (no "//", no trailing "/" but on the root).

// The folder holding `path`, as dirname(1) says it: "/" for "/a" and for "/",
// "." for a name without "/".
std::string parentOf(std::string_view path);
// The last component ("c" for "/a/b/c"); the whole text for a name without "/".
std::string lastNameOf(std::string_view path);
// True when `path` is `top` or lies below it; "/a/bc" is not below "/a/b".
bool isAtOrBelow(std::string_view path, std::string_view top);

}  // namespace qm
