#include "measure/CreditRule.h"

namespace {
constexpr int kMsPerAveragedReading = 100;
constexpr int kDefaultCountLimit = 9999;
}  // namespace

int PeriodMs(int averagingIndex) {
    return (averagingIndex + 1) * kMsPerAveragedReading;
}

double RunIntervalMs(int intervalSeconds, int periodMs) {
    return intervalSeconds > 0 ? intervalSeconds * 1000.0 : static_cast<double>(periodMs);
}

std::optional<int> RunCountLimit(int measureCount) {
    if (measureCount == kUnlimitedCount) {
        return std::nullopt;
    }
    return measureCount > 0 ? measureCount : kDefaultCountLimit;
}

bool TimeCredit::TakeLine(int periodMs) {
    credit -= periodMs;
    if (credit < periodMs) {
        credit += intervalMs;
        return true;
    }
    return false;
}

CreditRule::CreditRule(int intervalSeconds, int averagingIndex, int measureCount)
    : periodMs(PeriodMs(averagingIndex)),
      credit(RunIntervalMs(intervalSeconds, periodMs)),
      countLimit(RunCountLimit(measureCount)) {}

LineUse CreditRule::TakeLine() {
    if (countLimit.has_value() && accepted >= *countLimit) {
        return LineUse::StopDue;
    }
    if (!credit.TakeLine(periodMs)) {
        return LineUse::Skipped;
    }
    ++accepted;
    return LineUse::Sample;
}
