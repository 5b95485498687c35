#include "FileAccess.h"

#include <atomic>

namespace {
std::atomic<quint64> readCalls{0};
std::atomic<quint64> readBytes{0};
}

qint64 readAt(QIODevice &device, qint64 offset, char *buffer, qint64 len)
{
    if (offset < 0 || len <= 0 || !device.seek(offset))
        return 0;
    const qint64 got = device.read(buffer, len);
    readCalls.fetch_add(1, std::memory_order_relaxed);
    if (got <= 0)
        return 0;
    readBytes.fetch_add(quint64(got), std::memory_order_relaxed);
    return got;
}

ReadStatistics readStatistics()
{
    return {readCalls.load(), readBytes.load()};
}

void resetReadStatistics()
{
    readCalls = 0;
    readBytes = 0;
}
