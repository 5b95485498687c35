#pragma once
// One frame travelling through the playback threads: its payload (compressed
// packet, or the decoded YUV 4:2:0 picture) and the index record it came
// with. Whoever holds the pointer owns the item; it cannot be copied, so two
// holders never share or double-free the payload.
#include "FrameIndex.h"

#include <cstdint>
#include <memory>

class H26xFrameItem
{
public:
    // Copies size bytes of payload (none when size <= 0 or payload is null).
    H26xFrameItem(const uint8_t *payload, int size, const FrameIndexEntry &record);
    // size bytes left uninitialised, for a producer that writes them itself
    // (the decoder lays its picture straight into the item).
    H26xFrameItem(int size, const FrameIndexEntry &record);
    H26xFrameItem(const H26xFrameItem &) = delete;
    H26xFrameItem &operator=(const H26xFrameItem &) = delete;

    const uint8_t *data() const { return m_data.get(); }
    uint8_t *data() { return m_data.get(); }
    int size() const { return m_size; }
    const FrameIndexEntry &record() const { return m_record; }
    FrameIndexEntry &record() { return m_record; }

    // Media time in ms: seconds * 1000 + microseconds / 1000.
    int64_t timeMs() const { return m_record.timeMs(); }
    int channel() const { return m_record.channel; }
    int catalogueIndex() const { return m_record.catalogueIndex; }
    bool isVideo() const { return m_record.marker == FrameIndexEntry::Video; }
    bool isKeyFrame() const { return m_record.isKeyFrame(); }
    // A decoded item whose packet gave no picture: its record's size is 0.
    bool hasPicture() const { return m_record.size != 0 && m_size > 0; }
    // Decoded items: the size of the YUV 4:2:0 picture in data (0 x 0 when
    // not stated; the data then has the size of the view it is shown in).
    void setPictureSize(int width, int height)
    {
        m_width = width;
        m_height = height;
    }
    int pictureWidth() const { return m_width; }
    int pictureHeight() const { return m_height; }

private:
    std::unique_ptr<uint8_t[]> m_data;
    int m_size = 0;
    int m_width = 0;
    int m_height = 0;
    FrameIndexEntry m_record;
};
