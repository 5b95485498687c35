#include "PasswordCheck.h"

namespace {

quint8 byteAt(const QByteArray &bytes, int i)
{
    return i < bytes.size() ? quint8(bytes[i]) : 0;
}

bool cardMatches(const QByteArray &typed, const QByteArray &stored)
{
    for (int i = 0; i < 8; ++i) {
        const quint8 t = byteAt(typed, i);
        const quint8 s = byteAt(stored, i);
        const quint8 lowered = quint8(t - 20);
        if (t == 0)
            return s == 0;
        if (s == 0)
            return lowered == 0;
        if (s != lowered)
            return false;
    }
    return true;
}

} // namespace

bool passwordMatches(PasswordKind kind, const QByteArray &typed, const QByteArray &stored, int length)
{
    if (kind == PasswordKind::Card)
        return cardMatches(typed, stored);
    for (int i = 0; i < length; ++i) {
        if (byteAt(typed, i) != byteAt(stored, i))
            return false;
    }
    return true;
}

bool cardPasswordInForce(const QByteArray &setupBlock)
{
    return setupBlock.size() > 20 && setupBlock[18] == 'p' && setupBlock[19] == 'w'
        && setupBlock[20] != 0;
}
