// CQiro7App: the program's start-up and exit. One copy per desktop session (a second start is
// refused with a message and ends without a window), the window title from the version data,
// the window icon, the main window run modally, then the exit path.
//
// Threads: the window thread only, inside a QApplication.
#pragma once

#include <memory>
#include <string>

#include "app/SingleInstanceLock.h"

class CQiro7App {
public:
    struct Options {
        std::string lockName = kSingleInstanceMutexName;
        // Appended to the title, e.g. to mark a simulated instrument.
        std::string titleSuffix;
    };

    CQiro7App();
    explicit CQiro7App(Options options);
    ~CQiro7App();

    // The whole life of the program: InitInstance, then ExitInstance. Returns the process's
    // exit code: 0 after a normal end, 1 when the start was refused.
    int Run();

    // Refuses a second copy, or runs the main window until "Quit". Always false: the program
    // has no message loop of its own to enter.
    bool InitInstance();
    // Releases the single-instance lock; the exit code.
    int ExitInstance();

    // True once InitInstance refused the start.
    bool StartRefused() const { return startRefused; }

private:
    Options options;
    std::unique_ptr<SingleInstanceLock> singleInstanceMutex;
    bool startRefused = false;
};
