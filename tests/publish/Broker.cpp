#include "Broker.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#ifndef _WIN32
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <pwd.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;
#endif

namespace {

using Clock = std::chrono::steady_clock;

#ifndef _WIN32

// Starts program (looked up on PATH) with its standard output and error appended to output.
int Spawn(const std::vector<std::string>& arguments, const std::string& output) {
    std::vector<char*> argv;
    for (const std::string& argument : arguments) {
        argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, output.c_str(), O_WRONLY | O_CREAT | O_APPEND,
                                     0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    pid_t child = 0;
    const int result = posix_spawnp(&child, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    return result == 0 ? child : 0;
}

// The child's exit status, or -1 when it did not end within timeout (it is then killed).
int WaitForExit(int child, std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    int status = 0;
    while (waitpid(child, &status, WNOHANG) == 0) {
        if (Clock::now() >= deadline) {
            kill(child, SIGKILL);
            waitpid(child, &status, 0);
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool Run(const std::vector<std::string>& arguments, const std::string& log) {
    const int child = Spawn(arguments, log);
    return child > 0 && WaitForExit(child, std::chrono::seconds(30)) == 0;
}

// Where program is: on PATH, or in the system folders that a user's PATH leaves out (Debian
// puts the broker in /usr/sbin). Empty when nowhere.
std::string ProgramPath(const std::string& program) {
    const char* path = std::getenv("PATH");
    std::stringstream folders(std::string(path != nullptr ? path : "") + ":/usr/sbin:/sbin");
    std::string folder;
    while (std::getline(folders, folder, ':')) {
        if (!folder.empty() && access((folder + "/" + program).c_str(), X_OK) == 0) {
            return folder + "/" + program;
        }
    }
    return "";
}

std::uint16_t FreeLoopbackPort() {
    const int probe = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof(address);
    bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof(address));
    getsockname(probe, reinterpret_cast<sockaddr*>(&address), &length);
    close(probe);
    return ntohs(address.sin_port);
}

bool Accepts(std::uint16_t port) {
    const int probe = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    const bool connected =
        connect(probe, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0;
    close(probe);
    return connected;
}

bool HasIpv6Loopback() {
    const int probe = socket(AF_INET6, SOCK_STREAM, 0);
    if (probe < 0) {
        return false;
    }
    sockaddr_in6 address{};
    address.sin6_family = AF_INET6;
    address.sin6_addr = in6addr_loopback;
    const bool bound = bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0;
    close(probe);
    return bound;
}

std::string UserName() {
    const passwd* entry = getpwuid(geteuid());
    return entry != nullptr ? entry->pw_name : "root";
}

#endif

std::string ReadFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

}  // namespace

bool TestBroker::Available(bool tls, std::string& reason) {
#ifdef _WIN32
    (void)tls;
    reason = "the broker tests start mosquitto as a POSIX child process";
    return false;
#else
    std::vector<std::string> programs = {"mosquitto", "mosquitto_sub", "mosquitto_pub"};
    if (tls) {
        programs.insert(programs.end(), {"mosquitto_passwd", "openssl"});
    }
    for (const std::string& program : programs) {
        if (ProgramPath(program).empty()) {
            reason = program + " is not installed (Debian: mosquitto, mosquitto-clients, openssl)";
            return false;
        }
    }
    return true;
#endif
}

TestBroker::TestBroker(Kind kind) : tls(kind == Kind::Tls) {
#ifndef _WIN32
    std::string pattern = (std::filesystem::temp_directory_path() / "qiro7-broker-XXXXXX").string();
    folder = mkdtemp(pattern.data()) != nullptr ? pattern : std::string();
    plainPort = FreeLoopbackPort();
    tlsPort = tls ? FreeLoopbackPort() : 0;
    if (tls && !MakeTlsFiles()) {
        ADD_FAILURE() << "could not make the TLS files in " << folder;
    }
    WriteConfiguration();
#endif
}

TestBroker::~TestBroker() {
    Kill();
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
}

#ifndef _WIN32

bool TestBroker::MakeTlsFiles() {
    const std::string log = folder + "/openssl.log";
    const std::vector<std::string> key = {"-newkey", "ec", "-pkeyopt",
                                          "ec_paramgen_curve:prime256v1", "-nodes"};
    auto makeCa = [&](const std::string& name, const std::string& subject) {
        std::vector<std::string> command = {"openssl", "req", "-x509"};
        command.insert(command.end(), key.begin(), key.end());
        command.insert(command.end(),
                       {"-keyout", folder + "/" + name + ".key", "-out",
                        folder + "/" + name + ".crt", "-days", "2", "-subj", subject});
        return Run(command, log);
    };
    auto makeSigned = [&](const std::string& name, const std::string& ca,
                          const std::string& subject, const std::string& extensions) {
        std::vector<std::string> request = {"openssl", "req"};
        request.insert(request.end(), key.begin(), key.end());
        request.insert(request.end(), {"-keyout", folder + "/" + name + ".key", "-out",
                                       folder + "/" + name + ".csr", "-subj", subject});
        std::vector<std::string> sign = {"openssl",
                                         "x509",
                                         "-req",
                                         "-in",
                                         folder + "/" + name + ".csr",
                                         "-CA",
                                         folder + "/" + ca + ".crt",
                                         "-CAkey",
                                         folder + "/" + ca + ".key",
                                         "-CAcreateserial",
                                         "-out",
                                         folder + "/" + name + ".crt",
                                         "-days",
                                         "2"};
        if (!extensions.empty()) {
            std::ofstream(folder + "/" + name + ".ext") << extensions << "\n";
            sign.insert(sign.end(), {"-extfile", folder + "/" + name + ".ext"});
        }
        return Run(request, log) && Run(sign, log);
    };
    std::ofstream(folder + "/passwords").close();
    return makeCa("ca", "/CN=qiro7 test CA") && makeCa("other-ca", "/CN=qiro7 untrusted CA") &&
           makeSigned("server", "ca", "/CN=localhost",
                      "subjectAltName=DNS:localhost,IP:127.0.0.1") &&
           makeSigned("client", "ca", "/CN=qiro7 client", "") &&
           makeSigned("other-client", "other-ca", "/CN=qiro7 client", "") &&
           Run({"mosquitto_passwd", "-b", folder + "/passwords", kUser, kPassword}, log);
}

bool TestBroker::WriteConfiguration() {
    std::ofstream config(folder + "/mosquitto.conf");
    // Unlimited queues, so a persistent subscriber misses nothing while it is away.
    config << "user " << UserName() << "\n"
           << "per_listener_settings false\n"
           << "persistence true\n"
           << "persistence_location " << folder << "/\n"
           << "log_dest file " << folder << "/mosquitto.log\n"
           << "max_queued_messages 0\n"
           << "listener " << plainPort << " 127.0.0.1\n";
    if (!tls) {
        config << "allow_anonymous true\n";
        return config.good();
    }
    config << "allow_anonymous false\n"
           << "password_file " << folder << "/passwords\n";
    std::vector<std::string> addresses = {"127.0.0.1"};
    if (HasIpv6Loopback()) {
        addresses.push_back("::1");  // where "localhost" may lead first
    }
    for (const std::string& address : addresses) {
        config << "listener " << tlsPort << " " << address << "\n"
               << "cafile " << CaFile() << "\n"
               << "certfile " << folder << "/server.crt\n"
               << "keyfile " << folder << "/server.key\n"
               << "require_certificate true\n";
    }
    return config.good();
}

bool TestBroker::Start() {
    if (pid > 0) {
        return true;
    }
    pid = Spawn({ProgramPath("mosquitto"), "-c", folder + "/mosquitto.conf"},
                folder + "/mosquitto.out");
    const auto deadline = Clock::now() + std::chrono::seconds(10);
    while (Clock::now() < deadline) {
        if (Accepts(plainPort) && (tlsPort == 0 || Accepts(tlsPort))) {
            return true;
        }
        int status = 0;
        if (pid <= 0 || waitpid(pid, &status, WNOHANG) == pid) {
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ADD_FAILURE() << "mosquitto did not start:\n" << LogTail();
    Kill();
    return false;
}

void TestBroker::Stop() {
    if (pid > 0) {
        kill(pid, SIGTERM);
        WaitForExit(pid, std::chrono::seconds(10));
        pid = 0;
    }
}

void TestBroker::Kill() {
    if (pid > 0) {
        kill(pid, SIGKILL);
        WaitForExit(pid, std::chrono::seconds(10));
        pid = 0;
    }
}

void TestBroker::Freeze() {
    if (pid > 0) {
        kill(pid, SIGSTOP);
    }
}

#else

bool TestBroker::MakeTlsFiles() {
    return false;
}
bool TestBroker::WriteConfiguration() {
    return false;
}
bool TestBroker::Start() {
    return false;
}
void TestBroker::Stop() {}
void TestBroker::Kill() {}
void TestBroker::Freeze() {}

#endif

std::string TestBroker::Host() const {
    return tls ? "localhost" : "127.0.0.1";
}

std::uint16_t TestBroker::Port() const {
    return tls ? tlsPort : plainPort;
}

std::string TestBroker::Url(const std::string& prefix) const {
    return std::string(tls ? "mqtts://" : "mqtt://") +
           (tls ? std::string(kUser) + "@" : std::string()) + Host() + ":" +
           std::to_string(Port()) + (prefix.empty() ? "" : "/" + prefix);
}

std::string TestBroker::LogTail() const {
    const std::string log =
        ReadFile(folder + "/mosquitto.log") + ReadFile(folder + "/mosquitto.out");
    return log.size() > 2000 ? log.substr(log.size() - 2000) : log;
}

TestSubscriber::TestSubscriber(const TestBroker& brokerToUse, const std::string& topicFilter,
                               const std::string& clientId)
    : broker(brokerToUse) {
    probeTopic = topicFilter.substr(0, topicFilter.find('#')) + "qiro7-probe";
    outputFile = broker.Folder() + "/" + clientId + ".messages";
#ifndef _WIN32
    std::vector<std::string> command = {"mosquitto_sub",
                                        "-h",
                                        "127.0.0.1",
                                        "-p",
                                        std::to_string(broker.PlainPort()),
                                        "-t",
                                        topicFilter,
                                        "-q",
                                        "1",
                                        "-c",
                                        "-i",
                                        clientId,
                                        "-F",
                                        "%r %U %t %p"};
    if (broker.Tls()) {
        command.insert(command.end(), {"-u", TestBroker::kUser, "-P", TestBroker::kPassword});
    }
    pid = Spawn(command, outputFile);
#endif
}

TestSubscriber::~TestSubscriber() {
#ifndef _WIN32
    if (pid > 0) {
        kill(pid, SIGTERM);
        WaitForExit(pid, std::chrono::seconds(5));
    }
#endif
}

bool TestSubscriber::WaitUntilSubscribed(std::chrono::seconds timeout) {
#ifndef _WIN32
    const auto deadline = Clock::now() + timeout;
    while (Clock::now() < deadline) {
        std::vector<std::string> command = {"mosquitto_pub",
                                            "-h",
                                            "127.0.0.1",
                                            "-p",
                                            std::to_string(broker.PlainPort()),
                                            "-t",
                                            probeTopic,
                                            "-q",
                                            "1",
                                            "-m",
                                            "probe"};
        if (broker.Tls()) {
            command.insert(command.end(), {"-u", TestBroker::kUser, "-P", TestBroker::kPassword});
        }
        Run(command, broker.Folder() + "/probe.log");
        if (ReadFile(outputFile).find(" " + probeTopic + " ") != std::string::npos) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
#endif
    (void)timeout;
    return false;
}

std::vector<ReceivedMessage> TestSubscriber::Messages() const {
    std::vector<ReceivedMessage> messages;
    std::stringstream lines(ReadFile(outputFile));
    std::string line;
    // A last line without its end is still being written: it is left for the next look.
    while (std::getline(lines, line) && !lines.eof()) {
        // "RETAINED ARRIVAL TOPIC PAYLOAD"
        const std::size_t arrivalStart = line.find(' ');
        const std::size_t topicStart =
            arrivalStart == std::string::npos ? arrivalStart : line.find(' ', arrivalStart + 1);
        const std::size_t payloadStart =
            topicStart == std::string::npos ? topicStart : line.find(' ', topicStart + 1);
        if (payloadStart == std::string::npos) {
            continue;  // a line of mosquitto_sub's own, not a message
        }
        ReceivedMessage message;
        message.retained = line.compare(0, arrivalStart, "1") == 0;
        message.arrival = std::strtod(line.c_str() + arrivalStart + 1, nullptr);
        message.topic = line.substr(topicStart + 1, payloadStart - topicStart - 1);
        message.payload = line.substr(payloadStart + 1);
        if (message.topic != probeTopic) {
            messages.push_back(std::move(message));
        }
    }
    return messages;
}

bool TestSubscriber::WaitFor(const std::function<bool(const std::vector<ReceivedMessage>&)>& done,
                             std::chrono::seconds timeout) {
    const auto deadline = Clock::now() + timeout;
    while (!done(Messages())) {
        if (Clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}
