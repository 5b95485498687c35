#pragma once
// A queue of frame items handed from one playback thread to the next. Each
// operation takes the queue's own lock for that one operation only; an item
// in the queue belongs to the queue, a taken item to the taker.
#include "H26xFrameItem.h"

#include <deque>
#include <mutex>

class FrameQueue
{
public:
    FrameQueue() = default;
    ~FrameQueue();
    FrameQueue(const FrameQueue &) = delete;
    FrameQueue &operator=(const FrameQueue &) = delete;

    int size() const;
    // Payload bytes held, for back-pressure.
    qint64 bytes() const;
    // The head without removing it (null when empty). Only the single
    // consumer of a queue may look at the head it later takes.
    H26xFrameItem *peek() const;
    H26xFrameItem *take();
    void append(H26xFrameItem *item);
    // Puts an item back at the head (a consumer that took one too many).
    void prepend(H26xFrameItem *item);
    // Destroys every item.
    void clear();

private:
    // A std::mutex (pthread) rather than QMutex: ThreadSanitizer sees its hand-over.
    mutable std::mutex lock;
    std::deque<H26xFrameItem *> items;
    qint64 byteCount = 0;
};
