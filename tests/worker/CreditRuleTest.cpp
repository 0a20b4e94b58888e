#include "measure/CreditRule.h"

#include <gtest/gtest.h>

#include <optional>
#include <vector>

namespace {

struct CreditCase {
    int intervalSeconds;
    int averagingIndex;
    int measureCount;
    std::vector<int> expectedLines;  // 1-based stream lines that become samples
    int stopLine;                    // the line at which the stop is due; 0: none that early
};

struct OfferedLines {
    std::vector<int> samples;
    int stopLine = 0;
};

// Offers lines 1 to lineCount, or up to the one at which the stop is due.
OfferedLines Offer(int intervalSeconds, int averagingIndex, int measureCount, int lineCount) {
    CreditRule rule(intervalSeconds, averagingIndex, measureCount);
    OfferedLines offered;
    for (int line = 1; line <= lineCount && offered.stopLine == 0; ++line) {
        switch (rule.TakeLine()) {
            case LineUse::Sample:
                offered.samples.push_back(line);
                break;
            case LineUse::StopDue:
                offered.stopLine = line;
                break;
            case LineUse::Skipped:
                break;
        }
    }
    return offered;
}

class CreditRuleTable : public testing::TestWithParam<CreditCase> {};

TEST_P(CreditRuleTable, AcceptsTheExpectedLinesAndStopsAfterTheCount) {
    const CreditCase& c = GetParam();
    const int lineCount = c.stopLine != 0 ? c.stopLine + 10 : c.expectedLines.back();
    const OfferedLines offered =
        Offer(c.intervalSeconds, c.averagingIndex, c.measureCount, lineCount);
    EXPECT_EQ(offered.samples, c.expectedLines);
    EXPECT_EQ(offered.stopLine, c.stopLine);
}

INSTANTIATE_TEST_SUITE_P(
    Sequences, CreditRuleTable,
    testing::Values(CreditCase{1, 0, 0, {10, 20, 30}, 0},
                    CreditCase{1, 2, 0, {3, 6, 10, 13, 16, 20, 23}, 0},
                    CreditCase{2, 4, 0, {4, 8, 12}, 0}, CreditCase{0, 0, 0, {1, 2, 3, 4, 5}, 0},
                    CreditCase{0, 4, 0, {1, 2, 3}, 0}, CreditCase{3, 1, 0, {15, 30, 45}, 0},
                    CreditCase{1, 3, 0, {2, 5, 7, 10, 12, 15}, 0},
                    // The stop is due at the first line after the count is full.
                    CreditCase{1, 0, 3, {10, 20, 30}, 31}, CreditCase{0, 3, 1, {1}, 2},
                    CreditCase{1, 2, 7, {3, 6, 10, 13, 16, 20, 23}, 24},
                    CreditCase{2, 4, 2, {4, 8}, 9}));

TEST(CreditRule, AnUnlimitedCountNeverMakesTheStopDue) {
    const OfferedLines offered = Offer(0, 0, kUnlimitedCount, 20000);
    EXPECT_EQ(offered.samples.size(), 20000u);
    EXPECT_EQ(offered.stopLine, 0);
}

TEST(CreditRule, KeepsTheAverageRateWhenTheIntervalIsNoMultipleOfThePeriod) {
    // 1 s over 300 ms lines: 3000 lines are 900 s, so 900 samples (give or take the first).
    const auto lines = Offer(1, 2, kUnlimitedCount, 3000).samples;
    EXPECT_GE(lines.size(), 899u);
    EXPECT_LE(lines.size(), 901u);
}

struct RunValueCase {
    int averagingIndex;
    int intervalSeconds;
    int measureCount;
    int periodMs;
    double intervalMs;
    std::optional<int> countLimit;
};

class RunValueTable : public testing::TestWithParam<RunValueCase> {};

TEST_P(RunValueTable, DerivesPeriodIntervalAndCount) {
    const RunValueCase& c = GetParam();
    EXPECT_EQ(PeriodMs(c.averagingIndex), c.periodMs);
    EXPECT_DOUBLE_EQ(RunIntervalMs(c.intervalSeconds, PeriodMs(c.averagingIndex)), c.intervalMs);
    EXPECT_EQ(RunCountLimit(c.measureCount), c.countLimit);
}

INSTANTIATE_TEST_SUITE_P(
    Values, RunValueTable,
    testing::Values(RunValueCase{0, 0, 0, 100, 100.0, 9999}, RunValueCase{4, 0, 1, 500, 500.0, 1},
                    RunValueCase{2, 1, 3, 300, 1000.0, 3},
                    RunValueCase{0, 999, 9999, 100, 999000.0, 9999},
                    RunValueCase{1, 5, kUnlimitedCount, 200, 5000.0, std::nullopt}));

}  // namespace
