#include "PicturePool.h"

#include <sys/mman.h>

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/buffer.h>
#include <libavutil/frame.h>
}

namespace {

// The last bytes of every buffer: a mark that says it is ours, and the
// generation. No plane or its padding reaches them.
constexpr quint64 StampMark = 0x5A56'5049'4354'5552ull;
constexpr size_t StampSize = PicturePool::Alignment;

// A picture of a few megabytes is backed by 2 MiB pages where the system
// offers them on request (transparent huge pages): zeroing a new buffer
// then costs one page fault per 2 MiB instead of 512. The pools fill at
// the start of play, when a decoder has the least time to spare: on a
// 2160p camera beside three 1080p ones this halved the page faults of a
// 10 s play (97 000 to 45 000). The tail short of 2 MiB keeps small pages,
// so no memory is committed beyond the picture.
constexpr size_t HugePage = size_t(2) << 20;

uint8_t *allocateBuffer(size_t size)
{
    if (size < HugePage)
        return static_cast<uint8_t *>(aligned_alloc(PicturePool::Alignment, size));
    void *data = nullptr;
    if (posix_memalign(&data, HugePage, size) != 0)
        return nullptr;
#ifdef MADV_HUGEPAGE
    madvise(data, size & ~(HugePage - 1), MADV_HUGEPAGE);
#endif
    return static_cast<uint8_t *>(data);
}

// What libavcodec's own allocator leaves after each plane for SIMD reads.
constexpr size_t PlanePadding = 16 + PicturePool::Alignment;

size_t alignUp(size_t value)
{
    return (value + PicturePool::Alignment - 1) & ~size_t(PicturePool::Alignment - 1);
}

bool isPlanar420(int format)
{
    return format == AV_PIX_FMT_YUV420P || format == AV_PIX_FMT_YUVJ420P;
}

quint64 *stamp(uint8_t *data, size_t size)
{
    return reinterpret_cast<quint64 *>(data + size - StampSize);
}

} // namespace

// Shared by the pool object and every buffer alive; freed by whichever of
// them lets go last, so a picture may outlive its decoder.
struct PicturePool::Shared
{
    std::mutex lock;
    size_t bufferSize = 0;     // of the buffers handed out now
    std::vector<Block *> idle; // of bufferSize, ready for reuse
    int allocated = 0;
    int inUse = 0;
    qint64 bytes = 0;
    bool poolGone = false;
};

struct PicturePool::Block
{
    Shared *shared;
    uint8_t *data;
    size_t size;
};

namespace {

void freeBlock(PicturePool::Block *block)
{
    free(block->data);
    delete block;
}

// The buffer's last reference is gone: the block waits for reuse, or is
// freed when it has the wrong size or the pool is gone.
void releaseBlock(void *opaque, uint8_t *)
{
    auto *block = static_cast<PicturePool::Block *>(opaque);
    PicturePool::Shared *shared = block->shared;
    bool lastUser = false;
    {
        std::lock_guard<std::mutex> locker(shared->lock);
        --shared->inUse;
        if (!shared->poolGone && block->size == shared->bufferSize) {
            shared->idle.push_back(block);
            return;
        }
        --shared->allocated;
        shared->bytes -= qint64(block->size);
        lastUser = shared->poolGone && shared->allocated == 0;
    }
    freeBlock(block);
    if (lastUser)
        delete shared;
}

} // namespace

PicturePool::PicturePool() : shared(new Shared) {}

PicturePool::~PicturePool()
{
    std::vector<Block *> idle;
    bool last = false;
    {
        std::lock_guard<std::mutex> locker(shared->lock);
        shared->poolGone = true;
        idle.swap(shared->idle);
        shared->allocated -= int(idle.size());
        for (Block *b : idle)
            shared->bytes -= qint64(b->size);
        last = shared->allocated == 0;
    }
    for (Block *b : idle)
        freeBlock(b);
    if (last)
        delete shared;
}

void PicturePool::attach(AVCodecContext *ctx)
{
    ctx->opaque = this;
    ctx->get_buffer2 = codecGetBuffer;
#if defined(FF_API_THREAD_SAFE_CALLBACKS) && FF_API_THREAD_SAFE_CALLBACKS
    // Libraries that still ask: frame threads may call it at once, and may.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    ctx->thread_safe_callbacks = 1;
#pragma GCC diagnostic pop
#endif
}

int PicturePool::codecGetBuffer(AVCodecContext *ctx, AVFrame *frame, int flags)
{
    auto *pool = static_cast<PicturePool *>(ctx->opaque);
    if (!pool || !isPlanar420(frame->format) || frame->width <= 0 || frame->height <= 0)
        return avcodec_default_get_buffer2(ctx, frame, flags);
    int w = frame->width, h = frame->height;
    int linesizeAlign[AV_NUM_DATA_POINTERS];
    avcodec_align_dimensions2(ctx, &w, &h, linesizeAlign);
    return pool->getBuffer(frame, w, h);
}

int PicturePool::getBuffer(AVFrame *frame, int alignedWidth, int alignedHeight)
{
    if (alignedWidth < frame->width || alignedHeight < frame->height || alignedWidth <= 0 || alignedHeight <= 0)
        return AVERROR(EINVAL);
    const size_t strides[3] = {alignUp(size_t(alignedWidth)), alignUp(size_t(alignedWidth + 1) / 2),
                               alignUp(size_t(alignedWidth + 1) / 2)};
    const size_t rows[3] = {size_t(alignedHeight), size_t(alignedHeight + 1) / 2, size_t(alignedHeight + 1) / 2};
    size_t offsets[3];
    size_t size = 0;
    for (int i = 0; i < 3; ++i) {
        offsets[i] = size;
        size = alignUp(size + strides[i] * rows[i] + PlanePadding);
    }
    size += StampSize;
    if (strides[0] > size_t(INT32_MAX) || size > size_t(INT32_MAX))
        return AVERROR(EINVAL);

    Block *block = nullptr;
    {
        std::lock_guard<std::mutex> locker(shared->lock);
        if (size != shared->bufferSize) {
            // A new picture size: the idle buffers of the old one go.
            for (Block *b : shared->idle) {
                --shared->allocated;
                shared->bytes -= qint64(b->size);
                freeBlock(b);
            }
            shared->idle.clear();
            shared->bufferSize = size;
        }
        if (!shared->idle.empty()) {
            block = shared->idle.back();
            shared->idle.pop_back();
        }
        ++shared->inUse;
        if (!block) {
            ++shared->allocated;
            shared->bytes += qint64(size);
        }
    }
    if (!block) {
        // Zeroed once, so padding the codec reads past a picture's edge is defined.
        auto *data = allocateBuffer(size);
        if (data) {
            memset(data, 0, size);
            stamp(data, size)[0] = StampMark;
            stamp(data, size)[1] = 0;
            block = new Block{shared, data, size};
        } else {
            std::lock_guard<std::mutex> locker(shared->lock);
            --shared->inUse;
            --shared->allocated;
            shared->bytes -= qint64(size);
            return AVERROR(ENOMEM);
        }
    }
    AVBufferRef *ref = av_buffer_create(block->data, int(block->size), releaseBlock, block, 0);
    if (!ref) {
        releaseBlock(block, block->data);
        return AVERROR(ENOMEM);
    }
    ++stamp(block->data, block->size)[1];
    frame->buf[0] = ref;
    for (int i = 0; i < 3; ++i) {
        frame->data[i] = block->data + offsets[i];
        frame->linesize[i] = int(strides[i]);
    }
    frame->extended_data = frame->data;
    return 0;
}

int PicturePool::buffersAllocated() const
{
    std::lock_guard<std::mutex> locker(shared->lock);
    return shared->allocated;
}

int PicturePool::buffersInUse() const
{
    std::lock_guard<std::mutex> locker(shared->lock);
    return shared->inUse;
}

qint64 PicturePool::bytesAllocated() const
{
    std::lock_guard<std::mutex> locker(shared->lock);
    return shared->bytes;
}

quint64 PicturePool::generation(const AVFrame *frame)
{
    if (!frame || !frame->buf[0] || size_t(frame->buf[0]->size) < StampSize)
        return 0;
    const AVBufferRef *buf = frame->buf[0];
    const quint64 *s = stamp(buf->data, size_t(buf->size));
    return s[0] == StampMark ? s[1] : 0;
}
