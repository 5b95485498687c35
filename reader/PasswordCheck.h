#pragma once
// Password gates of the catalogue. The core never shows a dialog: it asks a
// prompt callback, which returns true once the right password was entered.
#include <QByteArray>
#include <functional>

enum class PasswordKind { Card, Mf2, Archive };

using PasswordPrompt = std::function<bool(PasswordKind kind, const QByteArray &expected, int length)>;

// Card: the setup block stores every character lowered by 20 (mod 256);
// positions are compared until the typed text or the stored bytes end,
// over 8 bytes. Mf2 and Archive: the stored bytes are the plain text,
// zero-padded; compared over length bytes (8 and 10).
bool passwordMatches(PasswordKind kind, const QByteArray &typed, const QByteArray &stored, int length);

// Bytes 18..27 of a setup block: "pw" and a non-zero first character.
bool cardPasswordInForce(const QByteArray &setupBlock);
