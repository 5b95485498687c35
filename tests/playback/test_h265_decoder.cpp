// H265Decoder against ffmpeg's own decoding of the same Annex-B streams:
// pictures bit-exact, each labelled with the record of the packet ffprobe
// says it came from; pictures at the stream's own size, rebuild rules, flush.
#include "H265Decoder.h"
#include "ProcessRun.h"

#include <QSize>
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

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

static std::vector<Picture> decodeAll(H265Decoder &decoder, const std::vector<Packet> &packets, bool drain = true)
{
    std::vector<Picture> pictures;
    QByteArray out;
    QSize size;
    const H265Decoder::PictureBuffer buffer = [&](int width, int height, int bytes) {
        size = QSize(width, height);
        out.resize(bytes);
        return reinterpret_cast<uint8_t *>(out.data());
    };
    FrameIndexEntry record;
    const auto keep = [&](int produced) {
        if (produced) {
            EXPECT_EQ(produced, out.size());
            pictures.push_back({out, record, size});
        }
        return produced;
    };
    for (const Packet &packet : packets)
        keep(decoder.decode(bytes(packet.bytes), packet.bytes.size(), packet.record, buffer, &record));
    while (drain && keep(decoder.drain(buffer, &record))) {
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
        H265Decoder decoder(0);
        ASSERT_EQ(decoder.initCodec(codecType, Width, Height), 0);
        const std::vector<Picture> pictures = decodeAll(decoder, stream.packets);
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
        EXPECT_LT(decodeAll(decoder, head, false).size(), head.size()) << "some pictures should still be inside";
        if (restart)
            ASSERT_EQ(decoder.initCodec(H265Decoder::H264, Width, Height), 0);
        else
            decoder.flush();
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
    std::vector<uint8_t> picturePlanes(FrameSize);
    const H265Decoder::PictureBuffer out = [&](int, int, int) { return picturePlanes.data(); };
    FrameIndexEntry record, picture;
    const uint8_t junk[] = {0, 0, 0, 1, 0x65, 0xFF, 0x13, 0x00, 0x42, 0x99};
    EXPECT_EQ(decoder.decode(junk, sizeof junk, record, out, &picture), 0) << "not configured";
    ASSERT_EQ(decoder.initCodec(H265Decoder::H265, Width, Height), 0);
    for (int i = 0; i < 20; ++i)
        EXPECT_EQ(decoder.decode(junk, sizeof junk, record, out, &picture), 0);
    EXPECT_EQ(decoder.decode(nullptr, 10, record, out, &picture), 0);
    EXPECT_EQ(decoder.drain(out, &picture), 0);
}
