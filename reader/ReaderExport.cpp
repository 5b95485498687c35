// The Reader's side of a video backup: what the export load tells about its
// channels and sound, the one-export-at-a-time claim, and the muxer members
// that write a channel's Matroska file through the media library.
#include "Reader.h"

#include "pvna_log.h"

#include <QFile>
#include <QMutexLocker>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr int SeekSize = 0x10000; // the muxer's "how big is it" request
constexpr uint32_t MuxerCacheSize = 1048576;

int writeOutput(void *opaque, const uint8_t *data, int size)
{
    auto *ctx = static_cast<ReaderMuxContext *>(opaque);
    int done = 0;
    while (done < size) {
        const ssize_t n = ::write(ctx->fd, data + done, size_t(size - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            const int err = n < 0 ? errno : ENOSPC;
            if (!ctx->ioError)
                ctx->ioError = err;
            return -err;
        }
        done += int(n);
    }
    return size;
}

int64_t seekOutput(void *opaque, int64_t offset, int whence)
{
    auto *ctx = static_cast<ReaderMuxContext *>(opaque);
    if (whence == SeekSize) {
        struct stat st;
        return fstat(ctx->fd, &st) == 0 ? int64_t(st.st_size) : -errno;
    }
    const off_t at = lseek(ctx->fd, off_t(offset), whence & ~0x20000); // without the "force" flag
    if (at < 0) {
        if (!ctx->ioError)
            ctx->ioError = errno;
        return -errno;
    }
    return int64_t(at);
}

void freeContext(ReaderMuxContext *ctx)
{
    if (ctx->handle)
        PVNA_AV_MUX_Close(&ctx->handle);
    if (ctx->fd >= 0)
        ::close(ctx->fd);
    delete ctx;
}

void copyBytes(const QByteArray &from, uint8_t *to, uint32_t *size, size_t capacity)
{
    const size_t n = std::min(size_t(from.size()), capacity);
    memcpy(to, from.constData(), n);
    *size = uint32_t(n);
}

} // namespace

int Reader::exportFrameRate(int channel) const
{
    QMutexLocker locker(&lock);
    // The median spacing of the channel's frames: a gap or a late frame
    // does not move it.
    std::vector<int64_t> spacing;
    int64_t previous = -1;
    for (const FrameIndexEntry &e : exporting.forward()) {
        if (e.marker != FrameIndexEntry::Video || e.channel != channel)
            continue;
        const int64_t t = int64_t(e.sec) * 1000000 + e.usec;
        if (previous >= 0 && t > previous)
            spacing.push_back(t - previous);
        previous = t;
        if (spacing.size() >= 600)
            break;
    }
    if (spacing.empty())
        return 0;
    std::nth_element(spacing.begin(), spacing.begin() + long(spacing.size() / 2), spacing.end());
    const int64_t median = spacing[spacing.size() / 2];
    return int(std::clamp<int64_t>((1000000 + median / 2) / median, 1, 240));
}

int Reader::exportFirstAudio(uint8_t *out, size_t capacity) const
{
    QMutexLocker locker(&lock);
    const FrameBuffer &buffer = exporting.buffer();
    for (const FrameIndexEntry &e : exporting.forward()) {
        if (e.marker != FrameIndexEntry::Audio)
            continue;
        if (e.size <= 0 || uint64_t(e.payloadOffset) + uint64_t(e.size) > buffer.used())
            return 0;
        const size_t n = std::min(size_t(e.size), capacity);
        memcpy(out, buffer.data() + e.payloadOffset, n);
        return int(n);
    }
    return 0;
}

size_t Reader::exportPosition() const
{
    QMutexLocker locker(&lock);
    return exporting.position();
}

size_t Reader::exportIndexSize() const
{
    QMutexLocker locker(&lock);
    return exporting.forward().size();
}

bool Reader::beginExport()
{
    QMutexLocker locker(&lock);
    if (exportRunning)
        return false;
    exportRunning = true;
    return true;
}

void Reader::endExport()
{
    QMutexLocker locker(&lock);
    exportRunning = false;
}

ReaderMuxContext *Reader::Avmuxer_Open(const ReaderMuxSettings &s)
{
    QMutexLocker locker(&lock);
    auto *ctx = new (std::nothrow) ReaderMuxContext;
    if (!ctx) {
        PVNA_ERROR("Not enough memory\n");
        return nullptr;
    }
    ctx->channel = quint32(s.channel);
    ctx->param.reset(new (std::nothrow) PVNA_AV_MUX_CREATE_PARAM());
    ctx->video.reset(new (std::nothrow) PVNA_AV_MUX_VIDEO_INFO());
    ctx->audio.reset(new (std::nothrow) PVNA_AV_MUX_AUDIO_INFO());
    if (!ctx->param || !ctx->video || !ctx->audio || s.videoConfig.size() > PVNA_AV_MUX_MAX_VIDEO_CONFIG) {
        PVNA_ERROR("Not enough memory\n");
        freeContext(ctx);
        return nullptr;
    }
    PVNA_AV_MUX_CREATE_PARAM &p = *ctx->param;
    p.transport = PVNA_AV_MUX_TRANSPORT_FILE;
    p.kind = PVNA_AV_MUX_FILE_MKV;
    p.fragmented = 1;
    const QByteArray name = QFile::encodeName(s.path);
    snprintf(p.destination.path, sizeof p.destination.path, "%s", name.constData());

    PVNA_AV_MUX_VIDEO_INFO &v = *ctx->video;
    v.codec = s.hevc ? PVNA_AV_MUX_VIDEO_HEVC : PVNA_AV_MUX_VIDEO_H264;
    v.pixelFormat = PVNA_AV_MUX_PIX_YUV420P;
    v.frameRate = uint32_t(std::max(s.framesPerSecond, 1));
    v.width = uint32_t(std::max(s.width, 0));
    v.height = uint32_t(std::max(s.height, 0));
    copyBytes(s.videoConfig, v.config, &v.configSize, sizeof v.config);
    p.videoCount = 1;
    p.video = &v;

    if (s.audio != ReaderMuxSettings::Audio::None) {
        PVNA_AV_MUX_AUDIO_INFO &a = *ctx->audio;
        a.codec = s.audio == ReaderMuxSettings::Audio::Aac ? PVNA_AV_MUX_AUDIO_AAC : PVNA_AV_MUX_AUDIO_PCM;
        a.sampleRate = uint32_t(std::max(s.sampleRate, 0));
        a.channels = uint32_t(std::max(s.audioChannels, 1));
        a.packaging = s.adts ? PVNA_AV_MUX_PACKAGING_ADTS : 0;
        copyBytes(s.audioConfig, a.config, &a.configSize, sizeof a.config);
        p.audioCount = 1;
        p.audio = &a;
        ctx->hasAudio = true;
    }

    // The file is opened here and written through the muxer's callbacks,
    // so its name is the caller's own (no extension added, no length limit).
    ctx->fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (ctx->fd < 0) {
        PVNA_ERROR("Could not create '%s': %s\n", name.constData(), strerror(errno));
        freeContext(ctx);
        return nullptr;
    }
    p.customIO = 1;
    p.customIOBufferSize = MuxerCacheSize;
    p.opaque = ctx;
    p.write = writeOutput;
    p.seek = seekOutput;

    if (PVNA_AV_MUX_Open(&ctx->handle, "RADER_UVEV") != 0) {
        PVNA_ERROR("Fail to open AV Muxer\n");
        freeContext(ctx);
        return nullptr;
    }
    if (PVNA_AV_MUX_Create(ctx->handle, &p) != 0) {
        PVNA_ERROR("Fail to create AV Muxer\n");
        freeContext(ctx);
        return nullptr;
    }
    return ctx;
}

int Reader::Avmuxer_Write(ReaderMuxContext *ctx, int type, int channel, qint64 timestampMs, int keyFlag,
                          const uint8_t *data, int size)
{
    QMutexLocker locker(&lock);
    if (!ctx || !ctx->handle)
        return -1;
    int rc = -1;
    switch (type) {
    case 0:
        if (quint32(channel) != ctx->channel)
            return -1;
        rc = PVNA_AV_MUX_WriteVideo(ctx->handle, 0, timestampMs, 0, data, size, keyFlag);
        ctx->videoPackets += rc == 0;
        break;
    case 1:
        if (!ctx->hasAudio)
            return -1;
        // Video and audio go out the same way, in clock order, so the
        // sound is never stored seconds behind its pictures.
        rc = PVNA_AV_MUX_WriteAudio(ctx->handle, 0, timestampMs, 0, data, size, 1);
        ctx->audioPackets += rc == 0;
        break;
    case 3:
        if (quint32(channel) != ctx->channel)
            return -1;
        rc = PVNA_AV_MUX_WriteSubtitle(ctx->handle, 0, timestampMs, 0, data, size, 0, 1);
        break;
    default:
        PVNA_ERROR("Miss-matched buffer type\n");
        return -1;
    }
    return rc == 0 && ctx->ioError == 0 ? 0 : -1;
}

int Reader::Avmuxer_Close(ReaderMuxContext *ctx)
{
    QMutexLocker locker(&lock);
    if (!ctx)
        return -1;
    int rc = ctx->handle && PVNA_AV_MUX_GetState(ctx->handle) == 1 ? PVNA_AV_MUX_Finalize(ctx->handle) : -1;
    if (ctx->ioError)
        rc = -1;
    if (ctx->fd >= 0) {
        // Complete only once it is on the disk.
        if (rc == 0 && ::fsync(ctx->fd) != 0)
            rc = -1;
        if (::close(ctx->fd) != 0)
            rc = -1;
        ctx->fd = -1;
    }
    freeContext(ctx);
    return rc;
}
