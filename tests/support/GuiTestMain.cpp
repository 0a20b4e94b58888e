// main() of the GUI test suites: one QApplication for the whole run, on Qt's offscreen
// platform unless the environment names another (test discovery runs without ctest's
// environment, so the default has to be set here).
#include <gtest/gtest.h>

#include <QApplication>

#ifdef QIRO7_IMPORT_OFFSCREEN_PLUGIN
#include <QFont>
#include <QtPlugin>
Q_IMPORT_PLUGIN(QOffscreenIntegrationPlugin)
#endif

int main(int argc, char* argv[]) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication application(argc, argv);
#ifdef QIRO7_IMPORT_OFFSCREEN_PLUGIN
    // On Windows the offscreen platform has no font substitution: a missing family becomes the
    // first one installed, a symbol font under Wine. Give it the substitute fontconfig gives.
    QFont::insertSubstitution(QStringLiteral("MS UI Gothic"), QStringLiteral("DejaVu Sans"));
#endif
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
