#pragma once
#include <QStringList>

// `zidavova-tool gprmc`: feeds standard input to the GPRMC parser one line
// per call and prints one JSON line per call. Returns the exit code.
int gprmcCommand(const QStringList &args);
