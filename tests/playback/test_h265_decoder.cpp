// H265Decoder against ffmpeg's own decoding of the same Annex-B streams:
// pictures bit-exact, each labelled with the record of the packet ffprobe
// says it came from; pictures at the stream's own size, rebuild rules, flush;
// packets taken by reference; the pictures nothing refers to left out.
#include "FrameDropPolicy.h"
#include "H265Decoder.h"
#include "ProcessRun.h"

#include <QSize>
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>

#include <algorithm>
#include <cstring>
#include <vector>

#include <sys/resource.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/buffer.h>
#include <libavutil/frame.h>
}

constexpr int Width = 320, Height = 240, FrameCount = 12, FrameSize = Width * Height * 3 / 2;

struct Packet { QByteArray bytes; FrameIndexEntry record; };
struct Picture { QByteArray bytes; FrameIndexEntry record; QSize size; };

struct Stream {
    std::vector<Packet> packets;       // decode order
    std::vector<uint32_t> framePacket; // per output frame: byte position of its packet
    QByteArray reference;              // ffmpeg's yuv420p pictures, presentation order
};

static const uint8_t *bytes(const QByteArray &b) { return reinterpret_cast<const uint8_t *>(b.constData()); }

static QByteArray recordBytes(const FrameIndexEntry &record)
{
    QByteArray stored(int(FrameIndexEntry::Size), 0);
    record.store(reinterpret_cast<uint8_t *>(stored.data()));
    return stored;
}

// A 320x240 stream with B-frames made by ffmpeg and cut where ffprobe cuts
// it; each packet's record is a byte pattern of its number with its byte
// position and catalogue index.
static Stream makeStream(int codecType, uint16_t catalogueIndex = 1)
{
    const bool hevc = codecType == H265Decoder::H265;
    const QString format = hevc ? "hevc" : "h264";
    const QByteArray file = toolOutput(
        "ffmpeg", QStringList{"-v", "error", "-f", "lavfi", "-i", QString("testsrc=size=%1x%2:rate=25").arg(Width).arg(Height),
                              "-frames:v", QString::number(FrameCount), "-pix_fmt", "yuv420p"}
                      << (hevc ? QStringList{"-c:v", "libx265", "-x265-params", "log-level=error:bframes=3:keyint=12"}
                               : QStringList{"-c:v", "libx264", "-bf", "2", "-g", "12"})
                      << "-f" << format << "-");
    Stream stream;
    stream.reference = toolOutput(
        "ffmpeg", {"-v", "error", "-f", format, "-i", "-", "-f", "rawvideo", "-pix_fmt", "yuv420p", "-"}, file);
    // "packet,size,pos,flags" in decode order, "frame,pkt_pos" in presentation order.
    const QByteArray probe = toolOutput(
        "ffprobe", {"-v", "error", "-f", format, "-show_entries", "packet=pos,size,flags:frame=pkt_pos", "-of", "csv", "-"},
        file);
    for (const QByteArray &line : probe.split('\n')) {
        const QList<QByteArray> field = line.split(',');
        if (field[0] == "frame")
            stream.framePacket.push_back(field[1].toUInt());
        if (field[0] != "packet" || field.size() < 4)
            continue;
        Packet packet{file.mid(field[2].toInt(), field[1].toInt()),
                      FrameIndexEntry::load(bytes(QByteArray(FrameIndexEntry::Size, char(1 + stream.packets.size()))))};
        packet.record.payloadOffset = field[2].toUInt();
        packet.record.catalogueIndex = catalogueIndex;
        stream.packets.push_back(packet);
    }
    EXPECT_EQ(int(stream.framePacket.size()), FrameCount);
    EXPECT_EQ(stream.reference.size(), FrameCount * FrameSize);
    return stream;
}

// The visible picture packed as ffmpeg writes rawvideo; the frame is freed.
static Picture take(AVFrame *frame, const FrameIndexEntry &record)
{
    Picture picture{QByteArray(), record, QSize(frame->width, frame->height)};
    for (int plane = 0; plane < 3; ++plane) {
        const int w = plane ? (frame->width + 1) / 2 : frame->width, h = plane ? (frame->height + 1) / 2 : frame->height;
        for (int y = 0; y < h; ++y)
            picture.bytes.append(reinterpret_cast<const char *>(frame->data[plane] + y * frame->linesize[plane]), w);
    }
    av_frame_free(&frame);
    return picture;
}

// referenced: each packet lies in a reference-counted buffer of its own
// (with the zero padding after it), as the read thread hands packets over.
static std::vector<Picture> decodeAll(H265Decoder &decoder, const std::vector<Packet> &packets, bool drain = true,
                                      bool referenced = false)
{
    std::vector<Picture> pictures;
    FrameIndexEntry record;
    for (const Packet &packet : packets) {
        AVBufferRef *buffer = nullptr;
        const uint8_t *data = bytes(packet.bytes);
        if (referenced) {
            buffer = av_buffer_allocz(size_t(packet.bytes.size()) + AV_INPUT_BUFFER_PADDING_SIZE);
            memcpy(buffer->data, packet.bytes.constData(), size_t(packet.bytes.size()));
            data = buffer->data;
        }
        if (AVFrame *frame = decoder.decode(data, packet.bytes.size(), packet.record, &record, buffer))
            pictures.push_back(take(frame, record));
        av_buffer_unref(&buffer);
    }
    while (drain) {
        AVFrame *frame = decoder.drain(&record);
        if (!frame)
            break;
        pictures.push_back(take(frame, record));
    }
    return pictures;
}

// Bit-exact pictures in presentation order, each with the whole record of the
// packet that carried it although frame threads and B-frames reorder them.
TEST(H265Decoder, PicturesMatchFfmpegAndKeepTheirPacketRecords)
{
    for (int codecType : {H265Decoder::H264, H265Decoder::H265}) {
        SCOPED_TRACE(codecType);
        const Stream stream = makeStream(codecType);
        for (bool referenced : {false, true}) {
            SCOPED_TRACE(referenced ? "packets by reference" : "packets copied");
            H265Decoder decoder(0);
            ASSERT_EQ(decoder.initCodec(codecType, Width, Height), 0);
            const std::vector<Picture> pictures = decodeAll(decoder, stream.packets, true, referenced);
            ASSERT_EQ(int(pictures.size()), FrameCount);
            bool reordered = false;
            for (int i = 0; i < FrameCount; ++i) {
                SCOPED_TRACE(i);
                EXPECT_TRUE(pictures[i].bytes == stream.reference.mid(i * FrameSize, FrameSize));
                const auto from = std::find_if(stream.packets.begin(), stream.packets.end(), [&](const Packet &p) {
                    return p.record.payloadOffset == stream.framePacket[size_t(i)];
                });
                ASSERT_NE(from, stream.packets.end());
                EXPECT_EQ(recordBytes(pictures[i].record), recordBytes(from->record));
                reordered = reordered || from != stream.packets.begin() + i;
            }
            EXPECT_TRUE(reordered) << "the stream should have B-frames";
        }
    }
}

// A late channel leaves out the pictures nothing refers to: what is still
// decoded is ffmpeg's picture of the same packet, so no reference was lost;
// and some were left out (both streams have B-frames no frame refers to).
TEST(H265Decoder, LeavingOutNonReferencePicturesKeepsTheOthersIntact)
{
    for (int codecType : {H265Decoder::H264, H265Decoder::H265}) {
        SCOPED_TRACE(codecType);
        const Stream stream = makeStream(codecType);
        std::vector<Packet> kept;
        int maxTemporalId = 0;
        for (const Packet &p : stream.packets)
            if (!isNonReferencePicture(bytes(p.bytes), p.bytes.size(), codecType == H265Decoder::H265, &maxTemporalId))
                kept.push_back(p);
        EXPECT_LT(kept.size(), stream.packets.size());
        H265Decoder decoder(0);
        ASSERT_EQ(decoder.initCodec(codecType, Width, Height), 0);
        decoder.setSkipNonReference(true);
        const std::vector<Picture> pictures = decodeAll(decoder, kept);
        EXPECT_EQ(pictures.size(), kept.size());
        for (const Picture &picture : pictures) {
            const auto at = std::find(stream.framePacket.begin(), stream.framePacket.end(), picture.record.payloadOffset);
            ASSERT_NE(at, stream.framePacket.end());
            const int i = int(at - stream.framePacket.begin());
            EXPECT_TRUE(picture.bytes == stream.reference.mid(i * FrameSize, FrameSize)) << "picture " << i;
        }
    }
}

// Whatever size the decoder was configured for (a header's claim), every
// picture has the stream's own size and is ffmpeg's picture: a claim of
// 7680x4320 does not make 50 MB buffers for a 320x240 stream.
TEST(H265Decoder, PicturesKeepTheStreamsOwnSize)
{
    const Stream stream = makeStream(H265Decoder::H264);
    for (const QSize size : {QSize(160, 120), QSize(321, 97), QSize(7680, 4320)}) {
        SCOPED_TRACE(size.width() * 10000 + size.height());
        H265Decoder decoder(0);
        ASSERT_EQ(decoder.initCodec(H265Decoder::H264, size.width(), size.height()), 0);
        const std::vector<Picture> pictures = decodeAll(decoder, stream.packets);
        ASSERT_EQ(int(pictures.size()), FrameCount);
        EXPECT_EQ(pictures[0].size, QSize(Width, Height));
        EXPECT_TRUE(pictures[0].bytes == stream.reference.left(FrameSize));
    }
}

// The codec is rebuilt on a new size or a new codec type, not otherwise; a
// rebuilt decoder decodes the other codec's stream.
TEST(H265Decoder, RebuildsOnSizeOrCodecChangeOnly)
{
    H265Decoder decoder(3);
    const struct { int codecType, width, height, builds, frameSize; } steps[] = {
        {H265Decoder::H264, Width, Height, 1, 115200}, {H265Decoder::H264, Width, Height, 1, 115200},
        {H265Decoder::H264, 1280, 720, 2, 1382400},    {H265Decoder::H265, 1280, 720, 3, 1382400},
        {H265Decoder::H265, 1280, 720, 3, 1382400},    {H265Decoder::H265, Width, Height, 4, 115200},
    };
    for (const auto &step : steps) {
        EXPECT_EQ(decoder.initCodec(step.codecType, step.width, step.height), 0);
        EXPECT_EQ(decoder.buildCount(), step.builds);
        EXPECT_EQ(decoder.decodedFrameSize(), step.frameSize);
    }
    for (const QSize refused : {QSize(0, 240), QSize(65536, 32768), QSize(8192, 8192)})
        EXPECT_EQ(decoder.initCodec(H265Decoder::H265, refused.width(), refused.height()), -1);
    ASSERT_EQ(decoder.initCodec(H265Decoder::H265, Width, Height), 0);
    EXPECT_EQ(int(decodeAll(decoder, makeStream(H265Decoder::H265).packets).size()), FrameCount);
}

// Pictures still inside the decoder when it is flushed (seek) or set up again
// for the next recording never come out afterwards.
TEST(H265Decoder, FlushAndRestartDropPendingPictures)
{
    const Stream first = makeStream(H265Decoder::H264, 1), second = makeStream(H265Decoder::H264, 2);
    for (bool restart : {false, true}) {
        SCOPED_TRACE(restart ? "initCodec again" : "flush");
        H265Decoder decoder(0);
        ASSERT_EQ(decoder.initCodec(H265Decoder::H264, Width, Height), 0);
        const std::vector<Packet> head(first.packets.begin(), first.packets.begin() + 6);
        const int out = int(decodeAll(decoder, head, false).size());
        EXPECT_LT(out, int(head.size())) << "some pictures should still be inside";
        if (restart)
            ASSERT_EQ(decoder.initCodec(H265Decoder::H264, Width, Height), 0);
        else
            EXPECT_EQ(decoder.flush(), int(head.size()) - out) << "the pictures lost";
        const std::vector<Picture> after = decodeAll(decoder, second.packets);
        ASSERT_EQ(int(after.size()), FrameCount);
        for (const Picture &picture : after)
            EXPECT_EQ(int(picture.record.catalogueIndex), 2);
        EXPECT_TRUE(after[0].bytes == second.reference.left(FrameSize));
    }
}

TEST(H265Decoder, DamagedPacketsGiveNoPicture)
{
    H265Decoder decoder(0);
    FrameIndexEntry record, picture;
    const uint8_t junk[] = {0, 0, 0, 1, 0x65, 0xFF, 0x13, 0x00, 0x42, 0x99};
    EXPECT_EQ(decoder.decode(junk, sizeof junk, record, &picture), nullptr) << "not configured";
    ASSERT_EQ(decoder.initCodec(H265Decoder::H265, Width, Height), 0);
    for (int i = 0; i < 20; ++i)
        EXPECT_EQ(decoder.decode(junk, sizeof junk, record, &picture), nullptr);
    EXPECT_EQ(decoder.decode(nullptr, 10, record, &picture), nullptr);
    EXPECT_EQ(decoder.drain(&picture), nullptr);
}

// The niceness of each thread of this process (Linux).
static std::vector<int> threadNiceness()
{
    std::vector<int> out;
    for (const QString &task : QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile stat(QStringLiteral("/proc/self/task/%1/stat").arg(task));
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        // Field 19 (nice) counted after the command name's closing parenthesis.
        const QByteArray line = stat.readAll();
        const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
        if (fields.size() > 16)
            out.push_back(fields[16].toInt());
    }
    return out;
}

// The codec's frame threads run below the thread that opened the decoder
// (the GUI's, in the viewer), which keeps its own priority.
TEST(H265Decoder, FrameThreadsRunBelowTheOpeningThread)
{
    const std::vector<int> before = threadNiceness();
    const int own = getpriority(PRIO_PROCESS, 0);
    const auto lowered = [&](const std::vector<int> &all) {
        return std::count(all.begin(), all.end(), std::min(19, own + 5)) - std::count(before.begin(), before.end(), std::min(19, own + 5));
    };
    H265Decoder decoder(0);
    ASSERT_EQ(decoder.initCodec(H265Decoder::H265, Width, Height), 0);
    EXPECT_GE(lowered(threadNiceness()), 2) << "the frame threads";
    EXPECT_EQ(getpriority(PRIO_PROCESS, 0), own);
}
