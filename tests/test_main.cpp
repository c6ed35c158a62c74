#include <QCoreApplication>

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    // Tests never need a display.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    ::testing::InitGoogleTest(&argc, argv);
    QCoreApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
