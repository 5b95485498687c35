#pragma once
// Writes an index-store card: the index file with its head and setup block,
// data files cut into banks, and optionally a Smart Backup archive of them.
#include "CardOptions.h"
#include "DriveModel.h"

#include <QByteArray>
#include <QJsonObject>
#include <QVector>

class CardOutput;

class IndexCardWriter
{
public:
    static constexpr qint64 kFrameDataStart = 33792;
    static constexpr qint64 kHeaderNearStart = 16384;
    static constexpr qint64 kHeaderFromEnd = 204800;
    static constexpr int kHeaderSize = 203;
    static constexpr int kEntrySize = 45;
    static constexpr qint64 kSetupBlockOffset = 512000;
    static constexpr int kSetupBlockSize = 431;

    explicit IndexCardWriter(const CardOptions &options) : o(options), drive(options.seed) {}
    int write(CardOutput *out, QJsonObject *manifest, QString *error);

private:
    struct Bank
    {
        int ordinal = 0;        // in time order
        qint64 start = 0;
        QChar event;
        QString damage;         // empty for a sound bank
        QByteArray frames;      // frame data, stored from kFrameDataStart
        QJsonObject entry;      // manifest fields known before placement
        int slot = -1;          // bank position over all data files; -1: the truncated tail
        bool cutFirstKey = false; // video starts half a key-frame interval in
    };

    int buildBank(Bank *bank, bool hardStop, quint64 *sequence, QString *error);
    QByteArray bankBytes(const Bank &bank) const;      // the whole bank
    QByteArray bankHeader(const Bank *bank, quint16 seq) const;
    QByteArray indexFile() const;
    QByteArray setupBlock() const;
    QString dataFileName(int file) const;
    int writeArchive(CardOutput *out, const QVector<const Bank *> &banks, QJsonObject *manifest, QString *error);
    qint64 headerOffset() const { return o.headerAtEnd ? bankSize - kHeaderFromEnd : kHeaderNearStart; }

    const CardOptions &o;
    DriveModel drive;   // one drive through all recordings, in time order
    qint64 bankSize = 0;
    int banksPerFile = 0;
};
