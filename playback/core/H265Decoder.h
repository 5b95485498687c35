#pragma once
// Decodes one channel's H.264 or H.265 Annex-B packets into 8-bit YUV 4:2:0
// pictures of the size the stream really has: a size claimed by a file's
// header only configures the codec and never sizes a picture. The codec
// writes its pictures into the channel's PicturePool and hands them out by
// reference, uncopied. Used only by the decode thread. Frame threading
// delays pictures by a few packets, so every picture comes out with the
// record of the packet it was decoded from, never with the record of the
// packet just fed.
#include "FrameIndex.h"
#include "PicturePool.h"

#include <cstdint>
#include <map>

struct AVBufferRef;
struct AVCodec;
struct AVCodecContext;
struct AVFrame;
struct AVPacket;
struct SwsContext;

class H265Decoder
{
public:
    enum CodecType { H264 = 0, H265 = 1 };

    explicit H265Decoder(int channel);
    ~H265Decoder();
    H265Decoder(const H265Decoder &) = delete;
    H265Decoder &operator=(const H265Decoder &) = delete;

    // Configures the decoder for a recording. The codec is rebuilt when the
    // size or the codec type changes; otherwise the open codec is only
    // flushed, so nothing of the previous recording comes out.
    // 0 ready, -2 no decoder for the codec, -1 the codec could not be opened,
    // -3 no frame could be allocated. threads: the codec's frame threads,
    // 0 for one per core (at least two); 1 decodes on the caller alone.
    int initCodec(int codecType, int width, int height, int threads = 0);

    // Feeds one packet. data lies in buffer when it is given (the codec then
    // keeps a reference instead of a copy; the bytes after the packet must
    // be AV_INPUT_BUFFER_PADDING_SIZE zeros). When a picture comes out it is
    // returned, the caller's to free (av_frame_free), and the record of the
    // packet it belongs to is copied to *pictureRecord. Null when no picture
    // came out (pipeline filling, damaged packet, parameter sets, a picture
    // of a size no camera records).
    AVFrame *decode(const uint8_t *data, int size, const FrameIndexEntry &record, FrameIndexEntry *pictureRecord,
                    AVBufferRef *buffer = nullptr);

    // End of stream: hands out the pictures still inside the decoder, one per
    // call, as decode does; null once none is left (the decoder is then
    // flushed and ready for new packets).
    AVFrame *drain(FrameIndexEntry *pictureRecord);

    // Drops every picture and packet still inside the decoder (seek, restart,
    // a skip to a key frame); the result is how many pictures were lost.
    int flush();
    void close();

    // Asks the codec to leave out the pictures no other picture refers to,
    // where it can tell them (H.264); the decode thread drops HEVC's by
    // their unit type before they get here.
    void setSkipNonReference(bool skip);
    // The pictures this decoder writes into.
    const PicturePool &pool() const { return m_pool; }

    // Bytes of a picture of the configured size.
    int decodedFrameSize() const { return m_decodedFrameSize; }
    int width() const { return m_width; }
    int height() const { return m_height; }
    int codecType() const { return m_codecType; }
    int channel() const { return m_channel; }
    // How often the codec context was built; a test sees a rebuild by it.
    int buildCount() const { return m_buildCount; }

private:
    AVFrame *receivePicture(FrameIndexEntry *pictureRecord);
    AVFrame *handOut();
    void logAcceleratorSearch();

    // Declared first, destroyed last: the codec context goes before its pool.
    PicturePool m_pool;

    AVCodecContext *m_context = nullptr;
    const AVCodec *m_codec = nullptr;
    AVFrame *m_frame = nullptr;
    AVPacket *m_packet = nullptr;
    SwsContext *m_sws = nullptr;
    int m_decodedFrameSize = 0;
    int m_width = 0;
    int m_height = 0;
    int m_channel = 0;
    int m_codecType = -1;
    int m_threads = -1;
    int m_buildCount = 0;
    bool m_draining = false;
    bool m_skipNonReference = false;
    int m_testDelayUs = 0;
    // Each packet's pts is a tag; the picture's pts finds its record again.
    int64_t m_nextTag = 0;
    std::map<int64_t, FrameIndexEntry> m_pending;
};
