// The muxer library judged by ffprobe, ffmpeg and mkvmerge: recordings made
// with the ffmpeg tool are split into packets by the demuxer and written
// again through the muxer's handles.
#include "ProcessRun.h"
#include "fixture_paths.h"
#include "pavona_av_demuxer.h"
#include "pavona_av_muxer.h"

extern "C" {
#include <libavformat/avio.h>
#include <libavutil/error.h>
}

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <atomic>
#include <cmath>
#include <cstdio>
#include <memory>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

QString media(const QString &name = {})
{
    return (binaryDir().isEmpty() ? QDir::tempPath() : binaryDir()) + "/mux-media/" + name;
}

struct Packet {
    int media, key;
    int64_t timeMs;
    QByteArray bytes;
};

struct Source {
    std::unique_ptr<PVNA_AV_DEMUX_StreamInfo> info = std::make_unique<PVNA_AV_DEMUX_StreamInfo>();
    std::vector<Packet> packets;
    int64_t videoSpanMs() const
    {
        int64_t first = -1, last = -1;
        for (const Packet &p : packets)
            if (p.media == PVNA_AV_MEDIA_VIDEO) {
                first = first < 0 ? p.timeMs : first;
                last = p.timeMs;
            }
        return last - first;
    }
    int64_t lastVideoMs() const
    {
        int64_t last = -1;
        for (const Packet &p : packets)
            if (p.media == PVNA_AV_MEDIA_VIDEO)
                last = p.timeMs;
        return last;
    }
    int videoFrames() const
    {
        int n = 0;
        for (const Packet &p : packets)
            n += p.media == PVNA_AV_MEDIA_VIDEO;
        return n;
    }
};

int collect(void *opaque, const PVNA_AV_DEMUX_Packet *p)
{
    static_cast<std::vector<Packet> *>(opaque)->push_back(
        {p->mediaType, p->key, p->timeMs, QByteArray(reinterpret_cast<const char *>(p->data), p->size)});
    return 0;
}

// Video as Annex-B frames, AAC as one ADTS frame per packet.
Source demux(const QString &name)
{
    Source s;
    std::vector<Packet> raw;
    const QByteArray path = media(name).toLocal8Bit();
    PVNA_AV_DEMUX_Handle h = nullptr;
    const PVNA_AV_DEMUX_OpenParams params{path.constData(), PVNA_AV_DEMUX_FLAG_MEMORY_OUTPUT, collect, &raw};
    if (PVNA_AV_DEMUX_Create(&h, "mux-test") != 0 || PVNA_AV_DEMUX_Open(h, &params) != 0)
        return s;
    PVNA_AV_DEMUX_GetStreamInfo(h, s.info.get());
    while (PVNA_AV_DEMUX_ReadPacket(h) == 0) {
    }
    PVNA_AV_DEMUX_Destroy(h);
    for (size_t i = 0; i < raw.size(); ++i) {
        if (raw[i].media == PVNA_AV_MEDIA_AUDIO && raw[i].bytes.size() == 7 && i + 1 < raw.size()) {
            raw[i].bytes += raw[i + 1].bytes;
            s.packets.push_back(raw[i++]);
        } else if (raw[i].media != PVNA_AV_MEDIA_DATA) {
            s.packets.push_back(raw[i]);
        }
    }
    return s;
}

QJsonObject probe(const QString &file)
{
    return QJsonDocument::fromJson(toolOutput("ffprobe", {"-v", "error", "-count_packets", "-show_streams", "-show_format",
                                                          "-show_chapters", "-of", "json", file}))
        .object();
}

QJsonObject mkvmerge(const QString &file)
{
    return QJsonDocument::fromJson(toolOutput("mkvmerge", {"-J", file})).object();
}

QJsonObject streamOf(const QJsonObject &probed, const QString &type)
{
    for (const QJsonValue &v : probed["streams"].toArray())
        if (v["codec_type"].toString() == type)
            return v.toObject();
    return {};
}

// Everything stderr receives while the scope lives.
class StderrCapture {
public:
    StderrCapture() : file_(tmpfile()), saved_(dup(2))
    {
        fflush(stderr);
        dup2(fileno(file_), 2);
    }
    ~StderrCapture()
    {
        restore();
        fclose(file_);
    }
    QByteArray text()
    {
        restore();
        rewind(file_);
        QByteArray all;
        char buf[4096];
        for (size_t n; (n = fread(buf, 1, sizeof buf, file_)) > 0;)
            all.append(buf, int(n));
        return all;
    }

private:
    void restore()
    {
        if (saved_ < 0)
            return;
        fflush(stderr);
        dup2(saved_, 2);
        close(saved_);
        saved_ = -1;
    }
    FILE *file_;
    int saved_;
};

struct Output {
    int kind = PVNA_AV_MUX_FILE_MKV;
    uint32_t videoCodec = PVNA_AV_MUX_VIDEO_H264;
    uint32_t width = 0; // 0: the source's
    uint32_t audioCodec = PVNA_AV_MUX_AUDIO_AAC;
    uint32_t packaging = PVNA_AV_MUX_PACKAGING_ADTS;
    bool audio = true;
    bool subtitle = false;
    bool attach = false;
    const char *title = "";
    const char *tool = "";
};

struct Written {
    int open = -1, create = -1, finalize = -1, close = -1, failedWrites = 0, attachWrites = 0;
    int64_t chapterPts = -1;
    QString path;
};

std::unique_ptr<PVNA_AV_MUX_CREATE_PARAM> params(const QString &base, const Output &o, const Source &src,
                                                 PVNA_AV_MUX_VIDEO_INFO &v, PVNA_AV_MUX_AUDIO_INFO &a,
                                                 PVNA_AV_MUX_SUBT_INFO &s, PVNA_AV_MUX_ATTACH_INFO &t)
{
    auto p = std::make_unique<PVNA_AV_MUX_CREATE_PARAM>();
    p->transport = PVNA_AV_MUX_TRANSPORT_FILE;
    p->kind = o.kind;
    snprintf(p->destination.path, sizeof p->destination.path, "%s", base.toLocal8Bit().constData());
    const PVNA_AV_DEMUX_VideoInfo &sv = src.info->video[0];
    v.codec = o.videoCodec;
    v.pixelFormat = PVNA_AV_MUX_PIX_YUV420P;
    v.frameRate = uint32_t(sv.frameRate);
    v.width = o.width ? o.width : uint32_t(sv.width);
    v.height = uint32_t(sv.height);
    memcpy(v.config, sv.config, size_t(sv.configSize));
    v.configSize = uint32_t(sv.configSize);
    p->videoCount = 1;
    p->video = &v;
    if (o.audio) {
        a.codec = o.audioCodec;
        a.sampleRate = uint32_t(src.info->audio[0].sampleRate);
        a.channels = 1;
        a.packaging = o.packaging;
        memcpy(a.config, src.info->audio[0].extradata, size_t(src.info->audio[0].extradataSize));
        a.configSize = uint32_t(src.info->audio[0].extradataSize);
        p->audioCount = 1;
        p->audio = &a;
    }
    s = {1, 0, 0, v.width, 40, 0};
    if (o.subtitle) {
        p->subtCount = 1;
        p->subt = &s;
    }
    static const uint8_t gps[] = "$GPRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W\n";
    t = {1, 0, gps, sizeof gps - 1};
    if (o.attach) {
        p->attachCount = 1;
        p->attach = &t;
    }
    snprintf(p->title, sizeof p->title, "%s", o.title);
    snprintf(p->encodingTool, sizeof p->encodingTool, "%s", o.tool);
    return p;
}

// Writes the source's packets; PCM is a tone made here, one packet per video frame.
Written mux(const QString &base, const Output &o, const Source &src, int64_t chapterFrom = -1)
{
    Written w;
    PVNA_AV_MUX_HANDLE *h = nullptr;
    PVNA_AV_MUX_VIDEO_INFO v{};
    PVNA_AV_MUX_AUDIO_INFO a{};
    PVNA_AV_MUX_SUBT_INFO s{};
    PVNA_AV_MUX_ATTACH_INFO t{};
    auto p = params(base, o, src, v, a, s, t);
    w.path = base + (o.kind == PVNA_AV_MUX_FILE_MP4 ? ".mp4" : ".mkv");
    QFile::remove(w.path);
    if ((w.open = PVNA_AV_MUX_Open(&h, "test")) != 0)
        return w;
    if ((w.create = PVNA_AV_MUX_Create(h, p.get())) == 0) {
        for (const Packet &pk : src.packets) {
            const auto *data = reinterpret_cast<const uint8_t *>(pk.bytes.constData());
            int rc = 0;
            if (pk.media == PVNA_AV_MEDIA_VIDEO) {
                rc = PVNA_AV_MUX_WriteVideo(h, 0, pk.timeMs, 0, data, pk.bytes.size(), pk.key);
                if (o.audio && o.audioCodec == PVNA_AV_MUX_AUDIO_PCM) {
                    std::vector<int16_t> tone(size_t(a.sampleRate / std::max(v.frameRate, 1u)));
                    for (size_t i = 0; i < tone.size(); ++i)
                        tone[i] = int16_t(8000 * std::sin(double(i) * 0.3));
                    rc |= PVNA_AV_MUX_WriteAudio(h, 0, pk.timeMs, 0, reinterpret_cast<const uint8_t *>(tone.data()),
                                                 int(tone.size() * 2), 1);
                }
                // Matroska keeps its attachment in the header: packets are refused there.
                if (o.attach && pk.timeMs % 1000 == 0)
                    w.attachWrites += PVNA_AV_MUX_WriteAttach(h, 0, pk.timeMs, 0, t.data, int(t.dataSize), 0, 1) == 0;
                if (o.subtitle && pk.timeMs % 1000 == 0) {
                    const QByteArray line = QByteArray::number(qlonglong(pk.timeMs)) + " ms\nsecond line";
                    rc |= PVNA_AV_MUX_WriteSubtitle(h, 0, pk.timeMs, 900, reinterpret_cast<const uint8_t *>(line.data()),
                                                    line.size(), 0, 1);
                }
            } else if (pk.media == PVNA_AV_MEDIA_AUDIO && o.audio && o.audioCodec == PVNA_AV_MUX_AUDIO_AAC) {
                // Without ADTS packaging the frames go in raw.
                const int skip = o.packaging == PVNA_AV_MUX_PACKAGING_ADTS ? 0 : 7;
                rc = PVNA_AV_MUX_WriteAudio(h, 0, pk.timeMs, 0, data + skip, pk.bytes.size() - skip, 0);
            }
            w.failedWrites += rc != 0;
        }
        if (chapterFrom >= 0)
            PVNA_AV_MUX_AddChapter(h, chapterFrom, chapterFrom + 1500, "Hard stop");
        w.chapterPts = PVNA_AV_MUX_GetChapterPts(h);
    }
    w.finalize = PVNA_AV_MUX_Finalize(h);
    w.close = PVNA_AV_MUX_Close(&h);
    EXPECT_EQ(h, nullptr);
    return w;
}

class Muxer : public testing::Test {
protected:
    static void SetUpTestSuite()
    {
        QDir().mkpath(media());
        const QStringList tone{"-f", "lavfi", "-i", "sine=frequency=440:sample_rate=16000"};
        make("h264.mp4", QStringList{"-f", "lavfi", "-i", "testsrc=size=1280x720:rate=10"} + tone +
                             QStringList{"-t", "3", "-map", "0", "-map", "1", "-c:v", "libx264", "-preset", "ultrafast",
                                         "-g", "10", "-bf", "0", "-pix_fmt", "yuv420p", "-c:a", "aac", "-ac", "1"});
        make("hevc.mp4", QStringList{"-f", "lavfi", "-i", "testsrc=size=320x240:rate=15"} + tone +
                             QStringList{"-t", "3", "-map", "0", "-map", "1", "-c:v", "libx265", "-x265-params",
                                         "log-level=none:keyint=15:bframes=0", "-pix_fmt", "yuv420p", "-c:a", "aac",
                                         "-ac", "1"});
    }
    static void make(const QString &name, const QStringList &args)
    {
        if (QFile(media(name)).size() == 0)
            toolOutput("ffmpeg", QStringList{"-v", "error", "-y"} + args + QStringList{media(name)});
    }
};

TEST_F(Muxer, FilesCarryTheStreamsAsDescribedAndDecodeCleanly)
{
    const Source h264 = demux("h264.mp4"), hevc = demux("hevc.mp4");
    ASSERT_GT(h264.videoFrames(), 0);
    ASSERT_GT(hevc.videoFrames(), 0);
    const struct Case {
        const char *name;
        const Source &src;
        Output out;
        const char *video, *audio;
        int width, height;
    } cases[] = {
        {"h264-aac", h264, {PVNA_AV_MUX_FILE_MKV, PVNA_AV_MUX_VIDEO_H264, 1279}, "h264", "aac", 1280, 720},
        {"hevc-aac", hevc, {PVNA_AV_MUX_FILE_MP4, PVNA_AV_MUX_VIDEO_HEVC}, "hevc", "aac", 320, 240},
        {"hevc-pcm", hevc, {PVNA_AV_MUX_FILE_MKV, PVNA_AV_MUX_VIDEO_HEVC, 0, PVNA_AV_MUX_AUDIO_PCM, 0}, "hevc", "pcm_s16le", 320, 240},
        {"h264-aac-raw", h264, {PVNA_AV_MUX_FILE_MKV, PVNA_AV_MUX_VIDEO_H264, 0, PVNA_AV_MUX_AUDIO_AAC, 0}, "h264", "aac", 1280, 720},
        {"h264-mute", h264, {PVNA_AV_MUX_FILE_MP4, PVNA_AV_MUX_VIDEO_H264, 0, 0, 0, false}, "h264", nullptr, 1280, 720},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const Written w = mux(media(c.name), c.out, c.src, 1000);
        EXPECT_EQ(std::vector<int>({w.open, w.create, w.failedWrites, w.finalize, w.close}),
                  std::vector<int>({0, 0, 0, 0, 0}));
        const QJsonObject probed = probe(w.path);
        const QJsonObject video = streamOf(probed, "video");
        EXPECT_EQ(video["codec_name"].toString(), c.video);
        EXPECT_EQ(video["width"].toInt(), c.width);
        EXPECT_EQ(video["height"].toInt(), c.height);
        EXPECT_EQ(video["nb_read_packets"].toString().toInt(), c.src.videoFrames());
        const QJsonObject audio = streamOf(probed, "audio");
        if (c.audio) {
            EXPECT_EQ(audio["codec_name"].toString(), c.audio);
            EXPECT_EQ(audio["sample_rate"].toString().toInt(), 16000);
            EXPECT_GT(audio["nb_read_packets"].toString().toInt(), 20);
        } else {
            EXPECT_TRUE(audio.isEmpty());
        }
        const ProcessRun decode = runProcess("ffmpeg", {"-v", "error", "-i", w.path, "-map", c.audio ? "0" : "0:v", "-f", "null", "-"});
        EXPECT_EQ(decode.exitCode, 0);
        EXPECT_TRUE(decode.err.isEmpty()) << decode.err.constData();
        // Chapters are kept in units of 1/30 s: 1000 ms .. 2500 ms is 30 .. 75.
        const QJsonArray chapters = probed["chapters"].toArray();
        ASSERT_EQ(chapters.size(), 1);
        const double start = chapters[0]["start_time"].toString().toDouble(), end = chapters[0]["end_time"].toString().toDouble();
        // MP4 chapter tracks begin at zero: only Matroska keeps the start.
        EXPECT_EQ(c.out.kind == PVNA_AV_MUX_FILE_MKV ? std::make_pair(start, end) : std::make_pair(1.0, 1.0 + end - start),
                  std::make_pair(1.0, 2.5));
        EXPECT_EQ(chapters[0]["tags"]["title"].toString(), "Hard stop");
        EXPECT_EQ(w.chapterPts, c.src.videoSpanMs());
    }
    // The AAC of an ADTS stream keeps its configuration through the filter.
    const QJsonObject mkv = mkvmerge(media("h264-aac.mkv"));
    for (const QJsonValue &track : mkv["tracks"].toArray()) {
        const QJsonObject props = track["properties"].toObject();
        if (track["type"].toString() == "video") {
            EXPECT_EQ(props["pixel_dimensions"].toString(), "1280x720");
            EXPECT_EQ(props["codec_id"].toString(), "V_MPEG4/ISO/AVC");
            EXPECT_FALSE(props["codec_private_data"].toString().isEmpty());
        } else {
            EXPECT_EQ(props["codec_id"].toString(), "A_AAC");
            EXPECT_EQ(props["audio_sampling_frequency"].toInt(), 16000);
        }
    }
}

TEST_F(Muxer, MetadataDefaultsAndGivenTexts)
{
    const Source src = demux("hevc.mp4");
    const struct {
        int kind;
        const char *title, *tool, *expectTitle, *expectTool;
    } cases[] = {
        {PVNA_AV_MUX_FILE_MKV, "", "", "Unknown", "TAL_REC"},
        {PVNA_AV_MUX_FILE_MKV, "Trip", "zv", "Trip", "zv"},
        {PVNA_AV_MUX_FILE_MP4, "", "", "Unknown", "TAL_REC"},
    };
    for (const auto &c : cases) {
        Output o;
        o.kind = c.kind;
        o.videoCodec = PVNA_AV_MUX_VIDEO_HEVC;
        o.title = c.title;
        o.tool = c.tool;
        const Written w = mux(media(QString("meta-%1-%2").arg(c.kind).arg(c.title)), o, src);
        ASSERT_EQ(w.finalize, 0);
        const QJsonObject tags = probe(w.path)["format"].toObject()["tags"].toObject();
        EXPECT_EQ(tags["title"].toString(), c.expectTitle);
        const QString tool = c.kind == PVNA_AV_MUX_FILE_MKV
                                 ? mkvmerge(w.path)["container"].toObject()["properties"].toObject()["writing_application"].toString()
                                 : tags["encoder"].toString();
        EXPECT_EQ(tool, c.expectTool);
        EXPECT_FALSE(tags.value("creation_time").toString().isEmpty());
    }
}

TEST_F(Muxer, SubtitleAndAttachmentStreams)
{
    const Source src = demux("hevc.mp4");
    for (int kind : {PVNA_AV_MUX_FILE_MKV, PVNA_AV_MUX_FILE_MP4}) {
        SCOPED_TRACE(kind);
        Output o;
        o.kind = kind;
        o.videoCodec = PVNA_AV_MUX_VIDEO_HEVC;
        o.subtitle = o.attach = true;
        const Written w = mux(media(QString("extras-%1").arg(kind)), o, src);
        ASSERT_EQ(std::vector<int>({w.create, w.failedWrites, w.finalize}), std::vector<int>({0, 0, 0}));
        const QJsonObject probed = probe(w.path);
        const QJsonObject sub = streamOf(probed, "subtitle");
        EXPECT_EQ(sub["codec_name"].toString(), kind == PVNA_AV_MUX_FILE_MKV ? "subrip" : "mov_text");
        EXPECT_EQ(sub["tags"]["language"].toString(), "kor");
        if (kind == PVNA_AV_MUX_FILE_MKV) {
            EXPECT_EQ(sub["nb_read_packets"].toString().toInt(), 3); // MP4 adds empty samples between them
        }
        const QByteArray text = toolOutput("ffmpeg", {"-v", "error", "-i", w.path, "-map", "0:s", "-f", "srt", "-"});
        EXPECT_TRUE(text.contains("1000 ms") && text.contains("second line")) << text.constData();
        EXPECT_TRUE(text.contains("00:00:01,000 --> 00:00:01,900")) << text.constData();
        if (kind == PVNA_AV_MUX_FILE_MKV) {
            const QJsonArray attachments = mkvmerge(w.path)["attachments"].toArray();
            ASSERT_EQ(attachments.size(), 1);
            EXPECT_EQ(attachments[0]["file_name"].toString(), "GPS");
            EXPECT_EQ(attachments[0]["size"].toInt(), 66);
            EXPECT_EQ(w.attachWrites, 0);
        } else {
            EXPECT_EQ(streamOf(probed, "data")["codec_tag_string"].toString(), "gpmd");
            EXPECT_EQ(w.attachWrites, 3);
        }
    }
}

TEST_F(Muxer, VideoBeforeTheFirstKeyFrameIsDropped)
{
    Source src = demux("h264.mp4");
    ASSERT_EQ(src.packets.front().key, 1);
    // Three frames of a later GOP put in front: they are not written.
    std::vector<Packet> lead;
    for (const Packet &p : src.packets)
        if (p.media == PVNA_AV_MEDIA_VIDEO && !p.key && lead.size() < 3)
            lead.push_back({p.media, 0, 0, p.bytes});
    src.packets.insert(src.packets.begin(), lead.begin(), lead.end());
    Output o;
    o.audio = false;
    const Written w = mux(media("late-key"), o, src);
    ASSERT_EQ(std::vector<int>({w.create, w.failedWrites, w.finalize}), std::vector<int>({0, 0, 0}));
    const QByteArray flags = toolOutput("ffprobe", {"-v", "error", "-select_streams", "v", "-show_entries", "packet=flags",
                                                     "-of", "csv=p=0", w.path});
    EXPECT_TRUE(flags.startsWith("K")) << flags.left(20).constData();
    EXPECT_EQ(flags.count('\n'), src.videoFrames() - 3);
}

TEST_F(Muxer, RefusedDescriptionsAndOutputsFailCreateAndLeaveTheSlotClosable)
{
    const Source src = demux("hevc.mp4");
    const QString unwritable = QDir::tempPath() + "/zv-no-such-dir/sub/out";
    const struct {
        const char *name;
        uint32_t transport;
        int kind;
        uint32_t pixelFormat;
        QString base;
        const char *message;
    } cases[] = {
        {"pixel format", PVNA_AV_MUX_TRANSPORT_FILE, PVNA_AV_MUX_FILE_MKV, 99, media("pix"), "Unsupported pixel format(0x00000063)"},
        {"container", PVNA_AV_MUX_TRANSPORT_FILE, 7, PVNA_AV_MUX_PIX_YUV420P, media("kind"), "Unsupported container protocol"},
        {"stream kind 3", PVNA_AV_MUX_TRANSPORT_STREAM, PVNA_AV_MUX_STREAM_UNSUPPORTED, PVNA_AV_MUX_PIX_YUV420P, {}, "Unsupported streaming protocol"},
        {"tcp", PVNA_AV_MUX_TRANSPORT_STREAM, PVNA_AV_MUX_STREAM_TCP, PVNA_AV_MUX_PIX_YUV420P, {}, "No output format \"tcp\""},
        {"test feed", PVNA_AV_MUX_TRANSPORT_STREAM, PVNA_AV_MUX_STREAM_TEST_FEED, PVNA_AV_MUX_PIX_YUV420P, {}, "refused"},
        {"folder", PVNA_AV_MUX_TRANSPORT_FILE, PVNA_AV_MUX_FILE_MKV, PVNA_AV_MUX_PIX_YUV420P, unwritable, "Could not open"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        PVNA_AV_MUX_VIDEO_INFO v{};
        PVNA_AV_MUX_AUDIO_INFO a{};
        PVNA_AV_MUX_SUBT_INFO s{};
        PVNA_AV_MUX_ATTACH_INFO t{};
        Output o;
        o.videoCodec = PVNA_AV_MUX_VIDEO_HEVC;
        auto p = params(c.base, o, src, v, a, s, t);
        p->transport = c.transport;
        p->kind = c.kind;
        v.pixelFormat = c.pixelFormat;
        PVNA_AV_MUX_HANDLE *h = nullptr;
        ASSERT_EQ(PVNA_AV_MUX_Open(&h, "refused"), 0);
        StderrCapture err;
        EXPECT_EQ(PVNA_AV_MUX_Create(h, p.get()), -1);
        const QByteArray log = err.text();
        EXPECT_TRUE(log.contains(c.message)) << log.constData();
        EXPECT_TRUE(log.contains("::ERROR(")) << log.constData();
        EXPECT_EQ(PVNA_AV_MUX_GetState(h), 0);
        const uint8_t frame[4] = {0, 0, 1, 0x26};
        EXPECT_EQ(PVNA_AV_MUX_WriteVideo(h, 0, 0, 0, frame, 4, 1), -1);
        EXPECT_EQ(PVNA_AV_MUX_Finalize(h), -1);
        EXPECT_EQ(PVNA_AV_MUX_Close(&h), 0);
    }
    EXPECT_FALSE(QFileInfo::exists(QDir::tempPath() + "/zv-no-such-dir"));
}

// Custom I/O writes the container through the caller; a write that fails
// makes the writes or the finalise fail, never report success.
struct Sink {
    QByteArray bytes;
    qint64 pos = 0;
    qint64 failAfter = -1;
};

int sinkWrite(void *opaque, const uint8_t *data, int size)
{
    auto *s = static_cast<Sink *>(opaque);
    if (s->failAfter >= 0 && s->pos + size > s->failAfter)
        return AVERROR(ENOSPC);
    if (s->pos + size > s->bytes.size())
        s->bytes.resize(int(s->pos + size));
    memcpy(s->bytes.data() + s->pos, data, size_t(size));
    s->pos += size;
    return size;
}

int64_t sinkSeek(void *opaque, int64_t offset, int whence)
{
    auto *s = static_cast<Sink *>(opaque);
    if (whence == AVSEEK_SIZE)
        return s->bytes.size();
    s->pos = whence == SEEK_SET ? offset : whence == SEEK_CUR ? s->pos + offset : s->bytes.size() + offset;
    return s->pos;
}

TEST_F(Muxer, CustomOutputAndItsWriteFailures)
{
    const Source src = demux("hevc.mp4");
    for (qint64 failAfter : {qint64(-1), qint64(20000)}) {
        SCOPED_TRACE(failAfter);
        Sink sink;
        sink.failAfter = failAfter;
        PVNA_AV_MUX_VIDEO_INFO v{};
        PVNA_AV_MUX_AUDIO_INFO a{};
        PVNA_AV_MUX_SUBT_INFO s{};
        PVNA_AV_MUX_ATTACH_INFO t{};
        Output o;
        o.videoCodec = PVNA_AV_MUX_VIDEO_HEVC;
        auto p = params(media("custom"), o, src, v, a, s, t);
        p->customIO = 1;
        p->customIOBufferSize = 4096;
        p->opaque = &sink;
        p->write = sinkWrite;
        p->seek = sinkSeek;
        PVNA_AV_MUX_HANDLE *h = nullptr;
        ASSERT_EQ(PVNA_AV_MUX_Open(&h, "custom"), 0);
        ASSERT_EQ(PVNA_AV_MUX_Create(h, p.get()), 0);
        int failed = 0;
        StderrCapture err;
        for (const Packet &pk : src.packets) {
            const auto *data = reinterpret_cast<const uint8_t *>(pk.bytes.constData());
            failed += pk.media == PVNA_AV_MEDIA_VIDEO ? PVNA_AV_MUX_WriteVideo(h, 0, pk.timeMs, 0, data, pk.bytes.size(), pk.key) != 0
                                                      : PVNA_AV_MUX_WriteAudio(h, 0, pk.timeMs, 0, data, pk.bytes.size(), 1) != 0;
        }
        const int finalized = PVNA_AV_MUX_Finalize(h);
        EXPECT_EQ(PVNA_AV_MUX_Close(&h), 0);
        err.text();
        if (failAfter < 0) {
            EXPECT_EQ(std::vector<int>({failed, finalized}), std::vector<int>({0, 0}));
            EXPECT_FALSE(QFileInfo::exists(media("custom.mkv")));
            writeFile(media("custom-sink.mkv"), sink.bytes);
            EXPECT_EQ(probe(media("custom-sink.mkv"))["streams"].toArray().size(), 2);
        } else {
            EXPECT_TRUE(failed > 0 || finalized != 0);
            EXPECT_EQ(finalized, -1);
        }
    }
}

TEST_F(Muxer, ThirtyTwoSlotsConcurrentOpensAndAFreshStartAfterTheLastClose)
{
    // Opened from several threads at once: every handle gets its own slot.
    std::vector<PVNA_AV_MUX_HANDLE *> handles(PVNA_AV_MUX_MAX_SLOTS, nullptr);
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            for (int i = t; i < PVNA_AV_MUX_MAX_SLOTS; i += 4)
                failures += PVNA_AV_MUX_Open(&handles[size_t(i)], "slot") != 0;
        });
    for (std::thread &t : threads)
        t.join();
    ASSERT_EQ(failures.load(), 0);
    std::vector<bool> taken(PVNA_AV_MUX_MAX_SLOTS, false);
    for (PVNA_AV_MUX_HANDLE *h : handles)
        taken[h->slot] = true;
    EXPECT_EQ(std::count(taken.begin(), taken.end(), true), PVNA_AV_MUX_MAX_SLOTS);

    PVNA_AV_MUX_HANDLE *extra = nullptr;
    {
        StderrCapture err;
        EXPECT_EQ(PVNA_AV_MUX_Open(&extra, "one too many"), -1);
        const QByteArray log = err.text();
        EXPECT_TRUE(log.contains("All slot were used...")) << log.constData();
        EXPECT_TRUE(log.contains("AVSVR MUXER [owned by one too many(-1)] open: fail.")) << log.constData();
    }
    EXPECT_EQ(extra, nullptr);
    EXPECT_EQ(PVNA_AV_MUX_Open(&handles[0], "not null"), -1);

    // The open outputs keep working: one of them writes a whole file.
    const Source src = demux("hevc.mp4");
    PVNA_AV_MUX_VIDEO_INFO v{};
    PVNA_AV_MUX_AUDIO_INFO a{};
    PVNA_AV_MUX_SUBT_INFO s{};
    PVNA_AV_MUX_ATTACH_INFO t{};
    Output o;
    o.videoCodec = PVNA_AV_MUX_VIDEO_HEVC;
    o.audio = false;
    auto p = params(media("slot31"), o, src, v, a, s, t);
    PVNA_AV_MUX_HANDLE *h = handles.back();
    ASSERT_EQ(PVNA_AV_MUX_Create(h, p.get()), 0);
    EXPECT_EQ(PVNA_AV_MUX_GetState(h), 1);
    for (const Packet &pk : src.packets) {
        if (pk.media == PVNA_AV_MEDIA_VIDEO) {
            EXPECT_EQ(PVNA_AV_MUX_WriteVideo(h, 0, pk.timeMs, 0, reinterpret_cast<const uint8_t *>(pk.bytes.constData()),
                                             pk.bytes.size(), pk.key), 0);
        }
    }
    double end = 0;
    EXPECT_EQ(PVNA_AV_MUX_GetVideoPts(h, 0, &end), 0);
    EXPECT_EQ(int64_t(end), src.lastVideoMs()); // Matroska counts in milliseconds
    EXPECT_EQ(PVNA_AV_MUX_Finalize(h), 0);
    EXPECT_EQ(PVNA_AV_MUX_GetState(h), 0);
    EXPECT_EQ(streamOf(probe(media("slot31.mkv")), "video")["nb_read_packets"].toString().toInt(), src.videoFrames());

    for (PVNA_AV_MUX_HANDLE *&handle : handles)
        EXPECT_EQ(PVNA_AV_MUX_Close(&handle), 0);
    EXPECT_EQ(PVNA_AV_MUX_Close(&handles[0]), -1);
    PVNA_AV_MUX_HANDLE *fresh = nullptr;
    ASSERT_EQ(PVNA_AV_MUX_Open(&fresh, nullptr), 0);
    EXPECT_EQ(fresh->slot, 0u);
    EXPECT_STREQ(fresh->ownerName, "Unknown");
    EXPECT_EQ(PVNA_AV_MUX_Close(&fresh), 0);
}

} // namespace
