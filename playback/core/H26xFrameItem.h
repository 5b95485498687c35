#pragma once
// One frame travelling through the playback threads: its payload (compressed
// packet, or the decoded YUV 4:2:0 picture) and the index record it came
// with. Whoever holds the pointer owns the item; it cannot be copied, so two
// holders never share or double-free the payload.
//
// A payload is held in one of three ways: bytes the item owns; a reference
// to the read thread's reference-counted buffer the packet was read into (so
// the decoder takes the packet without a copy); or a decoder's pooled
// picture, held by reference until the item is destroyed (so the picture
// reaches the screen without a copy and is never overwritten while held).
#include "FrameIndex.h"
#include "PicturePlanes.h"

#include <cstdint>
#include <memory>

struct AVBufferRef;
struct AVFrame;

class H26xFrameItem
{
public:
    // Copies size bytes of payload (none when size <= 0 or payload is null).
    H26xFrameItem(const uint8_t *payload, int size, const FrameIndexEntry &record);
    // size bytes left uninitialised, for a producer that writes them itself.
    H26xFrameItem(int size, const FrameIndexEntry &record);
    // size bytes at payload inside buffer, which the item references.
    H26xFrameItem(AVBufferRef *buffer, const uint8_t *payload, int size, const FrameIndexEntry &record);
    // A decoded picture; the item takes the frame over.
    H26xFrameItem(AVFrame *picture, const FrameIndexEntry &record);
    ~H26xFrameItem();
    H26xFrameItem(const H26xFrameItem &) = delete;
    H26xFrameItem &operator=(const H26xFrameItem &) = delete;

    const uint8_t *data() const { return m_payload; }
    // Bytes of the payload; for a decoded picture, of its packed planes.
    int size() const { return m_size; }
    // The reference-counted buffer data lies in, or null.
    AVBufferRef *buffer() const { return m_buffer; }
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

    // Decoded items holding packed bytes: the size of the picture in data
    // (0 x 0 when not stated; the data then has the size of the view it is
    // shown in). A decoder's picture states its own size.
    void setPictureSize(int width, int height)
    {
        m_width = width;
        m_height = height;
    }
    int pictureWidth() const { return m_width; }
    int pictureHeight() const { return m_height; }
    // The decoder's picture, or null for an item of bytes.
    const AVFrame *picture() const { return m_picture; }
    // Where the picture's planes are: the decoder's own, or the packed bytes
    // read as a picture of the stated size (of viewWidth x viewHeight when
    // none is stated). Not valid when the bytes do not make that picture.
    PicturePlanes planes(int viewWidth, int viewHeight) const;

private:
    std::unique_ptr<uint8_t[]> m_owned;
    AVBufferRef *m_buffer = nullptr;
    AVFrame *m_picture = nullptr;
    const uint8_t *m_payload = nullptr;
    int m_size = 0;
    int m_width = 0;
    int m_height = 0;
    FrameIndexEntry m_record;
};
