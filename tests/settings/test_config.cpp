// The viewer's INI settings: the exact keys in the file, defaults, the
// folders, round trips and values a hand-edited file may hold.
#include "Config.h"
#include "SettingsTestHome.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <gtest/gtest.h>

namespace {

QStringList expectedKeys()
{
    QStringList keys = {"Information/FirmwareVersion", "Information/SoftwareVersion", "Information/Company",
        "Information/VehicleType", "Information/LicensePlate", "Information/Driver", "Viewer/AVI_Folder",
        "Viewer/Capture_Folder", "Viewer/SmartBackup_Folder", "Viewer/Mirror_Front", "Viewer/Mirror_Cam2",
        "Viewer/Mirror_Cam3", "Viewer/Mirror_Cam4", "Viewer/Password", "Network/FTP_IP", "Network/FTP_ID",
        "Network/FTP_Password", "Network/WIFI_SSID", "Network/WIFI_Password", "Network/WIFI_Type",
        "Network/DHCP", "Network/WIFI_IP", "Network/WIFI_Netmask", "Network/WIFI_Gateway",
        "Network/WIFI_Speed", "Network/FTP_Send_All", "Network/FTP_Send_Event", "Network/FTP_Send_Log",
        "Event/EventRecordRatio", "Event/EventImpact", "Event/EventPreEvent", "Event/EventSuddenStop",
        "Event/EventSuddenAcceleration", "Event/EventSharpTurn", "Event/EventEmergency",
        "Event/EventOverspeed", "Event/EventExternalSignal", "Event/G-Sensor_Driving_X",
        "Event/G-Sensor_Driving_Y", "Event/G-Sensor_Driving_Z", "Event/G-Sensor_Parking_X",
        "Event/G-Sensor_Parking_Y", "Event/G-Sensor_Parking_Z", "Event/Diaplay_KM", "Event/OverspeedLimit",
        "Event/SuddenStopSensitivity", "Event/SuddenAccelerationSensitivity", "Event/SharpTurn",
        "System/RecordFrame", "System/RecordQuality", "System/VoiceRecord", "System/Volume", "System/GMT",
        "System/LED_Driving_Type", "System/LED_Driving_Twinkling_Speed", "System/LED_Parking_Type",
        "System/LED_Parking_Twinkling_Speed", "System/ConnectedCamera_Front", "System/ConnectedCamera_Cam2",
        "System/ConnectedCamera_Cam3", "System/ConnectedCamera_Cam4", "System/Voltage", "System/AutoParking",
        "System/AutoShutdownTimer", "Telemetry/HardBrakingMilliG", "Telemetry/HardAccelerationMilliG",
        "Telemetry/ImpactMilliG"};
    keys.sort();
    return keys;
}

void writeIni(const QString &text)
{
    QDir().mkpath(Config::settingsFolder());
    QFile f(Config::iniPath());
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(text.toUtf8());
}

} // namespace

TEST(Config, DefaultsFoldersAndExactKeys)
{
    SettingsTestHome home;
    Config config;
    EXPECT_EQ(Config::iniPath(), home.documents() + "/ZidavOva/config.ini");
    for (const char *sub : {"", "/MKV", "/BMP", "/SmartBackup"})
        EXPECT_TRUE(QFileInfo(home.documents() + "/ZidavOva" + sub).isDir()) << sub;
    EXPECT_EQ(config.aviFolder(), home.documents() + "/ZidavOva/MKV");
    EXPECT_EQ(config.captureFolder(), home.documents() + "/ZidavOva/BMP");
    EXPECT_EQ(config.smartBackupFolder(), home.documents() + "/ZidavOva/SmartBackup");
    EXPECT_TRUE(config.speedKmh());
    EXPECT_FALSE(config.tileServerSet());

    ASSERT_TRUE(config.save());
    QSettings ini(Config::iniPath(), QSettings::IniFormat);
    QStringList keys = ini.allKeys();
    keys.sort();
    EXPECT_EQ(keys, expectedKeys());
    const struct {
        const char *key;
        const char *text;
    } defaults[] = {{"Event/EventRecordRatio", "30"}, {"Event/OverspeedLimit", "200"}, {"Event/Diaplay_KM", "true"},
        {"System/RecordFrame", "2"}, {"System/AutoParking", "10"}, {"System/ConnectedCamera_Front", "true"},
        {"System/ConnectedCamera_Cam2", "true"}, {"Network/FTP_Send_All", "true"}, {"Network/DHCP", "true"},
        {"Network/FTP_Send_Log", "false"}, {"Information/SoftwareVersion", "2023.03.14"}};
    for (const auto &d : defaults)
        EXPECT_EQ(ini.value(d.key).toString(), QString(d.text)) << d.key;
}

TEST(Config, EveryValueSurvivesSaveAndLoad)
{
    SettingsTestHome home;
    Config config;
    ConfigValues &v = config.values;
    v.company = "Fleet ÄÖ, Ltd; [x]";
    v.aviFolder = home.path() + "/exports with space";
    v.mirror[2] = true;
    v.password = "s=cr#t";
    v.wifiSpeed = 54;
    v.dhcp = false;
    v.events[5] = false;
    v.gSensorParking[1] = 9;
    v.displayKm = false;
    v.overspeedLimit = 137;
    v.recordFrame = 0;
    v.gmt = -14;
    v.ledParkingSpeed = 7;
    v.connectedCamera[0] = false;
    v.connectedCamera[3] = false;
    v.autoShutdownTimer = 1440;
    config.setTileServer("http://127.0.0.1:9/tiles");
    ASSERT_TRUE(config.save());

    Config fresh;
    ASSERT_TRUE(fresh.load());
    EXPECT_TRUE(fresh.values == config.values);
    EXPECT_FALSE(fresh.speedKmh());
    EXPECT_EQ(fresh.values.gmt, -14);
    EXPECT_EQ(fresh.tileServer(), "http://127.0.0.1:9/tiles");
}

TEST(Config, TileServerUnsetEmptyAndSetAreThreeStates)
{
    SettingsTestHome home;
    const struct {
        const char *ini;
        bool set;
        const char *url;
    } cases[] = {{"[Map]\n", false, ""}, {"[Map]\nTileServer=\n", true, ""},
        {"[Map]\nTileServer=https://tiles.example/osm\n", true, "https://tiles.example/osm"}};
    for (const auto &c : cases) {
        writeIni(c.ini);
        Config config;
        ASSERT_TRUE(config.load());
        EXPECT_EQ(config.tileServerSet(), c.set) << c.ini;
        EXPECT_EQ(config.tileServer(), QString(c.url)) << c.ini;
        // Saving keeps the state: an empty server stays "off", not "default".
        ASSERT_TRUE(config.save());
        Config again;
        ASSERT_TRUE(again.load());
        EXPECT_EQ(again.tileServerSet(), c.set) << c.ini;
        EXPECT_EQ(again.tileServer(), QString(c.url)) << c.ini;
    }
}

TEST(Config, HandEditedValuesOutOfRangeKeepTheirDefaults)
{
    SettingsTestHome home;
    writeIni("[System]\nRecordFrame=7\nGMT=-300\nVolume=abc\nLED_Driving_Type=2\nVoiceRecord=maybe\n"
             "[Event]\nOverspeedLimit=256\nDiaplay_KM=false\nEventImpact=0\n"
             "[Viewer]\nMirror_Front=1\nUnknownKey=kept\n");
    Config config;
    ASSERT_TRUE(config.load());
    const ConfigValues d = Config::defaults();
    EXPECT_EQ(config.values.recordFrame, d.recordFrame);
    EXPECT_EQ(config.values.gmt, d.gmt);
    EXPECT_EQ(config.values.volume, d.volume);
    EXPECT_EQ(config.values.overspeedLimit, d.overspeedLimit);
    EXPECT_EQ(config.values.voiceRecord, d.voiceRecord);
    EXPECT_FALSE(config.values.displayKm);
    EXPECT_FALSE(config.values.events[0]);
    EXPECT_TRUE(config.values.mirror[0]);
    // Keys other parts of the program keep in the file survive a save.
    ASSERT_TRUE(config.save());
    EXPECT_EQ(QSettings(Config::iniPath(), QSettings::IniFormat).value("Viewer/UnknownKey").toString(), "kept");
}

TEST(Config, UnwritableIniReportsFailureAndResetKeepsFrontCamera)
{
    SettingsTestHome home;
    Config config;
    // A folder where the file should be: no write can succeed.
    ASSERT_TRUE(QDir().mkpath(Config::iniPath()));
    EXPECT_FALSE(config.save());
    EXPECT_FALSE(config.error().isEmpty());

    config.values.connectedCamera[0] = false;
    config.values.volume = 1;
    config.resetToDefaults();
    EXPECT_TRUE(config.values == Config::defaults());
    EXPECT_TRUE(config.values.connectedCamera[0]);
}
