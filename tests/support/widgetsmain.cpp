#include <QApplication>
#include <gtest/gtest.h>

// For tests of windows.
int main(int argc, char* argv[]) {
    // ctest sets the offscreen platform; so does a plain run (or test discovery) of the
    // binary, which must not need a display either.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
