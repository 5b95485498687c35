#pragma once
// Reads the bank headers of one data file or archive: for each bank its
// first 203 bytes and then its header, nothing else.
#include "BankEntry.h"
#include "BankHeader.h"

#include <QIODevice>
#include <QVector>

struct BankWalk {
    QVector<BankEntry> entries;
    BankHeader lastValid;      // the last valid header met
    bool anyValid = false;
};

// Walks count banks of bankSize bytes starting at firstBank; the caller has
// checked that they lie inside the device. Each header is where byte 162 of
// its bank puts it; in an archive a bank without a valid header there is
// also tried at the late place. Banks whose header is misplaced, unreadable
// or invalid are skipped.
void walkBanks(QIODevice &device, const QString &path, qint64 firstBank, qint64 count,
               quint32 bankSize, bool archive, BankWalk *walk);
