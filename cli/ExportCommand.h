#pragma once
#include <QStringList>

#include <functional>

// zidavova-tool export SOURCE (--entry N | --from TIME --to TIME) --out BASE
//   [--channels LIST] [--audio] [--subtitles date,speed,location] [--overwrite]
//   [--password TEXT] [--mf2-keys K0,K1,K2]
// Writes BASE-<channel>.mkv (and BASE-<channel>.smi when a subtitle item is
// asked) through the viewer's export thread; progress on stderr, a JSON
// summary on stdout. 0 every channel written or skipped, 1 one failed, 2
// refused arguments; stopRequested() (polled) stops it cleanly and then the
// result is stopSignalExit().
extern const char *const exportUsage;
// Without stopRequested the command handles SIGINT and SIGTERM itself.
int exportCommand(const QStringList &args, std::function<bool()> stopRequested = nullptr,
                  std::function<int()> stopSignalExit = nullptr);
