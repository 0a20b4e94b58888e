#include "services/MeasurementRunner.h"

#include <string>
#include <system_error>
#include <utility>

#include "link/ModalInteraction.h"
#include "measure/CsvFile.h"
#include "measure/MeasurementWorker.h"
#include "measure/RunActive.h"
#include "measure/SampleList.h"

// RequestStop may be called from a signal handler.
static_assert(std::atomic<int>::is_always_lock_free);

namespace {

// What the worker sees of the run: the settings, fixed at the start, and where samples go.
class RunWindow final : public MeasurementWindow {
public:
    RunWindow(const RunSettings& runSettings, const RunRecords& runRecords, RunSink& runSink,
              int& startExchangeResult)
        : settings(runSettings),
          records(runRecords),
          sink(runSink),
          startExchange(startExchangeResult) {}

    int AveragingIndex() override { return settings.averagingIndex; }
    int IntervalSeconds() override { return settings.intervalSeconds; }
    int MeasureCount() override { return settings.measureCount; }
    bool SetsRunActiveBeforeStart() const override { return true; }

    void AppendSample(const std::string& line) override {
        MeasurementSample sample;
        sample.Parse(line);
        if (records.samples != nullptr) {
            records.samples->Append(sample);
        }
        if (records.csvFile != nullptr) {
            records.csvFile->WriteLine(sample);  // a failed line is told when the file closes
        }
        sink.SampleAccepted(sample, ++accepted);
    }

    void SendAppMessage(unsigned message) override { sink.RunMessage(message); }
    void StartFailed(int exchangeResult) override { startExchange = exchangeResult; }

private:
    const RunSettings settings;
    const RunRecords records;
    RunSink& sink;
    int& startExchange;
    std::size_t accepted = 0;
};

}  // namespace

MeasurementRunner::~MeasurementRunner() {
    Wait();
}

bool MeasurementRunner::Start(const RunSettings& settings, const RunRecords& records,
                              std::shared_ptr<RunSink> sink,
                              std::shared_ptr<ModalInteraction> boxes) {
    Wait();
    // In place before the worker exists, which may ask for it at once.
    outcome = std::make_shared<Outcome>();
    runActive.store(1);
    try {
        worker = std::thread(
            [settings, records, sink = std::move(sink), boxes = std::move(boxes), state = outcome] {
                const ThreadModalInteraction workerBoxes(boxes);
                RunWindow window(settings, records, *sink, state->startExchange);
                state->result = MeasurementThreadProc(window);
                state->finished.store(true);
            });
    } catch (const std::system_error&) {
        runActive.store(0);
        outcome->result = MeasurementResult::kStartFailed;
        outcome->finished.store(true);
        return false;
    }
    return true;
}

void MeasurementRunner::RequestStop() {
    runActive.store(0);
}

bool MeasurementRunner::IsRunning() const {
    return outcome != nullptr && !outcome->finished.load();
}

int MeasurementRunner::Wait() {
    if (worker.joinable()) {
        worker.join();
    }
    return outcome != nullptr ? outcome->result : 0;
}

int MeasurementRunner::StartExchangeResult() const {
    return outcome != nullptr && outcome->finished.load() ? outcome->startExchange : 0;
}
