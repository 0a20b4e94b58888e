#include <QPainter>
#include <QPolygon>
#include <algorithm>

#include "bench/graph/PaintPeers.h"

namespace {

class PolylinePeer final : public PaintPeer {
public:
    explicit PolylinePeer(QSize size) : target(size, QImage::Format_RGB32) {}

    void Load(const std::vector<MeasurementSample>& samples) override {
        values.assign(1, 0.0);  // the origin entry
        for (const MeasurementSample& sample : samples) {
            values.push_back(sample.ValueOf(Irradiance));
        }
    }
    void Append(const MeasurementSample& sample) override {
        values.push_back(sample.ValueOf(Irradiance));
    }

    void Repaint() override {
        target.fill(Qt::white);
        const double top = 1.2 * std::max(*std::max_element(values.begin(), values.end()), 0.0);
        const double width = target.width() - 200;
        const double height = 0.95 * target.height();
        const double n = static_cast<double>(values.size() - 1);
        QPolygon curve;
        curve.reserve(static_cast<qsizetype>(values.size()));
        for (std::size_t i = 0; i < values.size(); ++i) {
            curve.append(QPoint(static_cast<int>(100 + static_cast<double>(i) / n * width),
                                static_cast<int>(height * (1 - values[i] / top))));
        }
        QPainter painter(&target);
        painter.setPen(QPen(QColor(192, 0, 0), 1));
        painter.drawPolyline(curve);
    }

private:
    QImage target;
    std::vector<double> values;
};

}  // namespace

std::unique_ptr<PaintPeer> MakePolylinePeer(QSize size) {
    return std::make_unique<PolylinePeer>(size);
}
