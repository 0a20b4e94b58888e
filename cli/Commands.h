// qiro7-cli's commands: the argument parsing (CLI11) and one function per subcommand. Each
// subcommand returns an ExitCode and writes its results to standard output, its messages to
// standard error. Main thread.
#pragma once

#include <string>
#include <vector>

// Parses the command line, prepares the instrument (USB, the chosen serial number, or --demo)
// and runs the subcommand; returns the process's exit status.
int RunCommandLine(int argc, char** argv);

struct MeasureOptions {
    int intervalSeconds = 0;
    int count = 0;           // 0: until stopped
    std::string outputPath;  // empty: standard output
    bool timestamps = false;
    std::string format = "csv";
};

int ListCommand(bool json);
int InfoCommand(bool json);
int GetCommand(bool json);
int SetCommand(const std::vector<std::string>& assignments);
int CalibrateCommand();
int ErrorCommand(bool json);
int LogCommand(bool json);
int MeasureCommand(const MeasureOptions& options);

// "qiro7-cli: message" on standard error.
void ReportError(const std::string& message);
