#include <benchmark/benchmark.h>

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "graph/AxisScaling.h"
#include "graph/RangeExtremes.h"
#include "measure/MeasurementSample.h"

namespace {

constexpr std::size_t kEntries = 10000;  // the origin and a full run of 9,999 samples

AxisScalingInputs InputsFor(std::function<double(std::uint64_t)> valueAt,
                            std::function<std::string(std::uint64_t)> textAt) {
    AxisScalingInputs inputs;
    inputs.width = 800;
    inputs.height = 500;
    inputs.entryCount = kEntries;
    inputs.intervalMs = 1000;
    inputs.unitText = UnitTextOf(Irradiance);
    inputs.valueAt = std::move(valueAt);
    inputs.textAt = std::move(textAt);
    inputs.measureText = [](const std::string& text, LabelFont) {
        return TextSize{7 * static_cast<int>(text.size()), 13};
    };
    return inputs;
}

// Every value read from its text again, as each repaint does.
void BM_AxisScalingTenThousandEntries(benchmark::State& state) {
    std::vector<MeasurementSample> entries(kEntries);
    entries[0].Parse("0 0 0");
    for (std::size_t i = 1; i < entries.size(); ++i) {
        entries[i].Parse(std::to_string(i % 97) + ".25E-01 1.0E+00 2.0E+00");
    }
    const AxisScalingInputs inputs =
        InputsFor([&entries](std::uint64_t i) { return entries[i].ValueOf(Irradiance); },
                  [&entries](std::uint64_t i) { return entries[i].TextOf(Irradiance); });
    for (auto _ : state) {
        benchmark::DoNotOptimize(ComputeAxisScaling(inputs));
    }
}
BENCHMARK(BM_AxisScalingTenThousandEntries)->Unit(benchmark::kMicrosecond);

// The same picture with the values at hand: the axis arithmetic alone.
void BM_AxisScalingTenThousandValues(benchmark::State& state) {
    std::vector<double> values(kEntries);
    for (std::size_t i = 1; i < values.size(); ++i) {
        values[i] = static_cast<double>(i % 97) * 0.025;
    }
    const AxisScalingInputs inputs =
        InputsFor([&values](std::uint64_t i) { return values[i]; },
                  [](std::uint64_t) { return std::string("2.400E+00"); });
    for (auto _ : state) {
        benchmark::DoNotOptimize(ComputeAxisScaling(inputs));
    }
}
BENCHMARK(BM_AxisScalingTenThousandValues)->Unit(benchmark::kMicrosecond);

// The same values with their run extremes at hand, as the graph asks: a few values per pixel
// column and a curve of at most four points per column.
void BM_AxisScalingTenThousandThinned(benchmark::State& state) {
    RangeExtremes extremes;
    for (std::size_t i = 0; i < kEntries; ++i) {
        extremes.Append(static_cast<double>(i % 97) * 0.025);
    }
    AxisScalingInputs inputs = InputsFor([&extremes](std::uint64_t i) { return extremes.At(i); },
                                         [](std::uint64_t) { return std::string("2.400E+00"); });
    inputs.rangeOf = [&extremes](std::uint64_t first, std::uint64_t last) {
        return extremes.Of(first, last);
    };
    for (auto _ : state) {
        benchmark::DoNotOptimize(ComputeAxisScaling(inputs));
    }
}
BENCHMARK(BM_AxisScalingTenThousandThinned)->Unit(benchmark::kMicrosecond);

}  // namespace
