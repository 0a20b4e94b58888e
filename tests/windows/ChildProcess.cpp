#include "tests/windows/ChildProcess.h"

#include <vector>

namespace {

// Only a hung child ever meets this; a healthy one answers at once.
constexpr DWORD kStuckGuardMs = 60000;

}  // namespace

std::string OwnExecutable() {
    char path[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    return std::string(path, length);
}

std::string OwnFolder() {
    const std::string executable = OwnExecutable();
    return executable.substr(0, executable.find_last_of('\\') + 1);
}

ChildProcess::ChildProcess(const std::string& executable, const std::string& arguments) {
    std::string commandLine = "\"" + executable + "\" " + arguments;
    std::vector<char> writable(commandLine.begin(), commandLine.end());
    writable.push_back('\0');
    STARTUPINFOA startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION information{};
    if (CreateProcessA(executable.c_str(), writable.data(), nullptr, nullptr, FALSE, 0, nullptr,
                       nullptr, &startup, &information) != 0) {
        CloseHandle(information.hThread);
        process = information.hProcess;
    }
}

ChildProcess::~ChildProcess() {
    if (process != nullptr) {
        if (WaitForSingleObject(process, 0) == WAIT_TIMEOUT) {
            TerminateProcess(process, 1);
        }
        CloseHandle(process);
    }
}

std::optional<DWORD> ChildProcess::WaitForExit() {
    if (process == nullptr || WaitForSingleObject(process, kStuckGuardMs) != WAIT_OBJECT_0) {
        return std::nullopt;
    }
    DWORD code = 0;
    if (GetExitCodeProcess(process, &code) == 0) {
        return std::nullopt;
    }
    return code;
}

bool ChildProcess::Signals(const NamedEvent& event) {
    if (process == nullptr || event.Handle() == nullptr) {
        return false;
    }
    const HANDLE either[] = {event.Handle(), process};
    return WaitForMultipleObjects(2, either, FALSE, kStuckGuardMs) == WAIT_OBJECT_0;
}

void ChildProcess::Kill() {
    if (process != nullptr) {
        TerminateProcess(process, 9);
        WaitForSingleObject(process, kStuckGuardMs);
    }
}

NamedEvent::NamedEvent(const std::string& role)
    : name("qiro7-windows-tests-" + std::to_string(GetCurrentProcessId()) + "-" + role),
      event(CreateEventA(nullptr, TRUE, FALSE, name.c_str())) {}

NamedEvent::~NamedEvent() {
    if (event != nullptr) {
        CloseHandle(event);
    }
}

void NamedEvent::Set() {
    SetEvent(event);
}

bool SetNamedEvent(const std::string& name) {
    HANDLE event = OpenEventA(EVENT_MODIFY_STATE, FALSE, name.c_str());
    if (event == nullptr) {
        return false;
    }
    const bool set = SetEvent(event) != 0;
    CloseHandle(event);
    return set;
}

bool WaitForNamedEvent(const std::string& name) {
    HANDLE event = OpenEventA(SYNCHRONIZE, FALSE, name.c_str());
    if (event == nullptr) {
        return false;
    }
    const bool set = WaitForSingleObject(event, kStuckGuardMs) == WAIT_OBJECT_0;
    CloseHandle(event);
    return set;
}
