// CRealTimeGraph: the graph window's drawing surface (control 1093). It keeps a copy of the
// run's samples of its own, led by the origin entry "0 0 0", with each entry's values taken
// as numbers once, when it arrives, and draws one quantity of them against time. Every paint
// builds the whole picture from ComputeAxisScaling in the window's off-screen image, which Qt
// shows in one go. A paint asks for a few values per pixel column only (the extremes of a
// column's entries come from RangeExtremes), so it costs in proportion to the width, not to the
// number of entries.
//
// Threads: the appends and GetEntryCount may be called from any thread; everything else runs
// on the window thread. One mutex guards
// the entry list, so a paint never sees it change and an append never runs inside a reload.
#pragma once

#include <QColor>
#include <QFont>
#include <QPen>
#include <QWidget>
#include <array>
#include <cstddef>
#include <mutex>
#include <vector>

#include "graph/AxisScaling.h"
#include "graph/LabelTexts.h"
#include "graph/RangeExtremes.h"
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
    struct Entry {
        MeasurementSample sample;      // the texts, for the last-value label
        std::array<double, 3> values;  // by data type
    };
    static Entry EntryOf(const MeasurementSample& sample);
    static Entry OriginEntry();

    // With entriesMutex held.
    void AppendLocked(Entry entry);
    void FollowDataType();

    AxisScalingResult ComputeScaling(int width, int height);
    // Background, grid and the fixed labels.
    void DrawFrame(QPainter& painter, int width, int height, const AxisScalingResult& scaling);
    void RequestRepaint();

    double rangeFrom = 0.0;
    double rangeTo = 0.0;
    int countMode = 0;
    double intervalMs = 0.0;
    int dataType = Irradiance;

    mutable std::mutex entriesMutex;
    std::vector<Entry> entries;  // guarded by entriesMutex
    // The values of the data type last drawn, entry by entry; guarded by entriesMutex.
    RangeExtremes extremes;
    int extremesType = Irradiance;

    QPen gridPen;
    QPen curvePen;
    QColor backColor;
    QColor gridColor;
    QColor curveColor;
    QFont labelFont;
    QFont smallFont;
    LabelTexts labelTexts;  // window thread
};
