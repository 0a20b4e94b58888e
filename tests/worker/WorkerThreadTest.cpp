#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "tests/worker/WorkerTestSupport.h"

namespace {

// A window whose calls are handled on the test's thread, the way the main window handles them
// on the window thread: the worker blocks until each call has been handled.
class WindowOnAnotherThread : public MeasurementWindow {
public:
    struct Call {
        bool isSample = false;
        std::string line;
        unsigned message = 0;
    };

    int AveragingIndex() override { return 0; }
    int IntervalSeconds() override { return 0; }
    int MeasureCount() override { return measureCount; }
    void AppendSample(const std::string& line) override { Deliver({true, line, 0}); }
    void SendAppMessage(unsigned message) override { Deliver({false, "", message}); }

    // Window thread: the next call the worker is waiting in.
    Call Next() {
        std::unique_lock lock(mutex);
        changed.wait(lock, [this] { return pending.has_value(); });
        return *pending;
    }
    // Window thread: lets the waiting worker go on.
    void Handled() {
        std::lock_guard lock(mutex);
        pending.reset();
        changed.notify_all();
    }

    int measureCount = 0;

private:
    void Deliver(Call call) {
        std::unique_lock lock(mutex);
        pending = std::move(call);
        changed.notify_all();
        changed.wait(lock, [this] { return !pending.has_value(); });
    }

    std::mutex mutex;
    std::condition_variable changed;
    std::optional<Call> pending;
};

bool IsFinal(unsigned message) {
    return message == WM_APP_MEAS_DONE || message == WM_APP_MEAS_ERROR ||
           message == WM_APP_MEAS_FAILED;
}

class WorkerThread : public WorkerTest {
protected:
    struct Seen {
        int samples = 0;
        std::vector<unsigned> messages;
        int runFlagAtFinal = -1;
        int openLinksAtFinal = -1;
    };

    // Plays the window thread until the final message; stopAfter > 0 clears the run flag
    // while handling that sample, as "start/stop" would.
    Seen HandleCalls(WindowOnAnotherThread& threaded, int stopAfter) {
        Seen seen;
        for (;;) {
            const WindowOnAnotherThread::Call call = threaded.Next();
            if (call.isSample) {
                if (++seen.samples == stopAfter) {
                    runActive.store(0);
                }
            } else {
                seen.messages.push_back(call.message);
                if (IsFinal(call.message)) {
                    seen.runFlagAtFinal = runActive.load();
                    seen.openLinksAtFinal = driver->OpenInterfaceCount();
                    threaded.Handled();
                    return seen;
                }
            }
            threaded.Handled();
        }
    }
};

TEST_F(WorkerThread, RunsToItsCountOnItsOwnThread) {
    WindowOnAnotherThread threaded;
    threaded.measureCount = 25;
    int result = -100;
    std::thread worker([&] { result = MeasurementThreadProc(threaded); });
    const Seen seen = HandleCalls(threaded, 0);
    worker.join();

    EXPECT_EQ(result, MeasurementResult::kCompleted);
    EXPECT_EQ(seen.samples, 25);
    EXPECT_EQ(seen.messages, (std::vector<unsigned>{WM_APP_MEAS_STOPPING, WM_APP_MEAS_DONE}));
    EXPECT_EQ(seen.runFlagAtFinal, 1);  // the worker waited for the handler
    EXPECT_EQ(seen.openLinksAtFinal, 0);
    EXPECT_EQ(runActive.load(), 0);
}

TEST_F(WorkerThread, StopsWhenTheWindowThreadClearsTheFlag) {
    WindowOnAnotherThread threaded;
    int result = -100;
    std::thread worker([&] { result = MeasurementThreadProc(threaded); });
    const Seen seen = HandleCalls(threaded, 5);
    worker.join();

    EXPECT_EQ(result, MeasurementResult::kCompleted);
    EXPECT_EQ(seen.samples, 5);
    EXPECT_EQ(seen.messages, (std::vector<unsigned>{WM_APP_MEAS_STOPPING, WM_APP_MEAS_DONE}));
    EXPECT_EQ(seen.runFlagAtFinal, 0);
    EXPECT_EQ(driver->RequestLog(), (std::vector<std::string>{"CST", "STP"}));
}

}  // namespace
