#pragma once
// File names are bytes on Linux, not always valid UTF-8 (cards written by
// other systems, folders copied from old archives). Qt decodes them with the
// locale's codec, which turns each invalid byte into U+FFFD, so such a file
// could be listed but never opened again. This codec decodes UTF-8 and keeps
// each byte that is not part of a valid sequence as the lone surrogate
// U+DC80..U+DCFF, which it encodes back to the same byte.
class QTextCodec;

// The codec itself (owned by Qt's codec registry).
QTextCodec *losslessUtf8Codec();
// Makes it the locale codec, so QFile::decodeName/encodeName, QDir listings
// and the program's arguments round-trip every file name.
void installLosslessFileNames();
