#include "PavonaConfig.h"

#include "Config.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QVariantMap>

#include <climits>

namespace {

template <typename Values, typename Visitor>
void visitKeys(Values &v, Visitor &&f)
{
    f("System/GMT", v.gmt);
    f("System/Language", v.language);
    f("System/Volume", v.volume);
    f("Record/TypCodec", v.typCodec);
    f("Record/QualityD", v.qualityD);
    f("Record/QualityP", v.qualityP);
    f("Record/FrameRateD", v.frameRateD);
    f("Record/FrameRateP", v.frameRateP);
    f("Record/AudioSave", v.audioSave);
    f("Storage/Ratio", v.storageRatio);
    f("Power/VoltageUsed", v.voltageUsed);
    f("Power/VoltageType", v.voltageType);
    f("Power/VoltageValue", v.voltageValue);
    f("Power/TemperUsed", v.temperUsed);
    f("Power/TemperExpress", v.temperExpress);
    f("Power/TemperValue", v.temperValue);
    f("Event/EventSensor_group/EventImpaceDriveValue_label", v.impactDrive);
    f("Event/EventSensor_group/EventImpaceParkValue_label", v.impactPark);
    f("notify/DriveTimeUse", v.driveTimeUse);
    f("notify/CameraLoss", v.cameraLoss);
    f("safety/SafetyAssit", v.safetyAssist);
    f("safety/NotifyFcw", v.notifyFcw);
    f("safety/NotifyLane", v.notifyLane);
    f("safety/NotifyDeparture", v.notifyDeparture);
    f("Information/Model", v.model);
    f("Information/Manufacture", v.manufacture);
    f("Information/FirwareVersion", v.firmwareVersion);
    f("Information/SoftwareVersion", v.softwareVersion);
    f("Information/UpdateDate", v.updateDate);
}

struct IniReader {
    QSettings &ini;
    void operator()(const char *key, QString &value) { value = ini.value(key, value).toString(); }
    void operator()(const char *key, bool &value)
    {
        const QString text = ini.value(key).toString().trimmed().toLower();
        if (text == QLatin1String("true") || text == QLatin1String("1"))
            value = true;
        else if (text == QLatin1String("false") || text == QLatin1String("0"))
            value = false;
    }
    void operator()(const char *key, int &value)
    {
        bool ok = false;
        const int read = ini.value(key).toString().trimmed().toInt(&ok);
        if (ok)
            value = read;
    }
};

struct IniWriter {
    QSettings &ini;
    template <typename T>
    void operator()(const char *key, const T &value) { ini.setValue(key, value); }
};

struct Collector {
    QVariantMap &map;
    template <typename T>
    void operator()(const char *key, const T &value) { map.insert(key, value); }
};

struct MapReader {
    const QVariantMap &map;
    void operator()(const char *key, QString &value) { value = map.value(key).toString(); }
    void operator()(const char *key, bool &value) { value = map.value(key).toBool(); }
    void operator()(const char *key, int &value) { value = map.value(key).toInt(); }
};

QVariantMap toMap(const PavonaValues &v)
{
    QVariantMap map;
    visitKeys(v, Collector{map});
    return map;
}

quint32 u32At(const unsigned char *p, int offset)
{
    return quint32(p[offset]) | quint32(p[offset + 1]) << 8 | quint32(p[offset + 2]) << 16
        | quint32(p[offset + 3]) << 24;
}

void putU32(unsigned char *p, int offset, quint32 v)
{
    for (int k = 0; k < 4; ++k)
        p[offset + k] = quint8(v >> (8 * k));
}

QString textAt(const unsigned char *p, int offset, int size)
{
    int len = 0;
    while (len < size && p[offset + len])
        ++len;
    return QString::fromUtf8(reinterpret_cast<const char *>(p + offset), len);
}

// Entries of a counted list, never more than fit in its room.
int boundedCount(const unsigned char *image, int offset, int bound)
{
    return int(qMin<quint32>(u32At(image, offset), quint32(bound)));
}

constexpr int ChannelCount = 2228, ChannelFirst = 2232, ChannelSize = 292;
constexpr int PartitionCount = 4568, PartitionFirst = 4572, PartitionSize = 944, PartitionShare = 64;
const int ParkingShares[3] = {10, 20, 30};

} // namespace

bool PavonaValues::operator==(const PavonaValues &o) const
{
    return toMap(*this) == toMap(o);
}

PavonaConfig::PavonaConfig()
    : dateTime(QDateTime::currentDateTime())
    , settingsImage(ImageSize, 0)
{
}

QString PavonaConfig::iniPath()
{
    return Config::settingsFolder() + QStringLiteral("/configpvna.ini");
}

bool PavonaConfig::ensureFolders()
{
    const QString base = Config::settingsFolder();
    bool ok = true;
    for (const QString &dir : {base, base + QStringLiteral("/MOV"), base + QStringLiteral("/BMP")}) {
        if (!QFileInfo(dir).isDir() && !QDir().mkpath(dir))
            ok = false;
    }
    return ok;
}

const QStringList &PavonaConfig::timeZoneLabels()
{
    static const QStringList labels = {"GMT -12:00", "GMT -11:00", "GMT -10:00", "GMT -09:30", "GMT -09:00",
        "GMT -08:00", "GMT -07:00", "GMT -06:00", "GMT -05:00", "GMT -04:30", "GMT -04:00", "GMT -03:30",
        "GMT -03:00", "GMT -02:30", "GMT -02:00", "GMT -01:00", "GMT  00:00", "GMT +01:00", "GMT +02:00",
        "GMT +03:00", "GMT +03:30", "GMT +04:00", "GMT +04:30", "GMT +05:00", "GMT +05:30", "GMT +05:45",
        "GMT +06:00", "GMT +06:30", "GMT +07:00", "GMT +08:00", "GMT +08:45", "GMT +09:00", "GMT +09:30",
        "GMT +10:00", "GMT +10:30", "GMT +11:00", "GMT +11:30", "GMT +12:00", "GMT +12:45", "GMT +13:00",
        "GMT +13:30", "GMT +13:45", "GMT +14:00"};
    return labels;
}

int PavonaConfig::timeZoneMinutes(int index)
{
    const QString label = timeZoneLabels().value(index);
    if (label.isEmpty())
        return INT_MIN;
    // "GMT -09:30": sign at 4, hours at 5, minutes at 8.
    const int minutes = label.midRef(5, 2).toInt() * 60 + label.midRef(8, 2).toInt();
    return label[4] == QLatin1Char('-') ? -minutes : minutes;
}

int PavonaConfig::timeZoneIndexForMinutes(int minutes)
{
    for (int i = 0; i < timeZoneLabels().size(); ++i) {
        if (timeZoneMinutes(i) == minutes)
            return i;
    }
    return -1;
}

QString PavonaConfig::timeZoneLabel(int index)
{
    return index >= 0 && index < timeZoneLabels().size() ? timeZoneLabels()[index]
                                                          : QStringLiteral("Unknown (%1)").arg(index);
}

bool PavonaConfig::loadIni()
{
    ensureFolders();
    const QString path = iniPath();
    if (!QFileInfo::exists(path)) {
        values.model = PavonaValues().model;
        values.manufacture = PavonaValues().manufacture;
        values.firmwareVersion = PavonaValues().firmwareVersion;
        values.softwareVersion = PavonaValues().softwareVersion;
        values.updateDate = PavonaValues().updateDate;
        return saveIni();
    }
    QSettings ini(path, QSettings::IniFormat);
    if (ini.status() != QSettings::NoError)
        return false;
    PavonaValues next = values;
    visitKeys(next, IniReader{ini});
    values = next;
    return true;
}

bool PavonaConfig::saveIni()
{
    ensureFolders();
    QSettings ini(iniPath(), QSettings::IniFormat);
    ini.setAtomicSyncRequired(true);
    visitKeys(values, IniWriter{ini});
    // The dialog's sliders keep their own copies under these keys.
    ini.setValue("event/EventImpaceDriveValue_label", values.impactDrive);
    ini.setValue("event/EventImpactDrive_scroll", values.impactDrive);
    ini.setValue("event/EventImpaceParkValue_label", values.impactPark);
    ini.setValue("event/EventImpactPark_scroll", values.impactPark);
    ini.sync();
    return ini.status() == QSettings::NoError;
}

void PavonaConfig::resetToDefaults()
{
    values = PavonaValues();
    dateTime = QDateTime::currentDateTime();
}

PavonaValues PavonaConfig::fromImage(const unsigned char *image, const PavonaValues &base)
{
    PavonaValues v = base;
    v.gmt = int(u32At(image, 2216));
    v.language = int(u32At(image, 2224));
    v.volume = int(u32At(image, 13452));
    // Every channel overwrites: the last channel's values remain.
    for (int c = 0; c < boundedCount(image, ChannelCount, 8); ++c) {
        const int e = ChannelFirst + ChannelSize * c;
        v.typCodec = int(u32At(image, e));
        v.qualityD = int(u32At(image, e + 12));
        v.frameRateD = int(u32At(image, e + 16));
        v.qualityP = int(u32At(image, e + 24));
        v.frameRateP = int(u32At(image, e + 28));
    }
    v.audioSave = int(u32At(image, 13444));
    for (int p = 0; p < boundedCount(image, PartitionCount, 8); ++p) {
        const quint32 share = u32At(image, PartitionFirst + PartitionSize * p + PartitionShare);
        for (int r = 0; r < 3; ++r) {
            if (share == quint32(ParkingShares[r]))
                v.storageRatio = r;
        }
    }
    int *const power[6] = {&v.voltageUsed, &v.voltageType, &v.voltageValue, &v.temperUsed, &v.temperExpress,
        &v.temperValue};
    for (int i = 0; i < 6; ++i)
        *power[i] = int(u32At(image, 13480 + 4 * i));
    v.impactDrive = int(u32At(image, 13512));
    v.impactPark = int(u32At(image, 13516));
    v.driveTimeUse = u32At(image, 17288) != 0;
    v.cameraLoss = u32At(image, 16984) != 0;
    v.safetyAssist = image[17568] != 0;
    v.notifyFcw = image[17585] != 0;
    v.notifyLane = image[17584] != 0;
    // The identity texts, each within its own field.
    v.model = textAt(image, 24, 64);
    v.manufacture = textAt(image, 88, 64);
    v.updateDate = textAt(image, 304, 64);
    v.firmwareVersion = textAt(image, 384, 16);
    v.softwareVersion = textAt(image, 400, 16);
    return v;
}

void PavonaConfig::toImage(unsigned char *image, const PavonaValues &e, const PavonaValues &l)
{
    auto word = [image](int offset, int value, bool changed) {
        if (changed)
            putU32(image, offset, quint32(value));
    };
    word(2216, e.gmt, e.gmt != l.gmt);
    word(2224, e.language, e.language != l.language);
    word(13452, e.volume, e.volume != l.volume);
    word(13456, e.volume, e.volume != l.volume);
    for (int c = 0; c < boundedCount(image, ChannelCount, 8); ++c) {
        const int entry = ChannelFirst + ChannelSize * c;
        word(entry, e.typCodec, e.typCodec != l.typCodec);
        if (e.typCodec == 2)
            continue;
        word(entry + 12, e.qualityD, e.qualityD != l.qualityD);
        word(entry + 16, e.frameRateD, e.frameRateD != l.frameRateD);
        word(entry + 24, e.qualityP, e.qualityP != l.qualityP);
        word(entry + 28, e.frameRateP, e.frameRateP != l.frameRateP);
    }
    word(13444, e.audioSave, e.audioSave != l.audioSave);
    word(13448, e.audioSave, e.audioSave != l.audioSave);
    if (e.storageRatio != l.storageRatio && e.storageRatio >= 0 && e.storageRatio <= 2) {
        for (int p = 0; p < boundedCount(image, PartitionCount, 8); ++p)
            putU32(image, PartitionFirst + PartitionSize * p + PartitionShare, quint32(ParkingShares[e.storageRatio]));
    }
    const int edited[6] = {e.voltageUsed, e.voltageType, e.voltageValue, e.temperUsed, e.temperExpress, e.temperValue};
    const int loaded[6] = {l.voltageUsed, l.voltageType, l.voltageValue, l.temperUsed, l.temperExpress, l.temperValue};
    for (int i = 0; i < 6; ++i)
        word(13480 + 4 * i, edited[i], edited[i] != loaded[i]);
    word(13512, e.impactDrive, e.impactDrive != l.impactDrive);
    word(13516, e.impactPark, e.impactPark != l.impactPark);
    word(17288, e.driveTimeUse ? 1 : 0, e.driveTimeUse != l.driveTimeUse);
    word(16984, e.cameraLoss ? 1 : 0, e.cameraLoss != l.cameraLoss);
    if (e.safetyAssist != l.safetyAssist) {
        for (int i = 17568; i <= 17570; ++i)
            image[i] = e.safetyAssist ? 1 : 0;
    }
    if (e.notifyFcw != l.notifyFcw)
        image[17585] = e.notifyFcw ? 1 : 0;
    if (e.notifyLane != l.notifyLane)
        image[17584] = e.notifyLane ? 1 : 0;
}

PavonaValues PavonaConfig::mergeEdits(const PavonaValues &base, const PavonaValues &shown, const PavonaValues &now)
{
    QVariantMap merged = toMap(base);
    const QVariantMap before = toMap(shown), after = toMap(now);
    for (auto it = after.constBegin(); it != after.constEnd(); ++it) {
        if (before.value(it.key()) != it.value())
            merged[it.key()] = it.value();
    }
    PavonaValues result = base;
    visitKeys(result, MapReader{merged});
    return result;
}
