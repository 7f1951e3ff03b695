// GoogleTest's main for tests of Qt windows: one QApplication for all tests, on the offscreen
// platform unless the environment names another.
#include <gtest/gtest.h>

#include <QApplication>

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
#ifdef QUORVANE_TEST_FONT_DIR
    // The offscreen platform on Windows knows only the fonts of this directory.
    if (qEnvironmentVariableIsEmpty("QT_QPA_FONTDIR")) {
        qputenv("QT_QPA_FONTDIR", QUORVANE_TEST_FONT_DIR);
    }
#endif
    ::testing::InitGoogleTest(&argc, argv);
    QApplication application(argc, argv);
    return RUN_ALL_TESTS();
}
