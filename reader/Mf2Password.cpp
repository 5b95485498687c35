#include "Mf2Password.h"

#include "FileAccess.h"
#include "LittleEndian.h"

namespace {
constexpr int PreambleSize = 16;
constexpr int HeaderSize = 88;
constexpr int KeyIndexAt = PreambleSize + 40;
constexpr int PasswordAt = PreambleSize + 44;
constexpr int PasswordField = 32;
}

Mf2Keys defaultMf2Keys()
{
    return {0x5A3C9E71u, 0x1D4B8F26u, 0xC7E2094Bu};
}

QByteArray unscrambleMf2Password(const QByteArray &scrambled, quint32 key)
{
    QByteArray plain;
    for (int i = 0; i < scrambled.size() && i < PasswordField; ++i) {
        const char c = char(quint8(scrambled[i]) ^ quint8(key >> (8 * (i % 4))));
        if (c == 0)
            break;
        plain.append(c);
    }
    return plain;
}

QByteArray readMf2Password(QIODevice &device, const Mf2Keys &keys)
{
    char head[PreambleSize + HeaderSize];
    if (!readExactly(device, 0, head, sizeof head) || memcmp(head, "MF2I", 4) != 0)
        return QByteArray();
    const quint32 keyIndex = le::u32(head + KeyIndexAt);
    if (keyIndex > 2)
        return QByteArray();
    return unscrambleMf2Password(QByteArray(head + PasswordAt, PasswordField), keys[keyIndex]);
}
