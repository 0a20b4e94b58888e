// The main window with the simulated instrument (fast clock) behind it and a scripted operator
// in front of it, for whole measurement runs: the worker runs on its own thread and this (the
// window) thread serves its calls through the Qt event loop. The program's sleep does nothing
// but call a hook, so no test waits for real time. Each test gets its own empty folder.
#pragma once

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QTimer>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "app/Qiro7Dlg.h"
#include "link/Sleep.h"
#include "measure/RunActive.h"
#include "res/StringTable.h"
#include "sim/SimulatedUsbDriver.h"
#include "tests/support/ScriptedModalInteraction.h"

inline constexpr const char* kRunTestApplicationName = "run_tests";

// What the program's sleep does in these tests: nothing but call the hook, on the calling
// thread (the worker sleeps between empty packets).
class SleepHook {
public:
    static void Set(std::function<void()> hook) {
        std::lock_guard lock(mutex);
        current = std::move(hook);
    }
    static void Sleep(int) {
        std::function<void()> hook;
        {
            std::lock_guard lock(mutex);
            hook = current;
        }
        if (hook) {
            hook();
        }
    }

private:
    static inline std::mutex mutex;
    static inline std::function<void()> current;
};

inline std::string ReadBytes(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

inline void WriteBytes(const std::filesystem::path& path, const std::string& bytes) {
    std::ofstream file(path, std::ios::binary);
    file << bytes;
}

// Stream line number n as the simulator sends it: "nE-1 nE+0 nE+1".
inline std::string NumberedLine(int n) {
    const std::string number = std::to_string(n);
    return number + "E-1 " + number + "E+0 " + number + "E+1";
}

inline std::vector<std::string> NumberedLines(int first, int last) {
    std::vector<std::string> lines;
    for (int n = first; n <= last; ++n) {
        lines.push_back(NumberedLine(n));
    }
    return lines;
}

// The CSV bytes of the numbered lines.
inline std::string NumberedCsv(const std::vector<int>& numbers) {
    std::string bytes;
    for (const int n : numbers) {
        const std::string number = std::to_string(n);
        bytes += number + "E-1," + number + "E+0," + number + "E+1\r\n";
    }
    return bytes;
}

inline std::string ReceivedOf(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines) {
        text += line + "\r\n";
    }
    return text;
}

class RunWindowTest : public testing::Test {
protected:
    RunWindowTest() {
        runActive = 0;
        SetApplicationName(kRunTestApplicationName);
        InstallUsbDriver(driver);
        previousSleep = SetSleepFunction(&SleepHook::Sleep);
        const testing::TestInfo* test = testing::UnitTest::GetInstance()->current_test_info();
        folder = std::filesystem::temp_directory_path() /
                 (std::string("qiro7-run-") + test->test_suite_name() + "-" + test->name());
        std::filesystem::remove_all(folder);
        std::filesystem::create_directories(folder);
        window = std::make_unique<CQiro7Dlg>();
        window->show();
    }
    ~RunWindowTest() override {
        if (window != nullptr && window->IsWorkerRunning()) {
            ADD_FAILURE() << "the test left a run going";
        }
        window.reset();
        SleepHook::Set(nullptr);
        SetSleepFunction(previousSleep);
        InstallUsbDriver(nullptr);
        std::error_code ignored;
        std::filesystem::remove_all(folder, ignored);
    }

    // --- the operator ---------------------------------------------------------------------
    void Click(int id) {
        QAbstractButton* button = window->Button(id);
        ASSERT_NE(button, nullptr) << id;
        ASSERT_TRUE(button->isEnabled()) << "button " << id << " is disabled";
        button->click();
    }
    void Type(int id, const std::string& text) { window->SetControlText(id, text); }
    void AnswerNext(MessageAnswer answer) { operatorScript->AnswerNext(answer); }

    void ConnectFirst() {
        window->OnConnect();
        ASSERT_TRUE(window->IsControlEnabled(IDC_REFRESH)) << "the first connect failed";
        Forget();
    }
    void Forget() {
        operatorScript->Clear();
        driver->Instrument()->ClearRequestLog();
    }
    // Interval and count as typed; optionally the automatic output to a file of the folder.
    void SetRun(const std::string& interval, const std::string& count) {
        Type(IDC_INTERVAL, interval);
        Type(IDC_COUNT, count);
    }
    std::filesystem::path AutoOutputTo(const std::string& name) {
        window->CheckButton(IDC_AUTO_OUTPUT, true);
        const std::filesystem::path path = folder / name;
        Type(IDC_CSV_FILE_NAME, path.string());
        return path;
    }
    void ScriptStream(std::vector<std::string> lines) {
        driver->Instrument()->SetScriptedStream(std::move(lines));
    }
    // Confirms the start with Yes and presses "start/stop".
    void Start() {
        AnswerNext(MessageAnswer::Yes);
        Click(IDC_START_STOP);
    }

    // Serves the worker's calls on this thread until done() holds. The timer wakes the loop so
    // that a condition changing without an event is seen; the watchdog only ends a hang.
    bool ServeUntil(const std::function<bool()>& done) {
        QTimer wake;
        wake.start(1);
        const QDeadlineTimer watchdog(120000);
        while (!done()) {
            if (watchdog.hasExpired()) {
                return false;
            }
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        }
        return true;
    }
    void FinishRun() {
        ASSERT_TRUE(ServeUntil([this] { return !window->IsWorkerRunning(); }))
            << "the run did not end";
    }

    // --- what the operator sees -------------------------------------------------------------
    std::string Text(int id) const { return window->ControlText(id); }
    bool Enabled(int id) const { return window->IsControlEnabled(id); }
    std::vector<std::string> BoxTexts() const { return operatorScript->Texts(); }
    static std::string String(int id) { return LoadResourceString(id); }

    // Connected and Disconnected as the controls show them after a run.
    bool ShowsConnected() const { return Enabled(IDC_REFRESH) && Enabled(IDC_START_STOP); }
    bool ShowsDisconnected() const {
        return !Enabled(IDC_REFRESH) && Enabled(IDC_CONNECT) && Enabled(IDC_CSV_FILE_NAME);
    }

    std::vector<std::string> SampleLines() const {
        std::vector<std::string> lines;
        for (const MeasurementSample& sample : window->samples.Snapshot()) {
            lines.push_back(sample.rawLine);
        }
        return lines;
    }
    std::vector<std::string> Requests() const { return driver->RequestLog(); }
    std::size_t CountRequests(const std::string& line) const {
        std::size_t count = 0;
        for (const std::string& request : Requests()) {
            count += request == line ? 1 : 0;
        }
        return count;
    }

    std::shared_ptr<SimulatedUsbDriver> driver =
        std::make_shared<SimulatedUsbDriver>(SimulatedInstrument::ClockMode::Fast);
    SleepFunction previousSleep = nullptr;
    std::filesystem::path folder;
    ScopedScriptedInteraction operatorScript;
    std::unique_ptr<CQiro7Dlg> window;
};
