#pragma once
// The catalogue's record of one bank (one recording of all channels) of an
// index store or a Smart Backup archive.
#include <QString>

struct BankEntry {
    QString path;          // data file or archive holding the bank
    qint64 start = 0;      // seconds since 1970
    qint64 end = 0;        // seconds since 1970
    quint32 sortKey = 0;
    quint8 channels = 0;
    quint8 status = 0;     // non-zero: event recording
    quint16 bankSeq = 0;
    quint32 dataEnd = 0;   // end of the frame data within the bank
    quint32 bankSize = 0;
    qint64 offset = 0;     // position of the bank in its file
};
