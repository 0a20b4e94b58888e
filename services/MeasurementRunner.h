// One measurement run at a time, on a worker thread of its own (MeasurementThreadProc): the
// instrument's stream thinned by the credit rule; each accepted sample added to the caller's
// sample list, its CSV line written, then handed to the caller's sink; the stop on request; the
// outcome code at the end.
//
// Threads: Start and Wait on the thread that owns the runner (the window thread, or a command
// line's main thread); IsRunning there or on the run's worker; RequestStop on any thread. The
// sink is called on the worker thread. runActive (measure/RunActive.h) is the run's flag: one
// run at a time per process.
#pragma once

#include <atomic>
#include <cstddef>
#include <memory>
#include <thread>

#include "measure/CreditRule.h"  // kUnlimitedCount
#include "measure/MeasurementSample.h"

class CsvFile;
class ModalInteraction;
class SampleList;

struct RunSettings {
    int intervalSeconds = 0;  // 0 to 999; 0 keeps every line
    // Samples to keep: 1 to 9999; 0 for 9,999; kUnlimitedCount until stopped.
    int measureCount = 0;
    int averagingIndex = 0;  // the instrument's averaging number minus 1
};

// Where a run keeps its samples besides handing them to its sink; both optional. The caller owns
// them. The worker writes them from Start until it sends its end message and never after, so the
// caller may close or read them while the sink handles that message, or once Wait has returned.
struct RunRecords {
    SampleList* samples = nullptr;  // every accepted sample appended in order
    CsvFile* csvFile = nullptr;     // every accepted sample's CSV line written and flushed
};

// What a run tells its front end.
class RunSink {
public:
    virtual ~RunSink() = default;
    // Worker thread: sample `number` (counted from 1) of the run, once it is in the list and
    // the file.
    virtual void SampleAccepted(const MeasurementSample& sample, std::size_t number) = 0;
    // Worker thread: an application message of the run (measure/AppMessages.h):
    // WM_APP_MEAS_STOPPING right after the stop was sent (at most once), then one end message,
    // WM_APP_MEAS_DONE, WM_APP_MEAS_ERROR or WM_APP_MEAS_FAILED, once the link is closed. The
    // worker waits for each; after the end message has returned it clears runActive and ends.
    virtual void RunMessage(unsigned message) = 0;
};

class MeasurementRunner {
public:
    MeasurementRunner() = default;
    // Waits for a run that is still going (see Wait).
    ~MeasurementRunner();
    MeasurementRunner(const MeasurementRunner&) = delete;
    MeasurementRunner& operator=(const MeasurementRunner&) = delete;

    // Sets runActive before the worker exists (so a stop requested right away is kept), then
    // starts the run on a new thread, after joining the previous run's, which must be over.
    // `boxes`, when given, takes the boxes the worker asks for (its start failure) instead of
    // the process-wide interaction. False when the thread could not be created: runActive is
    // cleared again, nothing was sent, the sink hears nothing and Wait gives kStartFailed.
    bool Start(const RunSettings& settings, const RunRecords& records,
               std::shared_ptr<RunSink> sink, std::shared_ptr<ModalInteraction> boxes = nullptr);

    // Any thread, also a signal handler (a lock-free atomic store): asks the run to stop, as
    // the window's Stop does. The worker sends the stop at its next line or read; the samples
    // received until then are kept.
    static void RequestStop();

    // True from Start until the run's thread procedure has returned.
    bool IsRunning() const;

    // Waits for the worker thread to end and returns the run's outcome code (MeasurementResult
    // of measure/MeasurementWorker.h); that of the last run when none is going, 0 before the
    // first. The sink must not wait for the calling thread meanwhile.
    int Wait();
    // After Wait: the start exchange's code when the run could not start (ExchangeResult of
    // link/Instrument.h; kRefused when the instrument refused), else 0.
    int StartExchangeResult() const;

private:
    struct Outcome {
        std::atomic<bool> finished{false};
        int result = 0;  // written by the worker before `finished`
        int startExchange = 0;
    };

    std::thread worker;
    std::shared_ptr<Outcome> outcome;
};
