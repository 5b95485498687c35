#pragma once
// The pictures one channel's decoder writes into: YUV 4:2:0 buffers with
// 64-byte aligned rows and planes, handed to libavcodec through get_buffer2
// and recycled once the last reference to a picture is gone (the codec's
// reference list, a queued frame item, the pane that shows it). A decoded
// picture therefore travels to the screen without being copied, and a
// picture still held anywhere is never written again.
//
// Each buffer carries a generation number that grows every time the pool
// hands it out again; a holder that noted it can check that its picture was
// not recycled under it. Buffers stay valid after the pool is destroyed and
// are freed when their last holder lets go.
#include <QtGlobal>

struct AVCodecContext;
struct AVFrame;

class PicturePool
{
public:
    // Row and plane alignment of every picture (also what a GL upload likes).
    static constexpr int Alignment = 64;

    PicturePool();
    ~PicturePool();
    PicturePool(const PicturePool &) = delete;
    PicturePool &operator=(const PicturePool &) = delete;

    // Makes the pool the allocator of ctx's 8-bit 4:2:0 pictures (other
    // formats keep libavcodec's own); call before avcodec_open2.
    void attach(AVCodecContext *ctx);

    // Fills frame (format, width and height set) with a pooled buffer whose
    // planes hold at least alignedWidth x alignedHeight; 0 or AVERROR.
    int getBuffer(AVFrame *frame, int alignedWidth, int alignedHeight);

    // Buffers alive now (held or waiting for reuse), held now, and the bytes
    // of all buffers alive.
    int buffersAllocated() const;
    int buffersInUse() const;
    qint64 bytesAllocated() const;

    // The generation of the pooled buffer behind frame's first plane; 0 when
    // that buffer does not come from a PicturePool.
    static quint64 generation(const AVFrame *frame);

    struct Shared;
    struct Block;

private:
    static int codecGetBuffer(AVCodecContext *ctx, AVFrame *frame, int flags);

    Shared *shared;
};
