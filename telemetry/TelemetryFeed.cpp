#include "TelemetryFeed.h"

#include "DisplayInfoWidget.h"
#include "GPSMenuWidget.h"
#include "GpsDetailInfoWidget.h"
#include "HarshEventDialog.h"
#include "MapButtonWidget.h"
#include "MapWidget.h"
#include "RouteExport.h"

#include <QDateTime>
#include <QDir>
#include <QFileDialog>
#include <QMessageBox>
#include <QStandardPaths>

namespace {

// What the read-outs and the map show of a fix.
bool looksSame(const GpsFix &a, const GpsFix &b)
{
    return a.valid == b.valid && a.position == b.position && a.hasCourse == b.hasCourse && a.course == b.course &&
           a.speedKmh == b.speedKmh;
}

} // namespace

TelemetryFeed::TelemetryFeed(GPSMenuWidget *r, GpsDetailInfoWidget *c, DisplayInfoWidget *o, MapWidget *m,
                             MapButtonWidget *b, QObject *parent)
    : QObject(parent), readOut(r), chart(c), overlay(o), map(m), mapBar(b)
{
    connect(chart, &GpsDetailInfoWidget::gsensorChanged, readOut, &GPSMenuWidget::setGSensor);
    connect(chart, &GpsDetailInfoWidget::gsensorCleared, readOut, &GPSMenuWidget::clearGSensor);
    connect(chart, &GpsDetailInfoWidget::seekRequested, this, &TelemetryFeed::seekTo);
    connect(readOut, &GPSMenuWidget::chartZoomChanged, chart, &GpsDetailInfoWidget::setZoomed);
    connect(readOut, &GPSMenuWidget::previousEventRequested, this, &TelemetryFeed::previousEvent);
    connect(readOut, &GPSMenuWidget::nextEventRequested, this, &TelemetryFeed::nextEvent);
    connect(readOut, &GPSMenuWidget::thresholdsRequested, this, &TelemetryFeed::editThresholds);
    connect(map, &MapWidget::routeClicked, this, [this](qint64 timeMs) {
        if (snapshot)
            seekTo(snapshot->offsetUs(timeMs));
    });
    connect(mapBar, &MapButtonWidget::exportRouteRequested, this, &TelemetryFeed::exportRouteInteractive);
    clear();
}

void TelemetryFeed::setSpeedUnitKmh(bool kmh)
{
    chart->setSpeedUnitKmh(kmh);
}

void TelemetryFeed::setOverspeedLimit(int kmh)
{
    chart->setOverspeedLimit(kmh);
}

void TelemetryFeed::setThresholds(const HarshThresholds &thresholds)
{
    if (limits == thresholds)
        return;
    limits = thresholds;
    if (snapshot)
        load(snapshot);
}

void TelemetryFeed::clear()
{
    load(nullptr);
    positionUs = 0;
    overlay->clear();
}

void TelemetryFeed::playbackStarted()
{
    map->stopDemonstration();
}

void TelemetryFeed::load(const TelemetrySnapshotPtr &next)
{
    snapshot = next;
    harsh = snapshot ? detectHarshEvents(snapshot->gsensor, limits) : std::vector<HarshEvent>();
    lastEvent = -1;
    // The chart shows the first sample's values as it loads.
    readOut->clearGSensor();
    chart->loadRecording(snapshot, harsh);
    map->setRoute(snapshot ? *snapshot : TelemetrySnapshot(), harsh);
    readOut->setEventCount(int(harsh.size()));
    mapBar->setExportEnabled(snapshot && snapshot->validFixCount() > 0);
    // The new recording's fix is unknown until playback passes one.
    fixShown = false;
    shownFix = GpsFix();
    readOut->clearGPS();
    emit speedCleared();
}

void TelemetryFeed::frameShown(const FrameIndexEntry &record, const GpsFix &fix, int volume)
{
    const int index = record.catalogueIndex;
    if (!snapshot || snapshot->catalogueIndex != index) {
        TelemetrySnapshotPtr next = snapshots ? snapshots(index) : nullptr;
        if (!next) {
            // Nothing is known of it: an empty time line of that recording.
            auto empty = std::make_shared<TelemetrySnapshot>();
            empty->catalogueIndex = index;
            next = empty;
        }
        load(next);
    }
    overlay->setInfo(record.sec, int(record.usec), volume);
    positionUs = snapshot->offsetUs(record.timeMs());
    chart->setPosition(positionUs);
    // A fix of another recording (or none since a reposition) is no fix here.
    GpsFix current = fix;
    if (current.catalogueIndex != index)
        current = GpsFix();
    current.catalogueIndex = index;
    if (!fixShown || !looksSame(current, shownFix))
        showFix(current);
}

void TelemetryFeed::showFix(const GpsFix &fix)
{
    fixShown = true;
    shownFix = fix;
    map->setFix(fix);
    if (fix.valid) {
        readOut->setGPS(fix.position, fix.course, fix.hasCourse);
        emit speedChanged(fix.speedKmh);
    } else {
        readOut->clearGPS();
        emit speedCleared();
    }
}

void TelemetryFeed::seekTo(qint64 timeUs)
{
    if (!snapshot)
        return;
    const qint64 t = qBound<qint64>(0, timeUs, std::max<qint64>(0, snapshot->spanUs));
    emit seekRequested(snapshot->catalogueIndex, snapshot->startSec + t / 1000000);
}

void TelemetryFeed::jumpToEvent(int index)
{
    if (index < 0 || index >= int(harsh.size()))
        return;
    lastEvent = index;
    seekTo(std::max<qint64>(0, harsh[size_t(index)].startUs - EventLeadUs));
}

// The event just jumped to counts as the current one while playback is
// still near it, so that "next" moves on even though the seek landed on the
// key frame before it.
void TelemetryFeed::nextEvent()
{
    if (harsh.empty())
        return;
    const bool nearLast = lastEvent >= 0 && positionUs <= harsh[size_t(lastEvent)].endUs &&
                          positionUs >= harsh[size_t(lastEvent)].startUs - 2 * EventLeadUs;
    if (nearLast) {
        jumpToEvent(lastEvent + 1 < int(harsh.size()) ? lastEvent + 1 : lastEvent);
        return;
    }
    for (int i = 0; i < int(harsh.size()); ++i) {
        if (harsh[size_t(i)].startUs > positionUs) {
            jumpToEvent(i);
            return;
        }
    }
}

void TelemetryFeed::previousEvent()
{
    if (harsh.empty())
        return;
    const bool nearLast = lastEvent >= 0 && positionUs <= harsh[size_t(lastEvent)].endUs &&
                          positionUs >= harsh[size_t(lastEvent)].startUs - 2 * EventLeadUs;
    if (nearLast) {
        jumpToEvent(lastEvent > 0 ? lastEvent - 1 : 0);
        return;
    }
    for (int i = int(harsh.size()) - 1; i >= 0; --i) {
        if (harsh[size_t(i)].startUs < positionUs) {
            jumpToEvent(i);
            return;
        }
    }
}

bool TelemetryFeed::exportRoute(const QString &path, QString *error) const
{
    if (!snapshot || snapshot->validFixCount() == 0) {
        *error = tr("The recording on screen has no GPS position to export.");
        return false;
    }
    const QString name = routeName(source, snapshot->catalogueIndex);
    const bool kml = path.endsWith(QLatin1String(".kml"), Qt::CaseInsensitive);
    return writeFileReplacing(path, kml ? routeKml(snapshot->gps, name) : routeGpx(snapshot->gps, name), error);
}

void TelemetryFeed::exportRouteInteractive()
{
    QWidget *parent = mapBar->window();
    if (!snapshot || snapshot->validFixCount() == 0) {
        QMessageBox::information(parent, tr("Export route"), tr("The recording on screen has no GPS position to export."));
        return;
    }
    QString folder = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    if (QDir(folder).exists(QStringLiteral("ZidavOva")))
        folder = QDir(folder).filePath(QStringLiteral("ZidavOva"));
    const QString suggested = QDir(folder).filePath(
        QStringLiteral("route_%1.gpx")
            .arg(QDateTime::fromSecsSinceEpoch(snapshot->startSec).toString(QStringLiteral("yyyyMMdd_HHmmss"))));
    QString filter = tr("GPX 1.1 (*.gpx)");
    const QString path = QFileDialog::getSaveFileName(parent, tr("Export route"), suggested,
                                                      tr("GPX 1.1 (*.gpx);;KML (*.kml)"), &filter);
    if (path.isEmpty())
        return;
    QString target = path;
    if (!target.endsWith(QLatin1String(".gpx"), Qt::CaseInsensitive) &&
        !target.endsWith(QLatin1String(".kml"), Qt::CaseInsensitive))
        target += filter.contains(QLatin1String("kml")) ? QStringLiteral(".kml") : QStringLiteral(".gpx");
    QString error;
    if (!exportRoute(target, &error))
        QMessageBox::warning(parent, tr("Export route"), error + tr("\nNothing was changed."));
}

void TelemetryFeed::editThresholds()
{
    HarshEventDialog dialog(limits, readOut->window());
    if (dialog.exec() != QDialog::Accepted)
        return;
    setThresholds(dialog.thresholds());
    emit thresholdsChanged(limits);
}
