#pragma once
// The read-out strip under the chart: the G-sensor values of the sample at
// the cursor, latitude, longitude and direction of travel of the fix on
// screen ("—" while there is none), the harsh events with buttons to the
// previous and next one, and plus and minus for the chart's vertical scale.
#include "GeoPoint.h"

#include <QWidget>

namespace Ui {
class GPSMenuWidget;
}

class GPSMenuWidget : public QWidget
{
    Q_OBJECT

public:
    explicit GPSMenuWidget(QWidget *parent = nullptr);
    ~GPSMenuWidget() override;

    // "37.435068° N", "127.174889° E", "084°".
    static QString latitudeText(double lat);
    static QString longitudeText(double lon);
    static QString headingText(double degrees);

    void setGSensor(int x, int y, int z);
    void clearGSensor();
    // A valid fix; hasHeading false shows no direction.
    void setGPS(const GeoPoint &position, double heading, bool hasHeading);
    void clearGPS();
    // How many harsh events the recording has.
    void setEventCount(int count);

    QString text(const char *labelName) const;

public slots:
    void on_plusBtn_clicked();
    void on_minusBtn_clicked();
    void on_prevEventBtn_clicked();
    void on_nextEventBtn_clicked();
    void on_thresholdsBtn_clicked();

signals:
    // true: the curves drawn taller (less headroom above them).
    void chartZoomChanged(bool zoomed);
    void previousEventRequested();
    void nextEventRequested();
    void thresholdsRequested();

private:
    Ui::GPSMenuWidget *ui;
    bool zoomed = false;
};
