#include "measure/SampleList.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace {

MeasurementSample SampleNumbered(std::size_t number) {
    MeasurementSample sample;
    sample.Parse(std::to_string(number) + " 0 0");
    return sample;
}

std::vector<std::string> RawLinesOf(const std::vector<MeasurementSample>& samples) {
    std::vector<std::string> lines;
    for (const MeasurementSample& sample : samples) {
        lines.push_back(sample.rawLine);
    }
    return lines;
}

TEST(SampleList, KeepsRecordsInOrderOfArrival) {
    SampleList list;
    for (std::size_t i = 0; i < 3; ++i) {
        list.Append(SampleNumbered(i));
    }
    EXPECT_EQ(list.Size(), 3u);
    EXPECT_EQ(RawLinesOf(list.Snapshot()), (std::vector<std::string>{"0 0 0", "1 0 0", "2 0 0"}));
    ASSERT_TRUE(list.At(1).has_value());
    EXPECT_EQ(list.At(1)->irradianceText, "1");
    EXPECT_FALSE(list.At(3).has_value());
    list.Clear();
    EXPECT_EQ(list.Size(), 0u);
    EXPECT_TRUE(list.Snapshot().empty());
}

struct SliceCase {
    std::size_t stored;
    std::size_t first;
    std::size_t last;
    std::vector<std::string> expected;
};

TEST(SampleList, SliceCopiesTheRecordsOfARangeAsFarAsTheListReaches) {
    const SliceCase cases[] = {
        {0, 0, 50, {}},
        {3, 0, SIZE_MAX, {"0 0 0", "1 0 0", "2 0 0"}},
        {5, 3, SIZE_MAX, {"3 0 0", "4 0 0"}},
        {5, 1, 3, {"1 0 0", "2 0 0"}},
        {5, 2, 2, {}},
        {5, 3, 1, {}},
        {3, 3, SIZE_MAX, {}},
        {3, 7, 9, {}},
    };
    for (const SliceCase& c : cases) {
        SampleList list;
        for (std::size_t i = 0; i < c.stored; ++i) {
            list.Append(SampleNumbered(i));
        }
        EXPECT_EQ(RawLinesOf(list.Slice(c.first, c.last)), c.expected)
            << c.stored << " stored, from " << c.first << " to " << c.last;
    }
}

// Every view a reader gets while the worker appends must be a consistent prefix of the run.
bool IsPrefixOfRun(const std::vector<MeasurementSample>& samples) {
    for (std::size_t i = 0; i < samples.size(); ++i) {
        if (samples[i].irradianceText != std::to_string(i)) {
            return false;
        }
    }
    return true;
}

TEST(SampleList, ReaderSeesConsistentPrefixesWhileWorkerAppends) {
    constexpr std::size_t kCount = 20000;
    SampleList list;
    std::atomic<bool> appending{true};
    std::thread worker([&] {
        for (std::size_t i = 0; i < kCount; ++i) {
            list.Append(SampleNumbered(i));
        }
        appending = false;
    });

    std::size_t lastSize = 0;
    int inconsistent = 0;
    while (appending || lastSize < kCount) {
        const std::vector<MeasurementSample> snapshot = list.Snapshot();
        inconsistent += snapshot.size() < lastSize || !IsPrefixOfRun(snapshot) ? 1 : 0;
        lastSize = snapshot.size();
        const std::vector<MeasurementSample> newest = list.Slice(lastSize / 2);
        if (!newest.empty()) {
            const std::size_t first = std::stoul(newest.front().irradianceText);
            inconsistent += first != lastSize / 2;
            inconsistent += std::stoul(newest.back().irradianceText) != first + newest.size() - 1;
        }
        const std::optional<MeasurementSample> record = list.At(lastSize / 2);
        inconsistent += record && record->irradianceText != std::to_string(lastSize / 2) ? 1 : 0;
    }
    worker.join();
    EXPECT_EQ(inconsistent, 0);
    EXPECT_EQ(list.Size(), kCount);
}

}  // namespace
