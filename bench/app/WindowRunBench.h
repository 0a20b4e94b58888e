// What the run benchmarks share: a connected main window on the simulated instrument, an
// operator who says Yes to everything, and ways to keep the window's event loop going while a
// run goes. Window thread; Qt's offscreen platform unless QT_QPA_PLATFORM names another.
#pragma once

#include <benchmark/benchmark.h>
#include <time.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>
#include <memory>
#include <string>

#include "app/Qiro7Dlg.h"
#include "link/ModalInteraction.h"
#include "link/Sleep.h"
#include "sim/SimulatedUsbDriver.h"

// The operator who says Yes to everything and picks no file.
class YesOperator : public ModalInteraction {
public:
    MessageAnswer ShowMessageBox(const MessageBoxRequest& request) override {
        return request.buttons == MessageButtons::YesNo ? MessageAnswer::Yes : MessageAnswer::Ok;
    }
    bool ChooseSaveFileName(const SaveFileRequest&, std::string&) override { return false; }
};

inline void NoSleep(int) {}

inline double SecondsOf(clockid_t clock) {
    timespec now{};
    clock_gettime(clock, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

// Serves the worker's calls until its thread procedure has returned.
inline void ServeUntilWorkerEnds(const CQiro7Dlg& window) {
    QTimer wake;
    wake.start(1);
    while (window.IsWorkerRunning()) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
}

// The window's event loop, as the program runs it, for `milliseconds`.
inline void RunEventLoopFor(int milliseconds) {
    QEventLoop loop;
    QTimer::singleShot(milliseconds, &loop, &QEventLoop::quit);
    loop.exec();
}

// The wall time, the process's CPU time and the calling (window) thread's CPU time of the
// window's event loop run for `milliseconds`, in seconds.
struct LoopTimes {
    double wall = 0;
    double process = 0;
    double windowThread = 0;
};

inline LoopTimes TimedEventLoop(int milliseconds) {
    const double wallStart = SecondsOf(CLOCK_MONOTONIC);
    const double processStart = SecondsOf(CLOCK_PROCESS_CPUTIME_ID);
    const double windowStart = SecondsOf(CLOCK_THREAD_CPUTIME_ID);
    RunEventLoopFor(milliseconds);
    return {SecondsOf(CLOCK_MONOTONIC) - wallStart,
            SecondsOf(CLOCK_PROCESS_CPUTIME_ID) - processStart,
            SecondsOf(CLOCK_THREAD_CPUTIME_ID) - windowStart};
}

// Each iteration one whole run of `samples` samples with the window's settings, the automatic
// output to csv if ticked; items_per_second counts the samples. False, with the benchmark
// skipped, when a run delivered fewer.
inline bool RunsToTheirEnd(benchmark::State& state, CQiro7Dlg& window, const std::string& csv,
                           int samples) {
    window.SetControlText(IDC_COUNT, std::to_string(samples));
    for (auto _ : state) {
        window.SetControlText(IDC_CSV_FILE_NAME, csv);
        window.OnStartStopMeas();
        ServeUntilWorkerEnds(window);
        if (window.samples.Size() != static_cast<std::size_t>(samples)) {
            state.SkipWithError("the run did not deliver every sample");
            return false;
        }
    }
    state.SetItemsProcessed(state.iterations() * samples);
    return true;
}

// Presses Stop and serves the worker until it ends. False, with the benchmark skipped, when the
// run delivered no sample.
inline bool StopRun(benchmark::State& state, CQiro7Dlg& window) {
    window.OnStartStopMeas();
    ServeUntilWorkerEnds(window);
    if (window.samples.Size() == 0) {
        state.SkipWithError("the run delivered no sample");
        return false;
    }
    return true;
}

// The simulated instrument, the operator and a connected main window for one benchmark.
class RunBench {
public:
    RunBench(SimulatedInstrument::ClockMode clock, bool graph) {
        InstallUsbDriver(std::make_shared<SimulatedUsbDriver>(clock));
        InstallModalInteraction(std::make_shared<YesOperator>());
        // The fast clock needs no sleep; the real one sleeps as the program does.
        previousSleep =
            SetSleepFunction(clock == SimulatedInstrument::ClockMode::Fast ? &NoSleep : nullptr);
        window.show();
        window.OnConnect();
        window.CheckButton(IDC_GRAPH, graph);
    }
    ~RunBench() {
        SetSleepFunction(previousSleep);
        InstallModalInteraction(nullptr);
        InstallUsbDriver(nullptr);
    }

    // False, with the benchmark skipped, when the connect failed.
    bool Connected(benchmark::State& state) const {
        if (!window.IsControlEnabled(IDC_REFRESH)) {
            state.SkipWithError("the connect failed");
            return false;
        }
        return true;
    }

    CQiro7Dlg window;

private:
    SleepFunction previousSleep = nullptr;
};
