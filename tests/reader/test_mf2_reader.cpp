// The MF2 reader and the merge on MF2 files written byte by byte: the
// limits of the track table, packets of unknown tracks, the audio delay, the
// merge order, key-frame gating and the G-sensor offsets.
#include "CardFiles.h"
#include "Mf2Reader.h"
#include "RecordingMerge.h"

#include <QBuffer>

using namespace cardfiles;

namespace {

constexpr quint32 Truthful = 0xFFFFFFFF; // a size or count field that tells the truth

struct Packet { const char *magic; int track; bool key; quint32 ms; QByteArray payload; quint32 claimedSize = Truthful; };

struct Mf2File {
    int videoTracks = 2, audioTracks = 1, dataTracks = 1;
    quint32 declaredTracks = Truthful, tableSize = Truthful, videoConfigSize = 4;
    QVector<Packet> packets = {{"MF2V", 0, true, 0, QByteArray(10, 'a')}};

    QByteArray bytes() const
    {
        const int tracks = videoTracks + audioTracks + dataTracks;
        QByteArray f(16 + 52, '\0');
        f.replace(0, 4, "MF2H");
        put(f, 16, tableSize != Truthful ? tableSize : quint32(tracks * 4128));
        put(f, 16 + 48, declaredTracks != Truthful ? declaredTracks : quint32(tracks));
        for (int t = 0; t < tracks; ++t) {
            const bool video = t < videoTracks, audio = !video && t < videoTracks + audioTracks;
            QByteArray d(4128, '\0');
            d.replace(0, 8, video ? "MF2IMF2V" : audio ? "MF2IMF2A" : "MF2IMF2D");
            put(d, 8, video ? 0 : audio ? 1 : 2);
            if (video) {
                put(d, 20, 320);
                put(d, 24, 240);
                d.replace(28, 4, QByteArray("\0\0\0\1", 4));
                put(d, 4124, videoConfigSize);
            } else if (audio) {
                put(d, 32, 0x0814, 2); // AAC LC, 16 kHz, mono
                put(d, 288, 2);
            }
            f += d;
        }
        for (const Packet &p : packets) {
            QByteArray h(16, '\0');
            h.replace(0, 4, p.magic);
            h[4] = char(p.track);
            h[5] = char(p.key);
            put(h, 8, p.ms);
            put(h, 12, p.claimedSize != Truthful ? p.claimedSize : quint32(p.payload.size()));
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

Loaded load(const Mf2File &file, uint64_t capacity = 1 << 20)
{
    Loaded l;
    QByteArray copy = file.bytes();
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

QByteArray frame(char fill, int n = 10) { return QByteArray(n, fill); }

// One telemetry payload: 12 bytes, then a G-sensor item of one sample.
QByteArray gsensorPayload(quint16 x, quint16 y, quint16 z)
{
    QByteArray p(12 + 32 + 20, '\0');
    put(p, 12, 3);
    put(p, 20, 1);
    put(p, 56, x, 2);
    put(p, 58, y, 2);
    put(p, 60, z, 2);
    return p;
}

} // namespace

TEST(Mf2Reader, TrackTableLimits)
{
    const struct { const char *name; void (*change)(Mf2File &); int64_t bytes; size_t videoTracks; int configSize; } cases[] = {
        {"sound", [](Mf2File &) {}, 10, 2, 4},
        {"33 tracks", [](Mf2File &f) { f.videoTracks = 33; f.audioTracks = f.dataTracks = 0; }, -1, 0, 0},
        {"table smaller than its tracks", [](Mf2File &f) { f.tableSize = 4 * 4128 - 1; }, -1, 0, 0},
        {"count beyond the table", [](Mf2File &f) { f.declaredTracks = 5; }, -1, 0, 0},
        {"video configuration over 4096 bytes", [](Mf2File &f) { f.videoConfigSize = 4097; }, 10, 2, 0},
        {"nine video tracks keep eight channels", [](Mf2File &f) { f.videoTracks = 9; }, 10, 8, 4},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        Mf2File f;
        c.change(f);
        const Loaded l = load(f);
        EXPECT_EQ(l.bytes, c.bytes);
        ASSERT_EQ(l.tracks.video.size(), c.videoTracks);
        EXPECT_EQ(c.videoTracks ? l.tracks.video[0].config.size() : 0, c.configSize);
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
    const Loaded l = load(f);
    const struct { uint16_t marker; int channel; int64_t ms; int gop; char fill; } want[] = {
        {FrameIndexEntry::Audio, 0, 0, 0, 's'},  {FrameIndexEntry::Video, 0, 100, 0, 'a'},
        {FrameIndexEntry::Video, 1, 100, 0, 'b'}, {FrameIndexEntry::Video, 0, 300, 1, 'c'},
        {FrameIndexEntry::Audio, 0, 400, 0, 't'}, {FrameIndexEntry::GSensor, 0, 500, 0, 0},
        {FrameIndexEntry::GSensor, 0, 600, 0, 0},
    };
    ASSERT_EQ(l.index.size(), std::size(want));
    for (size_t i = 0; i < l.index.size(); ++i) {
        SCOPED_TRACE(i);
        const FrameIndexEntry &e = l.index[i];
        EXPECT_EQ(std::tuple(int(e.marker), int(e.channel), e.timeMs() - 1000000000ll * 1000, int(e.gop), e.serial()),
                  std::tuple(int(want[i].marker), want[i].channel, want[i].ms, want[i].gop, uint32_t(i)));
        EXPECT_EQ(want[i].fill ? char(l.buffer.data()[e.payloadOffset]) : 0, want[i].fill);
        if (e.marker == FrameIndexEntry::Video) {
            EXPECT_EQ(int(e.res), e.channel == 0 ? 15 : 14);
        }
    }
    // The offsets are fixed by the first sample, even though one of them is 0.
    ASSERT_EQ(l.gsensor.size(), 2u);
    EXPECT_EQ(QVector<int>({l.gsensor[0].x, l.gsensor[0].y, l.gsensor[1].x, l.gsensor[1].y}),
              QVector<int>({5000, 10000, 5001, 9990}));
    EXPECT_EQ(std::pair(l.tracks.audio.sampleRate, l.tracks.audio.channels), std::pair(16000, 1));
}

TEST(Mf2Reader, DamageEndsReadingAndKeepsWhatCameBefore)
{
    const struct { const char *name; Packet bad; uint64_t capacity; } cases[] = {
        {"payload past the end of the file", {"MF2V", 0, false, 200, frame('x'), 0x7FFFFFF0}, 1 << 20},
        {"unknown magic", {"XXXX", 0, false, 200, frame('x')}, 1 << 20},
        {"payload beyond the frame buffer", {"MF2V", 0, false, 200, frame('x', 100)}, 30},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        Mf2File f;
        f.packets = {{"MF2V", 0, true, 0, frame('a')}, {"MF2V", 0, false, 100, frame('b')}, c.bad,
                     {"MF2V", 0, false, 300, frame('c')}};
        const Loaded l = load(f, c.capacity);
        EXPECT_EQ(l.bytes, 20);
        EXPECT_EQ(l.index.size(), 2u);
        for (const FrameIndexEntry &e : l.index)
            EXPECT_LE(uint64_t(e.payloadOffset) + uint64_t(e.size), l.buffer.used());
    }
}

TEST(Mf2Reader, GopPositionSaturatesAndOnlyKeyFramesAreZero)
{
    Mf2File f;
    f.packets = {{"MF2V", 0, true, 0, frame('k')}};
    for (quint32 i = 1; i <= 300; ++i)
        f.packets.append({"MF2V", 0, false, i, frame('p', 1)});
    f.packets.append({"MF2V", 0, true, 301, frame('k')});
    const Loaded l = load(f);
    ASSERT_EQ(l.index.size(), 302u);
    EXPECT_EQ(QVector<int>({l.index[255].gop, l.index[300].gop, l.index[301].gop}), QVector<int>({255, 255, 0}));
    EXPECT_TRUE(l.index[301].isKeyFrame());
}
