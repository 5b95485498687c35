#include "H265Decoder.h"

#include "LogCategories.h"
#include "PictureSize.h"
#include "ThreadPriority.h"

#include <QThread>
#include <QtGlobal>

#include <algorithm>
#include <thread>

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
    // Test hook: a decoder made slow on purpose shows what playback does
    // when decoding cannot keep up.
    bool ok = false;
    const int delayMs = qEnvironmentVariableIntValue("ZV_TEST_DECODE_DELAY_MS", &ok);
    if (ok && delayMs > 0)
        m_testDelayUs = qMin(delayMs, 1000) * 1000;
}

H265Decoder::~H265Decoder()
{
    close();
}

int H265Decoder::initCodec(int codecType, int width, int height, int threads)
{
    if (threads <= 0)
        threads = std::max(2, QThread::idealThreadCount());
    if (m_context && width == m_width && height == m_height && codecType == m_codecType && threads == m_threads) {
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
    // One frame thread per core at most: the library's own choice (cores +
    // 1) times up to nine channel decoders oversubscribes small machines.
    m_context->thread_count = threads;
    m_context->thread_type = threads > 1 ? FF_THREAD_FRAME : 0;
#if defined(AV_CODEC_CAP_TRUNCATED) && defined(AV_CODEC_FLAG_TRUNCATED)
    if (m_codec->capabilities & AV_CODEC_CAP_TRUNCATED)
        m_context->flags |= AV_CODEC_FLAG_TRUNCATED;
#endif
    if (m_codec->capabilities & (1 << 15))
        m_context->flags2 |= AV_CODEC_FLAG2_CHUNKS;

    logAcceleratorSearch();
    m_pool.attach(m_context);
    m_context->skip_frame = m_skipNonReference ? AVDISCARD_NONREF : AVDISCARD_DEFAULT;

    // The codec's frame threads start inside avcodec_open2 and take the
    // priority of the thread that opens it: a short-lived lowered one. A
    // single-threaded codec starts none and opens here.
    int opened = -1;
    if (threads > 1) {
        std::thread opener([this, &opened] {
            ThreadPriority::lowerCallingThreadForDecoding();
            opened = avcodec_open2(m_context, m_codec, nullptr);
        });
        opener.join();
    } else {
        opened = avcodec_open2(m_context, m_codec, nullptr);
    }
    if (opened < 0) {
        qCWarning(lcPlayback, "Error: could not open codec.\n");
        avcodec_free_context(&m_context);
        return -1;
    }
    qCDebug(lcPlayback, "H265Decoder::initCodec w:%d h:%d", m_context->width, m_context->height);

    m_frame = av_frame_alloc();
    m_packet = av_packet_alloc();
    if (!m_frame || !m_packet) {
        qCWarning(lcPlayback, "failed av_frame_alloc()");
        close();
        return -3;
    }

    m_width = width;
    m_height = height;
    m_threads = threads;
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

AVFrame *H265Decoder::decode(const uint8_t *data, int size, const FrameIndexEntry &record,
                             FrameIndexEntry *pictureRecord, AVBufferRef *buffer)
{
    if (!m_context || !data || size <= 0 || !pictureRecord)
        return nullptr;
    if (m_draining)
        flush();
    if (m_testDelayUs)
        QThread::usleep(unsigned(m_testDelayUs));

    const int64_t tag = m_nextTag++;
    m_pending[tag] = record;
    while (m_pending.size() > MaxPendingRecords)
        m_pending.erase(m_pending.begin());

    if (buffer) {
        // The codec takes a reference to the read buffer: no copy.
        m_packet->buf = av_buffer_ref(buffer);
        if (!m_packet->buf) {
            m_pending.erase(tag);
            return nullptr;
        }
    }
    m_packet->data = const_cast<uint8_t *>(data); // without a buffer the codec copies it
    m_packet->size = size;
    m_packet->pts = tag;
    m_packet->dts = AV_NOPTS_VALUE;
    int result = avcodec_send_packet(m_context, m_packet);
    AVFrame *produced = nullptr;
    if (result == AVERROR(EAGAIN)) {
        // The codec holds a finished picture: take it out, then hand the packet over.
        produced = receivePicture(pictureRecord);
        result = avcodec_send_packet(m_context, m_packet);
    }
    av_packet_unref(m_packet);
    if (result < 0)
        m_pending.erase(tag);
    if (produced)
        return produced;
    return receivePicture(pictureRecord);
}

AVFrame *H265Decoder::drain(FrameIndexEntry *pictureRecord)
{
    if (!m_context || !pictureRecord)
        return nullptr;
    if (!m_draining) {
        m_draining = true;
        if (avcodec_send_packet(m_context, nullptr) < 0) {
            flush();
            return nullptr;
        }
    }
    AVFrame *produced = receivePicture(pictureRecord);
    if (!produced)
        flush();
    return produced;
}

AVFrame *H265Decoder::receivePicture(FrameIndexEntry *pictureRecord)
{
    for (;;) {
        if (avcodec_receive_frame(m_context, m_frame) < 0)
            return nullptr;
        const int64_t tag = m_frame->pts != AV_NOPTS_VALUE ? m_frame->pts : m_frame->best_effort_timestamp;
        auto found = m_pending.find(tag);
        if (found == m_pending.end()) {
            // A picture whose packet record is gone must not pass under another packet's record.
            av_frame_unref(m_frame);
            continue;
        }
        *pictureRecord = found->second;
        m_pending.erase(found);
        if (AVFrame *picture = handOut())
            return picture;
    }
}

// The decoded picture as a frame of its own: the pooled 4:2:0 picture by
// reference, anything else converted to 8-bit 4:2:0 first.
AVFrame *H265Decoder::handOut()
{
    // The picture keeps the size it was decoded at, whatever the header claimed.
    if (!PictureSize::isPlayable(m_frame->width, m_frame->height)) {
        av_frame_unref(m_frame);
        return nullptr;
    }
    AVFrame *picture = av_frame_alloc();
    if (!picture) {
        av_frame_unref(m_frame);
        return nullptr;
    }
    if (isPlanar420(m_frame->format)) {
        av_frame_move_ref(picture, m_frame);
        return picture;
    }
    // 10-bit or 4:2:2 streams.
    m_sws = sws_getCachedContext(m_sws, m_frame->width, m_frame->height, AVPixelFormat(m_frame->format),
                                 m_frame->width, m_frame->height, AV_PIX_FMT_YUV420P, SWS_BILINEAR, nullptr, nullptr,
                                 nullptr);
    picture->format = AV_PIX_FMT_YUV420P;
    picture->width = m_frame->width;
    picture->height = m_frame->height;
    if (!m_sws || m_pool.getBuffer(picture, m_frame->width, m_frame->height) < 0) {
        av_frame_free(&picture);
        av_frame_unref(m_frame);
        return nullptr;
    }
    sws_scale(m_sws, m_frame->data, m_frame->linesize, 0, m_frame->height, picture->data, picture->linesize);
    av_frame_copy_props(picture, m_frame);
    av_frame_unref(m_frame);
    return picture;
}

void H265Decoder::setSkipNonReference(bool skip)
{
    if (skip == m_skipNonReference)
        return;
    m_skipNonReference = skip;
    if (m_context)
        m_context->skip_frame = skip ? AVDISCARD_NONREF : AVDISCARD_DEFAULT;
}

int H265Decoder::flush()
{
    if (m_context)
        avcodec_flush_buffers(m_context);
    if (m_frame)
        av_frame_unref(m_frame);
    const int lost = int(m_pending.size());
    m_pending.clear();
    m_draining = false;
    return lost;
}

void H265Decoder::close()
{
    av_frame_free(&m_frame);
    av_packet_free(&m_packet);
    sws_freeContext(m_sws);
    m_sws = nullptr;
    avcodec_free_context(&m_context);
    m_pending.clear();
    m_draining = false;
    m_width = m_height = m_decodedFrameSize = 0;
    m_threads = -1;
}
