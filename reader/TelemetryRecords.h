#pragma once
#include <QtGlobal>

// The two telemetry records that travel through the frame index, and the
// walk that decodes the binary telemetry items of record-file data packets.
//
// Both records are stored little-endian and packed. Always move them to and
// from byte buffers with load/store, never by casting a buffer pointer: the
// frame buffer puts them at any offset. Read their members by value; a
// reference or pointer to a member of a packed record may be misaligned.

#pragma pack(push, 1)
struct GpsSample {
    qint32 status = 0;   // 'A' valid fix, '0' binary item without fix, NMEA status, 0 nothing parsed
    quint32 sec = 0;     // time, whole seconds
    quint32 usec = 0;    // time, microseconds
    float lat = 0;       // NMEA: signed decimal degrees; binary items: ddmm.mmmm as written
    float lon = 0;
    float course = 0;    // third value of the fix
    qint32 speed = 0;    // NMEA: km/h; binary items: knots

    static constexpr int Size = 28;
    // data must hold Size bytes.
    static GpsSample load(const uchar *data);
    void store(uchar *data) const;
};

struct GSensorSample {
    quint32 sec = 0;     // since the first G-sensor sample of the load
    quint32 usec = 0;
    quint16 x = 0, y = 0, z = 0;  // raw axis values plus the display offsets

    static constexpr int Size = 14;
    static GSensorSample load(const uchar *data);
    void store(uchar *data) const;
};
#pragma pack(pop)

static_assert(sizeof(GpsSample) == GpsSample::Size, "GpsSample is 28 bytes on disk and in the frame buffer");
static_assert(sizeof(GSensorSample) == GSensorSample::Size, "GSensorSample is 14 bytes on disk and in the frame buffer");

// A binary GPS fix as the camera writes it (positions ddmm.mmmm, speed in
// knots) turned into signed decimal degrees and km/h (speed x 1.852,
// truncated). Status and time are kept. Non-finite values become 0.
GpsSample normaliseRecordGps(const GpsSample &raw);

// ddmm.mmmm (degrees x 100 + minutes) to decimal degrees; the sign is kept.
double degreesFromDegreesMinutes(double value);

// Knots to km/h, truncated toward zero and clamped to the qint32 range.
qint32 kmhFromKnots(double knots);

// Where a recording's telemetry comes from: the G-sensor rest values differ.
enum class TelemetryContainer { Mp4, Mf2 };

// What the walk carries from one data packet to the next within one load of
// a recording. Reset it (or make a new one) for every load.
struct TelemetryWalkState {
    TelemetryContainer container = TelemetryContainer::Mp4;
    bool haveOrigin = false;    // the first G-sensor sample of the load was seen
    quint64 originMs = 0;       // its time stamp, the G-sensor time origin
    bool haveOffsets = false;   // display offsets taken from the first sample
    quint16 xOffset = 0;
    quint16 yOffset = 0;        // applied to y and z
    quint64 gpsTimeUs = 0;      // time given to GPS fixes; 0 until a G-sensor item

    explicit TelemetryWalkState(TelemetryContainer c = TelemetryContainer::Mp4) : container(c) {}
};

// Receives the records of a walk in item order. A negative return (say, the
// frame buffer is full) stops the walk, and the walk returns that value.
class TelemetrySink {
public:
    virtual ~TelemetrySink() = default;
    // The samples of one G-sensor item, with the time of their packet.
    virtual int gsensorGroup(const GSensorSample *samples, int count, quint64 packetTimeUs) = 0;
    // One GPS fix in camera units (see normaliseRecordGps), with the packet's time.
    virtual int gpsFix(const GpsSample &fix, quint64 packetTimeUs) = 0;
};

// Decodes the telemetry items of one data packet's payload (items start at
// byte 12). packetTimeUs is handed to the sink; baseTimeUs is the recording's
// start (µs since 1970), from which the GPS time is counted.
//
// Every length and count is checked against the payload: an item whose
// header or body runs past the end ends the walk, and nothing outside
// [payload, payload + size) is read. Returns the number of records handed to
// the sink, or the sink's negative value when it stopped the walk.
int walkTelemetryItems(const uchar *payload, qint64 size, quint64 packetTimeUs, quint64 baseTimeUs,
                       TelemetryWalkState &state, TelemetrySink &sink);
