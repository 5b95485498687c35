// The fixture cards judged from outside: fields read back at their documented
// offsets with plain byte reads, media checked with ffprobe and ffmpeg, the
// settings digest with md5sum and the NMEA text with gpsbabel.
#include "ProcessRun.h"
#include "fixture_paths.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>
#include <cstring>

namespace {

QString card(const QString &name) { return QDir(fixtureDir()).filePath(name); }
QJsonObject manifest(const char *name) { return QJsonDocument::fromJson(readFile(card(name) + ".json")).object(); }
qint64 num(const QJsonObject &o, const char *key) { return qint64(o.value(key).toDouble()); }
QString str(const QJsonObject &o, const char *key) { return o.value(key).toString(); }
QString pathIn(const char *cardName, const QJsonObject &e) { return QDir(card(cardName)).filePath(str(e, "path")); }

struct Field { int at, width; const char *key; };

void expectFields(const QByteArray &b, qint64 base, const QJsonObject &o, std::initializer_list<Field> fields)
{
    for (const Field &f : fields)
        EXPECT_EQ(leAt(b, base + f.at, f.width), quint64(num(o, f.key))) << f.key << " at " << base + f.at;
}

qint64 entryTimeUs(const QByteArray &bank, qint64 at) { return qint64(leAt(bank, at + 14, 4)) * 1000000 + qint64(leAt(bank, at + 18, 4)); }

// Index head, setup block, archive head and table, and every bank header at
// their offsets; each bank's 45-byte entries walked from 33792: the damaged
// ones carry the fault they claim at the entry they name, channel 0 of the
// first bank decodes cleanly with ffprobe frame for frame, and its $GPRMC
// text reads as a track in gpsbabel.
TEST(CardgenFixtures, IndexCardsAndArchives)
{
    int archives = 0;
    QSet<QString> faults;
    for (const char *name : {"index", "index-dat", "index-pw", "index-damaged"}) {
        SCOPED_TRACE(name);
        const QJsonObject m = manifest(name);
        const QByteArray index = readFile(QDir(card(name)).filePath(str(m, "indexFile")));
        ASSERT_GE(index.size(), 512431);
        EXPECT_EQ((qint64(leAt(index, 20, 8)) - 209715200) / 2147483648LL + 1, num(m, "dataFiles"));
        expectFields(index, 0, m, {{28, 1, "channels"}, {84, 4, "bankSize"}});
        const QByteArray password = str(m, "password").toLatin1();
        EXPECT_EQ(index.mid(512018, 2) == "pw", !password.isEmpty());
        for (int i = 0; i < password.size(); ++i)
            EXPECT_EQ(quint8(index.at(512020 + i)), quint8(password.at(i) - 20)) << "password byte " << i;
        EXPECT_EQ(index.mid(512094, 10), QByteArray("Acme Fleet"));
        for (const QJsonValue &v : m.value("emptyBanks").toArray()) {
            const QByteArray empty = readFile(pathIn(name, v.toObject()), num(v.toObject(), "offset") + 16384, 203);
            EXPECT_EQ(leAt(empty, 0, 2), 0x1111u);
            EXPECT_EQ(empty.at(4), 0) << "an unused bank must not look like a recording";
        }

        // Archive head, table and the banks it carries.
        const qint64 bankSize = num(m, "bankSize");
        const int h = int(num(m, "headerAt"));
        const QJsonObject a = m.value("archive").toObject();
        if (!a.isEmpty() && ++archives) {
            const QByteArray smb = readFile(str(a, "path"));
            const qint64 banks = num(a, "bankCount"), bankSize = num(a, "bankSize");
            ASSERT_EQ(smb.size(), 556 + 72 * banks + banks * bankSize);
            EXPECT_EQ(leAt(smb, 0, 8), 0x222200001111u);
            const QByteArray key = str(a, "password").toUtf8();
            EXPECT_EQ(leAt(smb, 520, 4), key.isEmpty() ? 0u : 1u);
            EXPECT_EQ(smb.mid(524, 12), key.leftJustified(12, '\0'));
            expectFields(smb, 0, a, {{540, 4, "channels"}, {544, 4, "bankCount"}, {552, 4, "bankSize"}});
            const QJsonArray entries = a.value("entries").toArray();
            expectFields(smb, 548, entries.first().toObject(), {{0, 4, "dataEnd"}});
            for (int i = 0; i < banks; ++i) {
                const QJsonObject e = entries.at(i).toObject();
                expectFields(smb, 556 + 72 * i, e, {{32, 8, "start"}, {48, 4, "sortKey"}, {54, 2, "bankSeq"}});
                // Each bank keeps its header where the card had it.
                const qint64 header = 556 + 72 * banks + i * bankSize + h;
                EXPECT_EQ(leAt(smb, header, 2), 0x1111u);
                expectFields(smb, header, e, {{23, 4, "start"}});
            }
        }
        for (const QJsonValue &v : m.value("entries").toArray()) {
            const QJsonObject e = v.toObject();
            const QString damage = str(e, "damage");
            if (damage == "truncated") {
                EXPECT_EQ(QFileInfo(pathIn(name, e)).size() % bankSize, bankSize / 2);
                faults << damage;
                continue;
            }
            const QByteArray bank = readFile(pathIn(name, e), num(e, "offset"), bankSize);
            ASSERT_EQ(bank.size(), bankSize);
            // A digit 2-9 at byte 162 puts the header near the bank's end.
            EXPECT_EQ(bank.at(162) >= '2' && bank.at(162) <= '9', h == bankSize - 204800);
            EXPECT_EQ(leAt(bank, h, 2) == 0x1111, damage != "bad-magic");
            expectFields(bank, h, e, {{2, 2, "bankSeq"}, {7, 4, "dataEnd"}, {19, 4, "end"}, {23, 4, "start"},
                                      {27, 1, "status"}, {32, 4, "sortKey"}, {36, 1, "channels"}});
            EXPECT_EQ(bank.at(h + 4), 1);
            EXPECT_EQ(bank.at(h + 27) != 0, e.value("event").toBool());
            EXPECT_EQ(bank.mid(h + 48, 4), str(m, "model").toLatin1());
            EXPECT_EQ(bank.at(h + 182), 1) << "320x240 has resolution code 1";

            const qint64 dataEnd = num(e, "dataEnd");
            QByteArray video0, nmea;
            int entries = 0, frames0 = 0;
            qint64 p = 33792, previousUs = 0;
            bool backwardAtTarget = false;
            for (qint64 size; p + 45 <= dataEnd; p += 45 + size, ++entries) {
                size = qint32(leAt(bank, p + 10, 4));
                if (size < 0 || p + 45 + size > dataEnd)
                    break;
                backwardAtTarget |= entries == num(e, "damagedEntry") && entryTimeUs(bank, p) < previousUs;
                previousUs = entryTimeUs(bank, p);
                const QByteArray payload = bank.mid(int(p) + 45, int(size));
                if (leAt(bank, p, 2) == 0x7780) {
                    nmea += payload;
                } else if (leAt(bank, p, 2) == 0x7777 && bank.at(int(p) + 25) == 0) {
                    video0 += payload;
                    ++frames0;
                }
            }
            EXPECT_EQ(backwardAtTarget, damage == "time-backward");
            EXPECT_EQ(entries == num(e, "damagedEntry") && p + 45 <= dataEnd, damage == "size-past-end");
            if (damage == "time-backward" || damage == "size-past-end")
                faults << damage;
            if (v != m.value("entries")[0])
                continue;
            EXPECT_EQ(entries, num(e, "entryCount"));
            ASSERT_FALSE(video0.isEmpty());
            const ProcessRun dec = runProcess("ffprobe", {"-v", "error", "-f", "h264", "-count_frames", "-show_entries",
                                                          "stream=nb_read_frames", "-of", "csv=p=0", "-"}, video0);
            EXPECT_EQ(dec.exitCode, 0);
            EXPECT_TRUE(dec.err.isEmpty()) << dec.err.constData();
            EXPECT_EQ(dec.out.trimmed().toInt(), e.value("frames")[0].toInt());
            EXPECT_EQ(frames0, e.value("frames")[0].toInt());
            const QByteArray track = toolOutput("gpsbabel", {"-t", "-i", "nmea", "-f", "-", "-o", "unicsv", "-F", "-"}, nmea);
            EXPECT_EQ(track.trimmed().split('\n').size() - 1, num(e, "gpsSamples"));
        }
    }
    EXPECT_EQ(faults, (QSet<QString>{"truncated", "time-backward", "size-past-end"}));
    EXPECT_EQ(archives, 3);
}

// The trailer of every recording file stands at end - 2048 (older form: end -
// 1024, with the name repeated at 936) and names its own file, or another one
// when damaged so. MP4 files have the streams, codecs, sizes and length
// ffprobe should see. MF2 files have their magic, header, first track record
// and scrambled password; their packets walked from the header on give the
// manifest's counts, audio stamped one second late, and each deliberate fault
// in the file claiming it.
TEST(CardgenFixtures, RecordFiles)
{
    QSet<QString> faults;
    QMap<QString, int> checked;
    for (const char *name : {"record", "record-mixed", "record-mf2pw", "record-16", "record-partial"}) {
        const QJsonObject m = manifest(name);
        for (const QJsonValue &v : m.value("entries").toArray()) {
            const QJsonObject e = v.toObject();
            const QString damage = str(e, "damage"), path = pathIn(name, e), kind = str(e, "container");
            SCOPED_TRACE(path.toStdString());
            if (damage == "zero-length" || damage == "truncated")
                continue;
            const bool old = str(e, "trailer") == "old";
            const QByteArray t = readFile(path, old ? -1024 : -2048, old ? 1000 : 1696);
            EXPECT_EQ(t.left(28) == QFileInfo(path).fileName().toLatin1().left(28), damage != "foreign-trailer");
            EXPECT_EQ(quint8(t.at(64)), num(e, "trailerChannels"));
            EXPECT_EQ(leAt(t, 68, 4), quint64(m.value("sizes")[0][0].toInt()));
            expectFields(t, 0, e, {{132, 4, "start"}});
            EXPECT_EQ(leAt(t, 136, 4), quint64(num(e, "duration") * (old ? 1000 : 1)));
            if (old)
                EXPECT_EQ(t.mid(936, 28), t.left(28));
            else
                EXPECT_NE(readFile(path, -1024, 28), t.left(28)) << "a current trailer must not pass for an older one";
            ++checked["trailer"];
            if (!damage.isEmpty() && damage != "foreign-trailer")
                faults << damage;

            if (kind == "mp4" && damage.isEmpty()) {
                const ProcessRun r = runProcess("ffprobe", {"-v", "error", "-show_streams", "-of", "json", path});
                ASSERT_EQ(r.exitCode, 0) << r.err.constData();
                EXPECT_TRUE(r.err.isEmpty()) << r.err.constData();
                QString got, want;
                for (const QJsonValue &s : QJsonDocument::fromJson(r.out).object().value("streams").toArray()) {
                    const QJsonObject st = s.toObject();
                    EXPECT_NEAR(str(st, "duration").toDouble(), num(e, "duration"), 0.1);
                    got += str(st, "codec_type") + " " + str(st, "codec_name");
                    if (str(st, "codec_type") != "audio")
                        got += QString(" %1x%2 %3").arg(st.value("width").toInt()).arg(st.value("height").toInt()).arg(str(st, "nb_frames"));
                    got += "; ";
                }
                for (int i = 0; i < num(e, "videoStreams"); ++i)
                    want += QString("video hevc %1x%2 %3; ").arg(m.value("sizes")[i][0].toInt()).arg(m.value("sizes")[i][1].toInt()).arg(e.value("frames")[i].toInt());
                EXPECT_EQ(got.toStdString(), (want + QString("audio aac; data bin_data 0x0 %1; ").arg(num(e, "dataPackets"))).toStdString());
                ++checked["mp4"];
            }
            if (kind != "mf2")
                continue;
            const QByteArray f = readFile(path);
            if (damage == "bad-magic") {
                EXPECT_TRUE(f.left(4) != "MF2H" && f.left(4) != "MF2I");
                continue;
            }
            const bool locked = f.left(4) == "MF2I";
            const int first = 16 + (locked ? 88 : 52), tracks = int(leAt(f, first - 4, 4));
            if (damage.isEmpty()) {
                EXPECT_EQ(f.left(4), strcmp(name, "record-mf2pw") ? "MF2H" : "MF2I");
                EXPECT_EQ(leAt(f, 16, 4), quint64(tracks) * 4128);
                EXPECT_EQ(tracks, num(e, "trailerChannels") + 2);
                EXPECT_EQ(f.mid(first, 8), "MF2IMF2V");
                EXPECT_EQ(leAt(f, first + 20, 4), 320u);
                EXPECT_GT(leAt(f, first + 4124, 4), 0u) << "video configuration missing";
                if (locked) { // the password, scrambled with the first key
                    EXPECT_EQ(leAt(f, 56, 4), 0u);
                    QByteArray plain;
                    for (int i = 0; i < 32; ++i)
                        plain += char(quint8(f.at(60 + i)) ^ quint8(0x5A3C9E71u >> (8 * (i % 4))));
                    EXPECT_EQ(plain, QByteArray("abcd").leftJustified(32, '\0'));
                }
            }
            qint64 p = first + qint64(leAt(f, 16, 4)), firstAudio = -1;
            QMap<QByteArray, int> counts;
            QMap<int, qint64> lastVideo;
            bool sizePastEnd = false, backward = false;
            for (QByteArray magic; p + 16 <= f.size(); p += 16 + qint64(leAt(f, p + 12, 4))) {
                magic = f.mid(int(p), 4);
                const int track = quint8(f.at(int(p) + 4));
                const qint64 stamp = qint64(leAt(f, p + 8, 4));
                if (magic != "MF2V" && magic != "MF2A" && magic != "MF2D")
                    break;
                if ((sizePastEnd = p + 16 + qint64(leAt(f, p + 12, 4)) > f.size()))
                    break;
                if (magic == "MF2V") {
                    backward |= lastVideo.contains(track) && stamp < lastVideo[track];
                    lastVideo[track] = stamp;
                    magic += char('0' + track);
                } else if (magic == "MF2A" && firstAudio < 0) {
                    firstAudio = stamp;
                }
                ++counts[magic];
            }
            EXPECT_EQ(sizePastEnd, damage == "size-past-end");
            EXPECT_EQ(backward, damage == "time-backward");
            if (!damage.isEmpty())
                continue;
            ++checked[name];
            EXPECT_EQ(p, f.size() - (old ? 1024 : 2048)) << "packets must end where the trailer begins";
            EXPECT_EQ(firstAudio, 1000);
            EXPECT_EQ(counts.value("MF2V0"), e.value("frames")[0].toInt());
            EXPECT_EQ(counts.value("MF2V1"), e.value("frames")[1].toInt());
            EXPECT_EQ(counts.value("MF2A"), num(e, "audioFrames"));
            EXPECT_EQ(counts.value("MF2D"), num(e, "dataPackets"));
        }
    }
    EXPECT_EQ(faults, (QSet<QString>{"bad-magic", "size-past-end", "time-backward"}));
    EXPECT_EQ(checked, (QMap<QString, int>{{"trailer", 19}, {"mp4", 11}, {"record-mixed", 1}, {"record-mf2pw", 3}}));
}

// The MP4 data track, read back through ffmpeg, holds the telemetry items:
// one G-sensor item of ten samples and one GPS fix per packet.
TEST(CardgenFixtures, Mp4TelemetryItems)
{
    const QJsonObject e = manifest("record").value("entries").toArray().first().toObject();
    const QByteArray d = toolOutput("ffmpeg", {"-v", "error", "-i", pathIn("record", e), "-map", "0:d", "-c", "copy", "-f", "data", "-"});
    int gps = 0, gsensor = 0;
    // Packets follow each other; each begins with a 12-byte prefix holding its item count.
    for (int packet = 0, p = 0; packet + 12 <= d.size(); packet = p) {
        p = packet + 12;
        for (int item = 0; item < int(leAt(d, packet + 8, 4)); ++item) {
            const quint64 type = leAt(d, p, 4);
            const int count = int(leAt(d, p + 8, 4)), bodyAt = p + 32;
            if (type == 2) {
                const quint64 bits = leAt(d, bodyAt + (leAt(d, bodyAt, 4) == 3 ? 12 : 96), 8);
                double lat;
                memcpy(&lat, &bits, 8);
                EXPECT_TRUE(lat > 4700.0 && lat < 4900.0) << lat << ": latitude in degrees and minutes";
                ++gps;
                p = bodyAt + int(leAt(d, p + 4, 4));
            } else if (type == 1) {
                p = bodyAt;
                for (int i = 0; i < count; ++i)
                    p += 20 + int(leAt(d, p + 16, 4));
            } else {
                gsensor += type == 3 ? count : 0;
                p = bodyAt + (type == 3 ? 20 : type == 4 ? 19 : 0) * count;
            }
        }
    }
    EXPECT_EQ(gps, num(e, "gpsSamples"));
    EXPECT_EQ(gsensor, num(e, "gsensorSamples"));
}

// md5sum agrees with the digest stored in the settings image.
TEST(CardgenFixtures, SettingsImageDigestMatchesMd5sum)
{
    const QByteArray image = readFile(card("record/Config/ZidavOva.cfg"));
    ASSERT_EQ(image.size(), 18344);
    EXPECT_EQ(toolOutput("md5sum", {}, image.left(18216)).left(32), image.mid(18216, 32));
    EXPECT_EQ(image.mid(18248), QByteArray(96, '\0'));
    EXPECT_EQ(leAt(image, 2228, 4), 2u) << "channel count";
    EXPECT_TRUE(QFileInfo::exists(card("record/.Pavona.cfg")));
}

} // namespace
