#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace qm {

// The folders an index or a watcher covers, normalised once: roots without
// trailing slashes, without duplicates and without roots inside other roots
// (they would be read twice), kept in the order given; excluded paths the
// same way, without those holding a whole root (a database kept beside the
// tree it indexes would hide everything). Empty paths are dropped.
class IndexScope {
public:
    IndexScope() = default;
    IndexScope(const std::vector<std::string>& roots, const std::vector<std::string>& excludedPaths);

    const std::vector<std::string>& roots() const noexcept { return roots_; }
    const std::vector<std::string>& excludedPaths() const noexcept { return excluded_; }

    // At or below one of the roots.
    bool contains(std::string_view path) const;
    // At or below one of the excluded paths.
    bool isExcluded(std::string_view path) const;

    // An absolute path without trailing slashes ("/" stays "/").
    static std::string normalized(std::string path);

private:
    std::vector<std::string> roots_;
    std::vector<std::string> excluded_;
};

}  // namespace qm
