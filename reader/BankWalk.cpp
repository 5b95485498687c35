#include "BankWalk.h"

#include "FileAccess.h"

void walkBanks(QIODevice &device, const QString &path, qint64 firstBank, qint64 count,
               quint32 bankSize, bool archive, BankWalk *walk)
{
    char start[BankHeader::Size];
    char header[BankHeader::Size];
    for (qint64 i = 0; i < count; ++i) {
        const qint64 position = firstBank + i * qint64(bankSize);
        if (!readExactly(device, position, start, BankHeader::Size))
            continue;
        const qint64 headerAt = BankHeader::offsetInBank(start, bankSize, archive);
        if (headerAt < 0 || !readExactly(device, position + headerAt, header, BankHeader::Size))
            continue;
        const BankHeader h(QByteArray(header, BankHeader::Size));
        if (!h.isValid(bankSize))
            continue;
        BankEntry e;
        e.path = path;
        e.start = h.startTime();
        e.end = h.endTime();
        e.sortKey = h.sortKey();
        e.channels = h.channels();
        e.status = h.status();
        e.bankSeq = h.bankSeq();
        e.dataEnd = h.dataEnd();
        e.bankSize = bankSize;
        e.offset = position;
        walk->entries.append(e);
        walk->lastValid = h;
        walk->anyValid = true;
    }
}
