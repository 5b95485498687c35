#pragma once
// The map panel: a tile map on one layer ("Custom Layer") with the vehicle's
// marker (the image point "GPS"), the recording's route coloured by speed
// with its harsh events, and the buttons over it: "+", "-", "test" (the
// demonstration drive), follow the vehicle and fit the route. It follows the
// fix of the frame on screen, and only while it is shown.
#include "GeoPoint.h"
#include "HarshEvents.h"
#include "TelemetryTrack.h"

#include <QTimer>
#include <QVector>
#include <QWidget>

class ImagePoint;
class QLabel;
class QPushButton;
class TileMapControl;

class MapWidget : public QWidget
{
    Q_OBJECT

public:
    static constexpr int DemonstrationPoints = 260;
    static constexpr int DemonstrationStepMs = 1000;
    static constexpr int StartZoom = 18;
    // A route (and the view fitted to it) opens at no closer a level than this.
    static constexpr int RouteZoom = 16;

    explicit MapWidget(QWidget *parent = nullptr);

    TileMapControl *mapControl() const { return map; }
    ImagePoint *marker() const { return gps; }
    // Base URL of the tile server; empty switches online tiles off.
    void setTileServer(const QString &baseUrl);

    // Moves the marker to a fix, or marks the last position "no GPS" when the
    // fix is not valid. While hidden the fix is only remembered.
    void setFix(const GpsFix &fix);
    // Centres the map on the point and moves the marker there.
    void setPosition(const GeoPoint &point);
    // The route of a recording with its harsh events; an empty snapshot clears it.
    void setRoute(const TelemetrySnapshot &snapshot, const std::vector<HarshEvent> &events);

    bool isFollowing() const;
    void setFollowing(bool follow);
    bool demonstrationRunning() const { return demonstration.isActive(); }
    void stopDemonstration();
    // The demonstration drive: DemonstrationPoints positions a second apart.
    static QVector<GeoPoint> demonstrationRoute();
    QString status() const;

public slots:
    // Starts the demonstration, or stops it when it runs.
    void test();
    // One demonstration step.
    void timeUpdate();

signals:
    // A click on the route: play from there (media time in ms).
    void routeClicked(qint64 timeMs);

protected:
    void showEvent(QShowEvent *event) override;

private:
    void applyFix();
    void showStatus();

    TileMapControl *map;
    ImagePoint *gps = nullptr;
    QPushButton *zoomInButton;
    QPushButton *zoomOutButton;
    QPushButton *testButton;
    QPushButton *followButton;
    QPushButton *fitButton;
    QLabel *label;
    QTimer demonstration;
    QVector<GeoPoint> demoRoute;
    int demoIndex = 0;
    GpsFix fix;
    bool fixShown = true;
    bool everHadFix = false;
    bool tilesOnline = false;
};
