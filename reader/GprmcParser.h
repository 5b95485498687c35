#pragma once
#include "TelemetryRecords.h"

#include <QByteArray>

// Turns NMEA text into a GpsSample. The text may arrive in pieces: what
// follows the last line feed waits in a carry-over buffer for the next call.
// Keep one parser per consumer (playback, export, ...), never a shared one.
//
// Only "$GPRMC" lines are read. Within one call the sample starts at zero and
// each accepted sentence updates it field by field (an empty field keeps the
// value before it); a sentence with status 'A' ends the call, and the lines
// after it stay buffered for the next call. The time fields of the sample
// are left 0.
//
// A sentence is rejected as a whole (nothing of it is kept) when its time is
// not six digits with an optional fraction of up to six digits, its date is
// not six digits, a position is not ddmm[.mmmm] with minutes below 60 or
// lies beyond 90 (latitude) or 180 (longitude) degrees, or the speed or
// course is not a decimal number. A position without a decimal point is
// read as whole minutes. A trailing carriage return is ignored.
class GprmcParser {
public:
    static constexpr qint64 Capacity = 1048576;

    // Appends count bytes and parses the complete lines. When the buffered
    // text would reach Capacity, the oldest lines are dropped; a single line
    // longer than that is dropped whole, up to its line feed.
    GpsSample feed(const char *bytes, qint64 count);

    // Bytes waiting for the next call.
    qint64 pending() const { return buffer.size(); }

private:
    void append(const char *bytes, qint64 count);
    static bool parseSentence(const QByteArray &line, GpsSample &sample);

    QByteArray buffer;
    bool skippingLongLine = false;  // drop text up to the next line feed
};
