// $GPRMC sentences written by gpsbabel from a GPX track must parse back to
// the track's positions and speeds, in the parser and through the tool.
#include "GprmcParser.h"
#include "ProcessRun.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QStandardPaths>

#include <cmath>
#include <vector>

namespace {

// Minutes with three decimals (what gpsbabel's NMEA keeps); speeds of x.5
// km/h, so knots rounded to 0.01 cannot move the truncation.
const struct { double lat, lon, kmh; } Track[] = {
    {48 + 7.038 / 60, 11 + 31.0 / 60, 41.5},
    {-(33 + 51.909 / 60), 151 + 12.594 / 60, 0.5},
    {40 + 42.767 / 60, -(74 + 0.358 / 60), 100.5},
    {-(0 + 0.5 / 60), -(179 + 59.999 / 60), 12.5},
};

void expectTrack(const std::vector<GpsSample> &fixes)
{
    ASSERT_EQ(fixes.size(), std::size(Track));
    for (size_t i = 0; i < fixes.size(); ++i) {
        EXPECT_EQ(+fixes[i].status, 'A') << i;
        EXPECT_NEAR(fixes[i].lat, Track[i].lat, 1e-5) << i;
        EXPECT_NEAR(fixes[i].lon, Track[i].lon, 1e-5) << i;
        EXPECT_EQ(+fixes[i].speed, int(std::trunc(Track[i].kmh))) << i;
    }
}

TEST(Gpsbabel, TrackReadsBackThroughParserAndTool)
{
    if (QStandardPaths::findExecutable("gpsbabel").isEmpty())
        GTEST_SKIP() << "gpsbabel is not installed";
    QByteArray gpx = "<?xml version=\"1.0\"?>\n<gpx version=\"1.1\" creator=\"test\" xmlns=\"http://www.topografix.com/GPX/1/1\">"
                     "<trk><trkseg>\n";
    for (size_t i = 0; i < std::size(Track); ++i)
        gpx += QString("<trkpt lat=\"%1\" lon=\"%2\"><time>2024-03-01T10:00:%3Z</time><fix>3d</fix><speed>%4</speed></trkpt>\n")
                   .arg(Track[i].lat, 0, 'f', 8).arg(Track[i].lon, 0, 'f', 8).arg(int(i), 2, 10, QChar('0'))
                   .arg(Track[i].kmh / 3.6, 0, 'f', 6).toLatin1();
    const QByteArray nmea = toolOutput("gpsbabel", {"-i", "gpx", "-f", "-", "-o", "nmea", "-F", "-"}, gpx + "</trkseg></trk></gpx>\n");

    GprmcParser parser;
    std::vector<GpsSample> fixes;
    for (const QByteArray &line : nmea.split('\n'))
        if (const GpsSample s = parser.feed((line + '\n').constData(), line.size() + 1); s.status != 0)
            fixes.push_back(s);
    expectTrack(fixes);

    // Other sentences and line noise with NUL bytes first, through a pipe:
    // one JSON line per input line.
    QByteArray input;
    while (input.size() < 256 * 1024)
        input += "$GPGGA,100000.000,4807.038,N,01131.000,E,0,00,0.0,0.000,M,0.0,M,,*6E\n" + QByteArray("noise\0noise\n", 12);
    input += nmea;
    const QList<QByteArray> lines = toolOutput(ZV_TOOL_PATH, {"gprmc"}, input).split('\n');
    EXPECT_EQ(lines.size() - 1, input.count('\n'));
    fixes.clear();
    for (const QByteArray &line : lines) {
        QJsonParseError error;
        const QJsonObject o = QJsonDocument::fromJson(line, &error).object();
        ASSERT_TRUE(line.isEmpty() || error.error == QJsonParseError::NoError) << line.constData();
        if (o.value("status").toInt() != 0)
            fixes.push_back({o.value("status").toInt(), 0, 0, float(o.value("lat").toDouble()), float(o.value("lon").toDouble()),
                             float(o.value("course").toDouble()), o.value("speed").toInt()});
    }
    expectTrack(fixes);
}

} // namespace
