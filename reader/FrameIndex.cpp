#include "FrameIndex.h"

#include "LogCategories.h"

#include <QtGlobal>

#include <algorithm>
#include <cstring>

namespace {

uint16_t le16(const uint8_t *p)
{
    return uint16_t(p[0] | (p[1] << 8));
}

uint32_t le32(const uint8_t *p)
{
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}

void put16(uint8_t *p, uint16_t v)
{
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}

void put32(uint8_t *p, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = uint8_t(v >> (8 * i));
}

bool copyBytes(const ParameterSet &set, uint8_t *out, size_t capacity)
{
    if (!set.data || set.size == 0 || set.size > capacity)
        return false;
    memcpy(out, set.data, set.size);
    return true;
}

} // namespace

FrameIndexEntry FrameIndexEntry::load(const uint8_t *b)
{
    FrameIndexEntry e;
    e.marker = le16(b);
    memcpy(e.sequence, b + 2, sizeof e.sequence);
    e.size = int32_t(le32(b + 10));
    e.sec = le32(b + 14);
    e.usec = le32(b + 18);
    e.gop = b[22];
    e.rate = b[23];
    e.res = b[24];
    e.channel = b[25];
    e.catalogueIndex = le16(b + 26);
    e.field28 = le32(b + 28);
    e.field32 = le32(b + 32);
    e.field36 = b[36];
    e.payloadOffset = le32(b + 37);
    e.field41 = le32(b + 41);
    return e;
}

void FrameIndexEntry::store(uint8_t *b) const
{
    put16(b, marker);
    memcpy(b + 2, sequence, sizeof sequence);
    put32(b + 10, uint32_t(size));
    put32(b + 14, sec);
    put32(b + 18, usec);
    b[22] = gop;
    b[23] = rate;
    b[24] = res;
    b[25] = channel;
    put16(b + 26, uint16_t(catalogueIndex));
    put32(b + 28, field28);
    put32(b + 32, field32);
    b[36] = field36;
    put32(b + 37, payloadOffset);
    put32(b + 41, field41);
}

uint64_t FrameIndexEntry::sequence64() const
{
    return uint64_t(le32(sequence)) | (uint64_t(le32(sequence + 4)) << 32);
}

uint32_t FrameIndexEntry::serial() const
{
    return le32(sequence);
}

void FrameIndexEntry::setSerial(uint32_t serial)
{
    put32(sequence, serial);
}

namespace FrameIndex {

BankWalkResult walkBank(const uint8_t *bank, uint64_t bankSize, uint64_t dataEnd, const BankWalkOptions &options,
                        std::vector<FrameIndexEntry> &index, std::vector<GSensorSample> *gsensorSamples)
{
    BankWalkResult result;
    // Payload offsets are 32-bit, so nothing past 4 GiB is addressable.
    const uint64_t end = std::min<uint64_t>({dataEnd, bank ? bankSize : 0, UINT32_MAX});
    bool havePrevious = false;
    int64_t previousSec = 0;
    uint32_t previousUsec = 0;

    uint64_t p = BankDataStart;
    while (p < end) {
        if (p + FrameIndexEntry::Size > end) {
            result.complete = false;
            break;
        }
        FrameIndexEntry e = FrameIndexEntry::load(bank + p);
        const uint64_t payload = p + FrameIndexEntry::Size;
        if (e.size < 0 || payload + uint64_t(e.size) > end) {
            result.complete = false;
            break;
        }
        const uint64_t next = payload + uint64_t(e.size);
        const bool known = e.marker == FrameIndexEntry::Video || e.marker == FrameIndexEntry::Audio ||
                           e.marker == FrameIndexEntry::GSensor || e.marker == FrameIndexEntry::Gps;
        const bool outsideLimit = options.limit != 0 && (options.backwardLoad ? e.sequence64() > options.limit
                                                                              : e.sequence64() < options.limit);
        if (!known || outsideLimit || e.channel >= MaxChannels) {
            p = next;
            continue;
        }
        e.payloadOffset = uint32_t(payload);
        e.catalogueIndex = options.catalogueIndex;
        int64_t secondsAhead = int64_t(e.sec) - previousSec;
        if (e.usec < previousUsec)
            --secondsAhead;
        const bool ranBackward = havePrevious && secondsAhead < 0;
        havePrevious = true;
        previousSec = e.sec;
        previousUsec = e.usec;
        if (ranBackward)
            e.marker = FrameIndexEntry::TimeBackward;
        if (e.marker == FrameIndexEntry::GSensor && gsensorSamples) {
            for (uint64_t s = payload; s + GSensorSample::Size <= next; s += GSensorSample::Size)
                gsensorSamples->push_back(GSensorSample::load(bank + s));
        }
        index.push_back(e);
        ++result.entries;
        p = next;
    }
    result.stopOffset = std::max<uint64_t>(p, BankDataStart);
    return result;
}

namespace {

// The GOPs (or G-sensor groups) of one lane of the backward build, in
// recording order: positions in the forward index, cut into blocks.
struct Lane {
    std::vector<size_t> positions;
    std::vector<size_t> blockStarts;
    std::vector<int64_t> blockTimes;

    void startBlock(size_t position, int64_t timeMs)
    {
        blockStarts.push_back(positions.size());
        blockTimes.push_back(timeMs);
        positions.push_back(position);
    }
};

} // namespace

std::vector<FrameIndexEntry> buildBackward(const std::vector<FrameIndexEntry> &forward, int channelCount)
{
    const int channels = std::clamp(channelCount, 0, MaxChannels);
    std::vector<Lane> lanes(size_t(channels) + 1); // the last lane holds the G-sensor groups
    Lane &gsensor = lanes.back();
    for (size_t i = 0; i < forward.size(); ++i) {
        const FrameIndexEntry &e = forward[i];
        if (e.marker == FrameIndexEntry::GSensor) {
            gsensor.startBlock(i, e.timeMs());
        } else if (e.marker == FrameIndexEntry::Video && e.channel < channels) {
            Lane &lane = lanes[e.channel];
            if (e.gop == 0)
                lane.startBlock(i, e.timeMs());
            else if (!lane.blockStarts.empty()) // frames before the channel's first key frame cannot be decoded
                lane.positions.push_back(i);
        }
    }

    std::vector<FrameIndexEntry> backward;
    std::vector<size_t> remaining(lanes.size());
    size_t total = 0;
    for (size_t l = 0; l < lanes.size(); ++l) {
        remaining[l] = lanes[l].blockStarts.size();
        total += lanes[l].positions.size();
    }
    backward.reserve(total);
    for (;;) {
        // The latest of the lanes' last unsent blocks goes next.
        size_t pick = lanes.size();
        for (size_t l = 0; l < lanes.size(); ++l) {
            if (remaining[l] == 0)
                continue;
            if (pick == lanes.size() ||
                lanes[l].blockTimes[remaining[l] - 1] > lanes[pick].blockTimes[remaining[pick] - 1])
                pick = l;
        }
        if (pick == lanes.size())
            break;
        const Lane &lane = lanes[pick];
        const size_t block = --remaining[pick];
        const size_t from = lane.blockStarts[block];
        const size_t to = block + 1 < lane.blockStarts.size() ? lane.blockStarts[block + 1] : lane.positions.size();
        for (size_t k = from; k < to; ++k)
            backward.push_back(forward[lane.positions[k]]);
    }
    return backward;
}

bool seekForward(const std::vector<FrameIndexEntry> &index, int64_t seconds, size_t &position)
{
    return seekForwardMs(index, seconds * 1000, position);
}

bool seekBackward(const std::vector<FrameIndexEntry> &index, int64_t seconds, size_t &position)
{
    return seekBackwardMs(index, seconds * 1000, position);
}

bool seekForwardMs(const std::vector<FrameIndexEntry> &index, int64_t mediaMs, size_t &position)
{
    size_t first = 0;
    while (first < index.size() && index[first].timeMs() < mediaMs)
        ++first;
    if (first == index.size())
        return false;
    for (size_t i = first + 1; i-- > 0;) {
        if (index[i].channel == 0 && index[i].isKeyFrame()) {
            position = i;
            return true;
        }
    }
    return false;
}

bool seekBackwardMs(const std::vector<FrameIndexEntry> &index, int64_t mediaMs, size_t &position)
{
    const int64_t target = mediaMs;
    size_t containing = index.size();
    size_t earliest = index.size();
    for (size_t i = 0; i < index.size(); ++i) {
        const FrameIndexEntry &e = index[i];
        if (e.channel != 0 || !e.isKeyFrame())
            continue;
        if (e.timeMs() <= target && (containing == index.size() || e.timeMs() > index[containing].timeMs()))
            containing = i;
        if (earliest == index.size() || e.timeMs() < index[earliest].timeMs())
            earliest = i;
    }
    const size_t found = containing != index.size() ? containing : earliest;
    if (found == index.size())
        return false;
    position = found;
    return true;
}

int frameData(const FrameIndexEntry &entry, const FrameSource &source, ParameterSets::Reading reading, uint8_t *out,
              size_t capacity)
{
    if (entry.size < 0 || uint64_t(entry.payloadOffset) + uint64_t(entry.size) > source.bufferSize ||
        (entry.size > 0 && !source.buffer))
        return -1;
    ParameterSet prefix;
    if (entry.marker == FrameIndexEntry::Video) {
        if (!source.trackConfigs)
            prefix = ParameterSets::forFrame(entry.res, reading);
        else if (entry.channel < source.trackConfigCount)
            prefix = source.trackConfigs[entry.channel];
    }
    const size_t prefixSize = prefix.data ? prefix.size : 0;
    const uint64_t total = uint64_t(prefixSize) + uint64_t(entry.size);
    if (total > capacity || total > uint64_t(INT32_MAX) || (total > 0 && !out))
        return -1;
    if (prefixSize > 0)
        memcpy(out, prefix.data, prefixSize);
    if (entry.size > 0)
        memcpy(out + prefixSize, source.buffer + entry.payloadOffset, size_t(entry.size));
    return int(total);
}

int nextFrame(const std::vector<FrameIndexEntry> &index, size_t &position, const FrameSource &source,
              ParameterSets::Reading reading, FrameIndexEntry &entry, uint8_t *out, size_t capacity)
{
    while (position < index.size()) {
        const FrameIndexEntry &e = index[position++];
        const int written = frameData(e, source, reading, out, capacity);
        if (written > 0) {
            entry = e;
            return written;
        }
        if (written < 0)
            qCWarning(lcReader, "[%s::%d]frame %zu skipped: %d payload bytes at %u do not fit a %zu-byte buffer or lie "
                     "outside the %llu-byte frame buffer",
                     "nextFrame", __LINE__, position - 1, int(e.size), unsigned(e.payloadOffset), capacity,
                     static_cast<unsigned long long>(source.bufferSize));
    }
    return 0;
}

int videoHeaderForChannel(const std::vector<FrameIndexEntry> &exportIndex, int channel, uint8_t *out,
                          size_t capacity)
{
    const size_t scan = std::min<size_t>(exportIndex.size(), 32);
    for (size_t i = 0; i < scan; ++i) {
        const FrameIndexEntry &e = exportIndex[i];
        if (e.marker != FrameIndexEntry::Video || e.channel != channel)
            continue;
        const ParameterSet set = ParameterSets::forHeader(e.res);
        return copyBytes(set, out, capacity) ? int(set.size) : 0;
    }
    return 0;
}

int h265HeaderForSize(int width, int height, uint8_t *out, size_t capacity)
{
    const ParameterSet set = ParameterSets::h265ForSize(width, height);
    return copyBytes(set, out, capacity) ? int(set.size) : 0;
}

} // namespace FrameIndex
