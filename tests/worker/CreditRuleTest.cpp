#include "measure/CreditRule.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

struct CreditCase {
    int intervalSeconds;
    int averagingIndex;
    std::vector<int> expectedLines;  // 1-based stream lines that become samples
};

std::vector<int> AcceptedLines(int intervalSeconds, int averagingIndex, int lineCount) {
    const int periodMs = PeriodMs(averagingIndex);
    TimeCredit credit(RunIntervalMs(intervalSeconds, periodMs));
    std::vector<int> lines;
    for (int line = 1; line <= lineCount; ++line) {
        if (credit.TakeLine(periodMs)) {
            lines.push_back(line);
        }
    }
    return lines;
}

class CreditRuleTable : public testing::TestWithParam<CreditCase> {};

TEST_P(CreditRuleTable, AcceptsTheExpectedLines) {
    const CreditCase& c = GetParam();
    const int lineCount = c.expectedLines.back();
    EXPECT_EQ(AcceptedLines(c.intervalSeconds, c.averagingIndex, lineCount), c.expectedLines);
}

INSTANTIATE_TEST_SUITE_P(
    Sequences, CreditRuleTable,
    testing::Values(CreditCase{1, 0, {10, 20, 30}}, CreditCase{1, 2, {3, 6, 10, 13, 16, 20, 23}},
                    CreditCase{2, 4, {4, 8, 12}}, CreditCase{0, 0, {1, 2, 3, 4, 5}},
                    CreditCase{0, 4, {1, 2, 3}}, CreditCase{3, 1, {15, 30, 45}},
                    CreditCase{1, 3, {2, 5, 7, 10, 12, 15}}));

TEST(CreditRule, KeepsTheAverageRateWhenTheIntervalIsNoMultipleOfThePeriod) {
    // 1 s over 300 ms lines: 3000 lines are 900 s, so 900 samples (give or take the first).
    const auto lines = AcceptedLines(1, 2, 3000);
    EXPECT_GE(lines.size(), 899u);
    EXPECT_LE(lines.size(), 901u);
}

struct RunValueCase {
    int averagingIndex;
    int intervalSeconds;
    int measureCount;
    int periodMs;
    double intervalMs;
    int countLimit;
};

class RunValueTable : public testing::TestWithParam<RunValueCase> {};

TEST_P(RunValueTable, DerivesPeriodIntervalAndCount) {
    const RunValueCase& c = GetParam();
    EXPECT_EQ(PeriodMs(c.averagingIndex), c.periodMs);
    EXPECT_DOUBLE_EQ(RunIntervalMs(c.intervalSeconds, PeriodMs(c.averagingIndex)), c.intervalMs);
    EXPECT_EQ(RunCountLimit(c.measureCount), c.countLimit);
}

INSTANTIATE_TEST_SUITE_P(Values, RunValueTable,
                         testing::Values(RunValueCase{0, 0, 0, 100, 100.0, 9999},
                                         RunValueCase{4, 0, 1, 500, 500.0, 1},
                                         RunValueCase{2, 1, 3, 300, 1000.0, 3},
                                         RunValueCase{0, 999, 9999, 100, 999000.0, 9999}));

}  // namespace
