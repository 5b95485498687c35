// The telemetry panels as widgets: the tile map against a loopback tile
// server (exact requests, the disk cache, bad replies, a server that never
// answers, destruction mid-request), the G-sensor chart (bounds, cursor by
// time, thinning, seeking by a click, speed and overspeed), the read-out
// texts, the feed's handling of fixes, and the demonstration drive.
#include "GPSMenuWidget.h"
#include "GpsDetailInfoWidget.h"
#include "DisplayInfoWidget.h"
#include "LoopbackTileServer.h"
#include "MapButtonWidget.h"
#include "MapWidget.h"
#include "MyQChartView.h"
#include "TelemetryFeed.h"
#include "TileMapControl.h"
#include "TileMath.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QMouseEvent>
#include <QNetworkDiskCache>
#include <QSet>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <algorithm>

namespace {

const GeoPoint Here{37.4350678, 127.1748886};
// Where four tiles of zoom 18 meet: a 400 x 250 view shows all four.
const GeoPoint Corner = TileMath::pointAtWorldPixel(QPointF(223678 * 256.0, 101637 * 256.0), 18);

// The tile paths a 400 x 250 view centred on point at zoom shows.
QStringList visibleTilePaths(const GeoPoint &point, int zoom, int width = 400, int height = 250)
{
    const QPointF c = TileMath::worldPixel(point, zoom);
    const qint64 left = qint64(std::floor(c.x() - width / 2.0)), top = qint64(std::floor(c.y() - height / 2.0));
    QStringList paths;
    for (qint64 y = top / 256; y <= (top + height - 1) / 256; ++y)
        for (qint64 x = left / 256; x <= (left + width - 1) / 256; ++x)
            paths << LoopbackTileServer::pathOf(zoom, int(x), int(y));
    paths.sort();
    return paths;
}

std::unique_ptr<TileMapControl> mapOn(const QString &server, const QString &cache, const GeoPoint &centre = Here)
{
    auto map = std::make_unique<TileMapControl>(QSize(400, 250));
    map->tileLoader()->setCacheDirectory(cache);
    map->addLayer(std::make_unique<MapLayer>(QStringLiteral("Custom Layer"), TileSource(server)));
    map->setZoom(18);
    map->setView(centre);
    return map;
}

QColor pixel(QWidget &w, QPoint at)
{
    return w.grab().toImage().pixelColor(at);
}

TelemetrySnapshotPtr snapshotOf(int index, qint64 spanUs, std::vector<GSensorPoint> samples, std::vector<GpsFix> fixes = {})
{
    auto s = std::make_shared<TelemetrySnapshot>();
    s->catalogueIndex = index;
    s->startSec = 1678772730;
    s->spanUs = spanUs;
    s->gsensor = std::move(samples);
    s->gps = std::move(fixes);
    return s;
}

GpsFix fixAt(int index, qint64 offsetMs, GeoPoint where, int kmh, bool valid = true)
{
    GpsFix f;
    f.status = valid ? 'A' : 'V';
    f.valid = valid;
    f.position = where;
    f.speedKmh = kmh;
    f.course = 84;
    f.hasCourse = true;
    f.timeMs = 1678772730000 + offsetMs;
    f.catalogueIndex = index;
    return f;
}

} // namespace

TEST(MapTiles, HiddenAsksNothingShownAsksEachVisibleTileOnceAndRevisitsFromDisk)
{
    QTemporaryDir cache;
    LoopbackTileServer server;
    ASSERT_TRUE(server.start());
    const QStringList expected = visibleTilePaths(Here, 18);
    {
        auto map = mapOn(server.baseUrl(), cache.path());
        QTest::qWait(200);
        EXPECT_TRUE(server.paths.isEmpty());
        map->show();
        ASSERT_TRUE(QTest::qWaitFor([&] { return server.paths.size() >= expected.size() && map->tileLoader()->requestsInFlight() == 0; }, 5000));
        QTest::qWait(100);
        QStringList got = server.paths;
        got.sort();
        EXPECT_EQ(got, expected);
        for (const QByteArray &agent : server.userAgents)
            EXPECT_TRUE(agent.startsWith("ZidavOvaViewer/")) << agent.constData();
        const QPoint tile = TileMath::tileFor(Here, 18);
        EXPECT_EQ(pixel(*map, QPoint(200, 125)), LoopbackTileServer::colourFor(18, tile.x(), tile.y()));
        // Moving back and forth asks only for tiles never seen.
        const int before = server.paths.size();
        map->zoomOut();
        ASSERT_TRUE(QTest::qWaitFor([&] { return server.paths.size() > before && map->tileLoader()->requestsInFlight() == 0; }, 5000));
        map->zoomIn();
        QTest::qWait(300);
        EXPECT_EQ(server.paths.size() - before, visibleTilePaths(Here, 17).size());
    }
    const QString base = server.baseUrl();
    server.close();
    auto again = mapOn(base, cache.path());
    again->show();
    const QPoint tile = TileMath::tileFor(Here, 18);
    EXPECT_TRUE(QTest::qWaitFor([&] { return pixel(*again, QPoint(200, 125)) == LoopbackTileServer::colourFor(18, tile.x(), tile.y()); }, 3000));
}

TEST(MapTiles, BadRepliesAreNotCachedAndRetriedWithGrowingPauses)
{
    QTemporaryDir cache;
    LoopbackTileServer server;
    ASSERT_TRUE(server.start());
    const QStringList paths = visibleTilePaths(Corner, 18);
    ASSERT_EQ(paths.size(), 4);
    const struct { QString path; LoopbackTileServer::Reply reply; int requestsAfterPause; } cases[] = {
        {paths[0], LoopbackTileServer::Reply::NotFound, 1},
        {paths[1], LoopbackTileServer::Reply::ServerError, 2},
        {paths[2], LoopbackTileServer::Reply::Corrupt, 2},
        {paths[3], LoopbackTileServer::Reply::Tile, 1},
    };
    for (const auto &c : cases)
        server.overrides.insert(c.path, c.reply);
    auto map = mapOn(server.baseUrl(), cache.path(), Corner);
    map->show();
    ASSERT_TRUE(QTest::qWaitFor([&] { return server.paths.size() >= paths.size() && map->tileLoader()->requestsInFlight() == 0; }, 5000));
    QNetworkDiskCache probe;
    probe.setCacheDirectory(map->tileLoader()->cacheDirectory());
    for (const auto &c : cases) {
        const bool good = c.reply == LoopbackTileServer::Reply::Tile;
        EXPECT_EQ(probe.metaData(QUrl(server.baseUrl() + c.path)).isValid(), good) << qPrintable(c.path);
    }
    QTest::qWait(int(TileLoader::FirstRetryMs) + 600);
    for (const auto &c : cases)
        EXPECT_EQ(server.paths.count(c.path), c.requestsAfterPause) << qPrintable(c.path);
}

TEST(MapTiles, ServerThatNeverAnswersStallsNothingAndTheMarkerIsDrawn)
{
    QTemporaryDir cache;
    LoopbackTileServer server;
    ASSERT_TRUE(server.start());
    server.defaultReply = LoopbackTileServer::Reply::Silent;
    MapWidget map;
    map.resize(400, 250);
    map.mapControl()->tileLoader()->setCacheDirectory(cache.path());
    map.mapControl()->tileLoader()->setTransferTimeout(5000);
    map.setTileServer(server.baseUrl());
    map.setFix(fixAt(0, 0, Here, 40));
    map.show();
    // Waiting for the server anywhere on the GUI thread would stop a 10 ms
    // timer for the whole run; a busy machine only delays it a little.
    QElapsedTimer clock;
    clock.start();
    qint64 last = 0, worst = 0;
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, [&] {
        worst = qMax(worst, clock.elapsed() - last);
        last = clock.elapsed();
    });
    tick.start(10);
    QTest::qWait(1500);
    tick.stop();
    EXPECT_FALSE(server.paths.isEmpty());
    EXPECT_GT(map.mapControl()->tileLoader()->requestsInFlight(), 0);
    EXPECT_LT(worst, 250);
    EXPECT_GT(last, 1400);
    // The marker's blue disc, beside its white middle.
    const QPointF at = map.mapControl()->screenPosition(map.marker()->coordinate) + QPointF(5, 0);
    EXPECT_EQ(pixel(*map.mapControl(), at.toPoint()), QColor(30, 110, 230));
    EXPECT_EQ(map.status(), QString());
}

TEST(MapTiles, DestroyedWithRequestsInFlight)
{
    QTemporaryDir cache;
    LoopbackTileServer server;
    ASSERT_TRUE(server.start());
    server.defaultReply = LoopbackTileServer::Reply::Silent;
    auto map = mapOn(server.baseUrl(), cache.path());
    map->show();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !server.paths.isEmpty(); }, 3000));
    EXPECT_GT(map->tileLoader()->requestsInFlight(), 0);
    map.reset();
    // The server answers after all; nothing is left to receive it.
    server.defaultReply = LoopbackTileServer::Reply::Tile;
    QTest::qWait(200);
}

TEST(GsensorChart, BoundsFollowThePeakAndPlusMinusOnlyRescale)
{
    GpsDetailInfoWidget chart;
    GPSMenuWidget readOut;
    QObject::connect(&readOut, &GPSMenuWidget::chartZoomChanged, &chart, &GpsDetailInfoWidget::setZoomed);
    QSignalSpy zooms(&readOut, &GPSMenuWidget::chartZoomChanged);
    const struct { std::vector<GSensorPoint> samples; int normal, zoomed; } cases[] = {
        {{{0, 500, 20, 7}, {100000, 30, 40, 50}}, 800, 600},
        {{}, 300, 100},
        {{{0, 65535, 0, 0}}, 65835, 65635},
    };
    for (const auto &c : cases) {
        chart.loadRecording(snapshotOf(1, 1000000, c.samples), {});
        readOut.on_minusBtn_clicked();
        EXPECT_EQ(std::pair(chart.lowerBound(), chart.upperBound()), std::pair(0, c.normal));
        readOut.on_plusBtn_clicked();
        readOut.on_plusBtn_clicked();
        EXPECT_EQ(chart.upperBound(), c.zoomed);
    }
    EXPECT_EQ(zooms.count(), 2 * int(std::size(cases)) - 1);
}

TEST(GsensorChart, CursorAndReadOutGoByTime)
{
    GpsDetailInfoWidget chart;
    chart.resize(895, 80);
    chart.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&chart));
    QSignalSpy readOut(&chart, &GpsDetailInfoWidget::gsensorChanged);
    QSignalSpy cleared(&chart, &GpsDetailInfoWidget::gsensorCleared);
    // 10 s with a sample every 100 ms; x carries its index. The recording's
    // first second has no samples.
    std::vector<GSensorPoint> samples;
    for (int i = 10; i <= 100; ++i)
        samples.push_back({qint64(i) * 100000, quint16(i), 6000, 7000});
    chart.loadRecording(snapshotOf(1, 10000000, samples), {});
    QTest::qWait(50);
    const struct { qint64 timeUs; int cursorX; int sample; } cases[] = {
        {0, 0, 10},
        {-3000000, 0, 10},
        {5040000, 451, 50},
        {5060000, 453, 51},
        {10000000, 894, 100},
        {60000000, 894, 100},
    };
    for (const auto &c : cases) {
        chart.setPosition(c.timeUs);
        EXPECT_NEAR(chart.cursorX(), c.cursorX, 2) << c.timeUs;
        ASSERT_FALSE(readOut.isEmpty());
        EXPECT_EQ(readOut.last().at(0).toInt(), c.sample) << c.timeUs;
    }
    // The read-out changes only with the sample.
    const int emitted = readOut.count();
    chart.setPosition(10000000);
    EXPECT_EQ(readOut.count(), emitted);

    // A click at a quarter of the width seeks there.
    QSignalSpy seeks(&chart, &GpsDetailInfoWidget::seekRequested);
    QTest::mouseClick(chart.chartView()->viewport(), Qt::LeftButton, {}, QPoint(224, 40));
    ASSERT_EQ(seeks.count(), 1);
    EXPECT_NEAR(seeks.first().at(0).toLongLong(), 2500000, 20000);

    // Without samples, or with one, nothing is divided by zero.
    chart.loadRecording(snapshotOf(2, 0, {}), {});
    chart.setPosition(123456);
    EXPECT_EQ(chart.currentSample(), -1);
    EXPECT_FALSE(cleared.isEmpty());
    chart.loadRecording(snapshotOf(3, 0, {{0, 1, 2, 3}}), {});
    for (qint64 t : {qint64(0), qint64(999999999), qint64(-1)}) {
        chart.setPosition(t);
        EXPECT_EQ(chart.currentSample(), 0);
    }
}

TEST(GsensorChart, AnHourIsThinnedPerPixelColumnAndSpikesSurvive)
{
    GpsDetailInfoWidget chart;
    chart.resize(895, 80);
    chart.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&chart));
    std::vector<GSensorPoint> samples;
    for (int i = 0; i < 36000; ++i)
        samples.push_back({qint64(i) * 100000, quint16(i == 20000 ? 3000 : 1000 + i % 7), 1000, 2000});
    chart.loadRecording(snapshotOf(1, 3600000000, samples), {});
    QTest::qWait(50);
    EXPECT_LE(chart.plottedPoints(), 3 * 2 * 895);
    EXPECT_GT(chart.plottedPoints(), 3 * 895);
    EXPECT_EQ(chart.upperBound(), 3300);
}

TEST(GsensorChart, SpeedInTheViewersUnitWithTheOverspeedLine)
{
    GpsDetailInfoWidget chart;
    std::vector<GpsFix> fixes;
    for (int i = 0; i < 10; ++i)
        fixes.push_back(fixAt(1, i * 1000, Here, 40 + i * 10));
    const struct { bool kmh; int limit; double top; bool line; } cases[] = {
        {true, 90, 143.0, true},
        {true, 0, 143.0, false},
        {true, 200, 143.0, false},    // above anything driven: off the scale
        {false, 90, 88.0, true},      // 130 km/h is 80 MPH
    };
    chart.loadRecording(snapshotOf(1, 10000000, {}, fixes), {});
    for (const auto &c : cases) {
        chart.setSpeedUnitKmh(c.kmh);
        chart.setOverspeedLimit(c.limit);
        EXPECT_NEAR(chart.speedAxisTop(), c.top, 0.01) << c.kmh << " " << c.limit;
        EXPECT_EQ(chart.overspeedLineShown(), c.line) << c.kmh << " " << c.limit;
    }
}

TEST(ReadOuts, PositionsHeadingsAndTheOverlayLine)
{
    const struct { double value; const char *lat, *lon; } positions[] = {
        {37.4350678, "37.435068° N", "37.435068° E"},
        {-33.8688, "33.868800° S", "33.868800° W"},
        {0, "0.000000° N", "0.000000° E"},
    };
    for (const auto &p : positions) {
        EXPECT_EQ(GPSMenuWidget::latitudeText(p.value), QString::fromUtf8(p.lat));
        EXPECT_EQ(GPSMenuWidget::longitudeText(p.value), QString::fromUtf8(p.lon));
    }
    const struct { double degrees; const char *text; } headings[] = {{84.4, "084°"}, {359.6, "000°"}, {0, "000°"}, {271.5, "272°"}};
    for (const auto &h : headings)
        EXPECT_EQ(GPSMenuWidget::headingText(h.degrees), QString::fromUtf8(h.text));
    const QString line = DisplayInfoWidget::infoText(1678772730, 5000, 64, 1.5);
    EXPECT_TRUE(line.endsWith(" 005000    Vol : 064    Zoom : 1.5")) << qPrintable(line);
    EXPECT_EQ(line.left(19), QDateTime::fromSecsSinceEpoch(1678772730).toString("yyyy/MM/dd HH:mm:ss"));
}

// The feed shows a fix only for the recording it came with, keeps the last
// position marked "no GPS" when the fix is lost, and loads each recording's
// snapshot once.
TEST(TelemetryFeed, FixesBelongToTheirRecording)
{
    GPSMenuWidget readOut;
    GpsDetailInfoWidget chart;
    DisplayInfoWidget overlay;
    MapWidget map;
    MapButtonWidget bar;
    map.show();
    TelemetryFeed feed(&readOut, &chart, &overlay, &map, &bar);
    QList<int> asked;
    const GeoPoint a{48.1087646, 11.5235395}, b{48.1086082, 11.5236292};
    feed.setSnapshotProvider([&](int index) {
        asked << index;
        return snapshotOf(index, 5000000, {{0, 1, 2, 3}}, {fixAt(index, 0, a, 40), fixAt(index, 1000, b, 44)});
    });
    QSignalSpy speeds(&feed, &TelemetryFeed::speedChanged);
    FrameIndexEntry frame;
    frame.sec = 1678772731;
    frame.catalogueIndex = 2;
    const struct { GpsFix fix; const char *latitude; bool stale; GeoPoint marker; int speeds; } steps[] = {
        {fixAt(1, 0, a, 40), "—", true, a, 0},
        {fixAt(2, 0, a, 40), "48.108765° N", false, a, 1},
        {fixAt(2, 0, a, 40), "48.108765° N", false, a, 1},
        {fixAt(2, 1000, b, 44), "48.108608° N", false, b, 2},
        {fixAt(2, 1000, b, 44, false), "—", true, b, 2},
    };
    for (const auto &s : steps) {
        feed.frameShown(frame, s.fix, 64);
        EXPECT_EQ(readOut.text("latitude"), QString::fromUtf8(s.latitude));
        EXPECT_EQ(map.marker()->stale, s.stale);
        EXPECT_EQ(map.marker()->coordinate, s.marker);
        EXPECT_EQ(speeds.count(), s.speeds);
    }
    EXPECT_EQ(asked, QList<int>{2});
    EXPECT_EQ(readOut.text("gsense_x"), "1");
    EXPECT_TRUE(bar.findChild<QWidget *>("exportRouteBtn")->isEnabled());
    feed.clear();
    EXPECT_EQ(readOut.text("gsense_x"), QString::fromUtf8("—"));
    EXPECT_FALSE(bar.findChild<QWidget *>("exportRouteBtn")->isEnabled());
}

TEST(MapDemonstration, OneToggleOneTimerAndPlaybackEndsIt)
{
    MapWidget map;
    GPSMenuWidget readOut;
    GpsDetailInfoWidget chart;
    DisplayInfoWidget overlay;
    MapButtonWidget bar;
    TelemetryFeed feed(&readOut, &chart, &overlay, &map, &bar);
    const QVector<GeoPoint> route = MapWidget::demonstrationRoute();
    ASSERT_EQ(route.size(), MapWidget::DemonstrationPoints);
    EXPECT_EQ(route.first(), (GeoPoint{25.06334876641631, 121.6330941952765}));
    map.test();
    EXPECT_TRUE(map.demonstrationRunning());
    EXPECT_EQ(map.marker()->coordinate, route[0]);
    for (int i = 1; i < MapWidget::DemonstrationPoints; ++i)
        map.timeUpdate();
    EXPECT_EQ(map.marker()->coordinate, route.last());
    map.timeUpdate();
    EXPECT_EQ(map.marker()->coordinate, route.first());
    map.test();
    EXPECT_FALSE(map.demonstrationRunning());
    map.test();
    feed.playbackStarted();
    EXPECT_FALSE(map.demonstrationRunning());
}

// A click on the route plays from the route point under it; a drag moves
// the view and ends following without playing anything.
TEST(MapRoute, ClickSeeksDragPans)
{
    MapWidget map;
    map.resize(400, 250);
    map.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&map));
    std::vector<GpsFix> fixes;
    for (int i = 0; i < 5; ++i)
        fixes.push_back(fixAt(1, i * 1000, {48.1087 - i * 0.0002, 11.5235}, 40 + i * 5));
    map.setRoute(*snapshotOf(1, 5000000, {}, fixes), {});
    TileMapControl *control = map.mapControl();
    QSignalSpy clicks(&map, &MapWidget::routeClicked);
    QTest::mouseClick(control, Qt::LeftButton, {}, control->screenPosition(fixes[3].position).toPoint() + QPoint(3, 0));
    ASSERT_EQ(clicks.count(), 1);
    EXPECT_EQ(clicks.first().at(0).toLongLong(), fixes[3].timeMs);
    // Far from the route: nothing.
    QTest::mouseClick(control, Qt::LeftButton, {}, control->screenPosition(fixes[3].position).toPoint() + QPoint(60, 0));
    EXPECT_EQ(clicks.count(), 1);

    ASSERT_TRUE(map.isFollowing());
    const GeoPoint before = control->view();
    QTest::mousePress(control, Qt::LeftButton, {}, QPoint(200, 125));
    // QTest's moves carry no held button.
    QMouseEvent move(QEvent::MouseMove, QPointF(260, 150), Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(control, &move);
    QTest::mouseRelease(control, Qt::LeftButton, {}, QPoint(260, 150));
    EXPECT_EQ(clicks.count(), 1);
    EXPECT_FALSE(map.isFollowing());
    EXPECT_NE(control->view(), before);
}

// Next and previous go from event to event even though a seek lands on the
// key frame before the event.
TEST(TelemetryFeed, NextAndPreviousHarshEvent)
{
    GPSMenuWidget readOut;
    GpsDetailInfoWidget chart;
    DisplayInfoWidget overlay;
    MapWidget map;
    MapButtonWidget bar;
    TelemetryFeed feed(&readOut, &chart, &overlay, &map, &bar);
    // Hard stops at 5 s and 12 s of a 20 s recording.
    std::vector<GSensorPoint> samples;
    for (int ms = 0; ms < 20000; ms += 100) {
        const bool braking = (ms >= 5000 && ms < 6000) || (ms >= 12000 && ms < 13000);
        samples.push_back({qint64(ms) * 1000, quint16(braking ? 300 : 1000), 1000, 2000});
    }
    feed.setSnapshotProvider([&](int index) { return snapshotOf(index, 20000000, samples); });
    QSignalSpy seeks(&feed, &TelemetryFeed::seekRequested);
    FrameIndexEntry frame;
    frame.catalogueIndex = 4;
    const auto showAt = [&](qint64 ms) {
        frame.sec = quint32(1678772730 + ms / 1000);
        frame.usec = quint32(ms % 1000 * 1000);
        feed.frameShown(frame, GpsFix(), 64);
    };
    ASSERT_EQ(feed.events().size(), 0u);
    showAt(1000);
    ASSERT_EQ(feed.events().size(), 2u);
    EXPECT_EQ(readOut.text("eventLabel"), "2 harsh events");
    const struct { bool next; qint64 landAtMs; qint64 expectSecond; } steps[] = {
        {true, 1000, 3},     // first event, entered 2 s early
        {true, 2000, 10},    // the seek landed a key frame early: still the next one
        {false, 9000, 3},
        {false, 4000, 3},    // at the first: its start again
        {true, 15000, -1},   // past the last: nothing
        {false, 15000, 10},
    };
    for (const auto &s : steps) {
        seeks.clear();
        showAt(s.landAtMs);
        s.next ? feed.nextEvent() : feed.previousEvent();
        if (s.expectSecond < 0) {
            EXPECT_TRUE(seeks.isEmpty()) << s.landAtMs;
            continue;
        }
        ASSERT_EQ(seeks.count(), 1) << s.landAtMs;
        EXPECT_EQ(seeks.first().at(0).toInt(), 4);
        EXPECT_EQ(seeks.first().at(1).toLongLong(), 1678772730 + s.expectSecond) << s.landAtMs;
    }
}
