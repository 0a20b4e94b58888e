// A run through the service layer as a command line drives it: a plain sink on the worker
// thread, no sample list, no window. The window suites cover the runs a window can start.
#include "services/MeasurementRunner.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "link/Sleep.h"
#include "link/UsbDriver.h"
#include "measure/AppMessages.h"
#include "measure/CreditRule.h"
#include "measure/CsvFile.h"
#include "measure/CsvLine.h"
#include "measure/MeasurementWorker.h"
#include "measure/RunActive.h"
#include "sim/SimulatedUsbDriver.h"

namespace {

void NoSleep(int) {}

// Records what the worker hands over; stops the run like Ctrl+C once it has `stopAt` samples.
class RecordingSink : public RunSink {
public:
    explicit RecordingSink(std::size_t stopAt) : stopAfter(stopAt) {}

    void SampleAccepted(const MeasurementSample& sample, std::size_t number) override {
        numbers.push_back(number);
        csv += CsvLine(sample);
        if (number == stopAfter) {
            MeasurementRunner::RequestStop();
        }
    }
    void RunMessage(unsigned message) override { messages.push_back(message); }

    const std::size_t stopAfter;
    std::vector<std::size_t> numbers;
    std::string csv;
    std::vector<unsigned> messages;
};

TEST(MeasurementRunner, AnUnlimitedRunGoesPastTheWindowsLimitUntilStoppedAndKeepsEverySample) {
    InstallUsbDriver(std::make_shared<SimulatedUsbDriver>(SimulatedInstrument::ClockMode::Fast));
    const SleepFunction previousSleep = SetSleepFunction(&NoSleep);
    const std::filesystem::path path =
        std::filesystem::temp_directory_path() / "qiro7-runner-unlimited.csv";
    std::filesystem::remove(path);
    std::error_code error;
    std::unique_ptr<CsvFile> file = CsvFile::Open(path.string(), error);
    ASSERT_NE(file, nullptr) << error.message();
    auto sink = std::make_shared<RecordingSink>(12000);

    MeasurementRunner runner;
    ASSERT_TRUE(runner.Start({.intervalSeconds = 0, .measureCount = kUnlimitedCount},
                             {.csvFile = file.get()}, sink));
    EXPECT_EQ(runner.Wait(), MeasurementResult::kCompleted);
    file.reset();

    EXPECT_FALSE(runner.IsRunning());
    EXPECT_EQ(runActive.load(), 0);
    ASSERT_GE(sink->numbers.size(), 12000u);
    for (std::size_t i = 0; i < sink->numbers.size(); ++i) {
        ASSERT_EQ(sink->numbers[i], i + 1);
    }
    {
        std::ifstream written(path, std::ios::binary);
        const std::string bytes{std::istreambuf_iterator<char>(written),
                                std::istreambuf_iterator<char>()};
        EXPECT_EQ(bytes, sink->csv);
    }
    EXPECT_EQ(sink->messages, (std::vector<unsigned>{WM_APP_MEAS_STOPPING, WM_APP_MEAS_DONE}));

    std::filesystem::remove(path);
    SetSleepFunction(previousSleep);
    InstallUsbDriver(nullptr);
}

}  // namespace
