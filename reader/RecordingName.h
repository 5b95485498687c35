#pragma once
// The camera's recording file names:
//   form A  PREFIX_SEQUENCE_START_L1L2L3L4.EXT   (e.g. REC_0000012_20230314-054525_NDNN.MF2)
//   form B  L1_SEQUENCE_START_L2.EXT             (e.g. E_0000012_20230314-054525_D.mp4)
#include <QByteArray>
#include <QDateTime>

struct RecordingName {
    quint32 sequence = 0;
    quint32 eventKind = 0;   // N 0, E 1, M 2, F 3, other letters 2
    quint32 parking = 0;     // L2 is not 'D'
    quint32 flag3 = 0;
    quint32 flag4 = 0;
    quint32 isMF2 = 0;       // form A with the extension "MF2" exactly
    QDateTime start;         // local wall-clock; may be invalid
};

// Returns false when the name is not a recording's name.
bool parseRecordingName(const QByteArray &name, RecordingName *out);

quint32 eventKindOfLetter(char letter);
