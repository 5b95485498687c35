// The MP4 demuxer judged against ffmpeg and ffprobe on small recordings
// generated with the ffmpeg tool.
#include "fixture_paths.h"
#include "pavona_av_demuxer.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace {

struct ToolRun {
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

ToolRun runTool(const QString &program, const QStringList &args, const QByteArray &input = QByteArray())
{
    QProcess p;
    p.start(program, args);
    ToolRun r;
    if (!p.waitForStarted(10000))
        return r;
    if (!input.isEmpty())
        p.write(input);
    p.closeWriteChannel();
    p.waitForFinished(120000);
    r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = p.readAllStandardOutput();
    r.err = p.readAllStandardError();
    return r;
}

struct Delivered {
    int stream, track, media, key;
    int64_t timeMs;
    QByteArray bytes;
};

int collect(void *opaque, const PVNA_AV_DEMUX_Packet *p)
{
    static_cast<std::vector<Delivered> *>(opaque)->push_back(
        {p->streamIndex, p->trackIndex, p->mediaType, p->key, p->timeMs,
         QByteArray(reinterpret_cast<const char *>(p->data), p->size)});
    return 0;
}

struct Demuxed {
    int openResult = -1;
    std::unique_ptr<PVNA_AV_DEMUX_StreamInfo> info = std::make_unique<PVNA_AV_DEMUX_StreamInfo>();
    std::vector<Delivered> packets;
    int reads = 0;
    int unsupported = 0;
    int lastResult = 0;

    QByteArray joined(int media, int track) const
    {
        QByteArray all;
        for (const Delivered &d : packets)
            if (d.media == media && d.track == track)
                all += d.bytes;
        return all;
    }
    std::vector<const Delivered *> of(int media, int track) const
    {
        std::vector<const Delivered *> list;
        for (const Delivered &d : packets)
            if (d.media == media && d.track == track)
                list.push_back(&d);
        return list;
    }
};

// Opens path and reads it to the end (bounded, so a demuxer that never ends fails the test).
Demuxed demuxAll(const QString &path)
{
    Demuxed d;
    PVNA_AV_DEMUX_Handle h = nullptr;
    if (PVNA_AV_DEMUX_Create(&h, "test") != 0)
        return d;
    const QByteArray p = path.toLocal8Bit();
    const PVNA_AV_DEMUX_OpenParams params{p.constData(), PVNA_AV_DEMUX_FLAG_MEMORY_OUTPUT, collect, &d.packets};
    d.openResult = PVNA_AV_DEMUX_Open(h, &params);
    if (d.openResult != 0)
        return d; // released by the failed open
    PVNA_AV_DEMUX_GetStreamInfo(h, d.info.get());
    while (d.reads < 100000) {
        d.lastResult = PVNA_AV_DEMUX_ReadPacket(h);
        ++d.reads;
        if (d.lastResult == PVNA_AV_DEMUX_UNSUPPORTED)
            ++d.unsupported;
        else if (d.lastResult != 0)
            break;
    }
    PVNA_AV_DEMUX_Destroy(h);
    return d;
}

// The NAL unit types after each start code.
std::vector<int> nalTypes(const QByteArray &annexB, bool hevc)
{
    std::vector<int> types;
    const QByteArray startCode("\0\0\1", 3);
    for (int at = annexB.indexOf(startCode); at >= 0 && at + 3 < annexB.size();
         at = annexB.indexOf(startCode, at + 3)) {
        const uint8_t header = uint8_t(annexB[at + 3]);
        types.push_back(hevc ? (header >> 1) & 0x3F : header & 0x1F);
    }
    return types;
}

QString mediaDir()
{
    const QString base = binaryDir().isEmpty() ? QDir::tempPath() : binaryDir();
    return base + "/demux-media";
}

QString media(const QString &name)
{
    return mediaDir() + "/" + name;
}

// Small recordings, made once per build tree.
class Demuxer : public testing::Test {
protected:
    static void SetUpTestSuite()
    {
        QDir().mkpath(mediaDir());
        const QStringList x265{"-c:v", "libx265", "-x265-params", "log-level=none:keyint=12", "-pix_fmt", "yuv420p"};
        make("hevc2.mp4", QStringList{"-f", "lavfi", "-i", "testsrc=size=320x240:rate=25", "-f", "lavfi", "-i",
                                      "testsrc2=size=320x240:rate=25", "-f", "lavfi", "-i",
                                      "sine=frequency=440:sample_rate=48000", "-t", "2", "-map", "0", "-map", "1",
                                      "-map", "2"} +
                              x265 + QStringList{"-c:a", "aac", "-b:a", "64k"});
        make("h264.mp4", {"-f", "lavfi", "-i", "testsrc=size=320x240:rate=30", "-f", "lavfi", "-i",
                          "sine=frequency=660:sample_rate=44100", "-t", "2", "-map", "0", "-map", "1", "-c:v",
                          "libx264", "-g", "15", "-bf", "2", "-pix_fmt", "yuv420p", "-c:a", "aac", "-ac", "1"});
        QStringList nine;
        for (int i = 0; i < 9; ++i)
            nine << "-f" << "lavfi" << "-i" << "testsrc=size=64x64:rate=10";
        nine << "-t" << "1";
        for (int i = 0; i < 9; ++i)
            nine << "-map" << QString::number(i);
        make("nine.mp4", nine + QStringList{"-c:v", "libx264", "-g", "5", "-pix_fmt", "yuv420p"});
        make("faststart.mp4", {"-i", media("hevc2.mp4"), "-map", "0", "-c", "copy", "-movflags", "+faststart"});

        writeFile("empty.mp4", QByteArray());
        writeFile("text.mp4", QByteArray("This is a note about a trip, not a recording.\n").repeated(50));
        const QByteArray whole = readFile(media("hevc2.mp4"));
        writeFile("truncated.mp4", whole.left(whole.size() / 2));
        const QByteArray fast = readFile(media("faststart.mp4"));
        writeFile("truncated-faststart.mp4", fast.left(fast.size() * 3 / 5));
    }

    static void make(const QString &name, const QStringList &args)
    {
        if (QFile(media(name)).size() > 0)
            return;
        const ToolRun r = runTool("ffmpeg", QStringList{"-v", "error", "-y"} + args + QStringList{media(name)});
        ASSERT_EQ(r.exitCode, 0) << r.err.constData();
    }
    static QByteArray readFile(const QString &path)
    {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    static void writeFile(const QString &name, const QByteArray &bytes)
    {
        QFile f(media(name));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(bytes);
    }
    static int ffprobeCount(const QString &path, const QString &stream)
    {
        const ToolRun r = runTool("ffprobe", {"-v", "error", "-select_streams", stream, "-count_packets",
                                              "-show_entries", "stream=nb_read_packets", "-of", "csv=p=0", path});
        return r.exitCode == 0 ? r.out.trimmed().toInt() : -1;
    }
};

TEST_F(Demuxer, VideoIsFfmpegsAnnexBStreamByteForByte)
{
    struct Case {
        const char *file;
        int codec;
        const char *filter;
        const char *format;
        int streams;
        int width, height, rate;
    };
    const Case cases[] = {
        {"hevc2.mp4", PVNA_AV_CODEC_HEVC, "hevc_mp4toannexb", "hevc", 2, 320, 240, 25},
        {"h264.mp4", PVNA_AV_CODEC_H264, "h264_mp4toannexb", "h264", 1, 320, 240, 30},
        {"nine.mp4", PVNA_AV_CODEC_H264, "h264_mp4toannexb", "h264", 8, 64, 64, 10},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.file);
        const Demuxed d = demuxAll(media(c.file));
        ASSERT_EQ(d.openResult, 0);
        EXPECT_EQ(d.lastResult, PVNA_AV_DEMUX_END);
        ASSERT_EQ(d.info->videoCount, c.streams);
        for (int n = 0; n < c.streams; ++n) {
            SCOPED_TRACE(n);
            const PVNA_AV_DEMUX_VideoInfo &v = d.info->video[n];
            EXPECT_EQ(v.codec, c.codec);
            EXPECT_EQ(v.streamIndex, n);
            EXPECT_EQ(v.width, c.width);
            EXPECT_EQ(v.height, c.height);
            EXPECT_EQ(v.frameRate, c.rate);
            EXPECT_EQ(v.format, PVNA_AV_FORMAT_YUV420P);
            EXPECT_GT(v.extradataSize, 0);

            const ToolRun ref = runTool("ffmpeg", {"-v", "error", "-i", media(c.file), "-map",
                                                   QString("0:v:%1").arg(n), "-c", "copy", "-bsf:v", c.filter,
                                                   "-f", c.format, "-"});
            ASSERT_EQ(ref.exitCode, 0) << ref.err.constData();
            const auto frames = d.of(PVNA_AV_MEDIA_VIDEO, n);
            ASSERT_FALSE(frames.empty());
            EXPECT_EQ(d.joined(PVNA_AV_MEDIA_VIDEO, n), ref.out);
            EXPECT_EQ(int(frames.size()), ffprobeCount(media(c.file), QString("v:%1").arg(n)));

            // The filter puts the parameter sets into every key frame, after
            // any SEI and right before the first slice; the track
            // configuration is exactly those bytes. Other frames lack them.
            const bool hevc = c.codec == PVNA_AV_CODEC_HEVC;
            const std::vector<int> sets = hevc ? std::vector<int>{32, 33, 34} : std::vector<int>{7, 8};
            const int sei = hevc ? 39 : 6;
            ASSERT_GT(v.configSize, 0);
            const QByteArray config(reinterpret_cast<const char *>(v.config), v.configSize);
            std::vector<int> configTypes = nalTypes(config, hevc);
            while (!configTypes.empty() && configTypes.back() == sei)
                configTypes.pop_back();
            EXPECT_EQ(configTypes, sets);
            EXPECT_EQ(frames.front()->key, 1);
            for (const Delivered *f : frames) {
                SCOPED_TRACE(f->timeMs);
                const int at = f->bytes.indexOf(config);
                if (f->key != 1) {
                    EXPECT_EQ(at, -1);
                    continue;
                }
                ASSERT_GE(at, 0);
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
    struct Case {
        const char *file;
        int rate, channels;
    };
    for (const Case &c : {Case{"hevc2.mp4", 48000, 1}, Case{"h264.mp4", 44100, 1}}) {
        SCOPED_TRACE(c.file);
        const Demuxed d = demuxAll(media(c.file));
        ASSERT_EQ(d.openResult, 0);
        ASSERT_EQ(d.info->audioCount, 1);
        EXPECT_EQ(d.info->audio[0].codec, PVNA_AV_CODEC_AAC);
        EXPECT_EQ(d.info->audio[0].sampleRate, c.rate);
        EXPECT_EQ(d.info->audio[0].channels, c.channels);
        EXPECT_GE(d.info->audio[0].extradataSize, 2);

        const auto audio = d.of(PVNA_AV_MEDIA_AUDIO, 0);
        ASSERT_EQ(audio.size() % 2, 0u);
        std::vector<int64_t> times;
        for (size_t i = 0; i < audio.size(); i += 2) {
            ASSERT_EQ(audio[i]->bytes.size(), 7);
            EXPECT_EQ(audio[i]->timeMs, audio[i + 1]->timeMs);
            times.push_back(audio[i]->timeMs);
        }

        // Every packet with a time not below zero, at its time on the sample clock.
        const ToolRun pts = runTool("ffprobe", {"-v", "error", "-select_streams", "a:0", "-show_entries",
                                                "packet=pts", "-of", "csv=p=0", media(c.file)});
        std::vector<int64_t> expected;
        for (const QByteArray &line : pts.out.split('\n')) {
            bool number = false;
            const qlonglong t = line.trimmed().toLongLong(&number);
            if (number && t >= 0)
                expected.push_back(t * 1000 / c.rate);
        }
        EXPECT_EQ(times, expected);

        const QByteArray adts = d.joined(PVNA_AV_MEDIA_AUDIO, 0);
        const ToolRun count = runTool("ffprobe", {"-v", "error", "-f", "aac", "-count_packets", "-show_entries",
                                                  "stream=nb_read_packets,sample_rate,channels", "-of", "csv=p=0",
                                                  "pipe:0"},
                                      adts);
        EXPECT_EQ(count.out.trimmed(), QString("%1,%2,%3").arg(c.rate).arg(c.channels).arg(times.size()).toUtf8());
        const ToolRun decode = runTool("ffmpeg", {"-v", "error", "-xerror", "-f", "aac", "-i", "pipe:0", "-f", "null", "-"}, adts);
        EXPECT_EQ(decode.exitCode, 0);
        EXPECT_TRUE(decode.err.isEmpty()) << decode.err.constData();
    }
}

TEST_F(Demuxer, NinthVideoStreamIsNotDescribedNorDelivered)
{
    const Demuxed d = demuxAll(media("nine.mp4"));
    ASSERT_EQ(d.openResult, 0);
    EXPECT_EQ(d.info->videoCount, 8);
    EXPECT_EQ(d.unsupported, ffprobeCount(media("nine.mp4"), "v:8"));
    for (const Delivered &p : d.packets) {
        EXPECT_LT(p.stream, 8);
        EXPECT_EQ(p.track, p.stream);
    }
}

TEST_F(Demuxer, ReadAfterEndKeepsReportingEnd)
{
    std::vector<Delivered> sink;
    PVNA_AV_DEMUX_Handle h = nullptr;
    ASSERT_EQ(PVNA_AV_DEMUX_Create(&h, nullptr), 0);
    const QByteArray path = media("h264.mp4").toLocal8Bit();
    const PVNA_AV_DEMUX_OpenParams params{path.constData(), PVNA_AV_DEMUX_FLAG_MEMORY_OUTPUT, collect, &sink};
    ASSERT_EQ(PVNA_AV_DEMUX_Open(h, &params), 0);
    int r = 0;
    for (int i = 0; i < 10000 && r == 0; ++i)
        r = PVNA_AV_DEMUX_ReadPacket(h);
    EXPECT_EQ(r, PVNA_AV_DEMUX_END);
    const size_t delivered = sink.size();
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(PVNA_AV_DEMUX_ReadPacket(h), PVNA_AV_DEMUX_END);
    EXPECT_EQ(sink.size(), delivered);

    // A seek back to the start reads the same stream again from a key frame.
    ASSERT_GE(PVNA_AV_DEMUX_Seek(h, 0), 0);
    const std::vector<Delivered> first = sink;
    sink.clear();
    do
        r = PVNA_AV_DEMUX_ReadPacket(h);
    while (r == 0);
    ASSERT_EQ(sink.size(), first.size());
    for (size_t i = 0; i < sink.size(); ++i)
        EXPECT_EQ(sink[i].bytes, first[i].bytes) << i;
    EXPECT_EQ(PVNA_AV_DEMUX_Destroy(h), 0);
}

TEST_F(Demuxer, RegistryRefusesThe33rdHandleAndUnknownHandles)
{
    std::vector<PVNA_AV_DEMUX_Handle> handles(PVNA_AV_DEMUX_MAX_HANDLES);
    for (auto &h : handles)
        ASSERT_EQ(PVNA_AV_DEMUX_Create(&h, "slot"), 0);
    PVNA_AV_DEMUX_Handle extra = nullptr;
    EXPECT_EQ(PVNA_AV_DEMUX_Create(&extra, "one too many"), -1);
    EXPECT_EQ(extra, nullptr);
    EXPECT_EQ(PVNA_AV_DEMUX_Destroy(handles[5]), 0);
    EXPECT_EQ(PVNA_AV_DEMUX_Destroy(handles[5]), -1);
    EXPECT_EQ(PVNA_AV_DEMUX_ReadPacket(handles[5]), -1);
    ASSERT_EQ(PVNA_AV_DEMUX_Create(&handles[5], "again"), 0);
    EXPECT_EQ(PVNA_AV_DEMUX_ReadPacket(handles[5]), -1); // created, not open
    for (auto h : handles)
        EXPECT_EQ(PVNA_AV_DEMUX_Destroy(h), 0);
}

TEST_F(Demuxer, BadFilesFailOpenAndReleaseTheHandle)
{
    const QString cases[] = {media("missing.mp4"), media("empty.mp4"), media("text.mp4"),
                             media("truncated.mp4"), mediaDir(), QString("concat:") + media("h264.mp4")};
    for (const QString &path : cases) {
        SCOPED_TRACE(path.toStdString());
        const Demuxed d = demuxAll(path);
        EXPECT_EQ(d.openResult, -1);
        EXPECT_TRUE(d.packets.empty());
    }
    // The failed opens released their handles: all slots are free.
    std::vector<PVNA_AV_DEMUX_Handle> all(PVNA_AV_DEMUX_MAX_HANDLES);
    for (auto &slot : all)
        ASSERT_EQ(PVNA_AV_DEMUX_Create(&slot, "slot"), 0);
    for (auto slot : all)
        PVNA_AV_DEMUX_Destroy(slot);
    std::vector<Delivered> sink;
    PVNA_AV_DEMUX_Handle h = nullptr;
    ASSERT_EQ(PVNA_AV_DEMUX_Create(&h, nullptr), 0);
    const QByteArray path = media("h264.mp4").toLocal8Bit();
    const PVNA_AV_DEMUX_OpenParams fileOutput{path.constData(), 0, collect, &sink};
    EXPECT_EQ(PVNA_AV_DEMUX_Open(h, &fileOutput), -1);
    EXPECT_EQ(PVNA_AV_DEMUX_Destroy(h), -1);
}

TEST_F(Demuxer, TruncatedRecordingEndsCleanlyWithWhatItHolds)
{
    const Demuxed whole = demuxAll(media("faststart.mp4"));
    const Demuxed cut = demuxAll(media("truncated-faststart.mp4"));
    ASSERT_EQ(whole.openResult, 0);
    ASSERT_EQ(cut.openResult, 0);
    EXPECT_EQ(cut.lastResult, PVNA_AV_DEMUX_END);
    const auto all = whole.of(PVNA_AV_MEDIA_VIDEO, 0);
    const auto part = cut.of(PVNA_AV_MEDIA_VIDEO, 0);
    ASSERT_FALSE(part.empty());
    EXPECT_LT(part.size(), all.size());
    // What was delivered is the start of the whole stream, byte for byte,
    // except the last packet, which may be cut short by the file's end.
    for (size_t i = 0; i + 1 < part.size(); ++i)
        EXPECT_EQ(part[i]->bytes, all[i]->bytes) << i;
}

} // namespace
