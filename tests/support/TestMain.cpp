// Shared main of every test executable: before anything reads the environment,
// point HOME and the XDG directories at a fresh temporary tree, so that no test
// can touch the real home of whoever runs the suite.
#include <gtest/gtest.h>

#include "support/TempDir.h"

int main(int argc, char** argv) {
    qm::test::TempDir home("qm-home");
    qm::test::useAsHome(home.path());
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
