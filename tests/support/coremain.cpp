#include <QCoreApplication>
#include <gtest/gtest.h>

// For tests whose code posts events or runs timers: they need an application object.
int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
