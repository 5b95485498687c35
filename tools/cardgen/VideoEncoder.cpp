#include "VideoEncoder.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/opt.h>
}

namespace {

// splitmix64: a small, well-mixed generator, the same on every platform.
quint64 nextRandom(quint64 *state)
{
    quint64 z = (*state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

constexpr int GrainTableSize = 1 << 18;

QString avError(int code)
{
    char buf[AV_ERROR_MAX_STRING_SIZE] = {0};
    av_strerror(code, buf, sizeof buf);
    return QString::fromLocal8Bit(buf);
}
}

VideoEncoder::Settings VideoEncoder::forChannel(const CardOptions &o, int channel, Codec codec)
{
    Settings vs;
    vs.codec = codec;
    vs.width = o.sizes[channel].width();
    vs.height = o.sizes[channel].height();
    vs.fps = o.fps;
    vs.gop = o.gop;
    vs.preset = o.preset;
    vs.bitrateKbps = o.bitratesKbps.isEmpty() ? 0 : o.bitratesKbps.value(channel, o.bitratesKbps.last());
    vs.grain = o.grain;
    vs.seed = o.seed;
    vs.globalHeader = codec == Codec::Hevc;
    return vs;
}

VideoEncoder::~VideoEncoder()
{
    av_packet_free(&packet);
    av_frame_free(&frame);
    avcodec_free_context(&ctx);
}

int VideoEncoder::open(const Settings &settings, QString *error)
{
    s = settings;
    const char *name = s.codec == Codec::H264 ? "libx264" : "libx265";
    const AVCodec *codec = avcodec_find_encoder_by_name(name);
    if (!codec) {
        *error = QStringLiteral("encoder %1 not available in libavcodec").arg(name);
        return -1;
    }
    ctx = avcodec_alloc_context3(codec);
    frame = av_frame_alloc();
    packet = av_packet_alloc();
    if (!ctx || !frame || !packet) {
        *error = QStringLiteral("out of memory");
        return -1;
    }
    ctx->width = s.width;
    ctx->height = s.height;
    ctx->pix_fmt = AV_PIX_FMT_YUV420P;
    ctx->time_base = AVRational{1, s.fps};
    ctx->framerate = AVRational{s.fps, 1};
    ctx->gop_size = s.gop;
    ctx->keyint_min = s.gop;
    ctx->max_b_frames = 0;
    ctx->thread_count = 1;
    if (s.globalHeader)
        ctx->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    av_opt_set(ctx->priv_data, "preset", s.preset.toLatin1().constData(), 0);
    if (s.bitrateKbps > 0)
        ctx->bit_rate = qint64(s.bitrateKbps) * 1000;
    else
        av_opt_set(ctx->priv_data, "crf", "30", 0);
    if (s.codec == Codec::H264) {
        av_opt_set(ctx->priv_data, "x264-params",
                   "repeat-headers=1:scenecut=0:sliced-threads=0:sync-lookahead=0:rc-lookahead=0:bframes=0",
                   0);
    } else {
        av_opt_set(ctx->priv_data, "x265-params",
                   "pools=none:frame-threads=1:lookahead-threads=0:scenecut=0:open-gop=0:bframes=0:log-level=error:"
                   "info=0:rc-lookahead=5",
                   0);
    }
    const int rc = avcodec_open2(ctx, codec, nullptr);
    if (rc < 0) {
        *error = QStringLiteral("cannot open %1 for %2x%3: %4").arg(name).arg(s.width).arg(s.height).arg(avError(rc));
        return -1;
    }
    frame->format = ctx->pix_fmt;
    frame->width = s.width;
    frame->height = s.height;
    if (av_frame_get_buffer(frame, 0) < 0) {
        *error = QStringLiteral("out of memory");
        return -1;
    }
    if (s.grain > 0) {
        // Values centred on 0 spanning grain levels, like a uniform noise filter.
        quint64 state = s.seed;
        grainTable.resize(qMax(GrainTableSize, 2 * s.width));
        for (qint8 &g : grainTable)
            g = qint8(int(nextRandom(&state) % quint64(s.grain + 1)) - s.grain / 2);
    }
    return 0;
}

QByteArray VideoEncoder::extradata() const
{
    if (!ctx || !ctx->extradata)
        return QByteArray();
    return QByteArray(reinterpret_cast<const char *>(ctx->extradata), ctx->extradata_size);
}

void VideoEncoder::paint(int index, int scene, int channel)
{
    // A diagonal gradient that drifts, a box that crosses the picture, and
    // the frame number as a row of black and white blocks along the top.
    const int w = s.width, h = s.height;
    uint8_t *y = frame->data[0];
    const int ls = frame->linesize[0];
    const int shift = index * 3 + scene * 37;
    for (int r = 0; r < h; ++r)
        for (int c = 0; c < w; ++c)
            y[r * ls + c] = uint8_t(((c + r) / 2 + shift) & 0xff) / 2 + 40;
    const int box = qMax(8, h / 5) & ~1;
    const int bx = (index * 4 + channel * w / 5) % qMax(1, w - box);
    const int by = (h - box) / 2;
    for (int r = by; r < by + box; ++r)
        for (int c = bx; c < bx + box; ++c)
            y[r * ls + c] = 235;
    const int block = qMax(2, w / 32);
    for (int bit = 0; bit < 16 && (bit + 1) * block <= w; ++bit) {
        const uint8_t v = (index >> bit) & 1 ? 235 : 16;
        for (int r = 0; r < block && r < h; ++r)
            for (int c = bit * block; c < (bit + 1) * block; ++c)
                y[r * ls + c] = v;
    }
    // Each channel has its own tint.
    const uint8_t u = uint8_t(128 + 40 * ((channel % 3) - 1));
    const uint8_t v = uint8_t(128 + 40 * (((channel / 3) % 3) - 1));
    for (int r = 0; r < h / 2; ++r) {
        memset(frame->data[1] + r * frame->linesize[1], u, size_t(w / 2));
        memset(frame->data[2] + r * frame->linesize[2], v, size_t(w / 2));
    }
}

// Each row of each plane takes its noise from a place in the table that
// changes with every picture, row, channel and recording.
void VideoEncoder::addGrain(int index, int scene, int channel)
{
    quint64 state = (quint64(s.seed) << 40) ^ (quint64(quint32(scene)) << 20) ^ (quint64(quint32(channel)) << 56)
                    ^ quint64(quint32(index));
    for (int plane = 0; plane < 3; ++plane) {
        const int w = plane ? s.width / 2 : s.width;
        const int h = plane ? s.height / 2 : s.height;
        for (int r = 0; r < h; ++r) {
            const qint8 *noise = grainTable.constData() + nextRandom(&state) % quint64(grainTable.size() - w);
            uint8_t *row = frame->data[plane] + r * frame->linesize[plane];
            for (int c = 0; c < w; ++c)
                row[c] = uint8_t(qBound(0, row[c] + noise[c], 255));
        }
    }
}

int VideoEncoder::encode(int count, int scene, int channel, QVector<EncodedFrame> *out, QString *error)
{
    for (int i = 0; i < count; ++i) {
        if (av_frame_make_writable(frame) < 0) {
            *error = QStringLiteral("out of memory");
            return -1;
        }
        paint(i, scene, channel);
        if (s.grain > 0)
            addGrain(i, scene, channel);
        frame->pts = i;
        const int rc = avcodec_send_frame(ctx, frame);
        if (rc < 0) {
            *error = QStringLiteral("encoding failed: %1").arg(avError(rc));
            return -1;
        }
        if (drain(out, error) < 0)
            return -1;
    }
    avcodec_send_frame(ctx, nullptr);
    return drain(out, error);
}

int VideoEncoder::drain(QVector<EncodedFrame> *out, QString *error)
{
    for (;;) {
        const int rc = avcodec_receive_packet(ctx, packet);
        if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF)
            return 0;
        if (rc < 0) {
            *error = QStringLiteral("encoding failed: %1").arg(avError(rc));
            return -1;
        }
        EncodedFrame f;
        f.data = QByteArray(reinterpret_cast<const char *>(packet->data), packet->size);
        f.key = packet->flags & AV_PKT_FLAG_KEY;
        out->append(f);
        av_packet_unref(packet);
    }
}
