#pragma once
#include <QStringList>

// `zidavova-tool telemetry SOURCE --entry N [--format json|csv|gpx|kml]`: the
// GPS samples of the loaded recording as the read thread normalises them
// (decimal degrees, km/h) and its G-sensor samples. Returns the exit code.
int telemetryCommand(const QStringList &args);
