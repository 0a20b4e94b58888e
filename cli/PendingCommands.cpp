// The commands that talk to the instrument through the shared service layer, which is not in
// this tree yet: each says so and fails.
#include "cli/Commands.h"
#include "cli/ExitCodes.h"

namespace {

int NotYetWired() {
    ReportError("this command is not available yet");
    return ExitCode::kUsage;
}

}  // namespace

int InfoCommand(bool) {
    return NotYetWired();
}
int GetCommand(bool) {
    return NotYetWired();
}
int SetCommand(const std::vector<std::string>&) {
    return NotYetWired();
}
int CalibrateCommand() {
    return NotYetWired();
}
int ErrorCommand() {
    return NotYetWired();
}
int LogCommand() {
    return NotYetWired();
}
int MeasureCommand(const MeasureOptions&) {
    return NotYetWired();
}
