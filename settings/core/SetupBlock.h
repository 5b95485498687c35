#pragma once
// The index card's 431-byte setup block (offset 512000 of the index file)
// and how its bytes map to the viewer's settings (ConfigValues).
//
// Saving writes a field only when its value was changed: every other byte,
// including codes the viewer cannot show (an unknown frame code, LED code,
// time zone, auto-shutdown value, the camera mask's low bits), stays as the
// camera wrote it. Byte 17 is set to 34 on every save.
#include "Config.h"

#include <QByteArray>
#include <QString>
#include <QVector>

namespace SetupBlock {

constexpr int Size = 431;

struct TimeZone {
    int code;        // quarter hours as the camera stores it (signed byte 28)
    int minutes;     // offset from UTC
    const char *label;
};
// The 40 zones of the index camera, in combo order.
const QVector<TimeZone> &timeZones();
int timeZoneIndexForCode(int code);       // -1 when no zone has the code
int timeZoneIndexForMinutes(int minutes); // -1 when no zone has the offset
// The zone's label, "Unknown (n)" for a code no zone has.
QString timeZoneLabel(int code);

struct AutoShutdownChoice {
    const char *label;
    int value;
};
const QVector<AutoShutdownChoice> &autoShutdownChoices();
// The first choice with value, -1 when none.
int autoShutdownIndex(int value);

// The voltage combo's labels, indexed by the Voltage value.
const QStringList &voltageLabels();

// Frame code of byte 10 for RecordFrame 0..2 and back (unknown codes load as 0).
int frameCodeFor(int recordFrame);
int recordFrameFor(int frameCode);

// The viewer's settings with every camera field taken from block (which
// must be Size bytes); the others (folders, mirrors, speed unit, ...) come
// from base. FirmwareVersion shows modelCode when there is one.
ConfigValues load(const QByteArray &block, const ConfigValues &base, const QByteArray &modelCode);

// block with each field whose value differs between edited and loaded
// (the values load() gave for block) written, and byte 17 set to 34.
QByteArray store(const QByteArray &block, const ConfigValues &edited, const ConfigValues &loaded);

// The card password (bytes 18..27).
bool passwordInForce(const QByteArray &block);
// True when typed opens the card exactly as the password dialog checks it
// (always true when no password is in force).
bool passwordAccepted(const QByteArray &block, const QString &typed);

enum class PasswordChange { Staged, WrongCurrent, Different, TooLong, BadCharacter };
// Checks the three fields and stages the new password in block: an empty
// new password removes it. A password the password dialog could not accept
// exactly as typed (more than 8 bytes, control characters) is refused.
PasswordChange changePassword(QByteArray &block, const QString &current, const QString &newPassword,
                              const QString &confirm);
QString passwordChangeMessage(PasswordChange result);

} // namespace SetupBlock
