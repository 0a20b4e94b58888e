// What the graph control is measured against: something that takes one more value and paints
// the whole picture of all values so far into an image of a given size.
#pragma once

#include <QImage>
#include <QSize>
#include <memory>
#include <string>
#include <vector>

#include "measure/MeasurementSample.h"

class PaintPeer {
public:
    virtual ~PaintPeer() = default;
    // Replaces everything with the origin entry and these samples' irradiance values.
    virtual void Load(const std::vector<MeasurementSample>& samples) = 0;
    virtual void Append(const MeasurementSample& sample) = 0;
    virtual void Repaint() = 0;
};

// A plain QPainter polyline through every value, scaled as the graph scales, nothing else.
std::unique_ptr<PaintPeer> MakePolylinePeer(QSize size);
// A QChartView with one QLineSeries whose axes follow the data; null when built without Qt
// Charts.
std::unique_ptr<PaintPeer> MakeChartsPeer(QSize size);
