// One test binary for the whole suite; widget tests need an application
// object, on the offscreen platform so that no display is required.
#include <QApplication>
#include <gtest/gtest.h>

int main(int argc, char** argv) {
    // KESTREL_TEST_ON_DISPLAY=1 keeps the display, for screenshots under Xvfb.
    if (qgetenv("KESTREL_TEST_ON_DISPLAY") != "1") qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
