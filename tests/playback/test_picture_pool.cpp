// The decoder's picture pool with libavcodec's own H.264 and HEVC decoders
// (two frame threads, B-frames): pictures decoded into pooled buffers are
// ffmpeg's pictures; a picture someone still holds is never written again,
// while the pool stays bounded and recycles what was let go; pictures
// outlive their pool; and a viewer thread holding pictures while the decoder
// runs on sees them unchanged (ThreadSanitizer runs this with the stress
// tests).
#include "PicturePool.h"
#include "ProcessRun.h"

#include <QByteArray>
#include <gtest/gtest.h>

#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
}

namespace {

constexpr int Width = 320, Height = 240, FrameCount = 48, FrameSize = Width * Height * 3 / 2;

struct Stream {
    AVCodecID codec;
    std::vector<QByteArray> packets;
    QByteArray reference; // ffmpeg's yuv420p pictures, presentation order
};

Stream makeStream(bool hevc)
{
    Stream s;
    s.codec = hevc ? AV_CODEC_ID_HEVC : AV_CODEC_ID_H264;
    const QString format = hevc ? "hevc" : "h264";
    const QByteArray file = toolOutput(
        "ffmpeg", QStringList{"-v", "error", "-f", "lavfi", "-i", QString("testsrc2=size=%1x%2:rate=25").arg(Width).arg(Height),
                              "-frames:v", QString::number(FrameCount), "-pix_fmt", "yuv420p"}
                      << (hevc ? QStringList{"-c:v", "libx265", "-x265-params", "log-level=error:bframes=3:keyint=12"}
                               : QStringList{"-c:v", "libx264", "-bf", "2", "-g", "12"})
                      << "-f" << format << "-");
    s.reference = toolOutput("ffmpeg", {"-v", "error", "-f", format, "-i", "-", "-f", "rawvideo", "-pix_fmt", "yuv420p", "-"},
                             file);
    AVCodecParserContext *parser = av_parser_init(s.codec);
    AVCodecContext *context = avcodec_alloc_context3(avcodec_find_decoder(s.codec));
    const auto *data = reinterpret_cast<const uint8_t *>(file.constData());
    int left = file.size();
    for (bool flushing = false;;) {
        uint8_t *out = nullptr;
        int outSize = 0;
        const int used = av_parser_parse2(parser, context, &out, &outSize, flushing ? nullptr : data,
                                          flushing ? 0 : left, AV_NOPTS_VALUE, AV_NOPTS_VALUE, 0);
        if (outSize > 0)
            s.packets.push_back(QByteArray(reinterpret_cast<const char *>(out), outSize));
        if (flushing)
            break;
        data += used;
        left -= used;
        flushing = left == 0;
    }
    av_parser_close(parser);
    avcodec_free_context(&context);
    EXPECT_EQ(s.reference.size(), FrameCount * FrameSize);
    return s;
}

const Stream &stream(bool hevc)
{
    static const Stream streams[2] = {makeStream(false), makeStream(true)};
    return streams[hevc];
}

// A frame-threaded decoder that takes its pictures from a pool.
struct Decoder {
    AVCodecContext *context = nullptr;
    AVPacket *packet = av_packet_alloc();

    Decoder(AVCodecID codec, PicturePool *pool)
    {
        context = avcodec_alloc_context3(avcodec_find_decoder(codec));
        context->thread_count = 2;
        context->thread_type = FF_THREAD_FRAME;
        pool->attach(context);
        EXPECT_EQ(avcodec_open2(context, context->codec, nullptr), 0);
    }
    ~Decoder()
    {
        av_packet_free(&packet);
        avcodec_free_context(&context);
    }
    // Feeds the packet (none: drain) and hands every picture that comes out to take.
    template <typename Take> void feed(const QByteArray *bytes, Take take)
    {
        if (bytes) {
            av_new_packet(packet, bytes->size());
            memcpy(packet->data, bytes->constData(), size_t(bytes->size()));
            EXPECT_EQ(avcodec_send_packet(context, packet), 0);
            av_packet_unref(packet);
        } else {
            avcodec_send_packet(context, nullptr);
        }
        for (;;) {
            AVFrame *frame = av_frame_alloc();
            if (avcodec_receive_frame(context, frame) < 0) {
                av_frame_free(&frame);
                return;
            }
            take(frame);
        }
    }
    template <typename Take> void decodeAll(const Stream &s, Take take)
    {
        for (const QByteArray &p : s.packets)
            feed(&p, take);
        feed(nullptr, take);
    }
};

// The visible picture, packed as ffmpeg writes rawvideo.
QByteArray packed(const AVFrame *f)
{
    QByteArray out;
    for (int plane = 0; plane < 3; ++plane) {
        const int w = plane ? (f->width + 1) / 2 : f->width, h = plane ? (f->height + 1) / 2 : f->height;
        for (int y = 0; y < h; ++y)
            out.append(reinterpret_cast<const char *>(f->data[plane] + y * f->linesize[plane]), w);
    }
    return out;
}

TEST(PicturePool, PicturesDecodedIntoThePoolAreFfmpegsPictures)
{
    for (bool hevc : {false, true}) {
        SCOPED_TRACE(hevc ? "HEVC" : "H.264");
        PicturePool pool;
        Decoder decoder(stream(hevc).codec, &pool);
        int n = 0;
        decoder.decodeAll(stream(hevc), [&](AVFrame *f) {
            EXPECT_GT(PicturePool::generation(f), 0u);
            for (int plane = 0; plane < 3; ++plane) {
                EXPECT_EQ(f->linesize[plane] % PicturePool::Alignment, 0);
                EXPECT_EQ(reinterpret_cast<uintptr_t>(f->data[plane]) % PicturePool::Alignment, 0u);
            }
            EXPECT_TRUE(n < FrameCount && packed(f) == stream(hevc).reference.mid(n * FrameSize, FrameSize))
                << "picture " << n;
            ++n;
            av_frame_free(&f);
        });
        EXPECT_EQ(n, FrameCount);
        // A buffer of libavcodec's own allocator is not mistaken for a pooled one.
        AVFrame *own = av_frame_alloc();
        own->format = AV_PIX_FMT_YUV420P;
        own->width = Width;
        own->height = Height;
        ASSERT_EQ(av_frame_get_buffer(own, 0), 0);
        EXPECT_EQ(PicturePool::generation(own), 0u);
        av_frame_free(&own);
    }
}

// What the GL view does with the picture it shows: it keeps a reference
// while the decoder runs on. That buffer is never handed out again, the rest
// are recycled, and the pool holds no more buffers than the codec's
// references, its frame threads and the held picture need.
TEST(PicturePool, AHeldPictureIsNeverWrittenAgain)
{
    for (bool hevc : {false, true}) {
        SCOPED_TRACE(hevc ? "HEVC" : "H.264");
        PicturePool pool;
        auto decoder = std::make_unique<Decoder>(stream(hevc).codec, &pool);
        AVFrame *held = nullptr;
        quint64 heldGeneration = 0;
        quint64 newestGeneration = 0;
        int n = 0, mostAllocated = 0;
        decoder->decodeAll(stream(hevc), [&](AVFrame *f) {
            newestGeneration = std::max(newestGeneration, PicturePool::generation(f));
            mostAllocated = std::max(mostAllocated, pool.buffersAllocated());
            if (n++ == 5 && !held) {
                held = f;
                heldGeneration = PicturePool::generation(f);
                return;
            }
            av_frame_free(&f);
        });
        ASSERT_TRUE(held);
        EXPECT_EQ(PicturePool::generation(held), heldGeneration);
        EXPECT_TRUE(packed(held) == stream(hevc).reference.mid(5 * FrameSize, FrameSize));
        EXPECT_GT(newestGeneration, 1u) << "buffers should be recycled";
        EXPECT_LE(mostAllocated, 24) << "the pool grew with the stream";
        EXPECT_GE(pool.bytesAllocated(), qint64(pool.buffersAllocated()) * FrameSize);
        EXPECT_EQ(pool.buffersInUse() >= 1, true);
        decoder.reset();
        EXPECT_EQ(pool.buffersInUse(), 1) << "only the held picture";
        av_frame_free(&held);
        EXPECT_EQ(pool.buffersInUse(), 0);
    }
}

// Pictures stay valid after their decoder and pool are gone (a pane may show
// the last picture of a decoder rebuilt for another size) and are freed with
// their last reference (LeakSanitizer watches).
TEST(PicturePool, PicturesOutliveTheirPool)
{
    std::vector<AVFrame *> kept;
    {
        auto pool = std::make_unique<PicturePool>();
        auto decoder = std::make_unique<Decoder>(stream(true).codec, pool.get());
        decoder->decodeAll(stream(true), [&](AVFrame *f) {
            if (kept.size() < 3)
                kept.push_back(f);
            else
                av_frame_free(&f);
        });
        decoder.reset();
        pool.reset();
    }
    ASSERT_EQ(kept.size(), 3u);
    for (size_t i = 0; i < kept.size(); ++i) {
        EXPECT_TRUE(packed(kept[i]) == stream(true).reference.mid(int(i) * FrameSize, FrameSize));
        av_frame_free(&kept[i]);
    }
}

// A viewer thread takes each new picture, keeps the one it shows until the
// next arrives and checks it was not changed while shown, as the GL view
// holds its picture while the decode thread runs on.
TEST(PicturePool, AViewerThreadHoldingPicturesSeesThemUnchanged)
{
    PicturePool pool;
    Decoder decoder(stream(true).codec, &pool);
    std::mutex lock;
    std::condition_variable changed;
    AVFrame *handed = nullptr;
    bool done = false;
    int changedWhileShown = 0, shown = 0;
    std::thread viewer([&] {
        AVFrame *current = nullptr;
        QByteArray currentBytes;
        quint64 currentGeneration = 0;
        for (;;) {
            AVFrame *next = nullptr;
            {
                std::unique_lock<std::mutex> locker(lock);
                changed.wait(locker, [&] { return handed || done; });
                if (!handed && done)
                    break;
                std::swap(next, handed);
            }
            if (current && (packed(current) != currentBytes || PicturePool::generation(current) != currentGeneration))
                ++changedWhileShown;
            av_frame_free(&current);
            current = next;
            currentBytes = packed(current);
            currentGeneration = PicturePool::generation(current);
            ++shown;
        }
        av_frame_free(&current);
    });
    for (int round = 0; round < 3; ++round) {
        decoder.decodeAll(stream(true), [&](AVFrame *f) {
            std::lock_guard<std::mutex> locker(lock);
            av_frame_free(&handed); // the viewer skipped it
            handed = f;
            changed.notify_one();
        });
        avcodec_flush_buffers(decoder.context);
    }
    {
        std::lock_guard<std::mutex> locker(lock);
        done = true;
        changed.notify_one();
    }
    viewer.join();
    av_frame_free(&handed);
    EXPECT_GT(shown, 0);
    EXPECT_EQ(changedWhileShown, 0);
}

} // namespace
