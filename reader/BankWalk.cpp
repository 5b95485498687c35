#include "BankWalk.h"

#include "FileAccess.h"

namespace {

// The valid header of the bank at position, or false.
bool readHeader(QIODevice &device, qint64 position, qint64 headerAt, quint32 bankSize, BankHeader *out)
{
    char bytes[BankHeader::Size];
    if (headerAt < 0 || !readExactly(device, position + headerAt, bytes, BankHeader::Size))
        return false;
    *out = BankHeader(QByteArray(bytes, BankHeader::Size));
    return out->isValid(bankSize);
}

} // namespace

void walkBanks(QIODevice &device, const QString &path, qint64 firstBank, qint64 count,
               quint32 bankSize, bool archive, BankWalk *walk)
{
    char start[BankHeader::Size];
    for (qint64 i = 0; i < count; ++i) {
        const qint64 position = firstBank + i * qint64(bankSize);
        if (!readExactly(device, position, start, BankHeader::Size))
            continue;
        const qint64 headerAt = BankHeader::offsetInBank(start, bankSize);
        BankHeader h;
        bool found = readHeader(device, position, headerAt, bankSize, &h);
        // Archives were once read with every header at the late place;
        // those written so keep opening.
        const qint64 late = BankHeader::lateOffset(bankSize);
        if (!found && archive && late != headerAt)
            found = readHeader(device, position, late, bankSize, &h);
        if (!found)
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
