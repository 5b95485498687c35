#pragma once
// A simulated drive: position, speed and heading once a second and
// accelerometer readings ten times a second, continuous from one recording
// to the next. Speed wanders between town and road speeds; one recording can
// carry a hard stop.
#include <QByteArray>
#include <QVector>

struct GpsFix
{
    qint64 utcSeconds = 0;
    double latitude = 0;   // signed decimal degrees
    double longitude = 0;
    double speedKmh = 0;
    double course = 0;     // degrees from north
};

struct AccelSample
{
    qint64 offsetMs = 0;   // from the recording's start
    int x = 0;             // milli-g: forward, left, up
    int y = 0;
    int z = 0;
};

struct DriveSegment
{
    QVector<GpsFix> fixes;       // one per second
    QVector<AccelSample> accel;  // kSamplesPerSecond per second
};

class DriveModel
{
public:
    static constexpr int kSamplesPerSecond = 10;

    explicit DriveModel(quint32 seed);

    // The next `seconds` of the drive, starting at UTC `start`. With
    // `hardStop` the vehicle brakes at about 0.8 g half-way through.
    DriveSegment next(qint64 start, int seconds, bool hardStop);

    // "$GPRMC,...*hh\r\n" for a fix.
    static QByteArray gprmc(const GpsFix &fix);
    // Degrees as the NMEA ddmm.mmmm value (sign kept): 48.1173 -> 4807.038.
    static double nmeaDegreesMinutes(double degrees);

private:
    double noise(double amplitude);

    quint64 rng;
    double lat = 48.1173;
    double lon = 11.5167;
    double speed = 8.0;   // m/s
    double course = 40.0;
    double clock = 0.0;   // seconds driven so far
};
