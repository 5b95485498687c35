#include "TelemetryTrack.h"

#include <QtGlobal>

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

// Seconds beyond which a recording's start or length is not believed
// (about 3000 years): the microsecond arithmetic below stays far from overflow.
constexpr qint64 MaxSeconds = qint64(1) << 36;

qint64 boundedSeconds(qint64 s)
{
    return qBound(-MaxSeconds, s, MaxSeconds);
}

qint64 entryUs(const FrameIndexEntry &e)
{
    return qint64(e.sec) * 1000000 + qint64(e.usec);
}

} // namespace

GpsFix GpsFix::fromSample(const GpsSample &s, const FrameIndexEntry &entry)
{
    GpsFix fix;
    fix.status = s.status;
    fix.position = {double(s.lat), double(s.lon)};
    fix.speedKmh = s.speed;
    const double course = double(s.course);
    fix.hasCourse = std::isfinite(course) && course >= 0.0 && course <= 360.0;
    fix.course = fix.hasCourse ? std::fmod(course, 360.0) : 0.0;
    fix.valid = s.status == 'A' && fix.position.isValid() && s.speed >= 0 && s.speed <= MaxSpeedKmh;
    fix.timeMs = entry.timeMs();
    fix.catalogueIndex = entry.catalogueIndex;
    // A fix read before the recording's clock was known carries no time of
    // its own: it is stamped with its packet's.
    if (s.sec == 0 && s.usec == 0) {
        fix.sec = entry.sec;
        fix.usec = entry.usec;
    } else {
        fix.sec = s.sec;
        fix.usec = s.usec;
    }
    return fix;
}

bool GpsNormaliser::take(const uint8_t *payload, int size, const FrameIndexEntry &entry, GpsFix *out)
{
    if (!payload || size <= 0)
        return false;
    GpsSample sample;
    if (recordFile) {
        if (size < GpsSample::Size)
            return false;
        sample = normaliseRecordGps(GpsSample::load(payload));
    } else {
        sample = parser.feed(reinterpret_cast<const char *>(payload), size);
        if (sample.status == 0)
            return false;
    }
    *out = GpsFix::fromSample(sample, entry);
    return true;
}

int speedInUnit(int kmh, bool kmhUnit)
{
    return kmhUnit ? kmh : int(qint64(kmh) * 1000 / 1609);
}

qint64 TelemetrySnapshot::offsetUs(qint64 mediaMs) const
{
    const qint64 ms = qBound(-MaxSeconds * 1000, mediaMs, MaxSeconds * 1000);
    return ms * 1000 - boundedSeconds(startSec) * 1000000;
}

int TelemetrySnapshot::nearestGSensor(qint64 timeUs) const
{
    if (gsensor.empty())
        return -1;
    const auto after = std::lower_bound(gsensor.begin(), gsensor.end(), timeUs,
                                        [](const GSensorPoint &p, qint64 t) { return p.timeUs < t; });
    if (after == gsensor.end())
        return int(gsensor.size()) - 1;
    if (after == gsensor.begin())
        return 0;
    const auto before = after - 1;
    return int((timeUs - before->timeUs <= after->timeUs - timeUs ? before : after) - gsensor.begin());
}

int TelemetrySnapshot::fixAt(qint64 timeUs) const
{
    const auto after = std::upper_bound(gps.begin(), gps.end(), timeUs, [this](qint64 t, const GpsFix &f) {
        return t < offsetUs(f.timeMs);
    });
    return int(after - gps.begin()) - 1;
}

int TelemetrySnapshot::nearestValidFix(qint64 timeUs) const
{
    int best = -1;
    qint64 bestDistance = std::numeric_limits<qint64>::max();
    for (int i = 0; i < int(gps.size()); ++i) {
        if (!gps[size_t(i)].valid)
            continue;
        const qint64 d = std::llabs(offsetUs(gps[size_t(i)].timeMs) - timeUs);
        if (d < bestDistance) {
            bestDistance = d;
            best = i;
        }
    }
    return best;
}

int TelemetrySnapshot::validFixCount() const
{
    return int(std::count_if(gps.begin(), gps.end(), [](const GpsFix &f) { return f.valid; }));
}

TelemetrySnapshot buildTelemetrySnapshot(const std::vector<FrameIndexEntry> &forward, const uint8_t *buffer,
                                         uint64_t bufferSize, bool recordFile, qint64 startSec, qint64 durationSec,
                                         int catalogueIndex)
{
    TelemetrySnapshot snap;
    snap.catalogueIndex = catalogueIndex;
    snap.startSec = boundedSeconds(startSec);
    const qint64 startUs = snap.startSec * 1000000;
    GpsNormaliser gps(recordFile);
    for (const FrameIndexEntry &e : forward) {
        if (e.marker != FrameIndexEntry::GSensor && e.marker != FrameIndexEntry::Gps)
            continue;
        if (e.size <= 0 || !buffer || uint64_t(e.payloadOffset) + uint64_t(e.size) > bufferSize)
            continue;
        const uint8_t *payload = buffer + e.payloadOffset;
        if (e.marker == FrameIndexEntry::Gps) {
            GpsFix fix;
            if (gps.take(payload, e.size, e, &fix))
                snap.gps.push_back(fix);
            continue;
        }
        // The samples of one packet keep their own spacing from its time.
        const qint64 packetUs = entryUs(e) - startUs;
        const int count = e.size / GSensorSample::Size;
        qint64 firstUs = 0;
        for (int i = 0; i < count; ++i) {
            const GSensorSample s = GSensorSample::load(payload + size_t(i) * GSensorSample::Size);
            const qint64 us = qint64(s.sec) * 1000000 + qint64(s.usec);
            if (i == 0)
                firstUs = us;
            snap.gsensor.push_back({packetUs + std::max<qint64>(0, us - firstUs), s.x, s.y, s.z});
        }
    }
    const auto byTime = [](const GSensorPoint &a, const GSensorPoint &b) { return a.timeUs < b.timeUs; };
    std::stable_sort(snap.gsensor.begin(), snap.gsensor.end(), byTime);
    std::stable_sort(snap.gps.begin(), snap.gps.end(),
                     [](const GpsFix &a, const GpsFix &b) { return a.timeMs < b.timeMs; });

    if (durationSec > 0 && durationSec < MaxSeconds) {
        snap.spanUs = durationSec * 1000000;
    } else {
        // No usable length in the catalogue: the time line covers what was recorded.
        if (!snap.gsensor.empty())
            snap.spanUs = std::max<qint64>(0, snap.gsensor.back().timeUs);
        if (!snap.gps.empty())
            snap.spanUs = std::max(snap.spanUs, snap.offsetUs(snap.gps.back().timeMs));
    }
    return snap;
}
