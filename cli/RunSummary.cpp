#include "cli/RunSummary.h"

#include <charconv>
#include <cmath>

#include "measure/TextRules.h"

void RunSummary::Add(const MeasurementSample& sample) {
    const double irradiance = sample.ValueOf(Irradiance);
    const double samplePeak = sample.ValueOf(PeakIrradiance);
    ++count;
    const double delta = irradiance - mean;
    mean += delta / static_cast<double>(count);
    squaredDeviations += delta * (irradiance - mean);
    if (count == 1 || irradiance < minimum) {
        minimum = irradiance;
        minimumText = sample.irradianceText;
    }
    if (count == 1 || irradiance > maximum) {
        maximum = irradiance;
        maximumText = sample.irradianceText;
    }
    if (count == 1 || samplePeak > peak) {
        peak = samplePeak;
        peakText = sample.peakIrradianceText;
    }
    finalIntegralText = sample.integralIrradianceText;
}

double RunSummary::StandardDeviation() const {
    return count < 2 ? 0.0 : std::sqrt(squaredDeviations / static_cast<double>(count - 1));
}

std::string RunSummary::Text(double durationSeconds) const {
    std::string text = "samples: " + std::to_string(count) + "\n";
    text += "duration: " + FixedPointText(durationSeconds, 3) + " s\n";
    if (count == 0) {
        return text;
    }
    text += "irradiance [mW/cm2]: min " + minimumText + ", max " + maximumText + ", mean " +
            ShortNumberText(mean) + ", standard deviation " + ShortNumberText(StandardDeviation()) +
            "\n";
    text += "final integral irradiance [mJ/cm2]: " + finalIntegralText + "\n";
    text += "peak irradiance [mW/cm2]: " + peakText + "\n";
    return text;
}

std::string ShortNumberText(double value) {
    char text[32];
    const auto result =
        std::to_chars(text, text + sizeof(text), value, std::chars_format::general, 6);
    return std::string(text, result.ptr);
}
