// Whole-recording loads through the Reader on the generated cards: MP4
// against ffmpeg and ffprobe, MF2 and banks against the generator's
// manifests, the backward index, seeks, damaged recordings, the export
// load beside playback, and the CLI's dumps and GPX track.
#include "CardFiles.h"
#include "fixture_paths.h"
#include "Reader.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <map>
#include <memory>
#include <set>

namespace {

constexpr size_t Capacity = 8 << 20;

QJsonObject manifest(const QString &card)
{
    return QJsonDocument::fromJson(readFile(fixtureDir() + "/" + card + ".json")).object();
}

const QString Tool = binaryDir() + "/cli/zidavova-tool";

struct Frame {
    FrameIndexEntry entry;
    QByteArray bytes;
};

enum class Read { Playback, Backward, Export };

// Everything one of the next-frame operations hands out.
std::vector<Frame> drain(Reader &r, Read how = Read::Playback)
{
    std::vector<Frame> frames;
    std::vector<uint8_t> d(Capacity);
    FrameIndexEntry e;
    for (int len; (len = how == Read::Playback   ? r.nextFrame(e, d.data(), Capacity)
                         : how == Read::Backward ? r.nextFrameBackward(d.data(), Capacity, e, nullptr)
                                                 : r.nextFrameExport(d.data(), Capacity, e)) > 0;)
        frames.push_back({e, QByteArray(reinterpret_cast<const char *>(d.data()), len)});
    return frames;
}

int count(const std::vector<Frame> &frames, uint16_t marker, int channel = -1)
{
    return int(std::count_if(frames.begin(), frames.end(), [&](const Frame &f) {
        return f.entry.marker == marker && (channel < 0 || f.entry.channel == channel);
    }));
}

FileRecord fileRecord(Reader &r, const QString &card, int entry)
{
    r.scanCard(fixtureDir() + "/" + card);
    return r.files().value(entry);
}

int ffprobePackets(const QString &path, const QString &stream, bool nonNegative)
{
    int n = 0;
    for (const QByteArray &line : toolOutput("ffprobe", {"-v", "error", "-select_streams", stream, "-show_entries",
                                                         "packet=pts", "-of", "csv=p=0", path}).split('\n'))
        n += !line.trimmed().isEmpty() && (!nonNegative || line.split(',').first().toLongLong() >= 0);
    return n;
}

} // namespace

// Record-file loads against what the generator wrote: counts per channel,
// first and last picture times, the span the time bar shows (start plus the
// trailer's duration), telemetry, the serials and fixed fields.
TEST(RecordLoads, MatchTheManifest)
{
    // index: the catalogue index the load writes into every entry, past 16
    // bits for one MP4 and one MF2.
    const struct { const char *card; int entry, index; bool password; } cases[] = {
        {"record", 0, 0, false},          {"record", 2, 65536 + 2, false}, {"record-mixed", 1, 1, false},
        {"record-mixed", 3, 3, false},    {"record-mf2pw", 1, 65536 + 1, true}};
    for (const auto &c : cases) {
        SCOPED_TRACE(QStringLiteral("%1 entry %2").arg(c.card).arg(c.entry).toStdString());
        Reader r;
        r.setPasswordPrompt([&c](PasswordKind, const QByteArray &, int) { return c.password; });
        const FileRecord rec = fileRecord(r, c.card, c.entry);
        const QJsonObject m = manifest(c.card)["entries"].toArray().at(c.entry).toObject();
        ASSERT_EQ(rec.path.section('/', -1), m["name"].toString());
        ASSERT_GT(r.loadFileForPlayback(c.index, rec, false), 0);
        const std::vector<Frame> frames = drain(r);
        ASSERT_FALSE(frames.empty());
        const qint64 start = m["start"].toVariant().toLongLong();
        const QJsonArray perChannel = m["frames"].toArray();
        ASSERT_EQ(r.videoTracks().size(), size_t(perChannel.size()));
        for (int ch = 0; ch < perChannel.size(); ++ch)
            EXPECT_EQ(count(frames, FrameIndexEntry::Video, ch), perChannel[ch].toInt()) << "channel " << ch;
        const int audio = m["isMF2"].toInt() == 1 ? m["audioFrames"].toInt() : 2 * ffprobePackets(rec.path, "a", true);
        EXPECT_EQ(count(frames, FrameIndexEntry::Audio), audio);
        EXPECT_EQ(count(frames, FrameIndexEntry::Gps), m["gpsSamples"].toInt());
        EXPECT_EQ(int(r.gsensorSamples().size()), m["gsensorSamples"].toInt());
        EXPECT_EQ(QVector<qint64>({r.audioDescription().sampleRate, r.audioDescription().channels, r.loadedIndex(), r.startTime(), r.endTime()}),
                  QVector<qint64>({16000, 1, c.index, start, start + m["duration"].toInt()}));
        std::vector<int64_t> videoMs;
        for (size_t i = 0; i < frames.size(); ++i) {
            const FrameIndexEntry &e = frames[i].entry;
            EXPECT_EQ(QVector<qint64>({e.serial(), e.field28, e.catalogueIndex}), QVector<qint64>({qint64(i), 1, c.index}));
            EXPECT_GE(e.timeMs(), i ? frames[i - 1].entry.timeMs() : 0);
            if (e.marker == FrameIndexEntry::Video) {
                videoMs.push_back(e.timeMs());
                EXPECT_EQ(frames[i].bytes.size(), e.size + r.videoTracks()[e.channel].config.size());
            }
        }
        ASSERT_FALSE(videoMs.empty()); // first and last pictures where the generator put them
        EXPECT_EQ((QVector<qint64>{videoMs.front(), videoMs.back()}),
                  (QVector<qint64>{start * 1000 + m["firstMediaMs"].toInt(), start * 1000 + m["lastMediaMs"].toInt()}));
    }
}

// A card made in UTC whose recording is named 02:30 on the night Central
// Europe springs forward, read there: the catalogue and the load start at
// 03:30 summer time (01:30 UTC), not at 1970, and the 1-s recording spans a
// whole second although its last picture is at 0.9 s.
TEST(RecordLoads, NameInsideTheSkippedHourStartsAnHourLater)
{
    const QByteArray zone = qgetenv("TZ");
    qputenv("TZ", "CET-1CEST,M3.5.0,M10.5.0/3");
    tzset();
    Reader r;
    const FileRecord rec = fileRecord(r, "record-dst", 0);
    EXPECT_TRUE(rec.path.contains("_20230326-023000_")) << rec.path.toStdString();
    EXPECT_EQ(rec.start.isValid() ? rec.start.toSecsSinceEpoch() : 0, 1679794200);
    EXPECT_GT(r.loadFileForPlayback(0, rec, false), 0);
    EXPECT_EQ((QVector<qint64>{r.startTime(), r.endTime()}), (QVector<qint64>{1679794200, 1679794201}));
    zone.isNull() ? qunsetenv("TZ") : qputenv("TZ", zone);
    tzset();
}

// The dumps of `frames --dump` against ffmpeg's own Annex-B and ADTS output.
TEST(RecordLoads, DumpsMatchFfmpeg)
{
    Reader r;
    const FileRecord rec = fileRecord(r, "record", 1);
    QTemporaryDir dump;
    const QByteArray lines = toolOutput(Tool, {"frames", fixtureDir() + "/record", "--entry", "1", "--dump", dump.path()});
    std::map<int, std::vector<std::pair<int, int>>> sizes; // channel -> (len, size)
    for (const QByteArray &line : lines.split('\n'))
        if (const QJsonObject o = QJsonDocument::fromJson(line).object(); o["marker"].toInt() == FrameIndexEntry::Video)
            sizes[o["ch"].toInt()].push_back({o["len"].toInt(), o["size"].toInt()});
    ASSERT_EQ(sizes.size(), 2u);
    for (const auto &[ch, list] : sizes) {
        SCOPED_TRACE(ch);
        const QByteArray ours = readFile(dump.filePath(QStringLiteral("video-%1.es").arg(ch)));
        QByteArray payloads;
        int at = 0;
        for (const auto &[len, size] : list) {
            payloads += ours.mid(at + len - size, size);
            at += len;
        }
        EXPECT_EQ(at, ours.size());
        const QByteArray ff = toolOutput("ffmpeg", {"-v", "error", "-i", rec.path, "-map", QStringLiteral("0:v:%1").arg(ch),
                                                    "-c", "copy", "-bsf:v", "hevc_mp4toannexb", "-f", "hevc", "-"});
        EXPECT_TRUE(payloads == ff) << payloads.size() << " vs " << ff.size();
        EXPECT_EQ(int(list.size()), ffprobePackets(rec.path, QStringLiteral("v:%1").arg(ch), false));
    }
    const ProcessRun decode = runProcess("ffmpeg", {"-v", "error", "-f", "aac", "-i", dump.filePath("audio.es"), "-f", "null", "-"});
    EXPECT_TRUE(decode.exitCode == 0 && decode.err.isEmpty()) << decode.err.constData();
}

// The export load keeps its own buffer, index, position, tables and times.
TEST(RecordLoads, ExportLeavesPlaybackAlone)
{
    Reader r;
    const FileRecord mp4 = fileRecord(r, "record-mixed", 0), mf2 = r.files().value(1);
    ASSERT_GT(r.loadFileForPlayback(0, mp4, false), 0);
    const std::vector<Frame> whole = drain(r);
    ASSERT_GT(r.loadFileForPlayback(0, mp4, true), 0);
    std::vector<uint8_t> data(Capacity);
    FrameIndexEntry e;
    for (int i = 0; i < 10; ++i)
        ASSERT_GT(r.nextFrame(e, data.data(), Capacity), 0);

    ASSERT_GT(r.loadFileForExport(1, mf2, false), 0);
    EXPECT_GT(drain(r, Read::Export).size(), 100u);
    EXPECT_EQ(QVector<qint64>({r.exportStartTime(), r.playbackPosition(), r.startTime(), r.loadedIndex()}),
              QVector<qint64>({mf2.start.toSecsSinceEpoch(), 10, mp4.start.toSecsSinceEpoch(), 0}));
    const std::vector<Frame> rest = drain(r);
    ASSERT_EQ(rest.size(), whole.size() - 10);
    for (size_t i = 0; i < rest.size(); ++i)
        ASSERT_EQ(rest[i].bytes, whole[i + 10].bytes) << i;

    // Export headers: the channel's own parameter sets and the AAC configuration.
    uint8_t header[4096];
    const int video = r.videoHeaderForChannel(0, 1, header, sizeof header);
    EXPECT_EQ(QByteArray(reinterpret_cast<char *>(header), video), r.exportVideoTracks()[1].config);
    EXPECT_EQ(r.h265HeaderForSize(320, 240, header, sizeof header), video);
    const QByteArray asc = r.exportAudioDescription().config;
    ASSERT_FALSE(asc.isEmpty());
    EXPECT_EQ(r.videoHeaderForChannel(1, 0, header, sizeof header), asc.size());
    EXPECT_EQ(r.videoHeaderForChannel(0, 5, header, sizeof header), 0);
}

// Damaged recordings fail clearly or are cut cleanly; nothing handed out
// lies outside the buffer.
TEST(RecordLoads, DamagedRecordings)
{
    int checked = 0;
    for (const QJsonValue &v : manifest("record-mixed")["entries"].toArray()) {
        const QJsonObject m = v.toObject();
        const QString damage = m["damage"].toString();
        if (damage.isEmpty())
            continue;
        SCOPED_TRACE(damage.toStdString());
        FileRecord rec;
        rec.path = fixtureDir() + "/record-mixed/" + m["path"].toString();
        rec.isMF2 = quint32(m["isMF2"].toInt());
        rec.start = QDateTime::fromSecsSinceEpoch(m["start"].toVariant().toLongLong());
        rec.trailer = FileTrailer(cardfiles::trailer(m["name"].toString().toUtf8(), 2, quint32(m["duration"].toInt())));
        Reader r;
        const qint64 bytes = r.loadFileForPlayback(0, rec, false);
        const std::vector<Frame> frames = drain(r);
        const int full = m["frames"].toArray().at(0).toInt(), video = count(frames, FrameIndexEntry::Video, 0);
        if (damage == "bad-magic" || damage == "zero-length")
            EXPECT_TRUE(bytes < 1 && frames.empty());
        else if (damage == "size-past-end" || damage == "truncated")
            EXPECT_LT(video, full);
        else
            EXPECT_EQ(video, full);
        for (const Frame &f : frames)
            EXPECT_LE(int(f.entry.size), f.bytes.size());
        ++checked;
    }
    EXPECT_EQ(checked, 6);
}

// Banks against the manifest, the backward index and seeks.
TEST(BankLoads, MatchTheManifestForwardAndBackward)
{
    Reader r;
    ASSERT_EQ(r.openIndexFile(fixtureDir() + "/index"), 0);
    ASSERT_GT(r.loadBanks(fixtureDir() + "/index"), 0);
    const QJsonObject card = manifest("index");
    const int channels = card["channels"].toInt();
    for (int i = 0; i < r.banks().size(); ++i) {
        SCOPED_TRACE(i);
        const BankEntry bank = r.banks()[i];
        QJsonObject m;
        for (const QJsonValue &v : card["entries"].toArray())
            if (v.toObject()["bankSeq"].toInt() == bank.bankSeq)
                m = v.toObject();
        ASSERT_EQ(r.loadBankForPlayback(i, bank, false, true), 0);
        const std::vector<Frame> forward = drain(r);
        EXPECT_EQ(int(forward.size()), m["entryCount"].toInt());
        int audioBytes = 0;
        for (const Frame &f : forward)
            audioBytes += f.entry.marker == FrameIndexEntry::Audio ? int(f.entry.size) : 0;
        EXPECT_EQ(audioBytes, m["audioBytes"].toInt());
        EXPECT_EQ(count(forward, FrameIndexEntry::Gps), m["gpsSamples"].toInt());
        EXPECT_EQ(int(r.gsensorSamples().size()), m["gsensorSamples"].toInt());
        for (int ch = 0; ch < channels; ++ch)
            EXPECT_EQ(count(forward, FrameIndexEntry::Video, ch), m["frames"].toArray()[ch].toInt());

        // Backward (one position serves both indexes, so load again): every
        // frame from its channel's first key frame on exactly once, each GOP
        // key frame first, the GOPs of a channel latest first.
        ASSERT_EQ(r.loadBankForPlayback(i, bank, true, true), 0);
        std::multiset<std::pair<int, uint32_t>> want, got;
        std::set<int> keyed;
        for (const Frame &f : forward)
            if (f.entry.marker == FrameIndexEntry::Video && (f.entry.gop == 0 || keyed.count(f.entry.channel))) {
                keyed.insert(f.entry.channel);
                want.insert({f.entry.channel, uint32_t(f.entry.payloadOffset)});
            }
        std::map<int, std::pair<int, int64_t>> last; // channel -> GOP position, key-frame time
        for (const Frame &f : drain(r, Read::Backward)) {
            const FrameIndexEntry &e = f.entry;
            if (e.marker != FrameIndexEntry::Video)
                continue;
            got.insert({e.channel, uint32_t(e.payloadOffset)});
            auto &[gop, keyMs] = last.try_emplace(e.channel, -1, INT64_MAX).first->second;
            EXPECT_TRUE(e.gop == 0 ? e.timeMs() < keyMs : e.gop == gop + 1) << int(e.channel) << " " << e.timeMs();
            keyMs = e.gop == 0 ? e.timeMs() : keyMs;
            gop = e.gop;
        }
        EXPECT_EQ(got, want);

        // Seeks inside the recording on both indexes (before and after are
        // the frame index's, tested in demux).
        std::vector<uint8_t> data(Capacity);
        FrameIndexEntry e;
        bool key = false;
        r.seek(0, bank.start + 2);
        ASSERT_GT(r.nextFrame(e, data.data(), Capacity), 0);
        EXPECT_TRUE(e.isKeyFrame() && e.channel == 0 && int64_t(e.sec) >= bank.start + 1 && int64_t(e.sec) <= bank.start + 2) << e.sec;
        r.seek(5, bank.start + 2);
        ASSERT_GT(r.nextFrameBackward(data.data(), Capacity, e, &key), 0);
        EXPECT_TRUE(key && e.channel == 0 && int64_t(e.sec) == bank.start + 2) << e.sec;
    }
}

// The GPX track of `telemetry` read back by gpsbabel, against the JSON form.
TEST(TelemetryCommand, GpxReadsBackWithGpsbabel)
{
    const QString card = fixtureDir() + "/record";
    const QJsonArray gps = QJsonDocument::fromJson(toolOutput(Tool, {"telemetry", card, "--entry", "0"})).object()["gps"].toArray();
    ASSERT_EQ(gps.size(), manifest("record")["entries"].toArray()[0].toObject()["gpsSamples"].toInt());
    const QByteArray gpx = toolOutput(Tool, {"telemetry", card, "--entry", "0", "--format", "gpx"});
    const QList<QByteArray> rows = toolOutput("gpsbabel", {"-t", "-i", "gpx", "-f", "-", "-o", "unicsv", "-F", "-"}, gpx).trimmed().split('\n');
    ASSERT_EQ(rows.size(), gps.size() + 1);
    EXPECT_EQ(rows[0].trimmed(), "No,Latitude,Longitude,Speed,Date,Time");
    for (int i = 0; i < gps.size(); ++i) {
        const QList<QByteArray> cols = rows[i + 1].split(',');
        const QJsonObject s = gps[i].toObject();
        EXPECT_NEAR(cols[1].toDouble(), s["lat"].toDouble(), 1e-5);
        EXPECT_NEAR(cols[2].toDouble(), s["lon"].toDouble(), 1e-5);
        EXPECT_NEAR(cols[3].toDouble(), s["speed"].toDouble() / 3.6, 0.01);
        EXPECT_GT(s["lat"].toDouble(), 47.0); // decimal degrees, not ddmm.mmmm
    }
    const ProcessRun bad = runProcess(Tool, {"telemetry", card, "--entry", "99"});
    EXPECT_EQ(std::pair(bad.exitCode, int(bad.err.count('\n'))), std::pair(1, 1));
}
