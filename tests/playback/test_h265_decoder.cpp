// H265Decoder against ffmpeg's own decoding of the same Annex-B streams:
// pictures bit-exact, each labelled with the packet it came from (ffprobe's
// pkt_pos per output frame), crop and pad within the planes, rebuild rules,
// flush.
#include "H265Decoder.h"
#include "MediaTools.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

extern "C" {
#include <libavcodec/avcodec.h>
}

#include <vector>

namespace {

constexpr int Width = 320;
constexpr int Height = 240;
constexpr int FrameCount = 12;

struct Packet {
    QByteArray bytes;
    FrameIndexEntry record;
};

struct Stream {
    std::vector<Packet> packets;        // decode order
    std::vector<uint32_t> framePacket;  // per output frame: byte position of its packet
    QByteArray reference;               // ffmpeg's yuv420p output, presentation order
};

struct Picture {
    QByteArray bytes;
    FrameIndexEntry record;
};

// Splits an Annex-B stream into access units with libavcodec's parser; each
// packet's record carries its byte position and a time from its number.
std::vector<Packet> splitPackets(const QByteArray &stream, AVCodecID codec, uint16_t catalogueIndex)
{
    std::vector<Packet> packets;
    AVCodecParserContext *parser = av_parser_init(codec);
    AVCodecContext *context = avcodec_alloc_context3(avcodec_find_decoder(codec));
    const uint8_t *data = reinterpret_cast<const uint8_t *>(stream.constData());
    int offset = 0;
    uint32_t packetStart = 0; // the parser hands out every byte, in order
    for (;;) {
        uint8_t *out = nullptr;
        int outSize = 0;
        const int left = stream.size() - offset;
        const int used = av_parser_parse2(parser, context, &out, &outSize, left ? data + offset : nullptr, left,
                                          AV_NOPTS_VALUE, AV_NOPTS_VALUE, 0);
        offset += used;
        if (outSize > 0) {
            Packet packet;
            packet.bytes = QByteArray(reinterpret_cast<const char *>(out), outSize);
            packet.record.marker = FrameIndexEntry::Video;
            packet.record.payloadOffset = packetStart;
            packetStart += uint32_t(outSize);
            packet.record.sec = uint32_t(packets.size() / 25);
            packet.record.usec = uint32_t(packets.size() % 25) * 40000;
            packet.record.gop = parser->key_frame == 1 ? 0 : 1;
            packet.record.catalogueIndex = catalogueIndex;
            packet.record.setSerial(uint32_t(packets.size()));
            packets.push_back(packet);
        }
        if (left == 0 && outSize == 0)
            break;
    }
    av_parser_close(parser);
    avcodec_free_context(&context);
    return packets;
}

class H265DecoderTest : public ::testing::Test
{
protected:
    // A 320x240 stream with B-frames made by ffmpeg, its reference pictures
    // and which packet each picture comes from.
    Stream makeStream(int codecType, uint16_t catalogueIndex = 1)
    {
        const bool hevc = codecType == H265Decoder::H265;
        const QString path = m_dir.filePath(hevc ? "clip.hevc" : "clip.h264");
        QString error;
        QStringList encode = {"-v", "error", "-y", "-f", "lavfi", "-i",
                              QString("testsrc=size=%1x%2:rate=25").arg(Width).arg(Height),
                              "-frames:v", QString::number(FrameCount), "-pix_fmt", "yuv420p"};
        if (hevc)
            encode << "-c:v" << "libx265" << "-x265-params" << "log-level=error:bframes=3:keyint=12";
        else
            encode << "-c:v" << "libx264" << "-bf" << "2" << "-g" << "12";
        encode << "-f" << (hevc ? "hevc" : "h264") << path;
        runTool("ffmpeg", encode, &error);
        EXPECT_TRUE(error.isEmpty()) << error.toStdString();

        Stream stream;
        stream.packets = splitPackets(readWholeFile(path), hevc ? AV_CODEC_ID_HEVC : AV_CODEC_ID_H264, catalogueIndex);
        stream.reference = runTool("ffmpeg", {"-v", "error", "-i", path, "-f", "rawvideo", "-pix_fmt", "yuv420p", "-"},
                                   &error);
        EXPECT_TRUE(error.isEmpty()) << error.toStdString();
        const QByteArray frames = runTool(
            "ffprobe", {"-v", "error", "-show_entries", "frame=pkt_pos", "-of", "csv=p=0", path}, &error);
        for (const QByteArray &line : frames.split('\n')) {
            if (!line.trimmed().isEmpty())
                stream.framePacket.push_back(line.trimmed().toUInt());
        }
        EXPECT_EQ(int(stream.framePacket.size()), FrameCount);
        return stream;
    }

    static std::vector<Picture> decodeAll(H265Decoder &decoder, const std::vector<Packet> &packets, bool drain = true)
    {
        std::vector<Picture> pictures;
        std::vector<uint8_t> out(size_t(decoder.decodedFrameSize()));
        FrameIndexEntry record;
        for (const Packet &packet : packets) {
            const int produced = decoder.decode(reinterpret_cast<const uint8_t *>(packet.bytes.constData()),
                                                packet.bytes.size(), packet.record, out.data(), &record);
            if (produced)
                pictures.push_back({QByteArray(reinterpret_cast<const char *>(out.data()), produced), record});
        }
        while (drain) {
            const int produced = decoder.drain(out.data(), &record);
            if (!produced)
                break;
            pictures.push_back({QByteArray(reinterpret_cast<const char *>(out.data()), produced), record});
        }
        return pictures;
    }

    QTemporaryDir m_dir;
};

// Bit-exact pictures in presentation order, each with the record of the
// packet that carried it although frame threads and B-frames reorder them.
TEST_F(H265DecoderTest, PicturesMatchFfmpegAndKeepTheirPacketRecords)
{
    for (int codecType : {H265Decoder::H264, H265Decoder::H265}) {
        SCOPED_TRACE(codecType == H265Decoder::H264 ? "H.264" : "HEVC");
        const Stream stream = makeStream(codecType);
        H265Decoder decoder(0);
        ASSERT_EQ(decoder.initCodec(codecType, Width, Height), 0);
        ASSERT_EQ(decoder.decodedFrameSize(), Width * Height * 3 / 2);

        const std::vector<Picture> pictures = decodeAll(decoder, stream.packets);
        ASSERT_EQ(int(pictures.size()), FrameCount);
        ASSERT_EQ(stream.reference.size(), FrameCount * decoder.decodedFrameSize());
        bool reordered = false;
        for (int i = 0; i < FrameCount; ++i) {
            SCOPED_TRACE(i);
            EXPECT_TRUE(pictures[i].bytes ==
                        stream.reference.mid(i * decoder.decodedFrameSize(), decoder.decodedFrameSize()));
            EXPECT_EQ(uint32_t(pictures[i].record.payloadOffset), stream.framePacket[size_t(i)]);
            const auto packet = std::find_if(stream.packets.begin(), stream.packets.end(), [&](const Packet &p) {
                return p.record.payloadOffset == pictures[i].record.payloadOffset;
            });
            ASSERT_NE(packet, stream.packets.end());
            EXPECT_EQ(pictures[i].record.timeMs(), packet->record.timeMs());
            EXPECT_EQ(int(pictures[i].record.gop), int(packet->record.gop));
            EXPECT_EQ(pictures[i].record.serial(), packet->record.serial());
            reordered = reordered || pictures[i].record.serial() != uint32_t(i);
        }
        EXPECT_TRUE(reordered) << "the stream should have B-frames";
    }
}

// The configured size wins over the coded one: the picture is cropped, or
// padded with black, and never read beyond the decoded planes.
TEST_F(H265DecoderTest, CodedSizeDifferentFromConfiguredIsCroppedOrPadded)
{
    const Stream stream = makeStream(H265Decoder::H264);
    const QByteArray first = stream.reference.left(Width * Height * 3 / 2);
    const struct {
        int width, height;
    } sizes[] = {{160, 120}, {400, 300}, {321, 97}, {64, 480}};
    for (const auto &size : sizes) {
        SCOPED_TRACE(QString("%1x%2").arg(size.width).arg(size.height).toStdString());
        H265Decoder decoder(0);
        ASSERT_EQ(decoder.initCodec(H265Decoder::H264, size.width, size.height), 0);
        const std::vector<Picture> pictures = decodeAll(decoder, stream.packets);
        ASSERT_EQ(int(pictures.size()), FrameCount);
        const QByteArray &picture = pictures[0].bytes;
        ASSERT_EQ(picture.size(), decoder.decodedFrameSize());

        const int chromaW = (size.width + 1) / 2, chromaH = (size.height + 1) / 2;
        const struct {
            int offset, width, height, srcOffset, srcWidth, srcHeight, fill;
        } planes[] = {
            {0, size.width, size.height, 0, Width, Height, 16},
            {size.width * size.height, chromaW, chromaH, Width * Height, Width / 2, Height / 2, 128},
            {size.width * size.height + chromaW * chromaH, chromaW, chromaH, Width * Height * 5 / 4, Width / 2,
             Height / 2, 128},
        };
        int mismatches = 0;
        for (const auto &plane : planes) {
            for (int y = 0; y < plane.height; ++y) {
                for (int x = 0; x < plane.width; ++x) {
                    const uint8_t got = uint8_t(picture[plane.offset + y * plane.width + x]);
                    const uint8_t want = x < plane.srcWidth && y < plane.srcHeight
                        ? uint8_t(first[plane.srcOffset + y * plane.srcWidth + x])
                        : uint8_t(plane.fill);
                    mismatches += got != want;
                }
            }
        }
        EXPECT_EQ(mismatches, 0);
    }
}

// The codec is rebuilt on a new size or a new codec type, not otherwise; a
// rebuilt decoder decodes the other codec's stream.
TEST_F(H265DecoderTest, RebuildsOnSizeOrCodecChangeOnly)
{
    H265Decoder decoder(3);
    const struct {
        int codecType, width, height, builds, frameSize;
    } steps[] = {
        {H265Decoder::H264, Width, Height, 1, 115200},
        {H265Decoder::H264, Width, Height, 1, 115200},
        {H265Decoder::H264, 1280, 720, 2, 1382400},
        {H265Decoder::H265, 1280, 720, 3, 1382400},
        {H265Decoder::H265, 1280, 720, 3, 1382400},
        {H265Decoder::H265, Width, Height, 4, 115200},
    };
    for (const auto &step : steps) {
        EXPECT_EQ(decoder.initCodec(step.codecType, step.width, step.height), 0);
        EXPECT_EQ(decoder.buildCount(), step.builds);
        EXPECT_EQ(decoder.decodedFrameSize(), step.frameSize);
        EXPECT_EQ(decoder.codecType(), step.codecType);
    }
    EXPECT_EQ(decoder.initCodec(H265Decoder::H265, 0, 240), -1);

    const Stream stream = makeStream(H265Decoder::H265);
    ASSERT_EQ(decoder.initCodec(H265Decoder::H265, Width, Height), 0);
    EXPECT_EQ(int(decodeAll(decoder, stream.packets).size()), FrameCount);
}

// Pictures still inside the decoder when it is flushed (seek) or set up again
// for the next recording never come out afterwards.
TEST_F(H265DecoderTest, FlushAndRestartDropPendingPictures)
{
    const Stream first = makeStream(H265Decoder::H264, 1);
    const Stream second = makeStream(H265Decoder::H264, 2);
    for (bool restart : {false, true}) {
        SCOPED_TRACE(restart ? "initCodec again" : "flush");
        H265Decoder decoder(0);
        ASSERT_EQ(decoder.initCodec(H265Decoder::H264, Width, Height), 0);
        const std::vector<Packet> head(first.packets.begin(), first.packets.begin() + 6);
        const size_t before = decodeAll(decoder, head, false).size();
        EXPECT_LT(before, head.size()) << "some pictures should still be inside the decoder";
        if (restart)
            ASSERT_EQ(decoder.initCodec(H265Decoder::H264, Width, Height), 0);
        else
            decoder.flush();

        const std::vector<Picture> after = decodeAll(decoder, second.packets);
        ASSERT_EQ(int(after.size()), FrameCount);
        for (const Picture &picture : after)
            EXPECT_EQ(int(picture.record.catalogueIndex), 2);
        EXPECT_TRUE(after[0].bytes == second.reference.left(decoder.decodedFrameSize()));
    }
}

TEST_F(H265DecoderTest, DamagedPacketsGiveNoPicture)
{
    H265Decoder decoder(0);
    std::vector<uint8_t> out(Width * Height * 3 / 2);
    FrameIndexEntry record, picture;
    const uint8_t junk[] = {0, 0, 0, 1, 0x65, 0xFF, 0x13, 0x00, 0x42, 0x99};
    EXPECT_EQ(decoder.decode(junk, sizeof junk, record, out.data(), &picture), 0) << "not configured";
    ASSERT_EQ(decoder.initCodec(H265Decoder::H265, Width, Height), 0);
    for (int i = 0; i < 20; ++i)
        EXPECT_EQ(decoder.decode(junk, sizeof junk, record, out.data(), &picture), 0);
    EXPECT_EQ(decoder.decode(nullptr, 10, record, out.data(), &picture), 0);
    EXPECT_EQ(decoder.drain(out.data(), &picture), 0);
}

} // namespace
