#include <QApplication>

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    // No display needed: the windows draw into memory.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    app.setQuitOnLastWindowClosed(false);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
