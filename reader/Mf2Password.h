#pragma once
// The password of an MF2 file with the "MF2I" preamble: a 32-byte field
// scrambled with one of three 4-byte keys chosen by the header.
#include <QByteArray>
#include <QIODevice>
#include <array>

using Mf2Keys = std::array<quint32, 3>;

Mf2Keys defaultMf2Keys();

// Byte i XOR byte (i mod 4) of the key (low byte first), up to the first
// zero byte.
QByteArray unscrambleMf2Password(const QByteArray &scrambled, quint32 key);

// The password of the file, empty when it has none (an "MF2H" file, a key
// index outside 0..2, an empty field or a short file). One read.
QByteArray readMf2Password(QIODevice &device, const Mf2Keys &keys);
