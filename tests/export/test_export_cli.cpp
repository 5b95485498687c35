// `zidavova-tool export` on the generated cards, its outputs judged by
// mkvmerge, ffprobe and ffmpeg: the right frames of the range, decodable,
// key frames where ffmpeg finds them, sound beside its pictures, SAMI lines
// on the pictures of the file; and the failure paths leave nothing behind.
#include "ProcessRun.h"
#include "fixture_paths.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSize>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <map>

namespace {

QString tool() { return binaryDir() + "/cli/zidavova-tool"; }
QString card(const QString &name) { return fixtureDir() + "/" + name; }

QJsonObject json(const QByteArray &bytes) { return QJsonDocument::fromJson(bytes).object(); }

// Whether process pid has a handler installed for signal (SigCgt in its status).
bool catchesSignal(qint64 pid, int signal)
{
    QFile status(QString("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return false;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("SigCgt:"))
            return (line.mid(7).trimmed().toULongLong(nullptr, 16) >> (signal - 1)) & 1;
    }
    return false;
}

QJsonArray catalogueEntries(const QString &source)
{
    return json(toolOutput(tool(), {"catalog", source}))["entries"].toArray();
}

struct Frame {
    int marker, sec, gop, ch;
};

// The export reading of one catalogue entry, as the tool's frames command lists it.
const std::vector<Frame> &framesOf(const QString &source, int entry)
{
    static std::map<std::pair<QString, int>, std::vector<Frame>> cache;
    auto found = cache.find({source, entry});
    if (found != cache.end())
        return found->second;
    std::vector<Frame> &frames = cache[{source, entry}];
    for (const QByteArray &line : toolOutput(tool(), {"frames", source, "--entry", QString::number(entry), "--export"}).split('\n')) {
        const QJsonObject f = json(line);
        if (!f.isEmpty())
            frames.push_back({f["marker"].toInt(), f["sec"].toInt(), f["gop"].toInt(), f["ch"].toInt()});
    }
    return frames;
}

// Video frames of channel ch within [from, to] from its first key frame on.
int rangeFrames(const QString &source, const QJsonArray &entries, int ch, qint64 from, qint64 to)
{
    int count = 0;
    bool started = false;
    for (int i = 0; i < entries.size(); ++i) {
        const QJsonObject e = entries[i].toObject();
        if (qint64(e["end"].toDouble()) < from || qint64(e["start"].toDouble()) > to)
            continue;
        for (const Frame &f : framesOf(source, i)) {
            if (f.marker != 0x7777 || f.ch != ch || f.sec < from || f.sec > to)
                continue;
            started = started || f.gop == 0;
            count += started;
        }
    }
    return count;
}

struct Probed {
    QString videoCodec, audioCodec;
    int width = 0, height = 0, sampleRate = 0, audioChannels = 0, streams = 0;
    std::vector<qint64> videoPts;
    std::vector<bool> videoKey;
    std::vector<std::pair<qint64, qint64>> audioAfterVideo; // audio pts, pts of the video packet before it in file order
    double videoEnd = 0, audioEnd = 0;
};

Probed probe(const QString &file)
{
    Probed p;
    const QJsonObject out = json(toolOutput("ffprobe", {"-v", "error", "-show_streams", "-show_packets", "-of", "json", file}));
    int videoIndex = -1, audioIndex = -1;
    for (const QJsonValue &s : out["streams"].toArray()) {
        ++p.streams;
        if (s["codec_type"].toString() == "video") {
            videoIndex = s["index"].toInt();
            p.videoCodec = s["codec_name"].toString();
            p.width = s["width"].toInt();
            p.height = s["height"].toInt();
        } else if (s["codec_type"].toString() == "audio") {
            audioIndex = s["index"].toInt();
            p.audioCodec = s["codec_name"].toString();
            p.sampleRate = s["sample_rate"].toString().toInt();
            p.audioChannels = s["channels"].toInt();
        }
    }
    qint64 lastVideo = -1;
    for (const QJsonValue &k : out["packets"].toArray()) {
        const qint64 pts = qint64(std::llround(k["pts_time"].toString().toDouble() * 1000));
        const double end = k["pts_time"].toString().toDouble() + k["duration_time"].toString().toDouble();
        if (k["stream_index"].toInt() == videoIndex) {
            p.videoPts.push_back(pts);
            p.videoKey.push_back(k["flags"].toString().startsWith('K'));
            p.videoEnd = std::max(p.videoEnd, end);
            lastVideo = pts;
        } else if (k["stream_index"].toInt() == audioIndex) {
            p.audioAfterVideo.push_back({pts, lastVideo});
            p.audioEnd = std::max(p.audioEnd, end);
        }
    }
    return p;
}

int decodedFrames(const QString &file, bool keyOnly)
{
    QStringList args{"-v", "error"};
    if (keyOnly)
        args << "-skip_frame" << "nokey";
    args << "-i" << file << "-map" << "0:v" << "-f" << "framemd5" << "-";
    int frames = 0;
    for (const QByteArray &line : toolOutput("ffmpeg", args).split('\n'))
        frames += !line.isEmpty() && !line.startsWith('#');
    return frames;
}

// The SYNC Start values of a SAMI file.
std::vector<qint64> samiStarts(const QString &file)
{
    std::vector<qint64> starts;
    static const QRegularExpression sync("<SYNC Start=(-?\\d+)>");
    for (auto it = sync.globalMatch(QString::fromUtf8(readFile(file))); it.hasNext();)
        starts.push_back(it.next().captured(1).toLongLong());
    return starts;
}

struct Outcome {
    int exitCode;
    QJsonArray files;
    QByteArray err;
};

Outcome exportRun(const QStringList &args, const QString &prefix = {})
{
    const ProcessRun r = prefix.isEmpty() ? runProcess(tool(), QStringList{"export"} + args)
                                          : runProcess("sh", QStringList{"-c", prefix + " exec \"$0\" export \"$@\"", tool()} + args);
    return {r.exitCode, json(r.out)["files"].toArray(), r.err};
}

struct Case {
    const char *name;
    const char *card;
    int firstEntry, lastEntry; // the range runs from 2 s into the first to 2 s into the last
    QStringList extra;
    std::vector<int> channels;
    bool audio, subtitles, mf2;
};

class ExportCli : public testing::Test {
protected:
    QTemporaryDir out;
};

TEST_F(ExportCli, OutputsHoldTheRangeAndPassTheIndependentTools)
{
    const Case cases[] = {
        {"index", "index", 0, 0, {"--audio", "--subtitles", "date,speed,location"}, {0, 1}, true, true, false},
        {"record-two", "record", 0, 1, {"--audio", "--subtitles", "speed,date"}, {0, 1}, true, true, false},
        {"record-subset", "record", 1, 1, {"--channels", "1"}, {1}, false, false, false},
        {"mf2", "record-mixed", 1, 1, {"--audio", "--channels", "0"}, {0}, true, false, true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const QString source = card(c.card);
        const QJsonArray entries = catalogueEntries(source);
        ASSERT_GT(entries.size(), c.lastEntry);
        ASSERT_EQ(entries[c.firstEntry]["isMF2"].toDouble() == 1, c.mf2);
        const qint64 from = qint64(entries[c.firstEntry]["start"].toDouble()) + (c.firstEntry == c.lastEntry ? 0 : 2);
        const qint64 to = c.firstEntry == c.lastEntry ? qint64(entries[c.lastEntry]["end"].toDouble())
                                                      : qint64(entries[c.lastEntry]["start"].toDouble()) + 2;
        const QString base = out.filePath(QString("%1/sub folder/trip").arg(c.name));
        // AAC keeps the rate of the recording's own ADTS headers.
        // (An MF2 recording's sound is the generator's, as in the card's MP4 recordings.)
        const QString probed = entries[c.mf2 ? 0 : c.firstEntry].toObject()["path"].toString();
        const int sourceRate = QString(c.card) == "index" ? 0 : json(toolOutput("ffprobe", {"-v", "error", "-select_streams", "a", "-show_streams", "-of", "json", probed}))
                                   ["streams"].toArray()[0].toObject()["sample_rate"].toString().toInt();
        const Outcome run = exportRun(QStringList{source, "--from", QString::number(from), "--to", QString::number(to),
                                              "--out", base} + c.extra);
        ASSERT_EQ(run.exitCode, 0) << run.err.constData();
        ASSERT_EQ(run.files.size(), int(c.channels.size()));
        for (size_t i = 0; i < c.channels.size(); ++i) {
            const int ch = c.channels[i];
            SCOPED_TRACE(ch);
            const QJsonObject f = run.files[int(i)].toObject();
            const QString mkv = QString("%1-%2.mkv").arg(base).arg(ch);
            EXPECT_EQ(f["status"].toString(), "written");
            EXPECT_EQ(f["path"].toString(), mkv);
            EXPECT_FALSE(QFileInfo::exists(mkv + ".part"));

            // mkvmerge: the source codec with its configuration, the SPS's size, sound only when asked.
            const QJsonObject merged = json(toolOutput("mkvmerge", {"-J", mkv}));
            const Probed p = probe(mkv);
            const bool hevc = QString(c.card) != "index";
            int videoTracks = 0, audioTracks = 0;
            for (const QJsonValue &t : merged["tracks"].toArray()) {
                const QJsonObject props = t["properties"].toObject();
                if (t["type"].toString() == "video") {
                    ++videoTracks;
                    EXPECT_EQ(props["codec_id"].toString(), hevc ? "V_MPEGH/ISO/HEVC" : "V_MPEG4/ISO/AVC");
                    EXPECT_GT(props["codec_private_length"].toInt(), 10);
                    EXPECT_EQ(props["pixel_dimensions"].toString(), QString("%1x%2").arg(p.width).arg(p.height));
                } else if (t["type"].toString() == "audio") {
                    ++audioTracks;
                    EXPECT_EQ(props["codec_id"].toString(), hevc ? "A_AAC" : "A_PCM/INT/LIT");
                }
            }
            EXPECT_EQ(videoTracks, 1);
            EXPECT_EQ(audioTracks, c.audio ? 1 : 0);
            EXPECT_EQ(p.videoCodec, hevc ? "hevc" : "h264");
            EXPECT_EQ(QSize(p.width, p.height), QSize(320, 240));
            if (c.audio) {
                EXPECT_EQ(p.sampleRate, hevc ? sourceRate : 8192);
                EXPECT_EQ(p.audioChannels, 1);
                EXPECT_FALSE(p.audioAfterVideo.empty());
                EXPECT_LT(std::abs(p.audioEnd - p.videoEnd), 0.5);
                for (const auto &[audio, video] : p.audioAfterVideo)
                    EXPECT_LE(std::abs(audio - video), 1000) << audio;
            }

            // ffmpeg decodes every frame of the range without a word, key frames where it finds them.
            const ProcessRun decode = runProcess("ffmpeg", {"-v", "error", "-i", mkv, "-f", "null", "-"});
            EXPECT_EQ(decode.exitCode, 0);
            EXPECT_TRUE(decode.err.isEmpty()) << decode.err.constData();
            const int expected = rangeFrames(source, entries, ch, from, to);
            EXPECT_EQ(decodedFrames(mkv, false), expected);
            EXPECT_EQ(int(p.videoPts.size()), expected);
            EXPECT_EQ(f["packets"].toInt(), expected + int(c.audio ? p.audioAfterVideo.size() : 0));
            ASSERT_FALSE(p.videoKey.empty());
            EXPECT_TRUE(p.videoKey.front());
            EXPECT_EQ(int(std::count(p.videoKey.begin(), p.videoKey.end(), true)), decodedFrames(mkv, true));
            EXPECT_TRUE(std::adjacent_find(p.videoPts.begin(), p.videoPts.end(), std::greater_equal<qint64>()) == p.videoPts.end());

            // SAMI: found by ffprobe on its own, times on the file's pictures.
            const QString smi = QString("%1-%2.smi").arg(base).arg(ch);
            EXPECT_EQ(QFileInfo::exists(smi), c.subtitles);
            if (!c.subtitles)
                continue;
            const QJsonObject subs = json(toolOutput("ffprobe", {"-v", "error", "-show_packets", "-show_format", "-of", "json", smi}));
            EXPECT_EQ(subs["format"].toObject()["format_name"].toString(), "sami");
            const QJsonArray packets = subs["packets"].toArray();
            ASSERT_GT(packets.size(), 1);
            qint64 previous = 0;
            for (int k = 0; k < packets.size(); ++k) {
                const qint64 pts = qint64(packets[k].toObject()["pts"].toDouble(-1));
                EXPECT_GE(pts, previous);
                // The last line lasts to the end of the file.
                if (k + 1 < packets.size()) {
                    EXPECT_GT(packets[k].toObject()["duration"].toDouble(), 0);
                }
                previous = pts;
            }
            for (qint64 start : samiStarts(smi))
                EXPECT_TRUE(std::binary_search(p.videoPts.begin(), p.videoPts.end(), start)) << start;
        }
    }
}

TEST_F(ExportCli, SubtitleLinesCarryTheRecordedTelemetryOnEveryChannel)
{
    const QString base = out.filePath("gps");
    const Outcome run = exportRun({card("record"), "--entry", "0", "--out", base, "--subtitles", "date,speed,location"});
    ASSERT_EQ(run.exitCode, 0) << run.err.constData();
    const QString first = QString::fromUtf8(readFile(base + "-0.smi")), second = QString::fromUtf8(readFile(base + "-1.smi"));
    ASSERT_TRUE(first.startsWith("<SAMI>\n"));
    EXPECT_TRUE(first.trimmed().endsWith("</SAMI>"));
    // Both channels see the drive: speed and a position that is not zero, in the C locale's digits.
    static const QRegularExpression line("<P Class=KRCC>(\\d{4}/\\d\\d/\\d\\d \\d\\d:\\d\\d:\\d\\d) (\\d+) KM (-?\\d+\\.\\d{6}) (-?\\d+\\.\\d{6})<BR>");
    for (const QString &text : {first, second}) {
        int moving = 0, lines = 0;
        for (auto it = line.globalMatch(text); it.hasNext(); ++lines) {
            const auto m = it.next();
            moving += m.captured(2).toInt() > 0 && m.captured(3).toDouble() != 0 && m.captured(4).toDouble() != 0;
        }
        EXPECT_GE(lines, 5);
        EXPECT_GT(moving, lines / 2);
    }
}

TEST_F(ExportCli, ExistingFilesAndFailuresKeepEarlierFilesAndLeaveNoPartFile)
{
    QDir().mkpath(out.filePath("keep"));
    const QString base = out.filePath("keep/trip");
    writeFile(base + "-0.mkv", "EARLIER");
    const QStringList args{card("record"), "--entry", "0", "--out", base, "--audio"};

    // Without --overwrite channel 0 is skipped and stays as it was; channel 1 is written.
    Outcome run = exportRun(args);
    EXPECT_EQ(run.exitCode, 0) << run.err.constData();
    EXPECT_EQ(run.files[0].toObject()["status"].toString(), "skipped");
    EXPECT_EQ(run.files[1].toObject()["status"].toString(), "written");
    EXPECT_EQ(readFile(base + "-0.mkv"), "EARLIER");

    // A write that fails half-way (file size limit): failed, exit 1, earlier file untouched, no part file.
    run = exportRun(args + QStringList{"--overwrite"}, "ulimit -f 16; trap '' XFSZ;");
    EXPECT_EQ(run.exitCode, 1);
    for (const QJsonValue &f : run.files) {
        EXPECT_EQ(f["status"].toString(), "failed");
        EXPECT_FALSE(f["reason"].toString().isEmpty());
    }
    EXPECT_EQ(readFile(base + "-0.mkv"), "EARLIER");
    EXPECT_EQ(QDir(out.filePath("keep")).entryList(QDir::Files), QStringList({"trip-0.mkv", "trip-1.mkv"}));

    // A folder that cannot be made: nothing written anywhere.
    writeFile(out.filePath("plain-file"), "x");
    run = exportRun({card("index"), "--entry", "0", "--out", out.filePath("plain-file/trip")});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(run.files[0].toObject()["reason"].toString().contains("folder")) << run.files[0].toObject()["reason"].toString().toStdString();

    // A range in a gap between recordings, or before the card: nothing selected, said so.
    run = exportRun({card("index"), "--from", "1000", "--to", "2000", "--out", out.filePath("none/trip")});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.files[0].toObject()["reason"].toString(), "no recording in the range");
    EXPECT_FALSE(QFileInfo::exists(out.filePath("none/trip-0.mkv")));
}

TEST_F(ExportCli, InterruptedExportStopsCleanlyAndLeavesNoFile)
{
    const QJsonArray entries = catalogueEntries(card("record"));
    const QString from = QString::number(qint64(entries.first()["start"].toDouble()));
    const QString to = QString::number(qint64(entries.last()["end"].toDouble()));
    for (const int signal : {SIGINT, SIGTERM}) {
        SCOPED_TRACE(signal);
        // A signal that comes after the export finished stops nothing, so
        // it is tried again until one lands in time.
        bool interrupted = false;
        for (int attempt = 0; attempt < 5 && !interrupted; ++attempt) {
            const QString folder = out.filePath(QString("%1-%2").arg(signal).arg(attempt));
            QProcess p;
            p.setReadChannel(QProcess::StandardError);
            p.start(tool(), {"export", card("record"), "--from", from, "--to", to, "--out", folder + "/trip", "--audio",
                             "--subtitles", "date,speed"});
            // The signal goes as soon as the tool handles it (while the
            // catalogue is read or the files are written): the whole
            // export of this small card takes a few tens of milliseconds.
            ASSERT_TRUE(p.waitForStarted());
            QElapsedTimer waited;
            waited.start();
            while (!catchesSignal(p.processId(), signal) && waited.elapsed() < 10000)
                QThread::usleep(200);
            ::kill(pid_t(p.processId()), signal);
            ASSERT_TRUE(p.waitForFinished(30000));
            const QJsonArray files = json(p.readAllStandardOutput())["files"].toArray();
            ASSERT_EQ(files.size(), 2);
            interrupted = p.exitCode() != 0;
            for (const QJsonValue &f : files)
                EXPECT_EQ(f["status"].toString(), interrupted ? "failed" : "written");
            if (interrupted) {
                EXPECT_EQ(p.exitCode(), 128 + signal);
                EXPECT_TRUE(QDir(folder).entryList(QDir::Files).isEmpty()) << QDir(folder).entryList(QDir::Files).join(' ').toStdString();
            }
        }
        EXPECT_TRUE(interrupted);
    }
}

TEST_F(ExportCli, RefusedArgumentsSayWhyOnOneLine)
{
    const QString base = out.filePath("x");
    const QStringList refused[] = {
        {card("index")},
        {card("index"), "--entry", "0"},
        {card("index"), "--entry", "0", "--from", "1", "--to", "2", "--out", base},
        {card("index"), "--from", "2023-03-14 05:45:25", "--out", base},
        {card("index"), "--entry", "0", "--out", base, "--channels", "9"},
        {card("index"), "--entry", "0", "--out", base, "--channels", "5"},
        {card("index"), "--entry", "0", "--out", base, "--subtitles", "weather"},
        {card("index"), "--entry", "99", "--out", base},
        {card("index"), "--entry", "0", "--out", base, "--bogus"},
        {card("index"), "--from", "tomorrow", "--to", "2", "--out", base},
    };
    for (const QStringList &args : refused) {
        SCOPED_TRACE(args.join(' ').toStdString());
        const Outcome run = exportRun(args);
        EXPECT_EQ(run.exitCode, 2);
        EXPECT_EQ(run.err.count('\n'), 1) << run.err.constData();
    }
    EXPECT_TRUE(QDir(out.path()).isEmpty());
    const ProcessRun help = runProcess(tool(), {"export", "--help"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_TRUE(help.out.startsWith("usage: zidavova-tool export")) << help.out.constData();
}

} // namespace
