// qiro7-cli's commands: the argument parsing (CLI11) and one function per subcommand. Each
// subcommand returns an ExitCode and writes its results to standard output (through Console,
// which checks every write), its messages to standard error. Main thread.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "cli/SamplePublishing.h"

// Parses the command line, prepares the instrument (USB, the chosen serial number, or --demo)
// and runs the subcommand; returns the process's exit status.
int RunCommandLine(int argc, char** argv);

struct MeasureOptions {
    int intervalSeconds = 0;
    int count = 0;                          // 0: until stopped
    std::optional<double> durationSeconds;  // --duration
    std::string outputPath;                 // empty or "-": standard output
    bool force = false;                     // replace an existing file
    bool append = false;                    // continue an existing file
    bool localTime = false;                 // the path's time fields in local time
    bool timestamps = false;
    std::string format = "csv";
    bool jsonSummary = false;  // the summary as JSON on standard error
    bool reconnect = false;
    std::string serialNumber;  // --serial: the instrument to wait for after a link fault
    PublishingOptions publishing;
};

int ListCommand(bool json);
int InfoCommand(bool json);
// names: the conditions to show; all when empty.
int GetCommand(const std::vector<std::string>& names, bool json);
int SetCommand(const std::vector<std::string>& assignments);
int CalibrateCommand();
int ErrorCommand(bool json);
int LogCommand(bool json);
int MeasureCommand(const MeasureOptions& options);

// "qiro7-cli: message" on standard error.
void ReportError(const std::string& message);
