#pragma once
#include <QStringList>

// zidavova-tool play SOURCE [--entry N] [--seconds S] [--mode forward|backward|fast]
//   [--speed X] [--channels LIST] [--audio-out FILE]
// Runs the real read, decode and render threads on one entry with a sink
// that counts shown frames, and prints one JSON object of what was shown.
int playCommand(const QStringList &args);
