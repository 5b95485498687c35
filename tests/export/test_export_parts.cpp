// The parts of the video backup on their own: ADTS framing and joining,
// parameter sets and picture sizes of real encoder output, the SAMI lines,
// a channel's output clock judged by ffprobe, and the export thread's stop
// and one-export-per-catalogue rules.
#include "ChannelExporter.h"
#include "ProcessRun.h"
#include "SaveToFileThread.h"
#include "StreamConfig.h"
#include "fixture_paths.h"
#include "pavona_av_demuxer.h"

#include <QDir>
#include <QTemporaryDir>

#include <vector>

namespace {

QString media(const QString &name = {})
{
    return (binaryDir().isEmpty() ? QDir::tempPath() : binaryDir()) + "/export-media/" + name;
}

QByteArray hex(const char *text) { return QByteArray::fromHex(text); }

const uint8_t *bytes(const QByteArray &b) { return reinterpret_cast<const uint8_t *>(b.constData()); }

TEST(StreamConfig, AdtsHeadersAndTheirAudioSpecificConfig)
{
    const struct {
        const char *header;
        bool ok;
        int length, frame, rate, channels;
        const char *asc;
    } cases[] = {
        {"fff14c8002 1ffc", true, 7, 16, 48000, 2, "1190"},     // LC, 48 kHz, stereo, 16 bytes
        {"fff15c4001 3ffc", true, 7, 9, 22050, 1, "1388"},      // LC, 22.05 kHz, mono
        {"fff04c8002 1ffc 1234", true, 9, 16, 48000, 2, "1190"}, // with CRC: 9-byte header
        {"fff14c8000 bffc", false, 0, 0, 0, 0, ""},             // frame length 5: shorter than its header
        {"fff17c8002 1ffc", false, 0, 0, 0, 0, ""},             // rate index 15
        {"ffe14c8002 1ffc", false, 0, 0, 0, 0, ""},             // no sync word
        {"fff14c80", false, 0, 0, 0, 0, ""},                    // cut short
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.header);
        const QByteArray h = hex(c.header);
        StreamConfig::Adts a;
        ASSERT_EQ(StreamConfig::parseAdts(bytes(h), size_t(h.size()), &a), c.ok);
        if (!c.ok)
            continue;
        EXPECT_EQ(std::vector<int>({a.headerLength, a.frameLength, a.sampleRate, a.channels}),
                  std::vector<int>({c.length, c.frame, c.rate, c.channels}));
        EXPECT_EQ(StreamConfig::audioSpecificConfig(a).toHex(), QByteArray(c.asc));
    }
}

TEST(StreamConfig, AdtsJoinPutsHeaderAndPayloadTogetherOnlyWhenTheyFit)
{
    const QByteArray header = hex("fff14c8002 1ffc"); // frame of 16 bytes: 9 of payload
    const QByteArray payload(9, 'p'), other(5, 'o');
    StreamConfig::AdtsJoin join;
    EXPECT_TRUE(join.feed(bytes(header), header.size()).isEmpty());
    EXPECT_EQ(join.feed(bytes(payload), payload.size()), header + payload);
    // After a write the join starts afresh: a lone payload passes as it is.
    EXPECT_EQ(join.feed(bytes(payload), payload.size()), payload);
    // A payload that does not make the stated length is not glued to the header.
    EXPECT_TRUE(join.feed(bytes(header), header.size()).isEmpty());
    EXPECT_EQ(join.feed(bytes(other), other.size()), other);
    EXPECT_FALSE(join.holding());
    // A whole ADTS frame (MF2 packets) passes unchanged.
    EXPECT_EQ(join.feed(bytes(header + payload), header.size() + payload.size()), header + payload);
    // The largest frame ADTS can state fits.
    const QByteArray big = hex("fff14c83 ffff fc"), bigPayload(8191 - 7, 'b');
    EXPECT_TRUE(join.feed(bytes(big), big.size()).isEmpty());
    EXPECT_EQ(join.feed(bytes(bigPayload), bigPayload.size()).size(), 8191);
}

// Frames of a recording made by the ffmpeg tool, as the demuxer delivers them.
struct Frames {
    std::vector<QByteArray> data;
    std::vector<int> key;
};

int collect(void *opaque, const PVNA_AV_DEMUX_Packet *p)
{
    auto *f = static_cast<Frames *>(opaque);
    if (p->mediaType == PVNA_AV_MEDIA_VIDEO) {
        f->data.emplace_back(reinterpret_cast<const char *>(p->data), p->size);
        f->key.push_back(p->key);
    }
    return 0;
}

Frames framesOf(const QString &name, const QStringList &encoder)
{
    QDir().mkpath(media());
    if (QFile(media(name)).size() == 0)
        toolOutput("ffmpeg", QStringList{"-v", "error", "-y", "-f", "lavfi", "-i", "testsrc=size=318x238:rate=10", "-t", "3"}
                                 + encoder + QStringList{"-pix_fmt", "yuv420p", media(name)});
    Frames f;
    const QByteArray path = media(name).toLocal8Bit();
    PVNA_AV_DEMUX_Handle h = nullptr;
    const PVNA_AV_DEMUX_OpenParams params{path.constData(), PVNA_AV_DEMUX_FLAG_MEMORY_OUTPUT, collect, &f};
    if (PVNA_AV_DEMUX_Create(&h, "parts") == 0 && PVNA_AV_DEMUX_Open(h, &params) == 0) {
        while (PVNA_AV_DEMUX_ReadPacket(h) == 0) {
        }
        PVNA_AV_DEMUX_Destroy(h);
    }
    return f;
}

const QStringList h264{"-c:v", "libx264", "-preset", "ultrafast", "-g", "10", "-bf", "0"};
const QStringList hevc{"-c:v", "libx265", "-x265-params", "log-level=none:keyint=10:bframes=0"};

TEST(StreamConfig, ParameterSetsAndPictureSizeOfKeyFrames)
{
    for (const bool isHevc : {false, true}) {
        SCOPED_TRACE(isHevc);
        const Frames f = framesOf(isHevc ? "hevc.mp4" : "h264.mp4", isHevc ? hevc : h264);
        ASSERT_GT(f.data.size(), 10u);
        ASSERT_EQ(f.key[0], 1);
        const QByteArray sets = StreamConfig::parameterSets(bytes(f.data[0]), size_t(f.data[0].size()), isHevc);
        EXPECT_TRUE(StreamConfig::complete(sets, isHevc));
        EXPECT_FALSE(StreamConfig::complete(sets, !isHevc));
        // Cropping applied: the encoder pads 318x238 to whole blocks.
        EXPECT_EQ(StreamConfig::pictureSize(f.data[0], isHevc), QSize(318, 238));
        EXPECT_TRUE(StreamConfig::parameterSets(bytes(f.data[1]), size_t(f.data[1].size()), isHevc).isEmpty());
        EXPECT_EQ(StreamConfig::pictureSize(sets, isHevc), QSize()) << "no slice, no size";
    }
    EXPECT_TRUE(StreamConfig::parameterSets(nullptr, 0, false).isEmpty());
}

TEST(SamiSubtitles, LinesFollowTheOutputClockAndAreClearedBeforeGapsAndAtTheEnd)
{
    qputenv("TZ", "UTC");
    const qint64 t0 = 1590998400; // 2020-06-01 08:00:00 UTC
    GpsTimeline gps;
    GpsSample fix;
    fix.status = 'A';
    fix.lat = 37.5f;
    fix.lon = -127.25f;
    fix.speed = 43;
    gps.add(t0, fix);
    fix.status = 'V'; // no fix: not taken
    fix.speed = 99;
    gps.add(t0 + 1, fix);

    SamiSubtitles sami;
    sami.setItems(true, true, false);
    // Two seconds at 10 fps, then a 30 s gap in the recording (kept by the clock), one more frame.
    for (int i = 0; i < 20; ++i)
        sami.videoFrame(i * 100, t0 + i / 10);
    sami.videoFrame(31000, t0 + 31);
    EXPECT_EQ(sami.bodyLines(gps), QStringList({
                                       "<SYNC Start=0><P Class=KRCC>2020/06/01 08:00:00 43 KM<BR>",
                                       "<SYNC Start=1000><P Class=KRCC>2020/06/01 08:00:01 43 KM<BR>",
                                       "<SYNC Start=1900><P Class=KRCC>&nbsp;",
                                       // 30 s later the fix is too old to stand for the moment
                                       "<SYNC Start=31000><P Class=KRCC>2020/06/01 08:00:31 0 KM<BR>",
                                   }));

    SamiSubtitles where;
    where.setItems(false, false, true);
    where.videoFrame(0, t0 - 5);
    where.videoFrame(40, t0 - 5);
    where.videoFrame(80, t0);
    where.videoFrame(120, t0);
    EXPECT_EQ(where.bodyLines(gps), QStringList({
                                        "<SYNC Start=0><P Class=KRCC> 0.000000 0.000000<BR>",
                                        "<SYNC Start=80><P Class=KRCC> -127.250000 37.500000<BR>",
                                        "<SYNC Start=120><P Class=KRCC>&nbsp;",
                                    }));

    SamiSubtitles none;
    none.videoFrame(0, t0);
    QTemporaryDir dir;
    QString error;
    EXPECT_TRUE(none.write(dir.filePath("none.smi"), gps, &error));
    EXPECT_FALSE(QFileInfo::exists(dir.filePath("none.smi")));
    EXPECT_FALSE(sami.write(dir.filePath("missing/x.smi"), gps, &error));
    EXPECT_FALSE(error.isEmpty());
    qunsetenv("TZ");
}

TEST(ChannelExporter, OutputClockBridgesGapsAndNeverRunsBackward)
{
    const Frames f = framesOf("h264.mp4", h264);
    ASSERT_GE(f.data.size(), 30u);
    QTemporaryDir dir;
    ChannelExporter exporter(2);
    exporter.setBase(dir.filePath("clock-2"));
    ReaderMuxSettings s;
    s.width = 318;
    s.height = 238;
    s.hevc = false;
    s.framesPerSecond = 10;
    s.videoConfig = StreamConfig::parameterSets(bytes(f.data[0]), size_t(f.data[0].size()), false);
    ASSERT_TRUE(exporter.openMuxer(s));
    EXPECT_TRUE(QFileInfo::exists(dir.filePath("clock-2.mkv.part")));
    // Source times: 10 frames, a step back of 5 s, 10 frames, a gap of 4 s, 10 frames.
    std::vector<qint64> source, expected;
    for (int i = 0; i < 30; ++i)
        source.push_back(1678772725000LL + i * 100 + (i >= 10 ? -5000 : 0) + (i >= 20 ? 4000 : 0));
    qint64 clock = 0;
    for (size_t i = 0; i < source.size(); ++i) {
        if (i > 0)
            clock += source[i - 1] > source[i] ? 10 : source[i] - source[i - 1];
        expected.push_back(clock);
        FrameIndexEntry e;
        e.marker = FrameIndexEntry::Video;
        e.channel = 2;
        e.sec = uint32_t(source[i] / 1000);
        e.usec = uint32_t(source[i] % 1000) * 1000;
        ASSERT_EQ(exporter.writePacket(0, bytes(f.data[i]), f.data[i].size(), e, f.key[i]), 0);
    }
    QString reason;
    ASSERT_TRUE(exporter.closeMuxer(GpsTimeline(), &reason)) << reason.toStdString();
    EXPECT_FALSE(QFileInfo::exists(dir.filePath("clock-2.mkv.part")));
    std::vector<qint64> pts;
    for (const QByteArray &line : toolOutput("ffprobe", {"-v", "error", "-show_entries", "packet=pts", "-of", "csv=p=0",
                                                         dir.filePath("clock-2.mkv")}).split('\n'))
        if (!line.trimmed().isEmpty())
            pts.push_back(line.trimmed().toLongLong());
    EXPECT_EQ(pts, expected);
}

TEST(SaveToFileThread, StopsPromptlyLeavesNothingAndOneExportPerCatalogue)
{
    Reader reader;
    ASSERT_GT(reader.scanCard(fixtureDir() + "/record"), 0);
    reader.setMode(2);
    const FileRecord first = reader.files().first(), last = reader.files().last();
    QTemporaryDir dir;
    for (int round = 0; round < 5; ++round) {
        SCOPED_TRACE(round);
        SaveToFileThread thread(&reader);
        thread.setSaveAudio(true);
        thread.setDateTime(true);
        thread.start(dir.filePath("stop/trip"), first.start.toSecsSinceEpoch(), last.end().toSecsSinceEpoch(), {0, 1});
        // A second export on the same catalogue is refused while this one runs.
        SaveToFileThread other(&reader);
        QThread::msleep(round * 15);
        other.start(dir.filePath("other/trip"), first.start.toSecsSinceEpoch(), last.end().toSecsSinceEpoch(), {0});
        ASSERT_TRUE(other.wait(60000));
        thread.stop();
        ASSERT_TRUE(thread.wait(10000));
        for (const ChannelResult &r : thread.results())
            EXPECT_TRUE(r.status == ChannelResult::Status::Stopped || r.status == ChannelResult::Status::Written);
        const QVector<ChannelResult> refused = other.results();
        if (thread.results().first().status == ChannelResult::Status::Stopped) {
            ASSERT_EQ(refused.size(), 1);
            EXPECT_EQ(refused[0].reason, "another export of this catalogue is running");
            EXPECT_TRUE(QDir(dir.filePath("stop")).entryList(QDir::Files).isEmpty());
        }
        QDir(dir.filePath("stop")).removeRecursively();
    }
    // Once the catalogue is free again an export runs to the end.
    SaveToFileThread again(&reader);
    again.start(dir.filePath("again/trip"), first.start.toSecsSinceEpoch(), first.end().toSecsSinceEpoch(), {1});
    ASSERT_TRUE(again.wait(60000));
    EXPECT_TRUE(again.succeeded());
    EXPECT_EQ(QDir(dir.filePath("again")).entryList(QDir::Files), QStringList({"trip-1.mkv"}));
}

} // namespace
