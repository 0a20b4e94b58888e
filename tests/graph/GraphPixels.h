// Pixel helpers of the graph tests: render a graph control through its own paint cycle and
// look at the picture.
#pragma once

#include <gtest/gtest.h>

#include <QColor>
#include <QFont>
#include <QImage>
#include <QPoint>
#include <QRect>
#include <QSize>
#include <QString>
#include <string>
#include <vector>

#include "measure/MeasurementSample.h"

class CRealTimeGraph;

inline const QColor kBackground(255, 255, 255);
inline const QColor kGrid(160, 160, 160);
inline const QColor kCurve(192, 0, 0);

MeasurementSample SampleOf(const std::string& line);
std::vector<MeasurementSample> SamplesOf(const std::vector<std::string>& lines);

// The control's picture as its paint event leaves it, in RGB32.
QImage Render(CRealTimeGraph& graph);
// The control's part of its window's picture once the pending repaints are done: what the
// operator sees, not a fresh paint, so a repaint that was never asked for shows as old pixels.
QImage OnScreen(CRealTimeGraph& graph);

// What the graph is told besides its samples.
struct GraphChoice {
    double intervalMs = 100;
    int countMode = 0;
    double from = 0;
    double to = 9999;
    int dataType = Irradiance;
};

// The picture a graph control of that size draws with these samples behind the origin entry.
QImage PictureOf(QSize size, const std::vector<MeasurementSample>& samples,
                 const GraphChoice& choice = {});

// Equal pictures; otherwise says where the first difference is.
testing::AssertionResult SamePicture(const QImage& actual, const QImage& expected);

bool PixelIs(const QImage& image, int x, int y, const QColor& color);
int CountPixels(const QImage& image, const QRect& area, const QColor& color);
// Pixels darker than the grid: text.
int CountInk(const QImage& image, const QRect& area);

// The graph's fonts: the label font and the superscript font.
QFont GraphLabelFont();
QFont GraphSmallFont();

// True when the picture holds exactly this label: black text in font with its top-left corner
// at topLeft, on a box of the background colour the size of the text. Drawing the label again
// over the picture changes no pixel then.
bool ShowsLabel(const QImage& image, const QString& text, const QFont& font, QPoint topLeft);
// The size of a text as the graph measures it.
QSize TextSizeOf(const QImage& image, const QString& text, const QFont& font);
