// qiro7-cli: the instrument from the command line, on the same services as the window.
#include "cli/Commands.h"
#include "link/ModalInteraction.h"

int main(int argc, char** argv) {
    SetApplicationName("qiro7-cli");
    return RunCommandLine(argc, argv);
}
