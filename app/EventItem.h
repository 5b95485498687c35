#pragma once
// One row of the event list for an index store or an archive: a bank of the
// catalogue with its block number and event type.
#include "BankEntry.h"

#include <QDateTime>

struct EventItem {
    qint32 index = 0;      // position in the catalogue's bank list
    qint32 block = 0;
    QDateTime startTime;
    qint32 type = 0;       // 1 event, 0 normal
    BankEntry entry;
};
