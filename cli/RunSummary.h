// What a measurement run amounted to, for the summary the command line prints at its end:
// samples, duration, the irradiance's minimum, maximum, mean and standard deviation, the final
// integral and the highest peak. One thread at a time (the run adds, the end reads).
#pragma once

#include <cstddef>
#include <string>

#include "measure/MeasurementSample.h"

class RunSummary {
public:
    void Add(const MeasurementSample& sample);

    std::size_t Count() const { return count; }
    // The instrument's own texts of the samples with the lowest and highest irradiance.
    const std::string& MinimumText() const { return minimumText; }
    const std::string& MaximumText() const { return maximumText; }
    double Mean() const { return mean; }
    // Sample standard deviation (n - 1); 0 for fewer than two samples.
    double StandardDeviation() const;
    // The last sample's integral and the highest peak irradiance, as the instrument wrote them.
    const std::string& FinalIntegralText() const { return finalIntegralText; }
    const std::string& PeakText() const { return peakText; }

    // The summary's lines, each ended by "\n"; durationSeconds is the run's own length.
    std::string Text(double durationSeconds) const;

private:
    std::size_t count = 0;
    double mean = 0.0;
    double squaredDeviations = 0.0;  // running sum, updated as each sample comes (Welford)
    double minimum = 0.0;
    double maximum = 0.0;
    double peak = 0.0;
    std::string minimumText;
    std::string maximumText;
    std::string finalIntegralText;
    std::string peakText;
};

// A number for people to read, locale-independent: up to 6 significant digits.
std::string ShortNumberText(double value);
