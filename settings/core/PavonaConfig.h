#pragma once
// The record-file camera's settings as the viewer shows them, the viewer's
// INI file for them (<Documents>/ZidavOva/configpvna.ini, read and written
// only here) and their fields in the 18216-byte settings image.
//
// Writing into an image changes a field only when its value was changed, so
// values the dialog cannot show (a codec code 2, per-channel settings that
// differ, a parking quality of its own) stay as the camera wrote them.
#include <QDateTime>
#include <QString>
#include <QStringList>
#include <QVector>

struct PavonaValues {
    int gmt = 0;             // index into the 43 zones
    int language = 0;
    int volume = 0;
    int typCodec = 1;        // 0 H.264, 1 H.265, 2 per channel
    int qualityD = 1;
    int qualityP = 1;
    int frameRateD = 0;
    int frameRateP = 5;
    int audioSave = 1;
    int storageRatio = 2;    // parking share 10, 20, 30 %
    int voltageUsed = 1;
    int voltageType = 0;
    int voltageValue = 3;
    int temperUsed = 1;
    int temperExpress = 0;
    int temperValue = 60;
    int impactDrive = 2;
    int impactPark = 2;
    bool driveTimeUse = false;
    bool cameraLoss = true;
    bool safetyAssist = false;
    bool notifyFcw = false;
    bool notifyLane = false;
    bool notifyDeparture = false;
    QString model = QStringLiteral("Drive Recorder");
    QString manufacture = QStringLiteral("ODM");
    QString firmwareVersion = QStringLiteral("V1.0");
    QString softwareVersion = QStringLiteral("V1.0");
    QString updateDate = QStringLiteral("2020.06.01");

    bool operator==(const PavonaValues &o) const;
    bool operator!=(const PavonaValues &o) const { return !(*this == o); }
};

class PavonaConfig
{
public:
    static constexpr int ImageSize = 18216;

    PavonaConfig();

    static QString iniPath();
    // ZidavOva, ZidavOva/MOV and ZidavOva/BMP under the Documents folder.
    static bool ensureFolders();

    // The 43 zones of the record-file camera: labels and minute offsets.
    static const QStringList &timeZoneLabels();
    static int timeZoneMinutes(int index);
    static int timeZoneIndexForMinutes(int minutes);
    static QString timeZoneLabel(int index);   // "Unknown (n)" beyond the table

    // Reads configpvna.ini over the current values; a missing file is
    // written with the current values first. False when it cannot be read.
    bool loadIni();
    // Writes configpvna.ini (atomically); false on failure.
    bool saveIni();
    // The constructor's values, for both reset paths.
    void resetToDefaults();

    // The values read from image over base (Information texts included).
    static PavonaValues fromImage(const unsigned char *image, const PavonaValues &base);
    // Writes into image each field whose value differs between edited and
    // loaded (what fromImage gave for this image).
    static void toImage(unsigned char *image, const PavonaValues &edited, const PavonaValues &loaded);
    // base with the values that differ between shown and now taken from now.
    static PavonaValues mergeEdits(const PavonaValues &base, const PavonaValues &shown, const PavonaValues &now);

    PavonaValues values;
    QDateTime dateTime;

    unsigned char *image() { return settingsImage.data(); }
    const unsigned char *image() const { return settingsImage.data(); }

private:
    QVector<unsigned char> settingsImage;
};
