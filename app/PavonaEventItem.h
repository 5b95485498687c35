#pragma once
// One row of the event list for a record-file store: a recording file of the
// catalogue with its block number and event type.
#include "FileRecord.h"

#include <QDateTime>

struct PavonaEventItem {
    qint32 index = 0;      // position in the catalogue's file list
    qint32 block = 0;
    QDateTime startTime;
    qint32 type = 0;       // 0 normal, 2 driving event, 3 parking event
    FileRecord record;
};
