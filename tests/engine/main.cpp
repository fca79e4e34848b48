#include <QCoreApplication>
#include <gtest/gtest.h>

// The engine's transfers wait by pumping the event loop, so the cases need the application
// object; they run one after another on this thread.
int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
