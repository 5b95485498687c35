#include "ArchiveHead.h"

#include "BankHeader.h"
#include "FileAccess.h"
#include "LittleEndian.h"

int ArchiveHead::read(QIODevice &device, qint64 fileSize)
{
    char head[Size];
    if (fileSize < Size || !readExactly(device, 0, head, Size))
        return -1;
    if (le::u32(head) != 0x1111 || le::u32(head + 4) != 0x2222)
        return -1;
    const quint32 size = le::u32(head + 552);
    if (size < BankHeader::MinBankSize || size < BankHeader::LateHeaderDistance + BankHeader::Size)
        return -1;
    const quint32 count = le::u32(head + 544);
    const qint64 first = Size + qint64(TableRecordSize) * count;
    // Divide rather than multiply: count x size may not fit in 64 bits.
    if (first > fileSize || qint64(count) > (fileSize - first) / size)
        return -1;
    passwordSet = le::u32(head + 520) != 0;
    password = QByteArray(head + 524, PasswordLength);
    channels = int(qBound<quint32>(1, le::u32(head + 540), 8));
    bankCount = count;
    bankSize = size;
    firstBank = first;
    return 0;
}
