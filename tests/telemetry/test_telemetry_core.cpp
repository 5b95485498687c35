// The telemetry the viewer draws and exports, without widgets: Web Mercator
// tile maths, the tile server choice, the snapshot of a loaded recording on
// its own time line, harsh-event detection on generated drives, and the
// route exports judged by gpsbabel and against the command line.
#include "HarshEvents.h"
#include "ProcessRun.h"
#include "Reader.h"
#include "RouteExport.h"
#include "TileMath.h"
#include "TileSource.h"
#include "fixture_paths.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <cmath>
#include <limits>

namespace {

const QString Tool = QStringLiteral(ZV_TOOL_PATH);

QJsonObject manifest(const QString &card)
{
    return QJsonDocument::fromJson(readFile(fixtureDir() + "/" + card + ".json")).object();
}

// Loads entry of a generated card into reader for playback; false when it does not.
bool load(Reader &reader, const QString &card, int entry)
{
    const QString root = fixtureDir() + "/" + card;
    if (card.startsWith(QLatin1String("index"))) {
        reader.setMode(1);
        return reader.openIndexFile(root) == 0 && reader.loadBanks(root) > entry &&
               reader.loadBankForPlayback(entry, reader.banks().at(entry), false, false) == 0;
    }
    reader.setMode(2);
    return reader.scanCard(root) > entry && reader.loadFileForPlayback(entry, reader.files().at(entry), false) > 0;
}

GSensorPoint at(qint64 ms, int x, int y = 1000, int z = 2000)
{
    return {ms * 1000, quint16(x), quint16(y), quint16(z)};
}

} // namespace

TEST(TileMath, KnownTilesClampingAndWrapping)
{
    const struct { double lat, lon; int zoom, x, y; } cases[] = {
        {37.4350678, 127.1748886, 18, 223677, 101636},
        {-33.8688, 151.2093, 12, 3768, 2457},
        {0, 0, 0, 0, 0},
        {0, 0, 1, 1, 1},
        {90, 0, 5, 16, 0},          // the pole is clamped to the top row
        {-90, 0, 5, 16, 31},        // and to the bottom one
        {10, 180, 3, 0, 3},         // 180 E is 180 W
        {10, -180, 3, 0, 3},
        {10, 540, 3, 0, 3},         // a longitude beyond the date line wraps
        {10, 179.9999, 3, 7, 3},
    };
    for (const auto &c : cases) {
        const QPoint tile = TileMath::tileFor({c.lat, c.lon}, c.zoom);
        EXPECT_EQ(std::pair(tile.x(), tile.y()), std::pair(c.x, c.y)) << c.lat << "," << c.lon << " z" << c.zoom;
    }
    // Pixels and points are inverse; latitudes are clamped at 85.0511.
    for (const GeoPoint p : {GeoPoint{37.4350678, 127.1748886}, GeoPoint{-33.8688, 151.2093}, GeoPoint{84.9, -179.5}}) {
        const GeoPoint back = TileMath::pointAtWorldPixel(TileMath::worldPixel(p, 18), 18);
        EXPECT_NEAR(back.lat, p.lat, 1e-9);
        EXPECT_NEAR(back.lon, p.lon, 1e-9);
    }
    EXPECT_NEAR(TileMath::pointAtWorldPixel(TileMath::worldPixel({89.9, 0}, 4), 4).lat, 85.0511, 1e-4);
    EXPECT_EQ(TileMath::worldPixel({std::nan(""), 0}, 2), TileMath::worldPixel({0, 0}, 2));
    // A box a few hundred metres wide fits a 350 x 250 view at street level, the whole world only at zoom 0.
    EXPECT_EQ(TileMath::zoomToFit({48.10, 11.51}, {48.11, 11.53}, 350, 250), 14);
    EXPECT_EQ(TileMath::zoomToFit({-80, -179}, {80, 179}, 350, 250), 0);
}

TEST(TileSource, ServerChoiceAndTileAddresses)
{
    const QString unset;
    const struct { QString environment, setting, chosen; bool online; } cases[] = {
        {unset, unset, TileSource::defaultServer(), true},
        {unset, "http://tiles.example:8080/osm", "http://tiles.example:8080/osm", true},
        {unset, "", "", false},                              // an empty setting switches tiles off
        {"http://127.0.0.1:9", "http://tiles.example", "http://127.0.0.1:9", true},
        {"", "http://tiles.example", "", false},             // and so does an empty variable
        {"ftp://tiles.example", unset, "ftp://tiles.example", false},
        {"tiles.example/osm", unset, "tiles.example/osm", false},
    };
    for (const auto &c : cases) {
        const QString chosen = TileSource::chooseServer(c.environment, c.setting);
        EXPECT_EQ(chosen, c.chosen);
        EXPECT_EQ(TileSource(chosen).isOnline(), c.online) << qPrintable(chosen);
    }
    EXPECT_EQ(TileSource("http://127.0.0.1:8080/base/").tileUrl(18, 223677, 101636).toString(),
              "http://127.0.0.1:8080/base/18/223677/101636.png");
    EXPECT_FALSE(TileSource("http://127.0.0.1:8080").tileUrl(19, 0, 0).isValid());
    EXPECT_FALSE(TileSource("").tileUrl(3, 1, 1).isValid());
}

// Both stores: the time line is the recording's length, the samples lie on
// it from its start, every fix is valid, and the fixes are those the
// command line lists.
TEST(TelemetrySnapshot, GeneratedRecordingsOnTheirOwnTimeLine)
{
    for (const char *card : {"index", "record"}) {
        const QJsonObject m = manifest(card)["entries"].toArray()[1].toObject();
        Reader reader;
        ASSERT_TRUE(load(reader, card, 1)) << card;
        const TelemetrySnapshot s = reader.telemetrySnapshot();
        EXPECT_EQ(s.spanUs, qint64(m["duration"].toInt(5)) * 1000000) << card;
        ASSERT_EQ(int(s.gsensor.size()), m["gsensorSamples"].toInt()) << card;
        EXPECT_LT(s.gsensor.front().timeUs, 150000) << card;
        EXPECT_GT(s.gsensor.back().timeUs, s.spanUs - 300000) << card;
        EXPECT_LE(s.gsensor.back().timeUs, s.spanUs) << card;
        ASSERT_EQ(int(s.gps.size()), 5) << card;
        EXPECT_EQ(s.validFixCount(), 5) << card;

        const QList<QByteArray> csv = toolOutput(Tool, {"telemetry", fixtureDir() + "/" + card, "--entry", "1", "--format", "csv"}).split('\n');
        for (int i = 0; i < 5; ++i) {
            const QList<QByteArray> cols = csv[i + 1].split(',');
            EXPECT_EQ(QString::asprintf("%.7f,%.7f,%d", s.gps[i].position.lat, s.gps[i].position.lon, s.gps[i].speedKmh),
                      QString(cols[3] + ',' + cols[4] + ',' + cols[6])) << card << " fix " << i;
            EXPECT_TRUE(s.gps[i].hasCourse && s.gps[i].course > 0 && s.gps[i].course < 360) << card;
            EXPECT_EQ(s.fixAt(s.offsetUs(s.gps[i].timeMs)), i) << card;
        }
        EXPECT_EQ(s.fixAt(-1), -1);
        EXPECT_EQ(s.nearestGSensor(std::numeric_limits<qint64>::max()), int(s.gsensor.size()) - 1);
        EXPECT_EQ(s.nearestGSensor(std::numeric_limits<qint64>::min()), 0);
    }
}

TEST(TelemetrySnapshot, LookupsWithoutSamplesOrWithOne)
{
    TelemetrySnapshot empty;
    EXPECT_EQ(empty.nearestGSensor(0), -1);
    EXPECT_EQ(empty.fixAt(1000000), -1);
    EXPECT_EQ(empty.nearestValidFix(0), -1);
    TelemetrySnapshot one;
    one.gsensor = {at(400, 1000)};
    for (qint64 t : {qint64(-5000000), qint64(0), qint64(400000), qint64(1) << 50})
        EXPECT_EQ(one.nearestGSensor(t), 0) << t;
    // No span in the catalogue and nothing recorded: an empty time line.
    const TelemetrySnapshot built = buildTelemetrySnapshot({}, nullptr, 0, true, 1678772730, 0, 3);
    EXPECT_EQ(std::pair(built.spanUs, built.catalogueIndex), std::pair(qint64(0), 3));
}

TEST(GpsFix, ValidOnlyWithStatusAAndValuesInRange)
{
    const struct { qint32 status; float lat, lon; qint32 speed; float course; bool valid, hasCourse; } cases[] = {
        {'A', 37.4350678f, 127.1748886f, 40, 84.4f, true, true},
        {'V', 37.4f, 127.1f, 40, 84.4f, false, true},
        {'0', 37.4f, 127.1f, 0, 0, false, true},
        {'A', 91.0f, 10.0f, 40, 84.4f, false, true},
        {'A', 10.0f, -180.5f, 40, 84.4f, false, true},
        {'A', std::nanf(""), 10.0f, 40, 84.4f, false, true},
        {'A', 10.0f, 10.0f, -3, 84.4f, false, true},
        {'A', 10.0f, 10.0f, 900, 84.4f, false, true},
        {'A', 10.0f, 10.0f, 40, 400.0f, true, false},
        {'A', 10.0f, 10.0f, 40, std::numeric_limits<float>::infinity(), true, false},
    };
    FrameIndexEntry entry;
    entry.sec = 1678772730;
    entry.usec = 250000;
    entry.catalogueIndex = 4;
    for (const auto &c : cases) {
        GpsSample s;
        s.status = c.status;
        s.lat = c.lat;
        s.lon = c.lon;
        s.speed = c.speed;
        s.course = c.course;
        const GpsFix f = GpsFix::fromSample(s, entry);
        EXPECT_EQ(std::pair(f.valid, f.hasCourse), std::pair(c.valid, c.hasCourse)) << char(c.status) << " " << c.lat << " " << c.speed;
        // Without a time of its own a fix has its packet's.
        EXPECT_EQ(std::tuple(f.sec, f.usec, f.timeMs, f.catalogueIndex),
                  std::tuple(quint32(1678772730), quint32(250000), qint64(1678772730250), 4));
    }
    const struct { int kmh; bool unitKmh; int shown; } speeds[] = {{100, false, 62}, {100, true, 100}, {0, false, 0}, {1609, false, 1000}};
    for (const auto &c : speeds)
        EXPECT_EQ(speedInUnit(c.kmh, c.unitKmh), c.shown) << c.kmh;
}

TEST(HarshEvents, ThresholdsDurationsAndMerging)
{
    // Ten samples a second at rest (x 1000, z 2000), with runs moved away
    // from rest by (dx, dz) milli-g.
    struct Run { int fromMs, toMs, dx, dz; };
    const auto drive = [](std::initializer_list<Run> runs) {
        std::vector<GSensorPoint> s;
        for (int ms = 0; ms < 20000; ms += 100) {
            int x = 1000, z = 2000;
            for (const Run &r : runs) {
                if (ms >= r.fromMs && ms < r.toMs) {
                    x += r.dx;
                    z += r.dz;
                }
            }
            s.push_back(at(ms, x, 1000, z));
        }
        return s;
    };
    using K = HarshEvent::Kind;
    const struct { const char *name; std::vector<GSensorPoint> samples; std::vector<std::pair<K, qint64>> expected; } cases[] = {
        {"calm drive", drive({{5000, 6000, -350, 0}, {8000, 9000, 250, 0}}), {}},
        {"hard stop", drive({{7000, 9000, -800, 0}}), {{K::Braking, 7000}}},
        {"short jolt", drive({{7000, 7200, -800, 0}}), {}},
        {"brake, pause, brake", drive({{7000, 7500, -600, 0}, {7800, 8500, -600, 0}}), {{K::Braking, 7000}}},
        {"two stops", drive({{3000, 4000, -600, 0}, {9000, 10000, -600, 0}}), {{K::Braking, 3000}, {K::Braking, 9000}}},
        {"launch", drive({{2000, 3000, 450, 0}}), {{K::Acceleration, 2000}}},
        {"knock from below", drive({{12000, 12100, 0, 2500}}), {{K::Impact, 12000}}},
        {"no samples", {}, {}},
    };
    for (const auto &c : cases) {
        std::vector<std::pair<K, qint64>> got;
        for (const HarshEvent &e : detectHarshEvents(c.samples, HarshThresholds()))
            got.emplace_back(e.kind, e.startUs / 1000);
        EXPECT_EQ(got, c.expected) << c.name;
    }
    HarshThresholds gentle;
    gentle.brakingMilliG = 300;
    EXPECT_EQ(detectHarshEvents(drive({{5000, 6000, -350, 0}}), gentle).size(), 1u);
}

// The generated cards brake hard half-way through each event recording
// (entry 1 of "index" and "record"), and nowhere else.
TEST(HarshEvents, GeneratedDrivesWithAKnownHardStop)
{
    for (const char *card : {"index", "record"}) {
        for (int entry = 0; entry < 3; ++entry) {
            Reader reader;
            ASSERT_TRUE(load(reader, card, entry)) << card;
            const TelemetrySnapshot s = reader.telemetrySnapshot();
            std::vector<HarshEvent> braking;
            for (const HarshEvent &e : detectHarshEvents(s.gsensor, HarshThresholds()))
                if (e.kind != HarshEvent::Impact)
                    braking.push_back(e);
            if (entry != 1) {
                EXPECT_TRUE(braking.empty()) << card << " entry " << entry;
                continue;
            }
            ASSERT_EQ(braking.size(), 1u) << card;
            EXPECT_EQ(braking[0].kind, HarshEvent::Braking) << card;
            EXPECT_NEAR(braking[0].startUs, 1500000, 150000) << card;
            EXPECT_GE(braking[0].peakMilliG, 700) << card;
        }
    }
}

// "Export route…" and `telemetry --format gpx|kml` write the same bytes;
// gpsbabel reads both back to the fixes.
TEST(RouteExport, SameAsTheCommandLineAndReadByGpsbabel)
{
    QTemporaryDir dir;
    for (const char *card : {"index", "record"}) {
        const QString root = fixtureDir() + "/" + card;
        Reader reader;
        ASSERT_TRUE(load(reader, card, 2));
        const TelemetrySnapshot s = reader.telemetrySnapshot();
        for (const char *format : {"gpx", "kml"}) {
            const QByteArray fromTool = toolOutput(Tool, {"telemetry", root, "--entry", "2", "--format", format});
            const QString name = routeName(root, 2);
            const QByteArray ours = QLatin1String(format) == QLatin1String("gpx") ? routeGpx(s.gps, name) : routeKml(s.gps, name);
            EXPECT_EQ(ours, fromTool) << card << " " << format;
            const QString path = dir.filePath(QStringLiteral("%1.%2").arg(card, format));
            QString error;
            ASSERT_TRUE(writeFileReplacing(path, ours, &error)) << qPrintable(error);
            const QList<QByteArray> rows = toolOutput("gpsbabel", {"-t", "-i", format, "-f", path, "-o", "unicsv", "-F", "-"}).trimmed().split('\n');
            ASSERT_EQ(rows.size(), s.validFixCount() + 1) << card << " " << format;
            for (int i = 0; i < s.validFixCount(); ++i) {
                const QList<QByteArray> cols = rows[i + 1].split(',');
                EXPECT_NEAR(cols[1].toDouble(), s.gps[i].position.lat, 1e-6);
                EXPECT_NEAR(cols[2].toDouble(), s.gps[i].position.lon, 1e-6);
            }
        }
    }
}

TEST(RouteExport, NamesAreSafeXmlAndFailuresLeaveTheFile)
{
    EXPECT_EQ(xmlText(QString::fromUtf8("a\x01<b>&\"c\x1f\tü\xef\xbf\xbf")), QString::fromUtf8("a&lt;b&gt;&amp;&quot;c\tü"));
    const QByteArray gpx = routeGpx({}, QStringLiteral("card\x07 entry 0"));
    EXPECT_TRUE(gpx.contains("<name>card entry 0</name>")) << gpx.constData();

    QTemporaryDir dir;
    const QString path = dir.filePath("route.gpx");
    ASSERT_TRUE(writeFile(path, "earlier"));
    QString error;
    // A folder in the way of the temporary file, then a missing folder.
    ASSERT_TRUE(QDir(dir.path()).mkdir("blocked.gpx"));
    EXPECT_FALSE(writeFileReplacing(dir.filePath("blocked.gpx"), "new", &error));
    EXPECT_FALSE(error.isEmpty());
    EXPECT_FALSE(writeFileReplacing(dir.filePath("missing/route.gpx"), "new", &error));
    EXPECT_EQ(readFile(path), "earlier");
    ASSERT_TRUE(writeFileReplacing(path, "new", &error));
    EXPECT_EQ(readFile(path), "new");
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{"route.gpx"});
}
