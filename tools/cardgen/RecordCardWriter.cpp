#include "RecordCardWriter.h"

#include "CardOutput.h"
#include "DriveModel.h"
#include "LittleEndian.h"
#include "SettingsImage.h"

#include <QDateTime>
#include <QFile>
#include <QJsonArray>
#include <algorithm>

extern "C" {
#include <libavcodec/version.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
}

namespace {

constexpr int kTrailerSpan = 2048;       // 1696-byte trailer, then 352 bytes nobody reads
constexpr int kOldTrailerSpan = 1024;    // 1000-byte older trailer, then 24 bytes
constexpr int kMf2Descriptor = 4128;
constexpr quint64 kUptimeMs = 3600000;   // G-sensor clock at the first recording

QString avError(int code)
{
    char buf[AV_ERROR_MAX_STRING_SIZE] = {0};
    av_strerror(code, buf, sizeof buf);
    return QString::fromLocal8Bit(buf);
}

int eventKind(char l1)
{
    switch (l1) {
    case 'N': return 0;
    case 'E': return 1;
    case 'F': return 3;
    default: return 2;
    }
}

QByteArray magic(const char *m) { return QByteArray(m, 4); }

// Zeroes the first 64 KiB of a recording, or all of it before its trailer
// when it is shorter, as a card with a damaged cluster would hold it.
int zeroHead(const QString &path, int trailerBytes, QString *error)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadWrite)) {
        *error = QStringLiteral("cannot open %1").arg(path);
        return -1;
    }
    const qint64 length = qMin<qint64>(65536, f.size() - trailerBytes);
    if (length > 0 && f.write(QByteArray(int(length), '\0')) != length) {
        *error = QStringLiteral("cannot write %1").arg(path);
        return -1;
    }
    return 0;
}

} // namespace

QString RecordCardWriter::fileName(const Recording &r) const
{
    const QString when = QDateTime::fromSecsSinceEpoch(r.start, Qt::LocalTime).toString(QStringLiteral("yyyyMMdd-HHmmss"));
    const QString seq = QStringLiteral("%1").arg(r.sequence, 7, 10, QLatin1Char('0'));
    if (r.formB)
        return QStringLiteral("%1_%2_%3_%4.mp4").arg(QString(QLatin1Char(r.l1)), seq, when, QString(QLatin1Char(r.l2)));
    return QStringLiteral("REC_%1_%2_%3%4%5%6.%7")
        .arg(seq, when, QString(QLatin1Char(r.l1)), QString(QLatin1Char(r.l2)), QString(QLatin1Char(r.l3)),
             QString(QLatin1Char(r.l4)), r.extension);
}

QByteArray RecordCardWriter::telemetryPacket(const Recording &r, int second, const DriveSegment &seg) const
{
    QByteArray p(12, '\0');
    p.replace(0, 4, "ZVTL");
    le::put32(p, 4, quint32(second));
    le::put32(p, 8, 5);   // items that follow

    auto item = [&](quint32 type, quint32 bodyLength, quint32 count, const QByteArray &body) {
        QByteArray h(32, '\0');
        le::put32(h, 0, type);
        le::put32(h, 4, bodyLength);
        le::put32(h, 8, count);
        p += h;
        p += body;
    };
    item(0, 0, 0, QByteArray());

    // Raw axis values sit on the camera's zero points; MF2 cameras use others.
    const int zx = r.mf2 ? 5000 : 2000, zy = r.mf2 ? 10000 : 6000;
    QByteArray g;
    for (int i = 0; i < DriveModel::kSamplesPerSecond; ++i) {
        const AccelSample &a = seg.accel[second * DriveModel::kSamplesPerSecond + i];
        QByteArray s(20, '\0');
        le::put64(s, 0, kUptimeMs + quint64(r.start - o.start) * 1000 + quint64(a.offsetMs));
        le::put16(s, 12, quint16(zx + a.x));
        le::put16(s, 14, quint16(zy + a.y));
        le::put16(s, 16, quint16(zy + a.z));
        g += s;
    }
    item(3, 0, DriveModel::kSamplesPerSecond, g);

    // Position and course in the NMEA degrees-and-minutes form, speed in
    // knots; the two fix kinds keep the values at different places.
    const GpsFix &f = seg.fixes[second];
    const bool kind3 = second % 2 == 0;
    QByteArray fix(136, '\0');
    le::put32(fix, 0, kind3 ? 3 : 2);
    const int at = kind3 ? 12 : 96;
    le::putF64(fix, at, DriveModel::nmeaDegreesMinutes(f.latitude));
    le::putF64(fix, at + 8, DriveModel::nmeaDegreesMinutes(f.longitude));
    le::putF64(fix, at + 16, f.speedKmh / 1.852);
    le::putF64(fix, kind3 ? 40 : 124, DriveModel::nmeaDegreesMinutes(f.course));
    item(2, quint32(fix.size()), 0, fix);

    // Items the viewer skips: type 1 entries are 20 bytes plus the length at
    // their offset 16, type 4 entries 19 bytes.
    QByteArray t1(2 * 24, '\0');
    for (int e = 0; e < 2; ++e) {
        le::put32(t1, e * 24, quint32(second));
        le::put32(t1, e * 24 + 16, 4);
    }
    item(1, 0, 2, t1);
    item(4, 0, 1, QByteArray(19, '\x5a'));
    return p;
}

int RecordCardWriter::encode(const Recording &r, bool hardStop, Media *media, QString *error)
{
    const int frames = o.seconds * o.fps;
    for (int s = 0; s < r.streams; ++s) {
        VideoEncoder enc;
        QVector<EncodedFrame> encoded;
        if (enc.open(VideoEncoder::forChannel(o, s, VideoEncoder::Codec::Hevc), error) < 0 || enc.encode(frames, r.ordinal, s, &encoded, error) < 0)
            return -1;
        media->video.append(encoded);
        media->videoConfig.append(enc.extradata());
    }
    if (r.audio && AacEncoder::encodeTone(o.seconds, 330.0 + 55.0 * (r.ordinal % 5), &media->audio, &media->audioConfig, error) < 0)
        return -1;
    const DriveSegment seg = drive.next(r.start, o.seconds, hardStop);
    for (int sec = 0; sec < o.seconds; ++sec)
        media->telemetry.append(telemetryPacket(r, sec, seg));
    return 0;
}

int RecordCardWriter::writeMp4(CardOutput *out, const QString &path, const Media &media, QString *error) const
{
    const QString abs = out->absolute(path);
    if (out->track(abs, error) < 0)
        return -1;
    AVFormatContext *fmt = nullptr;
    int rc = avformat_alloc_output_context2(&fmt, nullptr, "mp4", abs.toLocal8Bit().constData());
    if (rc < 0 || !fmt) {
        *error = QStringLiteral("cannot set up the MP4 muxer: %1").arg(avError(rc));
        return -1;
    }
    // No version strings or creation times: the same options give the same bytes.
    fmt->flags |= AVFMT_FLAG_BITEXACT;
    auto fail = [&](const QString &what, int code) {
        *error = QStringLiteral("%1 %2: %3").arg(what, abs, avError(code));
        if (fmt->pb)
            avio_closep(&fmt->pb);
        avformat_free_context(fmt);
        return -1;
    };
    const int videoStreams = media.video.size();
    for (int s = 0; s < videoStreams; ++s) {
        AVStream *st = avformat_new_stream(fmt, nullptr);
        st->time_base = AVRational{1, 90000};
        st->avg_frame_rate = AVRational{o.fps, 1};
        AVCodecParameters *cp = st->codecpar;
        cp->codec_type = AVMEDIA_TYPE_VIDEO;
        cp->codec_id = AV_CODEC_ID_HEVC;
        cp->codec_tag = MKTAG('h', 'v', 'c', '1');
        cp->width = o.sizes[s].width();
        cp->height = o.sizes[s].height();
        cp->format = AV_PIX_FMT_YUV420P;
        const QByteArray &cfg = media.videoConfig[s];
        cp->extradata = static_cast<uint8_t *>(av_mallocz(size_t(cfg.size()) + AV_INPUT_BUFFER_PADDING_SIZE));
        memcpy(cp->extradata, cfg.constData(), size_t(cfg.size()));
        cp->extradata_size = cfg.size();
    }
    const bool hasAudio = !media.audioConfig.isEmpty();
    AVStream *audio = hasAudio ? avformat_new_stream(fmt, nullptr) : nullptr;
    if (audio) {
        audio->time_base = AVRational{1, AacEncoder::kSampleRate};
        audio->codecpar->codec_type = AVMEDIA_TYPE_AUDIO;
        audio->codecpar->codec_id = AV_CODEC_ID_AAC;
        audio->codecpar->sample_rate = AacEncoder::kSampleRate;
        audio->codecpar->frame_size = 1024;
        audio->codecpar->initial_padding = AacEncoder::kPriming;
        audio->codecpar->bit_rate = 32000;
#if LIBAVCODEC_VERSION_INT >= AV_VERSION_INT(59, 24, 100)
        av_channel_layout_default(&audio->codecpar->ch_layout, 1);
#else
        audio->codecpar->channels = 1;
        audio->codecpar->channel_layout = AV_CH_LAYOUT_MONO;
#endif
        audio->codecpar->extradata =
            static_cast<uint8_t *>(av_mallocz(size_t(media.audioConfig.size()) + AV_INPUT_BUFFER_PADDING_SIZE));
        memcpy(audio->codecpar->extradata, media.audioConfig.constData(), size_t(media.audioConfig.size()));
        audio->codecpar->extradata_size = media.audioConfig.size();
    }
    const int dataStream = videoStreams + (hasAudio ? 1 : 0);

    AVStream *data = avformat_new_stream(fmt, nullptr);
    data->time_base = AVRational{1, 1000};
    data->codecpar->codec_type = AVMEDIA_TYPE_DATA;
    data->codecpar->codec_id = AV_CODEC_ID_BIN_DATA;
    data->codecpar->codec_tag = MKTAG('g', 'p', 'm', 'd');

    if ((rc = avio_open(&fmt->pb, abs.toLocal8Bit().constData(), AVIO_FLAG_WRITE)) < 0)
        return fail(QStringLiteral("cannot create"), rc);
    if ((rc = avformat_write_header(fmt, nullptr)) < 0)
        return fail(QStringLiteral("cannot write the MP4 header of"), rc);

    AVPacket *pkt = av_packet_alloc();
    auto put = [&](int stream, const QByteArray &bytes, qint64 pts, qint64 duration, bool key) {
        av_new_packet(pkt, bytes.size());
        memcpy(pkt->data, bytes.constData(), size_t(bytes.size()));
        pkt->stream_index = stream;
        pkt->pts = pkt->dts = pts;
        pkt->duration = duration;
        pkt->flags = key ? AV_PKT_FLAG_KEY : 0;
        av_packet_rescale_ts(pkt, stream < videoStreams ? AVRational{1, 90000}
                                  : stream == dataStream ? AVRational{1, 1000}
                                                         : AVRational{1, AacEncoder::kSampleRate},
                             fmt->streams[stream]->time_base);
        return av_interleaved_write_frame(fmt, pkt);
    };
    const qint64 tick = 90000 / o.fps;
    for (int s = 0; s < videoStreams && rc >= 0; ++s)
        for (int i = 0; i < media.video[s].size() && rc >= 0; ++i)
            rc = put(s, media.video[s][i].data, i * tick, tick, media.video[s][i].key);
    for (int i = 0; i < media.audio.size() && rc >= 0; ++i)
        rc = put(videoStreams, media.audio[i].data, media.audio[i].pts, 1024, true);
    for (int i = 0; i < media.telemetry.size() && rc >= 0; ++i)
        rc = put(dataStream, media.telemetry[i], qint64(i) * 1000, 1000, true);
    av_packet_free(&pkt);
    if (rc < 0)
        return fail(QStringLiteral("cannot write a packet of"), rc);
    if ((rc = av_write_trailer(fmt)) < 0)
        return fail(QStringLiteral("cannot finish"), rc);
    avio_closep(&fmt->pb);
    avformat_free_context(fmt);
    return 0;
}

QByteArray RecordCardWriter::mf2File(const Recording &r, const Media &media) const
{
    const bool locked = !o.mf2Password.isEmpty();
    const int videoTracks = media.video.size();
    const bool hasAudio = !media.audioConfig.isEmpty();
    const int tracks = videoTracks + (hasAudio ? 2 : 1);   // video, one audio, one telemetry track
    QByteArray f(16, '\0');
    f.replace(0, 4, r.damage == QLatin1String("bad-magic") ? magic("MF2X") : magic(locked ? "MF2I" : "MF2H"));
    le::put32(f, 4, 1);
    le::put32(f, 8, locked ? 88 : 52);

    QByteArray header(locked ? 88 : 52, '\0');
    le::put32(header, 0, quint32(tracks * kMf2Descriptor));
    le::put32(header, 4, 1);
    le::put64(header, 8, quint64(r.start) * 1000);
    le::put64(header, 16, quint64(o.seconds) * 1000);
    if (locked) {
        // Each byte of the zero-padded password XOR the matching byte of the
        // chosen key (a little-endian u32, low byte first).
        const quint32 key = o.mf2Keys[size_t(o.mf2KeyIndex)];
        QByteArray pw = o.mf2Password.toUtf8().leftJustified(32, '\0', true);
        for (int i = 0; i < 32; ++i)
            pw[i] = char(quint8(pw[i]) ^ quint8(key >> (8 * (i % 4))));
        le::put32(header, 40, quint32(o.mf2KeyIndex));
        le::putBytes(header, 44, pw);
        le::put32(header, 84, quint32(tracks));
    } else {
        le::put32(header, 48, quint32(tracks));
    }
    f += header;

    for (int t = 0; t < tracks; ++t) {
        QByteArray d(kMf2Descriptor, '\0');
        d.replace(0, 4, magic("MF2I"));
        if (t < videoTracks) {
            d.replace(4, 4, magic("MF2V"));
            le::put32(d, 8, 0);
            le::put32(d, 12, quint32(t + 1));
            le::put32(d, 16, MKTAG('H', '2', '6', '5'));
            le::put32(d, 20, quint32(claimedSize(r, t).width()));
            le::put32(d, 24, quint32(claimedSize(r, t).height()));
            const QByteArray cfg = media.videoConfig[t].left(4096);
            le::putBytes(d, 28, cfg);
            le::put32(d, 4124, quint32(cfg.size()));
        } else if (t == videoTracks && hasAudio) {
            d.replace(4, 4, magic("MF2A"));
            le::put32(d, 8, 1);
            le::put32(d, 12, quint32(t + 1));
            const QByteArray cfg = media.audioConfig.left(256);
            le::putBytes(d, 32, cfg);
            le::put32(d, 288, quint32(cfg.size()));
        } else {
            d.replace(4, 4, magic("MF2D"));   // neither video nor audio to a reader
            le::put32(d, 8, 2);
            le::put32(d, 12, quint32(t + 1));
        }
        f += d;
    }

    struct Packet
    {
        qint64 ms;        // picture time
        int order;
        const char *magic;
        int track;
        bool key;
        qint64 stamp;
        QByteArray payload;
    };
    QVector<Packet> packets;
    for (int s = 0; s < videoTracks; ++s)
        for (int i = 0; i < media.video[s].size(); ++i) {
            const qint64 ms = qint64(i) * 1000 / o.fps;
            packets.append({ms, s, "MF2V", s, media.video[s][i].key, ms, media.video[s][i].data});
        }
    for (const AacFrame &a : media.audio) {
        // Stamped from the first sound sample (the encoder's priming frame at
        // 0) and one second late, as the camera does; readers move it back.
        const qint64 ms = (a.pts + AacEncoder::kPriming) * 1000 / AacEncoder::kSampleRate;
        packets.append({ms, 100, "MF2A", 0, true, ms + 1000, AacEncoder::adtsHeader(a.data.size()) + a.data});
    }
    for (int i = 0; i < media.telemetry.size(); ++i)
        packets.append({qint64(i) * 1000, 101, "MF2D", 0, false, qint64(i) * 1000, media.telemetry[i]});
    std::stable_sort(packets.begin(), packets.end(),
                     [](const Packet &a, const Packet &b) { return a.ms != b.ms ? a.ms < b.ms : a.order < b.order; });

    // Faults sit in the middle of the file: the first video packet from there
    // on is stamped two seconds before its predecessor, or one packet claims
    // more bytes than the file holds.
    int faultAt = packets.size() / 2;
    if (r.damage == QLatin1String("time-backward"))
        while (faultAt < packets.size() - 1 && packets[faultAt].order >= 100)
            ++faultAt;
    for (int i = 0; i < packets.size(); ++i) {
        const Packet &p = packets[i];
        QByteArray h(16, '\0');
        h.replace(0, 4, magic(p.magic));
        le::put8(h, 4, quint8(p.track));
        le::put8(h, 5, p.key ? 1 : 0);
        qint64 stamp = p.stamp;
        quint32 size = quint32(p.payload.size());
        if (i == faultAt && r.damage == QLatin1String("time-backward"))
            stamp = qMax<qint64>(0, stamp - 2000);
        if (i == faultAt && r.damage == QLatin1String("size-past-end"))
            size = 0x7FFFFFF0;
        le::put32(h, 8, quint32(stamp));
        le::put32(h, 12, size);
        f += h;
        f += p.payload;
    }
    return f;
}

QByteArray RecordCardWriter::trailer(const Recording &r, bool forMp4) const
{
    const bool old = r.oldTrailer;
    const int span = old ? kOldTrailerSpan : kTrailerSpan;
    QByteArray t(span, '\0');
    le::putText(t, 0, r.trailerName.toLatin1(), 64);
    const int channels = qMin(r.streams, 8);
    le::put8(t, 64, quint8(channels));
    for (int c = 0; c < channels; ++c) {
        le::put32(t, 68 + 8 * c, quint32(claimedSize(r, c).width()));
        le::put32(t, 72 + 8 * c, quint32(claimedSize(r, c).height()));
    }
    le::put32(t, 132, quint32(r.start));
    le::put32(t, 136, quint32(old ? o.seconds * 1000 : o.seconds));
    // Slots: one per recorded second, the time and the byte position of the
    // second's first packet as the camera keeps them (positions are nominal).
    for (int i = 0; i < 64 && i < o.seconds; ++i) {
        if (old) {
            le::put32(t, 160 + 12 * i, quint32(i * 1000));
            le::put32(t, 164 + 12 * i, quint32(i) * 65536u);
        } else {
            le::put32(t, 160 + 24 * i, quint32(i * 1000));
            le::put64(t, 168 + 24 * i, quint64(i) * 65536u);
        }
    }
    if (old)
        t.replace(936, 28, t.left(28));
    if (!forMp4)
        return t;
    // Wrapped in a 'free' box, so MP4 readers pass over it as padding.
    QByteArray box(8, '\0');
    qToBigEndian(quint32(8 + span), reinterpret_cast<uchar *>(box.data()));
    box.replace(4, 4, "free");
    return box + t;
}

QSize RecordCardWriter::claimedSize(const Recording &r, int stream) const
{
    return r.claimed.isValid() ? r.claimed : o.sizes[stream];
}

int RecordCardWriter::write(CardOutput *out, QJsonObject *manifest, QString *error)
{
    const int total = o.recordings + o.damage.size();
    int hardStop = -1;
    for (int i = 0; i < o.recordings && hardStop < 0; ++i)
        if (o.eventLetter(i) == QLatin1Char('E') || o.eventLetter(i) == QLatin1Char('P'))
            hardStop = i;
    if (hardStop < 0)
        hardStop = o.recordings / 2;

    QVector<Recording> recs;
    for (int i = 0; i < total; ++i) {
        Recording r;
        r.ordinal = i;
        r.sequence = i + 1;
        r.start = o.start + qint64(i) * (o.seconds + o.gap);
        r.streams = o.streamsOf(i);
        r.damage = i < o.recordings ? QString() : o.damage[i - o.recordings];
        const char ev = i < o.recordings ? o.eventLetter(i).toLatin1() : 'N';
        r.l1 = ev == 'P' ? 'E' : ev == 'p' ? 'N' : ev;
        r.l2 = (ev == 'P' || ev == 'p') ? 'P' : 'D';
        const bool mf2Wanted = o.format == CardOptions::Format::Mf2
                               || (o.format == CardOptions::Format::Mixed && i % 2 == 1);
        if (r.damage.isEmpty()) {
            r.audio = !CardOptions::selects(o.noAudio, i);
            r.zeroHead = CardOptions::selects(o.zeroHead, i);
            if (!o.claimedSizes.isEmpty())
                r.claimed = o.claimedSizes.at(qMin(i, o.claimedSizes.size() - 1));
            r.formB = CardOptions::selects(o.formB, i);
            r.oldTrailer = CardOptions::selects(o.oldTrailer, i);
            const bool lower = CardOptions::selects(o.lowercaseMf2, i);
            // Form-B names and lower-case ".mf2" names are read as MP4, so they hold MP4.
            r.mf2 = mf2Wanted && !r.formB && !lower;
            r.extension = r.mf2 ? QStringLiteral("MF2") : lower ? QStringLiteral("mf2") : QStringLiteral("mp4");
        } else {
            // Faults inside the container are made in MF2, whose fields are ours to break.
            r.mf2 = r.damage == QLatin1String("bad-magic") || r.damage == QLatin1String("size-past-end")
                    || r.damage == QLatin1String("time-backward");
            r.extension = r.mf2 ? QStringLiteral("MF2") : QStringLiteral("mp4");
        }
        if (r.mf2)
            r.streams = qMin(r.streams, 8);
        r.name = fileName(r);
        r.trailerName = r.name;
        recs.append(r);
    }
    for (Recording &r : recs)
        if (r.damage == QLatin1String("foreign-trailer"))
            r.trailerName = recs.first().name;

    QJsonArray entries;
    for (const Recording &r : recs) {
        const QString path = QStringLiteral("record/") + r.name;
        Media media;
        if (r.damage == QLatin1String("zero-length")) {
            if (out->writeFile(path, QByteArray(), error) < 0)
                return -1;
        } else {
            if (encode(r, r.ordinal == hardStop, &media, error) < 0)
                return -1;
            if (r.mf2) {
                if (out->writeFile(path, mf2File(r, media) + trailer(r, false), error) < 0)
                    return -1;
            } else {
                if (writeMp4(out, path, media, error) < 0)
                    return -1;
                QFile f(out->absolute(path));
                if (!f.open(QIODevice::Append)) {
                    *error = QStringLiteral("cannot append to %1").arg(f.fileName());
                    return -1;
                }
                const QByteArray tail = trailer(r, true);
                if (f.write(tail) != tail.size()) {
                    *error = QStringLiteral("cannot append to %1").arg(f.fileName());
                    return -1;
                }
                f.close();
                if (r.damage == QLatin1String("truncated"))
                    QFile::resize(f.fileName(), f.size() / 2);
            }
            if (r.zeroHead && zeroHead(out->absolute(path), trailer(r, !r.mf2).size(), error) < 0)
                return -1;
        }

        QJsonObject e;
        e[QStringLiteral("path")] = path;
        e[QStringLiteral("name")] = r.name;
        e[QStringLiteral("sequence")] = r.sequence;
        e[QStringLiteral("start")] = r.start;
        e[QStringLiteral("duration")] = o.seconds;
        e[QStringLiteral("eventKind")] = eventKind(r.l1);
        e[QStringLiteral("parking")] = r.l2 != 'D' ? 1 : 0;
        e[QStringLiteral("flag3")] = 0;
        e[QStringLiteral("flag4")] = 0;
        e[QStringLiteral("isMF2")] = r.mf2 ? 1 : 0;
        e[QStringLiteral("container")] = r.mf2 ? QStringLiteral("mf2") : QStringLiteral("mp4");
        e[QStringLiteral("form")] = r.formB ? QStringLiteral("B") : QStringLiteral("A");
        e[QStringLiteral("trailer")] = r.oldTrailer ? QStringLiteral("old") : QStringLiteral("current");
        e[QStringLiteral("trailerChannels")] = qMin(r.streams, 8);
        e[QStringLiteral("damage")] = r.damage.isEmpty() ? QJsonValue() : QJsonValue(r.damage);
        e[QStringLiteral("zeroHead")] = r.zeroHead;
        if (r.claimed.isValid())
            e[QStringLiteral("claimedSize")] = QJsonArray{r.claimed.width(), r.claimed.height()};
        // A catalogue reads only the name and the trailer: faults inside the
        // container show when the file is played, not when it is listed.
        e[QStringLiteral("listed")] = r.damage.isEmpty() || r.damage == QLatin1String("bad-magic")
                                      || r.damage == QLatin1String("size-past-end")
                                      || r.damage == QLatin1String("time-backward");
        if (r.damage != QLatin1String("zero-length")) {
            QJsonArray frames;
            for (const auto &v : media.video)
                frames.append(v.size());
            e[QStringLiteral("frames")] = frames;
            e[QStringLiteral("videoStreams")] = media.video.size();
            e[QStringLiteral("audioFrames")] = media.audio.size();
            e[QStringLiteral("gpsSamples")] = media.telemetry.size();
            e[QStringLiteral("gsensorSamples")] = media.telemetry.size() * DriveModel::kSamplesPerSecond;
            e[QStringLiteral("dataPackets")] = media.telemetry.size();
            e[QStringLiteral("firstMediaMs")] = 0;
            e[QStringLiteral("lastMediaMs")] = qint64(o.seconds * o.fps - 1) * 1000 / o.fps;
        }
        entries.append(e);
    }

    if (!o.noMarker && out->writeFile(QStringLiteral(".Pavona.cfg"), QByteArray(), error) < 0)
        return -1;
    const QByteArray settings = SettingsImage::build(o.channels, o.model);
    if (!o.noSettings && out->writeFile(QStringLiteral("Config/ZidavOva.cfg"), settings, error) < 0)
        return -1;

    QJsonArray sizes;
    for (int c = 0; c < o.streamCount(); ++c)
        sizes.append(QJsonArray{o.sizes[c].width(), o.sizes[c].height()});
    (*manifest)[QStringLiteral("mode")] = 2;
    (*manifest)[QStringLiteral("channels")] = qMin(o.streamCount(), 8);
    (*manifest)[QStringLiteral("videoStreams")] = o.streamCount();
    (*manifest)[QStringLiteral("sizes")] = sizes;
    (*manifest)[QStringLiteral("model")] = o.model;
    (*manifest)[QStringLiteral("password")] = o.mf2Password.isEmpty() ? QJsonValue() : QJsonValue(o.mf2Password);
    (*manifest)[QStringLiteral("mf2KeyIndex")] = o.mf2KeyIndex;
    (*manifest)[QStringLiteral("fps")] = o.fps;
    (*manifest)[QStringLiteral("gop")] = o.gop;
    (*manifest)[QStringLiteral("audioRate")] = AacEncoder::kSampleRate;
    (*manifest)[QStringLiteral("settings")] = o.noSettings ? QJsonValue()
                                                           : QJsonValue(QString::fromLatin1(settings.mid(SettingsImage::kDataSize, 32)));
    (*manifest)[QStringLiteral("entries")] = entries;
    return 0;
}
