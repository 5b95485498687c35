#pragma once
// Little-endian field writers for the fixed-layout records of both card stores.
#include <QByteArray>
#include <QtEndian>
#include <cstring>

namespace le {

inline void put8(QByteArray &b, int off, quint8 v) { b[off] = char(v); }

inline void put16(QByteArray &b, int off, quint16 v)
{
    qToLittleEndian(v, reinterpret_cast<uchar *>(b.data() + off));
}

inline void put32(QByteArray &b, int off, quint32 v)
{
    qToLittleEndian(v, reinterpret_cast<uchar *>(b.data() + off));
}

inline void put64(QByteArray &b, int off, quint64 v)
{
    qToLittleEndian(v, reinterpret_cast<uchar *>(b.data() + off));
}

inline void putF64(QByteArray &b, int off, double v)
{
    quint64 bits;
    std::memcpy(&bits, &v, sizeof bits);
    put64(b, off, bits);
}

// Copies at most `field` bytes of the text; the rest of the field stays zero.
inline void putText(QByteArray &b, int off, const QByteArray &text, int field)
{
    const int n = qMin(text.size(), field);
    std::memset(b.data() + off, 0, size_t(field));
    std::memcpy(b.data() + off, text.constData(), size_t(n));
}

inline void putBytes(QByteArray &b, int off, const QByteArray &bytes)
{
    std::memcpy(b.data() + off, bytes.constData(), size_t(bytes.size()));
}

} // namespace le
