#include "tests/common/ChildProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <sstream>
#include <thread>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::chrono::milliseconds kPollStep{10};
constexpr std::chrono::milliseconds kStopGrace{2000};

// argv and envp for exec; the strings live as long as this object.
class ExecArguments {
public:
    ExecArguments(const std::vector<std::string>& argv, const Environment& environment)
        : arguments(argv) {
        for (const auto& [name, value] : environment) {
            assignments.push_back(name + "=" + value);
        }
        for (std::string& argument : arguments) {
            argumentPointers.push_back(argument.data());
        }
        argumentPointers.push_back(nullptr);
        for (std::string& assignment : assignments) {
            environmentPointers.push_back(assignment.data());
        }
        environmentPointers.push_back(nullptr);
    }
    char* const* Argv() { return argumentPointers.data(); }
    char* const* Envp() { return environmentPointers.data(); }

private:
    std::vector<std::string> arguments;
    std::vector<std::string> assignments;
    std::vector<char*> argumentPointers;
    std::vector<char*> environmentPointers;
};

// Spawns into a new process group with standard output going to outputFd and standard error
// to errorFd (-1: the caller's own).
pid_t Spawn(const std::vector<std::string>& argv, const Environment& environment, int outputFd,
            int errorFd) {
    if (argv.empty()) {
        return -1;
    }
    ExecArguments exec(argv, environment);
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attributes, 0);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, outputFd, STDOUT_FILENO);
    if (errorFd >= 0) {
        posix_spawn_file_actions_adddup2(&actions, errorFd, STDERR_FILENO);
    }
    pid_t child = -1;
    const int error =
        posix_spawnp(&child, argv[0].c_str(), &actions, &attributes, exec.Argv(), exec.Envp());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    return error == 0 ? child : -1;
}

// Grandchildren whose parent dies come to us instead of to init, so that we can reap them
// (a container's init may never do it).
void AdoptOrphans() {
    prctl(PR_SET_CHILD_SUBREAPER, 1);
}

// True once no process of the group is left to reap.
bool GroupGone(pid_t group) {
    pid_t reaped = 0;
    do {
        reaped = waitpid(-group, nullptr, WNOHANG);
    } while (reaped > 0);
    return reaped < 0 && errno == ECHILD;
}

bool Reaped(pid_t pid, int* status) {
    int ignored = 0;
    return waitpid(pid, status != nullptr ? status : &ignored, WNOHANG) == pid;
}

}  // namespace

Environment CurrentEnvironment() {
    Environment environment;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string assignment = *entry;
        const std::size_t equals = assignment.find('=');
        if (equals != std::string::npos) {
            environment[assignment.substr(0, equals)] = assignment.substr(equals + 1);
        }
    }
    return environment;
}

std::string FindInPath(const std::string& name) {
    const char* path = std::getenv("PATH");
    std::istringstream folders(path != nullptr ? path : "/usr/bin:/bin");
    std::string folder;
    while (std::getline(folders, folder, ':')) {
        const std::string candidate = (folder.empty() ? "." : folder) + "/" + name;
        if (access(candidate.c_str(), X_OK) == 0) {
            return candidate;
        }
    }
    return {};
}

ChildProcess::~ChildProcess() {
    Stop();
}

bool ChildProcess::Start(const std::vector<std::string>& argv, const Environment& environment,
                         const std::string& logPath) {
    Stop();
    AdoptOrphans();
    const std::string target = logPath.empty() ? "/dev/null" : logPath;
    const int log = open(target.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    if (log < 0) {
        return false;
    }
    pid = Spawn(argv, environment, log, log);
    close(log);
    exited = false;
    ending.clear();
    return pid > 0;
}

bool ChildProcess::Running() {
    if (pid <= 0 || exited) {
        return false;
    }
    int status = 0;
    exited = Reaped(pid, &status);
    if (exited) {
        ending = WIFEXITED(status) ? "exit " + std::to_string(WEXITSTATUS(status))
                                   : "signal " + std::to_string(WTERMSIG(status));
    }
    return !exited;
}

bool ChildProcess::Signal(int signal) {
    return pid > 0 && !exited && kill(-pid, signal) == 0;
}

void ChildProcess::Stop() {
    if (pid <= 0) {
        return;
    }
    kill(-pid, SIGTERM);
    WaitUntil([this] { return !Running(); }, kStopGrace);
    // Whatever the leader started may outlive it in its group.
    kill(-pid, SIGKILL);
    if (!exited) {
        waitpid(pid, nullptr, 0);
    }
    WaitUntil([this] { return GroupGone(pid); }, kStopGrace);
    pid = -1;
}

namespace {

// RunCommand with standard error going to errorFd (-1: the caller's own).
int RunWithOutputPipe(const std::vector<std::string>& argv, const Environment& environment,
                      std::string& output, int errorFd, std::chrono::milliseconds limit) {
    output.clear();
    int pipeEnds[2];
    if (pipe2(pipeEnds, O_CLOEXEC) != 0) {
        return -1;
    }
    const pid_t child = Spawn(argv, environment, pipeEnds[1], errorFd);
    close(pipeEnds[1]);
    if (child <= 0) {
        close(pipeEnds[0]);
        return -1;
    }
    const auto deadline = Clock::now() + limit;
    char buffer[512];
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        pollfd readable{pipeEnds[0], POLLIN, 0};
        if (left.count() <= 0 || poll(&readable, 1, static_cast<int>(left.count())) <= 0) {
            break;
        }
        const ssize_t count = read(pipeEnds[0], buffer, sizeof(buffer));
        if (count <= 0) {
            break;
        }
        output.append(buffer, static_cast<std::size_t>(count));
    }
    close(pipeEnds[0]);
    int status = 0;
    if (!WaitUntil([&] { return Reaped(child, &status); }, limit)) {
        kill(-child, SIGKILL);
        waitpid(child, nullptr, 0);
        return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

int RunCommand(const std::vector<std::string>& argv, const Environment& environment,
               std::string& output, std::chrono::milliseconds limit) {
    return RunWithOutputPipe(argv, environment, output, -1, limit);
}

CommandResult RunCommandCapturing(const std::vector<std::string>& argv,
                                  const Environment& environment, std::chrono::milliseconds limit) {
    CommandResult result;
    char errorsPath[] = "/tmp/qiro7-errors-XXXXXX";
    const int errorFd = mkostemp(errorsPath, O_CLOEXEC);
    if (errorFd < 0) {
        return result;
    }
    unlink(errorsPath);
    result.status = RunWithOutputPipe(argv, environment, result.output, errorFd, limit);
    lseek(errorFd, 0, SEEK_SET);
    char buffer[512];
    for (ssize_t count; (count = read(errorFd, buffer, sizeof(buffer))) > 0;) {
        result.errors.append(buffer, static_cast<std::size_t>(count));
    }
    close(errorFd);
    return result;
}

bool ReadLineFrom(int fd, std::string& line, std::chrono::milliseconds limit) {
    line.clear();
    const auto deadline = Clock::now() + limit;
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        pollfd readable{fd, POLLIN, 0};
        if (left.count() <= 0 || poll(&readable, 1, static_cast<int>(left.count())) <= 0) {
            return false;
        }
        char c = 0;
        if (read(fd, &c, 1) != 1) {
            return false;
        }
        if (c == '\n') {
            return true;
        }
        line += c;
    }
}

bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds limit) {
    const auto deadline = Clock::now() + limit;
    while (!condition()) {
        if (Clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(kPollStep);
    }
    return true;
}
