#include "TelemetryRecords.h"

#include <QVector>
#include <QtEndian>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

namespace {

constexpr qint64 ItemsStart = 12;
constexpr qint64 ItemHeaderSize = 32;
constexpr qint64 GSensorEntrySize = 20;
constexpr qint64 Type1EntrySize = 20;
constexpr qint64 Type4EntrySize = 19;

// G-sensor rest values: the first sample of a load is shown at these.
constexpr int Mp4RestX = 2000, Mp4RestY = 6000;
constexpr int Mf2RestX = 5000, Mf2RestY = 10000;

quint16 u16(const uchar *p) { return qFromLittleEndian<quint16>(p); }
quint32 u32(const uchar *p) { return qFromLittleEndian<quint32>(p); }
qint32 i32(const uchar *p) { return qFromLittleEndian<qint32>(p); }
quint64 u64(const uchar *p) { return qFromLittleEndian<quint64>(p); }

float f32(const uchar *p)
{
    const quint32 bits = u32(p);
    float value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

double f64(const uchar *p)
{
    const quint64 bits = u64(p);
    double value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

void putF32(uchar *p, float value)
{
    quint32 bits;
    std::memcpy(&bits, &value, sizeof bits);
    qToLittleEndian<quint32>(bits, p);
}

// double to float without the undefined conversion of values beyond float.
float toFloat(double value)
{
    if (!std::isfinite(value))
        return 0.0f;
    const double limit = std::numeric_limits<float>::max();
    if (value > limit)
        return std::numeric_limits<float>::max();
    if (value < -limit)
        return -std::numeric_limits<float>::max();
    return float(value);
}

qint32 truncToInt32(double value)
{
    if (!std::isfinite(value))
        return 0;
    if (value >= 2147483647.0)
        return std::numeric_limits<qint32>::max();
    if (value <= -2147483648.0)
        return std::numeric_limits<qint32>::min();
    return qint32(value);
}

quint64 saturatingAdd(quint64 a, quint64 b)
{
    return a > std::numeric_limits<quint64>::max() - b ? std::numeric_limits<quint64>::max() : a + b;
}

// Type 2: a GPS fix. Fix kinds 3 and 2 keep their values at different
// offsets; a body too short for its kind counts as no fix.
GpsSample readGpsFix(const uchar *body, qint64 length, quint64 timeUs)
{
    GpsSample fix;
    fix.status = '0';
    fix.sec = quint32(std::min<quint64>(timeUs / 1000000, std::numeric_limits<quint32>::max()));
    fix.usec = quint32(timeUs % 1000000);
    if (length < 4)
        return fix;
    const quint32 kind = u32(body);
    qint64 lat = 0, lon = 0, speed = 0, third = 0;
    if (kind == 3) {
        lat = 12; lon = 20; speed = 28; third = 40;
    } else if (kind == 2) {
        lat = 96; lon = 104; speed = 112; third = 124;
    } else {
        return fix;
    }
    if (third + 8 > length)
        return fix;
    fix.status = 'A';
    fix.lat = toFloat(f64(body + lat));
    fix.lon = toFloat(f64(body + lon));
    fix.course = toFloat(f64(body + third));
    fix.speed = truncToInt32(f64(body + speed));
    return fix;
}

// Type 3: count samples of 20 bytes, all within the payload (checked by the caller).
void readGSensor(const uchar *body, qint64 count, quint64 baseTimeUs, TelemetryWalkState &state,
                 QVector<GSensorSample> &out)
{
    out.resize(int(count));
    for (qint64 i = 0; i < count; ++i) {
        const uchar *entry = body + i * GSensorEntrySize;
        const quint64 t = u64(entry);
        const quint16 x = u16(entry + 12), y = u16(entry + 14), z = u16(entry + 16);
        if (!state.haveOrigin) {
            state.haveOrigin = true;
            state.originMs = t;
        }
        // The offsets are fixed by the first sample of the load, even when
        // one of them comes out 0 (a sample exactly at the rest value).
        if (!state.haveOffsets) {
            state.haveOffsets = true;
            const bool mf2 = state.container == TelemetryContainer::Mf2;
            state.xOffset = quint16((mf2 ? Mf2RestX : Mp4RestX) - x);
            state.yOffset = quint16((mf2 ? Mf2RestY : Mp4RestY) - y);
        }
        // A clock running backward gives 0, not a wrapped time decades away.
        const quint64 deltaMs = t >= state.originMs ? t - state.originMs : 0;
        GSensorSample &s = out[int(i)];
        s.sec = quint32(std::min<quint64>(deltaMs / 1000, std::numeric_limits<quint32>::max()));
        s.usec = quint32(deltaMs % 1000 * 1000);
        s.x = quint16(x + state.xOffset);
        s.y = quint16(y + state.yOffset);
        s.z = quint16(z + state.yOffset);
        const quint64 deltaUs = deltaMs > std::numeric_limits<quint64>::max() / 1000
                                    ? std::numeric_limits<quint64>::max()
                                    : deltaMs * 1000;
        state.gpsTimeUs = saturatingAdd(baseTimeUs, deltaUs);
    }
}

} // namespace

GpsSample GpsSample::load(const uchar *data)
{
    GpsSample s;
    s.status = i32(data);
    s.sec = u32(data + 4);
    s.usec = u32(data + 8);
    s.lat = f32(data + 12);
    s.lon = f32(data + 16);
    s.course = f32(data + 20);
    s.speed = i32(data + 24);
    return s;
}

void GpsSample::store(uchar *data) const
{
    qToLittleEndian<qint32>(status, data);
    qToLittleEndian<quint32>(sec, data + 4);
    qToLittleEndian<quint32>(usec, data + 8);
    putF32(data + 12, lat);
    putF32(data + 16, lon);
    putF32(data + 20, course);
    qToLittleEndian<qint32>(speed, data + 24);
}

GSensorSample GSensorSample::load(const uchar *data)
{
    GSensorSample s;
    s.sec = u32(data);
    s.usec = u32(data + 4);
    s.x = u16(data + 8);
    s.y = u16(data + 10);
    s.z = u16(data + 12);
    return s;
}

void GSensorSample::store(uchar *data) const
{
    qToLittleEndian<quint32>(sec, data);
    qToLittleEndian<quint32>(usec, data + 4);
    qToLittleEndian<quint16>(x, data + 8);
    qToLittleEndian<quint16>(y, data + 10);
    qToLittleEndian<quint16>(z, data + 12);
}

double degreesFromDegreesMinutes(double value)
{
    if (!std::isfinite(value) || std::fabs(value) >= 9.0e15)
        return 0.0;
    const double degrees = double(qint64(value) / 100);
    const double minutes = value - degrees * 100.0;
    return degrees + minutes / 60.0;
}

qint32 kmhFromKnots(double knots)
{
    return truncToInt32(knots * 1.852);
}

GpsSample normaliseRecordGps(const GpsSample &raw)
{
    GpsSample out = raw;
    out.lat = toFloat(degreesFromDegreesMinutes(raw.lat));
    out.lon = toFloat(degreesFromDegreesMinutes(raw.lon));
    out.course = toFloat(degreesFromDegreesMinutes(raw.course));
    out.speed = kmhFromKnots(raw.speed);
    return out;
}

int walkTelemetryItems(const uchar *payload, qint64 size, quint64 packetTimeUs, quint64 baseTimeUs,
                       TelemetryWalkState &state, TelemetrySink &sink)
{
    if (!payload || size <= ItemsStart)
        return 0;
    int records = 0;
    QVector<GSensorSample> samples;
    qint64 pos = ItemsStart;
    // Every item advances by at least its 32-byte header, so the walk ends.
    while (pos < size) {
        if (size - pos < ItemHeaderSize)
            break;
        const uchar *header = payload + pos;
        const quint32 type = u32(header);
        const quint32 bodyLength = u32(header + 4);
        const quint32 count = u32(header + 8);
        const qint64 bodyStart = pos + ItemHeaderSize;
        const qint64 room = size - bodyStart;
        qint64 bodySize = 0;
        switch (type) {
        case 1: {
            // Entries of 20 bytes plus the length each keeps at its offset 16.
            qint64 at = 0;
            for (quint32 i = 0; i < count; ++i) {
                if (room - at < Type1EntrySize)
                    return records;
                const qint64 entrySize = Type1EntrySize + qint64(u32(payload + bodyStart + at + 16));
                if (room - at < entrySize)
                    return records;
                at += entrySize;
            }
            bodySize = at;
            break;
        }
        case 2:
            bodySize = bodyLength;
            break;
        case 3:
            bodySize = GSensorEntrySize * qint64(count);
            break;
        case 4:
            bodySize = Type4EntrySize * qint64(count);
            break;
        default:
            break;
        }
        if (bodySize > room)
            break;
        if (type == 2) {
            const GpsSample fix = readGpsFix(payload + bodyStart, bodySize, state.gpsTimeUs);
            const int rc = sink.gpsFix(fix, packetTimeUs);
            if (rc < 0)
                return rc;
            ++records;
        } else if (type == 3 && count > 0) {
            readGSensor(payload + bodyStart, count, baseTimeUs, state, samples);
            const int rc = sink.gsensorGroup(samples.constData(), samples.size(), packetTimeUs);
            if (rc < 0)
                return rc;
            records += samples.size();
        }
        pos = bodyStart + bodySize;
    }
    return records;
}
