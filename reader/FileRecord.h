#pragma once
// The catalogue's record of one recording file of a record-file store.
#include "FileTrailer.h"

#include <QDateTime>
#include <QString>

struct FileRecord {
    QString path;
    quint32 kind = 2;
    quint32 isMF2 = 0;
    quint32 sequence = 0;
    quint32 eventKind = 0;
    quint32 parking = 0;
    quint32 flag3 = 0;
    quint32 flag4 = 0;
    QDateTime start;
    FileTrailer trailer;

    // Start plus the trailer's duration.
    QDateTime end() const { return start.addSecs(trailer.duration()); }
};

// Equal when the seven numbers and the start time are equal; path and
// trailer are not compared.
bool operator==(const FileRecord &a, const FileRecord &b);
inline bool operator!=(const FileRecord &a, const FileRecord &b) { return !(a == b); }
