#pragma once
// The telemetry of one recording as the viewer shows and exports it. Every
// GPS packet is normalised in one place (GpsNormaliser): NMEA text parsed,
// binary items converted from degrees-and-minutes and knots, positions kept
// in double precision, and a verdict on whether the fix may be shown. A
// TelemetrySnapshot holds a loaded recording's fixes and G-sensor samples
// on the recording's own time line; it is built once per load under the
// Reader's lock and then shared read-only by the chart, the map, the route
// exports and the command line.
#include "FrameIndex.h"
#include "GeoPoint.h"
#include "GprmcParser.h"

#include <memory>
#include <vector>

struct GpsFix {
    static constexpr int MaxSpeedKmh = 600;

    qint32 status = 0;      // as the sample carries it: 'A' for a fix
    bool valid = false;     // status 'A', position in range, speed within 0..MaxSpeedKmh
    GeoPoint position;
    double course = 0;      // degrees clockwise from north, in [0, 360) when hasCourse
    bool hasCourse = false;
    qint32 speedKmh = 0;
    quint32 sec = 0;        // the fix's own UTC time
    quint32 usec = 0;
    qint64 timeMs = 0;      // media time of its packet: when playback reaches it
    int catalogueIndex = -1;

    // A sample already in decimal degrees and km/h, from the packet of entry.
    static GpsFix fromSample(const GpsSample &normalised, const FrameIndexEntry &entry);
};

// One per consumer (the read thread, a snapshot), made anew for each
// recording: the NMEA parser keeps text between packets.
class GpsNormaliser {
public:
    explicit GpsNormaliser(bool recordFile = false) : recordFile(recordFile) {}
    // The fix of one GPS packet; false when it gave none (an NMEA piece
    // without a complete sentence, an item shorter than a sample).
    bool take(const uint8_t *payload, int size, const FrameIndexEntry &entry, GpsFix *out);

private:
    bool recordFile;
    GprmcParser parser;
};

// A speed for display in the viewer's unit: km/h as it is, or miles per
// hour (km/h x 1000 / 1609, truncated).
int speedInUnit(int kmh, bool kmhUnit);

struct GSensorPoint {
    qint64 timeUs = 0;      // from the recording's start
    quint16 x = 0, y = 0, z = 0;
};

struct TelemetrySnapshot {
    int catalogueIndex = -1;
    qint64 startSec = 0;    // the recording's start, seconds since 1970
    qint64 spanUs = 0;      // its length: the time line is [0, spanUs]
    std::vector<GSensorPoint> gsensor;  // ordered by time
    std::vector<GpsFix> gps;            // ordered by time, fixes without a position included

    // Microseconds from the recording's start of a media time (ms since 1970).
    qint64 offsetUs(qint64 mediaMs) const;
    // The G-sensor sample nearest in time; -1 without samples.
    int nearestGSensor(qint64 timeUs) const;
    // The last fix at or before timeUs; -1 when none.
    int fixAt(qint64 timeUs) const;
    // The valid fix nearest in time; -1 when there is none.
    int nearestValidFix(qint64 timeUs) const;
    int validFixCount() const;
};
using TelemetrySnapshotPtr = std::shared_ptr<const TelemetrySnapshot>;

// From a loaded recording's forward index and frame buffer, its start and
// its length in the catalogue (0 when unknown: then the time line covers
// what was recorded). G-sensor samples are placed at their packet's time
// plus their spacing within the packet; payloads are read only inside
// [buffer, buffer + bufferSize).
TelemetrySnapshot buildTelemetrySnapshot(const std::vector<FrameIndexEntry> &forward, const uint8_t *buffer,
                                         uint64_t bufferSize, bool recordFile, qint64 startSec, qint64 durationSec,
                                         int catalogueIndex);
