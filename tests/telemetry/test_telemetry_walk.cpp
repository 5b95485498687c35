#include "TelemetryRecords.h"

#include <QStringList>
#include <QtEndian>
#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <vector>

namespace {

template <class T> QByteArray le(T v) { QByteArray b(sizeof v, '\0'); qToLittleEndian(v, b.data()); return b; }
// A 32-byte item header and its body.
QByteArray item(quint32 type, quint32 length, quint32 count, const QByteArray &body = {})
{
    return le(type) + le(length) + le(count) + QByteArray(20, '\0') + body;
}
struct G { quint64 ms; quint16 x, y, z; };
QByteArray gsensor(std::initializer_list<G> samples)
{
    QByteArray body;
    for (const G &s : samples)
        body += le(s.ms) + QByteArray(4, '\0') + le(s.x) + le(s.y) + le(s.z) + QByteArray(2, '\0');
    return item(3, 0, quint32(samples.size()), body);
}
// Fix kinds 3 and 2 keep latitude, longitude and speed at 12 and 96, the third value at 40 and 124.
QByteArray gps(quint32 kind, double lat, double lon, double speed, double third, int length = 136)
{
    QByteArray body = le(kind) + QByteArray(kind == 2 ? 92 : 8, '\0') + le(lat) + le(lon) + le(speed);
    body = body.leftJustified(kind == 2 ? 124 : 40, '\0') + le(third);
    return item(2, quint32(length), 0, body.leftJustified(length, '\0', true));
}
QByteArray payload(const QByteArray &items) { return QByteArray(12, '\xEE') + items; }

// What the sink receives, as text: "G<packet time>" and each sample's
// "sec.usec x,y,z"; "F<packet time>" and the fix.
struct Collector : TelemetrySink {
    QStringList got;
    int stopAfter = -1;
    int gsensorGroup(const GSensorSample *s, int count, quint64 packetTimeUs) override
    {
        QString line = QString("G%1").arg(packetTimeUs);
        for (int i = 0; i < count; ++i)
            line += QString(" %1.%2 %3,%4,%5").arg(s[i].sec).arg(s[i].usec, 6, 10, QChar('0')).arg(s[i].x).arg(s[i].y).arg(s[i].z);
        return add(line);
    }
    int gpsFix(const GpsSample &f, quint64 packetTimeUs) override
    {
        return add(QString("F%1 %2 %3.%4 %5 %6 %7 %8").arg(packetTimeUs).arg(QChar(f.status)).arg(f.sec).arg(f.usec, 6, 10, QChar('0'))
                       .arg(f.lat, 0, 'f', 3).arg(f.lon, 0, 'f', 3).arg(f.speed).arg(f.course, 0, 'f', 3));
    }
    int add(const QString &line)
    {
        if (stopAfter >= 0 && got.size() >= stopAfter)
            return -3;
        got << line;
        return 0;
    }
};

const quint64 Base = 1700000000ull * 1000000;
const QString Fix1234 = "F100 A 0.000000 1.000 2.000 3 4.000", NoFix = "F100 0 0.000000 0.000 0.000 0 0.000";

TEST(TelemetryWalk, PacketsOfOneLoad)
{
    using C = TelemetryContainer;
    const QByteArray sample = gsensor({{1, 2000, 6000, 0}});
    const struct {
        const char *name;
        std::vector<QByteArray> packets; // walked in order, at packet times 100, 101, ...
        QStringList expected;
        int result; // of the last packet
        TelemetryContainer container = C::Mp4;
        quint64 baseUs = 0;
        int stopAfter = -1;
    } cases[] = {
        // Offsets bring the first sample to rest; the fix takes the last sample's time.
        {"Mp4", {payload(gsensor({{5000, 1990, 6010, 500}, {5250, 1995, 6000, 510}}) + gps(3, 4807.038, 1131.0, 22.4, 84.4))},
         {"G100 0.000000 2000,6000,490 0.250000 2005,5990,500", "F100 A 1700000000.250000 4807.038 1131.000 22 84.400"}, 3, C::Mp4, Base},
        {"Mf2KeepsOriginAndOffsets", {payload(gsensor({{1000, 5010, 9990, 7}})), payload(gsensor({{3500, 5000, 10000, 7}}))},
         {"G100 0.000000 5000,10000,17", "G101 2.500000 4990,10010,17"}, 1, C::Mf2},
        {"FirstSampleAtRestKeepsZeroOffsets", {payload(gsensor({{0, 2000, 6000, 1}, {40, 2100, 5900, 1}}))},
         {"G100 0.000000 2000,6000,1 0.040000 2100,5900,1"}, 2},
        // Before any G-sensor item a fix has time 0; other kinds and short bodies give no fix.
        {"GpsKinds", {payload(gps(2, 3723.5, 12200.25, 10.9, 90.0) + gps(7, 1, 2, 3, 4) + gps(3, 1, 2, 3, 4, 44))},
         {"F100 A 0.000000 3723.500 12200.250 10 90.000", NoFix, NoFix}, 3, C::Mp4, Base},
        {"ClockBackwardGivesZero", {payload(gsensor({{10000, 2000, 6000, 0}, {9000, 2000, 6000, 0}}) + gps(3, 1, 2, 3, 4))},
         {"G100 0.000000 2000,6000,0 0.000000 2000,6000,0", "F100 A 5.000000 1.000 2.000 3 4.000"}, 3, C::Mp4, 5000000},
        {"SinkStopsTheWalk", {payload(gps(3, 1, 2, 3, 4) + gps(3, 1, 2, 3, 4))}, {Fix1234}, -3, C::Mp4, 0, 1},
        // Types 0, 1 (entries of 20 bytes plus their own length), 4 and unknown ones are skipped by their sizes.
        {"SkippedTypes", {payload(item(0, 999, 999) + item(1, 0, 2, QByteArray(16, '\0') + le(0) + QByteArray(16, '\0') + le(5) +
                                  QByteArray(5, '\xAB')) + item(4, 0, 3, QByteArray(57, 3)) + item(9, 1u << 31, 1u << 31) + sample)},
         {"G100 0.000000 2000,6000,0"}, 1},
        // Damage ends the walk with what came before it.
        {"CountTooLarge", {payload(gps(3, 1, 2, 3, 4) + item(3, 0, 0xFFFFFFFF, QByteArray(40, '\0')))}, {Fix1234}, 1},
        {"BodyTooLong", {payload(item(2, 0xFFFFFFF0, 0, QByteArray(200, '\0')))}, {}, 0},
        {"Type1EntryTooLong", {payload(item(1, 0, 1, QByteArray(16, '\0') + QByteArray(4, '\xFF')) + sample)}, {}, 0},
        {"TruncatedHeader", {payload(sample + QByteArray(31, 3))}, {"G100 0.000000 2000,6000,0"}, 1},
        {"TruncatedSamples", {payload(gsensor({{1, 2000, 6000, 0}, {2, 2000, 6000, 0}})).chopped(1)}, {}, 0},
        {"TooShort", {QByteArray(5, '\0')}, {}, 0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        TelemetryWalkState state(c.container);
        Collector out;
        out.stopAfter = c.stopAfter;
        int result = 0;
        for (size_t i = 0; i < c.packets.size(); ++i) {
            // An exact-size copy, so a read past the payload is caught by ASan.
            const std::vector<uchar> exact(c.packets[i].begin(), c.packets[i].end());
            result = walkTelemetryItems(exact.data(), qint64(exact.size()), 100 + i, c.baseUs, state, out);
        }
        EXPECT_EQ(result, c.result);
        EXPECT_EQ(out.got, c.expected);
    }
}

// Both records load and store every field at its little-endian offset, from any address.
TEST(TelemetryRecords, LoadAndStoreAtAnyOffset)
{
    uchar raw[GpsSample::Size + 1], back[GpsSample::Size];
    for (int i = 0; i <= GpsSample::Size; ++i)
        raw[i] = uchar(i);
    const GpsSample g = GpsSample::load(raw + 1);
    const GSensorSample s = GSensorSample::load(raw + 1);
    EXPECT_EQ(std::memcmp(&g, raw + 1, GpsSample::Size), 0);
    EXPECT_EQ(std::memcmp(&s, raw + 1, GSensorSample::Size), 0);
    g.store(back);
    EXPECT_EQ(std::memcmp(back, raw + 1, GpsSample::Size), 0);
    s.store(back);
    EXPECT_EQ(std::memcmp(back, raw + 1, GSensorSample::Size), 0);
}

TEST(GpsNormalisation, DegreesMinutesAndKnots)
{
    const struct {
        double in, degrees;
    } cases[] = {{3723.5, 37.391667}, {4807.038, 48.1173}, {-4807.038, -48.1173}, {12200.25, 122.004167}, {59.9, 0.998333},
                 {0, 0}, {std::numeric_limits<double>::quiet_NaN(), 0}, {1e300, 0}};
    for (const auto &c : cases)
        EXPECT_NEAR(degreesFromDegreesMinutes(c.in), c.degrees, 1e-6) << c.in;
    for (const auto &k : {std::make_pair(10.0, 18), {22.4, 41}, {-10.0, -18}, {2e9, std::numeric_limits<qint32>::max()}})
        EXPECT_EQ(kmhFromKnots(k.first), k.second) << k.first;

    // Status and time pass through; position, course and speed are converted.
    const GpsSample n = normaliseRecordGps({'A', 17, 0, 3723.5f, 12200.25f, 9030.0f, 10});
    EXPECT_EQ(std::vector<double>({double(n.status), double(n.sec), double(n.speed)}), std::vector<double>({'A', 17, 18}));
    EXPECT_NEAR(n.lat, 37.391667, 1e-5);
    EXPECT_NEAR(n.lon, 122.004167, 1e-5);
    EXPECT_NEAR(n.course, 90.5, 1e-5);
}

} // namespace
