#pragma once
// Positioned reads that report short reads and count the read calls, so the
// catalogue can prove how little of each file it touches.
#include <QIODevice>
#include <QtGlobal>

struct ReadStatistics {
    quint64 calls = 0;
    quint64 bytes = 0;
};

// Reads up to len bytes at offset; returns the bytes read (0 on a seek
// failure or a negative offset). The buffer past the returned count is left
// untouched.
qint64 readAt(QIODevice &device, qint64 offset, char *buffer, qint64 len);

// True when exactly len bytes were read at offset.
inline bool readExactly(QIODevice &device, qint64 offset, char *buffer, qint64 len)
{
    return readAt(device, offset, buffer, len) == len;
}

ReadStatistics readStatistics();
void resetReadStatistics();
