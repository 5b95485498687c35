#include "pavona_av_muxer.h"

#include "osal_mutex.h"
#include "pvna_log.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavcodec/bsf.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/dict.h>
#include <libavutil/mathematics.h>
#include <libavutil/opt.h>
}

#include <algorithm>
#include <cstring>
#include <ctime>
#include <mutex>
#include <new>
#include <string>
#include <vector>

#if LIBAVCODEC_VERSION_INT >= AV_VERSION_INT(59, 24, 100)
#define PVNA_AVMUX_CH_LAYOUT 1
#endif

namespace {

struct MuxAudio {
    AVStream *stream = nullptr;
    AVBSFContext *bsf = nullptr;
};

struct MuxSubtitle {
    AVCodecContext *encoder = nullptr;
    AVStream *stream = nullptr;
};

} // namespace

struct PVNA_AV_MUX_CONTEXT {
    AVFormatContext *output = nullptr;
    const AVOutputFormat *format = nullptr;
    bool ownsFile = false; // the library opened the output and closes it

    uint32_t customIO = 0;
    uint8_t *ioBuffer = nullptr;
    uint32_t ioBufferSize = 0;
    AVIOContext *io = nullptr;
    PVNA_AV_MUX_WRITE_CB write = nullptr;
    PVNA_AV_MUX_SEEK_CB seek = nullptr;
    void *opaque = nullptr;

    char outputName[PVNA_AV_MUX_OUTPUT_NAME_SIZE] = {};
    bool mp4 = false;
    bool matroska = false;

    int64_t firstAudioMs = -1;
    int64_t firstVideoMs = -1;
    int64_t elapsedVideoMs = 0;

    std::vector<MuxAudio> audio;
    std::vector<AVStream *> video;
    std::vector<MuxSubtitle> subtitles;
    std::vector<AVStream *> attachments;
    std::vector<int64_t> lastEnd; // per output stream: end of its last packet, stream time base

    uint32_t videoStarted = 0;
    int64_t videoPackets = 0;
    int64_t subtitlePackets = 0;
    int64_t attachPackets = 0;

    PVNA_AV_MUX_HANDLE *handle = nullptr;

    PVNA_AV_MUX_CREATE_PARAM param{};
    std::vector<PVNA_AV_MUX_AUDIO_INFO> audioInfo;
    std::vector<PVNA_AV_MUX_VIDEO_INFO> videoInfo;
    std::vector<PVNA_AV_MUX_SUBT_INFO> subtInfo;
    std::vector<PVNA_AV_MUX_ATTACH_INFO> attachInfo;
    std::vector<PVNA_AV_MUX_CHAPTER_INFO> chapterInfo;
    std::vector<std::vector<uint32_t>> chapterValues;
};

namespace {

struct PVNA_AV_MUX_GLOBAL {
    PVNA_AV_MUX_CONTEXT *slots[PVNA_AV_MUX_MAX_SLOTS] = {};
    uint32_t allUsed = 0;
    uint32_t inUse = 0;
    OSA_MutexHndl lock;
};

// One table for the whole process, initialised once even when two threads
// open their first handles at the same moment. It is empty again after the
// last Close, so the next Open starts afresh at slot 0.
PVNA_AV_MUX_GLOBAL *__pvna_avmux_utils_global()
{
    static PVNA_AV_MUX_GLOBAL global;
    static int created = -1;
    static std::once_flag once;
    std::call_once(once, [] {
        created = OSA_mutexCreate(&global.lock);
        if (created != 0) {
            PVNA_ERROR("Fail to create mutex");
            return;
        }
        av_log_set_level(AV_LOG_ERROR);
        avformat_network_init();
    });
    return created == 0 ? &global : nullptr;
}

class GlobalLock {
public:
    explicit GlobalLock(PVNA_AV_MUX_GLOBAL *g) : g_(g) { OSA_mutexLock(&g_->lock); }
    ~GlobalLock() { OSA_mutexUnlock(&g_->lock); }
    GlobalLock(const GlobalLock &) = delete;
    GlobalLock &operator=(const GlobalLock &) = delete;

private:
    PVNA_AV_MUX_GLOBAL *g_;
};

std::string __pvna_avmux_utils_error_text(int err)
{
    char text[AV_ERROR_MAX_STRING_SIZE] = {0};
    av_strerror(err, text, sizeof text);
    return text;
}

int __pvna_avmux_utils_alloc_handle(PVNA_AV_MUX_GLOBAL *g)
{
    for (int i = 0; i < PVNA_AV_MUX_MAX_SLOTS; ++i)
        if (!g->slots[i])
            return i;
    return -1;
}

// The slot context of a handle, or null when the handle does not own it.
PVNA_AV_MUX_CONTEXT *__pvna_avmux_utils_context(PVNA_AV_MUX_GLOBAL *g, PVNA_AV_MUX_HANDLE *handle)
{
    if (!g || !handle || handle->slot >= PVNA_AV_MUX_MAX_SLOTS)
        return nullptr;
    PVNA_AV_MUX_CONTEXT *ctx = g->slots[handle->slot];
    return ctx && ctx->handle == handle ? ctx : nullptr;
}

int __pvna_avmux_utils_io_write(void *opaque, const uint8_t *data, int size)
{
    auto *ctx = static_cast<PVNA_AV_MUX_CONTEXT *>(opaque);
    return ctx->write(ctx->opaque, data, size);
}

int64_t __pvna_avmux_utils_io_seek(void *opaque, int64_t offset, int whence)
{
    auto *ctx = static_cast<PVNA_AV_MUX_CONTEXT *>(opaque);
    return ctx->seek(ctx->opaque, offset, whence);
}

// libavformat's write callback lost the const of its buffer until 6.1.
#if LIBAVFORMAT_VERSION_INT >= AV_VERSION_INT(60, 12, 100)
int __pvna_avmux_utils_avio_write(void *opaque, const uint8_t *data, int size)
#else
int __pvna_avmux_utils_avio_write(void *opaque, uint8_t *data, int size)
#endif
{
    return __pvna_avmux_utils_io_write(opaque, data, size);
}

void __pvna_avmux_utils_free_io(PVNA_AV_MUX_CONTEXT *ctx)
{
    if (ctx->output && ctx->io && ctx->output->pb == ctx->io)
        ctx->output->pb = nullptr;
    if (ctx->io) {
        av_freep(&ctx->io->buffer); // may have been replaced by libavformat
        avio_context_free(&ctx->io);
        ctx->ioBuffer = nullptr;
    }
    av_freep(&ctx->ioBuffer);
}

// Frees everything the slot owns; the slot itself stays occupied.
void __pvna_avmux_utils_release(PVNA_AV_MUX_CONTEXT *ctx)
{
    if (ctx->output) {
        if (ctx->ownsFile)
            avio_closep(&ctx->output->pb);
        __pvna_avmux_utils_free_io(ctx);
        avformat_free_context(ctx->output);
        ctx->output = nullptr;
    } else {
        __pvna_avmux_utils_free_io(ctx);
    }
    ctx->ownsFile = false;
    ctx->format = nullptr;
    for (MuxAudio &a : ctx->audio)
        av_bsf_free(&a.bsf);
    ctx->audio.clear();
    for (MuxSubtitle &s : ctx->subtitles)
        avcodec_free_context(&s.encoder);
    ctx->subtitles.clear();
    ctx->video.clear();
    ctx->attachments.clear();
    ctx->lastEnd.clear();
    ctx->audioInfo.clear();
    ctx->videoInfo.clear();
    ctx->subtInfo.clear();
    ctx->attachInfo.clear();
    ctx->chapterInfo.clear();
    ctx->chapterValues.clear();
    ctx->param = PVNA_AV_MUX_CREATE_PARAM{};
}

bool __pvna_avmux_utils_set_config(AVCodecParameters *par, const uint8_t *bytes, size_t size)
{
    if (size == 0)
        return true;
    par->extradata = static_cast<uint8_t *>(av_mallocz(size + AV_INPUT_BUFFER_PADDING_SIZE));
    if (!par->extradata)
        return false;
    memcpy(par->extradata, bytes, size);
    par->extradata_size = int(size);
    return true;
}

int __pvna_avmux_utils_pixel_format(uint32_t code)
{
    switch (code) {
    case PVNA_AV_MUX_PIX_YUV420P:
        return AV_PIX_FMT_YUV420P;
    case PVNA_AV_MUX_PIX_NV12:
    case PVNA_AV_MUX_PIX_NV12_ALT:
        return AV_PIX_FMT_NV12;
    case PVNA_AV_MUX_PIX_NV21:
    case PVNA_AV_MUX_PIX_NV21_ALT:
        return AV_PIX_FMT_NV21;
    default:
        return AV_PIX_FMT_NONE;
    }
}

int __pvna_avmux_utils_add_video_stream(PVNA_AV_MUX_CONTEXT *ctx, const PVNA_AV_MUX_VIDEO_INFO &info,
                                        AVRational timeBase)
{
    const int format = __pvna_avmux_utils_pixel_format(info.pixelFormat);
    if (format == AV_PIX_FMT_NONE) {
        PVNA_ERROR("Unsupported pixel format(0x%08x)\n", info.pixelFormat);
        return -1;
    }
    if (info.configSize > PVNA_AV_MUX_MAX_VIDEO_CONFIG || info.width == 0 || info.height == 0 ||
        info.width > 16384 || info.height > 16384)
        return -1;
    AVStream *st = avformat_new_stream(ctx->output, nullptr);
    if (!st) {
        PVNA_ERROR("Could not allocate stream\n");
        return -1;
    }
    st->id = st->index;
    AVCodecParameters *par = st->codecpar;
    par->codec_type = AVMEDIA_TYPE_VIDEO;
    if (info.codec == PVNA_AV_MUX_VIDEO_H264) {
        par->codec_id = AV_CODEC_ID_H264;
    } else {
        par->codec_id = AV_CODEC_ID_HEVC;
        // Players of MP4 expect the parameter-set-in-header form to be named so.
        if (ctx->mp4)
            par->codec_tag = MKTAG('h', 'v', 'c', '1');
    }
    if (!__pvna_avmux_utils_set_config(par, info.config, info.configSize))
        return -1;
    st->disposition = AV_DISPOSITION_DEFAULT;
    par->width = int((info.width + 1) & ~1u);
    par->height = int((info.height + 1) & ~1u);
    par->format = format;
    if (info.frameRate > 0) {
        st->avg_frame_rate = AVRational{int(info.frameRate), 1};
        st->r_frame_rate = st->avg_frame_rate;
    }
    st->time_base = timeBase;
    ctx->video.push_back(st);
    return st->index;
}

bool __pvna_avmux_utils_set_layout(AVCodecParameters *par, int channels)
{
    static const uint64_t layouts[8] = {
        AV_CH_LAYOUT_MONO,    AV_CH_LAYOUT_STEREO,  AV_CH_LAYOUT_2POINT1, AV_CH_LAYOUT_QUAD,
        AV_CH_LAYOUT_5POINT0, AV_CH_LAYOUT_5POINT1, AV_CH_LAYOUT_6POINT1, AV_CH_LAYOUT_7POINT1,
    };
    const bool known = channels >= 1 && channels <= 8;
#ifdef PVNA_AVMUX_CH_LAYOUT
    if (known)
        av_channel_layout_from_mask(&par->ch_layout, layouts[channels - 1]);
    else
        par->ch_layout = AVChannelLayout{AV_CHANNEL_ORDER_UNSPEC, channels > 0 ? channels : 1, {0}, nullptr};
#else
    par->channels = channels;
    if (known)
        par->channel_layout = layouts[channels - 1];
#endif
    return known;
}

int __pvna_avmux_utils_add_audio_stream(PVNA_AV_MUX_CONTEXT *ctx, const PVNA_AV_MUX_AUDIO_INFO &info,
                                        bool adtsFilter, bool timeBaseFromRate, AVRational timeBase)
{
    if (info.configSize > PVNA_AV_MUX_MAX_AUDIO_CONFIG || info.sampleRate == 0 || info.sampleRate > 768000)
        return -1;
    AVStream *st = avformat_new_stream(ctx->output, nullptr);
    if (!st) {
        PVNA_ERROR("Could not allocate stream\n");
        return -1;
    }
    st->id = st->index;
    AVCodecParameters *par = st->codecpar;
    par->codec_type = AVMEDIA_TYPE_AUDIO;
    par->format = AV_SAMPLE_FMT_S16;
    if (info.codec == PVNA_AV_MUX_AUDIO_AAC) {
        par->codec_id = AV_CODEC_ID_AAC;
        if (!__pvna_avmux_utils_set_config(par, info.config, info.configSize))
            return -1;
    } else if (info.codec == PVNA_AV_MUX_AUDIO_MP3) {
        par->codec_id = AV_CODEC_ID_MP3;
    } else {
        par->codec_id = AV_CODEC_ID_PCM_S16LE;
        par->bit_rate = 131072;
        par->bits_per_coded_sample = 16;
        par->block_align = int(2 * (info.channels > 0 ? info.channels : 1));
    }
    par->sample_rate = int(info.sampleRate);
    if (!__pvna_avmux_utils_set_layout(par, int(info.channels)))
        PVNA_ERROR("Unsupported audio channel options[%d]\n", int(info.channels));
    st->time_base = timeBaseFromRate ? AVRational{1, int(info.sampleRate)} : timeBase;

    MuxAudio audio;
    audio.stream = st;
    if (info.codec == PVNA_AV_MUX_AUDIO_AAC && info.packaging == PVNA_AV_MUX_PACKAGING_ADTS && adtsFilter) {
        const AVBitStreamFilter *filter = av_bsf_get_by_name("aac_adtstoasc");
        if (!filter || av_bsf_alloc(filter, &audio.bsf) < 0) {
            PVNA_ERROR("Fail to create bit stream context for audio stream(%d)\n", st->index);
            return -1;
        }
        audio.bsf->time_base_in = AVRational{1, int(info.sampleRate)};
        if (avcodec_parameters_copy(audio.bsf->par_in, par) < 0 || av_bsf_init(audio.bsf) < 0) {
            PVNA_ERROR("bistream filter[%d::%s]: init failure\n", st->index, filter->name);
            av_bsf_free(&audio.bsf);
            return -1;
        }
    }
    ctx->audio.push_back(audio);
    return st->index;
}

// The text encoders of libavcodec read their styles from an ASS header.
const char kAssHeader[] = "[Script Info]\r\n"
                          "ScriptType: v4.00+\r\n"
                          "PlayResX: 384\r\n"
                          "PlayResY: 288\r\n"
                          "\r\n"
                          "[V4+ Styles]\r\n"
                          "Format: Name, Fontname, Fontsize, PrimaryColour, SecondaryColour, OutlineColour, "
                          "BackColour, Bold, Italic, Underline, StrikeOut, ScaleX, ScaleY, Spacing, Angle, "
                          "BorderStyle, Outline, Shadow, Alignment, MarginL, MarginR, MarginV, Encoding\r\n"
                          "Style: Default,Arial,12,&Hffffff,&Hffffff,&H0,&H0,0,0,0,0,100,100,0,0,1,1,0,2,10,10,"
                          "10,0\r\n"
                          "\r\n"
                          "[Events]\r\n"
                          "Format: Layer, Start, End, Style, Name, MarginL, MarginR, MarginV, Effect, Text\r\n";

// The 3GPP timed-text sample description of an MP4 subtitle track.
std::vector<uint8_t> __pvna_avmux_utils_tx3g_description(uint32_t width)
{
    std::vector<uint8_t> d = {
        0, 0, 0, 0,             // display flags
        1,                      // horizontal justification: centre
        0xFF,                   // vertical justification: bottom
        0, 0, 0, 0xFF,          // background RGBA
        0, 0, 0, 0,             // text box top, left
        0, 36,                  // bottom
        uint8_t(width >> 8), uint8_t(width), // right
        0, 0, 0, 0,             // style record: start, end
        0, 1,                   // font id
        0,                      // face
        12,                     // size
        0xFF, 0xFF, 0xFF, 0xFF, // text colour
        0, 0, 0, 18, 'f', 't', 'a', 'b', 0, 1, 0, 1, 5, 'A', 'r', 'i', 'a', 'l',
    };
    return d;
}

// 0 when the stream and its encoder are set up; 1 when the encoder is not
// available (set-up of subtitles ends, Create goes on); -1 on failure.
int __pvna_avmux_utils_add_subt_stream(PVNA_AV_MUX_CONTEXT *ctx, PVNA_AV_MUX_SUBT_INFO &info, AVRational timeBase)
{
    // Matroska gets a text track (SubRip): its bitmap codec cannot carry text.
    const AVCodecID id = ctx->mp4 ? AV_CODEC_ID_MOV_TEXT : AV_CODEC_ID_SUBRIP;
    AVStream *st = avformat_new_stream(ctx->output, nullptr);
    if (!st) {
        PVNA_ERROR("Could not allocate stream\n");
        return -1;
    }
    st->id = st->index;
    AVCodecParameters *par = st->codecpar;
    par->codec_type = AVMEDIA_TYPE_SUBTITLE;
    par->codec_id = id;
    par->width = int(info.width);
    par->height = ctx->mp4 ? 36 : int(info.height);
    if (ctx->mp4) {
        const std::vector<uint8_t> d = __pvna_avmux_utils_tx3g_description(info.width);
        if (!__pvna_avmux_utils_set_config(par, d.data(), d.size())) {
            PVNA_ERROR("Not enough memory\n");
            return -1;
        }
    }
    st->disposition = AV_DISPOSITION_DEFAULT;
    av_dict_set(&st->metadata, "language", "kor", 0);
    st->time_base = timeBase;

    const AVCodec *codec = avcodec_find_encoder(id);
    if (!codec) {
        PVNA_ERROR("encavcodecaInit: avcodec_find_encoder(%d) failed", int(id));
        return 1;
    }
    MuxSubtitle sub;
    sub.stream = st;
    sub.encoder = avcodec_alloc_context3(codec);
    if (sub.encoder) {
        sub.encoder->time_base = AVRational{1, 1000};
        sub.encoder->subtitle_header = static_cast<uint8_t *>(av_mallocz(sizeof kAssHeader));
        if (sub.encoder->subtitle_header) {
            memcpy(sub.encoder->subtitle_header, kAssHeader, sizeof kAssHeader);
            sub.encoder->subtitle_header_size = int(sizeof kAssHeader - 1);
        }
    }
    if (!sub.encoder || !sub.encoder->subtitle_header || avcodec_open2(sub.encoder, codec, nullptr) < 0) {
        avcodec_free_context(&sub.encoder);
        PVNA_ERROR("Fail to create subtitle codec\n");
        return 1;
    }
    ctx->subtitles.push_back(sub);
    info.streamIndex = uint32_t(st->index);
    return 0;
}

int __pvna_avmux_utils_add_attach_stream(PVNA_AV_MUX_CONTEXT *ctx, PVNA_AV_MUX_ATTACH_INFO &info)
{
    AVStream *st = avformat_new_stream(ctx->output, nullptr);
    if (!st) {
        PVNA_ERROR("Could not allocate stream\n");
        return -1;
    }
    st->id = st->index;
    AVCodecParameters *par = st->codecpar;
    par->codec_id = AV_CODEC_ID_BIN_DATA;
    if (ctx->mp4) {
        par->codec_type = AVMEDIA_TYPE_DATA;
        par->codec_tag = MKTAG('g', 'p', 'm', 'd');
    } else {
        // A Matroska attachment lives in the header: its bytes go in now.
        par->codec_type = AVMEDIA_TYPE_ATTACHMENT;
        par->codec_tag = MKTAG('t', 'e', 'x', 't');
        av_dict_set(&st->metadata, "filename", "GPS", 0);
        av_dict_set(&st->metadata, "mimetype", "application/octet-stream", 0);
        static const uint8_t empty = 0;
        const bool given = info.data && info.dataSize > 0;
        if (!__pvna_avmux_utils_set_config(par, given ? info.data : &empty, given ? info.dataSize : 1)) {
            PVNA_ERROR("Not enough memory\n");
            return -1;
        }
    }
    st->time_base = AVRational{1, 1000};
    ctx->attachments.push_back(st);
    info.streamIndex = uint32_t(st->index);
    return st->index;
}

void __pvna_avmux_utils_set_meta(AVDictionary **dict, const char *key, const char *text, size_t size)
{
    if (!key || text[0] == 0)
        return;
    av_dict_set(dict, key, std::string(text, strnlen(text, size)).c_str(), 0);
}

void __pvna_avmux_utils_file_metadata(PVNA_AV_MUX_CONTEXT *ctx, const PVNA_AV_MUX_CREATE_PARAM &p)
{
    AVDictionary **meta = &ctx->output->metadata;
    char stamp[32];
    const time_t now = time(nullptr);
    struct tm utc;
    gmtime_r(&now, &utc);
    strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%SZ", &utc);
    av_dict_set(meta, "creation_time", stamp, 0);
    const std::string tool(p.encodingTool, strnlen(p.encodingTool, sizeof p.encodingTool));
    av_dict_set(meta, "encoding_tool", tool.empty() ? "TAL_REC" : tool.c_str(), 0);
    const std::string title(p.title, strnlen(p.title, sizeof p.title));
    const bool mp4 = ctx->mp4;
    av_dict_set(meta, mp4 ? "title" : "TITLE", title.empty() ? "Unknown" : title.c_str(), 0);
    __pvna_avmux_utils_set_meta(meta, mp4 ? "artist" : "ARTIST", p.artist, sizeof p.artist);
    __pvna_avmux_utils_set_meta(meta, mp4 ? "album_artist" : "DIRECTOR", p.albumArtist, sizeof p.albumArtist);
    __pvna_avmux_utils_set_meta(meta, mp4 ? "composer" : "COMPOSER", p.composer, sizeof p.composer);
    __pvna_avmux_utils_set_meta(meta, mp4 ? "date" : "DATE_RELEASED", p.date, sizeof p.date);
    __pvna_avmux_utils_set_meta(meta, mp4 ? "comment" : "SUMMARY", p.comment, sizeof p.comment);
    __pvna_avmux_utils_set_meta(meta, mp4 ? "album" : nullptr, p.album, sizeof p.album);
    __pvna_avmux_utils_set_meta(meta, mp4 ? "genre" : "GENRE", p.genre, sizeof p.genre);
    __pvna_avmux_utils_set_meta(meta, mp4 ? "description" : "DESCRIPTION", p.description, sizeof p.description);
    __pvna_avmux_utils_set_meta(meta, mp4 ? "synopsis" : "SYNOPSIS", p.synopsis, sizeof p.synopsis);
}

struct OutputChoice {
    const char *format = nullptr;
    AVRational timeBase{1, 90000};
    bool file = false;
    bool mpegts = false;
};

// The output name and format of the transport and kind; false (logged) when refused.
bool __pvna_avmux_utils_choose_output(PVNA_AV_MUX_CONTEXT *ctx, const PVNA_AV_MUX_CREATE_PARAM &p,
                                      OutputChoice &out)
{
    char *name = ctx->outputName;
    const size_t size = sizeof ctx->outputName;
    if (p.transport == PVNA_AV_MUX_TRANSPORT_FILE) {
        const std::string path(p.destination.path, strnlen(p.destination.path, sizeof p.destination.path));
        out.file = true;
        if (p.kind == PVNA_AV_MUX_FILE_MP4) {
            snprintf(name, size, "%s.mp4", path.c_str());
            out.format = "mp4";
            ctx->mp4 = true;
            return true;
        }
        if (p.kind == PVNA_AV_MUX_FILE_MKV) {
            snprintf(name, size, "%s.mkv", path.c_str());
            out.format = "matroska";
            out.timeBase = AVRational{1, 10000};
            ctx->matroska = true;
            return true;
        }
        PVNA_ERROR("Unsupported container protocol\n");
        return false;
    }
    if (p.transport != PVNA_AV_MUX_TRANSPORT_STREAM)
        return false;
    const PVNA_AV_MUX_STREAM_DESTINATION &d = p.destination.stream;
    const std::string host(d.host, strnlen(d.host, sizeof d.host));
    switch (p.kind) {
    case PVNA_AV_MUX_STREAM_UDP_TS:
    case PVNA_AV_MUX_STREAM_RTP_TS:
        snprintf(name, size, "%s://%s:%d?ttl=%d&buffer_size=%d&pkt_delay=%d&dscp=%d",
                 p.kind == PVNA_AV_MUX_STREAM_UDP_TS ? "udp" : "rtp", host.c_str(), int(d.port), int(d.ttl),
                 int(d.bufferSize), int(d.packetDelay), int(d.dscp));
        out.format = p.kind == PVNA_AV_MUX_STREAM_UDP_TS ? "mpegts" : "rtp_mpegts";
        out.mpegts = p.kind == PVNA_AV_MUX_STREAM_UDP_TS;
        return true;
    case PVNA_AV_MUX_STREAM_RTMP: {
        const std::string path(d.streamPath, strnlen(d.streamPath, sizeof d.streamPath));
        snprintf(name, size, "rtmp://%s:%d/%s", host.c_str(), int(d.port), path.c_str());
        out.format = "flv";
        return true;
    }
    case PVNA_AV_MUX_STREAM_TCP:
        snprintf(name, size, "tcp://%s:%d?listen=%d", host.c_str(), int(d.port), int(d.listen));
        out.format = "tcp"; // no such output format: the lookup below refuses it
        return true;
    case PVNA_AV_MUX_STREAM_UNSUPPORTED:
        PVNA_ERROR("Unsupported streaming protocol\n");
        return false;
    default:
        PVNA_ERROR("No built-in test feed: stream kind %d refused\n", int(p.kind));
        return false;
    }
}

bool __pvna_avmux_utils_copy_param(PVNA_AV_MUX_CONTEXT *ctx, const PVNA_AV_MUX_CREATE_PARAM &p)
{
    try {
        ctx->param = p;
        if (p.audio)
            ctx->audioInfo.assign(p.audio, p.audio + std::max(p.audioCount, 0));
        for (int i = 0; p.video && i < p.videoCount; ++i)
            if (p.video[i].codec != PVNA_AV_MUX_VIDEO_NONE)
                ctx->videoInfo.push_back(p.video[i]);
        if (p.subt)
            ctx->subtInfo.assign(p.subt, p.subt + std::max(p.subtCount, 0));
        if (p.attach)
            ctx->attachInfo.assign(p.attach, p.attach + std::max(p.attachCount, 0));
        for (int i = 0; p.chapters && i < p.chapterCount; ++i) {
            const PVNA_AV_MUX_CHAPTER_INFO &c = p.chapters[i];
            ctx->chapterValues.emplace_back(c.first, c.first + (c.first ? c.firstCount : 0));
            ctx->chapterValues.emplace_back(c.second, c.second + (c.second ? c.secondCount : 0));
            PVNA_AV_MUX_CHAPTER_INFO copy = c;
            copy.first = ctx->chapterValues[ctx->chapterValues.size() - 2].data();
            copy.second = ctx->chapterValues.back().data();
            ctx->chapterInfo.push_back(copy);
        }
        // The caller's arrays are not kept: the copies stand in for them.
        ctx->param.audio = ctx->audioInfo.data();
        ctx->param.video = ctx->videoInfo.data();
        ctx->param.subt = ctx->subtInfo.data();
        ctx->param.attach = ctx->attachInfo.data();
        ctx->param.chapters = ctx->chapterInfo.data();
        ctx->param.opaque = nullptr;
        return true;
    } catch (const std::bad_alloc &) {
        return false;
    }
}

int __pvna_avmux_utils_create(PVNA_AV_MUX_CONTEXT *ctx, PVNA_AV_MUX_CREATE_PARAM *p)
{
    const char *owner = ctx->handle->ownerName;
    const int slot = int(ctx->handle->slot);
    OutputChoice choice;
    if (!__pvna_avmux_utils_choose_output(ctx, *p, choice))
        return -1;
    ctx->format = av_guess_format(choice.format, nullptr, nullptr);
    if (!ctx->format || avformat_alloc_output_context2(&ctx->output, ctx->format, nullptr, ctx->outputName) < 0 ||
        !ctx->output) {
        PVNA_ERROR("No output format \"%s\" for %s\n", choice.format, ctx->outputName);
        return -1;
    }

    if (p->customIO == 1) {
        if (!p->write) {
            PVNA_ERROR("Fail to create custom io for stream(%s:%d)\n", owner, slot);
            return -1;
        }
        ctx->ioBufferSize = p->customIOBufferSize > 0 ? p->customIOBufferSize : 65536;
        ctx->ioBuffer = static_cast<uint8_t *>(av_malloc(ctx->ioBufferSize));
        if (!ctx->ioBuffer) {
            PVNA_ERROR("Not enough memory for mux cache(%s:%d)\n", owner, slot);
            return -1;
        }
        ctx->write = p->write;
        ctx->seek = p->seek;
        ctx->opaque = p->opaque;
        ctx->io = avio_alloc_context(ctx->ioBuffer, int(ctx->ioBufferSize), 1, ctx, nullptr,
                                     __pvna_avmux_utils_avio_write,
                                     p->seek ? __pvna_avmux_utils_io_seek : nullptr);
        if (!ctx->io) {
            PVNA_ERROR("Fail to create custom io for stream(%s:%d)\n", owner, slot);
            return -1;
        }
        ctx->customIO = 1;
        ctx->output->pb = ctx->io;
        ctx->output->flags |= AVFMT_FLAG_CUSTOM_IO;
    }

    // Video, in descriptor order; code 1 makes no stream and no track.
    for (int i = 0; p->video && i < p->videoCount; ++i) {
        PVNA_AV_MUX_VIDEO_INFO &v = p->video[i];
        if (v.codec == PVNA_AV_MUX_VIDEO_NONE)
            continue;
        const int index = __pvna_avmux_utils_add_video_stream(ctx, v, choice.timeBase);
        if (index < 0) {
            PVNA_ERROR("Fail to create new video stream(%d)\n", i);
            return -1;
        }
        v.streamIndex = uint32_t(index);
    }
    if (p->audioCount > 0 && !p->audio) {
        PVNA_ERROR("Invaild input parameters(NULLs)\n");
        PVNA_ERROR("Fail to create new audio stream(%d)\n", 0);
        return -1;
    }
    const bool adtsFilter = choice.file || p->kind == PVNA_AV_MUX_STREAM_RTMP;
    for (int i = 0; i < p->audioCount; ++i) {
        const int index = __pvna_avmux_utils_add_audio_stream(ctx, p->audio[i], adtsFilter, ctx->mp4, choice.timeBase);
        if (index < 0) {
            PVNA_ERROR("Fail to create new audio stream(%d)\n", i);
            return -1;
        }
        p->audio[i].streamIndex = uint32_t(index);
    }
    if (choice.file) {
        for (int i = 0; p->subt && i < p->subtCount; ++i) {
            if (p->subt[i].enabled != 1)
                continue;
            const int rc = __pvna_avmux_utils_add_subt_stream(ctx, p->subt[i], choice.timeBase);
            if (rc < 0)
                return -1;
            if (rc > 0)
                break;
        }
        for (int i = 0; p->attach && i < p->attachCount; ++i)
            if (p->attach[i].enabled == 1 && __pvna_avmux_utils_add_attach_stream(ctx, p->attach[i]) < 0)
                return -1;
        __pvna_avmux_utils_file_metadata(ctx, *p);
    } else {
        __pvna_avmux_utils_set_meta(&ctx->output->metadata, "service_provider", p->serviceProvider,
                                    sizeof p->serviceProvider);
    }

    AVDictionary *options = nullptr;
    if (ctx->mp4 && p->fragmented == 1) {
        av_dict_set(&options, "movflags", "empty_moov+frag_keyframe", 0);
        av_dict_set(&options, "frag_size", "524288", 0);
    }
    if (choice.mpegts) {
        ctx->output->avio_flags |= AVIO_FLAG_DIRECT;
        ctx->output->flush_packets = 1;
        ctx->output->strict_std_compliance = FF_COMPLIANCE_EXPERIMENTAL;
        ctx->output->max_delay = p->destination.stream.maxDelay;
    }
    if (!ctx->customIO && !(ctx->format->flags & AVFMT_NOFILE)) {
        // A file name is a file, whatever it resembles: never a protocol.
        const std::string url = (choice.file ? std::string("file:") : std::string()) + ctx->outputName;
        AVDictionary *io = nullptr;
        if (choice.file)
            av_dict_set(&io, "protocol_whitelist", "file", 0);
        const int err = avio_open2(&ctx->output->pb, url.c_str(), AVIO_FLAG_WRITE | ctx->output->avio_flags,
                                   nullptr, &io);
        av_dict_free(&io);
        if (err < 0) {
            PVNA_ERROR("Could not open '%s': %s\n", ctx->outputName, __pvna_avmux_utils_error_text(err).c_str());
            av_dict_free(&options);
            return -1;
        }
        ctx->ownsFile = true;
    }
    const int err = avformat_write_header(ctx->output, &options);
    av_dict_free(&options);
    if (err < 0) {
        PVNA_ERROR("Error occurred when opening output file: %s\n", __pvna_avmux_utils_error_text(err).c_str());
        return -1;
    }
    if (!__pvna_avmux_utils_copy_param(ctx, *p)) {
        PVNA_ERROR("Not enough memory\n");
        return -1;
    }
    ctx->lastEnd.assign(ctx->output->nb_streams, AV_NOPTS_VALUE);
    ctx->firstAudioMs = ctx->firstVideoMs = -1;
    ctx->elapsedVideoMs = 0;
    ctx->videoStarted = 0;
    ctx->videoPackets = ctx->subtitlePackets = ctx->attachPackets = 0;
    return 0;
}

// The checks every write shares; the context or null (logged).
PVNA_AV_MUX_CONTEXT *__pvna_avmux_utils_writable(PVNA_AV_MUX_HANDLE *handle)
{
    PVNA_AV_MUX_CONTEXT *ctx = __pvna_avmux_utils_context(__pvna_avmux_utils_global(), handle);
    if (!ctx) {
        PVNA_ERROR("Invalid owner handle(NULL)\n");
        return nullptr;
    }
    if (!ctx->output || handle->state != 1) {
        PVNA_ERROR("Output context is NULL\n");
        return nullptr;
    }
    return ctx;
}

// pts = timestamp; dts 10 ms earlier, except where the container wants
// them equal (MP4 audio and subtitles).
void __pvna_avmux_utils_stamp(AVPacket *pkt, const AVStream *st, int64_t ms, bool dtsEqualsPts)
{
    const AVRational ms1{1, 1000};
    pkt->pts = av_rescale_q(ms, ms1, st->time_base);
    pkt->dts = dtsEqualsPts ? pkt->pts : av_rescale_q(ms - 10, ms1, st->time_base);
    pkt->stream_index = st->index;
}

int __pvna_avmux_utils_write(PVNA_AV_MUX_CONTEXT *ctx, AVPacket *pkt, bool direct)
{
    const int index = pkt->stream_index;
    const int64_t end = pkt->pts + (pkt->duration > 0 ? pkt->duration : 0);
    const int err = direct ? av_write_frame(ctx->output, pkt) : av_interleaved_write_frame(ctx->output, pkt);
    if (err >= 0 && size_t(index) < ctx->lastEnd.size())
        ctx->lastEnd[size_t(index)] = end;
    return err;
}

class Packet {
public:
    Packet() : pkt_(av_packet_alloc()) {}
    ~Packet() { av_packet_free(&pkt_); }
    Packet(const Packet &) = delete;
    Packet &operator=(const Packet &) = delete;
    AVPacket *get() const { return pkt_; }

private:
    AVPacket *pkt_;
};

// Writes bytes the caller keeps as one packet of stream st at ms; a negative
// FFmpeg error when it could not.
int __pvna_avmux_utils_write_bytes(PVNA_AV_MUX_CONTEXT *ctx, const AVStream *st, const uint8_t *data, int size,
                                   int64_t ms, bool key, bool dtsEqualsPts, bool direct)
{
    Packet packet;
    AVPacket *pkt = packet.get();
    if (!pkt)
        return AVERROR(ENOMEM);
    pkt->data = const_cast<uint8_t *>(data);
    pkt->size = size;
    if (key)
        pkt->flags |= AV_PKT_FLAG_KEY;
    __pvna_avmux_utils_stamp(pkt, st, ms, dtsEqualsPts);
    return __pvna_avmux_utils_write(ctx, pkt, direct);
}

int __pvna_avmux_utils_stream_end(PVNA_AV_MUX_CONTEXT *ctx, const AVStream *st, double *pts)
{
    if (pts) {
        const int64_t end = ctx->lastEnd[size_t(st->index)];
        *pts = end == AV_NOPTS_VALUE ? 0.0 : double(end);
    }
    return 0;
}

} // namespace

int PVNA_AV_MUX_Open(PVNA_AV_MUX_HANDLE **handle, const char *ownerName)
{
    if (!handle)
        return -1;
    if (*handle) {
        PVNA_ERROR("Invaild input handle(isn't NULL)\n");
        return -1;
    }
    PVNA_AV_MUX_GLOBAL *g = __pvna_avmux_utils_global();
    if (!g)
        return -1;
    GlobalLock lock(g);
    const char *owner = ownerName ? ownerName : "Unknown";
    int slot = -1;
    auto fail = [&](const char *message) {
        PVNA_ERROR("%s", message);
        PVNA_ERROR("AVSVR MUXER [owned by %s(%d)] open: fail.\n", owner, slot);
        return -1;
    };
    if (g->allUsed == 1)
        return fail("All slot were used...\n");
    slot = __pvna_avmux_utils_alloc_handle(g);
    if (slot < 0)
        return fail("All slot were used...\n");
    auto *ctx = new (std::nothrow) PVNA_AV_MUX_CONTEXT;
    if (!ctx)
        return fail("Not enough memory.\n");
    auto *h = new (std::nothrow) PVNA_AV_MUX_HANDLE;
    if (!h) {
        delete ctx;
        return fail("Not enough memory\n");
    }
    snprintf(h->ownerName, sizeof h->ownerName, "%s", owner);
    h->slot = uint32_t(slot);
    h->state = 0;
    ctx->handle = h;
    g->slots[slot] = ctx;
    if (++g->inUse == PVNA_AV_MUX_MAX_SLOTS)
        g->allUsed = 1;
    *handle = h;
    return 0;
}

int PVNA_AV_MUX_Create(PVNA_AV_MUX_HANDLE *handle, PVNA_AV_MUX_CREATE_PARAM *param)
{
    if (!handle || !param) {
        PVNA_ERROR("Invalid handles or Param (NULL)\n");
        return -1;
    }
    PVNA_AV_MUX_GLOBAL *g = __pvna_avmux_utils_global();
    if (!g)
        return -1;
    GlobalLock lock(g);
    PVNA_AV_MUX_CONTEXT *ctx = __pvna_avmux_utils_context(g, handle);
    if (!ctx) {
        PVNA_ERROR("owner is NULL\n");
        return -1;
    }
    if (ctx->output) {
        PVNA_ERROR("Output context isn't NULL\n");
        return -1;
    }
    if (__pvna_avmux_utils_create(ctx, param) < 0) {
        __pvna_avmux_utils_release(ctx);
        return -1;
    }
    handle->state = 1;
    return 0;
}

int PVNA_AV_MUX_WriteVideo(PVNA_AV_MUX_HANDLE *handle, int track, int64_t timestampMs, int64_t,
                           const uint8_t *data, int size, int keyFlag)
{
    if (!handle || !data || size < 1 || timestampMs < 0)
        return -1;
    PVNA_AV_MUX_CONTEXT *ctx = __pvna_avmux_utils_writable(handle);
    if (!ctx)
        return -1;
    if (!ctx->videoStarted) {
        ctx->videoStarted = keyFlag ? 1 : 0;
        if (!keyFlag)
            return 0;
    }
    if (track < 0 || size_t(track) >= ctx->video.size()) {
        PVNA_ERROR_RED("Invaild video channel number::(VIDCNT:%d, nTrackID:%d)\n", int(ctx->video.size()), track);
        return -1;
    }
    AVStream *st = ctx->video[size_t(track)];
    if (!st) {
        PVNA_ERROR_RED("Cannot find valid video stream\n");
        return -1;
    }
    if (ctx->firstVideoMs < 0)
        ctx->firstVideoMs = timestampMs;
    ctx->elapsedVideoMs = timestampMs - ctx->firstVideoMs;
    const int err = __pvna_avmux_utils_write_bytes(ctx, st, data, size, timestampMs, keyFlag == 1, false, true);
    if (err < 0) {
        PVNA_ERROR_RED("Error while writing video frame(%s).\n", __pvna_avmux_utils_error_text(err).c_str());
        return -1;
    }
    ++ctx->videoPackets;
    return 0;
}

int PVNA_AV_MUX_WriteAudio(PVNA_AV_MUX_HANDLE *handle, int track, int64_t timestampMs, int64_t,
                           const uint8_t *data, int size, int direct)
{
    if (!handle || !data || size < 1 || timestampMs < 0)
        return -1;
    PVNA_AV_MUX_CONTEXT *ctx = __pvna_avmux_utils_writable(handle);
    if (!ctx)
        return -1;
    if (track < 0 || size_t(track) >= ctx->audio.size()) {
        PVNA_ERROR("Invaild audio channel number\n");
        return -1;
    }
    MuxAudio &audio = ctx->audio[size_t(track)];
    if (!audio.stream) {
        PVNA_ERROR("Cannot find valid audio stream\n");
        return -1;
    }
    Packet packet, filtered;
    AVPacket *pkt = packet.get();
    if (!pkt || !filtered.get())
        return -1;
    pkt->data = const_cast<uint8_t *>(data);
    pkt->size = size;
    pkt->flags |= AV_PKT_FLAG_KEY;
    if (ctx->firstAudioMs < 0)
        ctx->firstAudioMs = timestampMs;
    __pvna_avmux_utils_stamp(pkt, audio.stream, timestampMs, ctx->mp4);
    if (audio.bsf) {
        // The filter keeps the packet: it must own a copy of the bytes.
        const AVRational ms1{1, 1000};
        pkt->pts = av_rescale_q(timestampMs, ms1, audio.bsf->time_base_in);
        pkt->dts = ctx->mp4 ? pkt->pts : av_rescale_q(timestampMs - 10, ms1, audio.bsf->time_base_in);
        int err = av_packet_make_refcounted(pkt);
        if (err >= 0)
            err = av_bsf_send_packet(audio.bsf, pkt);
        if (err < 0) {
            PVNA_ERROR_RED("av_bsf_send_packet failed(%s).\n", __pvna_avmux_utils_error_text(err).c_str());
            return -1;
        }
        err = av_bsf_receive_packet(audio.bsf, filtered.get());
        if (err == AVERROR(EAGAIN) || err == AVERROR_EOF)
            return 0;
        if (err < 0) {
            PVNA_ERROR_RED("PVNA_AV_MUX_WriteAudio: track %d av_bsf_receive_packet failed\n", track);
            return -1;
        }
        pkt = filtered.get();
        // The filter announces the configuration it found in the first
        // header; a stream described already keeps its own (Matroska would
        // rewrite its track header in a space it never reserved).
        if (audio.stream->codecpar->extradata_size > 0)
            av_packet_shrink_side_data(pkt, AV_PKT_DATA_NEW_EXTRADATA, 0);
        av_packet_rescale_ts(pkt, audio.bsf->time_base_out, audio.stream->time_base);
        pkt->stream_index = audio.stream->index;
    }
    const int err = __pvna_avmux_utils_write(ctx, pkt, direct == 1);
    if (err < 0) {
        PVNA_ERROR("Error while writing audio frame(%s).\n", __pvna_avmux_utils_error_text(err).c_str());
        return -1;
    }
    return 0;
}

int PVNA_AV_MUX_WriteSubtitle(PVNA_AV_MUX_HANDLE *handle, int track, int64_t timestampMs, int64_t durationMs,
                              const uint8_t *data, int size, int, int direct)
{
    if (!handle || timestampMs < 0 || size < 0 || (size > 0 && !data))
        return -1;
    PVNA_AV_MUX_CONTEXT *ctx = __pvna_avmux_utils_writable(handle);
    if (!ctx)
        return -1;
    if (track < 0 || size_t(track) >= ctx->subtitles.size()) {
        PVNA_ERROR("Invaild subtitle channel number\n");
        return -1;
    }
    MuxSubtitle &sub = ctx->subtitles[size_t(track)];
    if (!sub.stream || !sub.encoder) {
        PVNA_ERROR("Cannot find valid subtitle stream\n");
        return -1;
    }
    // The text becomes one ASS event; the encoder gives the codec's packet form.
    std::string text;
    for (int i = 0; i < size; ++i) {
        const char c = char(data[i]);
        if (c == '\n')
            text += "\\N";
        else if (c != '\r' && c != 0)
            text += c;
    }
    std::string event = "0,0,Default,,0,0,0,," + text;
    AVSubtitleRect rect{};
    rect.type = SUBTITLE_ASS;
    rect.ass = &event[0];
    AVSubtitleRect *rects[1] = {&rect};
    AVSubtitle subtitle{};
    subtitle.num_rects = 1;
    subtitle.rects = rects;
    subtitle.end_display_time = durationMs > 0 ? uint32_t(durationMs) : 0;
    std::vector<uint8_t> encoded(text.size() * 4 + 1024);
    const int bytes = avcodec_encode_subtitle(sub.encoder, encoded.data(), int(encoded.size()), &subtitle);
    Packet packet;
    AVPacket *pkt = packet.get();
    int err = bytes < 0 ? bytes : (pkt ? 0 : AVERROR(ENOMEM));
    if (err >= 0) {
        pkt->data = encoded.data();
        pkt->size = bytes;
        pkt->flags |= AV_PKT_FLAG_KEY;
        __pvna_avmux_utils_stamp(pkt, sub.stream, timestampMs, ctx->mp4);
        if (durationMs > 0)
            pkt->duration = av_rescale_q(durationMs, AVRational{1, 1000}, sub.stream->time_base);
        err = __pvna_avmux_utils_write(ctx, pkt, direct == 1);
    }
    if (err < 0)
        PVNA_ERROR("Error while writing subtitle frame(%s).\n", __pvna_avmux_utils_error_text(err).c_str());
    ++ctx->subtitlePackets;
    return 0;
}

int PVNA_AV_MUX_WriteAttach(PVNA_AV_MUX_HANDLE *handle, int track, int64_t timestampMs, int64_t,
                            const uint8_t *data, int size, int, int direct)
{
    if (!handle || timestampMs < 0)
        return -1;
    PVNA_AV_MUX_CONTEXT *ctx = __pvna_avmux_utils_writable(handle);
    if (!ctx)
        return -1;
    if (track < 0 || size_t(track) >= ctx->attachments.size()) {
        PVNA_ERROR("Invaild attachment channel number\n");
        return -1;
    }
    AVStream *st = ctx->attachments[size_t(track)];
    if (!st) {
        PVNA_ERROR("Cannot find valid attachment stream\n");
        return -1;
    }
    if (st->codecpar->codec_type == AVMEDIA_TYPE_ATTACHMENT) {
        PVNA_ERROR("Error while writing attachment frame(%s).\n", "Matroska attachments are given to Create");
        return -1;
    }
    if (!data || size < 1)
        return -1;
    const int err = __pvna_avmux_utils_write_bytes(ctx, st, data, size, timestampMs, true, true, direct == 1);
    if (err < 0) {
        PVNA_ERROR("Error while writing attachment frame(%s).\n", __pvna_avmux_utils_error_text(err).c_str());
        return -1;
    }
    ++ctx->attachPackets;
    return 0;
}

int PVNA_AV_MUX_GetVideoPts(PVNA_AV_MUX_HANDLE *handle, int track, double *pts)
{
    PVNA_AV_MUX_CONTEXT *ctx = __pvna_avmux_utils_writable(handle);
    if (!ctx || track < 0 || size_t(track) >= ctx->video.size())
        return -1;
    return __pvna_avmux_utils_stream_end(ctx, ctx->video[size_t(track)], pts);
}

int PVNA_AV_MUX_GetAudioPts(PVNA_AV_MUX_HANDLE *handle, int track, double *pts)
{
    PVNA_AV_MUX_CONTEXT *ctx = __pvna_avmux_utils_writable(handle);
    if (!ctx || track < 0 || size_t(track) >= ctx->audio.size())
        return -1;
    return __pvna_avmux_utils_stream_end(ctx, ctx->audio[size_t(track)].stream, pts);
}

int64_t PVNA_AV_MUX_GetChapterPts(PVNA_AV_MUX_HANDLE *handle)
{
    PVNA_AV_MUX_CONTEXT *ctx = __pvna_avmux_utils_writable(handle);
    return ctx ? ctx->elapsedVideoMs : -1;
}

int PVNA_AV_MUX_AddChapter(PVNA_AV_MUX_HANDLE *handle, int64_t startMs, int64_t endMs, const char *title)
{
    if (!handle || !title) {
        PVNA_ERROR("Invalid handles or Param (NULL)\n");
        return -1;
    }
    PVNA_AV_MUX_CONTEXT *ctx = __pvna_avmux_utils_context(__pvna_avmux_utils_global(), handle);
    if (!ctx || !ctx->output) {
        PVNA_ERROR("Output context is NULL\n");
        return -1;
    }
    AVFormatContext *oc = ctx->output;
    auto *chapters = static_cast<AVChapter **>(av_realloc_array(oc->chapters, oc->nb_chapters + 1, sizeof(AVChapter *)));
    if (!chapters) {
        PVNA_ERROR("malloc failure");
        return -1;
    }
    oc->chapters = chapters;
    auto *chapter = static_cast<AVChapter *>(av_mallocz(sizeof(AVChapter)));
    if (!chapter) {
        PVNA_ERROR("malloc failure");
        return -1;
    }
    chapter->id = int64_t(oc->nb_chapters) + 1;
    chapter->time_base = AVRational{1, 30};
    chapter->start = startMs * 30 / 1000;
    chapter->end = endMs * 30 / 1000;
    av_dict_set(&chapter->metadata, "title", title, 0);
    oc->chapters[oc->nb_chapters++] = chapter;
    return 0;
}

int PVNA_AV_MUX_UpdateMetaCmnt(PVNA_AV_MUX_HANDLE *handle, const char *comment)
{
    if (!handle || !comment) {
        PVNA_ERROR("Invalid handles or Param (NULL)\n");
        return -1;
    }
    PVNA_AV_MUX_CONTEXT *ctx = __pvna_avmux_utils_context(__pvna_avmux_utils_global(), handle);
    if (!ctx || !ctx->output) {
        PVNA_ERROR("Output context is NULL\n");
        return -1;
    }
    return av_dict_set(&ctx->output->metadata, ctx->matroska ? "SUMMARY" : "comment", comment, 0) < 0 ? -1 : 0;
}

int PVNA_AV_MUX_GetState(PVNA_AV_MUX_HANDLE *handle)
{
    return handle ? int(handle->state) : 0;
}

int PVNA_AV_MUX_Finalize(PVNA_AV_MUX_HANDLE *handle)
{
    if (!handle)
        return -1;
    PVNA_AV_MUX_GLOBAL *g = __pvna_avmux_utils_global();
    if (!g)
        return -1;
    GlobalLock lock(g);
    PVNA_AV_MUX_CONTEXT *ctx = __pvna_avmux_utils_context(g, handle);
    if (!ctx || !ctx->output || handle->state != 1) {
        PVNA_ERROR("Output context is NULL\n");
        return -1;
    }
    int err = av_write_trailer(ctx->output);
    if (err < 0)
        PVNA_ERROR("Error while writing the trailer(%s).\n", __pvna_avmux_utils_error_text(err).c_str());
    // What is still buffered must reach the output before it counts as written.
    AVIOContext *pb = ctx->output->pb;
    if (pb) {
        avio_flush(pb);
        if (err >= 0 && pb->error < 0) {
            err = pb->error;
            PVNA_ERROR("Error while writing the output(%s).\n", __pvna_avmux_utils_error_text(err).c_str());
        }
    }
    if (ctx->ownsFile) {
        const int closed = avio_closep(&ctx->output->pb);
        if (err >= 0 && closed < 0) {
            err = closed;
            PVNA_ERROR("Error while closing '%s'(%s).\n", ctx->outputName, __pvna_avmux_utils_error_text(err).c_str());
        }
        ctx->ownsFile = false;
    }
    __pvna_avmux_utils_free_io(ctx);
    ctx->customIO = 0;
    handle->state = 0;
    return err < 0 ? -1 : 0;
}

int PVNA_AV_MUX_Close(PVNA_AV_MUX_HANDLE **handle)
{
    PVNA_AV_MUX_GLOBAL *g = __pvna_avmux_utils_global();
    if (!handle || !*handle || !g) {
        PVNA_ERROR("device handle is NULL\n");
        return -1;
    }
    GlobalLock lock(g);
    PVNA_AV_MUX_HANDLE *h = *handle;
    PVNA_AV_MUX_CONTEXT *ctx = __pvna_avmux_utils_context(g, h);
    if (!ctx) {
        PVNA_ERROR("AVSVR MUXER [owned by %s(%d)] isn't inuse.\n", h->ownerName, int(h->slot));
        return -1;
    }
    __pvna_avmux_utils_release(ctx);
    g->slots[h->slot] = nullptr;
    delete ctx;
    delete h;
    *handle = nullptr;
    --g->inUse;
    if (g->inUse < PVNA_AV_MUX_MAX_SLOTS)
        g->allUsed = 0;
    return 0;
}
