#pragma once
#include <QStringList>

// zidavova-tool backup SOURCE --entries LIST --out FILE.smb [--password TEXT] [--overwrite]
// zidavova-tool backup SOURCE --entries LIST --out-dir DIR [--overwrite]
// Smart Backup of chosen catalogue entries with the viewer's own code: the
// banks of an index card or archive into one archive, the files of a
// record-file source into a folder. A JSON summary on standard output.
int backupCommand(const QStringList &args);
