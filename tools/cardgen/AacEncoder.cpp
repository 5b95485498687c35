#include "AacEncoder.h"

#include <QtEndian>
#include <cmath>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/channel_layout.h>
}

QByteArray toneSamples(int sampleRate, qint64 firstSample, int count, double hertz)
{
    QByteArray out(count * 2, '\0');
    for (int i = 0; i < count; ++i) {
        const double t = double(firstSample + i) / sampleRate;
        const double swell = 0.6 + 0.4 * std::sin(t * 3.14159265358979 );
        const auto v = qint16(std::lround(9000.0 * swell * std::sin(2.0 * 3.14159265358979 * hertz * t)));
        qToLittleEndian(v, reinterpret_cast<uchar *>(out.data() + 2 * i));
    }
    return out;
}

QByteArray AacEncoder::adtsHeader(int payloadSize)
{
    // AAC LC, 16000 Hz (index 8), one channel, no CRC.
    const int length = payloadSize + 7;
    const int profile = 1, rateIndex = 8, channels = 1;
    QByteArray h(7, '\0');
    h[0] = char(0xFF);
    h[1] = char(0xF1);
    h[2] = char((profile << 6) | (rateIndex << 2) | (channels >> 2));
    h[3] = char(((channels & 3) << 6) | (length >> 11));
    h[4] = char((length >> 3) & 0xFF);
    h[5] = char(((length & 7) << 5) | 0x1F);
    h[6] = char(0xFC);
    return h;
}

int AacEncoder::encodeTone(int seconds, double hertz, QVector<AacFrame> *out, QByteArray *config, QString *error)
{
    const AVCodec *codec = avcodec_find_encoder(AV_CODEC_ID_AAC);
    AVCodecContext *ctx = codec ? avcodec_alloc_context3(codec) : nullptr;
    AVFrame *frame = av_frame_alloc();
    AVPacket *packet = av_packet_alloc();
    int result = -1;
    if (!ctx || !frame || !packet) {
        *error = QStringLiteral("AAC encoder not available");
        goto done;
    }
    ctx->sample_rate = kSampleRate;
    ctx->sample_fmt = AV_SAMPLE_FMT_FLTP;
    ctx->bit_rate = 32000;
    ctx->time_base = AVRational{1, kSampleRate};
#if LIBAVCODEC_VERSION_INT >= AV_VERSION_INT(59, 24, 100)
    av_channel_layout_default(&ctx->ch_layout, 1);
#else
    ctx->channels = 1;
    ctx->channel_layout = AV_CH_LAYOUT_MONO;
#endif
    if (avcodec_open2(ctx, codec, nullptr) < 0) {
        *error = QStringLiteral("cannot open the AAC encoder");
        goto done;
    }
    *config = QByteArray(reinterpret_cast<const char *>(ctx->extradata), ctx->extradata_size);
    {
        const qint64 total = qint64(seconds) * kSampleRate;
        for (qint64 at = 0;; at += ctx->frame_size) {
            const bool last = at >= total;
            if (!last) {
                const int n = int(qMin<qint64>(ctx->frame_size, total - at));
                frame->nb_samples = n;
                frame->format = ctx->sample_fmt;
#if LIBAVCODEC_VERSION_INT >= AV_VERSION_INT(59, 24, 100)
                av_channel_layout_copy(&frame->ch_layout, &ctx->ch_layout);
#else
                frame->channel_layout = ctx->channel_layout;
#endif
                if (av_frame_get_buffer(frame, 0) < 0) {
                    *error = QStringLiteral("out of memory");
                    goto done;
                }
                const QByteArray pcm = toneSamples(kSampleRate, at, n, hertz);
                auto *dst = reinterpret_cast<float *>(frame->data[0]);
                for (int i = 0; i < n; ++i)
                    dst[i] = qFromLittleEndian<qint16>(pcm.constData() + 2 * i) / 32768.0f;
                frame->pts = at;
            }
            if (avcodec_send_frame(ctx, last ? nullptr : frame) < 0) {
                *error = QStringLiteral("AAC encoding failed");
                goto done;
            }
            av_frame_unref(frame);
            while (avcodec_receive_packet(ctx, packet) == 0) {
                out->append({QByteArray(reinterpret_cast<const char *>(packet->data), packet->size), packet->pts});
                av_packet_unref(packet);
            }
            if (last)
                break;
        }
    }
    result = 0;
done:
    av_packet_free(&packet);
    av_frame_free(&frame);
    avcodec_free_context(&ctx);
    return result;
}
