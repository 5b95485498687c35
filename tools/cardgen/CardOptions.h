#pragma once
// The generator's command line: what card to write and how.
#include <QSize>
#include <QString>
#include <QStringList>
#include <QVector>
#include <array>

struct CardOptions
{
    enum class Store { Index, Record };
    enum class Format { Mp4, Mf2, Mixed };

    Store store = Store::Index;
    QString outDir;

    // Common
    int channels = 2;
    QVector<QSize> sizes;           // one per channel (or per video stream), filled by validate()
    int fps = 30;
    int gop = 0;                    // 0: one key frame per second
    int recordings = 3;
    int seconds = 5;
    qint64 start = 1678772725;      // 2023-03-14 05:45:25 UTC
    int gap = 0;
    QString events = QStringLiteral("N");
    quint32 seed = 1;
    QString manifest;
    QString preset = QStringLiteral("ultrafast");
    QVector<int> bitratesKbps;      // one per channel (the last repeats); empty: constant quality
    int grain = 0;
    QStringList damage;

    // Index store
    qint64 bankSize = 0;            // 0: computed from the largest bank
    int banksPerFile = 0;           // 0: enough for every bank
    int dataFiles = 1;
    QString ext = QStringLiteral("ibx");
    bool headerAtEnd = false;
    QString password;
    QString model = QStringLiteral("ZV08");
    QString archive;
    QString archivePassword;
    QVector<int> cutFirstKey;       // banks whose video starts half a key-frame interval in

    // Record-file store
    Format format = Format::Mp4;
    QString mf2Password;
    int mf2KeyIndex = 0;
    std::array<quint32, 3> mf2Keys{{0x5A3C9E71u, 0x1D4B8F26u, 0xC7E2094Bu}};
    QVector<int> oldTrailer;        // 1-based recording numbers; contains 0 for "all"
    QVector<int> formB;
    QVector<int> lowercaseMf2;
    QVector<int> zeroHead;          // recordings whose first 64 KiB are zeroed (trailer kept)
    QVector<int> noAudio;           // recordings without a sound track
    QVector<QSize> claimedSizes;    // per recording (the last repeats): what trailer and MF2 table claim
    int videoStreams = 0;           // 0: one per channel
    QVector<int> recordingStreams;  // per recording (the last repeats); empty: streamCount()
    bool noSettings = false;
    bool noMarker = false;

    // Parses argv; on a fault fills `error` (one line) and returns -1.
    // Returns 1 when only help was asked for.
    int parse(const QStringList &args, QString *error);
    static QString usage();

    int streamCount() const { return videoStreams > 0 ? videoStreams : channels; }
    int streamsOf(int recording) const
    {
        return recordingStreams.isEmpty() ? streamCount()
                                          : recordingStreams.at(qMin(recording, recordingStreams.size() - 1));
    }
    QChar eventLetter(int recording) const { return events.at(recording % events.size()); }
    static bool selects(const QVector<int> &list, int recording);
    // Index-store resolution code of a frame size, -1 when it has none usable.
    static int indexResolutionCode(const QSize &size);

private:
    int validate(QString *error);
};
