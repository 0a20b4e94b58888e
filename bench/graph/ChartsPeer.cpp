#include <QChart>
#include <QChartView>
#include <QCoreApplication>
#include <QLineSeries>
#include <QValueAxis>
#include <algorithm>

#include "bench/graph/PaintPeers.h"

namespace {

class ChartsPeer final : public PaintPeer {
public:
    explicit ChartsPeer(QSize size) : target(size, QImage::Format_RGB32) {
        auto* chart = new QChart;
        chart->setAnimationOptions(QChart::NoAnimation);
        chart->legend()->hide();
        series = new QLineSeries;
        chart->addSeries(series);
        axisX = new QValueAxis;
        axisY = new QValueAxis;
        axisX->setTickCount(6);
        axisY->setTickCount(7);
        chart->addAxis(axisX, Qt::AlignBottom);
        chart->addAxis(axisY, Qt::AlignLeft);
        series->attachAxis(axisX);
        series->attachAxis(axisY);
        view.setChart(chart);
        view.setRenderHint(QPainter::Antialiasing, false);
        view.resize(size);
    }

    void Load(const std::vector<MeasurementSample>& samples) override {
        QList<QPointF> points{QPointF(0, 0)};  // the origin entry
        points.reserve(static_cast<qsizetype>(samples.size()) + 1);
        largest = 0.0;
        for (std::size_t i = 0; i < samples.size(); ++i) {
            const double value = samples[i].ValueOf(Irradiance);
            points.append(QPointF(static_cast<double>(i + 1), value));
            largest = std::max(largest, value);
        }
        series->replace(points);
        FollowData();
    }

    void Append(const MeasurementSample& sample) override {
        const double value = sample.ValueOf(Irradiance);
        series->append(static_cast<double>(series->count()), value);
        largest = std::max(largest, value);
        FollowData();
    }

    // The chart lays itself out through posted events; they are part of its repaint.
    void Repaint() override {
        QCoreApplication::processEvents();
        view.QWidget::render(&target);
    }

private:
    void FollowData() {
        axisX->setRange(0, std::max(1, static_cast<int>(series->count()) - 1));
        axisY->setRange(0, largest > 0 ? 1.2 * largest : 1.2);
    }

    QImage target;
    QChartView view;
    QLineSeries* series;
    QValueAxis* axisX;
    QValueAxis* axisY;
    double largest = 0.0;
};

}  // namespace

std::unique_ptr<PaintPeer> MakeChartsPeer(QSize size) {
    return std::make_unique<ChartsPeer>(size);
}
