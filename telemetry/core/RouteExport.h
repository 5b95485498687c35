#pragma once
// A recording's route as GPX 1.1 and KML 2.2: the valid fixes of its
// normalised track, in time order. The command line and the viewer's
// "Export route…" write these same bytes for the same recording.
#include "TelemetryTrack.h"

#include <QByteArray>
#include <QString>

#include <vector>

// "<source> entry <index>": the track's name.
QString routeName(const QString &source, int entry);

// A GPX track with one point per valid fix: position, UTC time with
// milliseconds and speed in m/s.
QByteArray routeGpx(const std::vector<GpsFix> &fixes, const QString &name);
// A KML placemark with the fixes as a line (a point when there is only one),
// and the time span they cover.
QByteArray routeKml(const std::vector<GpsFix> &fixes, const QString &name);

// Text safe in XML character data and attribute values: markup characters
// escaped, characters XML 1.0 cannot carry (control characters, lone
// surrogates, U+FFFE, U+FFFF) dropped.
QString xmlText(const QString &text);

// Writes bytes to a temporary file beside path and renames it into place
// once all of it is written; on failure path is left as it was, false is
// returned and error says why.
bool writeFileReplacing(const QString &path, const QByteArray &bytes, QString *error);
