// libFuzzer target: a recording's telemetry snapshot built from any frame
// index over any frame buffer, then harsh-event detection and the route
// exports on it. The first byte picks the store and how many 45-byte index
// entries follow; the rest of the input is the frame buffer.
#include "HarshEvents.h"
#include "RouteExport.h"
#include "TelemetryTrack.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    const bool recordFile = data[0] & 1;
    const size_t wanted = data[0] >> 1;
    size_t at = 1;
    std::vector<FrameIndexEntry> index;
    while (index.size() < wanted && at + FrameIndexEntry::Size <= size) {
        index.push_back(FrameIndexEntry::load(data + at));
        at += FrameIndexEntry::Size;
    }
    // An exact copy, so any read past the buffer is caught.
    const std::vector<uint8_t> buffer(data + at, data + size);
    const TelemetrySnapshot s =
        buildTelemetrySnapshot(index, buffer.data(), buffer.size(), recordFile, 1678772730, data[0] % 7, 3);
    if (s.spanUs < 0)
        std::abort();
    if (!std::is_sorted(s.gsensor.begin(), s.gsensor.end(),
                        [](const GSensorPoint &a, const GSensorPoint &b) { return a.timeUs < b.timeUs; }))
        std::abort();
    for (const GpsFix &f : s.gps)
        if (f.valid && !f.position.isValid())
            std::abort();
    for (qint64 t : {qint64(-1), qint64(0), s.spanUs / 2, s.spanUs, qint64(1) << 60}) {
        const int g = s.nearestGSensor(t), f = s.fixAt(t);
        if (g >= int(s.gsensor.size()) || f >= int(s.gps.size()) || (g < 0 && !s.gsensor.empty()))
            std::abort();
    }
    for (const HarshEvent &e : detectHarshEvents(s.gsensor, HarshThresholds()))
        if (e.endUs < e.startUs || e.peakUs < e.startUs || e.peakUs > e.endUs)
            std::abort();
    const QByteArray gpx = routeGpx(s.gps, QStringLiteral("fuzz"));
    const QByteArray kml = routeKml(s.gps, QStringLiteral("fuzz"));
    for (const QByteArray *xml : {&gpx, &kml})
        for (char c : *xml)
            if (uint8_t(c) < 0x20 && c != '\n')
                std::abort();
    return 0;
}
