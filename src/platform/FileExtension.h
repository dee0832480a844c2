#pragma once

#include <cctype>
#include <string>
#include <string_view>

namespace qm {

// The lower-cased extension of a path's last component ("JPG" -> "jpg"),
// empty when it has none; the readers pick a format by it before opening.
inline std::string lowerExtension(std::string_view path) {
    auto slash = path.find_last_of('/');
    auto dot = path.find_last_of('.');
    if (dot == std::string_view::npos || (slash != std::string_view::npos && dot < slash)) return {};
    std::string ext(path.substr(dot + 1));
    for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return ext;
}

}  // namespace qm
