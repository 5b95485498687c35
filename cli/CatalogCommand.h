#pragma once
#include <QStringList>

// `zidavova-tool catalog SOURCE [--password TEXT] [--mf2-keys K0,K1,K2]`:
// opens a card root, folder, recording file or .smb archive and prints its
// catalogue as one JSON object. Returns the exit code.
int catalogCommand(const QStringList &args);
