// The MF2 reader and the merge on MF2 files written byte by byte: the
// limits of the track table, packets of unknown tracks, the audio delay, the
// merge order, key-frame gating and the G-sensor offsets.
#include "CardFiles.h"
#include "Mf2Reader.h"
#include "RecordingMerge.h"

#include <QBuffer>
#include <gtest/gtest.h>

using namespace cardfiles;

namespace {

struct Packet {
    const char *magic;
    int track;
    bool key;
    quint32 ms;
    QByteArray payload;
    quint32 claimedSize = 0xFFFFFFFF; // the size field when it lies
};

struct Mf2File {
    int videoTracks = 2;
    int audioTracks = 1;
    int dataTracks = 1;
    quint32 declaredTracks = 0xFFFFFFFF; // header's count when it lies
    quint32 tableSize = 0xFFFFFFFF;
    quint32 videoConfigSize = 4;
    QVector<Packet> packets;

    QByteArray bytes() const
    {
        const int tracks = videoTracks + audioTracks + dataTracks;
        QByteArray f(16 + 52, '\0');
        memcpy(f.data(), "MF2H", 4);
        put32(f, 16, tableSize != 0xFFFFFFFF ? tableSize : quint32(tracks * 4128));
        put32(f, 16 + 48, declaredTracks != 0xFFFFFFFF ? declaredTracks : quint32(tracks));
        for (int t = 0; t < tracks; ++t) {
            QByteArray d(4128, '\0');
            memcpy(d.data(), "MF2I", 4);
            if (t < videoTracks) {
                memcpy(d.data() + 4, "MF2V", 4);
                put32(d, 20, 320);
                put32(d, 24, 240);
                memcpy(d.data() + 28, "\0\0\0\1", 4);
                put32(d, 4124, videoConfigSize);
            } else if (t < videoTracks + audioTracks) {
                memcpy(d.data() + 4, "MF2A", 4);
                put32(d, 8, 1);
                d[32] = char(0x14); // AAC LC, 16 kHz, mono
                d[33] = char(0x08);
                put32(d, 288, 2);
            } else {
                memcpy(d.data() + 4, "MF2D", 4);
                put32(d, 8, 2);
            }
            f += d;
        }
        for (const Packet &p : packets) {
            QByteArray h(16, '\0');
            memcpy(h.data(), p.magic, 4);
            h[4] = char(p.track);
            h[5] = char(p.key ? 1 : 0);
            put32(h, 8, p.ms);
            put32(h, 12, p.claimedSize != 0xFFFFFFFF ? p.claimedSize : quint32(p.payload.size()));
            f += h + p.payload;
        }
        return f;
    }
};

struct Loaded {
    int64_t bytes = -1;
    RecordTracks tracks;
    std::vector<FrameIndexEntry> index;
    std::vector<GSensorSample> gsensor;
    FrameBuffer buffer;
};

Loaded load(const QByteArray &file, uint64_t capacity = 1 << 20)
{
    Loaded l;
    QByteArray copy = file;
    QBuffer device(&copy);
    device.open(QIODevice::ReadOnly);
    l.buffer.allocate(capacity);
    RecordPackets packets;
    l.bytes = Mf2Reader::read(device, l.buffer, l.tracks, packets);
    MergeOptions options;
    options.container = TelemetryContainer::Mf2;
    options.baseTimeUs = 1000000000ull * 1000000;
    for (const VideoTrack &v : l.tracks.video)
        options.resolutionCodes.push_back(v.resolutionCode);
    RecordingMerge::run(packets, options, l.buffer, l.index, l.gsensor);
    return l;
}

QByteArray frame(char fill, int n = 10)
{
    return QByteArray(n, fill);
}

// One telemetry payload: 12 bytes, then a G-sensor item of one sample.
QByteArray gsensorPayload(quint16 x, quint16 y, quint16 z)
{
    QByteArray p(12 + 32 + 20, '\0');
    put32(p, 12, 3);
    put32(p, 12 + 8, 1);
    put16(p, 12 + 32 + 12, x);
    put16(p, 12 + 32 + 14, y);
    put16(p, 12 + 32 + 16, z);
    return p;
}

} // namespace

TEST(Mf2Reader, TrackTableLimits)
{
    struct Case {
        const char *name;
        Mf2File file;
        int64_t bytes;
        size_t videoTracks;
        int configSize;
    };
    Mf2File base;
    base.packets = {{"MF2V", 0, true, 0, frame('a')}};
    Mf2File tooMany = base;
    tooMany.videoTracks = 33;
    tooMany.audioTracks = tooMany.dataTracks = 0;
    Mf2File smallTable = base;
    smallTable.tableSize = 4 * 4128 - 1;
    Mf2File countOverTable = base;
    countOverTable.declaredTracks = 5;
    Mf2File bigConfig = base;
    bigConfig.videoConfigSize = 4097;
    Mf2File nineVideo = base;
    nineVideo.videoTracks = 9;
    const Case cases[] = {
        {"sound", base, 10, 2, 4},
        {"33 tracks", tooMany, -1, 0, 0},
        {"table smaller than its tracks", smallTable, -1, 0, 0},
        {"count beyond the table", countOverTable, -1, 0, 0},
        {"video configuration over 4096 bytes", bigConfig, 10, 2, 0},
        {"nine video tracks keep eight channels", nineVideo, 10, 8, 4},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const Loaded l = load(c.file.bytes());
        EXPECT_EQ(l.bytes, c.bytes);
        ASSERT_EQ(l.tracks.video.size(), c.videoTracks);
        if (c.videoTracks > 0) {
            EXPECT_EQ(l.tracks.video[0].config.size(), c.configSize);
        }
    }
}

TEST(Mf2Reader, PacketsBecomeATimeOrderedIndex)
{
    Mf2File f;
    f.packets = {
        {"MF2V", 1, false, 0, frame('x')},   // channel 1 before its first key frame: dropped
        {"MF2V", 1, true, 100, frame('b')},
        {"MF2V", 0, true, 100, frame('a')},  // same time: slot 0 first
        {"MF2A", 0, true, 400, frame('s')},  // 400 ms -> 0 ms
        {"MF2A", 0, true, 1400, frame('t')}, // -> 400 ms
        {"MF2V", 2, true, 200, frame('z')},  // no third video track: dropped
        {"MF2A", 1, true, 200, frame('z')},  // no second audio track: dropped
        {"MF2V", 0, false, 300, frame('c')},
        {"MF2D", 0, false, 500, gsensorPayload(5000, 10000, 7)},
        {"MF2D", 0, false, 600, gsensorPayload(5001, 9990, 7)},
    };
    const Loaded l = load(f.bytes());
    struct Want {
        uint16_t marker;
        int channel;
        int64_t ms;
        int gop;
        char fill;
    };
    const Want want[] = {
        {FrameIndexEntry::Audio, 0, 0, 0, 's'},  {FrameIndexEntry::Video, 0, 100, 0, 'a'},
        {FrameIndexEntry::Video, 1, 100, 0, 'b'}, {FrameIndexEntry::Video, 0, 300, 1, 'c'},
        {FrameIndexEntry::Audio, 0, 400, 0, 't'}, {FrameIndexEntry::GSensor, 0, 500, 0, 0},
        {FrameIndexEntry::GSensor, 0, 600, 0, 0},
    };
    ASSERT_EQ(l.index.size(), std::size(want));
    for (size_t i = 0; i < l.index.size(); ++i) {
        SCOPED_TRACE(i);
        const FrameIndexEntry &e = l.index[i];
        EXPECT_EQ(int(e.marker), int(want[i].marker));
        EXPECT_EQ(int(e.channel), want[i].channel);
        EXPECT_EQ(e.timeMs() - 1000000000ll * 1000, want[i].ms);
        EXPECT_EQ(int(e.gop), want[i].gop);
        EXPECT_EQ(e.serial(), uint32_t(i));
        if (want[i].fill) {
            EXPECT_EQ(char(l.buffer.data()[e.payloadOffset]), want[i].fill);
        }
        if (e.marker == FrameIndexEntry::Video) {
            EXPECT_EQ(int(e.res), e.channel == 0 ? 15 : 14);
        }
    }
    // The offsets are fixed by the first sample, even though one of them is 0.
    ASSERT_EQ(l.gsensor.size(), 2u);
    EXPECT_EQ(int(l.gsensor[0].x), 5000);
    EXPECT_EQ(int(l.gsensor[0].y), 10000);
    EXPECT_EQ(int(l.gsensor[1].x), 5001);
    EXPECT_EQ(int(l.gsensor[1].y), 9990);
    EXPECT_EQ(l.tracks.audio.sampleRate, 16000);
    EXPECT_EQ(l.tracks.audio.channels, 1);
}

TEST(Mf2Reader, DamageEndsReadingAndKeepsWhatCameBefore)
{
    struct Case {
        const char *name;
        Packet bad;
        uint64_t capacity;
        size_t entries;
    };
    const Case cases[] = {
        {"payload past the end of the file", {"MF2V", 0, false, 200, frame('x'), 0x7FFFFFF0}, 1 << 20, 2},
        {"unknown magic", {"XXXX", 0, false, 200, frame('x')}, 1 << 20, 2},
        {"payload beyond the frame buffer", {"MF2V", 0, false, 200, frame('x', 100)}, 30, 2},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Mf2File f;
        f.packets = {{"MF2V", 0, true, 0, frame('a')}, {"MF2V", 0, false, 100, frame('b')}, c.bad,
                     {"MF2V", 0, false, 300, frame('c')}};
        const Loaded l = load(f.bytes(), c.capacity);
        EXPECT_EQ(l.bytes, 20);
        EXPECT_EQ(l.index.size(), c.entries);
        for (const FrameIndexEntry &e : l.index)
            EXPECT_LE(uint64_t(e.payloadOffset) + uint64_t(e.size), l.buffer.used());
    }
}

TEST(Mf2Reader, GopPositionSaturatesAndOnlyKeyFramesAreZero)
{
    Mf2File f;
    f.packets.append({"MF2V", 0, true, 0, frame('k')});
    for (quint32 i = 1; i <= 300; ++i)
        f.packets.append({"MF2V", 0, false, i, frame('p', 1)});
    f.packets.append({"MF2V", 0, true, 301, frame('k')});
    const Loaded l = load(f.bytes());
    ASSERT_EQ(l.index.size(), 302u);
    EXPECT_EQ(l.index[255].gop, 255);
    EXPECT_EQ(l.index[300].gop, 255);
    EXPECT_EQ(l.index[301].gop, 0);
    EXPECT_TRUE(l.index[301].isKeyFrame());
}
