#include "FrameBuffer.h"

#include <new>

bool FrameBuffer::allocate(uint64_t capacity)
{
    bytes_.reset();
    capacity_ = 0;
    used_ = 0;
    if (capacity > UINT32_MAX)
        return false;
    // Left uninitialised: pages are touched only as payloads arrive.
    bytes_.reset(new (std::nothrow) uint8_t[capacity ? capacity : 1]);
    if (!bytes_)
        return false;
    capacity_ = capacity;
    return true;
}

uint8_t *FrameBuffer::append(uint64_t n, uint32_t *offset)
{
    if (!bytes_ || n > capacity_ - used_)
        return nullptr;
    if (offset)
        *offset = uint32_t(used_);
    uint8_t *at = bytes_.get() + used_;
    used_ += n;
    return at;
}
