#pragma once
// Writes one camera channel of a video backup: its Matroska file through the
// media library (by way of a Reader of its own, so channels never wait for
// each other's muxer calls), and its SAMI subtitles beside it. The file is
// written under a ".part" name and renamed into place only once it is
// complete; a failure or a stop removes the part file and leaves an earlier
// file of the same name as it was.
#include "FrameIndex.h"
#include "Reader.h"
#include "SamiSubtitles.h"

#include <QString>

class ChannelExporter
{
public:
    explicit ChannelExporter(int channel);
    ~ChannelExporter();
    ChannelExporter(const ChannelExporter &) = delete;
    ChannelExporter &operator=(const ChannelExporter &) = delete;

    int channel() const { return channelNumber; }
    void setSubtitleItems(bool dateTime, bool speed, bool location);
    void setSaveAudio(bool on) { audioWanted = on; }
    bool saveAudio() const { return audioWanted; }
    bool wantsSubtitles() const { return sami.anyItem(); }

    // base: the output path without extension; the files are base.mkv and base.smi.
    void setBase(const QString &base);
    QString videoPath() const { return base + QStringLiteral(".mkv"); }
    QString subtitlePath() const { return base + QStringLiteral(".smi"); }
    QString partPath() const { return videoPath() + QStringLiteral(".part"); }

    // Creates the part file with the streams described; false when it cannot.
    bool openMuxer(const ReaderMuxSettings &settings);
    bool isOpen() const { return context != nullptr; }
    bool hasAudio() const { return context && context->hasAudio; }

    // type 0 video, 1 audio. The packet time (header seconds and
    // microseconds) moves the channel's output clock: forward by the source
    // step, by 10 ms when the source steps back. Video also feeds the
    // subtitles. 0, or -1 once a write has failed (nothing more is written).
    int writePacket(int type, const uint8_t *data, int size, const FrameIndexEntry &header, int keyFlag);
    bool failed() const { return writeFailed; }
    qint64 packets() const { return written; }

    // Finalises the file and renames it into place, then writes the
    // subtitles; false with reason set when the file could not be completed
    // (its part file is gone then).
    bool closeMuxer(const GpsTimeline &gps, QString *reason);
    // A stopped export: closes and removes the part file.
    void abandon();

    // The subtitles written by closeMuxer: false with reason when they could not be.
    bool writeSami(const GpsTimeline &gps, QString *reason) const;

private:
    int channelNumber;
    QString base;
    bool audioWanted = false;
    Reader muxReader;
    ReaderMuxContext *context = nullptr;
    qint64 clockMs = 0;
    qint64 lastSourceMs = -1;
    qint64 written = 0;
    bool writeFailed = false;
    SamiSubtitles sami;
};
