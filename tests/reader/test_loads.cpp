// Whole-recording loads through the Reader on the generated cards: MP4
// against ffmpeg and ffprobe, MF2 and banks against the generator's
// manifests, the backward index, seeks, damaged recordings, the export
// load beside playback, and the CLI's dumps and GPX track.
#include "CardFiles.h"
#include "fixture_paths.h"
#include "Reader.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <set>

namespace {

constexpr size_t Capacity = 8 << 20;

QJsonObject manifest(const QString &card)
{
    QFile f(fixtureDir() + "/" + card + ".json");
    f.open(QIODevice::ReadOnly);
    return QJsonDocument::fromJson(f.readAll()).object();
}

struct ToolRun {
    int code = -1;
    QByteArray out, err;
};

ToolRun run(const QString &program, const QStringList &args)
{
    QProcess p;
    p.start(program, args);
    ToolRun r;
    if (!p.waitForStarted(10000) || !p.waitForFinished(300000))
        return r;
    r.code = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = p.readAllStandardOutput();
    r.err = p.readAllStandardError();
    return r;
}

QString tool()
{
    return binaryDir() + "/cli/zidavova-tool";
}

struct Frame {
    FrameIndexEntry entry;
    QByteArray bytes;
};

// Everything a next-frame operation hands out.
template <typename Next>
std::vector<Frame> drain(Next next)
{
    std::vector<Frame> frames;
    std::unique_ptr<uint8_t[]> data(new uint8_t[Capacity]);
    FrameIndexEntry e;
    int len = 0;
    while ((len = next(e, data.get())) > 0)
        frames.push_back({e, QByteArray(reinterpret_cast<const char *>(data.get()), len)});
    return frames;
}

std::vector<Frame> playbackFrames(Reader &r)
{
    return drain([&](FrameIndexEntry &e, uint8_t *d) { return r.nextFrame(e, d, Capacity); });
}

std::vector<Frame> backwardFrames(Reader &r)
{
    return drain([&](FrameIndexEntry &e, uint8_t *d) { return r.nextFrameBackward(d, Capacity, e, nullptr); });
}

std::vector<Frame> exportFrames(Reader &r)
{
    return drain([&](FrameIndexEntry &e, uint8_t *d) { return r.nextFrameExport(d, Capacity, e); });
}

int count(const std::vector<Frame> &frames, uint16_t marker, int channel = -1)
{
    int n = 0;
    for (const Frame &f : frames)
        n += f.entry.marker == marker && (channel < 0 || f.entry.channel == channel);
    return n;
}

FileRecord fileRecord(Reader &r, const QString &card, int entry)
{
    r.scanCard(fixtureDir() + "/" + card);
    return r.files().value(entry);
}

int ffprobePackets(const QString &path, const QString &stream, bool nonNegative)
{
    const ToolRun p = run("ffprobe", {"-v", "error", "-select_streams", stream, "-show_entries", "packet=pts", "-of", "csv=p=0", path});
    int n = 0;
    for (const QByteArray &line : p.out.split('\n'))
        if (!line.trimmed().isEmpty() && (!nonNegative || line.split(',').first().toLongLong() >= 0))
            ++n;
    return n;
}

} // namespace

// Record-file loads against what the generator wrote: counts per channel,
// first and last picture times, telemetry, the serials and fixed fields.
TEST(RecordLoads, MatchTheManifest)
{
    struct Case {
        const char *card;
        int entry;
        const char *password;
    };
    const Case cases[] = {{"record", 0, nullptr}, {"record", 2, nullptr}, {"record-mixed", 1, nullptr},
                          {"record-mixed", 3, nullptr}, {"record-mf2pw", 1, "abcd"}};
    for (const Case &c : cases) {
        SCOPED_TRACE(QStringLiteral("%1 entry %2").arg(c.card).arg(c.entry).toStdString());
        Reader r;
        const QByteArray password = c.password;
        r.setPasswordPrompt([password](PasswordKind, const QByteArray &, int) { return !password.isEmpty(); });
        const FileRecord rec = fileRecord(r, c.card, c.entry);
        const QJsonObject m = manifest(c.card)["entries"].toArray().at(c.entry).toObject();
        ASSERT_EQ(rec.path.section('/', -1), m["name"].toString());
        ASSERT_GT(r.loadFileForPlayback(c.entry, rec, false), 0);
        const std::vector<Frame> frames = playbackFrames(r);
        const qint64 start = m["start"].toVariant().toLongLong();
        const QJsonArray perChannel = m["frames"].toArray();
        ASSERT_EQ(r.videoTracks().size(), size_t(perChannel.size()));
        for (int ch = 0; ch < perChannel.size(); ++ch)
            EXPECT_EQ(count(frames, FrameIndexEntry::Video, ch), perChannel[ch].toInt()) << "channel " << ch;
        const bool mf2 = m["isMF2"].toInt() == 1;
        const int audio = mf2 ? m["audioFrames"].toInt() : 2 * ffprobePackets(rec.path, "a", true);
        EXPECT_EQ(count(frames, FrameIndexEntry::Audio), audio);
        EXPECT_EQ(count(frames, FrameIndexEntry::Gps), m["gpsSamples"].toInt());
        EXPECT_EQ(int(r.gsensorSamples().size()), m["gsensorSamples"].toInt());
        EXPECT_EQ(r.audioDescription().sampleRate, 16000);
        EXPECT_EQ(r.audioDescription().channels, 1);
        EXPECT_EQ(r.loadedIndex(), c.entry);
        EXPECT_EQ(r.startTime(), start);
        ASSERT_FALSE(frames.empty());
        EXPECT_EQ(r.endTime(), qint64(frames.back().entry.sec));
        EXPECT_GE(r.endTime(), start + m["lastMediaMs"].toInt() / 1000);

        int64_t firstVideo = -1, lastVideo = -1, previous = 0;
        for (size_t i = 0; i < frames.size(); ++i) {
            const FrameIndexEntry &e = frames[i].entry;
            EXPECT_EQ(e.serial(), uint32_t(i));
            EXPECT_EQ(uint32_t(e.field28), 1u);
            EXPECT_EQ(int(e.catalogueIndex), c.entry);
            EXPECT_GE(e.timeMs(), previous);
            previous = e.timeMs();
            if (e.marker == FrameIndexEntry::Video) {
                if (firstVideo < 0)
                    firstVideo = e.timeMs();
                lastVideo = e.timeMs();
                EXPECT_EQ(frames[i].bytes.size(), e.size + r.videoTracks()[e.channel].config.size());
            }
        }
        EXPECT_EQ(firstVideo, start * 1000 + m["firstMediaMs"].toInt());
        EXPECT_EQ(lastVideo, start * 1000 + m["lastMediaMs"].toInt());
    }
}

// The dumps of `frames --dump` against ffmpeg's own Annex-B and ADTS output.
TEST(RecordLoads, DumpsMatchFfmpeg)
{
    Reader r;
    const FileRecord rec = fileRecord(r, "record", 1);
    QTemporaryDir dump;
    const ToolRun frames = run(tool(), {"frames", fixtureDir() + "/record", "--entry", "1", "--dump", dump.path()});
    ASSERT_EQ(frames.code, 0) << frames.err.constData();
    std::map<int, std::vector<std::pair<int, int>>> sizes; // channel -> (len, size)
    for (const QByteArray &line : frames.out.split('\n')) {
        const QJsonObject o = QJsonDocument::fromJson(line).object();
        if (o["marker"].toInt() == FrameIndexEntry::Video)
            sizes[o["ch"].toInt()].push_back({o["len"].toInt(), o["size"].toInt()});
    }
    ASSERT_EQ(sizes.size(), 2u);
    for (const auto &[ch, list] : sizes) {
        SCOPED_TRACE(ch);
        QFile f(dump.filePath(QStringLiteral("video-%1.es").arg(ch)));
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        const QByteArray ours = f.readAll();
        QByteArray payloads;
        int at = 0;
        for (const auto &[len, size] : list) {
            payloads += ours.mid(at + len - size, size);
            at += len;
        }
        EXPECT_EQ(at, ours.size());
        const ToolRun ff = run("ffmpeg", {"-v", "error", "-i", rec.path, "-map", QStringLiteral("0:v:%1").arg(ch), "-c",
                                      "copy", "-bsf:v", "hevc_mp4toannexb", "-f", "hevc", "-"});
        ASSERT_EQ(ff.code, 0);
        EXPECT_TRUE(payloads == ff.out) << "channel " << ch << ": " << payloads.size() << " vs " << ff.out.size();
        EXPECT_EQ(int(list.size()), ffprobePackets(rec.path, QStringLiteral("v:%1").arg(ch), false));
    }
    const ToolRun decode = run("ffmpeg", {"-v", "error", "-f", "aac", "-i", dump.filePath("audio.es"), "-f", "null", "-"});
    EXPECT_EQ(decode.code, 0);
    EXPECT_TRUE(decode.err.isEmpty()) << decode.err.constData();
}

// The export load keeps its own buffer, index, position, tables and times.
TEST(RecordLoads, ExportLeavesPlaybackAlone)
{
    Reader r;
    const FileRecord mp4 = fileRecord(r, "record-mixed", 0);
    const FileRecord mf2 = r.files().value(1);
    ASSERT_GT(r.loadFileForPlayback(0, mp4, false), 0);
    const std::vector<Frame> whole = playbackFrames(r);
    ASSERT_GT(r.loadFileForPlayback(0, mp4, true), 0);
    std::unique_ptr<uint8_t[]> data(new uint8_t[Capacity]);
    FrameIndexEntry e;
    for (int i = 0; i < 10; ++i)
        ASSERT_GT(r.nextFrame(e, data.get(), Capacity), 0);

    ASSERT_GT(r.loadFileForExport(1, mf2, false), 0);
    const std::vector<Frame> exported = exportFrames(r);
    EXPECT_GT(exported.size(), 100u);
    EXPECT_EQ(r.exportStartTime(), mf2.start.toSecsSinceEpoch());

    EXPECT_EQ(r.playbackPosition(), 10);
    EXPECT_EQ(r.startTime(), mp4.start.toSecsSinceEpoch());
    EXPECT_EQ(r.loadedIndex(), 0);
    const std::vector<Frame> rest = playbackFrames(r);
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
    const QJsonArray entries = manifest("record-mixed")["entries"].toArray();
    int checked = 0;
    for (const QJsonValue &v : entries) {
        const QJsonObject m = v.toObject();
        if (m["damage"].isNull())
            continue;
        const QString damage = m["damage"].toString();
        SCOPED_TRACE(damage.toStdString());
        FileRecord rec;
        rec.path = fixtureDir() + "/record-mixed/" + m["path"].toString();
        rec.isMF2 = quint32(m["isMF2"].toInt());
        rec.start = QDateTime::fromSecsSinceEpoch(m["start"].toVariant().toLongLong());
        rec.trailer = FileTrailer(cardfiles::trailer(m["name"].toString().toUtf8(), 2, quint32(m["duration"].toInt())));
        Reader r;
        const qint64 bytes = r.loadFileForPlayback(0, rec, false);
        const std::vector<Frame> frames = playbackFrames(r);
        const int full = m["frames"].toArray().at(0).toInt();
        if (damage == "bad-magic" || damage == "zero-length") {
            EXPECT_LT(bytes, 1);
            EXPECT_TRUE(frames.empty());
        } else if (damage == "size-past-end" || damage == "truncated") {
            EXPECT_LT(count(frames, FrameIndexEntry::Video, 0), full);
        } else {
            EXPECT_EQ(count(frames, FrameIndexEntry::Video, 0), full);
        }
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
    const QJsonArray entries = card["entries"].toArray();
    const int channels = card["channels"].toInt();
    for (int i = 0; i < r.banks().size(); ++i) {
        SCOPED_TRACE(i);
        const BankEntry bank = r.banks()[i];
        QJsonObject m;
        for (const QJsonValue &v : entries)
            if (v.toObject()["bankSeq"].toInt() == bank.bankSeq)
                m = v.toObject();
        ASSERT_EQ(r.loadBankForPlayback(i, bank, false, true), 0);
        const std::vector<Frame> forward = playbackFrames(r);
        EXPECT_EQ(int(forward.size()), m["entryCount"].toInt());
        int audioBytes = 0;
        for (const Frame &f : forward)
            if (f.entry.marker == FrameIndexEntry::Audio)
                audioBytes += f.entry.size;
        EXPECT_EQ(audioBytes, m["audioBytes"].toInt());
        EXPECT_EQ(count(forward, FrameIndexEntry::Gps), m["gpsSamples"].toInt());
        EXPECT_EQ(int(r.gsensorSamples().size()), m["gsensorSamples"].toInt());
        for (int ch = 0; ch < channels; ++ch)
            EXPECT_EQ(count(forward, FrameIndexEntry::Video, ch), m["frames"].toArray()[ch].toInt());

        // Backward (one position serves both indexes, so load again): per
        // channel key frames latest first, each GOP key frame first, every
        // frame from the first key frame on exactly once.
        ASSERT_EQ(r.loadBankForPlayback(i, bank, true, true), 0);
        const std::vector<Frame> backward = backwardFrames(r);
        for (int ch = 0; ch < channels; ++ch) {
            SCOPED_TRACE(ch);
            std::multiset<uint32_t> want, got;
            bool keySeen = false;
            for (const Frame &f : forward)
                if (f.entry.marker == FrameIndexEntry::Video && f.entry.channel == ch &&
                    (keySeen = keySeen || f.entry.gop == 0))
                    want.insert(uint32_t(f.entry.payloadOffset));
            int64_t lastKey = INT64_MAX;
            int keys = 0;
            const FrameIndexEntry *previous = nullptr;
            for (const Frame &f : backward) {
                if (f.entry.marker != FrameIndexEntry::Video || f.entry.channel != ch)
                    continue;
                got.insert(uint32_t(f.entry.payloadOffset));
                if (f.entry.gop == 0) {
                    EXPECT_LT(f.entry.timeMs(), lastKey);
                    lastKey = f.entry.timeMs();
                    ++keys;
                } else {
                    ASSERT_NE(previous, nullptr);
                    EXPECT_EQ(f.entry.gop, previous->gop + 1);
                }
                previous = &f.entry;
            }
            EXPECT_EQ(got, want);
            EXPECT_GE(keys, 2);
        }

        // Seeks: before, inside and after the recording.
        std::unique_ptr<uint8_t[]> data(new uint8_t[Capacity]);
        FrameIndexEntry e;
        r.seek(0, bank.start - 100);
        EXPECT_EQ(r.playbackPosition(), 0);
        r.seek(0, bank.start + 2);
        ASSERT_GT(r.nextFrame(e, data.get(), Capacity), 0);
        EXPECT_TRUE(e.isKeyFrame() && e.channel == 0);
        EXPECT_LE(int64_t(e.sec), bank.start + 2);
        EXPECT_GE(int64_t(e.sec), bank.start + 1);
        const qint64 inside = r.playbackPosition();
        r.seek(0, bank.end + 100);
        EXPECT_EQ(r.playbackPosition(), inside);
        r.seek(5, bank.start + 2);
        bool key = false;
        ASSERT_GT(r.nextFrameBackward(data.get(), Capacity, e, &key), 0);
        EXPECT_TRUE(key && e.channel == 0);
        EXPECT_EQ(int64_t(e.sec), bank.start + 2);
    }
}

// The next-frame operations never write past the caller's capacity.
TEST(BankLoads, NextFrameKeepsWithinTheCallersBuffer)
{
    Reader r;
    r.openIndexFile(fixtureDir() + "/index");
    r.loadBanks(fixtureDir() + "/index");
    ASSERT_EQ(r.loadBankForExport(r.banks().value(0), false), 0);
    std::vector<uint8_t> data(4096, 0xAA);
    const size_t capacity = 200;
    FrameIndexEntry e;
    int handed = 0, len = 0;
    while ((len = r.nextFrameExport(data.data(), capacity, e)) > 0) {
        EXPECT_LE(size_t(len), capacity);
        ++handed;
    }
    EXPECT_GT(handed, 0);
    for (size_t i = capacity; i < data.size(); ++i)
        ASSERT_EQ(data[i], 0xAA) << i;
}

// The GPX track of `telemetry` read back by gpsbabel, against the JSON form.
TEST(TelemetryCommand, GpxReadsBackWithGpsbabel)
{
    const QString card = fixtureDir() + "/record";
    const ToolRun json = run(tool(), {"telemetry", card, "--entry", "0"});
    ASSERT_EQ(json.code, 0) << json.err.constData();
    const QJsonArray gps = QJsonDocument::fromJson(json.out).object()["gps"].toArray();
    ASSERT_EQ(gps.size(), manifest("record")["entries"].toArray()[0].toObject()["gpsSamples"].toInt());
    QTemporaryDir tmp;
    const ToolRun gpx = run(tool(), {"telemetry", card, "--entry", "0", "--format", "gpx"});
    ASSERT_EQ(gpx.code, 0);
    QFile f(tmp.filePath("t.gpx"));
    f.open(QIODevice::WriteOnly);
    f.write(gpx.out);
    f.close();
    const ToolRun back = run("gpsbabel", {"-t", "-i", "gpx", "-f", f.fileName(), "-o", "unicsv", "-F", "-"});
    ASSERT_EQ(back.code, 0) << back.err.constData();
    const QList<QByteArray> rows = back.out.trimmed().split('\n');
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
    const ToolRun bad = run(tool(), {"telemetry", card, "--entry", "99"});
    EXPECT_EQ(bad.code, 1);
    EXPECT_EQ(bad.err.count('\n'), 1);
}
