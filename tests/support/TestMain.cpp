// Shared main of every test executable: before anything reads the environment,
// point HOME and the XDG directories at a fresh temporary tree, so that no test
// can touch the real home of whoever runs the suite.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "support/TempDir.h"

int main(int argc, char** argv) {
    qm::test::TempDir home("qm-home");
    const auto& h = home.path();
    for (auto [var, sub] : {std::pair{"XDG_CONFIG_HOME", ".config"}, {"XDG_CACHE_HOME", ".cache"},
                            {"XDG_DATA_HOME", ".local/share"}, {"XDG_STATE_HOME", ".local/state"}}) {
        std::filesystem::create_directories(h / sub);
        setenv(var, (h / sub).c_str(), 1);
    }
    std::filesystem::create_directories(h / "runtime");
    std::filesystem::permissions(h / "runtime", std::filesystem::perms::owner_all);
    setenv("XDG_RUNTIME_DIR", (h / "runtime").c_str(), 1);
    setenv("HOME", h.c_str(), 1);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
