// The frame index on synthetic banks: the walk, the backward index, seeks
// and the data handed out with its parameter sets.
#include "FrameIndex.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <map>
#include <string>

namespace {

constexpr uint32_t T0 = 1700000000;
constexpr int64_t Base = int64_t(T0) * 1000;
using Index = std::vector<FrameIndexEntry>;
using R = ParameterSets::Reading;

// A bank buffer: header area, then entries each followed by its payload.
struct BankBuilder {
    std::vector<uint8_t> bytes = std::vector<uint8_t>(FrameIndex::BankDataStart, 0xEE);
    uint64_t sequence = 0;

    void add(uint16_t marker, uint8_t channel, int64_t ms, uint8_t gop, const std::string &payload, uint8_t res = 1)
    {
        FrameIndexEntry e{marker, {}, int32_t(payload.size()), uint32_t(T0 + ms / 1000), uint32_t(ms % 1000 * 1000), gop,
                          uint8_t(marker == FrameIndexEntry::Gps ? 1 : 30), res, channel};
        memcpy(e.sequence, &++sequence, 8);
        bytes.resize(bytes.size() + FrameIndexEntry::Size);
        e.store(bytes.data() + bytes.size() - FrameIndexEntry::Size);
        bytes.insert(bytes.end(), payload.begin(), payload.end());
    }
    // Offset of the n-th entry.
    size_t entryAt(int n) const
    {
        size_t p = FrameIndex::BankDataStart;
        for (int i = 0; i < n; ++i)
            p += FrameIndexEntry::Size + size_t(FrameIndexEntry::load(bytes.data() + p).size);
        return p;
    }
    void edit(int n, const std::function<void(FrameIndexEntry &)> &change)
    {
        FrameIndexEntry e = FrameIndexEntry::load(bytes.data() + entryAt(n));
        change(e);
        e.store(bytes.data() + entryAt(n));
    }
    // dataEnd < 0: the whole buffer.
    Index walk(FrameIndex::BankWalkResult *result = nullptr, FrameIndex::BankWalkOptions options = {}, int64_t dataEnd = -1,
               std::vector<GSensorSample> *samples = nullptr) const
    {
        Index index;
        const auto r = FrameIndex::walkBank(bytes.data(), bytes.size(), dataEnd < 0 ? bytes.size() : uint64_t(dataEnd), options, index, samples);
        if (result)
            *result = r;
        return index;
    }
    FrameIndex::FrameSource source() const { return {bytes.data(), bytes.size()}; }
    std::string payload(const FrameIndexEntry &e) const { return std::string(bytes.begin() + e.payloadOffset, bytes.begin() + e.payloadOffset + e.size); }
};

std::string frame(int channel, int n) { return "c" + std::to_string(channel) + "f" + std::to_string(n); }

// Three channels at 10 frames a second for 3 s, GOPs of 5 frames; channel 2
// has its key frames two frames later, so it starts with two frames that
// cannot be decoded. Audio every 100 ms, GPS and a G-sensor group of three
// samples each second.
BankBuilder recording()
{
    BankBuilder b;
    for (int f = 0; f < 30; ++f) {
        const int64_t ms = f * 100;
        if (f % 10 == 0) {
            b.add(FrameIndexEntry::Gps, 0, ms, 0, "$GPRMC,fix" + std::to_string(f / 10));
            std::string group(3 * GSensorSample::Size, '\0');
            for (int s = 0; s < 3; ++s) // samples of second f / 10 at 0, 0.3, 0.6 s, x = 2000 + s
                GSensorSample{uint32_t(f / 10), uint32_t(s * 300000), uint16_t(2000 + s)}.store(reinterpret_cast<uint8_t *>(&group[s * GSensorSample::Size]));
            b.add(FrameIndexEntry::GSensor, 0, ms, 0, group);
        }
        for (int c = 0; c < 3; ++c)
            b.add(FrameIndexEntry::Video, uint8_t(c), ms + c * 10, uint8_t(c == 2 ? (f + 3) % 5 : f % 5), frame(c, f));
        b.add(FrameIndexEntry::Audio, 0, ms + 50, 0, "pcm" + std::to_string(f));
    }
    return b;
}

constexpr size_t AllEntries = 30 * 4 + 3 * 2;

TEST(FrameIndexEntry, LoadsEveryFieldFromItsLittleEndianOffset)
{
    uint8_t raw[1 + FrameIndexEntry::Size], back[FrameIndexEntry::Size];
    for (size_t i = 0; i < sizeof raw; ++i)
        raw[i] = uint8_t(i);
    const FrameIndexEntry e = FrameIndexEntry::load(raw + 1); // at an odd address
    EXPECT_EQ(std::vector<uint64_t>({e.marker, e.sequence64(), e.serial(), uint32_t(e.size), e.sec, e.usec, e.gop, e.rate, e.res,
                                     e.channel, e.catalogueIndex, e.field28, e.field32, e.field36, e.payloadOffset, e.field41}),
              std::vector<uint64_t>({0x0201, 0x0A09080706050403, 0x06050403, 0x0E0D0C0B, 0x1211100F, 0x16151413, 0x17, 0x18, 0x19,
                                     0x1A, 0x1C1B, 0x201F1E1D, 0x24232221, 0x25, 0x29282726, 0x2D2C2B2A}));
    e.store(back);
    EXPECT_EQ(memcmp(back, raw + 1, sizeof back), 0);
}

TEST(BankWalk, IndexesEveryPacketWithItsPayloadAndGSensorSamples)
{
    const BankBuilder b = recording();
    std::vector<GSensorSample> samples;
    FrameIndex::BankWalkResult r;
    FrameIndex::BankWalkOptions options;
    options.catalogueIndex = 65536 + 7; // past 16 bits: the index must not wrap to 7
    const Index index = b.walk(&r, options, -1, &samples);
    ASSERT_EQ(std::make_tuple(r.complete, r.entries, index.size()), std::make_tuple(true, AllEntries, AllEntries));
    std::map<uint16_t, int> perMarker;
    for (const FrameIndexEntry &e : index) {
        ++perMarker[uint16_t(e.marker)];
        EXPECT_EQ(e.catalogueIndex, 65536u + 7);
        EXPECT_TRUE(e.marker != FrameIndexEntry::Video || b.payload(e) == frame(e.channel, int(e.timeMs() - Base) / 100)) << b.payload(e);
    }
    EXPECT_EQ(perMarker, (std::map<uint16_t, int>{{FrameIndexEntry::Video, 90}, {FrameIndexEntry::Audio, 30},
                                                  {FrameIndexEntry::GSensor, 3}, {FrameIndexEntry::Gps, 3}}));
    ASSERT_EQ(samples.size(), 9u);
    EXPECT_EQ(std::vector<uint32_t>({samples[4].sec, samples[4].usec, samples[4].x}), std::vector<uint32_t>({1, 300000, 2001}));
}

TEST(BankWalk, DamagedAndOddEntries)
{
    // damage returns the data end (-1: the whole buffer); backward: the entries marked TimeBackward.
    const struct { const char *name; std::function<int64_t(BankBuilder &)> damage; size_t entries; bool complete; std::vector<size_t> backward; } cases[] = {
        {"time runs backward at the second entry", [](BankBuilder &b) { b.edit(1, [](FrameIndexEntry &e) { e.sec -= 5; }); return -1; },
         AllEntries, true, {1}},
        {"microseconds borrow into a backward second", [](BankBuilder &b) {
             const FrameIndexEntry before = FrameIndexEntry::load(b.bytes.data() + b.entryAt(3));
             b.edit(4, [&](FrameIndexEntry &e) { e.sec = before.sec; e.usec = before.usec - 1; });
             return -1; }, AllEntries, true, {4}},
        {"unknown marker and channel 9 are skipped", [](BankBuilder &b) {
             b.edit(4, [](FrameIndexEntry &e) { e.marker = 0x1234; });
             b.edit(6, [](FrameIndexEntry &e) { e.channel = 9; });
             return -1; }, AllEntries - 2, true, {}},
        {"negative size ends the walk", [](BankBuilder &b) { b.edit(10, [](FrameIndexEntry &e) { e.size = -45; }); return -1; }, 10, false, {}},
        {"size past the data end ends the walk", [](BankBuilder &b) { b.edit(10, [&](FrameIndexEntry &e) { e.size = int32_t(b.bytes.size()); }); return -1; }, 10, false, {}},
        {"huge size does not wrap around", [](BankBuilder &b) { b.edit(10, [](FrameIndexEntry &e) { e.size = INT32_MAX; }); return -1; }, 10, false, {}},
        {"data end inside an entry header", [](BankBuilder &b) { return int64_t(b.entryAt(12) + 20); }, 12, false, {}},
        {"data end inside a payload", [](BankBuilder &b) { return int64_t(b.entryAt(12) + FrameIndexEntry::Size + 1); }, 12, false, {}},
        {"data end beyond the buffer is clipped to it", [](BankBuilder &b) { return int64_t(b.bytes.size() + 100000); }, AllEntries, true, {}},
        {"data end before the frame data", [](BankBuilder &) { return int64_t(100); }, 0, true, {}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        BankBuilder b = recording();
        FrameIndex::BankWalkResult r;
        const Index index = b.walk(&r, {}, c.damage(b));
        EXPECT_EQ(std::make_pair(index.size(), r.complete), std::make_pair(c.entries, c.complete));
        std::vector<size_t> backward;
        for (size_t i = 0; i < index.size(); ++i) {
            EXPECT_LE(uint64_t(index[i].payloadOffset) + uint64_t(index[i].size), b.bytes.size());
            if (index[i].marker == FrameIndexEntry::TimeBackward)
                backward.push_back(i);
        }
        EXPECT_EQ(backward, c.backward);
    }
}

TEST(BankWalk, LoadLimitKeepsTheRightSide)
{
    const BankBuilder b = recording();
    FrameIndex::BankWalkOptions forward, backward;
    forward.limit = backward.limit = 100;
    backward.backwardLoad = true;
    const Index after = b.walk(nullptr, forward), before = b.walk(nullptr, backward);
    ASSERT_FALSE(after.empty() || before.empty());
    EXPECT_EQ(std::make_pair(after.front().sequence64(), before.back().sequence64()), std::make_pair(uint64_t(100), uint64_t(100)));
    EXPECT_EQ(after.size() + before.size(), AllEntries + 1);
}

TEST(BackwardIndex, BringsGopsLatestFirstWithEveryFrameOnce)
{
    const BankBuilder b = recording();
    const Index backward = FrameIndex::buildBackward(b.walk(), 3);
    std::map<int, std::vector<std::string>> seen;
    std::vector<int64_t> blockTimes, gsensor; // GOPs of all channels and G-sensor groups, latest first
    for (const FrameIndexEntry &e : backward) {
        ASSERT_TRUE(e.marker == FrameIndexEntry::Video || e.marker == FrameIndexEntry::GSensor);
        if (e.marker == FrameIndexEntry::GSensor || e.gop == 0)
            blockTimes.push_back(e.timeMs());
        if (e.marker == FrameIndexEntry::GSensor)
            gsensor.push_back(e.timeMs());
        if (e.marker == FrameIndexEntry::Video) {
            ASSERT_TRUE(e.gop == 0 || !seen[e.channel].empty()) << "GOP of channel " << int(e.channel) << " without key frame";
            seen[e.channel].push_back(b.payload(e));
        }
    }
    EXPECT_EQ(gsensor, std::vector<int64_t>({Base + 2000, Base + 1000, Base}));
    EXPECT_TRUE(std::is_sorted(blockTimes.rbegin(), blockTimes.rend()));
    // Every GOP in recording order after its key frame, GOPs latest first:
    // channel 0 is 25..29, 20..24, ..., 0..4; channel 2 starts at frame 2.
    for (int c = 0; c < 3; ++c) {
        std::vector<std::string> expected;
        for (int g = 6; g-- > 0;)
            for (int f = g * 5 + (c == 2 ? 2 : 0); f < std::min(30, g * 5 + 5 + (c == 2 ? 2 : 0)); ++f)
                expected.push_back(frame(c, f));
        EXPECT_EQ(seen[c], expected) << c;
    }
    EXPECT_TRUE(FrameIndex::buildBackward({}, 3).empty());
}

TEST(Seek, ForwardAndBackwardIndexes)
{
    const BankBuilder b = recording();
    const Index forward = b.walk(), backward = FrameIndex::buildBackward(forward, 3);
    const Index none, keyFirst(forward.begin() + 2, forward.end()), audioFirst(forward.begin() + 5, forward.end());
    ASSERT_TRUE(keyFirst.front().isKeyFrame() && audioFirst.front().marker == FrameIndexEntry::Audio);
    // keyMs: time of the channel-0 key frame landed on; -1: none found.
    const struct { const char *name; const Index &index; int64_t seconds, keyMs; } cases[] = {
        // The forward index starts with a GPS record: no key frame at or before it.
        {"forward, before", forward, T0 - 10, -1},
        // The GPS record of second 1 comes before the key frame stamped 1.000,
        // so the walk back lands on the GOP before it.
        {"forward, inside", forward, T0 + 1, Base + 500},
        {"forward, at the last second", forward, T0 + 2, Base + 1500},
        {"forward, after", forward, T0 + 10, -1},
        {"forward from a key frame, before", keyFirst, T0 - 10, Base},
        {"forward from audio with GOP byte 0", audioFirst, T0 - 10, -1},
        {"backward, before", backward, T0 - 10, Base},
        {"backward, inside", backward, T0 + 1, Base + 1000},
        {"backward, after", backward, T0 + 10, Base + 2500},
        {"backward, empty", none, T0, -1},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        size_t position = 12345;
        const bool found = c.name[0] == 'f' ? FrameIndex::seekForward(c.index, c.seconds, position)
                                            : FrameIndex::seekBackward(c.index, c.seconds, position);
        EXPECT_EQ(found, c.keyMs >= 0);
        if (!found) {
            EXPECT_EQ(position, 12345u);
            continue;
        }
        ASSERT_LT(position, c.index.size());
        EXPECT_TRUE(c.index[position].isKeyFrame());
        EXPECT_EQ(c.index[position].channel, 0);
        EXPECT_EQ(c.index[position].timeMs(), c.keyMs);
    }
}

TEST(FrameData, ParameterSetInFrontByResolutionCodeAndReading)
{
    // Byte 11 of each H.264 set: what tells the fixed sets apart.
    const uint8_t h1080 = 0x78, h720 = 0x50, h576 = 0xf0;
    std::map<int, uint8_t> forwardTable{{12, h1080}, {13, h1080}, {15, h1080}, {14, h720}, {30, h576}};
    for (int code = 0; code < 256; ++code) {
        for (R reading : {R::Forward, R::Backward, R::Export}) {
            SCOPED_TRACE(std::to_string(code) + " reading " + std::to_string(int(reading)));
            BankBuilder b;
            b.add(FrameIndexEntry::Video, 0, 0, 0, "PAYLOAD", uint8_t(code));
            b.add(FrameIndexEntry::Audio, 0, 0, 0, "AUDIO", uint8_t(code));
            const Index index = b.walk();
            uint8_t out[64];
            const uint8_t expected = code == 0 && reading == R::Backward ? h720 : forwardTable[code];
            const int n = FrameIndex::frameData(index[0], b.source(), reading, out, sizeof out);
            ASSERT_EQ(n, 7 + (expected ? 23 : 0));
            EXPECT_EQ(std::string(out + n - 7, out + n), "PAYLOAD");
            EXPECT_EQ(expected ? out[11] : 0, expected);
            EXPECT_EQ(FrameIndex::frameData(index[1], b.source(), reading, out, sizeof out), 5);
        }
    }
}

TEST(FrameData, RecordFilesPutTheChannelsTrackConfigurationInFront)
{
    BankBuilder b;
    for (uint8_t c = 0; c < 3; ++c)
        b.add(FrameIndexEntry::Video, c, 0, 0, "F", 15);
    b.add(FrameIndexEntry::Audio, 0, 0, 0, "A", 15);
    const Index index = b.walk();
    const uint8_t cfg0[] = {0, 0, 0, 1, 0x40, 0xA0}, cfg1[] = {0, 0, 1, 0x40, 0xB1, 0xB2, 0xB3};
    const ParameterSet configs[] = {{cfg0, sizeof cfg0}, {cfg1, sizeof cfg1}};
    const FrameIndex::FrameSource source{b.bytes.data(), b.bytes.size(), configs, 2};
    const std::string expected[] = {std::string(std::begin(cfg0), std::end(cfg0)) + "F", std::string(std::begin(cfg1), std::end(cfg1)) + "F", "F", "A"};
    for (size_t i = 0; i < index.size(); ++i) {
        uint8_t out[64];
        const int n = FrameIndex::frameData(index[i], source, R::Forward, out, sizeof out);
        EXPECT_EQ(std::string(out, out + std::max(n, 0)), expected[i]) << i;
    }
}

TEST(NextFrame, NeverWritesPastTheCallersCapacity)
{
    BankBuilder b;
    b.add(FrameIndexEntry::Video, 0, 0, 0, std::string(40, 'k'), 15); // 23 + 40: too big
    b.add(FrameIndexEntry::Audio, 0, 0, 0, std::string(), 15);        // nothing to hand out
    b.add(FrameIndexEntry::Video, 0, 100, 1, std::string(20, 'p'), 1);
    b.add(FrameIndexEntry::Audio, 0, 100, 0, std::string(48, 'a'), 1);
    Index index = b.walk();
    ASSERT_EQ(index.size(), 4u);
    uint8_t out[48 + 8];
    memset(out, 0x5A, sizeof out);
    size_t position = 0;
    FrameIndexEntry entry;
    auto next = [&] { return FrameIndex::nextFrame(index, position, b.source(), R::Forward, entry, out, 48); };
    EXPECT_EQ(next(), 20);
    EXPECT_EQ(std::make_pair(position, int(entry.gop)), std::make_pair(size_t(3), 1));
    EXPECT_EQ(std::vector<int>({next(), next(), next()}), std::vector<int>({48, 0, 0}));
    EXPECT_EQ(std::string(out + 48, out + sizeof out), std::string(8, 0x5A));
    // An entry pointing outside the frame buffer is skipped, not read.
    index = {index[2]};
    index[0].payloadOffset = uint32_t(b.bytes.size() - 5);
    position = 0;
    EXPECT_EQ(next(), 0);
}

TEST(Headers, VideoHeaderForChannelAndH265ForSize)
{
    BankBuilder b;
    b.add(FrameIndexEntry::Audio, 1, 0, 0, "a", 30); // not video: ignored
    uint8_t channel = 0;
    for (uint8_t res : {14, 0, 30, 4})
        b.add(FrameIndexEntry::Video, channel++, 0, 0, "v", res);
    const Index index = b.walk();
    for (const auto &c : {std::make_pair(0, 0x50), {1, 0x50}, {2, 0xf0}, {3, 0}, {5, 0}}) {
        uint8_t out[23] = {};
        EXPECT_EQ(FrameIndex::videoHeaderForChannel(index, c.first, out, 22), 0) << "too small";
        EXPECT_EQ(FrameIndex::videoHeaderForChannel(index, c.first, out, sizeof out), c.second ? 23 : 0) << c.first;
        EXPECT_EQ(out[11], c.second) << c.first;
    }
    // Byte 52: the first that tells the three H.265 sets apart.
    for (const auto &s : {std::make_tuple(2560, 1440, 0x01), {1920, 1080, 0x03}, {1280, 720, 0x02}, {720, 1280, 0}, {320, 240, 0}}) {
        uint8_t out[103] = {};
        EXPECT_EQ(FrameIndex::h265HeaderForSize(std::get<0>(s), std::get<1>(s), out, sizeof out), std::get<2>(s) ? 103 : 0) << std::get<0>(s);
        EXPECT_EQ(out[52], std::get<2>(s)) << std::get<0>(s);
        EXPECT_EQ(FrameIndex::h265HeaderForSize(std::get<0>(s), std::get<1>(s), out, 102), 0);
    }
}

} // namespace
