#pragma once
// Small recording files, index cards and archives written byte by byte, so
// each test states exactly the damage it is about.
#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>
#include <QVector>
#include <cstring>

namespace cardfiles {

inline void put32(QByteArray &b, int at, quint32 v)
{
    for (int i = 0; i < 4; ++i)
        b[at + i] = char((v >> (8 * i)) & 0xff);
}

inline void put16(QByteArray &b, int at, quint16 v)
{
    b[at] = char(v & 0xff);
    b[at + 1] = char(v >> 8);
}

inline void put64(QByteArray &b, int at, quint64 v)
{
    put32(b, at, quint32(v));
    put32(b, at + 4, quint32(v >> 32));
}

inline void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    f.open(QIODevice::WriteOnly | QIODevice::Truncate);
    f.write(bytes);
}

// Current trailer: name, channels of 320 x 240 (channel c: width 320 + c),
// duration in seconds.
inline QByteArray trailer(const QByteArray &name, int channels, quint32 duration)
{
    QByteArray t(1696, '\0');
    memcpy(t.data(), name.constData(), size_t(qMin(name.size(), 64)));
    t[64] = char(channels);
    for (int c = 0; c < qMin(channels, 8); ++c) {
        put32(t, 68 + 8 * c, 320 + c);
        put32(t, 72 + 8 * c, 240);
    }
    put32(t, 136, duration);
    return t;
}

// Older trailer: 1000 bytes, name repeated at 936, 12-byte slots.
inline QByteArray olderTrailer(const QByteArray &name, int channels, quint32 duration)
{
    QByteArray t = trailer(name, channels, duration).left(1000);
    for (int i = 0; i < 64; ++i) {
        put32(t, 160 + 12 * i, 1000 + i);
        put32(t, 164 + 12 * i, 0x80000000u + i);
    }
    memcpy(t.data() + 936, t.constData(), 28);
    return t;
}

// A recording: media bytes, then the trailer 2048 (current) or 1024 (older)
// bytes before the end.
inline QString recording(const QString &dir, const QString &fileName, const QByteArray &trailerBytes,
                         const QByteArray &head = QByteArray(4096, 'm'))
{
    const bool older = trailerBytes.size() == 1000;
    QByteArray bytes = head + trailerBytes;
    bytes.append(QByteArray(older ? 24 : 352, '\0'));
    const QString path = dir + QLatin1Char('/') + fileName;
    writeFile(path, bytes);
    return path;
}

// The head of an MF2 file with a password scrambled by key.
inline QByteArray mf2iHead(const QByteArray &password, quint32 keyIndex, quint32 key)
{
    QByteArray h(4096, '\0');
    memcpy(h.data(), "MF2I", 4);
    put32(h, 16 + 40, keyIndex);
    for (int i = 0; i < 32; ++i) {
        const quint8 plain = i < password.size() ? quint8(password[i]) : 0;
        h[16 + 44 + i] = char(plain ^ quint8(key >> (8 * (i % 4))));
    }
    return h;
}

struct Bank {
    quint16 seq = 1;
    qint32 start = 1700000000;
    qint32 end = 1700000060;
    quint8 status = 0;
    quint32 sortKey = 1;
    quint8 channels = 2;
    quint32 dataEnd = 40000;
    char placeCode = '0';          // byte 162 of the bank start
    bool valid = true;
    QByteArray codes = QByteArray("\x01\x02", 2);
};

// One bank of bankSize bytes with its header where the place code puts it.
inline QByteArray bank(const Bank &b, quint32 bankSize, bool archive = false)
{
    QByteArray bytes(int(bankSize), '\0');
    bytes[162] = b.placeCode;
    const bool late = archive || (b.placeCode >= '2' && b.placeCode <= '9');
    const qint64 at = late ? qint64(bankSize) - 204800 : 16384;
    if (at < 0 || at + 203 > bankSize)
        return bytes;
    QByteArray h(203, '\0');
    put16(h, 0, b.valid ? 0x1111 : 0x2222);
    put16(h, 2, b.seq);
    h[4] = 1;
    put32(h, 7, b.dataEnd);
    put32(h, 19, quint32(b.end));
    put32(h, 23, quint32(b.start));
    h[27] = char(b.status);
    put32(h, 32, b.sortKey);
    h[36] = char(b.channels);
    memcpy(h.data() + 48, "ZV42", 4);
    for (int c = 0; c < b.codes.size(); ++c)
        h[182 + c] = b.codes[c];
    bytes.replace(int(at), 203, h);
    return bytes;
}

// Index file: head (area size, channels, bank size) and the setup block at
// 512000 with an optional card password (stored lowered by 20).
inline QByteArray indexFile(qint64 areaSize, quint8 channels, quint32 bankSize,
                            const QByteArray &password = QByteArray(), int size = 512431)
{
    QByteArray f(512431, '\0');
    put64(f, 20, quint64(areaSize));
    f[28] = char(channels);
    put32(f, 84, bankSize);
    if (!password.isEmpty()) {
        f[512000 + 18] = 'p';
        f[512000 + 19] = 'w';
        for (int i = 0; i < qMin(password.size(), 8); ++i)
            f[512000 + 20 + i] = char(quint8(password[i]) - 20);
    }
    return f.left(size);
}

// Archive: head, a bank table of zeros, then the banks.
inline QByteArray archive(const QVector<Bank> &banks, quint32 bankSize, quint8 channels,
                          const QByteArray &password = QByteArray())
{
    QByteArray a(556, '\0');
    put32(a, 0, 0x1111);
    put32(a, 4, 0x2222);
    if (!password.isEmpty()) {
        put32(a, 520, 1);
        memcpy(a.data() + 524, password.constData(), size_t(qMin(password.size(), 12)));
    }
    put32(a, 540, channels);
    put32(a, 544, quint32(banks.size()));
    put32(a, 552, bankSize);
    a.append(QByteArray(72 * banks.size(), '\0'));
    for (const Bank &b : banks)
        a.append(bank(b, bankSize, true));
    return a;
}

} // namespace cardfiles
