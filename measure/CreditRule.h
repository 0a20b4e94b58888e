// The time-credit rule that thins the instrument's fixed stream (one line per period) to one
// sample per operator interval, carrying remainders so the average rate holds, and the count
// that ends a run. Pure values; any thread.
#pragma once

#include <cstdint>
#include <optional>

// A measureCount that keeps a run going until it is stopped.
inline constexpr int kUnlimitedCount = -1;

// The instrument's time between two stream lines: (averaging index + 1) x 100 ms.
int PeriodMs(int averagingIndex);
// The run's interval: intervalSeconds x 1000, or one period when intervalSeconds is 0.
double RunIntervalMs(int intervalSeconds, int periodMs);
// How many samples a run keeps: measureCount when it is above 0, 9999 when it is not; no limit
// for kUnlimitedCount.
std::optional<int> RunCountLimit(int measureCount);

class TimeCredit {
public:
    explicit TimeCredit(double runIntervalMs) : intervalMs(runIntervalMs), credit(runIntervalMs) {}

    // Spends one period on the line that just arrived; true when that line is a sample.
    bool TakeLine(int periodMs);

    double Credit() const { return credit; }

private:
    double intervalMs;
    double credit;
};

// What becomes of a stream line that arrives before the stop has been sent.
enum class LineUse {
    Sample,   // the line is the run's next sample
    Skipped,  // the credit passes over it
    StopDue,  // the count is full: the line is not used and the stop is due
};

// One run's rule: the time credit at the run's period, and its count. The values are fixed at
// the start of the run.
class CreditRule {
public:
    CreditRule(int intervalSeconds, int averagingIndex, int measureCount);

    LineUse TakeLine();

private:
    int periodMs;
    TimeCredit credit;
    std::optional<int> countLimit;
    std::int64_t accepted = 0;
};
