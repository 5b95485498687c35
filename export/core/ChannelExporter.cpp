#include "ChannelExporter.h"

#include <QFile>

#include <cstdio>

ChannelExporter::ChannelExporter(int channel) : channelNumber(channel) {}

ChannelExporter::~ChannelExporter()
{
    abandon();
}

void ChannelExporter::setSubtitleItems(bool dateTime, bool speed, bool location)
{
    sami.setItems(dateTime, speed, location);
}

void ChannelExporter::setBase(const QString &path)
{
    base = path;
}

bool ChannelExporter::openMuxer(const ReaderMuxSettings &settings)
{
    abandon();
    ReaderMuxSettings s = settings;
    s.channel = channelNumber;
    s.path = partPath();
    context = muxReader.Avmuxer_Open(s);
    clockMs = 0;
    lastSourceMs = -1;
    written = 0;
    writeFailed = false;
    sami.clear();
    return context != nullptr;
}

int ChannelExporter::writePacket(int type, const uint8_t *data, int size, const FrameIndexEntry &header, int keyFlag)
{
    if (!context || writeFailed || (type != 0 && type != 1))
        return -1;
    const qint64 t = header.timeMs();
    if (lastSourceMs >= 0)
        clockMs += lastSourceMs > t ? 10 : t - lastSourceMs;
    lastSourceMs = t;
    if (muxReader.Avmuxer_Write(context, type, header.channel, clockMs, keyFlag, data, size) != 0) {
        writeFailed = true;
        return -1;
    }
    ++written;
    if (type == 0)
        sami.videoFrame(clockMs, header.sec);
    return 0;
}

bool ChannelExporter::closeMuxer(const GpsTimeline &gps, QString *reason)
{
    if (!context) {
        *reason = QStringLiteral("nothing was written");
        return false;
    }
    const bool failedBefore = writeFailed;
    const int closed = muxReader.Avmuxer_Close(context);
    context = nullptr;
    const QByteArray part = QFile::encodeName(partPath());
    if (failedBefore || closed != 0) {
        QFile::remove(partPath());
        *reason = failedBefore ? QStringLiteral("writing %1 failed").arg(partPath())
                               : QStringLiteral("finishing %1 failed").arg(partPath());
        return false;
    }
    // rename() replaces an earlier file in one step: there is always a whole file under the name.
    if (::rename(part.constData(), QFile::encodeName(videoPath()).constData()) != 0) {
        QFile::remove(partPath());
        *reason = QStringLiteral("cannot rename %1 to %2").arg(partPath(), videoPath());
        return false;
    }
    return writeSami(gps, reason);
}

bool ChannelExporter::writeSami(const GpsTimeline &gps, QString *reason) const
{
    QString error;
    if (sami.write(subtitlePath(), gps, &error))
        return true;
    *reason = QStringLiteral("subtitles %1: %2").arg(subtitlePath(), error);
    return false;
}

void ChannelExporter::abandon()
{
    if (!context)
        return;
    muxReader.Avmuxer_Close(context);
    context = nullptr;
    QFile::remove(partPath());
}
