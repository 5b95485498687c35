#include "H26xFrameItem.h"

#include <cstring>

H26xFrameItem::H26xFrameItem(const uint8_t *payload, int size, const FrameIndexEntry &record)
    : m_record(record)
{
    if (payload && size > 0) {
        m_data.reset(new uint8_t[size_t(size)]);
        memcpy(m_data.get(), payload, size_t(size));
        m_size = size;
    }
}

H26xFrameItem::H26xFrameItem(int size, const FrameIndexEntry &record) : m_record(record)
{
    if (size > 0) {
        m_data.reset(new uint8_t[size_t(size)]);
        m_size = size;
    }
}
