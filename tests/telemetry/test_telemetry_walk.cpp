#include "TelemetryRecords.h"

#include <QtEndian>
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <limits>
#include <vector>

namespace {

// Builds a data payload: 12 leading bytes, then items.
class Payload {
public:
    Payload() : bytes(12, 0xEE) {}

    void header(quint32 type, quint32 bodyLength, quint32 count)
    {
        const size_t at = grow(32);
        put32(at, type);
        put32(at + 4, bodyLength);
        put32(at + 8, count);
    }
    void gsensor(const std::vector<std::array<quint64, 4>> &samples)  // t, x, y, z
    {
        header(3, 0, quint32(samples.size()));
        for (const auto &s : samples) {
            const size_t at = grow(20);
            put64(at, s[0]);
            put16(at + 12, quint16(s[1]));
            put16(at + 14, quint16(s[2]));
            put16(at + 16, quint16(s[3]));
        }
    }
    void gps(quint32 kind, double lat, double lon, double speed, double third, quint32 bodyLength = 136)
    {
        header(2, bodyLength, 0);
        const size_t at = grow(bodyLength);
        put32(at, kind);
        const size_t base = kind == 2 ? 96 : 12;
        const size_t thirdAt = kind == 2 ? 124 : 40;
        if (thirdAt + 8 <= bodyLength) {
            putDouble(at + base, lat);
            putDouble(at + base + 8, lon);
            putDouble(at + base + 16, speed);
            putDouble(at + thirdAt, third);
        }
    }
    void raw(size_t n, uchar fill = 0) { bytes.insert(bytes.end(), n, fill); }

    std::vector<uchar> bytes;

private:
    size_t grow(size_t n)
    {
        const size_t at = bytes.size();
        bytes.resize(at + n, 0);
        return at;
    }
    void put16(size_t at, quint16 v) { qToLittleEndian(v, &bytes[at]); }
    void put32(size_t at, quint32 v) { qToLittleEndian(v, &bytes[at]); }
    void put64(size_t at, quint64 v) { qToLittleEndian(v, &bytes[at]); }
    void putDouble(size_t at, double v)
    {
        quint64 bits;
        std::memcpy(&bits, &v, 8);
        put64(at, bits);
    }
};

struct Collector : TelemetrySink {
    struct Group {
        std::vector<GSensorSample> samples;
        quint64 packetTimeUs;
    };
    std::vector<Group> groups;
    std::vector<GpsSample> fixes;
    std::vector<quint64> fixPacketTimes;
    int stopAfter = -1;  // records accepted before refusing

    int gsensorGroup(const GSensorSample *s, int count, quint64 packetTimeUs) override
    {
        if (refuse())
            return -3;
        groups.push_back({std::vector<GSensorSample>(s, s + count), packetTimeUs});
        return 0;
    }
    int gpsFix(const GpsSample &fix, quint64 packetTimeUs) override
    {
        if (refuse())
            return -3;
        fixes.push_back(fix);
        fixPacketTimes.push_back(packetTimeUs);
        return 0;
    }
    bool refuse() { return stopAfter >= 0 && int(groups.size() + fixes.size()) >= stopAfter; }
};

int walk(const Payload &p, TelemetryWalkState &state, Collector &out, quint64 packetUs = 7, quint64 baseUs = 0)
{
    return walkTelemetryItems(p.bytes.data(), qint64(p.bytes.size()), packetUs, baseUs, state, out);
}

TEST(TelemetryRecords, LoadAndStoreAtAnyOffset)
{
    GpsSample g;
    g.status = 'A';
    g.sec = 0x01020304;
    g.usec = 999999;
    g.lat = -48.1173f;
    g.lon = 11.5f;
    g.course = 84.4f;
    g.speed = -7;
    uchar buffer[GpsSample::Size + 1];
    g.store(buffer + 1);
    EXPECT_EQ(buffer[1], 'A');
    EXPECT_EQ(buffer[5], 0x04);  // seconds, low byte first
    const GpsSample back = GpsSample::load(buffer + 1);
    EXPECT_EQ(std::memcmp(&back, &g, sizeof g), 0);

    GSensorSample s;
    s.sec = 3;
    s.usec = 250000;
    s.x = 0xFFFE;
    s.y = 2;
    s.z = 0x1234;
    uchar raw[GSensorSample::Size + 3];
    s.store(raw + 3);
    EXPECT_EQ(raw[3 + 12], 0x34);
    const GSensorSample t = GSensorSample::load(raw + 3);
    EXPECT_EQ(std::memcmp(&t, &s, sizeof s), 0);
}

TEST(TelemetryWalk, Mp4OffsetsTimesAndGpsTime)
{
    Payload p;
    p.gsensor({{{5000, 1990, 6010, 500}}, {{5250, 1995, 6000, 510}}});
    p.gps(3, 4807.038, 1131.0, 22.4, 84.4);
    TelemetryWalkState state(TelemetryContainer::Mp4);
    Collector out;
    const quint64 base = 1700000000ull * 1000000;
    EXPECT_EQ(walk(p, state, out, 123, base), 3);
    ASSERT_EQ(out.groups.size(), 1u);
    const auto &g = out.groups[0].samples;
    ASSERT_EQ(g.size(), 2u);
    EXPECT_EQ(out.groups[0].packetTimeUs, 123u);
    EXPECT_EQ(+g[0].x, 2000);
    EXPECT_EQ(+g[0].y, 6000);
    EXPECT_EQ(+g[0].z, 500 + (6000 - 6010));
    EXPECT_EQ(+g[0].sec, 0u);
    EXPECT_EQ(+g[1].x, 2005);
    EXPECT_EQ(+g[1].y, 5990);
    EXPECT_EQ(+g[1].sec, 0u);
    EXPECT_EQ(+g[1].usec, 250000u);
    ASSERT_EQ(out.fixes.size(), 1u);
    const GpsSample &fix = out.fixes[0];
    EXPECT_EQ(+fix.status, 'A');
    EXPECT_EQ(+fix.sec, 1700000000u);  // base + the last sample's 250 ms
    EXPECT_EQ(+fix.usec, 250000u);
    EXPECT_FLOAT_EQ(fix.lat, 4807.038f);
    EXPECT_EQ(+fix.speed, 22);
    EXPECT_FLOAT_EQ(fix.course, 84.4f);
}

TEST(TelemetryWalk, StateCarriesAcrossPacketsOfOneLoad)
{
    TelemetryWalkState state(TelemetryContainer::Mf2);
    Collector out;
    Payload first;
    first.gsensor({{{1000, 5010, 9990, 7}}});
    Payload second;
    second.gsensor({{{3500, 5000, 10000, 7}}});
    walk(first, state, out);
    walk(second, state, out);
    ASSERT_EQ(out.groups.size(), 2u);
    EXPECT_EQ(+out.groups[0].samples[0].x, 5000);
    EXPECT_EQ(+out.groups[0].samples[0].y, 10000);
    EXPECT_EQ(+out.groups[0].samples[0].z, 17);
    EXPECT_EQ(+out.groups[1].samples[0].x, 4990);  // offsets stay those of the first sample
    EXPECT_EQ(+out.groups[1].samples[0].y, 10010);
    EXPECT_EQ(+out.groups[1].samples[0].sec, 2u);
    EXPECT_EQ(+out.groups[1].samples[0].usec, 500000u);
}

TEST(TelemetryWalk, FirstSampleAtRestFixesZeroOffsets)
{
    // A first sample exactly at the rest value gives offsets of 0; a later
    // sample must not be taken as a new rest position.
    Payload p;
    p.gsensor({{{0, 2000, 6000, 1}}, {{40, 2100, 5900, 1}}});
    TelemetryWalkState state;
    Collector out;
    walk(p, state, out);
    ASSERT_EQ(out.groups.size(), 1u);
    EXPECT_EQ(+out.groups[0].samples[1].x, 2100);
    EXPECT_EQ(+out.groups[0].samples[1].y, 5900);
}

TEST(TelemetryWalk, GpsBeforeAnyGSensorHasTimeZeroAndOtherKindsNoFix)
{
    Payload p;
    p.gps(2, 3723.5, 12200.25, 10.9, 90.0);
    p.gps(7, 1, 2, 3, 4);
    p.gps(3, 1, 2, 3, 4, 44);  // body too short for kind 3's fields
    TelemetryWalkState state;
    Collector out;
    walk(p, state, out, 99, 1700000000ull * 1000000);
    ASSERT_EQ(out.fixes.size(), 3u);
    EXPECT_EQ(+out.fixes[0].status, 'A');
    EXPECT_EQ(+out.fixes[0].sec, 0u);
    EXPECT_EQ(+out.fixes[0].usec, 0u);
    EXPECT_FLOAT_EQ(out.fixes[0].lon, 12200.25f);
    EXPECT_EQ(+out.fixes[0].speed, 10);
    EXPECT_EQ(out.fixPacketTimes[0], 99u);
    for (int i : {1, 2}) {
        EXPECT_EQ(+out.fixes[i].status, '0');
        EXPECT_EQ(+out.fixes[i].lat, 0.0f);
    }
}

TEST(TelemetryWalk, SkippedItemTypesAndBadInput)
{
    struct Case {
        const char *name;
        Payload payload;
        size_t groups, fixes;
    };
    std::vector<Case> cases;
    {
        Payload p;  // types 0, 1, 4 and an unknown type, skipped by their sizes
        p.header(0, 999, 999);
        p.header(1, 0, 2);
        p.raw(16);
        p.raw(4, 0);   // first entry: 20 bytes, extra length 0
        p.raw(16);
        p.bytes.push_back(5);  // second entry: extra length 5
        p.raw(3, 0);
        p.raw(5, 0xAB);
        p.header(4, 0, 3);
        p.raw(57, 0x03);
        p.header(9, 1u << 31, 1u << 31);
        p.gsensor({{{1, 2000, 6000, 0}}});
        cases.push_back({"SkippedTypes", p, 1, 0});
    }
    {
        Payload p;  // G-sensor count beyond the payload ends the walk
        p.gps(3, 1, 2, 3, 4);
        p.header(3, 0, 0xFFFFFFFF);
        p.raw(40);
        cases.push_back({"CountTooLarge", p, 0, 1});
    }
    {
        Payload p;  // GPS body length beyond the payload
        p.header(2, 0xFFFFFFF0, 0);
        p.raw(200);
        cases.push_back({"BodyTooLong", p, 0, 0});
    }
    {
        Payload p;  // type 1 entry whose own length runs past the end
        p.header(1, 0, 1);
        p.raw(16);
        p.raw(4, 0xFF);
        p.gsensor({{{1, 2000, 6000, 0}}});
        cases.push_back({"Type1EntryTooLong", p, 0, 0});
    }
    {
        Payload p;  // item header cut short
        p.gsensor({{{1, 2000, 6000, 0}}});
        p.raw(31, 3);
        cases.push_back({"TruncatedHeader", p, 1, 0});
    }
    {
        Payload p;  // G-sensor item cut inside its last sample
        p.gsensor({{{1, 2000, 6000, 0}}, {{2, 2000, 6000, 0}}});
        p.bytes.resize(p.bytes.size() - 1);
        cases.push_back({"TruncatedSamples", p, 0, 0});
    }
    {
        Payload p;  // shorter than the 12 leading bytes
        p.bytes.resize(5);
        cases.push_back({"TooShort", p, 0, 0});
    }
    for (const Case &c : cases) {
        TelemetryWalkState state;
        Collector out;
        // Copy into an exact-size buffer, so a read past it is caught by ASan.
        std::vector<uchar> exact(c.payload.bytes);
        const int n = walkTelemetryItems(exact.data(), qint64(exact.size()), 0, 0, state, out);
        EXPECT_EQ(out.groups.size(), c.groups) << c.name;
        EXPECT_EQ(out.fixes.size(), c.fixes) << c.name;
        EXPECT_EQ(n, int(out.groups.size() + out.fixes.size())) << c.name;
    }
}

TEST(TelemetryWalk, SinkCanStopTheWalk)
{
    Payload p;
    p.gps(3, 1, 2, 3, 4);
    p.gps(3, 1, 2, 3, 4);
    TelemetryWalkState state;
    Collector out;
    out.stopAfter = 1;
    EXPECT_EQ(walk(p, state, out), -3);
    EXPECT_EQ(out.fixes.size(), 1u);
}

TEST(TelemetryWalk, ClockRunningBackwardGivesZeroNotAWrappedTime)
{
    Payload p;
    p.gsensor({{{10000, 2000, 6000, 0}}, {{9000, 2000, 6000, 0}}});
    TelemetryWalkState state;
    Collector out;
    walk(p, state, out, 0, 5000000);
    ASSERT_EQ(out.groups.size(), 1u);
    EXPECT_EQ(+out.groups[0].samples[1].sec, 0u);
    EXPECT_EQ(state.gpsTimeUs, 5000000u);
}

TEST(GpsNormalisation, DegreesMinutesAndKnots)
{
    struct Case {
        double in, degrees;
    } cases[] = {{3723.5, 37.391667}, {4807.038, 48.1173}, {-4807.038, -48.1173}, {12200.25, 122.004167},
                 {59.9, 0.998333}, {0, 0}};
    for (const Case &c : cases)
        EXPECT_NEAR(degreesFromDegreesMinutes(c.in), c.degrees, 1e-6) << c.in;
    EXPECT_EQ(degreesFromDegreesMinutes(std::numeric_limits<double>::quiet_NaN()), 0.0);
    EXPECT_EQ(degreesFromDegreesMinutes(1e300), 0.0);

    EXPECT_EQ(kmhFromKnots(10), 18);
    EXPECT_EQ(kmhFromKnots(22.4), 41);
    EXPECT_EQ(kmhFromKnots(-10), -18);
    EXPECT_EQ(kmhFromKnots(2e9), std::numeric_limits<qint32>::max());

    GpsSample raw;
    raw.status = 'A';
    raw.sec = 17;
    raw.lat = 3723.5f;
    raw.lon = 12200.25f;
    raw.course = 9030.0f;
    raw.speed = 10;
    const GpsSample n = normaliseRecordGps(raw);
    EXPECT_EQ(+n.status, 'A');
    EXPECT_EQ(+n.sec, 17u);
    EXPECT_NEAR(n.lat, 37.391667, 1e-5);
    EXPECT_NEAR(n.lon, 122.004167, 1e-5);
    EXPECT_NEAR(n.course, 90.5, 1e-5);
    EXPECT_EQ(+n.speed, 18);
}

} // namespace
