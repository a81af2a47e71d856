// One main for every test program: GoogleTest inside a QApplication, so
// widget tests can build real windows (offscreen) and queued calls run.
#include <QApplication>
#include <gtest/gtest.h>

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    // Started by hand rather than by ctest: the helper programs are built
    // beside the test programs, and the sources are where they were built.
    if (qEnvironmentVariableIsEmpty("TORVANE_BIN_DIR"))
        qputenv("TORVANE_BIN_DIR", QCoreApplication::applicationDirPath().toLocal8Bit());
    if (qEnvironmentVariableIsEmpty("TORVANE_SOURCE_DIR"))
        qputenv("TORVANE_SOURCE_DIR", TORVANE_SOURCE_DIR);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
