#include "H265Decoder.h"

#include "LogCategories.h"
#include "PictureSize.h"

#include <QThread>
#include <QtGlobal>

#include <algorithm>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/imgutils.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

namespace {

// Records kept for packets whose picture has not come out yet. A damaged or
// non-picture packet never gets its record claimed; the oldest go first.
constexpr size_t MaxPendingRecords = 64;

bool isPlanar420(int format)
{
    return format == AV_PIX_FMT_YUV420P || format == AV_PIX_FMT_YUVJ420P;
}

} // namespace

H265Decoder::H265Decoder(int channel)
    : m_channel(channel)
{
}

H265Decoder::~H265Decoder()
{
    close();
}

int H265Decoder::initCodec(int codecType, int width, int height)
{
    if (m_context && width == m_width && height == m_height && codecType == m_codecType) {
        flush();
        return 0;
    }
    if (!PictureSize::isPlayable(width, height)) {
        qCWarning(lcPlayback, "H265Decoder::initCodec bad size w:%d h:%d", width, height);
        return -1;
    }

    AVCodecID id = AV_CODEC_ID_NONE;
    if (codecType == H264) {
        qCDebug(lcPlayback, "%s::[H264] initCodec width:%d height:%d", "initCodec", width, height);
        id = AV_CODEC_ID_H264;
    } else if (codecType == H265) {
        qCDebug(lcPlayback, "%s::[H265] initCodec width:%d height:%d", "initCodec", width, height);
        id = AV_CODEC_ID_HEVC;
    }
    if (id != AV_CODEC_ID_NONE)
        m_codec = avcodec_find_decoder(id);
    if (!m_codec)
        return -2;

    close();
    m_context = avcodec_alloc_context3(m_codec);
    if (!m_context)
        return -1;
    m_context->width = width;
    m_context->height = height;
    m_context->flags2 |= AV_CODEC_FLAG2_FAST;
    m_context->codec_type = AVMEDIA_TYPE_VIDEO;
    m_context->pix_fmt = AV_PIX_FMT_YUV420P;
    m_context->gop_size = 30;
    // One frame thread per core: the library's own choice (cores + 1) times
    // up to nine channel decoders oversubscribes small machines.
    m_context->thread_count = std::max(2, QThread::idealThreadCount());
    m_context->thread_type = FF_THREAD_FRAME;
#if defined(AV_CODEC_CAP_TRUNCATED) && defined(AV_CODEC_FLAG_TRUNCATED)
    if (m_codec->capabilities & AV_CODEC_CAP_TRUNCATED)
        m_context->flags |= AV_CODEC_FLAG_TRUNCATED;
#endif
    if (m_codec->capabilities & (1 << 15))
        m_context->flags2 |= AV_CODEC_FLAG2_CHUNKS;

    logAcceleratorSearch();

    if (avcodec_open2(m_context, m_codec, nullptr) < 0) {
        qCWarning(lcPlayback, "Error: could not open codec.\n");
        avcodec_free_context(&m_context);
        return -1;
    }
    qCDebug(lcPlayback, "H265Decoder::initCodec w:%d h:%d", m_context->width, m_context->height);

    m_frame = av_frame_alloc();
    m_converted = av_frame_alloc();
    m_packet = av_packet_alloc();
    if (!m_frame || !m_converted || !m_packet) {
        qCWarning(lcPlayback, "failed av_frame_alloc()");
        close();
        return -3;
    }

    m_width = width;
    m_height = height;
    if (codecType == H264 || codecType == H265)
        m_codecType = codecType;
    m_decodedFrameSize = av_image_get_buffer_size(AV_PIX_FMT_YUV420P, width, height, 1);
    ++m_buildCount;
    qCDebug(lcPlayback, "H265Decoder::initCodec decodedFrameSize:%d", m_decodedFrameSize);
    return 0;
}

// Kept as a diagnostic: decoding always yields software frames here.
void H265Decoder::logAcceleratorSearch()
{
    qCDebug(lcPlayback, "AV_CODEC_ID_H264:%d AV_PIX_FMT_YUV420P:%d AV_PIX_FMT_DXVA2_VLD:%d", int(AV_CODEC_ID_H264),
           int(AV_PIX_FMT_YUV420P), int(AV_PIX_FMT_DXVA2_VLD));
    for (int i = 0;; ++i) {
        const AVCodecHWConfig *config = avcodec_get_hw_config(m_codec, i);
        if (!config)
            break;
        qCDebug(lcPlayback, "id:%d pix_fmt:%d", int(m_context->codec_id), int(config->pix_fmt));
        if (config->pix_fmt == AV_PIX_FMT_DXVA2_VLD)
            return;
    }
    qCDebug(lcPlayback, "can not find hwaccel ");
}

int H265Decoder::decode(const uint8_t *data, int size, const FrameIndexEntry &record, const PictureBuffer &out,
                        FrameIndexEntry *pictureRecord)
{
    if (!m_context || !data || size <= 0 || !pictureRecord)
        return 0;
    if (m_draining)
        flush();

    const int64_t tag = m_nextTag++;
    m_pending[tag] = record;
    while (m_pending.size() > MaxPendingRecords)
        m_pending.erase(m_pending.begin());

    m_packet->data = const_cast<uint8_t *>(data); // not reference-counted: the codec copies it
    m_packet->size = size;
    m_packet->pts = tag;
    m_packet->dts = AV_NOPTS_VALUE;
    int result = avcodec_send_packet(m_context, m_packet);
    int produced = 0;
    if (result == AVERROR(EAGAIN)) {
        // The codec holds a finished picture: take it out, then hand the packet over.
        produced = receivePicture(out, pictureRecord);
        result = avcodec_send_packet(m_context, m_packet);
    }
    av_packet_unref(m_packet);
    if (result < 0)
        m_pending.erase(tag);
    if (produced)
        return produced;
    return receivePicture(out, pictureRecord);
}

int H265Decoder::drain(const PictureBuffer &out, FrameIndexEntry *pictureRecord)
{
    if (!m_context || !pictureRecord)
        return 0;
    if (!m_draining) {
        m_draining = true;
        if (avcodec_send_packet(m_context, nullptr) < 0) {
            flush();
            return 0;
        }
    }
    const int produced = receivePicture(out, pictureRecord);
    if (!produced)
        flush();
    return produced;
}

int H265Decoder::receivePicture(const PictureBuffer &out, FrameIndexEntry *pictureRecord)
{
    for (;;) {
        if (avcodec_receive_frame(m_context, m_frame) < 0)
            return 0;
        const int64_t tag = m_frame->pts != AV_NOPTS_VALUE ? m_frame->pts : m_frame->best_effort_timestamp;
        auto found = m_pending.find(tag);
        if (found == m_pending.end()) {
            // A picture whose packet record is gone must not pass under another packet's record.
            av_frame_unref(m_frame);
            continue;
        }
        *pictureRecord = found->second;
        m_pending.erase(found);
        const int written = layout(out);
        av_frame_unref(m_frame);
        if (written)
            return written;
    }
}

int H265Decoder::layout(const PictureBuffer &out)
{
    // The picture keeps the size it was decoded at, whatever the header claimed.
    if (!PictureSize::isPlayable(m_frame->width, m_frame->height))
        return 0;
    const AVFrame *source = m_frame;
    if (!isPlanar420(m_frame->format)) {
        // 10-bit or 4:2:2 streams: convert to 8-bit 4:2:0 at the decoded size first.
        m_sws = sws_getCachedContext(m_sws, m_frame->width, m_frame->height, AVPixelFormat(m_frame->format),
                                     m_frame->width, m_frame->height, AV_PIX_FMT_YUV420P, SWS_BILINEAR, nullptr,
                                     nullptr, nullptr);
        if (!m_sws)
            return 0;
        if (m_converted->width != m_frame->width || m_converted->height != m_frame->height) {
            av_frame_unref(m_converted);
            m_converted->format = AV_PIX_FMT_YUV420P;
            m_converted->width = m_frame->width;
            m_converted->height = m_frame->height;
            if (av_frame_get_buffer(m_converted, 0) < 0)
                return 0;
        }
        sws_scale(m_sws, m_frame->data, m_frame->linesize, 0, m_frame->height, m_converted->data,
                  m_converted->linesize);
        source = m_converted;
    }
    const int bytes = int(PictureSize::yuv420Bytes(source->width, source->height));
    uint8_t *buffer = out ? out(source->width, source->height, bytes) : nullptr;
    if (!buffer)
        return 0;
    const int written = av_image_copy_to_buffer(buffer, bytes, source->data, source->linesize, AV_PIX_FMT_YUV420P,
                                                source->width, source->height, 1);
    return written == bytes ? bytes : 0;
}

void H265Decoder::flush()
{
    if (m_context)
        avcodec_flush_buffers(m_context);
    if (m_frame)
        av_frame_unref(m_frame);
    m_pending.clear();
    m_draining = false;
}

void H265Decoder::close()
{
    av_frame_free(&m_frame);
    av_frame_free(&m_converted);
    av_packet_free(&m_packet);
    sws_freeContext(m_sws);
    m_sws = nullptr;
    avcodec_free_context(&m_context);
    m_pending.clear();
    m_draining = false;
    m_width = m_height = m_decodedFrameSize = 0;
}
