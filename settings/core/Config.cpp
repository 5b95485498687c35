#include "Config.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>
#include <QVariantMap>

#include <climits>

namespace {

// One list of every key, walked by load, save and comparison alike, so a
// key cannot be read under one name and written under another.
template <typename Values, typename Visitor>
void visitKeys(Values &v, Visitor &&f)
{
    f("Information/FirmwareVersion", v.firmwareVersion);
    f("Information/SoftwareVersion", v.softwareVersion);
    f("Information/Company", v.company);
    f("Information/VehicleType", v.vehicleType);
    f("Information/LicensePlate", v.licensePlate);
    f("Information/Driver", v.driver);

    f("Viewer/AVI_Folder", v.aviFolder);
    f("Viewer/Capture_Folder", v.captureFolder);
    f("Viewer/SmartBackup_Folder", v.smartBackupFolder);
    for (int i = 0; i < 4; ++i)
        f(QStringLiteral("Viewer/Mirror_%1").arg(QLatin1String(Config::CameraNames[i])), v.mirror[i]);
    f("Viewer/Password", v.password);

    f("Network/FTP_IP", v.ftpIp);
    f("Network/FTP_ID", v.ftpId);
    f("Network/FTP_Password", v.ftpPassword);
    f("Network/WIFI_SSID", v.wifiSsid);
    f("Network/WIFI_Password", v.wifiPassword);
    f("Network/WIFI_Type", v.wifiType);
    f("Network/DHCP", v.dhcp);
    f("Network/WIFI_IP", v.wifiIp);
    f("Network/WIFI_Netmask", v.wifiNetmask);
    f("Network/WIFI_Gateway", v.wifiGateway);
    f("Network/WIFI_Speed", v.wifiSpeed, 0, INT_MAX);
    f("Network/FTP_Send_All", v.ftpSendAll);
    f("Network/FTP_Send_Event", v.ftpSendEvent);
    f("Network/FTP_Send_Log", v.ftpSendLog);

    f("Event/EventRecordRatio", v.eventRecordRatio, 0, 255);
    for (int i = 0; i < 8; ++i)
        f(QStringLiteral("Event/%1").arg(QLatin1String(Config::EventNames[i])), v.events[i]);
    static const char *const axes[3] = {"X", "Y", "Z"};
    for (int i = 0; i < 3; ++i)
        f(QStringLiteral("Event/G-Sensor_Driving_%1").arg(QLatin1String(axes[i])), v.gSensorDriving[i], 0, 255);
    for (int i = 0; i < 3; ++i)
        f(QStringLiteral("Event/G-Sensor_Parking_%1").arg(QLatin1String(axes[i])), v.gSensorParking[i], 0, 255);
    f("Event/Diaplay_KM", v.displayKm);
    f("Event/OverspeedLimit", v.overspeedLimit, 0, 255);
    f("Event/SuddenStopSensitivity", v.suddenStopSensitivity, 0, 255);
    f("Event/SuddenAccelerationSensitivity", v.suddenAccelerationSensitivity, 0, 255);
    f("Event/SharpTurn", v.sharpTurn, 0, 255);

    f("System/RecordFrame", v.recordFrame, 0, 2);
    f("System/RecordQuality", v.recordQuality, 0, 255);
    f("System/VoiceRecord", v.voiceRecord);
    f("System/Volume", v.volume, 0, 255);
    f("System/GMT", v.gmt, -128, 127);
    f("System/LED_Driving_Type", v.ledDrivingType, 0, 2);
    f("System/LED_Driving_Twinkling_Speed", v.ledDrivingSpeed, 0, 253);
    f("System/LED_Parking_Type", v.ledParkingType, 0, 2);
    f("System/LED_Parking_Twinkling_Speed", v.ledParkingSpeed, 0, 253);
    for (int i = 0; i < 4; ++i)
        f(QStringLiteral("System/ConnectedCamera_%1").arg(QLatin1String(Config::CameraNames[i])), v.connectedCamera[i]);
    f("System/Voltage", v.voltage, 0, 255);
    f("System/AutoParking", v.autoParking, 0, 255);
    f("System/AutoShutdownTimer", v.autoShutdownTimer, 0, INT_MAX);
    f("Telemetry/HardBrakingMilliG", v.hardBrakingMilliG, 50, 8000);
    f("Telemetry/HardAccelerationMilliG", v.hardAccelerationMilliG, 50, 8000);
    f("Telemetry/ImpactMilliG", v.impactMilliG, 50, 8000);
}

const QString TileServerKey = QStringLiteral("Map/TileServer");

struct IniReader {
    QSettings &ini;
    void operator()(const QString &key, QString &value) { value = ini.value(key, value).toString(); }
    void operator()(const QString &key, bool &value)
    {
        if (!ini.contains(key))
            return;
        // Anything but a plain true/false (or 1/0) keeps the value it had.
        const QString text = ini.value(key).toString().trimmed().toLower();
        if (text == QLatin1String("true") || text == QLatin1String("1"))
            value = true;
        else if (text == QLatin1String("false") || text == QLatin1String("0"))
            value = false;
    }
    void operator()(const QString &key, int &value, int min, int max)
    {
        bool ok = false;
        const int read = ini.value(key).toString().trimmed().toInt(&ok);
        if (ok && read >= min && read <= max)
            value = read;
    }
};

struct IniWriter {
    QSettings &ini;
    void operator()(const QString &key, const QString &value) { ini.setValue(key, value); }
    void operator()(const QString &key, bool value) { ini.setValue(key, value); }
    void operator()(const QString &key, int value, int, int) { ini.setValue(key, value); }
};

struct Collector {
    QVariantMap &map;
    void operator()(const QString &key, const QString &value) { map.insert(key, value); }
    void operator()(const QString &key, bool value) { map.insert(key, value); }
    void operator()(const QString &key, int value, int, int) { map.insert(key, value); }
};

struct MapReader {
    const QVariantMap &map;
    void operator()(const QString &key, QString &value) { value = map.value(key).toString(); }
    void operator()(const QString &key, bool &value) { value = map.value(key).toBool(); }
    void operator()(const QString &key, int &value, int, int) { value = map.value(key).toInt(); }
};

QVariantMap toMap(const ConfigValues &v)
{
    QVariantMap map;
    visitKeys(v, Collector{map});
    map.insert(TileServerKey, v.tileServerSet ? QVariant(v.tileServer) : QVariant());
    return map;
}

} // namespace

bool ConfigValues::operator==(const ConfigValues &o) const
{
    return toMap(*this) == toMap(o);
}

Config::Config()
    : values(defaults())
{
    ensureFolders();
}

QString Config::documentsFolder()
{
    const QStringList locations = QStandardPaths::standardLocations(QStandardPaths::DocumentsLocation);
    if (!locations.isEmpty() && !locations.first().isEmpty())
        return locations.first();
    return QDir::homePath();
}

QString Config::settingsFolder()
{
    return documentsFolder() + QStringLiteral("/ZidavOva");
}

QString Config::iniPath()
{
    return settingsFolder() + QStringLiteral("/config.ini");
}

ConfigValues Config::defaults()
{
    ConfigValues v;
    const QString docs = documentsFolder();
    v.aviFolder = docs + QStringLiteral("/ZidavOva/MKV");
    v.captureFolder = docs + QStringLiteral("/ZidavOva/BMP");
    v.smartBackupFolder = docs + QStringLiteral("/ZidavOva/SmartBackup");
    v.setTime = QDateTime::currentDateTime();
    return v;
}

bool Config::ensureFolders()
{
    const QString base = settingsFolder();
    bool ok = true;
    for (const QString &dir : {base, base + QStringLiteral("/MKV"), base + QStringLiteral("/BMP"),
                               base + QStringLiteral("/SmartBackup")}) {
        if (!QFileInfo(dir).isDir() && !QDir().mkpath(dir))
            ok = false;
    }
    return ok;
}

bool Config::load()
{
    lastError.clear();
    const QString path = iniPath();
    if (!QFileInfo::exists(path))
        return true;
    if (!QFileInfo(path).isReadable()) {
        lastError = QStringLiteral("cannot read %1").arg(path);
        return false;
    }
    QSettings ini(path, QSettings::IniFormat);
    if (ini.status() != QSettings::NoError) {
        lastError = QStringLiteral("cannot parse %1").arg(path);
        return false;
    }
    ConfigValues next = values;
    visitKeys(next, IniReader{ini});
    if (ini.contains(TileServerKey)) {
        next.tileServerSet = true;
        next.tileServer = ini.value(TileServerKey).toString();
    } else {
        next.tileServerSet = false;
        next.tileServer.clear();
    }
    values = next;
    return true;
}

bool Config::save()
{
    lastError.clear();
    ensureFolders();
    const QString path = iniPath();
    QSettings ini(path, QSettings::IniFormat);
    // Only a whole file may replace the earlier one.
    ini.setAtomicSyncRequired(true);
    visitKeys(values, IniWriter{ini});
    if (values.tileServerSet)
        ini.setValue(TileServerKey, values.tileServer);
    else
        ini.remove(TileServerKey);
    ini.sync();
    if (ini.status() != QSettings::NoError) {
        lastError = QStringLiteral("cannot write %1").arg(path);
        return false;
    }
    return true;
}

ConfigValues Config::mergeEdits(const ConfigValues &base, const ConfigValues &shown, const ConfigValues &now)
{
    QVariantMap merged = toMap(base);
    const QVariantMap before = toMap(shown), after = toMap(now);
    for (auto it = after.constBegin(); it != after.constEnd(); ++it) {
        if (before.value(it.key()) != it.value())
            merged[it.key()] = it.value();
    }
    ConfigValues result = base;
    visitKeys(result, MapReader{merged});
    const QVariant tiles = merged.value(TileServerKey);
    result.tileServerSet = tiles.isValid();
    result.tileServer = tiles.toString();
    result.setTime = now.setTime;
    return result;
}

void Config::resetToDefaults()
{
    values = defaults();
}
