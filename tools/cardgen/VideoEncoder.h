#pragma once
// Encodes a synthetic test picture sequence with libx264 or libx265, one
// thread, no B-frames and a fixed key-frame interval, so that the same
// options always give the same bytes.
#include "CardOptions.h"

#include <QByteArray>
#include <QString>
#include <QVector>

struct AVCodecContext;
struct AVFrame;
struct AVPacket;

struct EncodedFrame
{
    QByteArray data;   // Annex-B
    bool key = false;
};

class VideoEncoder
{
public:
    enum class Codec { H264, Hevc };
    struct Settings
    {
        Codec codec = Codec::H264;
        int width = 320;
        int height = 240;
        int fps = 30;
        int gop = 30;
        QString preset;
        int bitrateKbps = 0; // 0: constant quality
        // Film grain: uniform noise of this many levels, new in every
        // picture, so pictures cost as many bits to code as a real road.
        int grain = 0;
        quint32 seed = 1;
        // H.264 cards: parameter sets inside every key frame. HEVC files:
        // parameter sets only in the extradata (the container's config).
        bool globalHeader = false;
    };
    // Settings for one channel of a card: its size and the card's rate,
    // GOP length and preset; HEVC streams keep their parameter sets global.
    static Settings forChannel(const CardOptions &o, int channel, Codec codec);

    VideoEncoder() = default;
    ~VideoEncoder();
    VideoEncoder(const VideoEncoder &) = delete;
    VideoEncoder &operator=(const VideoEncoder &) = delete;

    int open(const Settings &settings, QString *error);
    // Encodes `count` pictures; `scene` and `channel` vary the picture so
    // every channel and recording looks different.
    int encode(int count, int scene, int channel, QVector<EncodedFrame> *out, QString *error);
    QByteArray extradata() const;

private:
    int drain(QVector<EncodedFrame> *out, QString *error);
    void paint(int index, int scene, int channel);
    void addGrain(int index, int scene, int channel);

    Settings s;
    AVCodecContext *ctx = nullptr;
    AVFrame *frame = nullptr;
    AVPacket *packet = nullptr;
    QVector<qint8> grainTable;
};
