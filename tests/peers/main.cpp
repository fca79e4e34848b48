#include <QCoreApplication>
#include <cstdlib>
#include <gtest/gtest.h>

// The HTTP and FTP clients wait by pumping the event loop, so the cases need the application
// object; they run one after another on this thread.
int main(int argc, char* argv[]) {
    // As in every test main: ctest lists the cases by running this without its ENVIRONMENT.
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
