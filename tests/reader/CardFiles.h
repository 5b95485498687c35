#pragma once
// Small recording files, index cards and archives written byte by byte, so
// each test states exactly the damage it is about.
#include "PasswordCheck.h"
#include "ProcessRun.h"

#include <QDir>
#include <QDirIterator>
#include <QStringList>
#include <QVector>
#include <cstring>

namespace cardfiles {

// Little-endian field of width bytes.
inline void put(QByteArray &b, int at, quint64 v, int width = 4)
{
    for (int i = 0; i < width; ++i)
        b[at + i] = char(v >> (8 * i));
}

// Current trailer: name, channels of 320 x 240 (channel c: width 320 + c),
// duration in seconds.
inline QByteArray trailer(const QByteArray &name, int channels, quint32 duration)
{
    QByteArray t(1696, '\0');
    t.replace(0, qMin(name.size(), 64), name.left(64));
    t[64] = char(channels);
    for (int c = 0; c < qMin(channels, 8); ++c) {
        put(t, 68 + 8 * c, 320 + c);
        put(t, 72 + 8 * c, 240);
    }
    put(t, 136, duration);
    return t;
}

// Older trailer: 1000 bytes, name repeated at 936, 12-byte slots.
inline QByteArray olderTrailer(const QByteArray &name, int channels, quint32 duration)
{
    QByteArray t = trailer(name, channels, duration).left(1000);
    for (int i = 0; i < 64; ++i) {
        put(t, 160 + 12 * i, 1000 + i);
        put(t, 164 + 12 * i, 0x80000000u + i);
    }
    t.replace(936, 28, t.left(28));
    return t;
}

// A recording: media bytes, then the trailer 2048 (current) or 1024 (older)
// bytes before the end.
inline QString recording(const QString &dir, const QString &fileName, const QByteArray &trailerBytes,
                         const QByteArray &head = QByteArray(4096, 'm'))
{
    const QString path = dir + QLatin1Char('/') + fileName;
    writeFile(path, head + trailerBytes + QByteArray(trailerBytes.size() == 1000 ? 24 : 352, '\0'));
    return path;
}

// The head of an MF2 file with a password scrambled by key.
inline QByteArray mf2iHead(const QByteArray &password, quint32 keyIndex, quint32 key)
{
    QByteArray h(4096, '\0');
    h.replace(0, 4, "MF2I");
    put(h, 56, keyIndex);
    for (int i = 0; i < 32; ++i)
        h[60 + i] = char((i < password.size() ? quint8(password[i]) : 0) ^ quint8(key >> (8 * (i % 4))));
    return h;
}

// A bank of a minute, sequence seq, starting 100 s per sequence number on.
struct Bank {
    quint16 seq = 1;
    quint32 sortKey = 1;
    quint8 status = 0;
    char placeCode = '0'; // byte 162 of the bank start
    qint32 start = 1700000000 + 100 * seq, end = start + 60;
    quint32 dataEnd = 40000;
    bool valid = true;
    QByteArray codes = QByteArray("\x01\x02", 2);
};

// One bank of bankSize bytes with its header where the place code puts it.
inline QByteArray bank(const Bank &b, quint32 bankSize, bool archive = false)
{
    QByteArray bytes(int(bankSize), '\0');
    bytes[162] = b.placeCode;
    const qint64 at = archive || (b.placeCode >= '2' && b.placeCode <= '9') ? qint64(bankSize) - 204800 : 16384;
    if (at < 0 || at + 203 > bankSize)
        return bytes;
    QByteArray h(203, '\0');
    put(h, 0, b.valid ? 0x1111 : 0x2222, 2);
    put(h, 2, b.seq, 2);
    h[4] = 1;
    put(h, 7, b.dataEnd);
    put(h, 19, quint32(b.end));
    put(h, 23, quint32(b.start));
    h[27] = char(b.status);
    put(h, 32, b.sortKey);
    h[36] = 2;
    h.replace(48, 4, "ZV42");
    h.replace(182, b.codes.size(), b.codes);
    return bytes.replace(int(at), 203, h);
}

// Data file of an index card: the banks back to back.
inline QByteArray banks(const QVector<Bank> &list, quint32 bankSize)
{
    QByteArray bytes;
    for (const Bank &b : list)
        bytes += bank(b, bankSize);
    return bytes;
}

// Index file: head (area size, channels, bank size) and the setup block at
// 512000 with an optional card password (stored lowered by 20).
inline QByteArray indexFile(qint64 areaSize, quint8 channels, quint32 bankSize,
                            const QByteArray &password = QByteArray(), int size = 512431)
{
    QByteArray f(512431, '\0');
    put(f, 20, quint64(areaSize), 8);
    f[28] = char(channels);
    put(f, 84, bankSize);
    if (!password.isEmpty())
        f.replace(512018, 2, "pw");
    for (int i = 0; i < qMin(password.size(), 8); ++i)
        f[512020 + i] = char(quint8(password[i]) - 20);
    return f.left(size);
}

// An index card in dir: the index file and one data file.
inline QString indexCard(const QString &dir, const QByteArray &index, const QByteArray &data,
                         const QString &ext = "ibx")
{
    QDir().mkpath(dir);
    writeFile(dir + "/index." + ext, index);
    writeFile(dir + "/00." + ext, data);
    return dir;
}

// An index card in dir of count banks of bankSize bytes, each holding only
// its start and header (the rest of the data file is a hole): large banks
// that cost no disk space to make.
inline bool sparseIndexCard(const QString &dir, int count, quint32 bankSize)
{
    QDir().mkpath(dir);
    if (!writeFile(dir + "/index.ibx", indexFile(0, 2, bankSize)))
        return false;
    QFile data(dir + "/00.ibx");
    if (!data.open(QIODevice::WriteOnly) || !data.resize(qint64(count) * bankSize))
        return false;
    for (int i = 0; i < count; ++i) {
        Bank b;
        b.seq = quint16(i + 1);
        b.sortKey = quint32(i + 1);
        const QByteArray start = bank(b, 16384 + 203);
        if (!data.seek(qint64(i) * bankSize) || data.write(start) != start.size())
            return false;
    }
    return true;
}

// A user who types `typed` at every prompt, which must be of kind and length.
struct ScriptedPrompt {
    QByteArray typed;
    int calls = 0;
    PasswordPrompt prompt(PasswordKind wantKind, int wantLength)
    {
        return [this, wantKind, wantLength](PasswordKind kind, const QByteArray &expected, int length) {
            ++calls;
            EXPECT_EQ(kind, wantKind);
            EXPECT_EQ(length, wantLength);
            return passwordMatches(kind, typed, expected, length);
        };
    }
};

// Archive: head, a bank table of zeros, then the banks.
inline QByteArray archive(const QVector<Bank> &banks, quint32 bankSize, quint8 channels,
                          const QByteArray &password = QByteArray())
{
    QByteArray a(556 + 72 * banks.size(), '\0');
    put(a, 0, 0x1111);
    put(a, 4, 0x2222);
    if (!password.isEmpty()) {
        put(a, 520, 1);
        a.replace(524, qMin(password.size(), 12), password.left(12));
    }
    put(a, 540, channels);
    put(a, 544, quint32(banks.size()));
    put(a, 552, bankSize);
    for (const Bank &b : banks)
        a.append(bank(b, bankSize, true));
    return a;
}

// Every file below dir (sockets and pipes too), relative to it and sorted:
// what a write left behind.
inline QStringList filesBelow(const QString &dir)
{
    QStringList names;
    QDirIterator it(dir, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext())
        names.append(QDir(dir).relativeFilePath(it.next()));
    names.sort();
    return names;
}

} // namespace cardfiles
