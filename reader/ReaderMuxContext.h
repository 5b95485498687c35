#pragma once
// What the Reader's muxer members need to write one exported channel: the
// description of its streams, and the open output behind a muxer handle.
#include "pavona_av_muxer.h"

#include <QByteArray>
#include <QString>

#include <memory>

struct ReaderMuxSettings {
    enum class Audio { None, Pcm, Aac };

    QString path; // the file written, whole name (a part file until it is complete)
    int channel = 0;
    int width = 0;
    int height = 0;
    bool hevc = true;
    int framesPerSecond = 30;
    QByteArray videoConfig; // parameter sets, Annex-B
    Audio audio = Audio::None;
    int audioChannels = 1;
    int sampleRate = 0;
    QByteArray audioConfig; // AAC AudioSpecificConfig
    bool adts = false;      // AAC frames arrive with their ADTS headers
};

// Made by Reader::Avmuxer_Open, released by Reader::Avmuxer_Close.
struct ReaderMuxContext {
    quint32 channel = 0;
    PVNA_AV_MUX_HANDLE *handle = nullptr;
    std::unique_ptr<PVNA_AV_MUX_CREATE_PARAM> param;
    std::unique_ptr<PVNA_AV_MUX_VIDEO_INFO> video;
    std::unique_ptr<PVNA_AV_MUX_AUDIO_INFO> audio;
    bool hasAudio = false;
    int fd = -1;        // the output file, written through the muxer's callbacks
    int ioError = 0;    // the first failed write or seek (an errno), 0 when none
    qint64 videoPackets = 0;
    qint64 audioPackets = 0;
};
