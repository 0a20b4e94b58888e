#include "app/Qiro7App.h"

#include <QApplication>
#include <QIcon>

#include "app/Qiro7Dlg.h"
#include "app/WindowTitle.h"
#include "framework/QtText.h"
#include "link/ModalInteraction.h"
#include "res/StringTable.h"

namespace {

// Not every Qt can draw an SVG (it needs the SVG icon engine plugin); without one the windows
// keep the platform's default icon, which on Windows is the executable's own.
void UseProgramIcon() {
    const QIcon icon(QStringLiteral(":/qiro7/qiro7.svg"));
    if (!icon.pixmap(32).isNull()) {
        QApplication::setWindowIcon(icon);
    }
}

}  // namespace

CQiro7App::CQiro7App() : CQiro7App(Options{}) {}

CQiro7App::CQiro7App(Options startOptions) : options(std::move(startOptions)) {}

CQiro7App::~CQiro7App() = default;

int CQiro7App::Run() {
    InitInstance();
    return ExitInstance();
}

bool CQiro7App::InitInstance() {
    const std::string name =
        ExecutableBaseName(ToStdString(QCoreApplication::applicationFilePath()));
    SetApplicationName(name);
    QCoreApplication::setApplicationName(ToQString(name));
    // Lets the desktop match the windows to the menu entry of the same name.
    QGuiApplication::setDesktopFileName(ToQString(name));
    UseProgramIcon();

    singleInstanceMutex = std::make_unique<SingleInstanceLock>(options.lockName);
    if (!singleInstanceMutex->Acquire()) {
        startRefused = true;
        FrameworkMessageBox(IDS_MULTIPLE_LAUNCHES, MessageIcon::Exclamation);
        return false;
    }

    CQiro7Dlg mainWindow;
    mainWindow.windowTitle = VersionWindowTitle() + options.titleSuffix;
    mainWindow.exec();
    return false;
}

int CQiro7App::ExitInstance() {
    singleInstanceMutex.reset();
    return startRefused ? 1 : 0;
}
