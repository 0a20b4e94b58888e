#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QFontMetrics>
#include <QPainter>
#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "graph/AxisScaling.h"
#include "graph/PixelLines.h"
#include "graph/RangeExtremes.h"
#include "graph/RealTimeGraph.h"
#include "tests/graph/GraphPixels.h"

namespace {

// A 600 x 400 control: T = 20, H = 380, plot from x 100 to 500.
constexpr int kWidth = 600;
constexpr int kHeight = 400;
constexpr std::array kLineY = {43, 106, 170, 233, 296, 360};   // trunc(k * 380 / 6) - 20
constexpr std::array kLineX = {100, 180, 260, 340, 420, 500};  // 100 + j * 400 / 5
constexpr int kGridTop = 20;
constexpr int kGridBottom = 365;  // 5 px below the zero line
constexpr int kZeroY = 360;

class GraphControl : public testing::Test {
protected:
    GraphControl() {
        graph.resize(kWidth, kHeight);
        graph.ResetData(1000, Irradiance);
        graph.SetRange(0, 0, 9999);
    }

    void Append(const std::vector<std::string>& lines) {
        for (const MeasurementSample& sample : SamplesOf(lines)) {
            graph.AppendEntry(sample);
        }
    }

    // Where the curve crosses column x on its way from (x0, y0) to (x1, y1).
    static int LineY(int x, int x0, int y0, int x1, int y1) {
        return y0 + (y1 - y0) * (x - x0) / (x1 - x0);
    }

    static bool CurveNear(const QImage& image, int x, int y) {
        return CountPixels(image, QRect(x, y - 1, 1, 3), kCurve) > 0;
    }

    CRealTimeGraph graph;
};

TEST_F(GraphControl, DrawsTheGridOnePixelWideOnItsComputedLines) {
    const QImage image = Render(graph);
    ASSERT_EQ(image.size(), QSize(kWidth, kHeight));
    for (const int y : kLineY) {
        // Between the vertical lines, and on the tick left of the plot.
        for (const int x : {97, 140, 220, 300, 380, 460, 503}) {
            EXPECT_TRUE(PixelIs(image, x, y, kGrid)) << x << "," << y;
            EXPECT_TRUE(PixelIs(image, x, y - 1, kBackground)) << x << "," << y - 1;
            EXPECT_TRUE(PixelIs(image, x, y + 1, kBackground)) << x << "," << y + 1;
        }
        EXPECT_TRUE(PixelIs(image, 94, y, kBackground)) << "the tick starts at x 95";
        EXPECT_TRUE(PixelIs(image, 506, y, kBackground)) << "the tick ends at x 505";
    }
    for (const int x : kLineX) {
        for (const int y : {kGridTop, 75, 140, 200, 265, 330, kGridBottom - 1}) {
            EXPECT_TRUE(PixelIs(image, x, y, kGrid)) << x << "," << y;
            EXPECT_TRUE(PixelIs(image, x - 1, y, kBackground)) << x - 1 << "," << y;
            EXPECT_TRUE(PixelIs(image, x + 1, y, kBackground)) << x + 1 << "," << y;
        }
        EXPECT_TRUE(PixelIs(image, x, kGridTop - 1, kBackground)) << x;
    }
    // The cells between the lines and the margins are background.
    for (const QPoint cell : {QPoint(140, 75), QPoint(460, 330), QPoint(300, 200), QPoint(560, 40),
                              QPoint(300, 390), QPoint(50, 200)}) {
        EXPECT_TRUE(PixelIs(image, cell.x(), cell.y(), kBackground)) << cell.x() << "," << cell.y();
    }
}

TEST_F(GraphControl, OnlyTheOriginEntryDrawsFrameAndUnitButNoCurveOrNumbers) {
    Append({"5 5 5", "6 6 6"});
    graph.ResetData(1000, Irradiance);
    EXPECT_EQ(graph.GetEntryCount(), 1u);
    const QImage image = Render(graph);
    EXPECT_EQ(CountPixels(image, image.rect(), kCurve), 0);
    EXPECT_EQ(CountInk(image, QRect(0, 35, 95, kHeight - 35)), 0) << "no value labels";
    EXPECT_EQ(CountInk(image, QRect(96, kGridBottom + 1, 440, 34)), 0) << "no time labels";
    EXPECT_GT(CountInk(image, QRect(0, 0, 95, 35)), 0) << "the unit label";
    EXPECT_GT(CountInk(image, QRect(540, 340, 60, 60)), 0) << "[s]";
    for (const int y : kLineY) {
        EXPECT_TRUE(PixelIs(image, 95, y, kGrid)) << "no label covers the tick at " << y;
    }
}

TEST_F(GraphControl, OneSampleInAllModeRunsFromTheBottomLeftCornerToTheRightEdge) {
    Append({"1.5E+01 2.0E+00 3.0E+01"});
    const QImage image = Render(graph);
    // The largest value lies on the top grid line.
    const int x0 = 100, y0 = kZeroY, x1 = 500, y1 = kLineY[0];
    EXPECT_TRUE(PixelIs(image, x0, y0, kCurve));
    for (int x = x0; x <= 490; x += 10) {
        EXPECT_TRUE(CurveNear(image, x, LineY(x, x0, y0, x1, y1))) << "column " << x;
    }
    // Nothing else is drawn in the curve colour: count its pixels per column, at most a run
    // of the line's own steepness (317 px over 400 columns).
    for (int x = 0; x < kWidth; ++x) {
        const int count = CountPixels(image, QRect(x, 0, 1, kHeight), kCurve);
        if (x < x0 || x > x1) {
            EXPECT_EQ(count, 0) << "column " << x;
        } else {
            EXPECT_LE(count, 3) << "column " << x;
        }
    }
    const QFontMetrics metrics(GraphLabelFont(), &image);
    EXPECT_TRUE(ShowsLabel(image, "1.5E+01", GraphLabelFont(), {x1, y1 - metrics.height() / 2}))
        << "the value text as received, centred on the last point";
}

TEST_F(GraphControl, ValueAndTimeLabelsStandOnTheirLinesAndCoverTheGrid) {
    Append({"0.5 0 0", "1.0 0 0", "0.25 0 0"});
    const QImage image = Render(graph);
    const int cy = QFontMetrics(GraphLabelFont(), &image).height();
    // yMax = 1.2: the labels read 1.2 * (6 - k) / 6, right edge at x 95, centred on line k.
    const std::array<QString, 6> values = {"1.000E+0", "8.000E-1", "6.000E-1",
                                           "4.000E-1", "2.000E-1", "0"};
    for (std::size_t k = 0; k < values.size(); ++k) {
        const int cx = TextSizeOf(image, values[k], GraphLabelFont()).width();
        EXPECT_TRUE(ShowsLabel(image, values[k], GraphLabelFont(), {96 - cx, kLineY[k] - cy / 2}))
            << values[k].toStdString();
        EXPECT_FALSE(PixelIs(image, 95, kLineY[k], kGrid)) << "covered tick " << k;
        EXPECT_TRUE(PixelIs(image, 97, kLineY[k], kGrid)) << "tick beside the label " << k;
    }
    // n = 3 intervals of 1 s: "%.2f" at offsets 0, 0.6, 1.2, 1.8, 2.4, 3.0 entries.
    const std::array<QString, 6> times = {"0", "0.60", "1.20", "1.80", "2.40", "3.00"};
    const std::array timeX = {100, 180, 260, 340, 420, 500};
    for (std::size_t m = 0; m < times.size(); ++m) {
        EXPECT_TRUE(ShowsLabel(image, times[m], GraphLabelFont(), {timeX[m], 365 + cy / 2}))
            << times[m].toStdString();
    }
}

struct UnitCase {
    int dataType;
    QString unit;
};

TEST_F(GraphControl, TheUnitLabelFollowsTheDataTypeWithASuperscriptTwo) {
    const UnitCase cases[] = {
        {Irradiance, "[mW/cm"}, {IntegralIrradiance, "[mJ/cm"}, {PeakIrradiance, "[mW/cm"}};
    for (const UnitCase& c : cases) {
        graph.SetDataType(c.dataType);
        const QImage image = Render(graph);
        const QSize unit = TextSizeOf(image, c.unit, GraphLabelFont());
        const QSize square = TextSizeOf(image, "2", GraphSmallFont());
        const int top = 15 - unit.height() / 2;
        EXPECT_TRUE(ShowsLabel(image, c.unit, GraphLabelFont(), {10, top})) << c.dataType;
        EXPECT_TRUE(ShowsLabel(image, "2", GraphSmallFont(),
                               {10 + unit.width(), top - square.height() / 3}))
            << c.dataType;
        EXPECT_TRUE(
            ShowsLabel(image, "]", GraphLabelFont(), {12 + unit.width() + square.width(), top}))
            << c.dataType;
    }
    graph.SetDataType(IntegralIrradiance);
    const QImage image = Render(graph);
    const int top = 15 - TextSizeOf(image, "[mW/cm", GraphLabelFont()).height() / 2;
    EXPECT_FALSE(ShowsLabel(image, "[mW/cm", GraphLabelFont(), {10, top}))
        << "the check tells the two units apart";
}

TEST_F(GraphControl, ATextWithoutANumberIsDrawnAtZeroWithItsTextAsTheLastLabel) {
    Append({"abc 1 1"});
    const QImage image = Render(graph);
    for (int x = 100; x <= 499; x += 7) {
        EXPECT_TRUE(PixelIs(image, x, kZeroY, kCurve)) << "column " << x;
    }
    EXPECT_EQ(CountPixels(image, QRect(0, 0, kWidth, kZeroY - 1), kCurve), 0);
    const int cy = QFontMetrics(GraphLabelFont(), &image).height();
    EXPECT_TRUE(ShowsLabel(image, "abc", GraphLabelFont(), {500, kZeroY - cy / 2}));
    EXPECT_TRUE(ShowsLabel(
        image, "1.000E+0", GraphLabelFont(),
        {96 - TextSizeOf(image, "1.000E+0", GraphLabelFont()).width(), kLineY[0] - cy / 2}))
        << "all values 0: the range tops at 1.2";
}

TEST_F(GraphControl, RangeModeDrawsOnlyTheChosenSamplesAcrossThePlot) {
    Append({"9 0 0", "1 0 0", "2 0 0", "9 0 0", "9 0 0"});
    graph.SetRange(1, 2, 3);  // samples 2 and 3, values 1 and 2
    const QImage image = Render(graph);
    // Entries 2 ("1") and 3 ("2"): yMax 2.4; 1 lands at trunc(380 * (1 - 1 / 2.4)) - 20 = 201.
    for (int x = 100; x <= 490; x += 10) {
        EXPECT_TRUE(CurveNear(image, x, LineY(x, 100, 201, 500, kLineY[0]))) << "column " << x;
    }
    const int cy = QFontMetrics(GraphLabelFont(), &image).height();
    EXPECT_TRUE(ShowsLabel(image, "2", GraphLabelFont(), {500, kLineY[0] - cy / 2}));
    // One interval: the first time label is the range start, 2 s.
    EXPECT_TRUE(ShowsLabel(image, "2.00", GraphLabelFont(), {100, 365 + cy / 2}));
}

// Each entry is parsed anew from the sample's line; a reload replaces all behind the origin.
TEST_F(GraphControl, LoadingCopiesTheSamplesLinesBehindTheOriginEntry) {
    Append({"1 1 1", "2 2 2", "3 3 3"});
    MeasurementSample sample = SampleOf("4 0 0");
    sample.irradianceText = "999";  // not what the line says
    std::vector<MeasurementSample> samples{sample};
    graph.LoadEntries(samples);
    samples[0].Parse("7 7 7");
    EXPECT_EQ(graph.GetEntryCount(), 2u);
    const QImage image = Render(graph);
    EXPECT_TRUE(PixelIs(image, 100, kZeroY, kCurve)) << "the origin entry leads again";
    const int cy = QFontMetrics(GraphLabelFont(), &image).height();
    EXPECT_TRUE(ShowsLabel(image, "4", GraphLabelFont(), {500, kLineY[0] - cy / 2}));
}

// The worker appends while the window thread paints and handles the repaint requests.
TEST_F(GraphControl, AppendsFromAnotherThreadWhilePaintingKeepEveryEntry) {
    constexpr int kAppends = 3000;
    std::atomic<bool> done{false};
    std::thread worker([this, &done] {
        for (int i = 1; i <= kAppends; ++i) {
            graph.AppendEntry(SampleOf(std::to_string(i) + " 0 0"));
        }
        done = true;
    });
    int paints = 0;
    while (!done || paints == 0) {
        Render(graph);
        QCoreApplication::processEvents();
        ++paints;
    }
    worker.join();
    QCoreApplication::processEvents();
    EXPECT_EQ(graph.GetEntryCount(), static_cast<std::size_t>(kAppends) + 1);
    const QImage image = Render(graph);
    const int cy = QFontMetrics(GraphLabelFont(), &image).height();
    EXPECT_TRUE(ShowsLabel(image, "3000", GraphLabelFont(), {500, kLineY[0] - cy / 2}));
}

enum class Run { Noise, Jumps, Constant, Wave };

// Irradiance only: the other fields stay 0.
double ValueOf(Run run, int i, std::mt19937& random) {
    switch (run) {
        case Run::Noise:
            return std::uniform_real_distribution<double>(0.0, 100.0)(random);
        case Run::Jumps: {  // flat stretches, steep jumps up and down, some far below the plot
            const unsigned pick = random() % 50;
            return pick == 0 ? 5000.0 : pick == 1 ? -3000.0 : pick < 10 ? 0.0 : 12.5;
        }
        case Run::Constant:
            return 7.25;
        case Run::Wave:
            return 50.0 + 40.0 * std::sin(i / 37.0) + i % 7;
    }
    return 0.0;
}

struct CurveCase {
    int width;
    int height;
    int samples;
    Run run;
    int countMode = 0;
    double from = 0;
    double to = 9999;
};

// A run as the graph receives it, and its values behind the origin entry's 0.
struct CurveRun {
    std::vector<MeasurementSample> samples;
    std::vector<double> values{0.0};
    RangeExtremes extremes;
};

CurveRun RunOf(const CurveCase& c, std::mt19937& random) {
    CurveRun run;
    run.extremes.Append(0.0);
    for (int i = 1; i <= c.samples; ++i) {
        char line[64];
        std::snprintf(line, sizeof line, "%.4E 0 0", ValueOf(c.run, i, random));
        run.samples.push_back(SampleOf(line));
        run.values.push_back(run.samples.back().ValueOf(Irradiance));
        run.extremes.Append(run.values.back());
    }
    return run;
}

// The scaling of the run, asked for every entry's value; thinned with the run's extremes.
AxisScalingResult ScalingOf(const CurveCase& c, const CurveRun& run, bool thinned) {
    AxisScalingInputs inputs;
    inputs.width = c.width;
    inputs.height = c.height;
    inputs.entryCount = run.values.size();
    inputs.countMode = c.countMode;
    inputs.rangeStart = c.from;
    inputs.rangeEnd = c.to;
    inputs.valueAt = [&run](std::uint64_t i) { return run.values[i]; };
    inputs.textAt = [&run](std::uint64_t i) { return run.samples[i - 1].irradianceText; };
    inputs.measureText = [](const std::string&, LabelFont) { return TextSize{}; };
    if (thinned) {
        inputs.rangeOf = [&run](std::uint64_t first, std::uint64_t last) {
            return run.extremes.Of(first, last);
        };
    }
    return ComputeAxisScaling(inputs);
}

// The points of each pixel column of a curve, column by column.
std::vector<std::size_t> PointsPerColumn(const std::vector<AxisPoint>& curve) {
    std::vector<std::size_t> counts;
    for (std::size_t i = 0; i < curve.size(); ++i) {
        if (i == 0 || curve[i].x != curve[i - 1].x) {
            counts.push_back(0);
        }
        ++counts.back();
    }
    return counts;
}

// Pixel for pixel, with QPainter: a line of its own from every entry's point to the next.
QImage EveryEntryCurve(QSize size, const std::vector<AxisPoint>& points) {
    QImage image(size, QImage::Format_RGB32);
    image.fill(kBackground);
    QPainter painter(&image);
    painter.setPen(QPen(kCurve, 1));
    for (std::size_t i = 1; i < points.size(); ++i) {
        painter.drawLine(points[i - 1].x, points[i - 1].y, points[i].x, points[i].y);
    }
    return image;
}

QImage CurvePixels(const QImage& picture) {
    QImage mask(picture.size(), QImage::Format_Mono);
    for (int y = 0; y < picture.height(); ++y) {
        for (int x = 0; x < picture.width(); ++x) {
            mask.setPixel(x, y, picture.pixelColor(x, y) == kCurve ? 1 : 0);
        }
    }
    return mask;
}

// The graph keeps at most four points of each pixel column (first, smallest and largest value,
// last) and joins them by lines of their own; its picture has exactly the curve pixels of a
// line from every entry to the next.
TEST(GraphCurve, ThinnedToFourPointsPerColumnItDrawsThePixelsOfEveryEntry) {
    const CurveCase cases[] = {
        {987, 434, 9999, Run::Noise},    {987, 434, 9999, Run::Jumps},
        {987, 434, 9999, Run::Constant}, {987, 434, 9999, Run::Wave, 1, 1234, 8765},
        {600, 400, 2500, Run::Jumps},    {600, 400, 37, Run::Noise},  // fewer entries than columns
        {333, 200, 5000, Run::Wave},     {201, 90, 400, Run::Noise},  // a plot one pixel wide
        {150, 80, 300, Run::Jumps},  // the right plot edge left of the left one
    };
    std::mt19937 random(2024);
    for (const CurveCase& c : cases) {
        SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height) + ", " +
                     std::to_string(c.samples) + " samples, run " +
                     std::to_string(static_cast<int>(c.run)));
        const CurveRun run = RunOf(c, random);
        const AxisScalingResult every = ScalingOf(c, run, false);
        const std::vector<std::size_t> columns = PointsPerColumn(ScalingOf(c, run, true).curve);
        EXPECT_LE(*std::max_element(columns.begin(), columns.end()), 4u);
        EXPECT_LE(columns.size(), static_cast<std::size_t>(std::abs(c.width - 200) + 1));

        CRealTimeGraph graph;
        graph.resize(c.width, c.height);
        graph.ResetData(100, Irradiance);
        graph.LoadEntries(run.samples);
        graph.SetRange(c.countMode, c.from, c.to);
        const QImage picture = Render(graph);
        // The last value's label covers the curve beneath it in both.
        QImage expected = EveryEntryCurve(picture.size(), every.curve);
        const QSize label = TextSizeOf(picture, QString::fromStdString(every.lastValueLabel->text),
                                       GraphLabelFont());
        const AxisPoint last = every.curve.back();
        QPainter(&expected).fillRect(QRect(QPoint(last.x, last.y - label.height() / 2), label),
                                     kBackground);
        EXPECT_TRUE(SamePicture(CurvePixels(picture), CurvePixels(expected)));
    }
}

// The graph writes its lines straight into the picture, its own or its window's; they are the
// painter's, pixel for pixel, on any slope, cut at the edges or lying wholly outside, moved and
// clipped as the window's picture moves and clips them.
TEST(GraphCurve, LinesWrittenDirectlyAreThePaintersLines) {
    std::mt19937 random(7);
    const auto below = [&random](int limit) { return static_cast<int>(random() % limit); };
    const auto coordinate = [&](int size) {
        const int pick = below(6);
        return pick == 0   ? below(2000) - 1000
               : pick == 1 ? below(1 << 30) * 2 - (1 << 30)
                           : below(size + 6) - 3;
    };
    for (int trial = 0; trial < 20000; ++trial) {
        const QSize size(1 + below(40), 1 + below(40));
        const AxisPoint from{coordinate(size.width()), coordinate(size.height())};
        AxisPoint to{coordinate(size.width()), coordinate(size.height())};
        switch (below(6)) {
            case 0:
                to.x = from.x;
                break;
            case 1:
                to.y = from.y;
                break;
            case 2:
                to = from;
                break;
        }
        QImage written(size, QImage::Format_RGB32);
        written.fill(kBackground);
        PixelBuffer buffer =
            WholeImage(reinterpret_cast<std::uint32_t*>(written.bits()),
                       static_cast<int>(written.bytesPerLine() / 4), size.width(), size.height());
        QImage painted = written.copy();
        QPainter painter(&painted);
        painter.setPen(QPen(kCurve, 1));
        if (trial % 2 == 1) {
            buffer.origin = {below(11) - 5, below(11) - 5};
            const QRect clip(below(size.width()), below(size.height()), 1 + below(size.width()),
                             1 + below(size.height()));
            buffer.clipTopLeft = {clip.left(), clip.top()};
            buffer.clipBottomRight = {std::min(clip.right(), size.width() - 1),
                                      std::min(clip.bottom(), size.height() - 1)};
            painter.translate(buffer.origin.x, buffer.origin.y);
            painter.setClipRect(clip.translated(-buffer.origin.x, -buffer.origin.y));
        }
        painter.drawLine(from.x, from.y, to.x, to.y);
        painter.end();
        DrawPixelLine(buffer, kCurve.rgba(), from, to);
        ASSERT_TRUE(SamePicture(written, painted))
            << "trial " << trial << ": " << from.x << "," << from.y << " to " << to.x << "," << to.y
            << " in " << size.width() << "x" << size.height();
    }
}

}  // namespace
