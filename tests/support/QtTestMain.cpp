// Main of the widget tests: a fresh temporary HOME as in every test, then a
// QApplication for the real widgets, offscreen unless the caller chose a
// platform (a developer may run one under Xvfb to watch it).
#include <gtest/gtest.h>

#include <QApplication>

#include <cstdlib>

#include "support/TempDir.h"

int main(int argc, char** argv) {
    qm::test::TempDir home("qm-home");
    qm::test::useAsHome(home.path());
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
