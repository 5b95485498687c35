#include "DriveModel.h"

#include <QDateTime>
#include <cmath>

namespace {
constexpr double kPi = 3.14159265358979323846;
constexpr double kMetresPerDegree = 111320.0;
constexpr double kG = 9.80665;
}

DriveModel::DriveModel(quint32 seed)
    : rng(0x9E3779B97F4A7C15ull ^ (quint64(seed) * 0xD1B54A32D192ED03ull))
{
    // Spread the starting point a little by seed so cards differ visibly.
    lat += noise(0.01);
    lon += noise(0.01);
    course = 360.0 * (0.5 + noise(0.5));
}

double DriveModel::noise(double amplitude)
{
    // xorshift64*: the same numbers on every platform, unlike <random>'s distributions.
    rng ^= rng >> 12;
    rng ^= rng << 25;
    rng ^= rng >> 27;
    const quint64 r = rng * 0x2545F4914F6CDD1Dull;
    return amplitude * (double(r >> 11) / double(1ull << 53) * 2.0 - 1.0);
}

DriveSegment DriveModel::next(qint64 start, int seconds, bool hardStop)
{
    DriveSegment seg;
    const double dt = 1.0 / kSamplesPerSecond;
    const int steps = seconds * kSamplesPerSecond;
    const int brakeFrom = hardStop ? steps / 2 - kSamplesPerSecond : -1;
    const int brakeTo = brakeFrom + 2 * kSamplesPerSecond;
    for (int i = 0; i < steps; ++i) {
        if (i % kSamplesPerSecond == 0) {
            GpsFix fix;
            fix.utcSeconds = start + i / kSamplesPerSecond;
            fix.latitude = lat;
            fix.longitude = lon;
            fix.speedKmh = speed * 3.6;
            fix.course = course;
            seg.fixes.append(fix);
        }
        // Target speed swings between about 25 and 80 km/h over a minute or two.
        const double target = (52.0 + 27.0 * std::sin(clock / 45.0) + 6.0 * std::sin(clock / 7.0)) / 3.6;
        double accel = qBound(-2.5, (target - speed) * 0.4, 1.8);
        if (i >= brakeFrom && i < brakeTo && brakeFrom >= 0)
            accel = speed > 2.0 ? -7.8 : -speed / dt;
        const double turnRate = 4.0 * std::sin(clock / 23.0) + noise(0.3);  // degrees per second
        speed = qMax(0.0, speed + accel * dt);
        course = std::fmod(course + turnRate * dt + 360.0, 360.0);
        const double rad = course * kPi / 180.0;
        lat += speed * std::cos(rad) * dt / kMetresPerDegree;
        lon += speed * std::sin(rad) * dt / (kMetresPerDegree * std::cos(lat * kPi / 180.0));
        clock += dt;

        AccelSample s;
        s.offsetMs = qint64(i) * 1000 / kSamplesPerSecond;
        s.x = int(std::lround(accel / kG * 1000.0 + noise(12.0)));
        s.y = int(std::lround(speed * turnRate * kPi / 180.0 / kG * 1000.0 + noise(12.0)));
        s.z = int(std::lround(1000.0 + noise(20.0)));
        seg.accel.append(s);
    }
    return seg;
}

double DriveModel::nmeaDegreesMinutes(double degrees)
{
    const double a = std::fabs(degrees);
    const double whole = std::floor(a);
    const double v = whole * 100.0 + (a - whole) * 60.0;
    return degrees < 0 ? -v : v;
}

QByteArray DriveModel::gprmc(const GpsFix &fix)
{
    const QDateTime t = QDateTime::fromSecsSinceEpoch(fix.utcSeconds, Qt::UTC);
    const double lat = std::fabs(nmeaDegreesMinutes(fix.latitude));
    const double lon = std::fabs(nmeaDegreesMinutes(fix.longitude));
    const QByteArray body = QByteArray("GPRMC,") + t.toString(QStringLiteral("HHmmss")).toLatin1() + ".00,A,"
                            + QByteArray::number(lat, 'f', 4).rightJustified(9, '0') + (fix.latitude < 0 ? ",S," : ",N,")
                            + QByteArray::number(lon, 'f', 4).rightJustified(10, '0') + (fix.longitude < 0 ? ",W," : ",E,")
                            + QByteArray::number(fix.speedKmh / 1.852, 'f', 1) + ','
                            + QByteArray::number(fix.course, 'f', 1) + ','
                            + t.toString(QStringLiteral("ddMMyy")).toLatin1() + ",,,A";
    quint8 sum = 0;
    for (char c : body)
        sum ^= quint8(c);
    return '$' + body + '*' + QByteArray::number(sum, 16).rightJustified(2, '0').toUpper() + "\r\n";
}
