#include "cli/RunSummary.h"

#include <algorithm>
#include <charconv>
#include <cmath>

void RunSummary::Add(const MeasurementSample& sample) {
    const double irradiance = sample.ValueOf(Irradiance);
    const double samplePeak = sample.ValueOf(PeakIrradiance);
    ++count;
    const double delta = irradiance - mean;
    mean += delta / static_cast<double>(count);
    squaredDeviations += delta * (irradiance - mean);
    minimum = count == 1 ? irradiance : std::min(minimum, irradiance);
    maximum = count == 1 ? irradiance : std::max(maximum, irradiance);
    peak = count == 1 ? samplePeak : std::max(peak, samplePeak);
    finalIntegral = sample.ValueOf(IntegralIrradiance);
}

double RunSummary::StandardDeviation() const {
    return count < 2 ? 0.0 : std::sqrt(squaredDeviations / static_cast<double>(count - 1));
}

std::optional<double> RunSummary::FinalIntegral() const {
    return count == 0 ? std::nullopt : std::optional<double>(finalIntegral);
}

std::optional<double> RunSummary::Peak() const {
    return count == 0 ? std::nullopt : std::optional<double>(peak);
}

std::string MeasuredValueText(double value) {
    char text[40];
    const auto result =
        std::to_chars(text, text + sizeof(text), value, std::chars_format::scientific, 3);
    std::string formatted(text, result.ptr);
    std::transform(formatted.begin(), formatted.end(), formatted.begin(),
                   [](char c) { return c == 'e' ? 'E' : c; });
    return formatted;
}

std::string DurationText(double seconds) {
    const long long whole = std::llround(std::max(seconds, 0.0));
    if (whole < 60) {
        return std::to_string(whole) + " s";
    }
    if (whole < 3600) {
        return std::to_string(whole / 60) + " min " + std::to_string(whole % 60) + " s";
    }
    return std::to_string(whole / 3600) + " h " + std::to_string(whole % 3600 / 60) + " min";
}
