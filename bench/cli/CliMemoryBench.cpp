// Does a run without a count keep anything that grows? qiro7-cli runs on the simulated
// instrument's fast clock, its samples read from a pipe, and its resident memory is read from
// /proc at sample 10,000 and at sample 1,000,000 (and a few points between). Prints figures;
// asserts nothing. Linux.
//
//   build-rel/bench/cli/cli_memory_bench [samples] [extra qiro7-cli options ...]
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

namespace {

// VmRSS of the process, in KiB; -1 when it cannot be read.
long ResidentKiB(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmRSS:", 0) == 0) {
            return std::strtol(line.c_str() + 6, nullptr, 10);
        }
    }
    return -1;
}

pid_t StartCli(const std::vector<std::string>& extra, int& samples) {
    int fds[2];
    if (pipe(fds) != 0) {
        return -1;
    }
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(fds[1], 1);
        close(fds[0]);
        close(fds[1]);
        std::vector<std::string> args = {QIRO7_CLI, "measure",    "--demo", "--demo-fast-clock",
                                         "--quiet", "--interval", "0",      "--count",
                                         "0"};
        args.insert(args.end(), extra.begin(), extra.end());
        std::vector<char*> argv;
        for (std::string& arg : args) {
            argv.push_back(arg.data());
        }
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(fds[1]);
    samples = fds[0];
    return pid;
}

}  // namespace

int main(int argc, char** argv) {
    const long target = argc > 1 ? std::strtol(argv[1], nullptr, 10) : 1000000;
    const std::vector<std::string> extra(argv + std::min(argc, 2), argv + argc);
    int samplesFd = -1;
    const pid_t pid = StartCli(extra, samplesFd);
    if (pid < 0) {
        std::perror("starting qiro7-cli");
        return 1;
    }
    std::FILE* samples = fdopen(samplesFd, "r");
    const std::vector<long> marks = {10000, 100000, 250000, 500000, 750000, target};
    std::size_t nextMark = 0;
    long atFirstMark = -1;
    long lines = 0;
    char buffer[256];
    std::printf("%12s %14s %14s\n", "sample", "resident KiB", "growth KiB");
    while (nextMark < marks.size() && std::fgets(buffer, sizeof buffer, samples) != nullptr) {
        ++lines;
        if (lines == marks[nextMark]) {
            const long resident = ResidentKiB(pid);
            atFirstMark = atFirstMark < 0 ? resident : atFirstMark;
            std::printf("%12ld %14ld %14ld\n", lines, resident, resident - atFirstMark);
            std::fflush(stdout);
            ++nextMark;
        }
    }
    kill(pid, SIGTERM);
    int status = 0;
    waitpid(pid, &status, 0);
    std::fclose(samples);
    std::printf("qiro7-cli ended with status %d after %ld samples read\n",
                WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status), lines);
    return 0;
}
