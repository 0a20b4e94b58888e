// qiro7-cli: the instrument from the command line, on the same services as the window.
#ifdef _WIN32
#include <fcntl.h>
#include <io.h>

#include <cstdio>
#endif

#include "cli/Commands.h"
#include "link/ModalInteraction.h"

int main(int argc, char** argv) {
#ifdef _WIN32
    // Samples go out byte for byte as the CSV file holds them: a text-mode standard output would
    // turn their CR LF into CR CR LF.
    _setmode(_fileno(stdout), _O_BINARY);
#endif
    SetApplicationName("qiro7-cli");
    return RunCommandLine(argc, argv);
}
