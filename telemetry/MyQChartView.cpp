#include "MyQChartView.h"

#include <QMouseEvent>
#include <QtCharts/QAbstractSeries>

using namespace QtCharts;

MyQChartView::MyQChartView(QChart *chart, QWidget *parent)
    : QChartView(chart, parent)
{
    setFrameShape(QFrame::NoFrame);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setRenderHint(QPainter::Antialiasing, false);
    setCursor(Qt::PointingHandCursor);
}

void MyQChartView::setBands(const QVector<Band> &list)
{
    bands = list;
    viewport()->update();
}

void MyQChartView::drawBackground(QPainter *painter, const QRectF &rect)
{
    painter->fillRect(rect, QColor(50, 50, 50));
    QPen pen(QColor(150, 150, 150), 0.5, Qt::DashLine);
    painter->setPen(pen);
    const QRect area = viewport()->rect();
    const int w = area.width(), h = area.height();
    for (int i = 0, x = 4; i < 19; ++i, x += w / 19)
        painter->drawLine(x, 0, x, h);
    const int step = (h + 1) / 4;
    for (int i = 1; i <= 3; ++i)
        painter->drawLine(0, i * step, w, i * step);
}

void MyQChartView::drawForeground(QPainter *painter, const QRectF &)
{
    if (bands.isEmpty() || chart()->series().isEmpty())
        return;
    QAbstractSeries *series = chart()->series().constLast();
    const QRectF plot = chart()->plotArea();
    for (const Band &b : bands) {
        const double x0 = chart()->mapToPosition(QPointF(b.fromSeconds, 0), series).x();
        const double x1 = chart()->mapToPosition(QPointF(b.toSeconds, 0), series).x();
        const double xp = chart()->mapToPosition(QPointF(b.peakSeconds, 0), series).x();
        QColor fill = b.colour;
        fill.setAlpha(70);
        painter->fillRect(QRectF(x0, plot.top(), qMax(2.0, x1 - x0), plot.height()), fill);
        painter->setPen(QPen(b.colour, 1.5));
        painter->drawLine(QPointF(xp, plot.top()), QPointF(xp, plot.bottom()));
    }
}

void MyQChartView::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton)
        return QChartView::mousePressEvent(event);
    pressing = true;
    emit pressed(mapToScene(event->pos()));
    event->accept();
}

void MyQChartView::mouseMoveEvent(QMouseEvent *event)
{
    if (!pressing)
        return QChartView::mouseMoveEvent(event);
    emit dragged(mapToScene(event->pos()));
    event->accept();
}

void MyQChartView::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton || !pressing)
        return QChartView::mouseReleaseEvent(event);
    pressing = false;
    emit released(mapToScene(event->pos()));
    event->accept();
}
