// The main window with the simulated instrument (fast clock) behind it and a scripted operator
// in front of it, for the window suites. The program's sleep does nothing but call SleepHook,
// so no test waits for real time. A run's worker runs on its own thread; this (the window)
// thread serves its calls through the Qt event loop in ServeUntil.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "app/Qiro7Dlg.h"
#include "link/Sleep.h"
#include "sim/SimulatedUsbDriver.h"
#include "tests/support/ScriptedModalInteraction.h"

class QAbstractButton;

// What the program's sleep does in these tests: nothing but call the hook, on the calling
// thread (the worker sleeps between empty packets). Any thread may sleep; set the hook from
// the test's thread.
class SleepHook {
public:
    static void Set(std::function<void()> hook);
    static void Sleep(int milliseconds);

private:
    static inline std::mutex mutex;
    static inline std::function<void()> current;
};

// Every member is for the test's (the window's) thread.
class MainWindowFixture : public testing::Test {
protected:
    // `applicationName` is the caption of the boxes the framework itself shows.
    explicit MainWindowFixture(const char* applicationName);
    ~MainWindowFixture() override;

    // --- the operator ---------------------------------------------------------------------
    // A click fails the test when the button is missing or disabled.
    void Click(int id);
    void Click(QAbstractButton* button);
    void Type(int id, const std::string& text);
    void AnswerNext(MessageAnswer answer);
    // Interval and count as typed.
    void SetRun(const std::string& interval, const std::string& count);

    // Serves the worker's calls on this thread until done() holds; false when a watchdog
    // ends a hang first.
    bool ServeUntil(const std::function<bool()>& done);
    void FinishRun();

    // --- what the operator sees -------------------------------------------------------------
    std::string Text(int id) const;
    bool Enabled(int id) const;
    static std::string String(int id);
    // The request lines the instrument has received.
    std::vector<std::string> Requests() const;

    std::shared_ptr<SimulatedUsbDriver> driver =
        std::make_shared<SimulatedUsbDriver>(SimulatedInstrument::ClockMode::Fast);
    SleepFunction previousSleep = nullptr;
    ScopedScriptedInteraction operatorScript;
    std::unique_ptr<CQiro7Dlg> window;
};
