// The fixture cards judged from outside: fields read back at their documented
// offsets with plain byte reads, media checked with ffprobe and ffmpeg, the
// settings digest with md5sum and the NMEA text with gpsbabel.
#include "cardgen_test_util.h"
#include "fixture_paths.h"

#include <QCryptographicHash>
#include <QDir>
#include <QJsonArray>
#include <QSet>
#include <cstring>
#include <gtest/gtest.h>

namespace {

QString card(const QString &name) { return QDir(fixtureDir()).filePath(name); }
QJsonObject manifest(const QString &name) { return readJson(card(name) + QStringLiteral(".json")); }

int asInt(const QJsonValue &v) { return int(v.toDouble()); }
qint64 asI64(const QJsonValue &v) { return qint64(v.toDouble()); }

struct BankWalk
{
    QMap<int, QByteArray> video;   // per channel, payloads joined
    QMap<int, int> frames;
    QByteArray nmea;
    int entries = 0;
};

// Walks a bank's frame data the way the layout describes it: 45-byte entries
// from 33792, each followed by its payload, up to the header's data end.
BankWalk walkBank(const QByteArray &bank, qint64 dataEnd)
{
    BankWalk w;
    for (qint64 p = 33792; p + 45 <= dataEnd;) {
        const quint16 marker = quint16(leAt(bank, int(p), 2));
        const qint64 size = qint32(leAt(bank, int(p) + 10, 4));
        if (size < 0 || p + 45 + size > dataEnd)
            break;
        const QByteArray payload = bank.mid(int(p) + 45, int(size));
        const int channel = quint8(bank.at(int(p) + 25));
        if (marker == 0x7777) {
            w.video[channel] += payload;
            ++w.frames[channel];
        } else if (marker == 0x7780) {
            w.nmea += payload;
        }
        ++w.entries;
        p += 45 + size;
    }
    return w;
}

QByteArray bankOf(const QString &cardName, const QJsonObject &e)
{
    QString path = e[QStringLiteral("path")].toString();
    if (QDir::isRelativePath(path))
        path = QDir(card(cardName)).filePath(path);
    return readBytes(path, asI64(e[QStringLiteral("offset")]), asI64(e[QStringLiteral("bankSize")]));
}

class IndexCards : public testing::TestWithParam<const char *> {};

// Index head, setup block and every bank header at their offsets.
TEST_P(IndexCards, HeadersSitAtTheirOffsets)
{
    const QString name = QString::fromLatin1(GetParam());
    const QJsonObject m = manifest(name);
    ASSERT_FALSE(m.isEmpty()) << "no manifest for " << GetParam();
    const QByteArray index = readBytes(QDir(card(name)).filePath(m[QStringLiteral("indexFile")].toString()));
    ASSERT_GE(index.size(), 512431);
    const qint64 area = qint64(leAt(index, 20, 8));
    EXPECT_EQ((area - 209715200) / 2147483648LL + 1, asInt(m[QStringLiteral("dataFiles")]));
    EXPECT_EQ(quint8(index.at(28)), asInt(m[QStringLiteral("channels")]));
    EXPECT_EQ(leAt(index, 84, 4), quint64(asI64(m[QStringLiteral("bankSize")])));

    const QByteArray setup = index.mid(512000, 431);
    const QString password = m[QStringLiteral("password")].toString();
    EXPECT_EQ(setup.mid(18, 2) == "pw", !password.isEmpty());
    for (int i = 0; i < password.size(); ++i)
        EXPECT_EQ(quint8(setup.at(20 + i)), quint8(password.at(i).toLatin1() - 20)) << "password byte " << i;
    EXPECT_EQ(setup.mid(94, 10), QByteArray("Acme Fleet"));

    const qint64 headerAt = asI64(m[QStringLiteral("headerAt")]);
    const qint64 bankSize = asI64(m[QStringLiteral("bankSize")]);
    for (const QJsonValue &v : m[QStringLiteral("entries")].toArray()) {
        const QJsonObject e = v.toObject();
        if (e[QStringLiteral("damage")].toString() == QLatin1String("truncated"))
            continue;
        const QByteArray bank = bankOf(name, e);
        ASSERT_EQ(bank.size(), bankSize);
        // Byte 162 of the first 203 bytes says where the header is.
        const char digit = bank.at(162);
        EXPECT_EQ(digit >= '2' && digit <= '9', headerAt == bankSize - 204800);
        const QByteArray h = bank.mid(int(headerAt), 203);
        const bool badMagic = e[QStringLiteral("damage")].toString() == QLatin1String("bad-magic");
        EXPECT_EQ(leAt(h, 0, 2) == 0x1111, !badMagic);
        EXPECT_EQ(leAt(h, 2, 2), quint64(asInt(e[QStringLiteral("bankSeq")])));
        EXPECT_EQ(h.at(4), 1);
        EXPECT_EQ(leAt(h, 7, 4), quint64(asI64(e[QStringLiteral("dataEnd")])));
        EXPECT_EQ(qint32(leAt(h, 19, 4)), asI64(e[QStringLiteral("end")]));
        EXPECT_EQ(qint32(leAt(h, 23, 4)), asI64(e[QStringLiteral("start")]));
        EXPECT_EQ(quint8(h.at(27)), asInt(e[QStringLiteral("status")]));
        EXPECT_EQ(h.at(27) != 0, e[QStringLiteral("event")].toBool());
        EXPECT_EQ(leAt(h, 32, 4), quint64(asI64(e[QStringLiteral("sortKey")])));
        EXPECT_EQ(quint8(h.at(36)), asInt(e[QStringLiteral("channels")]));
        EXPECT_EQ(h.mid(48, 4), m[QStringLiteral("model")].toString().toLatin1());
        EXPECT_EQ(quint8(h.at(182)), 1) << "320x240 has resolution code 1";
    }
    for (const QJsonValue &v : m[QStringLiteral("emptyBanks")].toArray()) {
        const QJsonObject e = v.toObject();
        const QByteArray h = readBytes(QDir(card(name)).filePath(e[QStringLiteral("path")].toString()),
                                       asI64(e[QStringLiteral("offset")]) + 16384, 203);
        EXPECT_EQ(leAt(h, 0, 2), 0x1111u);
        EXPECT_EQ(h.at(4), 0) << "an unused bank must not look like a recording";
    }
}

// Channel 0's H.264 of the first bank decodes cleanly with ffmpeg, frame for
// frame, and its $GPRMC text reads as a track in gpsbabel.
TEST_P(IndexCards, BankMediaDecodesWithFfmpegAndGpsbabel)
{
    const QString name = QString::fromLatin1(GetParam());
    const QJsonObject m = manifest(name);
    const QJsonObject e = m[QStringLiteral("entries")].toArray().first().toObject();
    const BankWalk w = walkBank(bankOf(name, e), asI64(e[QStringLiteral("dataEnd")]));
    EXPECT_EQ(w.entries, asInt(e[QStringLiteral("entryCount")]));
    ASSERT_FALSE(w.video.value(0).isEmpty());

    const RunResult dec = run(QStringLiteral("ffmpeg"),
                              {"-v", "error", "-f", "h264", "-i", "-", "-f", "framemd5", "-"}, w.video.value(0));
    EXPECT_EQ(dec.exitCode, 0);
    EXPECT_TRUE(dec.err.isEmpty()) << dec.err.constData();
    int decoded = 0;
    for (const QByteArray &line : dec.out.split('\n'))
        decoded += !line.isEmpty() && !line.startsWith('#');
    EXPECT_EQ(decoded, asInt(e[QStringLiteral("frames")].toArray().at(0)));
    EXPECT_EQ(w.frames.value(0), decoded);

    const RunResult gps = run(QStringLiteral("gpsbabel"),
                              {"-t", "-i", "nmea", "-f", "-", "-o", "unicsv", "-F", "-"}, w.nmea);
    EXPECT_EQ(gps.exitCode, 0) << gps.err.constData();
    EXPECT_EQ(gps.out.trimmed().split('\n').size() - 1, asInt(e[QStringLiteral("gpsSamples")]));
}

INSTANTIATE_TEST_SUITE_P(Fixtures, IndexCards, testing::Values("index", "index-dat", "index-pw", "index-damaged"));

// Archive head, table and the banks it carries.
TEST(CardgenFixtures, ArchiveHeadTableAndBanks)
{
    for (const char *source : {"index-dat", "index-pw"}) {
        const QJsonObject a = manifest(QString::fromLatin1(source))[QStringLiteral("archive")].toObject();
        const QByteArray smb = readBytes(a[QStringLiteral("path")].toString());
        ASSERT_GE(smb.size(), 556) << source;
        const int banks = asInt(a[QStringLiteral("bankCount")]);
        const qint64 bankSize = asI64(a[QStringLiteral("bankSize")]);
        EXPECT_EQ(leAt(smb, 0, 4), 0x1111u);
        EXPECT_EQ(leAt(smb, 4, 4), 0x2222u);
        const QString password = a[QStringLiteral("password")].toString();
        EXPECT_EQ(leAt(smb, 520, 4), password.isEmpty() ? 0u : 1u);
        EXPECT_EQ(smb.mid(524, 12), password.toUtf8().leftJustified(12, '\0'));
        EXPECT_EQ(leAt(smb, 540, 4), quint64(asInt(a[QStringLiteral("channels")])));
        EXPECT_EQ(leAt(smb, 544, 4), quint64(banks));
        EXPECT_EQ(leAt(smb, 552, 4), quint64(bankSize));
        EXPECT_EQ(smb.size(), 556 + 72 * banks + banks * bankSize);
        const QJsonArray entries = a[QStringLiteral("entries")].toArray();
        EXPECT_EQ(leAt(smb, 548, 4), quint64(asI64(entries.first().toObject()[QStringLiteral("dataEnd")])));
        for (int i = 0; i < banks; ++i) {
            const QJsonObject e = entries.at(i).toObject();
            const int rec = 556 + 72 * i;
            EXPECT_EQ(qint64(leAt(smb, rec + 32, 8)), asI64(e[QStringLiteral("start")]));
            EXPECT_EQ(leAt(smb, rec + 48, 4), quint64(asI64(e[QStringLiteral("sortKey")])));
            EXPECT_EQ(leAt(smb, rec + 54, 2), quint64(asInt(e[QStringLiteral("bankSeq")])));
            // The header of a bank in an archive is always near its end.
            const QByteArray h = smb.mid(int(556 + 72 * banks + i * bankSize + bankSize - 204800), 203);
            EXPECT_EQ(leAt(h, 0, 2), 0x1111u);
            EXPECT_EQ(qint32(leAt(h, 23, 4)), asI64(e[QStringLiteral("start")]));
        }
    }
}

// Every MP4 of the record fixtures has the streams, codecs, sizes and length
// ffprobe should see.
TEST(CardgenFixtures, Mp4StreamsAsFfprobeSeesThem)
{
    int checked = 0;
    for (const char *name : {"record", "record-mixed", "record-16"}) {
        const QJsonObject m = manifest(QString::fromLatin1(name));
        const QJsonArray sizes = m[QStringLiteral("sizes")].toArray();
        for (const QJsonValue &v : m[QStringLiteral("entries")].toArray()) {
            const QJsonObject e = v.toObject();
            if (e[QStringLiteral("container")].toString() != QLatin1String("mp4") || !e[QStringLiteral("damage")].isNull())
                continue;
            const QString path = QDir(card(QString::fromLatin1(name))).filePath(e[QStringLiteral("path")].toString());
            const RunResult r = run(QStringLiteral("ffprobe"),
                                    {"-v", "error", "-show_streams", "-show_format", "-of", "json", path});
            ASSERT_EQ(r.exitCode, 0) << r.err.constData();
            EXPECT_TRUE(r.err.isEmpty()) << path.toStdString() << ": " << r.err.constData();
            const QJsonObject probe = QJsonDocument::fromJson(r.out).object();
            int video = 0, audio = 0, data = 0;
            for (const QJsonValue &s : probe[QStringLiteral("streams")].toArray()) {
                const QJsonObject st = s.toObject();
                const QString type = st[QStringLiteral("codec_type")].toString();
                const double duration = st[QStringLiteral("duration")].toString().toDouble();
                EXPECT_NEAR(duration, asInt(e[QStringLiteral("duration")]), 0.1) << path.toStdString();
                if (type == QLatin1String("video")) {
                    EXPECT_EQ(st[QStringLiteral("codec_name")].toString(), QStringLiteral("hevc"));
                    const QJsonArray size = sizes.at(video).toArray();
                    EXPECT_EQ(st[QStringLiteral("width")].toInt(), size.at(0).toInt());
                    EXPECT_EQ(st[QStringLiteral("height")].toInt(), size.at(1).toInt());
                    EXPECT_EQ(st[QStringLiteral("nb_frames")].toString().toInt(),
                              e[QStringLiteral("frames")].toArray().at(video).toInt());
                    ++video;
                } else if (type == QLatin1String("audio")) {
                    EXPECT_EQ(st[QStringLiteral("codec_name")].toString(), QStringLiteral("aac"));
                    ++audio;
                } else if (type == QLatin1String("data")) {
                    EXPECT_EQ(st[QStringLiteral("nb_frames")].toString().toInt(), asInt(e[QStringLiteral("dataPackets")]));
                    ++data;
                }
            }
            EXPECT_EQ(video, asInt(e[QStringLiteral("videoStreams")])) << path.toStdString();
            EXPECT_EQ(audio, 1);
            EXPECT_EQ(data, 1);
            ++checked;
        }
    }
    EXPECT_EQ(checked, 3 + 3 + 1);
}

// The trailer stands at end - 2048 (older form: end - 1024, with the name
// repeated at 936) and names its own file, or another one when damaged so.
TEST(CardgenFixtures, TrailersAtTheirPlace)
{
    int checked = 0;
    for (const char *name : {"record", "record-mixed", "record-mf2pw", "record-16"}) {
        const QJsonObject m = manifest(QString::fromLatin1(name));
        for (const QJsonValue &v : m[QStringLiteral("entries")].toArray()) {
            const QJsonObject e = v.toObject();
            const QString damage = e[QStringLiteral("damage")].toString();
            if (damage == QLatin1String("zero-length") || damage == QLatin1String("truncated"))
                continue;
            const QString path = QDir(card(QString::fromLatin1(name))).filePath(e[QStringLiteral("path")].toString());
            const bool old = e[QStringLiteral("trailer")].toString() == QLatin1String("old");
            const QByteArray t = readBytes(path, old ? -1024 : -2048, old ? 1000 : 1696);
            const QByteArray fileName = path.section(QLatin1Char('/'), -1).toLatin1();
            EXPECT_EQ(t.left(28) == fileName.left(28), damage != QLatin1String("foreign-trailer")) << path.toStdString();
            EXPECT_EQ(quint8(t.at(64)), asInt(e[QStringLiteral("trailerChannels")]));
            EXPECT_EQ(leAt(t, 68, 4), quint64(m[QStringLiteral("sizes")].toArray().at(0).toArray().at(0).toInt()));
            EXPECT_EQ(leAt(t, 132, 4), quint64(asI64(e[QStringLiteral("start")])));
            EXPECT_EQ(leAt(t, 136, 4), quint64(asInt(e[QStringLiteral("duration")]) * (old ? 1000 : 1)));
            if (old)
                EXPECT_EQ(t.mid(936, 28), t.left(28));
            else
                EXPECT_NE(readBytes(path, -1024, 28), t.left(28)) << "a current trailer must not pass for an older one";
            ++checked;
        }
    }
    EXPECT_EQ(checked, 3 + 4 + 4 + 3 + 1) << "recordings with a trailer";
}

// MF2 files: magic, header and the scrambled password.
TEST(CardgenFixtures, Mf2HeadersAndPassword)
{
    const struct { const char *card; QByteArray magic; QByteArray password; } cases[] = {
        {"record-mixed", "MF2H", ""}, {"record-mf2pw", "MF2I", "abcd"}};
    const quint32 key0 = 0x5A3C9E71;
    for (const auto &c : cases) {
        const QJsonObject m = manifest(QString::fromLatin1(c.card));
        int seen = 0;
        for (const QJsonValue &v : m[QStringLiteral("entries")].toArray()) {
            const QJsonObject e = v.toObject();
            if (e[QStringLiteral("container")].toString() != QLatin1String("mf2") || !e[QStringLiteral("damage")].isNull())
                continue;
            const QByteArray f = readBytes(QDir(card(QString::fromLatin1(c.card))).filePath(e[QStringLiteral("path")].toString()));
            ASSERT_EQ(f.left(4), c.magic);
            const bool locked = c.magic == "MF2I";
            const QByteArray h = f.mid(16, locked ? 88 : 52);
            const int tracks = int(leAt(h, locked ? 84 : 48, 4));
            EXPECT_EQ(leAt(h, 0, 4), quint64(tracks) * 4128);
            EXPECT_EQ(tracks, asInt(e[QStringLiteral("trailerChannels")]) + 2);
            const QByteArray first = f.mid(16 + h.size(), 4128);
            EXPECT_EQ(first.left(8), QByteArray("MF2IMF2V"));
            EXPECT_EQ(leAt(first, 20, 4), 320u);
            EXPECT_GT(leAt(first, 4124, 4), 0u) << "video configuration missing";
            if (locked) {
                EXPECT_EQ(leAt(h, 40, 4), 0u);
                QByteArray plain;
                for (int i = 0; i < 32; ++i)
                    plain += char(quint8(h.at(44 + i)) ^ quint8(key0 >> (8 * (i % 4))));
                EXPECT_EQ(plain, c.password.leftJustified(32, '\0'));
            }
            ++seen;
        }
        EXPECT_GT(seen, 0) << c.card;
    }
}

// Every MF2 packet of every MF2 file walked from the header on: the counts of
// the manifest, audio stamped one second late, and each deliberate fault
// really present in the file that claims it.
TEST(CardgenFixtures, Mf2PacketsAndTheirFaults)
{
    QSet<QString> faultsSeen;
    for (const char *name : {"record-mixed", "record-mf2pw"}) {
        const QJsonObject m = manifest(QString::fromLatin1(name));
        for (const QJsonValue &v : m[QStringLiteral("entries")].toArray()) {
            const QJsonObject e = v.toObject();
            if (e[QStringLiteral("container")].toString() != QLatin1String("mf2"))
                continue;
            const QString damage = e[QStringLiteral("damage")].toString();
            const QByteArray f = readBytes(QDir(card(QString::fromLatin1(name))).filePath(e[QStringLiteral("path")].toString()));
            if (damage == QLatin1String("bad-magic")) {
                EXPECT_TRUE(f.left(4) != "MF2H" && f.left(4) != "MF2I");
                faultsSeen << damage;
                continue;
            }
            const bool locked = f.left(4) == "MF2I";
            const int headerSize = locked ? 88 : 52;
            qint64 p = 16 + headerSize + qint64(leAt(f, 16, 4));
            QMap<QByteArray, int> counts;
            QMap<int, qint64> lastVideo;
            qint64 firstAudio = -1;
            bool sizePastEnd = false, backward = false;
            while (p + 16 <= f.size()) {
                const QByteArray magic = f.mid(int(p), 4);
                if (magic != "MF2V" && magic != "MF2A" && magic != "MF2D")
                    break;
                const int track = quint8(f.at(int(p) + 4));
                const qint64 stamp = qint64(leAt(f, int(p) + 8, 4));
                const qint64 size = qint64(leAt(f, int(p) + 12, 4));
                if (p + 16 + size > f.size()) {
                    sizePastEnd = true;
                    break;
                }
                if (magic == "MF2V") {
                    backward |= lastVideo.contains(track) && stamp < lastVideo[track];
                    lastVideo[track] = stamp;
                    ++counts[magic + char('0' + track)];
                } else {
                    ++counts[magic];
                }
                if (magic == "MF2A" && firstAudio < 0)
                    firstAudio = stamp;
                p += 16 + size;
            }
            EXPECT_EQ(sizePastEnd, damage == QLatin1String("size-past-end")) << name;
            EXPECT_EQ(backward, damage == QLatin1String("time-backward")) << name;
            if (!damage.isEmpty()) {
                faultsSeen << damage;
                continue;
            }
            const bool old = e[QStringLiteral("trailer")].toString() == QLatin1String("old");
            EXPECT_EQ(p, f.size() - (old ? 1024 : 2048)) << "packets must end where the trailer begins";
            EXPECT_EQ(firstAudio, 1000);
            EXPECT_EQ(counts.value("MF2V0"), e[QStringLiteral("frames")].toArray().at(0).toInt());
            EXPECT_EQ(counts.value("MF2V1"), e[QStringLiteral("frames")].toArray().at(1).toInt());
            EXPECT_EQ(counts.value("MF2A"), asInt(e[QStringLiteral("audioFrames")]));
            EXPECT_EQ(counts.value("MF2D"), asInt(e[QStringLiteral("dataPackets")]));
        }
    }
    EXPECT_EQ(faultsSeen, (QSet<QString>{"bad-magic", "size-past-end", "time-backward"}));
}

// The damaged index banks carry the fault they claim, at the entry they name.
TEST(CardgenFixtures, IndexFaultsArePresent)
{
    const QJsonObject m = manifest(QStringLiteral("index-damaged"));
    const qint64 bankSize = asI64(m[QStringLiteral("bankSize")]);
    QSet<QString> seen;
    for (const QJsonValue &v : m[QStringLiteral("entries")].toArray()) {
        const QJsonObject e = v.toObject();
        const QString damage = e[QStringLiteral("damage")].toString();
        if (damage == QLatin1String("truncated")) {
            const QFileInfo data(QDir(card(QStringLiteral("index-damaged"))).filePath(e[QStringLiteral("path")].toString()));
            EXPECT_EQ(data.size() % bankSize, bankSize / 2);
            seen << damage;
        }
        if (damage != QLatin1String("time-backward") && damage != QLatin1String("size-past-end"))
            continue;
        const QByteArray bank = bankOf(QStringLiteral("index-damaged"), e);
        const qint64 dataEnd = asI64(e[QStringLiteral("dataEnd")]);
        const int target = asInt(e[QStringLiteral("damagedEntry")]);
        qint64 p = 33792, previousUs = 0;
        for (int i = 0; i < target; ++i) {
            previousUs = qint64(leAt(bank, int(p) + 14, 4)) * 1000000 + qint64(leAt(bank, int(p) + 18, 4));
            p += 45 + qint32(leAt(bank, int(p) + 10, 4));
        }
        const qint64 us = qint64(leAt(bank, int(p) + 14, 4)) * 1000000 + qint64(leAt(bank, int(p) + 18, 4));
        if (damage == QLatin1String("time-backward"))
            EXPECT_LT(us, previousUs);
        else
            EXPECT_GT(p + 45 + qint32(leAt(bank, int(p) + 10, 4)), dataEnd);
        seen << damage;
    }
    EXPECT_EQ(seen, (QSet<QString>{"truncated", "time-backward", "size-past-end"}));
}

// The MP4 data track, read back through ffmpeg, holds the telemetry items:
// one G-sensor item of ten samples and one GPS fix per packet.
TEST(CardgenFixtures, Mp4TelemetryItems)
{
    const QJsonObject e = manifest(QStringLiteral("record"))[QStringLiteral("entries")].toArray().first().toObject();
    const RunResult r = run(QStringLiteral("ffmpeg"), {"-v", "error", "-i", QDir(card(QStringLiteral("record"))).filePath(e[QStringLiteral("path")].toString()),
                                                        "-map", "0:d", "-c", "copy", "-f", "data", "-"});
    ASSERT_EQ(r.exitCode, 0) << r.err.constData();
    const QByteArray d = r.out;
    int gps = 0, gsensor = 0;
    // Packets follow each other in the stream; each begins with its 12-byte prefix.
    for (int packet = 0; packet + 12 <= d.size();) {
        int p = packet + 12;
        for (int item = 0; item < int(leAt(d, packet + 8, 4)); ++item) {
            const quint32 type = quint32(leAt(d, p, 4));
            const int count = int(leAt(d, p + 8, 4));
            if (type == 2) {
                const QByteArray body = d.mid(p + 32, int(leAt(d, p + 4, 4)));
                const int at = leAt(body, 0, 4) == 3 ? 12 : 96;
                double lat;
                const quint64 bits = leAt(body, at, 8);
                memcpy(&lat, &bits, 8);
                EXPECT_GT(lat, 4700.0) << "latitude in degrees and minutes";
                EXPECT_LT(lat, 4900.0);
                ++gps;
                p += 32 + body.size();
            } else if (type == 3) {
                gsensor += count;
                p += 32 + 20 * count;
            } else if (type == 1) {
                p += 32;
                for (int i = 0; i < count; ++i)
                    p += 20 + int(leAt(d, p + 16, 4));
            } else {
                p += 32 + (type == 4 ? 19 * count : 0);
            }
        }
        packet = p;
    }
    EXPECT_EQ(gps, asInt(e[QStringLiteral("gpsSamples")]));
    EXPECT_EQ(gsensor, asInt(e[QStringLiteral("gsensorSamples")]));
}

// md5sum agrees with the digest stored in the settings image.
TEST(CardgenFixtures, SettingsImageDigestMatchesMd5sum)
{
    const QByteArray image = readBytes(card(QStringLiteral("record/Config/ZidavOva.cfg")));
    ASSERT_EQ(image.size(), 18344);
    const RunResult r = run(QStringLiteral("md5sum"), {}, image.left(18216));
    ASSERT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out.left(32), image.mid(18216, 32));
    EXPECT_EQ(image.mid(18248), QByteArray(96, '\0'));
    EXPECT_EQ(leAt(image, 2228, 4), 2u) << "channel count";
    EXPECT_TRUE(QFileInfo::exists(card(QStringLiteral("record/.Pavona.cfg"))));
}

} // namespace
