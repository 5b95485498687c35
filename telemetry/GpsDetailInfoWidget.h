#pragma once
// The G-sensor chart of the recording on screen: X, Y and Z over the
// recording's own time line [0, duration], the speed underneath them in the
// viewer's unit with the overspeed limit, the harsh events as bands, and the
// yellow cursor at the time of the frame on screen. The chart is built once
// per recording from its telemetry snapshot (each curve thinned to the
// lowest and highest sample of every pixel column); "+"/"-" only change the
// vertical scale. A click or a drag on the chart asks to play from there.
#include "HarshEvents.h"
#include "TelemetryTrack.h"

#include <QWidget>

namespace QtCharts {
class QAreaSeries;
class QChart;
class QLineSeries;
class QValueAxis;
}
class MyQChartView;
class SlideWidget;

class GpsDetailInfoWidget : public QWidget
{
    Q_OBJECT

public:
    static constexpr int ZoomedHeadroom = 100;
    static constexpr int NormalHeadroom = 300;

    explicit GpsDetailInfoWidget(QWidget *parent = nullptr);
    ~GpsDetailInfoWidget() override;

    // Builds the chart of a recording; a null snapshot empties it.
    void loadRecording(const TelemetrySnapshotPtr &snapshot, const std::vector<HarshEvent> &events);
    int loadedIndex() const { return snapshot ? snapshot->catalogueIndex : -1; }
    TelemetrySnapshotPtr telemetry() const { return snapshot; }
    // The frame on screen, in microseconds from the recording's start.
    void setPosition(qint64 timeUs);
    void setZoomed(bool zoomed);
    bool isZoomed() const { return zoomed; }
    void setSpeedUnitKmh(bool kmh);
    // km/h; 0 for none.
    void setOverspeedLimit(int kmh);

    int lowerBound() const { return 0; }
    int upperBound() const { return upper; }
    double speedAxisTop() const;
    bool overspeedLineShown() const;
    // Pixel column of the cursor within this widget.
    int cursorX() const;
    // The sample the read-out shows; -1 without one.
    int currentSample() const { return sample; }
    // Points the curves hold now (after thinning), X, Y, Z.
    int plottedPoints() const;
    MyQChartView *chartView() const { return view; }
    QtCharts::QChart *chart() const { return chartObject; }

signals:
    // The sample nearest the cursor in time changed.
    void gsensorChanged(int x, int y, int z);
    void gsensorCleared();
    // The user clicked or dragged the chart: play from there (µs from the start).
    void seekRequested(qint64 timeUs);

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    void plot();
    void plotSpeed();
    void rescale();
    void moveCursorTo(qint64 timeUs);
    qint64 timeAt(const QPointF &scenePos) const;
    double spanSeconds() const;

    MyQChartView *view;
    SlideWidget *cursor;
    QtCharts::QChart *chartObject;
    QtCharts::QLineSeries *curves[3];
    QtCharts::QLineSeries *speedLine;
    QtCharts::QAreaSeries *speedArea;
    QtCharts::QLineSeries *overspeed;
    QtCharts::QValueAxis *axisX;
    QtCharts::QValueAxis *axisY;
    QtCharts::QValueAxis *axisSpeed;
    TelemetrySnapshotPtr snapshot;
    std::vector<HarshEvent> harsh;
    int peak = 0;
    int upper = NormalHeadroom;
    bool zoomed = false;
    bool unitKmh = true;
    int limitKmh = 0;
    qint64 positionUs = 0;
    int sample = -1;
    bool dragging = false;
    int plottedWidth = -1;
};
