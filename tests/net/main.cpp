#include "platform/EventWait.h"

#include <QCoreApplication>
#include <cstdlib>
#include <gtest/gtest.h>

int main(int argc, char* argv[]) {
    // As in every test main: ctest lists the cases by running this without its ENVIRONMENT.
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    // The command line's loop: the window's (GLib's) runs the engine, peer and window cases.
    platform::PreferPlainEventLoop();
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
