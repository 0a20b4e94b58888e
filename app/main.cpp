// qiro7: the measurement program on the platform's USB driver.
#include <QApplication>
#include <memory>

#include "app/Qiro7App.h"
#include "framework/QtModalInteraction.h"
#include "link/ModalInteraction.h"

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    InstallModalInteraction(std::make_shared<QtModalInteraction>());
    CQiro7App program;
    return program.Run();
}
