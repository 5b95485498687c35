#include "Mf2Reader.h"

#include "FileAccess.h"
#include "LittleEndian.h"
#include "LogCategories.h"
#include "PictureSize.h"

#include <QtGlobal>
#include <cstring>

namespace {

bool is(const char *p, const char *magic)
{
    return memcmp(p, magic, 4) == 0;
}

int fail(const char *why)
{
    qCWarning(lcDemux, "[%s::%d]MF2: %s", "Mf2Reader::read", __LINE__, why);
    return -1;
}

} // namespace

int64_t Mf2Reader::read(QIODevice &device, FrameBuffer &buffer, RecordTracks &tracks, RecordPackets &packets,
                        const LoadCancel &cancel)
{
    tracks = RecordTracks();
    packets.reset(0, 0, 0);
    const qint64 fileSize = device.size();

    char preamble[PreambleSize];
    if (!readExactly(device, 0, preamble, PreambleSize))
        return fail("no preamble");
    const bool locked = is(preamble, "MF2I");
    if (!locked && !is(preamble, "MF2H"))
        return fail("not an MF2 file");
    const int headerSize = locked ? LockedHeaderSize : PlainHeaderSize;
    char header[LockedHeaderSize];
    if (!readExactly(device, PreambleSize, header, headerSize))
        return fail("header cut short");
    const quint64 tableSize = le::u32(header);
    const quint32 trackCount = le::u32(header + (locked ? 84 : 48));
    const qint64 tableStart = PreambleSize + headerSize;
    if (trackCount > quint32(MaxTracks) || quint64(trackCount) * DescriptorSize > tableSize
        || tableSize > quint64(fileSize - tableStart))
        return fail("track table larger than its room");

    QByteArray table(int(trackCount) * DescriptorSize, Qt::Uninitialized);
    if (!readExactly(device, tableStart, table.data(), table.size()))
        return fail("track table cut short");

    // Descriptors up to the first that is not one; each keeps its position
    // in the configuration table.
    int audioTracks = 0, otherTracks = 0;
    int firstKind = -1;
    for (quint32 t = 0; t < trackCount; ++t) {
        const char *d = table.constData() + qint64(t) * DescriptorSize;
        if (!is(d, "MF2I"))
            break;
        TrackConfig config;
        config.trackNumber = le::u32(d + 12);
        config.mediaType = le::u32(d + 8);
        if (is(d + 4, "MF2V")) {
            const quint32 size = le::u32(d + 4124);
            if (size > quint32(MaxVideoConfig))
                qCWarning(lcDemux, "[%s::%d]MF2: video configuration of %u bytes ignored", "Mf2Reader::read", __LINE__, size);
            else if (size > 0)
                config.bytes = QByteArray(d + 28, int(size));
            if (tracks.video.size() < size_t(RecordTracks::MaxVideoTracks)) {
                VideoTrack v;
                v.ordinal = uint32_t(tracks.video.size());
                v.width = le::u32(d + 20);
                v.height = le::u32(d + 24);
                if (!PictureSize::isPlayable(v.width, v.height)) {
                    qCWarning(lcDemux, "[%s::%d]MF2: video track %u claims %ux%u; its size is taken as unknown",
                             "Mf2Reader::read", __LINE__, t, v.width, v.height);
                    v.width = v.height = 0;
                }
                v.config = config.bytes;
                v.codec = codecOfParameterSets(v.config);
                v.resolutionCode = tracks.video.empty() ? 15 : 14;
                tracks.video.push_back(v);
            }
            if (firstKind < 0)
                firstKind = int(TrackKind::Video);
        } else if (is(d + 4, "MF2A")) {
            const quint32 size = le::u32(d + 288);
            if (size > quint32(MaxAudioConfig))
                qCWarning(lcDemux, "[%s::%d]MF2: audio configuration of %u bytes ignored", "Mf2Reader::read", __LINE__, size);
            else if (size > 0)
                config.bytes = QByteArray(d + 32, int(size));
            ++audioTracks;
            if (firstKind < 0)
                firstKind = int(TrackKind::Audio);
        } else {
            ++otherTracks;
            if (firstKind < 0)
                firstKind = int(TrackKind::Data);
        }
        tracks.configs.push_back(config);
    }
    for (const TrackConfig &c : tracks.configs) {
        if (c.mediaType == 1 && audioFromSpecificConfig(c.bytes, tracks.audio)) {
            tracks.audio.config = c.bytes;
            break;
        }
    }
    // Telemetry of data track 0 is kept even when the table describes none.
    packets.reset(int(tracks.video.size()), audioTracks, qMax(1, otherTracks));

    int64_t bytes = 0;
    bool audioSeen = false;
    qint64 pos = tableStart + qint64(tableSize);
    char h[PacketHeaderSize];
    while (readExactly(device, pos, h, PacketHeaderSize)) {
        if (cancel && cancel()) {
            tracks = RecordTracks();
            packets.reset(0, 0, 0);
            return LoadCancelled;
        }
        TrackKind kind;
        int track = quint8(h[4]);
        if (is(h, "MF2V")) {
            kind = TrackKind::Video;
        } else if (is(h, "MF2A")) {
            kind = TrackKind::Audio;
        } else if (is(h, "MF2D")) {
            kind = TrackKind::Data;
        } else if ((is(h, "MF2H") || is(h, "MF2I")) && firstKind >= 0) {
            kind = TrackKind(firstKind); // a packet of the first track
            track = 0;
        } else {
            break;
        }
        const quint32 size = le::u32(h + 12);
        const qint64 payloadAt = pos + PacketHeaderSize;
        if (qint64(size) > fileSize - payloadAt) {
            qCWarning(lcDemux, "[%s::%d]MF2: packet of %u bytes at %lld runs past the end of the file", "Mf2Reader::read",
                     __LINE__, size, payloadAt);
            break;
        }
        pos = payloadAt + size;
        std::vector<RecordPacket> *list = packets.list(kind, track);
        if (!list)
            continue; // a track the table does not have
        RecordPacket p;
        p.timeMs = le::u32(h + 8);
        p.size = size;
        p.track = uint8_t(track);
        p.key = (quint8(h[5]) & 1) != 0;
        if (kind == TrackKind::Audio)
            p.timeMs = p.timeMs < AudioDelayMs ? 0 : p.timeMs - AudioDelayMs;
        uint8_t *to = buffer.append(size, &p.offset);
        if (!to) {
            qCWarning(lcDemux, "[%s::%d]MF2: frame buffer full; the load ends at %lld", "Mf2Reader::read", __LINE__,
                     payloadAt);
            break;
        }
        if (!readExactly(device, payloadAt, reinterpret_cast<char *>(to), size)) {
            buffer.truncate(p.offset);
            break;
        }
        if (kind == TrackKind::Audio && !audioSeen) {
            audioSeen = true;
            if (tracks.audio.channels == 0)
                audioFromAdtsHeader(to, size, tracks.audio);
        }
        list->push_back(p);
        bytes += size;
    }
    return bytes;
}
