#include "SetupBlock.h"

#include "PasswordCheck.h"

#include <QStringList>

namespace SetupBlock {

namespace {

quint8 byteAt(const QByteArray &b, int i)
{
    return quint8(b[i]);
}

quint32 u32At(const QByteArray &b, int i)
{
    return quint32(byteAt(b, i)) | quint32(byteAt(b, i + 1)) << 8 | quint32(byteAt(b, i + 2)) << 16
        | quint32(byteAt(b, i + 3)) << 24;
}

void putU32(QByteArray &b, int i, quint32 v)
{
    for (int k = 0; k < 4; ++k)
        b[i + k] = char(quint8(v >> (8 * k)));
}

struct TextField {
    int offset;
    int size;
};
constexpr TextField CompanyField{94, 12}, VehicleField{107, 10}, LicenceField{118, 8}, DriverField{127, 15};

// A text reads up to its first zero byte or the end of its field: a field
// filled to its last byte keeps every character.
QString textAt(const QByteArray &b, TextField f)
{
    const QByteArray raw = b.mid(f.offset, f.size);
    const int end = raw.indexOf('\0');
    return QString::fromUtf8(end < 0 ? raw : raw.left(end));
}

// Stores up to the field size, cut on a character boundary, zero-padded.
void putText(QByteArray &b, TextField f, const QString &text)
{
    QByteArray bytes;
    for (const QChar *c = text.constData(), *end = c + text.size(); c < end;) {
        const int n = (c->isHighSurrogate() && c + 1 < end) ? 2 : 1;
        const QByteArray next = QString(c, n).toUtf8();
        if (bytes.size() + next.size() > f.size)
            break;
        bytes += next;
        c += n;
    }
    bytes.append(QByteArray(f.size - bytes.size(), '\0'));
    b.replace(f.offset, f.size, bytes);
}

int ledType(quint8 code)
{
    return qMin<int>(code, 2);
}

int ledSpeed(quint8 code)
{
    return code < 3 ? ledType(code) : code - 2;
}

quint8 ledCode(int type, int speed)
{
    return quint8(type != 2 ? type : speed + 2);
}

} // namespace

const QVector<TimeZone> &timeZones()
{
    static const QVector<TimeZone> zones = {{-48, -720, "GMT -12:00"}, {-44, -660, "GMT -11:00"},
        {-40, -600, "GMT -10:00"}, {-38, -570, "GMT -09:30"}, {-36, -540, "GMT -09:00"},
        {-32, -480, "GMT -08:00"}, {-28, -420, "GMT -07:00"}, {-24, -360, "GMT -06:00"},
        {-20, -300, "GMT -05:00"}, {-18, -270, "GMT -04:30"}, {-16, -240, "GMT -04:00"},
        {-14, -210, "GMT -03:30"}, {-12, -180, "GMT -03:00"}, {-8, -120, "GMT -02:00"},
        {-4, -60, "GMT -01:00"}, {0, 0, "GMT  00:00"}, {4, 60, "GMT +01:00"}, {8, 120, "GMT +02:00"},
        {12, 180, "GMT +03:00"}, {14, 210, "GMT +03:30"}, {16, 240, "GMT +04:00"}, {18, 270, "GMT +04:30"},
        {20, 300, "GMT +05:00"}, {22, 330, "GMT +05:30"}, {23, 345, "GMT +05:45"}, {24, 360, "GMT +06:00"},
        // The camera codes +06:30 as 27; the offset is still six and a half hours.
        {27, 390, "GMT +06:30"}, {28, 420, "GMT +07:00"}, {32, 480, "GMT +08:00"}, {35, 525, "GMT +08:45"},
        {36, 540, "GMT +09:00"}, {38, 570, "GMT +09:30"}, {40, 600, "GMT +10:00"}, {42, 630, "GMT +10:30"},
        {44, 660, "GMT +11:00"}, {46, 690, "GMT +11:30"}, {48, 720, "GMT +12:00"}, {51, 765, "GMT +12:45"},
        {52, 780, "GMT +13:00"}, {56, 840, "GMT +14:00"}};
    return zones;
}

int timeZoneIndexForCode(int code)
{
    const QVector<TimeZone> &zones = timeZones();
    for (int i = 0; i < zones.size(); ++i) {
        if (zones[i].code == code)
            return i;
    }
    return -1;
}

int timeZoneIndexForMinutes(int minutes)
{
    const QVector<TimeZone> &zones = timeZones();
    for (int i = 0; i < zones.size(); ++i) {
        if (zones[i].minutes == minutes)
            return i;
    }
    return -1;
}

QString timeZoneLabel(int code)
{
    const int i = timeZoneIndexForCode(code);
    return i >= 0 ? QString::fromLatin1(timeZones()[i].label) : QStringLiteral("Unknown (%1)").arg(code);
}

const QVector<AutoShutdownChoice> &autoShutdownChoices()
{
    static const QVector<AutoShutdownChoice> choices = {{"Off", 0}, {"15 Min", 30}, {"30 Min", 60},
        {"60 Min", 90}, {"90 Min", 120}, {"2 Hour", 180}, {"3 Hour", 360}, {"6 Hour", 720},
        {"12 Hour", 1440}, {"24 Hour", 0}};
    return choices;
}

int autoShutdownIndex(int value)
{
    const QVector<AutoShutdownChoice> &choices = autoShutdownChoices();
    for (int i = 0; i < choices.size(); ++i) {
        if (choices[i].value == value)
            return i;
    }
    return -1;
}

const QStringList &voltageLabels()
{
    static const QStringList labels = {"Not Check", "11.6 V", "11.8 V", "12.0 V", "12.2 V", "12.4 V",
        "23.8 V", "24.0 V", "24.2 V", "24.4 V"};
    return labels;
}

int frameCodeFor(int recordFrame)
{
    return recordFrame == 2 ? 3 : (recordFrame == 1 ? 2 : 4);
}

int recordFrameFor(int frameCode)
{
    return frameCode == 3 ? 2 : (frameCode == 2 ? 1 : 0);
}

ConfigValues load(const QByteArray &block, const ConfigValues &base, const QByteArray &modelCode)
{
    ConfigValues v = base;
    if (block.size() != Size)
        return v;
    v.firmwareVersion = QString::number(u32At(block, 1));
    v.company = textAt(block, CompanyField);
    v.vehicleType = textAt(block, VehicleField);
    v.licensePlate = textAt(block, LicenceField);
    v.driver = textAt(block, DriverField);

    v.eventRecordRatio = byteAt(block, 29);
    for (int i = 0; i < 8; ++i)
        v.events[i] = !(byteAt(block, 308) & (1u << i));
    for (int i = 0; i < 3; ++i) {
        v.gSensorDriving[i] = byteAt(block, 13 + i);
        v.gSensorParking[i] = byteAt(block, 84 + i);
    }
    v.overspeedLimit = byteAt(block, 143);
    v.suddenStopSensitivity = byteAt(block, 353);
    v.suddenAccelerationSensitivity = byteAt(block, 354);
    v.sharpTurn = byteAt(block, 355);

    v.recordFrame = recordFrameFor(byteAt(block, 10));
    v.recordQuality = byteAt(block, 81);
    v.voiceRecord = byteAt(block, 11) != 0;
    v.volume = byteAt(block, 12);
    v.gmt = qint8(byteAt(block, 28));
    v.ledDrivingType = ledType(byteAt(block, 92));
    v.ledDrivingSpeed = ledSpeed(byteAt(block, 92));
    v.ledParkingType = ledType(byteAt(block, 91));
    v.ledParkingSpeed = ledSpeed(byteAt(block, 91));
    for (int i = 0; i < 4; ++i)
        v.connectedCamera[i] = !(byteAt(block, 88) & (1u << (4 + i)));
    v.voltage = byteAt(block, 83);
    v.autoParking = byteAt(block, 30);
    v.autoShutdownTimer = int(u32At(block, 144));

    const QByteArray model = modelCode.left(modelCode.indexOf('\0') < 0 ? modelCode.size() : modelCode.indexOf('\0'));
    if (!model.trimmed().isEmpty())
        v.firmwareVersion = QString::fromLatin1(model);
    return v;
}

QByteArray store(const QByteArray &block, const ConfigValues &e, const ConfigValues &l)
{
    QByteArray b = block;
    if (b.size() != Size)
        return b;
    auto putByte = [&b](int offset, int value, bool changed) {
        if (changed)
            b[offset] = char(quint8(value));
    };
    if (e.company != l.company)
        putText(b, CompanyField, e.company);
    if (e.vehicleType != l.vehicleType)
        putText(b, VehicleField, e.vehicleType);
    if (e.licensePlate != l.licensePlate)
        putText(b, LicenceField, e.licensePlate);
    if (e.driver != l.driver)
        putText(b, DriverField, e.driver);

    putByte(29, e.eventRecordRatio, e.eventRecordRatio != l.eventRecordRatio);
    quint8 eventMask = byteAt(b, 308);
    for (int i = 0; i < 8; ++i) {
        if (e.events[i] != l.events[i])
            eventMask = e.events[i] ? quint8(eventMask & ~(1u << i)) : quint8(eventMask | (1u << i));
    }
    b[308] = char(eventMask);
    for (int i = 0; i < 3; ++i) {
        putByte(13 + i, e.gSensorDriving[i], e.gSensorDriving[i] != l.gSensorDriving[i]);
        putByte(84 + i, e.gSensorParking[i], e.gSensorParking[i] != l.gSensorParking[i]);
    }
    // The limit is shown from byte 143 and an edited one stored into 310.
    putByte(310, e.overspeedLimit, e.overspeedLimit != l.overspeedLimit);
    putByte(353, e.suddenStopSensitivity, e.suddenStopSensitivity != l.suddenStopSensitivity);
    putByte(354, e.suddenAccelerationSensitivity, e.suddenAccelerationSensitivity != l.suddenAccelerationSensitivity);
    putByte(355, e.sharpTurn, e.sharpTurn != l.sharpTurn);

    b[17] = char(34);
    putByte(10, frameCodeFor(e.recordFrame), e.recordFrame != l.recordFrame);
    putByte(81, e.recordQuality, e.recordQuality != l.recordQuality);
    putByte(11, e.voiceRecord ? 1 : 0, e.voiceRecord != l.voiceRecord);
    putByte(12, e.volume, e.volume != l.volume);
    putByte(28, e.gmt, e.gmt != l.gmt);
    putByte(92, ledCode(e.ledDrivingType, e.ledDrivingSpeed),
            e.ledDrivingType != l.ledDrivingType || e.ledDrivingSpeed != l.ledDrivingSpeed);
    putByte(91, ledCode(e.ledParkingType, e.ledParkingSpeed),
            e.ledParkingType != l.ledParkingType || e.ledParkingSpeed != l.ledParkingSpeed);
    quint8 cameraMask = byteAt(b, 88);
    for (int i = 0; i < 4; ++i) {
        if (e.connectedCamera[i] != l.connectedCamera[i]) {
            const quint8 bit = quint8(1u << (4 + i));
            cameraMask = e.connectedCamera[i] ? quint8(cameraMask & ~bit) : quint8(cameraMask | bit);
        }
    }
    b[88] = char(cameraMask);
    putByte(83, e.voltage, e.voltage != l.voltage);
    putByte(30, e.autoParking, e.autoParking != l.autoParking);
    if (e.autoShutdownTimer != l.autoShutdownTimer)
        putU32(b, 144, quint32(e.autoShutdownTimer));
    return b;
}

bool passwordInForce(const QByteArray &block)
{
    return cardPasswordInForce(block);
}

bool passwordAccepted(const QByteArray &block, const QString &typed)
{
    if (!passwordInForce(block))
        return true;
    return passwordMatches(PasswordKind::Card, typed.toUtf8().left(20), block.mid(20, 8), 8);
}

PasswordChange changePassword(QByteArray &block, const QString &current, const QString &newPassword,
                              const QString &confirm)
{
    if (block.size() != Size || !passwordAccepted(block, current))
        return PasswordChange::WrongCurrent;
    if (newPassword != confirm)
        return PasswordChange::Different;
    const QByteArray bytes = newPassword.toUtf8();
    if (bytes.size() > 8)
        return PasswordChange::TooLong;
    for (char c : bytes) {
        if (quint8(c) < 0x20 || quint8(c) == 0x7f)
            return PasswordChange::BadCharacter;
    }
    for (int i = 18; i < 28; ++i)
        block[i] = '\0';
    if (bytes.isEmpty())
        return PasswordChange::Staged;
    block[18] = 'p';
    block[19] = 'w';
    for (int i = 0; i < bytes.size(); ++i)
        block[20 + i] = char(quint8(quint8(bytes[i]) - 20));
    return PasswordChange::Staged;
}

QString passwordChangeMessage(PasswordChange result)
{
    switch (result) {
    case PasswordChange::Staged:
        return QStringLiteral("The new password is written to the card when you press OK.");
    case PasswordChange::WrongCurrent:
        return QStringLiteral("Incorrect Current password!!");
    case PasswordChange::Different:
        return QStringLiteral("Incorrect Defferrent password!!");
    case PasswordChange::TooLong:
        return QStringLiteral("The password can have at most 8 bytes (8 plain letters or digits).");
    case PasswordChange::BadCharacter:
        return QStringLiteral("The password cannot hold control characters.");
    }
    return QString();
}

} // namespace SetupBlock
