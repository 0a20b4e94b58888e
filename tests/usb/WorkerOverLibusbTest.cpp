// Whole measurement runs of the program's worker over real libusb transfers: how each run ends,
// what the window is sent, and that the link is closed before the end message.
#include <functional>
#include <string>
#include <vector>

#include "measure/AppMessages.h"
#include "measure/MeasurementWorker.h"
#include "measure/RunActive.h"
#include "tests/usb/EmulatedUsbTest.h"

namespace {

using Lines = std::vector<std::string>;
using Messages = std::vector<unsigned>;

// A main window that records what the worker hands it, on the worker's thread.
class RecordingRunWindow : public MeasurementWindow {
public:
    explicit RecordingRunWindow(EmulatedInstrument& device) : instrument(device) {}

    int AveragingIndex() override { return 0; }
    int IntervalSeconds() override { return 0; }
    int MeasureCount() override { return measureCount; }

    void AppendSample(const std::string& line) override {
        samples.push_back(line);
        if (stopAfterSamples != 0 && samples.size() == stopAfterSamples) {
            runActive.store(0);  // the operator presses "Stop"
        }
    }
    void SendAppMessage(unsigned message) override {
        messages.push_back(message);
        interfaceEventsAtMessage.push_back(instrument.InterfaceEvents());
    }

    int measureCount = 0;
    std::size_t stopAfterSamples = 0;
    Lines samples;
    Messages messages;
    std::vector<Lines> interfaceEventsAtMessage;

private:
    EmulatedInstrument& instrument;
};

struct RunCase {
    const char* name;
    std::function<void(SimulatedInstrument&)> firmware;
    int measureCount;
    std::size_t stopAfterSamples;
    int result;
    std::size_t samples;
    Messages messages;
    Lines requests;
};

void PrintTo(const RunCase& run, std::ostream* out) {
    *out << run.name;
}

SimulatedInstrument::StreamFault FaultAfter(std::size_t lines, const char* finalLine) {
    SimulatedInstrument::StreamFault fault;
    fault.afterLines = lines;
    fault.finalLine = finalLine;
    fault.errorCode = 4;
    return fault;
}

class WorkerOverLibusb : public EmulatedUsbTest, public ::testing::WithParamInterface<RunCase> {};

TEST_P(WorkerOverLibusb, EndsAsTheStreamEndsAndClosesTheLinkBeforeTheEndMessage) {
    ASSERT_TRUE(Present({{}}));
    GetParam().firmware(*devices[0]->Firmware());
    RecordingRunWindow window(*devices[0]);
    window.measureCount = GetParam().measureCount;
    window.stopAfterSamples = GetParam().stopAfterSamples;

    EXPECT_EQ(MeasurementThreadProc(window), GetParam().result);

    EXPECT_EQ(window.samples.size(), GetParam().samples);
    for (const std::string& sample : window.samples) {
        EXPECT_TRUE(IsInstrumentReading(sample)) << sample;
    }
    EXPECT_EQ(window.messages, GetParam().messages);
    ASSERT_FALSE(window.interfaceEventsAtMessage.empty());
    EXPECT_EQ(window.interfaceEventsAtMessage.back(), LinkCycleEvents());
    EXPECT_EQ(devices[0]->RequestLog(), GetParam().requests);
    EXPECT_EQ(runActive.load(), 0);
}

const Lines kStartAndStop = {"CST", "STP"};

INSTANTIATE_TEST_SUITE_P(
    Runs, WorkerOverLibusb,
    ::testing::Values(
        RunCase{"CountReached", [](SimulatedInstrument&) {}, 30, 0, MeasurementResult::kCompleted,
                30, Messages{WM_APP_MEAS_STOPPING, WM_APP_MEAS_DONE}, kStartAndStop},
        RunCase{"StoppedByTheOperator", [](SimulatedInstrument&) {}, 0, 12,
                MeasurementResult::kCompleted, 12, Messages{WM_APP_MEAS_STOPPING, WM_APP_MEAS_DONE},
                kStartAndStop},
        RunCase{"StoppedWhileTheStopReplyIsSplit",
                [](SimulatedInstrument& firmware) {
                    firmware.SetPacketisation(SimulatedInstrument::Packetisation::FixedSize, 7);
                },
                0, 12, MeasurementResult::kCompleted, 12,
                Messages{WM_APP_MEAS_STOPPING, WM_APP_MEAS_DONE}, kStartAndStop},
        RunCase{"InstrumentFails",
                [](SimulatedInstrument& firmware) { firmware.SetStreamFault(FaultAfter(5, "NG")); },
                30, 0, MeasurementResult::kInstrumentNg, 5, Messages{WM_APP_MEAS_ERROR},
                Lines{"CST"}},
        // No more packets at all: the pending read is cancelled at the transfer time-out.
        RunCase{"InstrumentFallsSilent",
                [](SimulatedInstrument& firmware) {
                    firmware.SetIdleReads(SimulatedInstrument::IdleReads::NoPacket);
                    firmware.SetStreamFault(FaultAfter(5, ""));
                },
                30, 0, MeasurementResult::kStreamFailed, 5, Messages{WM_APP_MEAS_FAILED},
                Lines{"CST"}}),
    [](const ::testing::TestParamInfo<RunCase>& param) { return std::string(param.param.name); });

}  // namespace
