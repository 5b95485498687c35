#include "IndexCardWriter.h"

#include "AacEncoder.h"
#include "CardOutput.h"
#include "DriveModel.h"
#include "LittleEndian.h"
#include "VideoEncoder.h"

#include <QJsonArray>
#include <algorithm>

namespace {

constexpr quint16 kVideo = 0x7777, kAudio = 0x7778, kGSensor = 0x7779, kGps = 0x7780;
constexpr int kAudioRate = 8192;
constexpr int kAudioChunk = 1024;   // samples per audio entry, 125 ms

struct Packet
{
    qint64 us = 0;          // since 1970
    int order = 0;          // ties: video by channel, then audio, G-sensor, GPS
    quint16 marker = 0;
    quint8 gop = 0;
    quint8 rate = 30;
    quint8 resolution = 0;
    quint8 channel = 0;
    QByteArray payload;
};

quint8 statusOf(QChar event)
{
    switch (event.toLatin1()) {
    case 'E': return 1;
    case 'M': return 2;
    case 'F': return 3;
    default: return 0;
    }
}

qint64 roundUp(qint64 v, qint64 to) { return (v + to - 1) / to * to; }

} // namespace

QString IndexCardWriter::dataFileName(int file) const
{
    return QStringLiteral("%1.%2").arg(file, 2, 10, QLatin1Char('0')).arg(o.ext);
}

int IndexCardWriter::buildBank(Bank *bank, bool hardStop, quint64 *sequence, QString *error)
{
    QVector<Packet> packets;
    const qint64 base = bank->start * 1000000;
    const int frames = o.seconds * o.fps;
    QJsonArray frameCounts;
    for (int c = 0; c < o.channels; ++c) {
        VideoEncoder enc;
        QVector<EncodedFrame> encoded;
        if (enc.open(VideoEncoder::forChannel(o, c, VideoEncoder::Codec::H264), error) < 0 || enc.encode(frames, bank->ordinal, c, &encoded, error) < 0)
            return -1;
        int gop = 0;
        // A cut bank loses its first key frame and the frames up to the middle of its interval.
        const int first = bank->cutFirstKey ? qMax(1, o.gop / 2) : 0;
        for (int i = 0; i < encoded.size(); ++i) {
            gop = encoded[i].key ? 0 : gop + 1;
            if (i < first)
                continue;
            Packet p;
            p.us = base + qint64(i) * 1000000 / o.fps;
            p.order = c;
            p.marker = kVideo;
            p.gop = quint8(qMin(gop, 255));
            p.resolution = quint8(CardOptions::indexResolutionCode(o.sizes[c]));
            p.channel = quint8(c);
            p.payload = encoded[i].data;
            packets.append(p);
        }
        frameCounts.append(encoded.size() - first);
    }

    const double tone = 330.0 + 55.0 * (bank->ordinal % 5);
    const int chunks = o.seconds * kAudioRate / kAudioChunk;
    for (int k = 0; k < chunks; ++k) {
        Packet p;
        p.us = base + qint64(k) * kAudioChunk * 1000000 / kAudioRate;
        p.order = 10;
        p.marker = kAudio;
        p.payload = toneSamples(kAudioRate, qint64(k) * kAudioChunk, kAudioChunk, tone);
        packets.append(p);
    }

    const DriveSegment seg = drive.next(bank->start, o.seconds, hardStop);
    for (int sec = 0; sec < o.seconds; ++sec) {
        Packet g;
        g.us = base + qint64(sec) * 1000000;
        g.order = 11;
        g.marker = kGSensor;
        for (int i = 0; i < DriveModel::kSamplesPerSecond; ++i) {
            const AccelSample &a = seg.accel[sec * DriveModel::kSamplesPerSecond + i];
            QByteArray s(14, '\0');
            le::put32(s, 0, quint32(a.offsetMs / 1000));
            le::put32(s, 4, quint32(a.offsetMs % 1000 * 1000));
            le::put16(s, 8, quint16(1000 + a.x));
            le::put16(s, 10, quint16(1000 + a.y));
            le::put16(s, 12, quint16(1000 + a.z));
            g.payload += s;
        }
        packets.append(g);

        Packet n;
        n.us = g.us;
        n.order = 12;
        n.marker = kGps;
        n.rate = 1;
        n.payload = DriveModel::gprmc(seg.fixes[sec]);
        packets.append(n);
    }

    std::stable_sort(packets.begin(), packets.end(),
                     [](const Packet &a, const Packet &b) { return a.us != b.us ? a.us < b.us : a.order < b.order; });

    // Deliberate faults sit in the middle of the bank so that entries both
    // before and after them exist.
    const int faultAt = packets.size() / 2;
    QByteArray &data = bank->frames;
    qint64 audioBytes = 0;
    for (int i = 0; i < packets.size(); ++i) {
        const Packet &p = packets[i];
        qint64 us = p.us;
        if (bank->damage == QLatin1String("time-backward") && i == faultAt)
            us -= 2000000;
        QByteArray e(kEntrySize, '\0');
        le::put16(e, 0, p.marker);
        le::put64(e, 2, (*sequence)++);
        qint32 size = p.payload.size();
        if (bank->damage == QLatin1String("size-past-end") && i == faultAt)
            size = 0x7FFFFFF0;   // past the end of any bank
        le::put32(e, 10, quint32(size));
        le::put32(e, 14, quint32(us / 1000000));
        le::put32(e, 18, quint32(us % 1000000));
        le::put8(e, 22, p.gop);
        le::put8(e, 23, p.rate);
        le::put8(e, 24, p.resolution);
        le::put8(e, 25, p.channel);
        data += e;
        data += p.payload;
        if (p.marker == kAudio)
            audioBytes += p.payload.size();
    }
    if (bank->damage == QLatin1String("time-backward") || bank->damage == QLatin1String("size-past-end"))
        bank->entry[QStringLiteral("damagedEntry")] = faultAt;

    const auto mediaMs = [](qint64 us) { return us / 1000000 * 1000 + us % 1000000 / 1000; };
    bank->entry[QStringLiteral("frames")] = frameCounts;
    bank->entry[QStringLiteral("cutFirstKey")] = bank->cutFirstKey;
    bank->entry[QStringLiteral("entryCount")] = packets.size();
    bank->entry[QStringLiteral("gpsSamples")] = o.seconds;
    bank->entry[QStringLiteral("gsensorSamples")] = o.seconds * DriveModel::kSamplesPerSecond;
    bank->entry[QStringLiteral("audioBytes")] = audioBytes;
    bank->entry[QStringLiteral("firstMediaMs")] = mediaMs(packets.first().us);
    bank->entry[QStringLiteral("lastMediaMs")] = mediaMs(packets.last().us);
    return 0;
}

QByteArray IndexCardWriter::bankHeader(const Bank *bank, quint16 seq) const
{
    QByteArray h(kHeaderSize, '\0');
    le::put16(h, 0, bank && bank->damage == QLatin1String("bad-magic") ? 0x1112 : 0x1111);
    le::put16(h, 2, seq);
    if (!bank)
        return h;   // an unused bank: the magic, but byte 4 says "no recording"
    le::put8(h, 4, 1);
    le::put32(h, 7, quint32(kFrameDataStart + bank->frames.size()));
    le::put32(h, 19, quint32(bank->start + o.seconds));
    le::put32(h, 23, quint32(bank->start));
    le::put8(h, 27, statusOf(bank->event));
    le::put32(h, 32, quint32(1000 + 10 * bank->ordinal));
    le::put8(h, 36, quint8(o.channels));
    le::putText(h, 48, o.model.toLatin1(), 4);
    for (int c = 0; c < o.channels; ++c)
        le::put8(h, 182 + c, quint8(CardOptions::indexResolutionCode(o.sizes[c])));
    return h;
}

QByteArray IndexCardWriter::bankBytes(const Bank &bank) const
{
    QByteArray b(int(bankSize), '\0');
    // The first 203 bytes tell where the header is: byte 162 is a digit 2..9
    // exactly when it sits near the end of the bank.
    le::put8(b, 162, o.headerAtEnd ? quint8('2' + bank.ordinal % 8) : quint8('1'));
    le::putBytes(b, int(headerOffset()), bankHeader(&bank, quint16(100 + bank.ordinal)));
    le::putBytes(b, int(kFrameDataStart), bank.frames);
    return b;
}

QByteArray IndexCardWriter::setupBlock() const
{
    QByteArray s(kSetupBlockSize, '\0');
    le::put32(s, 1, 10203);                                   // firmware 1.2.3
    le::put8(s, 10, o.fps >= 30 ? 3 : (o.fps >= 15 ? 2 : 4)); // frame code
    le::put8(s, 11, 1);                                       // voice recording on
    le::put8(s, 12, 3);                                       // volume
    le::put8(s, 13, 5);
    le::put8(s, 14, 5);
    le::put8(s, 15, 5);
    le::put8(s, 17, 34);
    if (!o.password.isEmpty()) {
        s[18] = 'p';
        s[19] = 'w';
        const QByteArray pw = o.password.toLatin1();
        for (int i = 0; i < pw.size(); ++i)
            s[20 + i] = char(quint8(pw[i]) - 20);
    }
    le::put8(s, 28, 0);     // time zone index
    le::put8(s, 29, 30);    // event record ratio
    le::put8(s, 30, 10);    // auto parking, minutes
    le::put8(s, 81, 2);     // record quality
    le::put8(s, 83, 3);     // voltage
    le::put8(s, 84, 5);
    le::put8(s, 85, 5);
    le::put8(s, 86, 5);
    quint8 mask = 0;        // cameras beyond the channel count are not connected
    for (int cam = o.channels; cam < 4; ++cam)
        mask |= quint8(1u << (4 + cam));
    le::put8(s, 88, mask);
    le::put8(s, 91, 2);
    le::put8(s, 92, 3);
    le::putText(s, 94, "Acme Fleet", 12);
    le::putText(s, 107, "Cargo Van", 10);
    le::putText(s, 118, "ZV-1234", 8);
    le::putText(s, 127, "Alex Driver", 15);
    le::put8(s, 143, 120);
    le::put32(s, 144, 0);
    le::put8(s, 308, 0);
    le::put8(s, 310, 120);
    le::put8(s, 353, 5);
    le::put8(s, 354, 4);
    le::put8(s, 355, 3);
    return s;
}

QByteArray IndexCardWriter::indexFile() const
{
    QByteArray f(524288, '\0');
    QByteArray head(93, '\0');
    // N = (area - 209715200) / 2147483648 must come out as data files - 1.
    le::put64(head, 20, quint64(209715200LL + qint64(o.dataFiles - 1) * 2147483648LL));
    le::put8(head, 28, quint8(o.channels));
    le::put32(head, 84, quint32(bankSize));
    le::putBytes(f, 0, head);
    le::putBytes(f, int(kSetupBlockOffset), setupBlock());
    return f;
}

int IndexCardWriter::write(CardOutput *out, QJsonObject *manifest, QString *error)
{
    QVector<Bank> banks;
    QStringList extras;
    for (const QString &d : o.damage)
        extras.append(d);
    const int total = o.recordings + extras.size();
    const int placed = total - int(extras.count(QStringLiteral("truncated")));
    banksPerFile = o.banksPerFile > 0 ? o.banksPerFile : (placed + o.dataFiles - 1) / o.dataFiles;
    banksPerFile = qMax(1, banksPerFile);
    const int slotCount = banksPerFile * o.dataFiles;
    if (slotCount < placed) {
        *error = QStringLiteral("%1 banks do not fit in %2 data files of %3 banks").arg(placed).arg(o.dataFiles).arg(banksPerFile);
        return -1;
    }
    bankSize = o.bankSize;

    int hardStop = int(o.events.left(o.recordings).indexOf(QLatin1Char('E')));
    if (hardStop < 0)
        hardStop = o.recordings / 2;
    quint64 sequence = 1;
    int nextSlot = 1;
    for (int i = 0; i < total; ++i) {
        Bank b;
        b.ordinal = i;
        b.start = o.start + qint64(i) * (o.seconds + o.gap);
        b.event = i < o.recordings ? o.eventLetter(i) : QLatin1Char('N');
        b.damage = i < o.recordings ? QString() : extras[i - o.recordings];
        b.cutFirstKey = i < o.recordings && CardOptions::selects(o.cutFirstKey, i);
        if (b.damage == QLatin1String("truncated")) {
            b.slot = -1;
        } else {
            // Banks are used round the files as a camera would: the first
            // recording is not in the first bank, so readers must sort.
            b.slot = nextSlot % slotCount;
            ++nextSlot;
        }
        if (buildBank(&b, i == hardStop, &sequence, error) < 0)
            return -1;
        banks.append(b);
    }

    qint64 largest = 0;
    for (const Bank &b : banks)
        largest = qMax<qint64>(largest, b.frames.size());
    const qint64 reserve = o.headerAtEnd ? kHeaderFromEnd : 0;
    const qint64 needed = kFrameDataStart + largest + reserve;
    if (bankSize == 0)
        bankSize = roundUp(needed, 1 << 20);
    if (bankSize < needed) {
        *error = QStringLiteral("bank size %1 too small: header and frame data need %2 bytes").arg(bankSize).arg(needed);
        return -1;
    }
    if (qint64(banksPerFile) * bankSize + bankSize > 0x7FFFFFFFLL * 2) {
        *error = QStringLiteral("data files of %1 banks of %2 bytes are too large").arg(banksPerFile).arg(bankSize);
        return -1;
    }

    if (out->writeFile(QStringLiteral("index.") + o.ext, indexFile(), error) < 0)
        return -1;
    const bool truncated = o.damage.contains(QStringLiteral("truncated"));
    for (int f = 0; f < o.dataFiles; ++f) {
        const qint64 size = qint64(banksPerFile) * bankSize + (truncated && f == o.dataFiles - 1 ? bankSize / 2 : 0);
        if (out->createSized(dataFileName(f), size, error) < 0)
            return -1;
    }
    QVector<bool> used(slotCount, false);
    QJsonArray entries;
    QVector<const Bank *> archived;
    for (const Bank &b : banks) {
        const int file = b.slot < 0 ? o.dataFiles - 1 : b.slot / banksPerFile;
        const qint64 offset = b.slot < 0 ? qint64(banksPerFile) * bankSize : qint64(b.slot % banksPerFile) * bankSize;
        QByteArray bytes = bankBytes(b);
        if (b.slot < 0)
            bytes.truncate(int(bankSize / 2));
        else
            used[b.slot] = true;
        if (out->writeAt(dataFileName(file), offset, bytes, error) < 0)
            return -1;
        QJsonObject e = b.entry;
        const quint8 status = statusOf(b.event);
        e[QStringLiteral("path")] = dataFileName(file);
        e[QStringLiteral("start")] = b.start;
        e[QStringLiteral("end")] = b.start + o.seconds;
        e[QStringLiteral("bankSeq")] = 100 + b.ordinal;
        e[QStringLiteral("sortKey")] = 1000 + 10 * b.ordinal;
        e[QStringLiteral("status")] = status;
        e[QStringLiteral("channels")] = o.channels;
        e[QStringLiteral("dataEnd")] = kFrameDataStart + b.frames.size();
        e[QStringLiteral("bankSize")] = bankSize;
        e[QStringLiteral("offset")] = offset;
        e[QStringLiteral("event")] = status != 0;
        e[QStringLiteral("damage")] = b.damage.isEmpty() ? QJsonValue() : QJsonValue(b.damage);
        // A catalogue lists a bank whose header is sound; what is wrong
        // inside the frame data shows only when the bank is played.
        const bool listed = b.damage.isEmpty() || b.damage == QLatin1String("time-backward")
                            || b.damage == QLatin1String("size-past-end");
        e[QStringLiteral("listed")] = listed;
        entries.append(e);
        if (b.damage.isEmpty())
            archived.append(&b);
    }
    // Unused banks carry the magic with byte 4 clear.
    QJsonArray empty;
    for (int slot = 0; slot < slotCount; ++slot) {
        if (used[slot])
            continue;
        QByteArray start(kHeaderSize, '\0');
        le::put8(start, 162, '1');
        const qint64 offset = qint64(slot % banksPerFile) * bankSize;
        if (out->writeAt(dataFileName(slot / banksPerFile), offset, start, error) < 0
            || out->writeAt(dataFileName(slot / banksPerFile), offset + kHeaderNearStart,
                            bankHeader(nullptr, 0), error) < 0)
            return -1;
        empty.append(QJsonObject{{QStringLiteral("path"), dataFileName(slot / banksPerFile)},
                                 {QStringLiteral("offset"), offset}});
    }

    QJsonArray sizes;
    for (int c = 0; c < o.channels; ++c)
        sizes.append(QJsonArray{o.sizes[c].width(), o.sizes[c].height()});
    (*manifest)[QStringLiteral("mode")] = 1;
    (*manifest)[QStringLiteral("channels")] = o.channels;
    (*manifest)[QStringLiteral("sizes")] = sizes;
    (*manifest)[QStringLiteral("model")] = o.model;
    (*manifest)[QStringLiteral("password")] = o.password.isEmpty() ? QJsonValue() : QJsonValue(o.password);
    (*manifest)[QStringLiteral("fps")] = o.fps;
    (*manifest)[QStringLiteral("gop")] = o.gop;
    (*manifest)[QStringLiteral("bankSize")] = bankSize;
    (*manifest)[QStringLiteral("banksPerFile")] = banksPerFile;
    (*manifest)[QStringLiteral("dataFiles")] = o.dataFiles;
    (*manifest)[QStringLiteral("indexFile")] = QStringLiteral("index.") + o.ext;
    (*manifest)[QStringLiteral("headerAt")] = headerOffset();
    (*manifest)[QStringLiteral("audioRate")] = kAudioRate;
    (*manifest)[QStringLiteral("entries")] = entries;
    (*manifest)[QStringLiteral("emptyBanks")] = empty;

    if (!o.archive.isEmpty())
        return writeArchive(out, archived, manifest, error);
    return 0;
}

int IndexCardWriter::writeArchive(CardOutput *out, const QVector<const Bank *> &banks, QJsonObject *manifest,
                                  QString *error)
{
    if (banks.isEmpty()) {
        *error = QStringLiteral("no sound bank to put into the archive");
        return -1;
    }
    const int count = banks.size();
    QByteArray head(556, '\0');
    le::put32(head, 0, 0x1111);
    le::put32(head, 4, 0x2222);
    if (!o.archivePassword.isEmpty()) {
        le::put32(head, 520, 1);
        le::putText(head, 524, o.archivePassword.toUtf8(), 12);
    }
    le::put32(head, 540, quint32(o.channels));
    le::put32(head, 544, quint32(count));
    le::put32(head, 548, quint32(kFrameDataStart + banks.first()->frames.size()));
    le::put32(head, 552, quint32(bankSize));

    QByteArray archive = head;
    QJsonArray entries;
    const qint64 first = 556 + 72LL * count;
    for (int i = 0; i < count; ++i) {
        const Bank &b = *banks[i];
        QByteArray rec(72, '\0');
        le::put64(rec, 32, quint64(b.start));
        le::put64(rec, 40, quint64(b.start + o.seconds));
        le::put32(rec, 48, quint32(1000 + 10 * b.ordinal));
        le::put8(rec, 52, quint8(o.channels));
        le::put8(rec, 53, statusOf(b.event));
        le::put16(rec, 54, quint16(100 + b.ordinal));
        le::put32(rec, 56, quint32(kFrameDataStart + b.frames.size()));
        le::put32(rec, 60, quint32(bankSize));
        le::put32(rec, 64, quint32(qint64(b.slot % banksPerFile) * bankSize));
        archive += rec;
    }
    for (int i = 0; i < count; ++i) {
        archive += bankBytes(*banks[i]);
        QJsonObject e = banks[i]->entry;
        e[QStringLiteral("path")] = o.archive;
        e[QStringLiteral("start")] = banks[i]->start;
        e[QStringLiteral("end")] = banks[i]->start + o.seconds;
        e[QStringLiteral("bankSeq")] = 100 + banks[i]->ordinal;
        e[QStringLiteral("sortKey")] = 1000 + 10 * banks[i]->ordinal;
        e[QStringLiteral("status")] = statusOf(banks[i]->event);
        e[QStringLiteral("channels")] = o.channels;
        e[QStringLiteral("dataEnd")] = kFrameDataStart + banks[i]->frames.size();
        e[QStringLiteral("bankSize")] = bankSize;
        e[QStringLiteral("offset")] = first + qint64(i) * bankSize;
        e[QStringLiteral("event")] = statusOf(banks[i]->event) != 0;
        e[QStringLiteral("damage")] = QJsonValue();
        e[QStringLiteral("listed")] = true;
        entries.append(e);
    }
    if (out->writeFile(o.archive, archive, error) < 0)
        return -1;
    (*manifest)[QStringLiteral("archive")] = QJsonObject{
        {QStringLiteral("path"), o.archive},
        {QStringLiteral("password"), o.archivePassword.isEmpty() ? QJsonValue() : QJsonValue(o.archivePassword)},
        {QStringLiteral("channels"), o.channels},
        {QStringLiteral("bankCount"), count},
        {QStringLiteral("bankSize"), bankSize},
        {QStringLiteral("firstBank"), first},
        {QStringLiteral("entries"), entries}};
    return 0;
}
