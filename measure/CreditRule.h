// The time-credit rule that thins the instrument's fixed stream (one line per period) to one
// sample per operator interval, carrying remainders so the average rate holds. Pure values;
// any thread.
#pragma once

// The instrument's time between two stream lines: (averaging index + 1) x 100 ms.
int PeriodMs(int averagingIndex);
// The run's interval: intervalSeconds x 1000, or one period when intervalSeconds is 0.
double RunIntervalMs(int intervalSeconds, int periodMs);
// How many samples a run keeps: measureCount, or 9999 when it is 0.
int RunCountLimit(int measureCount);

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
