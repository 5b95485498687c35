#pragma once
// Decodes one channel's H.264 or H.265 Annex-B packets into packed YUV 4:2:0
// pictures (Y plane, then U, then V, rows without padding) of the size the
// stream really has: a size claimed by a file's header only configures the
// codec and never sizes a picture buffer. Used only by the decode thread.
// Frame threading delays pictures by a few packets, so every picture comes
// out with the record of the packet it was decoded from, never with the
// record of the packet just fed.
#include "FrameIndex.h"

#include <cstdint>
#include <functional>
#include <map>

struct AVCodec;
struct AVCodecContext;
struct AVFrame;
struct AVPacket;
struct SwsContext;

class H265Decoder
{
public:
    enum CodecType { H264 = 0, H265 = 1 };
    // Asked for the buffer of a picture once its size is known: width x
    // height pixels, bytes long (PictureSize::yuv420Bytes). Null drops it.
    using PictureBuffer = std::function<uint8_t *(int width, int height, int bytes)>;

    explicit H265Decoder(int channel);
    ~H265Decoder();
    H265Decoder(const H265Decoder &) = delete;
    H265Decoder &operator=(const H265Decoder &) = delete;

    // Configures the decoder for a recording. The codec is rebuilt when the
    // size or the codec type changes; otherwise the open codec is only
    // flushed, so nothing of the previous recording comes out.
    // 0 ready, -2 no decoder for the codec, -1 the codec could not be opened,
    // -3 no frame could be allocated.
    int initCodec(int codecType, int width, int height);

    // Feeds one packet. When a picture comes out it is laid out into the
    // buffer out gives for its size and the record of the packet it belongs
    // to is copied to *pictureRecord; the result is the picture's bytes. 0
    // when no picture came out (pipeline filling, damaged packet, parameter
    // sets, a picture of a size no camera records).
    int decode(const uint8_t *data, int size, const FrameIndexEntry &record, const PictureBuffer &out,
               FrameIndexEntry *pictureRecord);

    // End of stream: hands out the pictures still inside the decoder, one per
    // call, as decode does; 0 once none is left (the decoder is then flushed
    // and ready for new packets).
    int drain(const PictureBuffer &out, FrameIndexEntry *pictureRecord);

    // Drops every picture and packet still inside the decoder (seek, restart).
    void flush();
    void close();

    // Bytes of a picture of the configured size.
    int decodedFrameSize() const { return m_decodedFrameSize; }
    int width() const { return m_width; }
    int height() const { return m_height; }
    int codecType() const { return m_codecType; }
    int channel() const { return m_channel; }
    // How often the codec context was built; a test sees a rebuild by it.
    int buildCount() const { return m_buildCount; }

private:
    int receivePicture(const PictureBuffer &out, FrameIndexEntry *pictureRecord);
    int layout(const PictureBuffer &out);
    void logAcceleratorSearch();

    AVCodecContext *m_context = nullptr;
    const AVCodec *m_codec = nullptr;
    AVFrame *m_frame = nullptr;
    AVFrame *m_converted = nullptr; // other pixel formats, converted to 4:2:0 8 bit
    AVPacket *m_packet = nullptr;
    SwsContext *m_sws = nullptr;
    int m_decodedFrameSize = 0;
    int m_width = 0;
    int m_height = 0;
    int m_channel = 0;
    int m_codecType = -1;
    int m_buildCount = 0;
    bool m_draining = false;
    // Each packet's pts is a tag; the picture's pts finds its record again.
    int64_t m_nextTag = 0;
    std::map<int64_t, FrameIndexEntry> m_pending;
};
