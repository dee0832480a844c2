#include "core/PathNames.h"

namespace qm {

std::string parentOf(std::string_view path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string_view::npos) return ".";
    if (slash == 0) return "/";
    return std::string(path.substr(0, slash));
}

std::string lastNameOf(std::string_view path) {
    const std::size_t slash = path.rfind('/');
    return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

bool isAtOrBelow(std::string_view path, std::string_view top) {
    if (!path.starts_with(top)) return false;
    return path.size() == top.size() || path[top.size()] == '/' || top == "/";
}

}  // namespace qm
