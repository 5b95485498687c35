#pragma once
// A steady tone encoded with FFmpeg's own AAC encoder (mono), and the ADTS
// framing that MF2 audio packets carry.
#include <QByteArray>
#include <QString>
#include <QVector>

struct AacFrame
{
    QByteArray data;   // raw AAC access unit
    qint64 pts = 0;    // in samples; negative for the encoder's priming frame
};

class AacEncoder
{
public:
    static constexpr int kSampleRate = 16000;
    static constexpr int kPriming = 1024;   // samples the encoder puts before the sound

    // `seconds` of a tone of `hertz`.
    static int encodeTone(int seconds, double hertz, QVector<AacFrame> *out, QByteArray *config, QString *error);
    static QByteArray adtsHeader(int payloadSize);
};

// Signed 16-bit mono samples of a tone with a soft two-second swell, so a
// listener hears that it is really playing.
QByteArray toneSamples(int sampleRate, qint64 firstSample, int count, double hertz);
