#include "FrameQueue.h"

FrameQueue::~FrameQueue()
{
    clear();
}

int FrameQueue::size() const
{
    QMutexLocker locker(&lock);
    return int(items.size());
}

qint64 FrameQueue::bytes() const
{
    QMutexLocker locker(&lock);
    return byteCount;
}

H26xFrameItem *FrameQueue::peek() const
{
    QMutexLocker locker(&lock);
    return items.empty() ? nullptr : items.front();
}

H26xFrameItem *FrameQueue::take()
{
    QMutexLocker locker(&lock);
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
    QMutexLocker locker(&lock);
    items.push_back(item);
    byteCount += item->size();
}

void FrameQueue::prepend(H26xFrameItem *item)
{
    if (!item)
        return;
    QMutexLocker locker(&lock);
    items.push_front(item);
    byteCount += item->size();
}

void FrameQueue::clear()
{
    std::deque<H26xFrameItem *> dropped;
    {
        QMutexLocker locker(&lock);
        dropped.swap(items);
        byteCount = 0;
    }
    for (H26xFrameItem *item : dropped)
        delete item;
}
