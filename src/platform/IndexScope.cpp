#include "platform/IndexScope.h"

#include <algorithm>

#include "core/PathNames.h"

namespace qm {

std::string IndexScope::normalized(std::string path) {
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    return path;
}

IndexScope::IndexScope(const std::vector<std::string>& roots, const std::vector<std::string>& excludedPaths) {
    std::vector<std::string> given;
    for (const std::string& r : roots)
        if (!r.empty()) given.push_back(normalized(r));
    for (const std::string& r : given) {
        const bool inside = std::any_of(given.begin(), given.end(), [&](const std::string& other) {
            return other != r && isAtOrBelow(r, other);
        });
        if (!inside && std::find(roots_.begin(), roots_.end(), r) == roots_.end()) roots_.push_back(r);
    }
    for (const std::string& e : excludedPaths) {
        if (e.empty()) continue;
        std::string path = normalized(e);
        const bool holdsRoot =
            std::any_of(roots_.begin(), roots_.end(), [&](const std::string& r) { return isAtOrBelow(r, path); });
        if (!holdsRoot) excluded_.push_back(std::move(path));
    }
}

bool IndexScope::contains(std::string_view path) const {
    return std::any_of(roots_.begin(), roots_.end(), [&](const std::string& r) { return isAtOrBelow(path, r); });
}

bool IndexScope::isExcluded(std::string_view path) const {
    return std::any_of(excluded_.begin(), excluded_.end(),
                       [&](const std::string& e) { return isAtOrBelow(path, e); });
}

}  // namespace qm
