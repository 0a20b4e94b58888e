// One full paint of the graph control at the size its window gives it, with 100, 1,000 and
// 10,000 entries: the whole picture built off screen and copied to the target in one go, as
// every arriving sample causes. Runs on Qt's offscreen platform unless told otherwise.
#include <benchmark/benchmark.h>

#include <QImage>
#include <cmath>
#include <string>
#include <vector>

#include "graph/GraphDlg.h"
#include "res/DialogTemplates.h"

namespace {

// Instrument-like texts: three exponent values that wander, so every paint converts them all.
std::vector<MeasurementSample> RunSamples(int count) {
    std::vector<MeasurementSample> samples(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        const double value = 50.0 + 40.0 * std::sin(i / 37.0) + (i % 7);
        char line[96];
        std::snprintf(line, sizeof line, "%.3E %.3E %.3E", value, value * i / 10.0, value * 1.5);
        samples[static_cast<std::size_t>(i)].Parse(line);
    }
    return samples;
}

void BM_FullPaint(benchmark::State& state) {
    CGraphDlg window(nullptr);
    window.ResetForRun(100);
    window.ShowRunSamples(RunSamples(static_cast<int>(state.range(0))));
    CRealTimeGraph& graph = window.GraphControl();
    QImage target(graph.size(), QImage::Format_RGB32);
    for (auto _ : state) {
        graph.render(&target);
        benchmark::ClobberMemory();
    }
    state.counters["width"] = graph.width();
    state.counters["height"] = graph.height();
}
BENCHMARK(BM_FullPaint)->Arg(100)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);

}  // namespace
