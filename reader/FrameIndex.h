#pragma once
// The frame index of a loaded recording: one FrameIndexEntry per packet, each
// pointing into the frame buffer. In the index store the entry is also the
// on-card packet header, so a bank's frame data is walked entry by entry.
// Everything here works on caller-owned buffers and vectors.
#include "ParameterSets.h"
#include "TelemetryRecords.h"

#include <cstddef>
#include <cstdint>
#include <vector>

// In memory a plain struct; load and store convert the 45-byte on-card form.
// That form keeps 16 bits of the catalogue index at offset 26, so the index
// travels in memory with its full 32 bits and store writes its low half.
struct FrameIndexEntry {
    static constexpr uint16_t Video = 0x7777;
    static constexpr uint16_t Audio = 0x7778;
    static constexpr uint16_t GSensor = 0x7779;
    static constexpr uint16_t Gps = 0x7780;
    static constexpr uint16_t TimeBackward = 500; // time ran backward: readers pass it over
    static constexpr size_t Size = 45;

    uint16_t marker = 0;
    uint8_t sequence[8] = {}; // record files: u32 serial then 4 bytes; index store: a u64
    int32_t size = 0;
    uint32_t sec = 0;
    uint32_t usec = 0;
    uint8_t gop = 0; // 0 for a key frame, counting up to the next one
    uint8_t rate = 0;
    uint8_t res = 0; // resolution code
    uint8_t channel = 0;
    uint32_t catalogueIndex = 0; // on card: u16 at offset 26
    uint32_t field28 = 0;
    uint32_t field32 = 0;
    uint8_t field36 = 0;
    uint32_t payloadOffset = 0;
    uint32_t field41 = 0;

    // Little-endian from and to 45 bytes, whatever the alignment.
    static FrameIndexEntry load(const uint8_t *bytes);
    void store(uint8_t *bytes) const;

    uint64_t sequence64() const;
    uint32_t serial() const;
    void setSerial(uint32_t serial);
    int64_t timeMs() const { return int64_t(sec) * 1000 + usec / 1000; }
    bool isKeyFrame() const { return marker == Video && gop == 0; }
};

namespace FrameIndex {

constexpr uint64_t BankDataStart = 33792;
constexpr int MaxChannels = 9;       // channels 0-8; entries of higher channels are dropped

struct BankWalkOptions {
    uint32_t catalogueIndex = 0;
    uint64_t limit = 0;        // 0: none; else compared with the 64-bit sequence field
    bool backwardLoad = false; // keeps entries at or below the limit instead of at or above
};

struct BankWalkResult {
    size_t entries = 0;     // entries appended
    bool complete = true;   // false when a damaged entry ended the walk before dataEnd
    uint64_t stopOffset = 0;
};

// Appends the entries of a bank's frame data (from BankDataStart to dataEnd,
// clipped to the buffer) to index, with payload offset and catalogue index
// filled in. An entry stamped earlier than the one taken before it gets the
// marker TimeBackward. The walk stops at an entry whose header or payload
// runs past the end or whose size is negative. The whole 14-byte samples of
// each G-sensor group are appended to gsensorSamples when it is given.
BankWalkResult walkBank(const uint8_t *bank, uint64_t bankSize, uint64_t dataEnd, const BankWalkOptions &options,
                        std::vector<FrameIndexEntry> &index, std::vector<GSensorSample> *gsensorSamples);

// The backward index: per channel below channelCount, the GOPs from its
// first key frame on, each key frame first and its frames in recording
// order; the GOPs of all channels and the G-sensor groups interleaved by
// time, latest first (equal times: lower channel first, G-sensor last).
std::vector<FrameIndexEntry> buildBackward(const std::vector<FrameIndexEntry> &forward, int channelCount);

// Forward index: from the first entry at or after the target second back to
// the nearest key frame of channel 0. False (position unchanged) when there
// is none.
bool seekForward(const std::vector<FrameIndexEntry> &index, int64_t seconds, size_t &position);

// Backward index: to the key frame of channel 0 whose GOP contains the
// target (the latest one starting at or before it; the earliest one when
// the target precedes them all). False (position unchanged) without one.
bool seekBackward(const std::vector<FrameIndexEntry> &index, int64_t seconds, size_t &position);
// The same to a media time in milliseconds (a frame exactly, not its second).
bool seekForwardMs(const std::vector<FrameIndexEntry> &index, int64_t mediaMs, size_t &position);
bool seekBackwardMs(const std::vector<FrameIndexEntry> &index, int64_t mediaMs, size_t &position);

// Where the payloads are and what goes in front of video frames.
struct FrameSource {
    const uint8_t *buffer = nullptr;
    uint64_t bufferSize = 0;
    // Record files: the Annex-B track configuration of each channel, put in
    // front of its frames. Null for the index store (fixed H.264 sets).
    const ParameterSet *trackConfigs = nullptr;
    size_t trackConfigCount = 0;
};

// Writes the entry's prefix and payload into out. Returns the bytes written,
// or -1 when they would not fit in capacity or the payload lies outside the
// buffer (nothing is written then).
int frameData(const FrameIndexEntry &entry, const FrameSource &source, ParameterSets::Reading reading, uint8_t *out,
              size_t capacity);

// Hands out the entry at position and its data, then advances. Entries that
// yield no bytes or do not fit are skipped (and reported), so the result is
// 0 only at the end of the index.
int nextFrame(const std::vector<FrameIndexEntry> &index, size_t &position, const FrameSource &source,
              ParameterSets::Reading reading, FrameIndexEntry &entry, uint8_t *out, size_t capacity);

// Index store: the H.264 set of the first video entry of channel among the
// first 32 entries of the export index. Bytes written; 0 when none.
int videoHeaderForChannel(const std::vector<FrameIndexEntry> &exportIndex, int channel, uint8_t *out,
                          size_t capacity);

// The H.265 set for a picture size: 103 bytes written, or 0 for other sizes
// or too small a buffer.
int h265HeaderForSize(int width, int height, uint8_t *out, size_t capacity);

} // namespace FrameIndex
