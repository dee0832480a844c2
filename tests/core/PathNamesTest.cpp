#include <gtest/gtest.h>
#include <libgen.h>

#include <algorithm>

#include <string>
#include <vector>

#include "core/PathNames.h"

namespace qm {
namespace {

std::string posixDirname(const std::string& path) {
    std::string copy = path;
    return ::dirname(copy.data());
}

std::vector<std::string> components(const std::string& path) {
    std::vector<std::string> out;
    std::size_t start = 0;
    while (start < path.size()) {
        std::size_t slash = path.find('/', start);
        if (slash == std::string::npos) slash = path.size();
        if (slash > start) out.push_back(path.substr(start, slash - start));
        start = slash + 1;
    }
    return out;
}

const std::vector<std::string> kPaths = {"/",      "/a",     "/a/b",  "/a/b/c", "/a/bc", "/ab",
                                         "/a/b c", "/é/ü",   "a",     "a/b",    "/.x/y", "/a/b/c/d"};

// dirname(3) is the oracle for every path the helper is meant for.
TEST(PathNames, ParentAgreesWithDirname) {
    for (const auto& p : kPaths) EXPECT_EQ(parentOf(p), posixDirname(p)) << p;
    EXPECT_EQ(lastNameOf("/a/b/c"), "c");
    EXPECT_EQ(lastNameOf("/a"), "a");
    EXPECT_EQ(lastNameOf("name"), "name");
}

// Below means: the components of `top` are a prefix of those of `path`.
TEST(PathNames, AtOrBelowMatchesComponentPrefixes) {
    for (const auto& p : kPaths) {
        if (p[0] != '/') continue;
        for (const auto& top : kPaths) {
            if (top[0] != '/') continue;
            auto pc = components(p), tc = components(top);
            bool expected = tc.size() <= pc.size() && std::equal(tc.begin(), tc.end(), pc.begin());
            EXPECT_EQ(isAtOrBelow(p, top), expected) << p << " under " << top;
        }
    }
}

}  // namespace
}  // namespace qm
