#include "GpsDetailInfoWidget.h"

#include "ChartDecimation.h"
#include "MyQChartView.h"
#include "SlideWidget.h"

#include <QGraphicsLayout>
#include <QHBoxLayout>
#include <QtCharts/QAreaSeries>
#include <QtCharts/QChart>
#include <QtCharts/QLineSeries>
#include <QtCharts/QValueAxis>

#include <algorithm>

using namespace QtCharts;

namespace {

QColor bandColour(HarshEvent::Kind kind)
{
    switch (kind) {
    case HarshEvent::Braking: return QColor(240, 60, 60);
    case HarshEvent::Acceleration: return QColor(60, 200, 90);
    case HarshEvent::Impact: return QColor(230, 70, 230);
    }
    return Qt::white;
}

QValueAxis *hiddenAxis()
{
    auto *axis = new QValueAxis;
    axis->setVisible(false);
    return axis;
}

} // namespace

GpsDetailInfoWidget::GpsDetailInfoWidget(QWidget *parent)
    : QWidget(parent), chartObject(new QChart)
{
    chartObject->legend()->hide();
    chartObject->setBackgroundVisible(false);
    chartObject->setPlotAreaBackgroundVisible(false);
    chartObject->setBackgroundRoundness(0);
    chartObject->setMargins(QMargins(0, 0, 0, 0));
    chartObject->layout()->setContentsMargins(0, 0, 0, 0);
    axisX = hiddenAxis();
    axisY = hiddenAxis();
    axisSpeed = hiddenAxis();
    chartObject->addAxis(axisX, Qt::AlignBottom);
    chartObject->addAxis(axisY, Qt::AlignLeft);
    chartObject->addAxis(axisSpeed, Qt::AlignRight);

    // Added first, so drawn first: the speed lies under the G-sensor curves.
    speedArea = new QAreaSeries;
    speedLine = new QLineSeries(speedArea);
    speedArea->setUpperSeries(speedLine);
    speedArea->setBrush(QColor(60, 130, 220, 80));
    speedArea->setPen(QPen(QColor(90, 160, 240), 1));
    overspeed = new QLineSeries;
    overspeed->setPen(QPen(QColor(255, 70, 70), 1.5, Qt::DashLine));
    for (QAbstractSeries *series : {static_cast<QAbstractSeries *>(speedArea), static_cast<QAbstractSeries *>(overspeed)}) {
        chartObject->addSeries(series);
        series->attachAxis(axisX);
        series->attachAxis(axisSpeed);
    }
    const QColor colours[3] = {QColor(255, 165, 0), QColor(255, 255, 0), QColor(0, 255, 0)};
    for (int i = 0; i < 3; ++i) {
        curves[i] = new QLineSeries;
        curves[i]->setPen(QPen(colours[i], 2));
        chartObject->addSeries(curves[i]);
        curves[i]->attachAxis(axisX);
        curves[i]->attachAxis(axisY);
    }

    view = new MyQChartView(chartObject, this);
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(view);
    cursor = new SlideWidget(this);
    cursor->setGeometry(0, 0, 2, height());
    cursor->raise();

    connect(view, &MyQChartView::pressed, this, [this](const QPointF &p) {
        if (!snapshot)
            return;
        dragging = true;
        moveCursorTo(timeAt(p));
    });
    connect(view, &MyQChartView::dragged, this, [this](const QPointF &p) {
        if (dragging)
            moveCursorTo(timeAt(p));
    });
    connect(view, &MyQChartView::released, this, [this](const QPointF &p) {
        if (!dragging)
            return;
        dragging = false;
        const qint64 t = timeAt(p);
        moveCursorTo(t);
        emit seekRequested(t);
    });
    loadRecording(nullptr, {});
}

GpsDetailInfoWidget::~GpsDetailInfoWidget() = default;

double GpsDetailInfoWidget::spanSeconds() const
{
    // A recording without length still gets a one-second time line.
    return snapshot && snapshot->spanUs > 0 ? double(snapshot->spanUs) / 1e6 : 1.0;
}

void GpsDetailInfoWidget::loadRecording(const TelemetrySnapshotPtr &next, const std::vector<HarshEvent> &events)
{
    snapshot = next;
    harsh = events;
    positionUs = 0;
    sample = -2; // unknown: the read-out is told the first sample, or that there is none
    dragging = false;
    peak = 0;
    if (snapshot)
        for (const GSensorPoint &s : snapshot->gsensor)
            peak = std::max({peak, int(s.x), int(s.y), int(s.z)});
    plot();
    QVector<MyQChartView::Band> bands;
    for (const HarshEvent &e : harsh)
        bands.append({e.startUs / 1e6, e.endUs / 1e6, e.peakUs / 1e6, bandColour(e.kind)});
    view->setBands(bands);
    moveCursorTo(0);
}

void GpsDetailInfoWidget::plot()
{
    const double span = spanSeconds();
    axisX->setRange(0, span);
    const int columns = std::max(1, int(chartObject->plotArea().width() > 1 ? chartObject->plotArea().width() : width()));
    plottedWidth = columns;
    QVector<QPointF> raw[3];
    if (snapshot) {
        for (QVector<QPointF> &r : raw)
            r.reserve(int(snapshot->gsensor.size()));
        for (const GSensorPoint &s : snapshot->gsensor) {
            const double t = double(s.timeUs) / 1e6;
            raw[0].append({t, double(s.x)});
            raw[1].append({t, double(s.y)});
            raw[2].append({t, double(s.z)});
        }
    }
    for (int i = 0; i < 3; ++i)
        curves[i]->replace(minMaxPerColumn(raw[i], 0, span, columns));
    rescale();
    plotSpeed();
}

void GpsDetailInfoWidget::plotSpeed()
{
    const double span = spanSeconds();
    QVector<QPointF> raw;
    int fastest = 0;
    if (snapshot) {
        for (const GpsFix &f : snapshot->gps) {
            if (!f.valid)
                continue;
            const int v = speedInUnit(f.speedKmh, unitKmh);
            fastest = std::max(fastest, v);
            raw.append({double(snapshot->offsetUs(f.timeMs)) / 1e6, double(v)});
        }
    }
    speedLine->replace(minMaxPerColumn(raw, 0, span, std::max(1, plottedWidth)));
    speedArea->setVisible(!raw.isEmpty());
    const double top = std::max(10.0, fastest * 1.1);
    axisSpeed->setRange(0, top);
    const int limit = speedInUnit(limitKmh, unitKmh);
    const bool showLimit = limitKmh > 0 && !raw.isEmpty() && limit <= top;
    overspeed->replace(showLimit ? QVector<QPointF>{{0, double(limit)}, {span, double(limit)}} : QVector<QPointF>{});
    overspeed->setVisible(showLimit);
}

void GpsDetailInfoWidget::rescale()
{
    upper = peak + (zoomed ? ZoomedHeadroom : NormalHeadroom);
    axisY->setRange(0, upper);
}

void GpsDetailInfoWidget::setZoomed(bool on)
{
    if (zoomed == on)
        return;
    zoomed = on;
    rescale();
}

void GpsDetailInfoWidget::setSpeedUnitKmh(bool kmh)
{
    if (unitKmh == kmh)
        return;
    unitKmh = kmh;
    plotSpeed();
}

void GpsDetailInfoWidget::setOverspeedLimit(int kmh)
{
    if (limitKmh == kmh)
        return;
    limitKmh = std::max(0, kmh);
    plotSpeed();
}

double GpsDetailInfoWidget::speedAxisTop() const
{
    return axisSpeed->max();
}

bool GpsDetailInfoWidget::overspeedLineShown() const
{
    return overspeed->isVisible() && overspeed->count() == 2;
}

int GpsDetailInfoWidget::plottedPoints() const
{
    return curves[0]->count() + curves[1]->count() + curves[2]->count();
}

int GpsDetailInfoWidget::cursorX() const
{
    return cursor->x() + cursor->width() / 2;
}

void GpsDetailInfoWidget::setPosition(qint64 timeUs)
{
    positionUs = timeUs;
    if (!dragging)
        moveCursorTo(timeUs);
}

void GpsDetailInfoWidget::moveCursorTo(qint64 timeUs)
{
    const qint64 span = snapshot ? std::max<qint64>(0, snapshot->spanUs) : 0;
    const qint64 t = qBound<qint64>(0, timeUs, span);
    const QPointF onChart = chartObject->mapToPosition(QPointF(double(t) / 1e6, 0), curves[0]);
    const QPoint inView = view->mapFromScene(onChart);
    const int x = qBound(0, view->mapTo(this, inView).x(), std::max(0, width() - 1));
    if (cursor->x() != x - cursor->width() / 2 || cursor->height() != height())
        cursor->setGeometry(x - cursor->width() / 2, 0, cursor->width(), height());
    const int nearest = snapshot ? snapshot->nearestGSensor(t) : -1;
    if (nearest == sample)
        return;
    sample = nearest;
    if (sample < 0) {
        emit gsensorCleared();
        return;
    }
    const GSensorPoint &s = snapshot->gsensor[size_t(sample)];
    emit gsensorChanged(s.x, s.y, s.z);
}

qint64 GpsDetailInfoWidget::timeAt(const QPointF &scenePos) const
{
    const double seconds = chartObject->mapToValue(scenePos, curves[0]).x();
    const qint64 span = snapshot ? std::max<qint64>(0, snapshot->spanUs) : 0;
    return qBound<qint64>(0, qint64(seconds * 1e6), span);
}

void GpsDetailInfoWidget::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    // The chart view lays its plot area out first; the curves are thinned for
    // the new width once it has.
    QMetaObject::invokeMethod(this, [this] {
        const int columns = int(chartObject->plotArea().width());
        if (columns > 1 && columns != plottedWidth)
            plot();
        moveCursorTo(positionUs);
    }, Qt::QueuedConnection);
}
