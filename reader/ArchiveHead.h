#pragma once
// The 556-byte head of a Smart Backup archive (*.smb), read into a local
// copy and checked before anything of the catalogue changes.
#include <QByteArray>
#include <QIODevice>

struct ArchiveHead {
    static constexpr int Size = 556;
    static constexpr int TableRecordSize = 72;
    static constexpr int PasswordLength = 10;   // compared bytes of the 12 stored

    bool passwordSet = false;
    QByteArray password;        // the 10 compared bytes as stored
    int channels = 1;           // clamped to 1..8
    quint32 bankCount = 0;
    quint32 bankSize = 0;
    qint64 firstBank = 0;       // 556 + 72 x bank count

    // 0 on success; -1 when the device is not an archive or its numbers do
    // not fit: wrong magics, short head, a bank size too small to hold a
    // header, or banks running past the end of the file.
    int read(QIODevice &device, qint64 fileSize);
};
