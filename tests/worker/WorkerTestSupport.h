// A recording main window, a recording message box and a counting sleep around the simulated
// instrument on its fast clock, for driving MeasurementThreadProc without any real waiting.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "link/ModalInteraction.h"
#include "link/Sleep.h"
#include "link/UsbDriver.h"
#include "measure/AppMessages.h"
#include "measure/MeasurementWorker.h"
#include "measure/RunActive.h"
#include "sim/SimulatedUsbDriver.h"

// What the window and the operator saw, in order.
struct RunEvent {
    enum class Kind { Sample, Message, Box };
    Kind kind = Kind::Message;
    std::string text;  // sample line, or box text
    unsigned message = 0;
    // Observed at the moment of the event:
    std::size_t streamLinesSent = 0;
    int openLinks = 0;
    int runFlag = 0;
    MessageIcon icon = MessageIcon::None;
    std::string caption;
};

class RecordingWindow : public MeasurementWindow {
public:
    explicit RecordingWindow(SimulatedUsbDriver& simulator) : driver(simulator) {}

    int AveragingIndex() override { return averagingIndex; }
    int IntervalSeconds() override { return intervalSeconds; }
    int MeasureCount() override { return measureCount; }
    bool SetsRunActiveBeforeStart() const override { return setsRunActive; }

    void AppendSample(const std::string& line) override {
        events.push_back(Observe(RunEvent::Kind::Sample, line, 0));
        if (onSample) {
            onSample(Samples().size());
        }
    }
    void SendAppMessage(unsigned message) override {
        events.push_back(Observe(RunEvent::Kind::Message, "", message));
    }

    void RecordBox(const MessageBoxRequest& request) {
        RunEvent event = Observe(RunEvent::Kind::Box, request.text, 0);
        event.icon = request.icon;
        event.caption = request.caption;
        events.push_back(event);
    }

    std::vector<std::string> Samples() const { return TextsOf(RunEvent::Kind::Sample); }
    std::vector<unsigned> Messages() const {
        std::vector<unsigned> messages;
        for (const RunEvent& event : events) {
            if (event.kind == RunEvent::Kind::Message) {
                messages.push_back(event.message);
            }
        }
        return messages;
    }
    // Stream line numbers of samples whose text starts with the line number.
    std::vector<int> SampleLineNumbers() const {
        std::vector<int> numbers;
        for (const std::string& line : Samples()) {
            numbers.push_back(std::atoi(line.c_str()));
        }
        return numbers;
    }
    // The event of a message, observed when it was sent; a failure when it never was.
    RunEvent MessageEvent(unsigned message) const {
        for (const RunEvent& event : events) {
            if (event.kind == RunEvent::Kind::Message && event.message == message) {
                return event;
            }
        }
        ADD_FAILURE() << "message " << message << " was never sent";
        RunEvent missing;
        missing.openLinks = -1;
        missing.runFlag = -1;
        return missing;
    }

    int averagingIndex = 0;
    int intervalSeconds = 0;
    int measureCount = 0;
    bool setsRunActive = false;
    // Called on the worker thread after each sample is recorded, with the count so far.
    std::function<void(std::size_t)> onSample;
    std::vector<RunEvent> events;

private:
    RunEvent Observe(RunEvent::Kind kind, const std::string& text, unsigned message) const {
        RunEvent event;
        event.kind = kind;
        event.text = text;
        event.message = message;
        event.streamLinesSent = driver.Instrument()->StreamLinesSent();
        event.openLinks = driver.OpenInterfaceCount();
        event.runFlag = runActive.load();
        return event;
    }
    std::vector<std::string> TextsOf(RunEvent::Kind kind) const {
        std::vector<std::string> texts;
        for (const RunEvent& event : events) {
            if (event.kind == kind) {
                texts.push_back(event.text);
            }
        }
        return texts;
    }

    SimulatedUsbDriver& driver;
};

class BoxesIntoWindow : public ModalInteraction {
public:
    explicit BoxesIntoWindow(RecordingWindow& recorder) : window(recorder) {}
    MessageAnswer ShowMessageBox(const MessageBoxRequest& request) override {
        window.RecordBox(request);
        return MessageAnswer::Ok;
    }
    bool ChooseSaveFileName(const SaveFileRequest&, std::string&) override { return false; }

private:
    RecordingWindow& window;
};

// Sleeps are counted, never slept; a test may have the "window" ask for a stop after the
// n-th one, as an operator pressing Stop while the worker waits for data.
struct SleepRecord {
    static inline std::atomic<int> count{0};
    static inline std::atomic<int> stopAfter{0};
    static void Sleep(int) {
        if (++count == stopAfter.load()) {
            runActive.store(0);
        }
    }
};

class WorkerTest : public testing::Test {
protected:
    void SetUp() override {
        driver = std::make_shared<SimulatedUsbDriver>(SimulatedInstrument::ClockMode::Fast);
        InstallUsbDriver(driver);
        window = std::make_unique<RecordingWindow>(*driver);
        InstallModalInteraction(std::make_shared<BoxesIntoWindow>(*window));
        SetApplicationName("qiro7-worker-test");
        SleepRecord::count = 0;
        SleepRecord::stopAfter = 0;
        previousSleep = SetSleepFunction(&SleepRecord::Sleep);
        runActive.store(0);
    }
    void TearDown() override {
        SetSleepFunction(previousSleep);
        InstallModalInteraction(nullptr);
        InstallUsbDriver(nullptr);
        runActive.store(0);
    }

    SimulatedUsbDriver::LockedInstrument Sim() { return driver->Instrument(); }

    // Averaging of the window and of the instrument kept alike.
    void SetAveraging(int index) {
        window->averagingIndex = index;
        auto sim = Sim();
        SimulatedInstrument::Conditions conditions = sim->GetConditions();
        conditions.averaging = index + 1;
        sim->SetConditions(conditions);
    }

    // Lines "1 ...", "2 ...", ... so that a sample tells which stream line it was.
    static std::vector<std::string> NumberedLines(int count) {
        std::vector<std::string> lines;
        for (int i = 1; i <= count; ++i) {
            lines.push_back(std::to_string(i) + " 1.000E+01 2.500E+00");
        }
        return lines;
    }
    static std::vector<int> Range(int first, int last) {
        std::vector<int> numbers;
        for (int i = first; i <= last; ++i) {
            numbers.push_back(i);
        }
        return numbers;
    }

    std::shared_ptr<SimulatedUsbDriver> driver;
    std::unique_ptr<RecordingWindow> window;
    SleepFunction previousSleep = nullptr;
};
