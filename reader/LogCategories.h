#pragma once
// The diagnostic lines of each subsystem go through their own logging
// category, so QT_LOGGING_RULES (for example "zidavova.playback.debug=false")
// selects or silences them. Warnings and errors are shown whatever the rules
// say: a person running the program must always learn why something failed.
#include <QLoggingCategory>

Q_DECLARE_LOGGING_CATEGORY(lcReader)
Q_DECLARE_LOGGING_CATEGORY(lcDemux)
Q_DECLARE_LOGGING_CATEGORY(lcPlayback)
Q_DECLARE_LOGGING_CATEGORY(lcAudio)
Q_DECLARE_LOGGING_CATEGORY(lcShell)
Q_DECLARE_LOGGING_CATEGORY(lcTelemetry)

// Installs the filter that keeps warnings and errors on; quiet also turns
// the diagnostic (debug and info) lines of every category off.
void installLogControl(bool quiet);
