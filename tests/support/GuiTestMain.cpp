// main() of the GUI test suites: one QApplication for the whole run, on Qt's offscreen
// platform unless the environment names another (test discovery runs without ctest's
// environment, so the default has to be set here).
#include <gtest/gtest.h>

#include <QApplication>

int main(int argc, char* argv[]) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication application(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
