// Child processes for the suites that start programs (POSIX). Each child leads a process group
// of its own, so that stopping it also stops whatever it started in turn (a bus launcher, say).
// Test thread only.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <map>
#include <string>
#include <vector>

using Environment = std::map<std::string, std::string>;

Environment CurrentEnvironment();
// The full path of an executable found in PATH; empty when there is none.
std::string FindInPath(const std::string& name);

class ChildProcess {
public:
    ChildProcess() = default;
    ~ChildProcess();  // Stop()
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // Starts argv[0] (searched in PATH) with exactly this environment; its standard output and
    // error go to logPath (empty: discarded). Descriptors without close-on-exec stay open in it.
    bool Start(const std::vector<std::string>& argv, const Environment& environment,
               const std::string& logPath = {});
    bool Running();
    // Sends the signal to the child's group, as a terminal sends Ctrl+C to its foreground job.
    bool Signal(int signal);
    // How it ended, e.g. "exit 1" or "signal 11"; empty while running or never started.
    std::string Ending() const { return ending; }
    // SIGTERM to the group, then SIGKILL to whatever is left of it after a short grace.
    void Stop();

private:
    pid_t pid = -1;
    bool exited = false;
    std::string ending;
};

// Runs a short command to its end, its standard output into output. Returns its exit status,
// or -1 when it could not start or was still running after `limit` (it is then killed).
int RunCommand(const std::vector<std::string>& argv, const Environment& environment,
               std::string& output, std::chrono::milliseconds limit);

struct CommandResult {
    int status = -1;  // exit status; -1 when it could not start, was killed or took too long
    std::string output;
    std::string errors;
};

// As RunCommand, with standard error captured as well.
CommandResult RunCommandCapturing(const std::vector<std::string>& argv,
                                  const Environment& environment, std::chrono::milliseconds limit);

// Reads one line (without its newline) that a child writes to the pipe `fd`.
bool ReadLineFrom(int fd, std::string& line, std::chrono::milliseconds limit);

// Polls condition every few milliseconds until it holds or `limit` has passed.
bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds limit);
