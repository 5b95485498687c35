#pragma once
// The viewer's own settings: <Documents>/ZidavOva/config.ini, read and
// written through QSettings in INI format. It holds the viewer's folders,
// the mirror flags, the speed unit, the map's tile server and a readable
// copy of an index card's camera settings (the setup block, see SetupBlock).
//
// Keys are "Group/Field" exactly as the camera family has always named them
// ("Event/Diaplay_KM" included). Keys this class does not know are kept.
#include <QDateTime>
#include <QString>

struct ConfigValues {
    // Information
    QString firmwareVersion = QStringLiteral("1.0.1");
    QString softwareVersion = QStringLiteral("2023.03.14");
    QString company = QStringLiteral("Company");
    QString vehicleType = QStringLiteral("Vehicle Type");
    QString licensePlate = QStringLiteral("License");
    QString driver = QStringLiteral("Driver");
    // Viewer (folders are filled from the Documents folder by Config)
    QString aviFolder;
    QString captureFolder;
    QString smartBackupFolder;
    bool mirror[4] = {false, false, false, false};   // front, cam2, cam3, cam4
    QString password;
    // Network
    QString ftpIp, ftpId, ftpPassword, wifiSsid, wifiPassword, wifiType;
    bool dhcp = true;
    QString wifiIp, wifiNetmask, wifiGateway;
    int wifiSpeed = 0;
    bool ftpSendAll = true;
    bool ftpSendEvent = false;
    bool ftpSendLog = false;
    // Event
    int eventRecordRatio = 30;
    // Impact, PreEvent, SuddenStop, SuddenAcceleration, SharpTurn,
    // Emergency, Overspeed, ExternalSignal: the bit order of the camera's mask.
    bool events[8] = {true, true, true, true, true, true, true, true};
    int gSensorDriving[3] = {5, 5, 5};
    int gSensorParking[3] = {5, 5, 5};
    bool displayKm = true;   // true km/h, false MPH
    int overspeedLimit = 200;
    int suddenStopSensitivity = 5;
    int suddenAccelerationSensitivity = 5;
    int sharpTurn = 5;
    // System
    int recordFrame = 2;      // 0 7.5 FPS, 1 15 FPS, 2 30 FPS
    int recordQuality = 2;
    bool voiceRecord = true;
    int volume = 3;
    QDateTime setTime;        // "Set Time": not stored, the dialog's clock
    int gmt = 0;              // zone code in quarter hours
    int ledDrivingType = 2;
    int ledDrivingSpeed = 2;
    int ledParkingType = 2;
    int ledParkingSpeed = 2;
    // Front, cam2, cam3, cam4. The front camera defaults to connected: a reset
    // must never switch off the camera that records the road.
    bool connectedCamera[4] = {true, true, true, true};
    int voltage = 3;
    int autoParking = 10;
    int autoShutdownTimer = 0;
    // Map (beyond the camera's keys): the tile base URL. Not set means the
    // built-in default; set to empty switches online tiles off.
    bool tileServerSet = false;
    QString tileServer;
    // Telemetry (beyond the camera's keys): harsh-event thresholds, milli-g.
    int hardBrakingMilliG = 400;
    int hardAccelerationMilliG = 300;
    int impactMilliG = 1500;

    bool operator==(const ConfigValues &o) const;
    bool operator!=(const ConfigValues &o) const { return !(*this == o); }
};

class Config
{
public:
    static constexpr const char *EventNames[8] = {"EventImpact", "EventPreEvent", "EventSuddenStop",
        "EventSuddenAcceleration", "EventSharpTurn", "EventEmergency", "EventOverspeed",
        "EventExternalSignal"};
    static constexpr const char *CameraNames[4] = {"Front", "Cam2", "Cam3", "Cam4"};

    // Defaults, then the folder check.
    Config();

    // The user's Documents folder, <Documents>/ZidavOva and config.ini in it.
    static QString documentsFolder();
    static QString settingsFolder();
    static QString iniPath();
    // The defaults with the folders under the current Documents folder.
    static ConfigValues defaults();

    // Creates ZidavOva, ZidavOva/MKV, ZidavOva/BMP and ZidavOva/SmartBackup
    // when missing; false when one of them could not be made.
    static bool ensureFolders();

    // Reads config.ini over the current values (a missing key keeps its
    // value). False when the file exists but cannot be read or parsed;
    // the values are then left as they were.
    bool load();
    // Writes every key. QSettings replaces the file atomically, so a
    // failure leaves the earlier file whole; false then, with error() set.
    bool save();
    // Back to the defaults (Documents folders, front camera connected).
    void resetToDefaults();

    // base with each value the user changed: a value that differs between
    // shown (what the widgets showed when filled) and now (what they show
    // now) is taken from now, every other one stays as in base. Widgets that
    // cannot show a stored value therefore never overwrite it.
    static ConfigValues mergeEdits(const ConfigValues &base, const ConfigValues &shown, const ConfigValues &now);

    QString error() const { return lastError; }

    ConfigValues values;

    // Typed accessors for the settings other parts of the viewer use.
    bool speedKmh() const { return values.displayKm; }
    void setSpeedKmh(bool kmh) { values.displayKm = kmh; }
    QString aviFolder() const { return values.aviFolder; }
    QString captureFolder() const { return values.captureFolder; }
    QString smartBackupFolder() const { return values.smartBackupFolder; }
    bool mirror(int camera) const { return camera >= 0 && camera < 4 && values.mirror[camera]; }
    // False when the INI never set Map/TileServer.
    bool tileServerSet() const { return values.tileServerSet; }
    // The tile base URL; empty with tileServerSet() means online tiles off.
    QString tileServer() const { return values.tileServer; }
    void setTileServer(const QString &url)
    {
        values.tileServerSet = true;
        values.tileServer = url;
    }
    void unsetTileServer()
    {
        values.tileServerSet = false;
        values.tileServer.clear();
    }

private:
    QString lastError;
};
