#include "FrameQueue.h"

FrameQueue::~FrameQueue()
{
    clear();
}

int FrameQueue::size() const
{
    std::lock_guard<std::mutex> locker(lock);
    return int(items.size());
}

qint64 FrameQueue::bytes() const
{
    std::lock_guard<std::mutex> locker(lock);
    return byteCount;
}

H26xFrameItem *FrameQueue::peek() const
{
    std::lock_guard<std::mutex> locker(lock);
    return items.empty() ? nullptr : items.front();
}

H26xFrameItem *FrameQueue::take()
{
    std::lock_guard<std::mutex> locker(lock);
    if (items.empty())
        return nullptr;
    H26xFrameItem *item = items.front();
    items.pop_front();
    byteCount -= item->size();
    return item;
}

void FrameQueue::append(H26xFrameItem *item)
{
    if (!item)
        return;
    std::lock_guard<std::mutex> locker(lock);
    items.push_back(item);
    byteCount += item->size();
}

void FrameQueue::prepend(H26xFrameItem *item)
{
    if (!item)
        return;
    std::lock_guard<std::mutex> locker(lock);
    items.push_front(item);
    byteCount += item->size();
}

void FrameQueue::clear()
{
    std::deque<H26xFrameItem *> dropped;
    {
        std::lock_guard<std::mutex> locker(lock);
        dropped.swap(items);
        byteCount = 0;
    }
    for (H26xFrameItem *item : dropped)
        delete item;
}
