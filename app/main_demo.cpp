// qiro7-demo: the measurement program with a simulated instrument in place of the USB device.
// Its title says so, so nobody takes its readings for real ones.
#include <QApplication>
#include <memory>

#include "app/Qiro7App.h"
#include "framework/QtModalInteraction.h"
#include "link/ModalInteraction.h"
#include "link/UsbDriver.h"
#include "sim/SimulatedUsbDriver.h"

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    InstallModalInteraction(std::make_shared<QtModalInteraction>());
    InstallUsbDriver(std::make_shared<SimulatedUsbDriver>());
    CQiro7App::Options options;
    options.titleSuffix = " [simulated instrument]";
    CQiro7App program(std::move(options));
    return program.Run();
}
