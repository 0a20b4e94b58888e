// Runs this test executable (or one beside it) again as a child process, so tests can watch
// what a second copy of the program sees. Used from the test's main thread only.
#pragma once

#include <windows.h>

#include <optional>
#include <string>

// The full path of this executable, and its folder ending in a backslash.
std::string OwnExecutable();
std::string OwnFolder();

// A manual-reset event named after this test process, to signal across processes.
class NamedEvent {
public:
    explicit NamedEvent(const std::string& role);
    ~NamedEvent();
    NamedEvent(const NamedEvent&) = delete;
    NamedEvent& operator=(const NamedEvent&) = delete;

    const std::string& Name() const { return name; }
    HANDLE Handle() const { return event; }
    void Set();

private:
    std::string name;
    HANDLE event;
};

class ChildProcess {
public:
    // Starts executable with the given argument text; check Started().
    ChildProcess(const std::string& executable, const std::string& arguments);
    ~ChildProcess();  // ends a child still running
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool Started() const { return process != nullptr; }
    // Waits until the child sets event (true) or ends first (false).
    bool Signals(const NamedEvent& event);
    // Waits for the child to end and returns its exit code; nothing if it hangs. The bound only
    // guards against a stuck child; it is no time limit on the behaviour under test.
    std::optional<DWORD> WaitForExit();
    // Ends the child abruptly, as a crash would, and waits until it is gone.
    void Kill();

private:
    HANDLE process = nullptr;
};

// The child's side of a NamedEvent.
bool SetNamedEvent(const std::string& name);
bool WaitForNamedEvent(const std::string& name);
