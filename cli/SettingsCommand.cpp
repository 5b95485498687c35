#include "SettingsCommand.h"

#include "CardSettings.h"
#include "CommandLine.h"
#include "PavonaConfig.h"
#include "SetupBlock.h"
#include "SourceOpening.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <cstdio>

namespace {

QString pick(const QStringList &labels, int index)
{
    return index >= 0 && index < labels.size() ? labels[index] : QStringLiteral("Unknown (%1)").arg(index);
}

const QStringList &qualityLabels()
{
    static const QStringList labels = {"Low", "Middle", "High"};
    return labels;
}

QJsonObject indexValues(const ConfigValues &v, const QByteArray &block)
{
    static const QStringList frames = {"Minimum (7.5 FPS)", "Middle (15 FPS)", "Maximum (30 FPS)"};
    static const QStringList leds = {"Off", "On", "Blink"};
    static const char *const events[8] = {"impact", "preEvent", "suddenStop", "suddenAcceleration", "sharpTurn",
        "emergency", "overspeed", "externalSignal"};
    static const char *const cameras[4] = {"front", "cam2", "cam3", "cam4"};
    QJsonObject eventSwitches, connected;
    for (int i = 0; i < 8; ++i)
        eventSwitches.insert(events[i], v.events[i]);
    for (int i = 0; i < 4; ++i)
        connected.insert(cameras[i], v.connectedCamera[i]);
    const int shutdown = SetupBlock::autoShutdownIndex(v.autoShutdownTimer);
    return QJsonObject{
        {"model", v.firmwareVersion},
        {"company", v.company},
        {"vehicleType", v.vehicleType},
        {"licensePlate", v.licensePlate},
        {"driver", v.driver},
        {"recordFrame", frames[v.recordFrame]},
        {"recordQuality", pick(qualityLabels(), v.recordQuality)},
        {"voiceRecord", v.voiceRecord},
        {"volume", v.volume},
        {"timeZone", SetupBlock::timeZoneLabel(v.gmt)},
        {"ledDriving", leds[v.ledDrivingType]},
        {"ledDrivingSpeed", v.ledDrivingSpeed},
        {"ledParking", leds[v.ledParkingType]},
        {"ledParkingSpeed", v.ledParkingSpeed},
        {"connectedCameras", connected},
        {"voltage", pick(SetupBlock::voltageLabels(), v.voltage)},
        {"autoParkingMinutes", v.autoParking},
        {"autoShutdown", shutdown >= 0 ? QString::fromLatin1(SetupBlock::autoShutdownChoices()[shutdown].label)
                                       : QStringLiteral("Unknown (%1)").arg(v.autoShutdownTimer)},
        {"eventRecordRatio", QStringLiteral("%1%").arg(v.eventRecordRatio)},
        {"events", eventSwitches},
        {"gSensorDriving", QJsonArray{v.gSensorDriving[0], v.gSensorDriving[1], v.gSensorDriving[2]}},
        {"gSensorParking", QJsonArray{v.gSensorParking[0], v.gSensorParking[1], v.gSensorParking[2]}},
        {"overspeedLimit", QStringLiteral("%1Km/h").arg(v.overspeedLimit)},
        {"suddenStopSensitivity", v.suddenStopSensitivity},
        {"suddenAccelerationSensitivity", v.suddenAccelerationSensitivity},
        {"sharpTurnSensitivity", v.sharpTurn},
        {"cardPassword", SetupBlock::passwordInForce(block)},
    };
}

QJsonObject recordValues(const PavonaValues &v, const unsigned char *image)
{
    static const QStringList codecs = {"H.264", "H.265"};
    static const QStringList memory = {"DRIVING(90) / PARKING(10)", "DRIVING(80) /PARKING(20)", "DRIVING(70) /PARKING(30)"};
    static const QStringList power = {"UNUSED", "11.6V / 23.6V", "11.8V / 23.8V", "12.0V / 24.0V", "12.2V / 24.2V",
        "12.4V / 24.4V", "12.6V / 24.6V"};
    // Each channel as the camera keeps it; the dialog shows the last one's.
    QJsonArray channels;
    const quint32 count = quint32(image[2228]) | quint32(image[2229]) << 8 | quint32(image[2230]) << 16 | quint32(image[2231]) << 24;
    for (quint32 c = 0; c < qMin<quint32>(count, 8); ++c) {
        auto word = [&](int field) {
            const unsigned char *p = image + 2232 + 292 * c + 4 * field;
            return int(quint32(p[0]) | quint32(p[1]) << 8 | quint32(p[2]) << 16 | quint32(p[3]) << 24);
        };
        channels.append(QJsonObject{{"channel", int(c)}, {"codec", pick(codecs, word(0))},
            {"qualityDriving", pick(qualityLabels(), word(3))}, {"frameRateDriving", word(4)},
            {"qualityParking", pick(qualityLabels(), word(6))}, {"frameRateParking", word(7)}});
    }
    return QJsonObject{
        {"model", v.model},
        {"manufacturer", v.manufacture},
        {"hardwareVersion", v.firmwareVersion},
        {"softwareVersion", v.softwareVersion},
        {"updateDate", v.updateDate},
        {"timeZone", PavonaConfig::timeZoneLabel(v.gmt)},
        {"language", v.language},
        {"volume", v.volume},
        {"powerCutOff", pick(power, v.voltageValue)},
        {"codec", pick(codecs, v.typCodec)},
        {"quality", pick(qualityLabels(), v.qualityD)},
        {"voiceRecording", v.audioSave != 0},
        {"memoryAllocation", pick(memory, v.storageRatio)},
        {"impactDriving", v.impactDrive},
        {"impactParking", v.impactPark},
        {"collisionWarning", v.notifyFcw},
        {"laneWarning", v.notifyLane},
        {"safetyAssist", v.safetyAssist},
        {"cameraLossNotice", v.cameraLoss},
        {"driveTimeNotice", v.driveTimeUse},
        {"channels", channels},
    };
}

} // namespace

QJsonObject settingsJson(const Reader &reader, const CardSettings &s)
{
    QJsonObject values;
    if (s.store == CardSettings::Store::Index) {
        values = indexValues(SetupBlock::load(s.setupBlock, Config::defaults(), reader.modelCode()), s.setupBlock);
    } else {
        const auto *image = reinterpret_cast<const unsigned char *>(s.image.constData());
        values = recordValues(PavonaConfig::fromImage(image, PavonaValues()), image);
    }
    return QJsonObject{{"store", s.storeName()}, {"source", s.sourceName()}, {"path", s.path},
        {"faithful", s.faithful}, {"reason", s.reason}, {"values", values}};
}

int settingsCommand(const QStringList &args)
{
    QString source;
    QByteArray password;
    bool havePassword = false;
    for (int i = 0; i < args.size(); ++i) {
        const QString &arg = args[i];
        if (arg == QLatin1String("--password") && i + 1 < args.size()) {
            password = args[++i].toUtf8();
            havePassword = true;
        } else if (source.isEmpty() && !arg.startsWith(QLatin1Char('-'))) {
            source = arg;
        } else {
            return refuseArguments("settings", QStringLiteral("unexpected argument %1").arg(arg));
        }
    }
    if (source.isEmpty())
        return refuseArguments("settings", QStringLiteral("no SOURCE given"));

    Reader reader;
    usePassword(reader, defaultMf2Keys(), havePassword, password);
    QJsonObject catalogue;
    const QString error = openSource(reader, source, &catalogue);
    // An index card whose recordings cannot be listed still has its settings.
    if (!error.isEmpty() && reader.source().kind != SourceKind::IndexCard)
        return failCommand("settings", error);
    const CardSettings settings = CardSettings::fromReader(reader);
    if (!settings.read)
        return failCommand("settings", settings.reason);
    fputs(QJsonDocument(settingsJson(reader, settings)).toJson(QJsonDocument::Compact).constData(), stdout);
    fputc('\n', stdout);
    return 0;
}
