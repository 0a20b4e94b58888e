#include "app/Qiro7App.h"

#include <QApplication>

#include "app/Qiro7Dlg.h"
#include "app/WindowTitle.h"
#include "framework/QtText.h"
#include "link/ModalInteraction.h"
#include "res/StringTable.h"

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
