#pragma once
// Writes a record-file card: record/ with MP4 and MF2 recordings that end in
// a metadata trailer, the marker file and the camera's settings file.
#include "AacEncoder.h"
#include "CardOptions.h"
#include "DriveModel.h"
#include "VideoEncoder.h"

#include <QJsonObject>
#include <QVector>

class CardOutput;

class RecordCardWriter
{
public:
    explicit RecordCardWriter(const CardOptions &options) : o(options), drive(options.seed) {}
    int write(CardOutput *out, QJsonObject *manifest, QString *error);

private:
    struct Media
    {
        QVector<QVector<EncodedFrame>> video;   // per stream
        QVector<QByteArray> videoConfig;
        QVector<AacFrame> audio;
        QByteArray audioConfig;
        QVector<QByteArray> telemetry;          // one data packet per second
    };
    struct Recording
    {
        int ordinal = 0;
        int sequence = 0;
        qint64 start = 0;
        char l1 = 'N', l2 = 'D', l3 = 'N', l4 = 'N';
        bool mf2 = false;          // MF2 content
        bool formB = false;
        bool oldTrailer = false;
        bool audio = true;
        bool zeroHead = false;
        QSize claimed;             // valid: the size trailer and MF2 table claim
        QString extension;
        QString damage;
        QString name;
        QString trailerName;       // the name stored in the trailer
        int streams = 0;
    };

    int encode(const Recording &r, bool hardStop, Media *media, QString *error);
    QByteArray telemetryPacket(const Recording &r, int second, const DriveSegment &seg) const;
    int writeMp4(CardOutput *out, const QString &path, const Media &media, QString *error) const;
    QByteArray mf2File(const Recording &r, const Media &media) const;
    QByteArray trailer(const Recording &r, bool forMp4) const;
    QSize claimedSize(const Recording &r, int stream) const;
    QString fileName(const Recording &r) const;

    const CardOptions &o;
    DriveModel drive;   // one drive through all recordings, in time order
};
