// The window tests run with a QApplication drawn off screen.
#include <QApplication>
#include <gtest/gtest.h>

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    // The windows' notices never reach the desktop the tests run on (nor the
    // programs they start): a bus address where no bus is.
    qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/wavetrap-tests-bus");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
