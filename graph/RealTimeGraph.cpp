#include "graph/RealTimeGraph.h"

#include <QFontMetrics>
#include <QPainter>
#include <QPolygon>
#include <QThread>
#include <cmath>
#include <limits>

#include "framework/QtText.h"

namespace {

const QColor kBackColor(255, 255, 255);
const QColor kGridColor(160, 160, 160);
const QColor kCurveColor(192, 0, 0);
constexpr const char* kFontFace = "MS UI Gothic";
constexpr double kLabelPointSize = 10.0;
constexpr double kSmallPointSize = 6.0;

MeasurementSample CopyOf(const MeasurementSample& sample) {
    MeasurementSample copy;
    copy.Parse(sample.rawLine);
    return copy;
}

MeasurementSample OriginEntry() {
    MeasurementSample origin;
    origin.Parse("0 0 0");
    return origin;
}

QFont PointSizeFont(double pointSize) {
    QFont font(QString::fromLatin1(kFontFace));
    font.setStyleHint(QFont::SansSerif);
    font.setPointSizeF(pointSize);
    return font;
}

QPen SolidPen(const QColor& color) {
    return QPen(color, 1, Qt::SolidLine);
}

int DotsPerMeter(int dotsPerInch) {
    return static_cast<int>(std::lround(dotsPerInch / 0.0254));
}

}  // namespace

CRealTimeGraph::CRealTimeGraph(QWidget* parent)
    : QWidget(parent),
      labelFont(PointSizeFont(kLabelPointSize)),
      smallFont(PointSizeFont(kSmallPointSize)) {
    SetColors(kBackColor, kGridColor, kCurveColor);
    // Every paint covers the whole control, so nothing needs erasing first.
    setAttribute(Qt::WA_OpaquePaintEvent);
}

CRealTimeGraph::~CRealTimeGraph() = default;

void CRealTimeGraph::ResetData(double runIntervalMs, int selectedDataType) {
    intervalMs = runIntervalMs;
    dataType = selectedDataType;
    const std::lock_guard lock(entriesMutex);
    entries.clear();
    entries.push_back(OriginEntry());
}

void CRealTimeGraph::LoadEntries(const std::vector<MeasurementSample>& samples) {
    {
        const std::lock_guard lock(entriesMutex);
        entries.clear();
        entries.reserve(samples.size() + 1);
        entries.push_back(OriginEntry());
        for (const MeasurementSample& sample : samples) {
            entries.push_back(CopyOf(sample));
        }
    }
    RequestRepaint();
}

void CRealTimeGraph::AppendEntry(const MeasurementSample& sample) {
    AppendEntryNumber(sample, std::numeric_limits<std::size_t>::max());
}

bool CRealTimeGraph::AppendEntryNumber(const MeasurementSample& sample, std::size_t number) {
    return AppendEntriesNumbered({sample}, number) != 0;
}

std::size_t CRealTimeGraph::AppendEntriesNumbered(const std::vector<MeasurementSample>& samples,
                                                  std::size_t firstNumber) {
    std::size_t appended = 0;
    {
        const std::lock_guard lock(entriesMutex);
        for (std::size_t i = 0; i < samples.size(); ++i) {
            if (entries.size() <= firstNumber + i) {
                entries.push_back(CopyOf(samples[i]));
                ++appended;
            }
        }
    }
    if (appended != 0) {
        RequestRepaint();
    }
    return appended;
}

void CRealTimeGraph::SetRange(int mode, double from, double to) {
    countMode = mode;
    rangeFrom = from;
    rangeTo = to;
}

void CRealTimeGraph::SetDataType(int selectedDataType) {
    dataType = selectedDataType;
}

std::size_t CRealTimeGraph::GetEntryCount() const {
    const std::lock_guard lock(entriesMutex);
    return entries.size();
}

void CRealTimeGraph::SetColors(QColor background, QColor grid, QColor curve) {
    backColor = background;
    gridColor = grid;
    curveColor = curve;
    gridPen = SolidPen(gridColor);
    curvePen = SolidPen(curveColor);
}

void CRealTimeGraph::DrawGraph(QPainter& painter, int width, int height) {
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setFont(labelFont);
    painter.setPen(gridPen);
    const AxisScalingResult scaling = ComputeScaling(painter, width, height);
    DrawFrame(painter, width, height, scaling);
    if (scaling.span) {
        for (const AxisLabel& label : scaling.valueLabels) {
            DrawLabel(painter, label);
        }
        for (const AxisLabel& label : scaling.timeLabels) {
            DrawLabel(painter, label);
        }
        QPolygon curve;
        curve.reserve(static_cast<qsizetype>(scaling.curve.size()));
        for (const AxisPoint& point : scaling.curve) {
            curve.append(QPoint(point.x, point.y));
        }
        painter.setPen(curvePen);
        painter.drawPolyline(curve);
        DrawLabel(painter, *scaling.lastValueLabel);
    }
    painter.restore();
}

void CRealTimeGraph::paintEvent(QPaintEvent*) {
    const qreal ratio = devicePixelRatioF();
    const QSize pixels = (QSizeF(size()) * ratio).toSize();
    if (offscreen.size() != pixels) {
        offscreen = QImage(pixels, QImage::Format_RGB32);
    }
    offscreen.setDevicePixelRatio(ratio);
    // Fonts come out in the size the screen would give them.
    offscreen.setDotsPerMeterX(DotsPerMeter(logicalDpiX()));
    offscreen.setDotsPerMeterY(DotsPerMeter(logicalDpiY()));
    {
        QPainter memory(&offscreen);
        DrawGraph(memory, width(), height());
    }
    QPainter(this).drawImage(0, 0, offscreen);
}

// The list is read only here, under the lock: values, the last text and nothing else.
AxisScalingResult CRealTimeGraph::ComputeScaling(QPainter& painter, int width, int height) {
    const QFontMetrics labelMetrics(labelFont, painter.device());
    const QFontMetrics smallMetrics(smallFont, painter.device());
    AxisScalingInputs inputs;
    inputs.width = width;
    inputs.height = height;
    inputs.countMode = countMode;
    inputs.rangeStart = rangeFrom;
    inputs.rangeEnd = rangeTo;
    inputs.intervalMs = intervalMs;
    inputs.unitText = UnitTextOf(dataType);
    inputs.valueAt = [this](std::uint64_t i) { return entries[i].ValueOf(dataType); };
    inputs.textAt = [this](std::uint64_t i) { return entries[i].TextOf(dataType); };
    inputs.measureText = [&](const std::string& text, LabelFont font) {
        const QFontMetrics& metrics = font == LabelFont::Small ? smallMetrics : labelMetrics;
        return TextSize{metrics.horizontalAdvance(ToQString(text)), metrics.height()};
    };
    const std::lock_guard lock(entriesMutex);
    inputs.entryCount = entries.size();
    return ComputeAxisScaling(inputs);
}

void CRealTimeGraph::DrawFrame(QPainter& painter, int width, int height,
                               const AxisScalingResult& scaling) {
    painter.fillRect(0, 0, width, height, backColor);
    for (const auto& lines : {scaling.horizontalLines, scaling.verticalLines}) {
        for (const AxisSegment& line : lines) {
            painter.drawLine(line.from.x, line.from.y, line.to.x, line.to.y);
        }
    }
    DrawLabel(painter, scaling.timeUnitLabel);
    DrawLabel(painter, scaling.unitLabel);
    DrawLabel(painter, scaling.superscriptLabel);
    DrawLabel(painter, scaling.closingLabel);
}

// Black text on a box of the background colour, so a label covers the grid beneath it.
void CRealTimeGraph::DrawLabel(QPainter& painter, const AxisLabel& label) {
    const QFont& font = label.font == LabelFont::Small ? smallFont : labelFont;
    painter.setFont(font);
    const QFontMetrics metrics(font, painter.device());
    const QString text = ToQString(label.text);
    const QPoint topLeft(label.topLeft.x, label.topLeft.y);
    painter.fillRect(QRect(topLeft, QSize(metrics.horizontalAdvance(text), metrics.height())),
                     backColor);
    const QPen pen = painter.pen();
    painter.setPen(Qt::black);
    painter.drawText(topLeft + QPoint(0, metrics.ascent()), text);
    painter.setPen(pen);
    painter.setFont(labelFont);
}

void CRealTimeGraph::RequestRepaint() {
    if (QThread::currentThread() == thread()) {
        update();
        return;
    }
    // Widgets belong to the window thread; the request is posted there and dropped if the
    // control is gone by then. By the slot's name, so the call carries nothing of this thread's.
    QMetaObject::invokeMethod(this, "update", Qt::QueuedConnection);
}
