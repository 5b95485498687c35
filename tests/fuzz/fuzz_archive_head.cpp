// Smart Backup archive heads and the bank walk they lead to. The first input
// byte chooses between the raw input as the whole file and the input as head
// and table followed by zeros up to the size the head claims (at most 4 MiB),
// so the walk is reached with banks of realistic size. What the walk found
// is then written as a new archive's head and table, which must read back
// with the same numbers and password.
#include "ArchiveHead.h"
#include "BankWalk.h"
#include "LittleEndian.h"
#include "SmartBackup.h"

#include <QBuffer>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    QByteArray file(reinterpret_cast<const char *>(data + 1), int(size - 1));
    if ((data[0] & 1) && file.size() >= ArchiveHead::Size) {
        quint32 count, bankSize;
        memcpy(&count, file.constData() + 544, 4);
        memcpy(&bankSize, file.constData() + 552, 4);
        constexpr qint64 Limit = 4 << 20;
        if (count < Limit / 72 && (count == 0 || bankSize <= Limit / count)) {
            const qint64 claimed = ArchiveHead::Size + 72 * qint64(count) + qint64(count) * bankSize
                - qint64(data[0] >> 1);
            if (claimed > file.size() && claimed <= Limit)
                file.append(QByteArray(int(claimed - file.size()), '\0'));
        }
    }
    QBuffer buffer(&file);
    buffer.open(QIODevice::ReadOnly);
    ArchiveHead head;
    if (head.read(buffer, file.size()) != 0)
        return 0;
    if (head.channels < 1 || head.channels > 8
        || head.firstBank + qint64(head.bankCount) * head.bankSize > file.size())
        __builtin_trap();
    BankWalk walk;
    walkBanks(buffer, QStringLiteral("fuzz.smb"), head.firstBank, head.bankCount, head.bankSize, true, &walk);
    if (walk.entries.isEmpty())
        return 0;

    QByteArray written = SmartBackup::archiveHead(walk.entries, head.password, head.passwordSet);
    for (const BankEntry &e : walk.entries) {
        const QByteArray record = SmartBackup::tableRecord(e);
        if (record.size() != ArchiveHead::TableRecordSize || record.left(32) != QByteArray(32, '\0')
            || le::u16(record.constData() + 54) != e.bankSeq || le::u32(record.constData() + 56) != e.dataEnd
            || le::i64(record.constData() + 64) != e.offset)
            __builtin_trap();
        written += record;
    }
    written.append(QByteArray(int(qint64(walk.entries.size()) * head.bankSize), '\0'));
    QBuffer again(&written);
    again.open(QIODevice::ReadOnly);
    ArchiveHead reread;
    if (reread.read(again, written.size()) != 0 || reread.bankCount != quint32(walk.entries.size())
        || reread.bankSize != head.bankSize || reread.passwordSet != head.passwordSet
        || (head.passwordSet && reread.password != head.password) || reread.channels < 1 || reread.channels > 8)
        __builtin_trap();
    return 0;
}
