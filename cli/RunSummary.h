// The summary of a measurement run: how many samples were taken and written, for how long, and
// the irradiance's extremes, mean and spread, the final integral and the highest peak. Each
// sample is folded in as it comes (Welford), so a run of any length holds no list.
// One thread at a time (the worker while the run goes, the main thread after its end reads).
#pragma once

#include <cstddef>
#include <optional>
#include <string>

#include "measure/MeasurementSample.h"

class RunSummary {
public:
    void Add(const MeasurementSample& sample);

    std::size_t Count() const { return count; }
    double Minimum() const { return minimum; }
    double Maximum() const { return maximum; }
    double Mean() const { return mean; }
    // Sample standard deviation (n - 1); 0 for fewer than two samples.
    double StandardDeviation() const;
    // The last sample's integral and the highest peak irradiance; nullopt before any sample.
    std::optional<double> FinalIntegral() const;
    std::optional<double> Peak() const;

private:
    std::size_t count = 0;
    double mean = 0.0;
    double squaredDeviations = 0.0;  // running sum, updated as each sample comes (Welford)
    double minimum = 0.0;
    double maximum = 0.0;
    double peak = 0.0;
    double finalIntegral = 0.0;
};

// A measured value for people to read, in the instrument's own notation: four significant
// digits and a two-digit exponent ("1.060E+01", "-3.347E-02"), whatever the locale.
std::string MeasuredValueText(double value);
// A length of time for people to read: "48 s", "4 min 10 s", "2 h 3 min".
std::string DurationText(double seconds);
