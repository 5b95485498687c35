#pragma once
// Feeds the telemetry panels from the frames of the leading channel: the
// overlay line, the chart's cursor and read-out, the GPS read-outs and the
// map, each touched only when what it shows changes. A frame of another
// recording brings that recording's snapshot (chart, route, harsh events);
// a fix counts only for the recording it came with. Clicks on the chart or
// the route and the event buttons become seek requests; the route of the
// recording on screen can be exported.
#include "HarshEvents.h"
#include "TelemetryTrack.h"

#include <QObject>

#include <functional>

class DisplayInfoWidget;
class GPSMenuWidget;
class GpsDetailInfoWidget;
class MapButtonWidget;
class MapWidget;

class TelemetryFeed : public QObject
{
    Q_OBJECT

public:
    using SnapshotProvider = std::function<TelemetrySnapshotPtr(int catalogueIndex)>;
    // Events are entered this long before they start.
    static constexpr qint64 EventLeadUs = 2000000;

    TelemetryFeed(GPSMenuWidget *readOut, GpsDetailInfoWidget *chart, DisplayInfoWidget *overlay, MapWidget *map,
                  MapButtonWidget *mapBar, QObject *parent = nullptr);

    void setSnapshotProvider(SnapshotProvider provider) { snapshots = std::move(provider); }
    // The source as the route's name gives it ("<source> entry <N>").
    void setSourceName(const QString &name) { source = name; }
    void setSpeedUnitKmh(bool kmh);
    void setOverspeedLimit(int kmh);
    void setThresholds(const HarshThresholds &thresholds);
    HarshThresholds thresholds() const { return limits; }

    // A frame of the leading channel is on screen; fix is what playback passed.
    void frameShown(const FrameIndexEntry &record, const GpsFix &fix, int volume);
    // A recording was chosen to play: the demonstration ends.
    void playbackStarted();
    // Another catalogue: nothing of the old one stays on screen.
    void clear();

    int recordingIndex() const { return snapshot ? snapshot->catalogueIndex : -1; }
    TelemetrySnapshotPtr telemetry() const { return snapshot; }
    const std::vector<HarshEvent> &events() const { return harsh; }
    // Writes the route of the recording on screen, KML for a ".kml" path and
    // GPX otherwise; false with the reason when nothing could be written.
    bool exportRoute(const QString &path, QString *error) const;

public slots:
    void previousEvent();
    void nextEvent();
    // The file dialog, then exportRoute; failures are shown.
    void exportRouteInteractive();
    void editThresholds();

signals:
    void seekRequested(int catalogueIndex, qint64 targetSecond);
    // The speed read-out: a valid fix's speed in km/h, or none.
    void speedChanged(int kmh);
    void speedCleared();
    void thresholdsChanged(const HarshThresholds &thresholds);

private:
    void load(const TelemetrySnapshotPtr &next);
    void showFix(const GpsFix &fix);
    void seekTo(qint64 timeUs);
    void jumpToEvent(int index);

    GPSMenuWidget *readOut;
    GpsDetailInfoWidget *chart;
    DisplayInfoWidget *overlay;
    MapWidget *map;
    MapButtonWidget *mapBar;
    SnapshotProvider snapshots;
    QString source;
    HarshThresholds limits;
    TelemetrySnapshotPtr snapshot;
    std::vector<HarshEvent> harsh;
    GpsFix shownFix;
    bool fixShown = false;
    qint64 positionUs = 0;
    int lastEvent = -1;
};
