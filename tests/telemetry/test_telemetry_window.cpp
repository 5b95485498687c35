// The whole window playing the generated record card with the map shown and
// tiles from a loopback server: the marker walks the recording's route, the
// chart cursor walks the chart, the speed read-out shows what the command
// line lists, a click on the chart seeks there, and "Export route…" writes
// what `telemetry --format gpx` writes; the viewer's settings switch the
// speed to MPH and set the harsh-event thresholds. With ZV_SCREENSHOT set,
// the window is saved there.
#include "ControlMenuWidget.h"
#include "EventMenuWidget.h"
#include "GpsDetailInfoWidget.h"
#include "LoopbackTileServer.h"
#include "MapButtonWidget.h"
#include "MapLayer.h"
#include "MapWidget.h"
#include "MyQChartView.h"
#include "PaneManager.h"
#include "ProcessRun.h"
#include "SettingsTestHome.h"
#include "TalViewerMainDialog.h"
#include "TelemetryFeed.h"
#include "TileMapControl.h"
#include "TimeDisplayWidget.h"
#include "fixture_paths.h"

#include <QDir>
#include <QLabel>
#include <QLCDNumber>
#include <QPushButton>
#include <QSet>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

namespace {

const QString Tool = QStringLiteral(ZV_TOOL_PATH);

struct Seen {
    int index;
    qint64 ms;
    GeoPoint marker;
    bool stale;
    int cursorX;
    int speed;
};

struct CsvFix { double lat, lon; int speed; };

QVector<CsvFix> csvFixes(const QString &card, int entry)
{
    QVector<CsvFix> fixes;
    const QList<QByteArray> lines = toolOutput(Tool, {"telemetry", card, "--entry", QString::number(entry), "--format", "csv"}).split('\n');
    for (int i = 1; i < lines.size() && !lines[i].isEmpty(); ++i) {
        const QList<QByteArray> c = lines[i].split(',');
        fixes.append({c[3].toDouble(), c[4].toDouble(), c[6].toInt()});
    }
    return fixes;
}

} // namespace

TEST(TelemetryWindow, MarkerAndCursorFollowPlaybackAndTheChartSeeks)
{
    SettingsTestHome home;
    LoopbackTileServer server;
    ASSERT_TRUE(server.start());
    qputenv("XDG_CACHE_HOME", home.path().toLocal8Bit());
    qputenv("ZIDAVOVA_TILE_URL", server.baseUrl().toLatin1());
    const QString card = QDir(fixtureDir()).filePath(QStringLiteral("record"));

    TalViewerMainDialog window;
    window.setStartPath(card);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    window.mapBar()->findChild<QPushButton *>("MapButton")->click();
    ASSERT_TRUE(window.isMapShown());

    QVector<Seen> seen;
    auto *speed = window.controlBar()->findChild<QLCDNumber *>("KmNumber");
    QObject::connect(&window, &TalViewerMainDialog::leadingFrameShown, [&](int index, qint64 ms) {
        const ImagePoint *marker = window.map()->marker();
        seen.append({index, ms, marker->coordinate, marker->stale, window.gsensorChart()->cursorX(), speed->intValue()});
    });
    auto *table = window.eventList()->findChild<QTableWidget *>("tableWidget");
    ASSERT_GT(table->rowCount(), 0);
    emit table->cellDoubleClicked(0, 1);
    ASSERT_TRUE(QTest::qWaitFor([&] { return seen.size() > 10 && seen.last().ms - seen.first().ms > 3000; }, 8000));
    const int entry = seen.first().index;
    const QVector<CsvFix> fixes = csvFixes(card, entry);
    ASSERT_EQ(fixes.size(), 5);

    // Along the route: every position the marker took is a fix of the recording.
    QSet<int> fixesVisited;
    QSet<int> speedsShown;
    for (const Seen &s : seen) {
        if (s.index != entry || s.stale)
            continue;
        int match = -1;
        for (int i = 0; i < fixes.size(); ++i)
            if (std::abs(fixes[i].lat - s.marker.lat) < 1e-7 && std::abs(fixes[i].lon - s.marker.lon) < 1e-7)
                match = i;
        EXPECT_GE(match, 0) << s.marker.lat << "," << s.marker.lon;
        fixesVisited.insert(match);
        speedsShown.insert(s.speed);
    }
    EXPECT_GE(fixesVisited.size(), 3);
    // The read-out shows the command line's km/h, converted once.
    QSet<int> listed;
    for (const CsvFix &f : fixes)
        listed.insert(f.speed);
    EXPECT_TRUE(speedsShown.subtract(listed).isEmpty());
    // The cursor walks right as time goes on.
    EXPECT_GT(seen.last().cursorX, seen.first().cursorX + 300);
    for (int i = 1; i < seen.size(); ++i) {
        if (seen[i].index == seen[i - 1].index && seen[i].ms >= seen[i - 1].ms) {
            EXPECT_GE(seen[i].cursorX, seen[i - 1].cursorX);
        }
    }
    // The marker is on screen, on the route drawn.
    EXPECT_EQ(window.map()->mapControl()->route().size(), fixes.size());
    EXPECT_TRUE(window.map()->mapControl()->rect().contains(
        window.map()->mapControl()->screenPosition(window.map()->marker()->coordinate).toPoint()));
    EXPECT_FALSE(server.paths.isEmpty());

    // A click at a fifth of the chart plays from a fifth of the recording.
    const QString screenshot = zvEnvPath("ZV_SCREENSHOT");
    if (!screenshot.isEmpty())
        window.grab().save(screenshot);
    QWidget *viewport = window.gsensorChart()->chartView()->viewport();
    seen.clear();
    QTest::mouseClick(viewport, Qt::LeftButton, {}, QPoint(viewport->width() / 5, viewport->height() / 2));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !seen.isEmpty(); }, 3000));
    const qint64 startMs = window.timeBar()->startTime() * 1000;
    EXPECT_NEAR(double(seen.first().ms - startMs), 1000.0, 1000.0);

    // The route written by the window is the command line's.
    QTemporaryDir out;
    const QString path = out.filePath("route.gpx");
    QString error;
    ASSERT_TRUE(window.telemetryFeed()->exportRoute(path, &error)) << qPrintable(error);
    EXPECT_EQ(readFile(path), toolOutput(Tool, {"telemetry", card, "--entry", QString::number(window.telemetryFeed()->recordingIndex()), "--format", "gpx"}));

    // In full screen the map floats on top; back from it, it is in its place again.
    window.toggleFullScreen();
    EXPECT_TRUE(window.map()->isWindow());
    EXPECT_TRUE(window.map()->isVisible());
    window.toggleFullScreen();
    EXPECT_FALSE(window.map()->isWindow());
    EXPECT_EQ(window.map()->size(), QSize(350, 250));

    // The viewer's settings: miles per hour for the read-out and the chart, other thresholds.
    const double kmhTop = window.gsensorChart()->speedAxisTop();
    ASSERT_TRUE(QDir().mkpath(home.documents() + "/ZidavOva"));
    ASSERT_TRUE(writeFile(home.documents() + "/ZidavOva/config.ini",
                          "[Event]\nDiaplay_KM=false\n[Telemetry]\nHardBrakingMilliG=250\n"));
    window.applyViewerSettings();
    EXPECT_EQ(window.controlBar()->findChild<QLabel *>("kmLabel")->text(), "MPH");
    EXPECT_LT(window.gsensorChart()->speedAxisTop(), kmhTop * 0.7);
    EXPECT_EQ(window.telemetryFeed()->thresholds().brakingMilliG, 250);
    window.close();
    qunsetenv("ZIDAVOVA_TILE_URL");
}
