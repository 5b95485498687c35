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

// A bank buffer: header area, then entries each followed by its payload.
struct BankBuilder {
    std::vector<uint8_t> bytes = std::vector<uint8_t>(FrameIndex::BankDataStart, 0xEE);
    uint64_t sequence = 0;

    size_t add(uint16_t marker, uint8_t channel, int64_t ms, uint8_t gop, const std::string &payload,
               uint8_t res = 1)
    {
        FrameIndexEntry e;
        e.marker = marker;
        const uint64_t seq = ++sequence;
        memcpy(e.sequence, &seq, 8);
        e.size = int32_t(payload.size());
        e.sec = uint32_t(T0 + ms / 1000);
        e.usec = uint32_t(ms % 1000 * 1000);
        e.gop = gop;
        e.rate = marker == FrameIndexEntry::Gps ? 1 : 30;
        e.res = res;
        e.channel = channel;
        const size_t at = bytes.size();
        bytes.resize(at + FrameIndexEntry::Size);
        e.store(bytes.data() + at);
        bytes.insert(bytes.end(), payload.begin(), payload.end());
        return at;
    }
    FrameIndexEntry at(size_t offset) const { return FrameIndexEntry::load(bytes.data() + offset); }
    void put(size_t offset, const FrameIndexEntry &e) { e.store(bytes.data() + offset); }
};

std::string framePayload(int channel, int frame)
{
    return "c" + std::to_string(channel) + "f" + std::to_string(frame);
}

std::string gsensorPayload(int second)
{
    std::string p;
    for (int s = 0; s < 3; ++s) {
        GSensorSample g;
        g.sec = uint32_t(second);
        g.usec = uint32_t(s * 300000);
        g.x = uint16_t(2000 + s);
        g.y = 6000;
        g.z = 100;
        uint8_t raw[GSensorSample::Size];
        g.store(raw);
        p.append(reinterpret_cast<const char *>(raw), sizeof raw);
    }
    return p;
}

// Three channels at 10 frames a second for 3 s, GOPs of 5 frames; channel 2
// has its key frames two frames later, so it starts with two frames that
// cannot be decoded. Audio every 100 ms, GPS and a G-sensor group each second.
BankBuilder recording()
{
    BankBuilder b;
    for (int f = 0; f < 30; ++f) {
        const int64_t ms = f * 100;
        if (f % 10 == 0) {
            b.add(FrameIndexEntry::Gps, 0, ms, 0, "$GPRMC,fix" + std::to_string(f / 10));
            b.add(FrameIndexEntry::GSensor, 0, ms, 0, gsensorPayload(f / 10));
        }
        for (int c = 0; c < 3; ++c) {
            const int phase = c == 2 ? (f + 3) % 5 : f % 5;
            b.add(FrameIndexEntry::Video, uint8_t(c), ms + c * 10, uint8_t(phase), framePayload(c, f));
        }
        b.add(FrameIndexEntry::Audio, 0, ms + 50, 0, "pcm" + std::to_string(f));
    }
    return b;
}

std::vector<FrameIndexEntry> walk(const BankBuilder &b, uint64_t dataEnd, FrameIndex::BankWalkResult *result = nullptr,
                                  FrameIndex::BankWalkOptions options = {})
{
    std::vector<FrameIndexEntry> index;
    const auto r = FrameIndex::walkBank(b.bytes.data(), b.bytes.size(), dataEnd, options, index, nullptr);
    if (result)
        *result = r;
    return index;
}

std::string payloadOf(const BankBuilder &b, const FrameIndexEntry &e)
{
    return std::string(reinterpret_cast<const char *>(b.bytes.data()) + e.payloadOffset, size_t(e.size));
}

TEST(FrameIndexEntry, LoadsEveryFieldFromItsLittleEndianOffset)
{
    uint8_t raw[1 + FrameIndexEntry::Size];
    for (size_t i = 0; i < sizeof raw; ++i)
        raw[i] = uint8_t(i);
    const FrameIndexEntry e = FrameIndexEntry::load(raw + 1); // at an odd address
    EXPECT_EQ(+e.marker, 0x0201);
    EXPECT_EQ(e.sequence64(), 0x0A09080706050403ull);
    EXPECT_EQ(e.serial(), 0x06050403u);
    EXPECT_EQ(+e.size, 0x0E0D0C0B);
    EXPECT_EQ(+e.sec, 0x1211100Fu);
    EXPECT_EQ(+e.usec, 0x16151413u);
    EXPECT_EQ(e.gop, 0x17);
    EXPECT_EQ(e.rate, 0x18);
    EXPECT_EQ(e.res, 0x19);
    EXPECT_EQ(e.channel, 0x1A);
    EXPECT_EQ(+e.catalogueIndex, 0x1C1B);
    EXPECT_EQ(+e.field28, 0x201F1E1Du);
    EXPECT_EQ(+e.field32, 0x24232221u);
    EXPECT_EQ(e.field36, 0x25);
    EXPECT_EQ(+e.payloadOffset, 0x29282726u);
    EXPECT_EQ(+e.field41, 0x2D2C2B2Au);
    uint8_t back[FrameIndexEntry::Size];
    e.store(back);
    EXPECT_EQ(memcmp(back, raw + 1, sizeof back), 0);
}

TEST(BankWalk, IndexesEveryPacketWithItsPayloadAndGSensorSamples)
{
    const BankBuilder b = recording();
    std::vector<FrameIndexEntry> index;
    std::vector<GSensorSample> samples;
    FrameIndex::BankWalkOptions options;
    options.catalogueIndex = 7;
    const auto r = FrameIndex::walkBank(b.bytes.data(), b.bytes.size(), b.bytes.size(), options, index, &samples);
    EXPECT_TRUE(r.complete);
    ASSERT_EQ(index.size(), 30u * 4 + 3 * 2);
    EXPECT_EQ(r.entries, index.size());
    std::map<uint16_t, int> perMarker;
    for (const FrameIndexEntry &e : index) {
        ++perMarker[uint16_t(e.marker)];
        EXPECT_EQ(+e.catalogueIndex, 7);
        if (e.marker == FrameIndexEntry::Video) {
            EXPECT_EQ(payloadOf(b, e), framePayload(e.channel, int(e.timeMs() - int64_t(T0) * 1000) / 100));
        }
    }
    EXPECT_EQ(perMarker, (std::map<uint16_t, int>{{FrameIndexEntry::Video, 90}, {FrameIndexEntry::Audio, 30},
                                                  {FrameIndexEntry::GSensor, 3}, {FrameIndexEntry::Gps, 3}}));
    ASSERT_EQ(samples.size(), 9u);
    EXPECT_EQ(+samples[4].sec, 1u);
    EXPECT_EQ(+samples[4].usec, 300000u);
    EXPECT_EQ(+samples[4].x, 2001);
}

TEST(BankWalk, DamagedAndOddEntries)
{
    struct Case {
        const char *name;
        std::function<uint64_t(BankBuilder &)> damage; // returns dataEnd
        size_t entries;
        bool complete;
        std::function<void(const std::vector<FrameIndexEntry> &)> check;
    };
    auto entryAt = [](BankBuilder &b, int n) {
        size_t p = FrameIndex::BankDataStart;
        for (int i = 0; i < n; ++i)
            p += FrameIndexEntry::Size + size_t(b.at(p).size);
        return p;
    };
    auto edit = [&](BankBuilder &b, int n, const std::function<void(FrameIndexEntry &)> &f) {
        const size_t p = entryAt(b, n);
        FrameIndexEntry e = b.at(p);
        f(e);
        b.put(p, e);
    };
    const size_t all = 30 * 4 + 6;
    const Case cases[] = {
        {"time runs backward at the second entry",
         [&](BankBuilder &b) {
             edit(b, 1, [](FrameIndexEntry &e) { e.sec -= 5; });
             return b.bytes.size();
         },
         all, true,
         [](const std::vector<FrameIndexEntry> &x) {
             EXPECT_EQ(+x[1].marker, FrameIndexEntry::TimeBackward);
             EXPECT_NE(+x[2].marker, FrameIndexEntry::TimeBackward);
         }},
        {"microseconds borrow into a backward second",
         [&](BankBuilder &b) {
             const FrameIndexEntry before = b.at(entryAt(b, 3));
             edit(b, 4, [&](FrameIndexEntry &e) {
                 e.sec = before.sec;
                 e.usec = before.usec - 1;
             });
             return b.bytes.size();
         },
         all, true, [](const std::vector<FrameIndexEntry> &x) { EXPECT_EQ(+x[4].marker, FrameIndexEntry::TimeBackward); }},
        {"unknown marker and channel 9 are skipped",
         [&](BankBuilder &b) {
             edit(b, 4, [](FrameIndexEntry &e) { e.marker = 0x1234; });
             edit(b, 6, [](FrameIndexEntry &e) { e.channel = 9; });
             return b.bytes.size();
         },
         all - 2, true, nullptr},
        {"negative size ends the walk",
         [&](BankBuilder &b) {
             edit(b, 10, [](FrameIndexEntry &e) { e.size = -45; });
             return b.bytes.size();
         },
         10, false, nullptr},
        {"size past the data end ends the walk",
         [&](BankBuilder &b) {
             edit(b, 10, [&](FrameIndexEntry &e) { e.size = int32_t(b.bytes.size()); });
             return b.bytes.size();
         },
         10, false, nullptr},
        {"huge size does not wrap around",
         [&](BankBuilder &b) {
             edit(b, 10, [](FrameIndexEntry &e) { e.size = INT32_MAX; });
             return b.bytes.size();
         },
         10, false, nullptr},
        {"data end inside an entry header", [&](BankBuilder &b) { return entryAt(b, 12) + 20; }, 12, false, nullptr},
        {"data end inside a payload", [&](BankBuilder &b) { return entryAt(b, 12) + FrameIndexEntry::Size + 1; }, 12,
         false, nullptr},
        {"data end beyond the buffer is clipped to it", [&](BankBuilder &b) { return b.bytes.size() + 100000; }, all,
         true, nullptr},
        {"data end before the frame data", [&](BankBuilder &) { return uint64_t(100); }, 0, true, nullptr},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        BankBuilder b = recording();
        const uint64_t dataEnd = c.damage(b);
        FrameIndex::BankWalkResult r;
        const auto index = walk(b, dataEnd, &r);
        EXPECT_EQ(index.size(), c.entries);
        EXPECT_EQ(r.complete, c.complete);
        for (const FrameIndexEntry &e : index)
            EXPECT_LE(uint64_t(e.payloadOffset) + uint64_t(e.size), b.bytes.size());
        if (c.check)
            c.check(index);
    }
}

TEST(BankWalk, LoadLimitKeepsTheRightSide)
{
    const BankBuilder b = recording();
    FrameIndex::BankWalkOptions forward;
    forward.limit = 100;
    FrameIndex::BankWalkOptions backward = forward;
    backward.backwardLoad = true;
    const auto after = walk(b, b.bytes.size(), nullptr, forward);
    const auto before = walk(b, b.bytes.size(), nullptr, backward);
    ASSERT_FALSE(after.empty());
    ASSERT_FALSE(before.empty());
    EXPECT_EQ(after.front().sequence64(), 100u);
    EXPECT_EQ(before.back().sequence64(), 100u);
    EXPECT_EQ(after.size() + before.size(), 30u * 4 + 6 + 1);
}

TEST(BackwardIndex, BringsGopsLatestFirstWithEveryFrameOnce)
{
    const BankBuilder b = recording();
    const auto forward = walk(b, b.bytes.size());
    const auto backward = FrameIndex::buildBackward(forward, 3);

    std::map<int, std::vector<int64_t>> keyTimes;
    std::map<int, std::vector<std::string>> seen;
    int64_t lastBlockTime = INT64_MAX;
    std::vector<int64_t> gsensorTimes;
    for (size_t i = 0; i < backward.size(); ++i) {
        const FrameIndexEntry &e = backward[i];
        ASSERT_TRUE(e.marker == FrameIndexEntry::Video || e.marker == FrameIndexEntry::GSensor) << i;
        if (e.marker == FrameIndexEntry::GSensor || e.gop == 0) {
            // GOPs of all channels and G-sensor groups interleaved, latest first.
            EXPECT_LE(e.timeMs(), lastBlockTime) << i;
            lastBlockTime = e.timeMs();
        }
        if (e.marker == FrameIndexEntry::GSensor) {
            gsensorTimes.push_back(e.timeMs());
            continue;
        }
        if (e.gop == 0) {
            keyTimes[e.channel].push_back(e.timeMs());
        } else {
            ASSERT_FALSE(seen[e.channel].empty()) << "GOP of channel " << int(e.channel) << " without key frame";
        }
        seen[e.channel].push_back(payloadOf(b, e));
    }
    for (int c = 0; c < 3; ++c) {
        SCOPED_TRACE(c);
        const auto &k = keyTimes[c];
        for (size_t i = 1; i < k.size(); ++i)
            EXPECT_LT(k[i], k[i - 1]);
        // Every frame from the channel's first key frame on, exactly once.
        std::vector<std::string> expected;
        for (int f = (c == 2 ? 2 : 0); f < 30; ++f)
            expected.push_back(framePayload(c, f));
        std::vector<std::string> got = seen[c];
        std::sort(expected.begin(), expected.end());
        std::sort(got.begin(), got.end());
        EXPECT_EQ(got, expected);
    }
    EXPECT_EQ(gsensorTimes, (std::vector<int64_t>{int64_t(T0) * 1000 + 2000, int64_t(T0) * 1000 + 1000,
                                                  int64_t(T0) * 1000}));
    // Each GOP in recording order after its key frame: the frame sequence of
    // channel 0 is 25..29, 20..24, ..., 0..4.
    std::vector<std::string> channel0;
    for (int g = 6; g-- > 0;)
        for (int f = g * 5; f < g * 5 + 5; ++f)
            channel0.push_back(framePayload(0, f));
    EXPECT_EQ(seen[0], channel0);
    EXPECT_TRUE(FrameIndex::buildBackward({}, 3).empty());
}

TEST(Seek, ForwardAndBackwardIndexes)
{
    const BankBuilder b = recording();
    const auto forward = walk(b, b.bytes.size());
    const auto backward = FrameIndex::buildBackward(forward, 3);
    // First entry of the forward index is a GPS record, so seeking before
    // the start finds no key frame of channel 0 at or before it.
    struct Case {
        const char *name;
        const std::vector<FrameIndexEntry> *index;
        bool forwardIndex;
        int64_t seconds;
        bool found;
        int64_t keyMs; // expected time of the channel-0 key frame landed on
    };
    const int64_t base = int64_t(T0) * 1000;
    const Case cases[] = {
        {"forward, before", &forward, true, T0 - 10, false, 0},
        // The GPS record of second 1 comes before the key frame stamped 1.000,
        // so the walk back lands on the GOP before it.
        {"forward, inside", &forward, true, T0 + 1, true, base + 500},
        {"forward, at the last second", &forward, true, T0 + 2, true, base + 1500},
        {"forward, after", &forward, true, T0 + 10, false, 0},
        {"backward, before", &backward, false, T0 - 10, true, base},
        {"backward, inside", &backward, false, T0 + 1, true, base + 1000},
        {"backward, after", &backward, false, T0 + 10, true, base + 2500},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        size_t position = 12345;
        const bool found = c.forwardIndex ? FrameIndex::seekForward(*c.index, c.seconds, position)
                                          : FrameIndex::seekBackward(*c.index, c.seconds, position);
        EXPECT_EQ(found, c.found);
        if (!c.found) {
            EXPECT_EQ(position, 12345u);
            continue;
        }
        ASSERT_LT(position, c.index->size());
        const FrameIndexEntry &e = (*c.index)[position];
        EXPECT_TRUE(e.isKeyFrame());
        EXPECT_EQ(e.channel, 0);
        EXPECT_EQ(e.timeMs(), c.keyMs);
    }
    // A forward index that starts with a key frame of channel 0.
    std::vector<FrameIndexEntry> video(forward.begin() + 2, forward.end());
    size_t position = 99;
    EXPECT_TRUE(FrameIndex::seekForward(video, T0 - 10, position));
    EXPECT_EQ(position, 0u);
    // An audio entry of channel 0 with GOP byte 0 is not a key frame.
    std::vector<FrameIndexEntry> audioFirst(forward.begin() + 5, forward.end());
    ASSERT_EQ(+audioFirst.front().marker, FrameIndexEntry::Audio);
    position = 99;
    EXPECT_FALSE(FrameIndex::seekForward(audioFirst, T0 - 10, position));
    EXPECT_EQ(position, 99u);
    EXPECT_FALSE(FrameIndex::seekBackward({}, T0, position));
}

TEST(FrameData, ParameterSetInFrontByResolutionCodeAndReading)
{
    using R = ParameterSets::Reading;
    // First bytes after the common 00 00 00 01 67 64 00 33 ac ca 80 of each H.264 set.
    const uint8_t h1080 = 0x78, h720 = 0x50, h576 = 0xf0, none = 0;
    std::map<int, uint8_t> forwardTable{{12, h1080}, {13, h1080}, {15, h1080}, {14, h720}, {30, h576}};
    for (int code = 0; code < 256; ++code) {
        for (R reading : {R::Forward, R::Backward, R::Export}) {
            SCOPED_TRACE(std::to_string(code) + " reading " + std::to_string(int(reading)));
            BankBuilder b;
            b.add(FrameIndexEntry::Video, 0, 0, 0, "PAYLOAD", uint8_t(code));
            b.add(FrameIndexEntry::Audio, 0, 0, 0, "AUDIO", uint8_t(code));
            const auto index = walk(b, b.bytes.size());
            const FrameIndex::FrameSource source{b.bytes.data(), b.bytes.size()};
            uint8_t out[64];
            uint8_t expected = forwardTable.count(code) ? forwardTable[code] : none;
            if (code == 0 && reading == R::Backward)
                expected = h720;
            const int n = FrameIndex::frameData(index[0], source, reading, out, sizeof out);
            ASSERT_EQ(n, 7 + (expected ? 23 : 0));
            EXPECT_EQ(memcmp(out + n - 7, "PAYLOAD", 7), 0);
            if (expected) {
                EXPECT_EQ(out[11], expected);
            }
            EXPECT_EQ(FrameIndex::frameData(index[1], source, reading, out, sizeof out), 5);
        }
    }
}

TEST(FrameData, RecordFilesPutTheChannelsTrackConfigurationInFront)
{
    BankBuilder b;
    for (uint8_t c = 0; c < 3; ++c)
        b.add(FrameIndexEntry::Video, c, 0, 0, "F", 15);
    b.add(FrameIndexEntry::Audio, 0, 0, 0, "A", 15);
    const auto index = walk(b, b.bytes.size());
    const uint8_t cfg0[] = {0, 0, 0, 1, 0x40, 0xA0}, cfg1[] = {0, 0, 1, 0x40, 0xB1, 0xB2, 0xB3};
    const ParameterSet configs[] = {{cfg0, sizeof cfg0}, {cfg1, sizeof cfg1}};
    const FrameIndex::FrameSource source{b.bytes.data(), b.bytes.size(), configs, 2};
    const std::vector<std::string> expected{std::string(reinterpret_cast<const char *>(cfg0), sizeof cfg0) + "F",
                                            std::string(reinterpret_cast<const char *>(cfg1), sizeof cfg1) + "F",
                                            "F", "A"};
    for (size_t i = 0; i < index.size(); ++i) {
        uint8_t out[64];
        const int n = FrameIndex::frameData(index[i], source, ParameterSets::Reading::Forward, out, sizeof out);
        EXPECT_EQ(std::string(reinterpret_cast<const char *>(out), size_t(std::max(n, 0))), expected[i]) << i;
    }
}

TEST(NextFrame, NeverWritesPastTheCallersCapacity)
{
    BankBuilder b;
    b.add(FrameIndexEntry::Video, 0, 0, 0, std::string(40, 'k'), 15); // 23 + 40: too big
    b.add(FrameIndexEntry::Audio, 0, 0, 0, std::string(), 15);        // nothing to hand out
    b.add(FrameIndexEntry::Video, 0, 100, 1, std::string(20, 'p'), 1);
    b.add(FrameIndexEntry::Audio, 0, 100, 0, std::string(48, 'a'), 1);
    const auto index = walk(b, b.bytes.size());
    ASSERT_EQ(index.size(), 4u);
    const FrameIndex::FrameSource source{b.bytes.data(), b.bytes.size()};
    uint8_t out[48 + 8];
    memset(out, 0x5A, sizeof out);
    const size_t capacity = 48;
    size_t position = 0;
    FrameIndexEntry entry;
    EXPECT_EQ(FrameIndex::nextFrame(index, position, source, ParameterSets::Reading::Forward, entry, out, capacity), 20);
    EXPECT_EQ(position, 3u);
    EXPECT_EQ(entry.gop, 1);
    EXPECT_EQ(FrameIndex::nextFrame(index, position, source, ParameterSets::Reading::Forward, entry, out, capacity), 48);
    EXPECT_EQ(FrameIndex::nextFrame(index, position, source, ParameterSets::Reading::Forward, entry, out, capacity), 0);
    EXPECT_EQ(FrameIndex::nextFrame(index, position, source, ParameterSets::Reading::Forward, entry, out, capacity), 0);
    for (size_t i = capacity; i < sizeof out; ++i)
        EXPECT_EQ(out[i], 0x5A);

    // An entry pointing outside the frame buffer is skipped, not read.
    std::vector<FrameIndexEntry> bad{index[2]};
    bad[0].payloadOffset = uint32_t(b.bytes.size() - 5);
    position = 0;
    EXPECT_EQ(FrameIndex::nextFrame(bad, position, source, ParameterSets::Reading::Forward, entry, out, capacity), 0);
}

TEST(Headers, VideoHeaderForChannelAndH265ForSize)
{
    BankBuilder b;
    b.add(FrameIndexEntry::Audio, 1, 0, 0, "a", 30); // not video: ignored
    b.add(FrameIndexEntry::Video, 0, 0, 0, "v", 14);
    b.add(FrameIndexEntry::Video, 1, 0, 0, "v", 0);
    b.add(FrameIndexEntry::Video, 2, 0, 0, "v", 30);
    b.add(FrameIndexEntry::Video, 3, 0, 0, "v", 4);
    const auto index = walk(b, b.bytes.size());
    struct Case {
        int channel;
        int result;
        uint8_t marker;
    };
    for (const Case &c : {Case{0, 23, 0x50}, Case{1, 23, 0x50}, Case{2, 23, 0xf0}, Case{3, 0, 0}, Case{5, 0, 0}}) {
        SCOPED_TRACE(c.channel);
        uint8_t out[23] = {};
        EXPECT_EQ(FrameIndex::videoHeaderForChannel(index, c.channel, out, sizeof out), c.result);
        EXPECT_EQ(out[11], c.marker);
        EXPECT_EQ(FrameIndex::videoHeaderForChannel(index, c.channel, out, 22), 0);
    }
    struct Size {
        int w, h, result;
        uint8_t at52; // first byte that tells the three H.265 sets apart
    };
    for (const Size &s : {Size{2560, 1440, 103, 0x01}, Size{1920, 1080, 103, 0x03}, Size{1280, 720, 103, 0x02},
                          Size{720, 1280, 0, 0}, Size{320, 240, 0, 0}}) {
        SCOPED_TRACE(std::to_string(s.w) + "x" + std::to_string(s.h));
        uint8_t out[103] = {};
        EXPECT_EQ(FrameIndex::h265HeaderForSize(s.w, s.h, out, sizeof out), s.result);
        EXPECT_EQ(out[52], s.at52);
        EXPECT_EQ(FrameIndex::h265HeaderForSize(s.w, s.h, out, 102), 0);
    }
}

} // namespace
