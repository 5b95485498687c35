#include "pavona_av_demuxer.h"

#include "osal_mutex.h"
#include "pvna_log.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavcodec/bsf.h>
#include <libavformat/avformat.h>
#include <libavutil/dict.h>
}

#include <sys/stat.h>

#include <cstring>
#include <mutex>
#include <new>
#include <string>
#include <vector>

namespace {

enum StreamKind { KindNone, KindVideo, KindAudio, KindData };

// How one container stream is delivered.
struct DemuxStream {
    StreamKind kind = KindNone;
    int track = 0;
    int codec = 0;
    AVRational timeBase{0, 1};
    AVBSFContext *bsf = nullptr; // video: mp4-to-Annex-B
    bool keySeen = false;        // video: packets pass only from the first key frame on
    int sampleRate = 0;          // audio
    bool adts = false;           // AAC: an ADTS header goes in front of each payload
    uint8_t adtsProfile = 0;
    uint8_t adtsFreqIndex = 0;
    uint8_t adtsChannels = 0;
};

} // namespace

struct PVNA_AV_DEMUX_Context {
    char source[PVNA_AV_DEMUX_MAX_SOURCE_NAME + 1];
    AVFormatContext *input = nullptr;
    AVPacket *packet = nullptr;
    AVPacket *filtered = nullptr;
    std::vector<DemuxStream> streams;
    PVNA_AV_DEMUX_StreamInfo info;
    PVNA_AV_DEMUX_Sink sink = nullptr;
    void *opaque = nullptr;
    bool ended = false;
};

namespace {

// The registry's mutex lives for the whole process: creating and deleting it
// with the first and last handle would race with a concurrent create.
OSA_MutexHndl *__pvna_avdemux_utils_mutex()
{
    static OSA_MutexHndl mutex;
    static std::once_flag once;
    std::call_once(once, [] { OSA_mutexCreate(&mutex); });
    return &mutex;
}

PVNA_AV_DEMUX_Context *g_handles[PVNA_AV_DEMUX_MAX_HANDLES];

class RegistryLock {
public:
    RegistryLock() { OSA_mutexLock(__pvna_avdemux_utils_mutex()); }
    ~RegistryLock() { OSA_mutexUnlock(__pvna_avdemux_utils_mutex()); }
    RegistryLock(const RegistryLock &) = delete;
    RegistryLock &operator=(const RegistryLock &) = delete;
};

int __pvna_avdemux_utils_find_slot(PVNA_AV_DEMUX_Handle handle)
{
    if (!handle)
        return -1;
    for (int i = 0; i < PVNA_AV_DEMUX_MAX_HANDLES; ++i)
        if (g_handles[i] == handle)
            return i;
    return -1;
}

std::string __pvna_avdemux_utils_error_text(int err)
{
    char text[AV_ERROR_MAX_STRING_SIZE] = {0};
    av_strerror(err, text, sizeof text);
    return text;
}

void __pvna_avdemux_utils_close(PVNA_AV_DEMUX_Context *ctx)
{
    for (DemuxStream &s : ctx->streams)
        av_bsf_free(&s.bsf);
    ctx->streams.clear();
    av_packet_free(&ctx->packet);
    av_packet_free(&ctx->filtered);
    avformat_close_input(&ctx->input);
    memset(&ctx->info, 0, sizeof ctx->info);
    ctx->ended = false;
}

void __pvna_avdemux_utils_release(int slot)
{
    PVNA_AV_DEMUX_Context *ctx = g_handles[slot];
    __pvna_avdemux_utils_close(ctx);
    delete ctx;
    g_handles[slot] = nullptr;
}

// The sampling-frequency index of ADTS for a rate, or -1.
int __pvna_avdemux_utils_freq_index(int rate)
{
    static const int rates[13] = {96000, 88200, 64000, 48000, 44100, 32000, 24000,
                                  22050, 16000, 12000, 11025, 8000,  7350};
    for (int i = 0; i < 13; ++i)
        if (rates[i] == rate)
            return i;
    return -1;
}

class BitReader {
public:
    BitReader(const uint8_t *data, int size) : data_(data), bits_(size > 0 ? int64_t(size) * 8 : 0) {}
    // Reads n bits (n <= 24) most significant first; false when they run past the end.
    bool read(int n, uint32_t &value)
    {
        if (pos_ + n > bits_)
            return false;
        value = 0;
        for (int i = 0; i < n; ++i, ++pos_)
            value = (value << 1) | ((data_[pos_ >> 3] >> (7 - (pos_ & 7))) & 1);
        return true;
    }

private:
    const uint8_t *data_;
    int64_t bits_;
    int64_t pos_ = 0;
};

bool __pvna_avdemux_utils_read_object_type(BitReader &bits, uint32_t &type)
{
    if (!bits.read(5, type))
        return false;
    if (type == 31) {
        uint32_t ext = 0;
        if (!bits.read(6, ext))
            return false;
        type = 32 + ext;
    }
    return true;
}

bool __pvna_avdemux_utils_read_freq_index(BitReader &bits, int &index)
{
    uint32_t value = 0;
    if (!bits.read(4, value))
        return false;
    if (value == 15) {
        uint32_t rate = 0;
        if (!bits.read(24, rate))
            return false;
        index = __pvna_avdemux_utils_freq_index(int(rate));
        return index >= 0;
    }
    index = int(value);
    return index < 13;
}

// Takes the ADTS header fields from the AudioSpecificConfig; with SBR or PS
// signalled explicitly the core object type and rate are the ones ADTS carries.
bool __pvna_avdemux_utils_parse_asc(const uint8_t *asc, int size, DemuxStream &s)
{
    BitReader bits(asc, size);
    uint32_t type = 0, channels = 0;
    int freq = 0, extFreq = 0;
    if (!__pvna_avdemux_utils_read_object_type(bits, type) ||
        !__pvna_avdemux_utils_read_freq_index(bits, freq) || !bits.read(4, channels))
        return false;
    if (type == 5 || type == 29) {
        if (!__pvna_avdemux_utils_read_freq_index(bits, extFreq) ||
            !__pvna_avdemux_utils_read_object_type(bits, type))
            return false;
    }
    // ADTS has two profile bits (object types 1-4) and cannot carry a
    // program config element in place of the channel configuration.
    if (type < 1 || type > 4 || channels < 1 || channels > 7)
        return false;
    s.adtsProfile = uint8_t(type - 1);
    s.adtsFreqIndex = uint8_t(freq);
    s.adtsChannels = uint8_t(channels);
    return true;
}

int __pvna_avdemux_utils_channels(const AVCodecParameters *par)
{
#if LIBAVCODEC_VERSION_INT >= AV_VERSION_INT(59, 24, 100)
    return par->ch_layout.nb_channels;
#else
    return par->channels;
#endif
}

// Without an AudioSpecificConfig the stream parameters decide.
bool __pvna_avdemux_utils_adts_from_params(const AVCodecParameters *par, DemuxStream &s)
{
    const int freq = __pvna_avdemux_utils_freq_index(par->sample_rate);
    int channels = __pvna_avdemux_utils_channels(par);
    if (channels == 8)
        channels = 7;
    if (freq < 0 || channels < 1 || channels > 7)
        return false;
    // Codec profiles 0-3 are AAC Main, LC, SSR, LTP (object types 1-4).
    s.adtsProfile = uint8_t(par->profile >= 0 && par->profile <= 3 ? par->profile : 1);
    s.adtsFreqIndex = uint8_t(freq);
    s.adtsChannels = uint8_t(channels);
    return true;
}

bool __pvna_avdemux_utils_starts_with_start_code(const uint8_t *data, int size)
{
    return (size >= 4 && data[0] == 0 && data[1] == 0 && data[2] == 0 && data[3] == 1) ||
           (size >= 3 && data[0] == 0 && data[1] == 0 && data[2] == 1);
}

int __pvna_avdemux_utils_open_video(PVNA_AV_DEMUX_Context *ctx, AVStream *st, DemuxStream &s)
{
    const AVCodecParameters *par = st->codecpar;
    const char *filterName = par->codec_id == AV_CODEC_ID_H264 ? "h264_mp4toannexb" : "hevc_mp4toannexb";
    const AVBitStreamFilter *filter = av_bsf_get_by_name(filterName);
    int err = filter ? av_bsf_alloc(filter, &s.bsf) : AVERROR_FILTER_NOT_FOUND;
    if (err >= 0)
        err = avcodec_parameters_copy(s.bsf->par_in, par);
    if (err >= 0) {
        s.bsf->time_base_in = st->time_base;
        err = av_bsf_init(s.bsf);
    }
    if (err < 0) {
        PVNA_ERROR("%s: stream %d: %s failed: %s\n", ctx->source, st->index, filterName,
                   __pvna_avdemux_utils_error_text(err).c_str());
        return -1;
    }

    PVNA_AV_DEMUX_VideoInfo &v = ctx->info.video[ctx->info.videoCount];
    v.streamIndex = st->index;
    v.codec = s.codec;
    v.width = par->width;
    v.height = par->height;
    v.frameRate = st->avg_frame_rate.den > 0 ? st->avg_frame_rate.num / st->avg_frame_rate.den : 0;
    v.format = par->format == 0 ? PVNA_AV_FORMAT_YUV420P : PVNA_AV_FORMAT_OTHER;
    if (par->extradata_size > 0 && par->extradata_size <= PVNA_AV_DEMUX_MAX_VIDEO_CONFIG) {
        memcpy(v.extradata, par->extradata, size_t(par->extradata_size));
        v.extradataSize = par->extradata_size;
    }
    const AVCodecParameters *out = s.bsf->par_out;
    if (out->extradata_size > PVNA_AV_DEMUX_MAX_VIDEO_CONFIG)
        PVNA_ERROR("%s: stream %d: parameter sets of %d bytes exceed %d\n", ctx->source, st->index,
                   out->extradata_size, PVNA_AV_DEMUX_MAX_VIDEO_CONFIG);
    else if (__pvna_avdemux_utils_starts_with_start_code(out->extradata, out->extradata_size)) {
        memcpy(v.config, out->extradata, size_t(out->extradata_size));
        v.configSize = out->extradata_size;
    }
    s.kind = KindVideo;
    s.track = ctx->info.videoCount++;
    return 0;
}

void __pvna_avdemux_utils_open_audio(PVNA_AV_DEMUX_Context *ctx, AVStream *st, DemuxStream &s)
{
    const AVCodecParameters *par = st->codecpar;
    if (s.codec == PVNA_AV_CODEC_AAC) {
        s.adts = par->extradata_size > 0
                     ? __pvna_avdemux_utils_parse_asc(par->extradata, par->extradata_size, s)
                     : __pvna_avdemux_utils_adts_from_params(par, s);
        if (!s.adts) {
            PVNA_ERROR("%s: stream %d: AAC configuration cannot be framed as ADTS; stream ignored\n",
                       ctx->source, st->index);
            return;
        }
    }
    PVNA_AV_DEMUX_AudioInfo &a = ctx->info.audio[ctx->info.audioCount];
    a.streamIndex = st->index;
    a.codec = s.codec;
    a.sampleRate = par->sample_rate;
    a.channels = __pvna_avdemux_utils_channels(par);
    if (par->extradata_size > 0 && par->extradata_size <= PVNA_AV_DEMUX_MAX_AUDIO_CONFIG) {
        memcpy(a.extradata, par->extradata, size_t(par->extradata_size));
        a.extradataSize = par->extradata_size;
    }
    s.sampleRate = par->sample_rate;
    s.kind = KindAudio;
    s.track = ctx->info.audioCount++;
}

int __pvna_avdemux_utils_describe_streams(PVNA_AV_DEMUX_Context *ctx)
{
    ctx->streams.resize(ctx->input->nb_streams);
    for (unsigned i = 0; i < ctx->input->nb_streams; ++i) {
        AVStream *st = ctx->input->streams[i];
        DemuxStream &s = ctx->streams[i];
        s.timeBase = st->time_base;
        const AVCodecParameters *par = st->codecpar;
        if (par->codec_type == AVMEDIA_TYPE_VIDEO &&
            (par->codec_id == AV_CODEC_ID_H264 || par->codec_id == AV_CODEC_ID_HEVC)) {
            if (ctx->info.videoCount >= PVNA_AV_DEMUX_MAX_VIDEO)
                continue;
            s.codec = par->codec_id == AV_CODEC_ID_H264 ? PVNA_AV_CODEC_H264 : PVNA_AV_CODEC_HEVC;
            if (__pvna_avdemux_utils_open_video(ctx, st, s) < 0)
                return -1;
        } else if (par->codec_type == AVMEDIA_TYPE_AUDIO &&
                   (par->codec_id == AV_CODEC_ID_AAC || par->codec_id == AV_CODEC_ID_MP3)) {
            if (ctx->info.audioCount >= PVNA_AV_DEMUX_MAX_AUDIO)
                continue;
            s.codec = par->codec_id == AV_CODEC_ID_AAC ? PVNA_AV_CODEC_AAC : PVNA_AV_CODEC_MP3;
            __pvna_avdemux_utils_open_audio(ctx, st, s);
        } else if (par->codec_type == AVMEDIA_TYPE_DATA) {
            if (ctx->info.dataCount >= PVNA_AV_DEMUX_MAX_DATA)
                continue;
            ctx->info.dataStreamIndex[ctx->info.dataCount] = st->index;
            s.kind = KindData;
            s.track = ctx->info.dataCount++;
        }
    }
    if (ctx->info.videoCount == 0 && ctx->info.audioCount == 0) {
        PVNA_ERROR("%s: no supported video or audio stream\n", ctx->source);
        return -1;
    }
    return 0;
}

int64_t __pvna_avdemux_utils_packet_time(const AVPacket *pkt)
{
    if (pkt->pts != AV_NOPTS_VALUE)
        return pkt->pts;
    return pkt->dts != AV_NOPTS_VALUE ? pkt->dts : 0;
}

int64_t __pvna_avdemux_utils_rescale(int64_t t, AVRational from, AVRational to)
{
    return av_rescale_q_rnd(t, from, to, AVRounding(AV_ROUND_NEAR_INF | AV_ROUND_PASS_MINMAX));
}

int __pvna_avdemux_utils_deliver(PVNA_AV_DEMUX_Context *ctx, const DemuxStream &s, int mediaType,
                                 int streamIndex, int key, int64_t timeMs, const uint8_t *data, int size)
{
    const PVNA_AV_DEMUX_Packet p{streamIndex, s.track, mediaType, key, timeMs, data, size};
    return ctx->sink(ctx->opaque, &p) < 0 ? PVNA_AV_DEMUX_SINK_REFUSED : 0;
}

// Video time: the container time on a 90 kHz clock, in whole milliseconds.
int __pvna_avdemux_utils_deliver_video(PVNA_AV_DEMUX_Context *ctx, const DemuxStream &s, int streamIndex,
                                       const AVPacket *pkt)
{
    const int64_t t90 = __pvna_avdemux_utils_rescale(__pvna_avdemux_utils_packet_time(pkt), s.timeBase,
                                                     AVRational{1, 90000});
    if (t90 < 0)
        return 0;
    return __pvna_avdemux_utils_deliver(ctx, s, PVNA_AV_MEDIA_VIDEO, streamIndex,
                                        (pkt->flags & AV_PKT_FLAG_KEY) ? 1 : 0, t90 / 90, pkt->data,
                                        pkt->size);
}

int __pvna_avdemux_utils_drain_video(PVNA_AV_DEMUX_Context *ctx, DemuxStream &s, int streamIndex)
{
    int result = 0;
    while (av_bsf_receive_packet(s.bsf, ctx->filtered) >= 0) {
        if (result == 0)
            result = __pvna_avdemux_utils_deliver_video(ctx, s, streamIndex, ctx->filtered);
        av_packet_unref(ctx->filtered);
    }
    return result;
}

int __pvna_avdemux_utils_video(PVNA_AV_DEMUX_Context *ctx, DemuxStream &s, AVPacket *pkt)
{
    if (!s.keySeen) {
        if (!(pkt->flags & AV_PKT_FLAG_KEY))
            return 0;
        s.keySeen = true;
    }
    const int streamIndex = pkt->stream_index;
    const int err = av_bsf_send_packet(s.bsf, pkt);
    if (err < 0) {
        PVNA_ERROR("%s: stream %d: packet rejected by the bitstream filter: %s\n", ctx->source, streamIndex,
                   __pvna_avdemux_utils_error_text(err).c_str());
        return 0;
    }
    return __pvna_avdemux_utils_drain_video(ctx, s, streamIndex);
}

// Audio time: the container time on the sample clock, in whole milliseconds.
// AAC goes out as two packets, the ADTS header and then the raw payload.
int __pvna_avdemux_utils_audio(PVNA_AV_DEMUX_Context *ctx, const DemuxStream &s, const AVPacket *pkt)
{
    const int64_t t = __pvna_avdemux_utils_packet_time(pkt);
    int64_t ms = 0;
    if (s.sampleRate > 0) {
        const int64_t ticks = __pvna_avdemux_utils_rescale(t, s.timeBase, AVRational{1, s.sampleRate});
        if (ticks < 0)
            return 0;
        ms = ticks * 1000 / s.sampleRate;
    } else {
        ms = __pvna_avdemux_utils_rescale(t, s.timeBase, AVRational{1, 1000});
        if (ms < 0)
            return 0;
    }
    if (!s.adts)
        return __pvna_avdemux_utils_deliver(ctx, s, PVNA_AV_MEDIA_AUDIO, pkt->stream_index, 1, ms, pkt->data,
                                            pkt->size);

    const int frameLength = 7 + pkt->size;
    if (pkt->size <= 0 || frameLength > 0x1FFF) {
        PVNA_ERROR("%s: stream %d: AAC frame of %d bytes cannot be framed as ADTS; skipped\n", ctx->source,
                   pkt->stream_index, pkt->size);
        return 0;
    }
    const uint8_t header[7] = {
        0xFF,
        0xF1, // MPEG-4, no CRC
        uint8_t((s.adtsProfile << 6) | (s.adtsFreqIndex << 2) | (s.adtsChannels >> 2)),
        uint8_t(((s.adtsChannels & 3) << 6) | (frameLength >> 11)),
        uint8_t((frameLength >> 3) & 0xFF),
        uint8_t(((frameLength & 7) << 5) | 0x1F),
        0xFC, // buffer fullness 0x7FF (variable rate), one raw data block
    };
    const int result = __pvna_avdemux_utils_deliver(ctx, s, PVNA_AV_MEDIA_AUDIO, pkt->stream_index, 1, ms,
                                                    header, 7);
    if (result < 0)
        return result;
    return __pvna_avdemux_utils_deliver(ctx, s, PVNA_AV_MEDIA_AUDIO, pkt->stream_index, 1, ms, pkt->data,
                                        pkt->size);
}

// Telemetry keeps its own container time so that it falls where it was recorded.
int __pvna_avdemux_utils_data(PVNA_AV_DEMUX_Context *ctx, const DemuxStream &s, const AVPacket *pkt)
{
    const int64_t ms =
        __pvna_avdemux_utils_rescale(__pvna_avdemux_utils_packet_time(pkt), s.timeBase, AVRational{1, 1000});
    if (ms < 0)
        return 0;
    return __pvna_avdemux_utils_deliver(ctx, s, PVNA_AV_MEDIA_DATA, pkt->stream_index, 1, ms, pkt->data,
                                        pkt->size);
}

// At the end of the input the filters give up what they still hold.
int __pvna_avdemux_utils_flush(PVNA_AV_DEMUX_Context *ctx)
{
    int result = 0;
    for (size_t i = 0; i < ctx->streams.size(); ++i) {
        DemuxStream &s = ctx->streams[i];
        if (s.kind != KindVideo || av_bsf_send_packet(s.bsf, nullptr) < 0)
            continue;
        const int r = __pvna_avdemux_utils_drain_video(ctx, s, int(i));
        if (result == 0)
            result = r;
    }
    return result;
}

PVNA_AV_DEMUX_Context *__pvna_avdemux_utils_open_context(PVNA_AV_DEMUX_Handle handle)
{
    const int slot = __pvna_avdemux_utils_find_slot(handle);
    if (slot < 0 || !g_handles[slot]->input)
        return nullptr;
    return g_handles[slot];
}

} // namespace

int PVNA_AV_DEMUX_Create(PVNA_AV_DEMUX_Handle *handle, const char *sourceName)
{
    if (!handle)
        return -1;
    *handle = nullptr;
    RegistryLock lock;
    int slot = 0;
    while (slot < PVNA_AV_DEMUX_MAX_HANDLES && g_handles[slot])
        ++slot;
    if (slot == PVNA_AV_DEMUX_MAX_HANDLES) {
        PVNA_ERROR("all %d demuxer handles are in use\n", PVNA_AV_DEMUX_MAX_HANDLES);
        return -1;
    }
    PVNA_AV_DEMUX_Context *ctx = new (std::nothrow) PVNA_AV_DEMUX_Context;
    if (!ctx) {
        PVNA_ERROR("out of memory for a demuxer handle\n");
        return -1;
    }
    snprintf(ctx->source, sizeof ctx->source, "%s", sourceName ? sourceName : "Unknown");
    memset(&ctx->info, 0, sizeof ctx->info);
    g_handles[slot] = ctx;
    *handle = ctx;
    return 0;
}

int PVNA_AV_DEMUX_Open(PVNA_AV_DEMUX_Handle handle, const PVNA_AV_DEMUX_OpenParams *params)
{
    RegistryLock lock;
    const int slot = __pvna_avdemux_utils_find_slot(handle);
    if (slot < 0)
        return -1;
    PVNA_AV_DEMUX_Context *ctx = g_handles[slot];
    auto fail = [slot] {
        __pvna_avdemux_utils_release(slot);
        return -1;
    };
    if (!params || !params->path || !params->sink || !(params->flags & PVNA_AV_DEMUX_FLAG_MEMORY_OUTPUT) ||
        (params->flags & PVNA_AV_DEMUX_FLAG_CUSTOM_INPUT) || ctx->input) {
        PVNA_ERROR("%s: open needs a path, a sink and memory output only, on a handle not yet open\n",
                   ctx->source);
        return fail();
    }
    snprintf(ctx->source, sizeof ctx->source, "%s", params->path);

    // Only regular files: a FIFO or device would block the reading thread.
    struct stat st;
    if (stat(params->path, &st) != 0 || !S_ISREG(st.st_mode)) {
        PVNA_ERROR("%s: not a readable regular file\n", ctx->source);
        return fail();
    }
    // The path is a file name, never a URL or a protocol prefix, and
    // the container is MP4 whatever the bytes resemble.
    const std::string url = std::string("file:") + params->path;
    AVDictionary *options = nullptr;
    av_dict_set(&options, "protocol_whitelist", "file", 0);
    int err = avformat_open_input(&ctx->input, url.c_str(), av_find_input_format("mov"), &options);
    av_dict_free(&options);
    if (err < 0) {
        PVNA_ERROR("%s: cannot open: %s\n", ctx->source, __pvna_avdemux_utils_error_text(err).c_str());
        return fail();
    }
    err = avformat_find_stream_info(ctx->input, nullptr);
    if (err < 0) {
        PVNA_ERROR("%s: no stream information: %s\n", ctx->source, __pvna_avdemux_utils_error_text(err).c_str());
        return fail();
    }
    if (__pvna_avdemux_utils_describe_streams(ctx) < 0)
        return fail();
    ctx->packet = av_packet_alloc();
    ctx->filtered = av_packet_alloc();
    if (!ctx->packet || !ctx->filtered) {
        PVNA_ERROR("%s: out of memory for packets\n", ctx->source);
        return fail();
    }
    ctx->sink = params->sink;
    ctx->opaque = params->opaque;
    ctx->ended = false;
    return 0;
}

int PVNA_AV_DEMUX_GetStreamInfo(PVNA_AV_DEMUX_Handle handle, PVNA_AV_DEMUX_StreamInfo *info)
{
    RegistryLock lock;
    PVNA_AV_DEMUX_Context *ctx = __pvna_avdemux_utils_open_context(handle);
    if (!ctx || !info)
        return -1;
    *info = ctx->info;
    return 0;
}

int PVNA_AV_DEMUX_ReadPacket(PVNA_AV_DEMUX_Handle handle)
{
    RegistryLock lock;
    PVNA_AV_DEMUX_Context *ctx = __pvna_avdemux_utils_open_context(handle);
    if (!ctx)
        return -1;
    if (ctx->ended)
        return PVNA_AV_DEMUX_END;

    AVPacket *pkt = ctx->packet;
    const int err = av_read_frame(ctx->input, pkt);
    if (err < 0) {
        if (err != AVERROR_EOF)
            PVNA_ERROR("%s: reading ends early: %s\n", ctx->source, __pvna_avdemux_utils_error_text(err).c_str());
        ctx->ended = true;
        const int flushed = __pvna_avdemux_utils_flush(ctx);
        return flushed < 0 ? flushed : PVNA_AV_DEMUX_END;
    }
    int result = PVNA_AV_DEMUX_UNSUPPORTED;
    if (pkt->stream_index >= 0 && size_t(pkt->stream_index) < ctx->streams.size()) {
        DemuxStream &s = ctx->streams[size_t(pkt->stream_index)];
        switch (s.kind) {
        case KindVideo:
            result = __pvna_avdemux_utils_video(ctx, s, pkt);
            break;
        case KindAudio:
            result = __pvna_avdemux_utils_audio(ctx, s, pkt);
            break;
        case KindData:
            result = __pvna_avdemux_utils_data(ctx, s, pkt);
            break;
        case KindNone:
            break;
        }
    }
    av_packet_unref(pkt);
    return result;
}

int PVNA_AV_DEMUX_Seek(PVNA_AV_DEMUX_Handle handle, int64_t timeMs)
{
    RegistryLock lock;
    PVNA_AV_DEMUX_Context *ctx = __pvna_avdemux_utils_open_context(handle);
    if (!ctx)
        return -1;
    const int err = av_seek_frame(ctx->input, -1, av_rescale(timeMs, AV_TIME_BASE, 1000), AVSEEK_FLAG_BACKWARD);
    if (err < 0) {
        PVNA_ERROR("%s: seek to %lld ms failed: %s\n", ctx->source, static_cast<long long>(timeMs),
                   __pvna_avdemux_utils_error_text(err).c_str());
        return err;
    }
    for (DemuxStream &s : ctx->streams) {
        if (s.kind != KindVideo)
            continue;
        s.keySeen = false;
        av_bsf_flush(s.bsf);
    }
    ctx->ended = false;
    return err;
}

int PVNA_AV_DEMUX_Close(PVNA_AV_DEMUX_Handle handle)
{
    RegistryLock lock;
    const int slot = __pvna_avdemux_utils_find_slot(handle);
    if (slot < 0)
        return -1;
    __pvna_avdemux_utils_close(g_handles[slot]);
    return 0;
}

int PVNA_AV_DEMUX_Destroy(PVNA_AV_DEMUX_Handle handle)
{
    RegistryLock lock;
    const int slot = __pvna_avdemux_utils_find_slot(handle);
    if (slot < 0)
        return -1;
    __pvna_avdemux_utils_release(slot);
    return 0;
}
