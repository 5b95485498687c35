#include "H26xFrameItem.h"

#include <cstring>

extern "C" {
#include <libavutil/buffer.h>
#include <libavutil/frame.h>
}

H26xFrameItem::H26xFrameItem(const uint8_t *payload, int size, const FrameIndexEntry &record)
    : m_record(record)
{
    if (payload && size > 0) {
        m_owned.reset(new uint8_t[size_t(size)]);
        memcpy(m_owned.get(), payload, size_t(size));
        m_payload = m_owned.get();
        m_size = size;
    }
}

H26xFrameItem::H26xFrameItem(int size, const FrameIndexEntry &record) : m_record(record)
{
    if (size > 0) {
        m_owned.reset(new uint8_t[size_t(size)]);
        m_payload = m_owned.get();
        m_size = size;
    }
}

H26xFrameItem::H26xFrameItem(AVBufferRef *buffer, const uint8_t *payload, int size, const FrameIndexEntry &record)
    : m_record(record)
{
    if (!buffer || !payload || size <= 0 || payload < buffer->data || payload + size > buffer->data + buffer->size)
        return;
    m_buffer = av_buffer_ref(buffer);
    if (!m_buffer)
        return;
    m_payload = payload;
    m_size = size;
}

H26xFrameItem::H26xFrameItem(AVFrame *picture, const FrameIndexEntry &record) : m_picture(picture), m_record(record)
{
    if (!picture)
        return;
    m_width = picture->width;
    m_height = picture->height;
    if (picture->data[0] && m_width > 0 && m_height > 0)
        m_size = int(qMin<qint64>(INT32_MAX, qint64(m_width) * m_height
                                                 + 2 * qint64((m_width + 1) / 2) * ((m_height + 1) / 2)));
}

H26xFrameItem::~H26xFrameItem()
{
    av_buffer_unref(&m_buffer);
    av_frame_free(&m_picture);
}

PicturePlanes H26xFrameItem::planes(int viewWidth, int viewHeight) const
{
    if (m_picture) {
        PicturePlanes p;
        for (int i = 0; i < 3; ++i) {
            p.data[i] = m_picture->data[i];
            p.stride[i] = m_picture->linesize[i];
        }
        p.width = m_picture->width;
        p.height = m_picture->height;
        return p.isValid() ? p : PicturePlanes();
    }
    const bool stated = m_width != 0 || m_height != 0;
    const int w = stated ? m_width : viewWidth;
    const int h = stated ? m_height : viewHeight;
    if (w <= 0 || h <= 0 || qint64(m_size) != qint64(w) * h + 2 * qint64((w + 1) / 2) * ((h + 1) / 2))
        return PicturePlanes();
    return PicturePlanes::packed(m_payload, w, h);
}
