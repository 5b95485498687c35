#pragma once
// The view of the G-sensor chart: draws the dashed background grid under
// the curves and the harsh-event bands over them, and reports presses,
// drags and releases of the left button (for seeking by the chart).
#include <QColor>
#include <QVector>
#include <QtCharts/QChartView>

class MyQChartView : public QtCharts::QChartView
{
    Q_OBJECT

public:
    struct Band {
        double fromSeconds = 0;
        double toSeconds = 0;
        double peakSeconds = 0;
        QColor colour;
    };

    explicit MyQChartView(QtCharts::QChart *chart, QWidget *parent = nullptr);
    void setBands(const QVector<Band> &bands);

signals:
    void pressed(const QPointF &scenePos);
    void dragged(const QPointF &scenePos);
    void released(const QPointF &scenePos);

protected:
    void drawBackground(QPainter *painter, const QRectF &rect) override;
    void drawForeground(QPainter *painter, const QRectF &rect) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    QVector<Band> bands;
    bool pressing = false;
};
