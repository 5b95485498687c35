#include "RecordingMerge.h"

#include "LogCategories.h"

#include <QtGlobal>

#include <algorithm>

namespace {

// An entry with the constant fields of record files and nothing carried
// over from the entry before it.
FrameIndexEntry recordEntry(uint16_t marker, uint32_t serial, uint64_t timeUs, uint32_t catalogueIndex)
{
    FrameIndexEntry e;
    e.marker = marker;
    e.setSerial(serial);
    e.sec = uint32_t(std::min<uint64_t>(timeUs / 1000000, UINT32_MAX));
    e.usec = uint32_t(timeUs % 1000000);
    e.catalogueIndex = catalogueIndex;
    e.field28 = 1;
    return e;
}

// Writes the records of the telemetry walk into the frame buffer and the index.
class IndexSink : public TelemetrySink
{
public:
    IndexSink(FrameBuffer &buffer, std::vector<FrameIndexEntry> &index, std::vector<GSensorSample> &gsensor,
              uint32_t catalogueIndex, uint32_t &serial)
        : buffer_(buffer), index_(index), gsensor_(gsensor), catalogueIndex_(catalogueIndex), serial_(serial)
    {
    }

    int gsensorGroup(const GSensorSample *samples, int count, quint64 packetTimeUs) override
    {
        uint32_t offset = 0;
        uint8_t *to = buffer_.append(uint64_t(count) * GSensorSample::Size, &offset);
        if (!to)
            return -1;
        for (int i = 0; i < count; ++i) {
            samples[i].store(to + size_t(i) * GSensorSample::Size);
            gsensor_.push_back(samples[i]);
        }
        FrameIndexEntry e = recordEntry(FrameIndexEntry::GSensor, serial_++, packetTimeUs, catalogueIndex_);
        e.size = count * GSensorSample::Size;
        e.rate = RecordingMerge::MediaRate;
        e.payloadOffset = offset;
        index_.push_back(e);
        return 0;
    }

    int gpsFix(const GpsSample &fix, quint64 packetTimeUs) override
    {
        uint32_t offset = 0;
        uint8_t *to = buffer_.append(GpsSample::Size, &offset);
        if (!to)
            return -1;
        fix.store(to);
        FrameIndexEntry e = recordEntry(FrameIndexEntry::Gps, serial_++, packetTimeUs, catalogueIndex_);
        e.size = GpsSample::Size;
        e.rate = RecordingMerge::GpsRate;
        e.payloadOffset = offset;
        index_.push_back(e);
        return 0;
    }

private:
    FrameBuffer &buffer_;
    std::vector<FrameIndexEntry> &index_;
    std::vector<GSensorSample> &gsensor_;
    uint32_t catalogueIndex_;
    uint32_t &serial_;
};

} // namespace

MergeResult RecordingMerge::run(const RecordPackets &packets, const MergeOptions &options, FrameBuffer &buffer,
                                std::vector<FrameIndexEntry> &index, std::vector<GSensorSample> &gsensor)
{
    MergeResult result;
    const size_t slotTotal = packets.slotCount();
    std::vector<size_t> heads(slotTotal, 0);
    std::vector<bool> keySeen(RecordTracks::MaxVideoTracks, false);
    std::vector<uint8_t> gop(RecordTracks::MaxVideoTracks, 0);
    TelemetryWalkState walk(options.container);
    uint32_t serial = 0;
    IndexSink sink(buffer, index, gsensor, options.catalogueIndex, serial);
    index.reserve(index.size() + packets.packetCount());

    for (;;) {
        // The earliest head of all lists; on equal times the lowest slot.
        size_t pick = slotTotal;
        for (size_t s = 0; s < slotTotal; ++s) {
            if (heads[s] < packets.slot(s).size() &&
                (pick == slotTotal || packets.slot(s)[heads[s]].timeMs < packets.slot(pick)[heads[pick]].timeMs))
                pick = s;
        }
        if (pick == slotTotal)
            break;
        const RecordPacket &p = packets.slot(pick)[heads[pick]++];
        if (options.cutMs >= 0 && p.timeMs > options.cutMs)
            continue;
        const uint64_t timeUs = uint64_t(std::max<int64_t>(p.timeMs, 0)) * 1000 + options.baseTimeUs;
        const TrackKind kind = packets.kindOfSlot(pick);
        if (kind == TrackKind::Video) {
            const int channel = p.track;
            if (channel >= RecordTracks::MaxVideoTracks)
                continue;
            if (p.key) {
                keySeen[size_t(channel)] = true;
                gop[size_t(channel)] = 0;
            } else if (!keySeen[size_t(channel)]) {
                continue; // nothing decodes before the channel's first key frame
            } else if (gop[size_t(channel)] < 255) {
                ++gop[size_t(channel)];
            }
            FrameIndexEntry e = recordEntry(FrameIndexEntry::Video, serial++, timeUs, options.catalogueIndex);
            e.size = int32_t(p.size);
            e.payloadOffset = p.offset;
            e.gop = gop[size_t(channel)];
            e.rate = MediaRate;
            e.res = size_t(channel) < options.resolutionCodes.size() ? options.resolutionCodes[size_t(channel)] : 0;
            e.channel = uint8_t(channel);
            index.push_back(e);
        } else if (kind == TrackKind::Audio) {
            FrameIndexEntry e = recordEntry(FrameIndexEntry::Audio, serial++, timeUs, options.catalogueIndex);
            e.size = int32_t(p.size);
            e.payloadOffset = p.offset;
            e.rate = MediaRate;
            index.push_back(e);
        } else {
            // The payload lies in the buffer; the walk checks every extent against p.size.
            const int rc = walkTelemetryItems(buffer.data() + p.offset, p.size, timeUs, options.baseTimeUs, walk, sink);
            if (rc < 0) {
                qCWarning(lcReader, "[%s::%d]frame buffer full: telemetry from %llu ms on is not indexed", "RecordingMerge::run",
                         __LINE__, static_cast<unsigned long long>(p.timeMs));
                result.bufferFull = true;
                result.endSeconds = uint32_t(std::min<uint64_t>(timeUs / 1000000, UINT32_MAX));
                break;
            }
        }
        result.endSeconds = uint32_t(std::min<uint64_t>(timeUs / 1000000, UINT32_MAX));
    }
    result.entries = index.size();
    return result;
}
