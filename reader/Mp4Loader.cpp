#include "Mp4Loader.h"

#include "LogCategories.h"
#include "PictureSize.h"
#include "pavona_av_demuxer.h"

#include <QtGlobal>
#include <cstring>
#include <memory>

namespace {

struct SinkState {
    FrameBuffer *buffer = nullptr;
    RecordPackets *packets = nullptr;
    int64_t bytes = 0;
};

int appendPacket(void *opaque, const PVNA_AV_DEMUX_Packet *p)
{
    auto *s = static_cast<SinkState *>(opaque);
    const TrackKind kind = p->mediaType == PVNA_AV_MEDIA_VIDEO   ? TrackKind::Video
                           : p->mediaType == PVNA_AV_MEDIA_AUDIO ? TrackKind::Audio
                                                                 : TrackKind::Data;
    std::vector<RecordPacket> *list = s->packets->list(kind, p->trackIndex);
    if (!list || p->size < 0)
        return 0;
    RecordPacket packet;
    packet.timeMs = p->timeMs;
    packet.size = uint32_t(p->size);
    packet.track = uint8_t(p->trackIndex);
    packet.key = p->key != 0;
    uint8_t *to = s->buffer->append(packet.size, &packet.offset);
    if (!to)
        return -1;
    if (p->size > 0)
        memcpy(to, p->data, size_t(p->size));
    list->push_back(packet);
    s->bytes += p->size;
    return 0;
}

struct HandleCloser {
    void operator()(PVNA_AV_DEMUX_Context *h) const { PVNA_AV_DEMUX_Destroy(h); }
};

} // namespace

int64_t Mp4Loader::read(const QString &path, FrameBuffer &buffer, const std::function<bool()> &allocate,
                        RecordTracks &tracks, RecordPackets &packets, const LoadCancel &cancel)
{
    tracks = RecordTracks();
    packets.reset(0, 0, 0);
    PVNA_AV_DEMUX_Handle raw = nullptr;
    const QByteArray name = path.toLocal8Bit();
    if (PVNA_AV_DEMUX_Create(&raw, name.constData()) < 0)
        return -1;
    std::unique_ptr<PVNA_AV_DEMUX_Context, HandleCloser> handle(raw);
    SinkState state;
    state.buffer = &buffer;
    state.packets = &packets;
    PVNA_AV_DEMUX_OpenParams params{name.constData(), PVNA_AV_DEMUX_FLAG_MEMORY_OUTPUT, appendPacket, &state};
    if (PVNA_AV_DEMUX_Open(raw, &params) < 0) {
        handle.release(); // a failed open releases the handle itself
        return -1;
    }
    auto info = std::make_unique<PVNA_AV_DEMUX_StreamInfo>();
    if (PVNA_AV_DEMUX_GetStreamInfo(raw, info.get()) < 0)
        return -1;

    for (int i = 0; i < info->videoCount && i < RecordTracks::MaxVideoTracks; ++i) {
        const PVNA_AV_DEMUX_VideoInfo &v = info->video[i];
        VideoTrack t;
        t.ordinal = uint32_t(i);
        // A size no picture can have is taken as unknown: the channel gets the default pane.
        if (PictureSize::isPlayable(v.width, v.height)) {
            t.width = uint32_t(v.width);
            t.height = uint32_t(v.height);
        } else {
            qCWarning(lcDemux, "[%s::%d]%s: video stream %d claims %dx%d; its size is taken as unknown", "Mp4Loader::read",
                     __LINE__, name.constData(), i, v.width, v.height);
        }
        t.codec = v.codec == PVNA_AV_CODEC_H264 ? VideoCodec::H264 : VideoCodec::Hevc;
        t.resolutionCode = resolutionCodeOfSize(t.width, t.height);
        t.config = QByteArray(reinterpret_cast<const char *>(v.config), v.configSize);
        tracks.video.push_back(t);
        tracks.configs.push_back({uint32_t(v.streamIndex), 0, t.config});
    }
    for (int i = 0; i < info->audioCount; ++i) {
        const PVNA_AV_DEMUX_AudioInfo &a = info->audio[i];
        const QByteArray asc(reinterpret_cast<const char *>(a.extradata), a.extradataSize);
        tracks.configs.push_back({uint32_t(a.streamIndex), 1, asc});
        if (i == 0) {
            tracks.audio.sampleRate = a.sampleRate > 0 ? a.sampleRate : AudioDescription::DefaultRate;
            tracks.audio.channels = a.channels;
            tracks.audio.config = asc;
        }
    }
    for (int i = 0; i < info->dataCount; ++i)
        tracks.configs.push_back({uint32_t(info->dataStreamIndex[i]), 2, QByteArray()});
    packets.reset(int(tracks.video.size()), info->audioCount, info->dataCount);

    if (!allocate())
        return -1;
    int rc = 0;
    while ((rc = PVNA_AV_DEMUX_ReadPacket(raw)) == 0 || rc == PVNA_AV_DEMUX_UNSUPPORTED) {
        if (cancel && cancel()) {
            tracks = RecordTracks();
            packets.reset(0, 0, 0);
            return LoadCancelled;
        }
    }
    if (rc == PVNA_AV_DEMUX_SINK_REFUSED)
        qCWarning(lcDemux, "[%s::%d]frame buffer full: %s is loaded up to %lld bytes", "Mp4Loader::read", __LINE__,
                 name.constData(), static_cast<long long>(state.bytes));
    return state.bytes;
}
