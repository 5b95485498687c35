// $GPRMC sentences written by gpsbabel from a GPX track must parse back to
// the track's positions and speeds.
#include "GprmcParser.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace {

struct TrackPoint {
    int latDegrees;
    double latMinutes;  // three decimals: what gpsbabel's NMEA keeps
    int lonDegrees;
    double lonMinutes;
    bool south, west;
    double kmh;  // x.5, so knots rounded to 0.01 cannot move the truncation
    double lat() const { return (south ? -1 : 1) * (latDegrees + latMinutes / 60.0); }
    double lon() const { return (west ? -1 : 1) * (lonDegrees + lonMinutes / 60.0); }
};

const std::vector<TrackPoint> Track = {
    {48, 7.038, 11, 31.0, false, false, 41.5},
    {33, 51.909, 151, 12.594, true, false, 0.5},
    {40, 42.767, 74, 0.358, false, true, 100.5},
    {0, 0.5, 179, 59.999, true, true, 12.5},
};

bool writeGpx(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly))
        return false;
    QByteArray gpx = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                     "<gpx version=\"1.1\" creator=\"test\" xmlns=\"http://www.topografix.com/GPX/1/1\">\n"
                     "<trk><name>drive</name><trkseg>\n";
    for (size_t i = 0; i < Track.size(); ++i) {
        const TrackPoint &p = Track[i];
        gpx += QString("<trkpt lat=\"%1\" lon=\"%2\"><time>2024-03-01T10:00:%3Z</time><fix>3d</fix>"
                       "<speed>%4</speed></trkpt>\n")
                   .arg(p.lat(), 0, 'f', 8)
                   .arg(p.lon(), 0, 'f', 8)
                   .arg(int(i), 2, 10, QChar('0'))
                   .arg(p.kmh / 3.6, 0, 'f', 6)
                   .toLatin1();
    }
    gpx += "</trkseg></trk></gpx>\n";
    return f.write(gpx) == gpx.size();
}

void expectTrack(const std::vector<GpsSample> &fixes)
{
    ASSERT_EQ(fixes.size(), Track.size());
    for (size_t i = 0; i < Track.size(); ++i) {
        EXPECT_EQ(+fixes[i].status, 'A') << i;
        EXPECT_NEAR(fixes[i].lat, Track[i].lat(), 1e-5) << i;
        EXPECT_NEAR(fixes[i].lon, Track[i].lon(), 1e-5) << i;
        EXPECT_EQ(+fixes[i].speed, int(std::trunc(Track[i].kmh))) << i;
    }
}

class GpsbabelTrack : public testing::Test {
protected:
    void SetUp() override
    {
        const QString gpsbabel = QStandardPaths::findExecutable("gpsbabel");
        if (gpsbabel.isEmpty())
            GTEST_SKIP() << "gpsbabel is not installed";
        ASSERT_TRUE(dir.isValid());
        const QString gpx = dir.filePath("track.gpx");
        nmeaPath = dir.filePath("track.nmea");
        ASSERT_TRUE(writeGpx(gpx));
        QProcess p;
        p.start(gpsbabel, {"-i", "gpx", "-f", gpx, "-o", "nmea", "-F", nmeaPath});
        ASSERT_TRUE(p.waitForFinished(30000));
        ASSERT_EQ(p.exitCode(), 0) << p.readAllStandardError().constData();
    }

    QTemporaryDir dir;
    QString nmeaPath;
};

TEST_F(GpsbabelTrack, ParserReadsBackPositionsAndSpeeds)
{
    QFile f(nmeaPath);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    GprmcParser parser;
    std::vector<GpsSample> fixes;
    while (!f.atEnd()) {
        const QByteArray line = f.readLine();
        const GpsSample s = parser.feed(line.constData(), line.size());
        if (s.status != 0)
            fixes.push_back(s);
    }
    expectTrack(fixes);
}

#ifdef ZV_TOOL_PATH
TEST_F(GpsbabelTrack, ToolPrintsOneJsonLinePerLine)
{
    QFile f(nmeaPath);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    // Other sentences and line noise with NUL bytes first, through a pipe.
    QByteArray nmea;
    while (nmea.size() < 256 * 1024) {
        nmea += "$GPGGA,100000.000,4807.038,N,01131.000,E,0,00,0.0,0.000,M,0.0,M,,*6E\n";
        nmea += QByteArray("noise\0noise\n", 12);
    }
    nmea += f.readAll();
    QProcess p;
    p.start(QStringLiteral(ZV_TOOL_PATH), {"gprmc"});
    ASSERT_TRUE(p.waitForStarted(30000));
    p.write(nmea);
    p.closeWriteChannel();
    ASSERT_TRUE(p.waitForFinished(30000));
    ASSERT_EQ(p.exitCode(), 0) << p.readAllStandardError().constData();
    const QList<QByteArray> lines = p.readAllStandardOutput().split('\n');
    EXPECT_EQ(lines.size() - 1, nmea.count('\n'));
    std::vector<GpsSample> fixes;
    for (const QByteArray &line : lines) {
        if (line.isEmpty())
            continue;
        QJsonParseError error;
        const QJsonObject o = QJsonDocument::fromJson(line, &error).object();
        ASSERT_EQ(error.error, QJsonParseError::NoError) << line.constData();
        if (o.value("status").toInt() == 0)
            continue;
        GpsSample s;
        s.status = o.value("status").toInt();
        s.lat = float(o.value("lat").toDouble());
        s.lon = float(o.value("lon").toDouble());
        s.speed = o.value("speed").toInt();
        s.course = float(o.value("course").toDouble());
        fixes.push_back(s);
    }
    expectTrack(fixes);
}
#endif

} // namespace
