#pragma once
#include <QStringList>

// zidavova-tool export SOURCE (--entry N | --from TIME --to TIME) --out BASE
//   [--channels LIST] [--audio] [--subtitles date,speed,location] [--overwrite]
//   [--password TEXT] [--mf2-keys K0,K1,K2]
// Writes BASE-<channel>.mkv (and BASE-<channel>.smi when a subtitle item is
// asked) through the viewer's export thread; progress on stderr, a JSON
// summary on stdout. Ctrl+C (SIGINT, SIGTERM) stops it cleanly.
extern const char *const exportUsage;
int exportCommand(const QStringList &args);
