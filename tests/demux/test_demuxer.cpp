// The MP4 demuxer judged against ffmpeg and ffprobe on small recordings
// generated with the ffmpeg tool.
#include "ProcessRun.h"
#include "fixture_paths.h"
#include "pavona_av_demuxer.h"

#include <QDir>
#include <memory>
#include <tuple>
#include <vector>

namespace {

struct Delivered {
    int stream, track, media, key;
    int64_t timeMs;
    QByteArray bytes;
    bool operator==(const Delivered &o) const { return std::tie(stream, track, media, key, timeMs, bytes) == std::tie(o.stream, o.track, o.media, o.key, o.timeMs, o.bytes); }
};
using Packets = std::vector<Delivered>;

int collect(void *opaque, const PVNA_AV_DEMUX_Packet *p)
{
    static_cast<Packets *>(opaque)->push_back(
        {p->streamIndex, p->trackIndex, p->mediaType, p->key, p->timeMs, QByteArray(reinterpret_cast<const char *>(p->data), p->size)});
    return 0;
}

// Creates a handle and opens path on it; a failed open releases the handle.
int open(PVNA_AV_DEMUX_Handle &h, const QString &path, Packets &sink, int flags = PVNA_AV_DEMUX_FLAG_MEMORY_OUTPUT)
{
    const QByteArray p = path.toLocal8Bit();
    const PVNA_AV_DEMUX_OpenParams params{p.constData(), flags, collect, &sink};
    return PVNA_AV_DEMUX_Create(&h, "test") != 0 ? -2 : PVNA_AV_DEMUX_Open(h, &params);
}

// Reads to the end or a failure (bounded, so a demuxer that never ends fails the test).
int readToEnd(PVNA_AV_DEMUX_Handle h, int &unsupported)
{
    for (int i = 0, r; i < 100000; ++i)
        if ((r = PVNA_AV_DEMUX_ReadPacket(h)) == PVNA_AV_DEMUX_UNSUPPORTED)
            ++unsupported;
        else if (r != 0)
            return r;
    return 0;
}

struct Demuxed {
    int openResult = -1, unsupported = 0, lastResult = 0, endsAgain = 0, destroyResult = -1;
    std::unique_ptr<PVNA_AV_DEMUX_StreamInfo> info = std::make_unique<PVNA_AV_DEMUX_StreamInfo>();
    Packets packets, again; // again: read after a seek back to the start

    // The packets of one track, and their bytes joined.
    std::pair<std::vector<const Delivered *>, QByteArray> of(int media, int track) const
    {
        std::pair<std::vector<const Delivered *>, QByteArray> list;
        for (const Delivered &d : packets)
            if (d.media == media && d.track == track) {
                list.first.push_back(&d);
                list.second += d.bytes;
            }
        return list;
    }
};

// Opens path and reads it to the end; then three reads past the end, a seek
// to the start and a second reading.
Demuxed demuxAll(const QString &path)
{
    Demuxed d;
    PVNA_AV_DEMUX_Handle h = nullptr;
    if ((d.openResult = open(h, path, d.packets)) != 0)
        return d;
    PVNA_AV_DEMUX_GetStreamInfo(h, d.info.get());
    if ((d.lastResult = readToEnd(h, d.unsupported)) == PVNA_AV_DEMUX_END) {
        const size_t n = d.packets.size();
        for (int i = 0; i < 3; ++i)
            d.endsAgain += PVNA_AV_DEMUX_ReadPacket(h) == PVNA_AV_DEMUX_END && d.packets.size() == n;
        int unsupported = 0;
        if (PVNA_AV_DEMUX_Seek(h, 0) >= 0 && readToEnd(h, unsupported) == PVNA_AV_DEMUX_END)
            d.again.assign(d.packets.begin() + long(n), d.packets.end());
        d.packets.resize(n);
    }
    d.destroyResult = PVNA_AV_DEMUX_Destroy(h);
    return d;
}

// The NAL unit types after each start code.
std::vector<int> nalTypes(const QByteArray &annexB, bool hevc)
{
    std::vector<int> types;
    const QByteArray startCode("\0\0\1", 3);
    for (int at = annexB.indexOf(startCode); at >= 0 && at + 3 < annexB.size(); at = annexB.indexOf(startCode, at + 3))
        types.push_back(hevc ? (uint8_t(annexB[at + 3]) >> 1) & 0x3F : annexB[at + 3] & 0x1F);
    return types;
}

QString media(const QString &name = {}) { return (binaryDir().isEmpty() ? QDir::tempPath() : binaryDir()) + "/demux-media/" + name; }

int ffprobeCount(const QString &file, const QString &stream)
{
    return toolOutput("ffprobe", {"-v", "error", "-select_streams", stream, "-count_packets", "-show_entries",
                                  "stream=nb_read_packets", "-of", "csv=p=0", media(file)}).trimmed().toInt();
}

// Small recordings, made once per build tree.
class Demuxer : public testing::Test {
protected:
    static void SetUpTestSuite()
    {
        QDir().mkpath(media());
        const QStringList tone{"-f", "lavfi", "-i", "sine=frequency=440:sample_rate=48000"};
        make("hevc2.mp4", QStringList{"-f", "lavfi", "-i", "testsrc=size=320x240:rate=25", "-f", "lavfi", "-i", "testsrc2=size=320x240:rate=25"}
                              + tone + QStringList{"-t", "2", "-map", "0", "-map", "1", "-map", "2", "-c:v", "libx265", "-x265-params",
                                                   "log-level=none:keyint=12", "-pix_fmt", "yuv420p", "-c:a", "aac", "-b:a", "64k"});
        make("h264.mp4", {"-f", "lavfi", "-i", "testsrc=size=320x240:rate=30", "-f", "lavfi", "-i", "sine=frequency=660:sample_rate=44100", "-t",
                          "2", "-map", "0", "-map", "1", "-c:v", "libx264", "-g", "15", "-bf", "2", "-pix_fmt", "yuv420p", "-c:a", "aac", "-ac", "1"});
        QStringList nine{"-t", "1", "-c:v", "libx264", "-g", "5", "-pix_fmt", "yuv420p"};
        for (int i = 0; i < 9; ++i)
            nine = QStringList{"-f", "lavfi", "-i", "testsrc=size=64x64:rate=10"} + nine + QStringList{"-map", QString::number(i)};
        make("nine.mp4", nine);
        make("faststart.mp4", {"-i", media("hevc2.mp4"), "-map", "0", "-c", "copy", "-movflags", "+faststart"});
        writeFile(media("empty.mp4"), {});
        writeFile(media("text.mp4"), QByteArray("This is a note about a trip, not a recording.\n").repeated(50));
        const QByteArray whole = readFile(media("hevc2.mp4")), fast = readFile(media("faststart.mp4"));
        writeFile(media("truncated.mp4"), whole.left(whole.size() / 2));
        writeFile(media("truncated-faststart.mp4"), fast.left(fast.size() * 3 / 5));
    }
    static void make(const QString &name, const QStringList &args)
    {
        if (QFile(media(name)).size() == 0)
            toolOutput("ffmpeg", QStringList{"-v", "error", "-y"} + args + QStringList{media(name)});
    }
};

TEST_F(Demuxer, VideoIsFfmpegsAnnexBStreamByteForByte)
{
    const struct { const char *file; int codec, streams, width, height, rate; } cases[] = {
        {"hevc2.mp4", PVNA_AV_CODEC_HEVC, 2, 320, 240, 25},
        {"h264.mp4", PVNA_AV_CODEC_H264, 1, 320, 240, 30},
        {"nine.mp4", PVNA_AV_CODEC_H264, 8, 64, 64, 10}, // the ninth stream is neither described nor delivered
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.file);
        const bool hevc = c.codec == PVNA_AV_CODEC_HEVC;
        const Demuxed d = demuxAll(media(c.file));
        ASSERT_EQ(d.openResult, 0);
        EXPECT_EQ(std::vector<int>({d.lastResult, d.endsAgain, d.destroyResult}), std::vector<int>({PVNA_AV_DEMUX_END, 3, 0}));
        EXPECT_TRUE(d.again == d.packets) << "a seek to the start reads the same stream again";
        ASSERT_EQ(d.info->videoCount, c.streams);
        EXPECT_EQ(d.unsupported, c.streams == 8 ? ffprobeCount(c.file, "v:8") : 0);
        for (const Delivered &p : d.packets)
            EXPECT_TRUE(p.stream < 8 && (p.media != PVNA_AV_MEDIA_VIDEO || p.track == p.stream)) << p.stream;
        for (int n = 0; n < c.streams; ++n) {
            SCOPED_TRACE(n);
            const PVNA_AV_DEMUX_VideoInfo &v = d.info->video[n];
            EXPECT_EQ(std::vector<int>({v.codec, v.streamIndex, v.width, v.height, v.frameRate, v.format}),
                      std::vector<int>({c.codec, n, c.width, c.height, c.rate, PVNA_AV_FORMAT_YUV420P}));
            EXPECT_GT(v.extradataSize, 0);
            const auto [frames, joined] = d.of(PVNA_AV_MEDIA_VIDEO, n);
            ASSERT_FALSE(frames.empty());
            EXPECT_EQ(joined,
                      toolOutput("ffmpeg", {"-v", "error", "-i", media(c.file), "-map", QString("0:v:%1").arg(n), "-c", "copy", "-bsf:v",
                                            hevc ? "hevc_mp4toannexb" : "h264_mp4toannexb", "-f", hevc ? "hevc" : "h264", "-"}));
            EXPECT_EQ(int(frames.size()), ffprobeCount(c.file, QString("v:%1").arg(n)));

            // The filter puts the parameter sets into every key frame, after
            // any SEI and right before the first slice; the track
            // configuration is exactly those bytes. Other frames lack them.
            const int sei = hevc ? 39 : 6;
            const QByteArray config(reinterpret_cast<const char *>(v.config), std::max(v.configSize, 0));
            std::vector<int> configTypes = nalTypes(config, hevc);
            while (!configTypes.empty() && configTypes.back() == sei)
                configTypes.pop_back();
            ASSERT_EQ(configTypes, hevc ? std::vector<int>({32, 33, 34}) : std::vector<int>({7, 8}));
            EXPECT_EQ(frames.front()->key, 1);
            for (const Delivered *f : frames) {
                const int at = f->bytes.indexOf(config);
                EXPECT_EQ(at >= 0, f->key == 1) << f->timeMs;
                if (at < 0)
                    continue;
                for (int type : nalTypes(f->bytes.left(at), hevc))
                    EXPECT_EQ(type, sei);
                const std::vector<int> after = nalTypes(f->bytes.mid(at + config.size()), hevc);
                ASSERT_FALSE(after.empty());
                EXPECT_TRUE(hevc ? (after[0] >= 16 && after[0] <= 23) : after[0] == 5) << after[0];
            }
        }
    }
}

TEST_F(Demuxer, AacBecomesAdtsHeaderAndPayloadThatFfmpegDecodes)
{
    for (const auto &c : {std::make_pair("hevc2.mp4", 48000), std::make_pair("h264.mp4", 44100)}) {
        SCOPED_TRACE(c.first);
        const Demuxed d = demuxAll(media(c.first));
        ASSERT_EQ(d.openResult, 0);
        ASSERT_EQ(d.info->audioCount, 1);
        const PVNA_AV_DEMUX_AudioInfo &a = d.info->audio[0];
        EXPECT_EQ(std::vector<int>({a.codec, a.sampleRate, a.channels}), std::vector<int>({PVNA_AV_CODEC_AAC, c.second, 1}));
        EXPECT_GE(a.extradataSize, 2);

        // Header and payload alternate, both at the packet's time on the
        // sample clock; every packet with a time not below zero is there.
        const auto [audio, adts] = d.of(PVNA_AV_MEDIA_AUDIO, 0);
        ASSERT_EQ(audio.size() % 2, 0u);
        std::vector<int64_t> times, expected;
        for (size_t i = 0; i < audio.size(); i += 2) {
            ASSERT_EQ(audio[i]->bytes.size(), 7);
            EXPECT_EQ(audio[i]->timeMs, audio[i + 1]->timeMs);
            times.push_back(audio[i]->timeMs);
        }
        for (const QByteArray &line : toolOutput("ffprobe", {"-v", "error", "-select_streams", "a:0", "-show_entries", "packet=pts",
                                                             "-of", "csv=p=0", media(c.first)}).split('\n'))
            if (bool number; line.trimmed().toLongLong(&number) >= 0 && number)
                expected.push_back(line.trimmed().toLongLong() * 1000 / c.second);
        EXPECT_EQ(times, expected);

        EXPECT_EQ(toolOutput("ffprobe", {"-v", "error", "-f", "aac", "-count_packets", "-show_entries",
                                         "stream=nb_read_packets,sample_rate,channels", "-of", "csv=p=0", "pipe:0"}, adts).trimmed(),
                  QString("%1,1,%2").arg(c.second).arg(times.size()).toUtf8());
        const ProcessRun decode = runProcess("ffmpeg", {"-v", "error", "-xerror", "-f", "aac", "-i", "pipe:0", "-f", "null", "-"}, adts);
        EXPECT_EQ(decode.exitCode, 0);
        EXPECT_TRUE(decode.err.isEmpty()) << decode.err.constData();
    }
}

TEST_F(Demuxer, BadFilesFailOpenAndReleaseTheirHandles)
{
    for (const QString &path : {media("missing.mp4"), media("empty.mp4"), media("text.mp4"), media("truncated.mp4"), media(),
                                "concat:" + media("h264.mp4")})
        EXPECT_TRUE(demuxAll(path).openResult == -1 && demuxAll(path).packets.empty()) << path.toStdString();
    // Only memory output is offered: an open asking for file output fails and releases.
    PVNA_AV_DEMUX_Handle h = nullptr;
    Packets sink;
    EXPECT_EQ(open(h, media("h264.mp4"), sink, 0), -1);
    EXPECT_EQ(PVNA_AV_DEMUX_Destroy(h), -1);

    // So all slots are free: the registry holds 32 handles, refuses the 33rd and unknown ones.
    std::vector<PVNA_AV_DEMUX_Handle> handles(PVNA_AV_DEMUX_MAX_HANDLES);
    for (auto &slot : handles)
        ASSERT_EQ(PVNA_AV_DEMUX_Create(&slot, "slot"), 0);
    PVNA_AV_DEMUX_Handle extra = nullptr;
    EXPECT_EQ(PVNA_AV_DEMUX_Create(&extra, "one too many"), -1);
    EXPECT_EQ(extra, nullptr);
    EXPECT_EQ(PVNA_AV_DEMUX_Destroy(handles[5]), 0);
    EXPECT_EQ(PVNA_AV_DEMUX_Destroy(handles[5]), -1);
    EXPECT_EQ(PVNA_AV_DEMUX_ReadPacket(handles[5]), -1);
    ASSERT_EQ(PVNA_AV_DEMUX_Create(&handles[5], "again"), 0);
    EXPECT_EQ(PVNA_AV_DEMUX_ReadPacket(handles[5]), -1); // created, not open
    for (auto slot : handles)
        EXPECT_EQ(PVNA_AV_DEMUX_Destroy(slot), 0);
}

TEST_F(Demuxer, TruncatedRecordingEndsCleanlyWithWhatItHolds)
{
    const Demuxed whole = demuxAll(media("faststart.mp4")), cut = demuxAll(media("truncated-faststart.mp4"));
    ASSERT_EQ(whole.openResult, 0);
    ASSERT_EQ(cut.openResult, 0);
    EXPECT_EQ(cut.lastResult, PVNA_AV_DEMUX_END);
    const auto all = whole.of(PVNA_AV_MEDIA_VIDEO, 0).first, part = cut.of(PVNA_AV_MEDIA_VIDEO, 0).first;
    ASSERT_FALSE(part.empty());
    EXPECT_LT(part.size(), all.size());
    // The start of the whole stream byte for byte, but for the last packet,
    // which the file's end may cut short.
    for (size_t i = 0; i + 1 < part.size(); ++i)
        EXPECT_EQ(part[i]->bytes, all[i]->bytes) << i;
}

} // namespace
