// The graph control's paint cost. A full paint at the size its window gives it with 100, 1,000
// and 10,000 entries; one appended sample and the full repaint it causes, beside a plain
// QPainter polyline through every entry and a QtCharts line series of the same size, timed in
// turn in the same run; and the graph window's share of a core when a run feeds it at 10 Hz.
// Runs on Qt's offscreen platform unless told otherwise.
#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QImage>
#include <QTimer>
#include <array>
#include <chrono>
#include <cmath>
#include <string>
#include <vector>

#include "bench/graph/CpuClocks.h"
#include "bench/graph/PaintPeers.h"
#include "graph/GraphDlg.h"

namespace {

// Instrument-like texts: three exponent values that wander.
MeasurementSample RunSample(int i) {
    const double value = 50.0 + 40.0 * std::sin(i / 37.0) + (i % 7);
    char line[96];
    std::snprintf(line, sizeof line, "%.3E %.3E %.3E", value, value * i / 10.0, value * 1.5);
    MeasurementSample sample;
    sample.Parse(line);
    return sample;
}

std::vector<MeasurementSample> RunSamples(int count) {
    std::vector<MeasurementSample> samples;
    samples.reserve(static_cast<std::size_t>(count));
    for (int i = 1; i <= count; ++i) {
        samples.push_back(RunSample(i));
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

// The graph control in its window, painted as its paint event paints it.
class GraphPeer final : public PaintPeer {
public:
    GraphPeer() {
        window.ResetForRun(100);
        target = QImage(window.GraphControl().size(), QImage::Format_RGB32);
    }
    QSize Size() const { return target.size(); }

    void Load(const std::vector<MeasurementSample>& samples) override {
        window.ShowRunSamples(samples);
    }
    void Append(const MeasurementSample& sample) override {
        window.GraphControl().AppendEntry(sample);
    }
    void Repaint() override { window.GraphControl().render(&target); }

private:
    CGraphDlg window{nullptr};
    QImage target;
};

double Milliseconds(ThreadCpuClock::duration duration) {
    return std::chrono::duration<double, std::milli>(duration).count();
}

// Each iteration appends the same sample to every peer and repaints it, one after the other,
// each timed in this thread's CPU time (all of it runs on this thread). The entry count stays
// within 25 of the argument: the peers are reloaded, untimed, when it has grown past that. The
// iteration time is the graph's; the counters give every peer's milliseconds and the graph's share
// of each peer's time.
void BM_AppendAndRepaint(benchmark::State& state) {
    const int entries = static_cast<int>(state.range(0));
    constexpr int kDrift = 25;
    GraphPeer graph;
    std::vector<std::unique_ptr<PaintPeer>> peers;
    peers.push_back(MakePolylinePeer(graph.Size()));
    peers.push_back(MakeChartsPeer(graph.Size()));
    const std::array<const char*, 3> names = {"graph", "polyline", "charts"};
    std::array<PaintPeer*, 3> all = {&graph, peers[0].get(), peers[1].get()};

    const std::vector<MeasurementSample> reloaded = RunSamples(entries - kDrift - 1);
    const auto reload = [&] {
        for (PaintPeer* peer : all) {
            if (peer != nullptr) {
                peer->Load(reloaded);
            }
        }
        return static_cast<int>(reloaded.size());
    };
    std::array<double, 3> totalMs{};
    int next = reload();
    for (auto _ : state) {
        if (next >= entries + kDrift) {
            next = reload();
        }
        const MeasurementSample sample = RunSample(++next);
        std::array<double, 3> ms{};
        for (std::size_t p = 0; p < all.size(); ++p) {
            if (all[p] == nullptr) {
                continue;
            }
            const ThreadCpuClock::time_point start = ThreadCpuClock::now();
            all[p]->Append(sample);
            all[p]->Repaint();
            ms[p] = Milliseconds(ThreadCpuClock::now() - start);
            totalMs[p] += ms[p];
        }
        state.SetIterationTime(ms[0] / 1000.0);
    }
    const double iterations = static_cast<double>(state.iterations());
    for (std::size_t p = 0; p < all.size(); ++p) {
        if (all[p] == nullptr) {
            continue;
        }
        state.counters[std::string(names[p]) + "_ms"] = totalMs[p] / iterations;
        if (p > 0) {
            state.counters[std::string("graph_vs_") + names[p]] = totalMs[0] / totalMs[p];
        }
    }
    state.counters["width"] = graph.Size().width();
    state.counters["height"] = graph.Size().height();
}
BENCHMARK(BM_AppendAndRepaint)
    ->Arg(1000)
    ->Arg(10000)
    ->Iterations(60)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

// The graph window shown, holding 10,000 entries at the end, fed one sample every 100 ms
// through AddRunSample, the call a run feeds it by, on the window thread (how a run hands its
// samples over is the run's cost, not the graph's). The figure is the process's CPU time over
// the wall time of the feeding, in percent of one core.
void BM_GraphFedAt10Hz(benchmark::State& state) {
    constexpr int kEntries = 10000;
    constexpr int kSeconds = 5;
    constexpr int kFed = 10 * kSeconds;
    constexpr int kFirstFed = kEntries - kFed;
    double percent = 0.0;
    for (auto _ : state) {
        CGraphDlg window(nullptr);
        window.ResetForRun(100);
        window.ShowRunSamples(RunSamples(kFirstFed - 1));
        window.ShowGraphWindow(true);
        QEventLoop loop;
        QTimer::singleShot(300, &loop, &QEventLoop::quit);  // the first show and paint
        loop.exec();

        const ProcessCpuClock::time_point cpuStart = ProcessCpuClock::now();
        const auto wallStart = std::chrono::steady_clock::now();
        int number = kFirstFed;
        QTimer feed;
        feed.setTimerType(Qt::PreciseTimer);
        QObject::connect(&feed, &QTimer::timeout, [&] {
            window.AddRunSample(RunSample(number), static_cast<std::size_t>(number));
            if (++number == kEntries) {
                loop.quit();
            }
        });
        feed.start(100);
        loop.exec();
        const auto wall = std::chrono::steady_clock::now() - wallStart;
        const auto cpu = ProcessCpuClock::now() - cpuStart;
        percent = 100.0 * std::chrono::duration<double>(cpu).count() /
                  std::chrono::duration<double>(wall).count();
        state.SetIterationTime(std::chrono::duration<double>(wall).count());
        if (window.GraphControl().GetEntryCount() != static_cast<std::size_t>(kEntries)) {
            state.SkipWithError("the graph did not take every sample");
        }
    }
    state.counters["cpu_percent"] = percent;
}
BENCHMARK(BM_GraphFedAt10Hz)
    ->Iterations(1)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace
