// CRealTimeGraph: the graph window's drawing surface (control 1093). It keeps a copy of the
// run's samples of its own, led by the origin entry "0 0 0", and draws one quantity of them
// against time, double-buffered: every paint builds the whole picture off screen from
// ComputeAxisScaling and copies it to the widget in one go.
//
// Threads: the appends and GetEntryCount may be called from any thread; everything else runs
// on the window thread. One mutex guards
// the entry list, so a paint never sees it change and an append never runs inside a reload.
#pragma once

#include <QColor>
#include <QFont>
#include <QImage>
#include <QPen>
#include <QWidget>
#include <cstddef>
#include <mutex>
#include <vector>

#include "graph/AxisScaling.h"
#include "measure/MeasurementSample.h"

class QPainter;

class CRealTimeGraph : public QWidget {
    Q_OBJECT

public:
    explicit CRealTimeGraph(QWidget* parent = nullptr);
    ~CRealTimeGraph() override;

    // Stores both and leaves only the origin entry; no repaint.
    void ResetData(double runIntervalMs, int selectedDataType);
    // Only the origin entry, then a copy of every sample in order; repaints.
    void LoadEntries(const std::vector<MeasurementSample>& samples);
    // Any thread: appends a copy and asks for a repaint.
    void AppendEntry(const MeasurementSample& sample);
    // Any thread: the same for the sample that follows `number - 1` received ones; nothing
    // when the list holds `number` received samples or more already. True when appended.
    bool AppendEntryNumber(const MeasurementSample& sample, std::size_t number);
    // Any thread: the same for samples numbered firstNumber, firstNumber + 1, ..., with one
    // repaint request for all. How many were appended.
    std::size_t AppendEntriesNumbered(const std::vector<MeasurementSample>& samples,
                                      std::size_t firstNumber);
    // No repaint: the caller asks for one when it has set everything.
    void SetRange(int mode, double from, double to);
    void SetDataType(int selectedDataType);
    // Any thread: the entries, the origin entry included.
    std::size_t GetEntryCount() const;
    void SetColors(QColor background, QColor grid, QColor curve);

    // The whole picture for a client area of width by height pixels.
    void DrawGraph(QPainter& painter, int width, int height);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    AxisScalingResult ComputeScaling(QPainter& painter, int width, int height);
    // Background, grid and the fixed labels.
    void DrawFrame(QPainter& painter, int width, int height, const AxisScalingResult& scaling);
    void DrawLabel(QPainter& painter, const AxisLabel& label);
    void RequestRepaint();

    double rangeFrom = 0.0;
    double rangeTo = 0.0;
    int countMode = 0;
    double intervalMs = 0.0;
    int dataType = Irradiance;

    mutable std::mutex entriesMutex;
    std::vector<MeasurementSample> entries;  // guarded by entriesMutex

    QPen gridPen;
    QPen curvePen;
    QColor backColor;
    QColor gridColor;
    QColor curveColor;
    QFont labelFont;
    QFont smallFont;
    QImage offscreen;  // window thread; kept between paints of the same size
};
