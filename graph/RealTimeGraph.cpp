#include "graph/RealTimeGraph.h"

#include <QLine>
#include <QPaintEngine>
#include <QPainter>
#include <QThread>
#include <limits>
#include <optional>
#include <span>

#include "graph/PixelLines.h"

namespace {

const QColor kBackColor(255, 255, 255);
const QColor kGridColor(160, 160, 160);
const QColor kCurveColor(192, 0, 0);
constexpr const char* kFontFace = "MS UI Gothic";
constexpr double kLabelPointSize = 10.0;
constexpr double kSmallPointSize = 6.0;
constexpr int kDataTypes = 3;

QFont PointSizeFont(double pointSize) {
    QFont font(QString::fromLatin1(kFontFace));
    font.setStyleHint(QFont::SansSerif);
    font.setPointSizeF(pointSize);
    return font;
}

QPen SolidPen(const QColor& color) {
    return QPen(color, 1, Qt::SolidLine);
}

// Where lines may go straight into the pixels: the painter paints on a 32-bit image nobody
// else shares (an image of its own, or the window's image when it paints the widget), moved by
// whole pixels only, clipped to one rectangle at most, opaquely.
std::optional<PixelBuffer> DirectPixels(QPainter& painter, const QColor& color) {
    QPaintEngine* engine = painter.paintEngine();
    QPaintDevice* device = engine != nullptr ? engine->paintDevice() : nullptr;
    if (device == nullptr || device->devType() != QInternal::Image || color.alpha() != 255 ||
        painter.hasClipping() || engine->systemClip().rectCount() > 1 || painter.opacity() != 1.0 ||
        painter.compositionMode() != QPainter::CompositionMode_SourceOver) {
        return std::nullopt;
    }
    const QTransform transform = painter.deviceTransform();
    const QPoint origin(static_cast<int>(transform.dx()), static_cast<int>(transform.dy()));
    if (transform.type() > QTransform::TxTranslate || origin.x() != transform.dx() ||
        origin.y() != transform.dy()) {
        return std::nullopt;
    }
    auto* image = static_cast<QImage*>(device);
    const QImage::Format format = image->format();
    if ((format != QImage::Format_RGB32 && format != QImage::Format_ARGB32 &&
         format != QImage::Format_ARGB32_Premultiplied) ||
        !image->isDetached()) {
        return std::nullopt;
    }
    QRect clip = image->rect();
    if (!engine->systemClip().isEmpty()) {
        clip &= engine->systemClip().boundingRect();
    }
    return PixelBuffer{reinterpret_cast<std::uint32_t*>(image->bits()),
                       static_cast<int>(image->bytesPerLine() / 4),
                       image->width(),
                       image->height(),
                       {origin.x(), origin.y()},
                       {clip.left(), clip.top()},
                       {clip.right(), clip.bottom()}};
}

QLine LineOf(AxisPoint from, AxisPoint to) {
    return QLine(from.x, from.y, to.x, to.y);
}

void PaintLines(QPainter& painter, const QPen& pen, const std::vector<QLine>& lines) {
    painter.setPen(pen);
    painter.drawLines(lines.data(), static_cast<int>(lines.size()));
}

// Solid 1-pixel lines, each on its own: written straight into the image where the painter
// allows it, with the pixels the painter would give them.
void DrawLines(QPainter& painter, const QPen& pen, std::span<const AxisSegment> lines) {
    if (const auto pixels = DirectPixels(painter, pen.color())) {
        for (const AxisSegment& line : lines) {
            DrawPixelLine(*pixels, pen.color().rgba(), line.from, line.to);
        }
        return;
    }
    std::vector<QLine> painted;
    for (const AxisSegment& line : lines) {
        painted.push_back(LineOf(line.from, line.to));
    }
    PaintLines(painter, pen, painted);
}

// The same for each point joined to the next.
void DrawJoinedLines(QPainter& painter, const QPen& pen, const std::vector<AxisPoint>& points) {
    if (const auto pixels = DirectPixels(painter, pen.color())) {
        DrawPixelLines(*pixels, pen.color().rgba(), points);
        return;
    }
    std::vector<QLine> painted;
    for (std::size_t i = 1; i < points.size(); ++i) {
        painted.push_back(LineOf(points[i - 1], points[i]));
    }
    PaintLines(painter, pen, painted);
}

double ValueOfType(const std::array<double, kDataTypes>& values, int type) {
    return type >= 0 && type < kDataTypes ? values[static_cast<std::size_t>(type)] : 0.0;
}

}  // namespace

CRealTimeGraph::CRealTimeGraph(QWidget* parent)
    : QWidget(parent),
      labelFont(PointSizeFont(kLabelPointSize)),
      smallFont(PointSizeFont(kSmallPointSize)),
      labelTexts(labelFont, smallFont) {
    SetColors(kBackColor, kGridColor, kCurveColor);
    // Every paint covers the whole control, so nothing needs erasing first.
    setAttribute(Qt::WA_OpaquePaintEvent);
}

CRealTimeGraph::~CRealTimeGraph() = default;

// A copy parsed anew from the line, so nothing is shared with the caller's list.
CRealTimeGraph::Entry CRealTimeGraph::EntryOf(const MeasurementSample& sample) {
    Entry entry;
    entry.sample.Parse(sample.rawLine);
    for (int type = 0; type < kDataTypes; ++type) {
        entry.values[static_cast<std::size_t>(type)] = entry.sample.ValueOf(type);
    }
    return entry;
}

CRealTimeGraph::Entry CRealTimeGraph::OriginEntry() {
    MeasurementSample origin;
    origin.Parse("0 0 0");
    return EntryOf(origin);
}

void CRealTimeGraph::ResetData(double runIntervalMs, int selectedDataType) {
    intervalMs = runIntervalMs;
    dataType = selectedDataType;
    const std::lock_guard lock(entriesMutex);
    entries.clear();
    extremes.Clear();
    extremesType = dataType;
    AppendLocked(OriginEntry());
}

void CRealTimeGraph::LoadEntries(const std::vector<MeasurementSample>& samples) {
    std::vector<Entry> loaded;
    loaded.reserve(samples.size());
    for (const MeasurementSample& sample : samples) {
        loaded.push_back(EntryOf(sample));
    }
    {
        const std::lock_guard lock(entriesMutex);
        entries.clear();
        extremes.Clear();
        AppendLocked(OriginEntry());
        for (Entry& entry : loaded) {
            AppendLocked(std::move(entry));
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
                AppendLocked(EntryOf(samples[i]));
                ++appended;
            }
        }
    }
    if (appended != 0) {
        RequestRepaint();
    }
    return appended;
}

void CRealTimeGraph::AppendLocked(Entry entry) {
    extremes.Append(ValueOfType(entry.values, extremesType));
    entries.push_back(std::move(entry));
}

// The extremes hold the values of one data type; a paint of another starts them over.
void CRealTimeGraph::FollowDataType() {
    if (extremesType == dataType) {
        return;
    }
    extremesType = dataType;
    extremes.Clear();
    for (const Entry& entry : entries) {
        extremes.Append(ValueOfType(entry.values, extremesType));
    }
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
    labelTexts.UseDevice(*painter.device());
    const AxisScalingResult scaling = ComputeScaling(width, height);
    DrawFrame(painter, width, height, scaling);
    if (scaling.span) {
        for (const AxisLabel& label : scaling.valueLabels) {
            labelTexts.Draw(painter, label, backColor);
        }
        for (const AxisLabel& label : scaling.timeLabels) {
            labelTexts.Draw(painter, label, backColor);
        }
        DrawJoinedLines(painter, curvePen, scaling.curve);
        labelTexts.Draw(painter, *scaling.lastValueLabel, backColor);
    }
    painter.restore();
}

// Qt paints widgets into their window's image and shows it in one go: that is the off-screen
// picture, so the graph is drawn straight into it.
void CRealTimeGraph::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    DrawGraph(painter, width(), height());
}

// The list is read only here, under the lock: a few values per pixel column, the last text.
AxisScalingResult CRealTimeGraph::ComputeScaling(int width, int height) {
    AxisScalingInputs inputs;
    inputs.width = width;
    inputs.height = height;
    inputs.countMode = countMode;
    inputs.rangeStart = rangeFrom;
    inputs.rangeEnd = rangeTo;
    inputs.intervalMs = intervalMs;
    inputs.unitText = UnitTextOf(dataType);
    inputs.valueAt = [this](std::uint64_t i) { return extremes.At(i); };
    inputs.rangeOf = [this](std::uint64_t first, std::uint64_t last) {
        return extremes.Of(first, last);
    };
    inputs.textAt = [this](std::uint64_t i) { return entries[i].sample.TextOf(dataType); };
    inputs.measureText = [this](const std::string& text, LabelFont font) {
        return labelTexts.SizeOf(text, font);
    };
    const std::lock_guard lock(entriesMutex);
    FollowDataType();
    inputs.entryCount = entries.size();
    return ComputeAxisScaling(inputs);
}

void CRealTimeGraph::DrawFrame(QPainter& painter, int width, int height,
                               const AxisScalingResult& scaling) {
    painter.fillRect(0, 0, width, height, backColor);
    DrawLines(painter, gridPen, scaling.horizontalLines);
    DrawLines(painter, gridPen, scaling.verticalLines);
    for (const AxisLabel* label : {&scaling.timeUnitLabel, &scaling.unitLabel,
                                   &scaling.superscriptLabel, &scaling.closingLabel}) {
        labelTexts.Draw(painter, *label, backColor);
    }
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
