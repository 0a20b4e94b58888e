#include "tests/graph/GraphPixels.h"

#include <QCoreApplication>
#include <QFontMetrics>
#include <QPainter>
#include <QPixmap>
#include <QScreen>

#include "graph/RealTimeGraph.h"

MeasurementSample SampleOf(const std::string& line) {
    MeasurementSample sample;
    sample.Parse(line);
    return sample;
}

std::vector<MeasurementSample> SamplesOf(const std::vector<std::string>& lines) {
    std::vector<MeasurementSample> samples;
    for (const std::string& line : lines) {
        samples.push_back(SampleOf(line));
    }
    return samples;
}

QImage Render(CRealTimeGraph& graph) {
    return graph.grab().toImage().convertToFormat(QImage::Format_RGB32);
}

QImage OnScreen(CRealTimeGraph& graph) {
    QCoreApplication::processEvents();
    QWidget* window = graph.window();
    const QPoint at = graph.mapTo(window, QPoint(0, 0));
    return window->screen()
        ->grabWindow(window->winId(), at.x(), at.y(), graph.width(), graph.height())
        .toImage()
        .convertToFormat(QImage::Format_RGB32);
}

QImage PictureOf(QSize size, const std::vector<MeasurementSample>& samples,
                 const GraphChoice& choice) {
    CRealTimeGraph graph;
    graph.resize(size);
    graph.ResetData(choice.intervalMs, choice.dataType);
    graph.LoadEntries(samples);
    graph.SetRange(choice.countMode, choice.from, choice.to);
    return Render(graph);
}

testing::AssertionResult SamePicture(const QImage& actual, const QImage& expected) {
    if (actual.size() != expected.size()) {
        return testing::AssertionFailure() << "sizes differ";
    }
    for (int y = 0; y < actual.height(); ++y) {
        for (int x = 0; x < actual.width(); ++x) {
            if (actual.pixel(x, y) != expected.pixel(x, y)) {
                return testing::AssertionFailure() << "first difference at " << x << "," << y;
            }
        }
    }
    return testing::AssertionSuccess();
}

bool PixelIs(const QImage& image, int x, int y, const QColor& color) {
    return image.valid(x, y) && image.pixelColor(x, y) == color;
}

int CountPixels(const QImage& image, const QRect& area, const QColor& color) {
    int count = 0;
    const QRect clipped = area.intersected(image.rect());
    for (int y = clipped.top(); y <= clipped.bottom(); ++y) {
        for (int x = clipped.left(); x <= clipped.right(); ++x) {
            count += image.pixelColor(x, y) == color ? 1 : 0;
        }
    }
    return count;
}

int CountInk(const QImage& image, const QRect& area) {
    int count = 0;
    const QRect clipped = area.intersected(image.rect());
    for (int y = clipped.top(); y <= clipped.bottom(); ++y) {
        for (int x = clipped.left(); x <= clipped.right(); ++x) {
            count += qGray(image.pixel(x, y)) < 100 ? 1 : 0;
        }
    }
    return count;
}

namespace {

QFont GraphFont(double pointSize) {
    QFont font(QStringLiteral("MS UI Gothic"));
    font.setStyleHint(QFont::SansSerif);
    font.setPointSizeF(pointSize);
    return font;
}

}  // namespace

QFont GraphLabelFont() {
    return GraphFont(10.0);
}

QFont GraphSmallFont() {
    return GraphFont(6.0);
}

QSize TextSizeOf(const QImage& image, const QString& text, const QFont& font) {
    const QFontMetrics metrics(font, &image);
    return {metrics.horizontalAdvance(text), metrics.height()};
}

bool ShowsLabel(const QImage& image, const QString& text, const QFont& font, QPoint topLeft) {
    QImage redrawn = image.copy();
    QPainter painter(&redrawn);
    painter.setFont(font);
    const QFontMetrics metrics(font, &redrawn);
    painter.fillRect(QRect(topLeft, TextSizeOf(redrawn, text, font)), kBackground);
    painter.setPen(Qt::black);
    painter.drawText(topLeft + QPoint(0, metrics.ascent()), text);
    painter.end();
    return redrawn == image;
}
