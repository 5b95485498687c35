#pragma once
// Little-endian field access on byte buffers whose length the caller has
// already checked.
#include <QtGlobal>
#include <cstring>

namespace le {

inline quint8 u8(const char *p) { return static_cast<quint8>(*p); }

inline quint16 u16(const char *p)
{
    const auto *b = reinterpret_cast<const unsigned char *>(p);
    return quint16(b[0] | (b[1] << 8));
}

inline quint32 u32(const char *p)
{
    const auto *b = reinterpret_cast<const unsigned char *>(p);
    return quint32(b[0]) | (quint32(b[1]) << 8) | (quint32(b[2]) << 16) | (quint32(b[3]) << 24);
}

inline qint32 i32(const char *p) { return static_cast<qint32>(u32(p)); }

inline quint64 u64(const char *p) { return quint64(u32(p)) | (quint64(u32(p + 4)) << 32); }

inline qint64 i64(const char *p) { return static_cast<qint64>(u64(p)); }

inline void putU16(char *p, quint16 v)
{
    p[0] = char(v & 0xff);
    p[1] = char(v >> 8);
}

inline void putU32(char *p, quint32 v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = char((v >> (8 * i)) & 0xff);
}

inline void putU64(char *p, quint64 v)
{
    putU32(p, quint32(v));
    putU32(p + 4, quint32(v >> 32));
}

} // namespace le
