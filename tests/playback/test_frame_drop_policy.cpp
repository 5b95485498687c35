// The drop decisions of a late channel, packet by packet, and the reading of
// which pictures nothing refers to from the NAL unit headers.
#include "FrameDropPolicy.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Action = FrameDropPolicy::Action;
constexpr auto D = Action::Decode;
constexpr auto N = Action::DropNonReference;
constexpr auto K = Action::DropToKeyFrame;
constexpr qint64 NoClock = INT64_MIN;

struct Packet {
    qint64 time;
    bool key;
    bool nonReference;
    qint64 late; // how far the clock is past the packet (negative: ahead); NoClock: none
    Action want;
};

// 30 frames per second, key frames every 10 frames (333 ms); odd frames are
// non-reference. The clock runs late by what each row says.
TEST(FrameDropPolicy, LateChannelsDropNonReferenceFramesThenSkipToAKeyFrame)
{
    const struct {
        const char *name;
        std::vector<Packet> packets;
    } cases[] = {
        {"no clock: everything decoded, however late",
         {{0, true, false, NoClock, D}, {33, false, true, NoClock, D}, {66, false, false, NoClock, D}}},
        {"on time: non-reference frames decoded too",
         {{0, true, false, 0, D}, {33, false, true, 20, D}, {66, false, false, 33, D}, {100, false, true, 30, D}}},
        {"a frame behind: non-reference frames dropped until the next key frame decides again",
         {{0, true, false, 0, D}, {33, false, true, 10, D}, {66, false, false, 50, D}, {100, false, true, 10, N},
          {133, false, false, 0, D}, {166, false, true, 0, N}, {333, true, false, 10, D}, {366, false, true, 10, D}}},
        {"behind at a key frame: its whole GOP drops non-reference frames",
         {{0, true, false, 0, D}, {33, false, false, 0, D}, {333, true, false, 60, D}, {366, false, true, 0, N},
          {400, false, false, 0, D},
          {666, true, true, 0, D}, {700, false, true, 0, D}}},
        {"more than a GOP behind: nothing decoded until a key frame in time",
         {{0, true, false, 0, D},       {333, true, false, 0, D},     {366, false, false, 400, K},
          {400, false, false, 10, K},   {666, true, false, 200, K},   {700, false, true, 0, K},
          {1000, true, false, 20, K},   {1033, false, true, -50, K},  {1333, true, false, 0, D},
          {1366, false, true, -30, D},  {1400, false, false, -10, D}}},
        {"later than a picture may be shown, within a GOP: skipped as well",
         {{0, true, false, 0, D}, {33, false, false, 150, K}, {66, false, false, 0, K}, {333, true, false, -40, D}}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        FrameDropPolicy policy;
        // Two key frames 333 ms apart teach the intervals before the case runs.
        policy.next(-666, true, false, false, 0);
        for (int i = 1; i < 10; ++i)
            policy.next(-666 + i * 33, false, i % 2, false, 0);
        policy.next(-333, true, false, false, 0);
        for (int i = 1; i < 10; ++i)
            policy.next(-333 + i * 33, false, i % 2, false, 0);
        ASSERT_EQ(policy.gopIntervalMs(), 333);
        ASSERT_EQ(policy.frameIntervalMs(), 33);
        for (size_t i = 0; i < c.packets.size(); ++i) {
            const Packet &p = c.packets[i];
            EXPECT_EQ(int(policy.next(p.time, p.key, p.nonReference, p.late != NoClock, p.late == NoClock ? 0 : p.time + p.late)), int(p.want))
                << "packet " << i << " at " << p.time;
        }
    }
}

// Intervals come from the packets: the shortest step of a GOP (frames may
// arrive in decode order) and the distance of key frames; jumps between
// recordings teach nothing.
TEST(FrameDropPolicy, IntervalsAreLearntFromPacketTimes)
{
    const struct {
        const char *name;
        std::vector<qint64> times; // key frames every keyEvery packets
        int keyEvery;
        qint64 frameMs, gopMs;
    } cases[] = {
        {"25 fps, key frame every 5 frames", {0, 40, 80, 120, 160, 200, 240, 280, 320, 360, 400}, 5, 40, 200},
        {"decode order with B-frames", {0, 120, 40, 80, 160, 200, 320, 240, 280, 360, 400}, 5, 40, 200},
        {"a jump of an hour between key frames", {0, 33, 66, 3600000, 3600033, 3600066, 3600099}, 4, 33,
         FrameDropPolicy::DefaultGopMs},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        FrameDropPolicy policy;
        for (size_t i = 0; i < c.times.size(); ++i)
            policy.next(c.times[i], i % size_t(c.keyEvery) == 0, false, false, 0);
        EXPECT_EQ(policy.frameIntervalMs(), c.frameMs);
        EXPECT_EQ(policy.gopIntervalMs(), c.gopMs);
    }
}

// Lateness is the picture's when it leaves the decoder: a decoder whose
// pictures come out 200 ms after their packets went in makes a packet due
// now too late to decode, and a skip resumes only at a key frame whose
// picture will come out in time. Pictures the decoder never
// had teach nothing.
TEST(FrameDropPolicy, TheDecodersDelayCounts)
{
    FrameDropPolicy policy;
    for (int i = 0; i < 30; ++i) {
        const qint64 t = i * 33;
        ASSERT_EQ(int(policy.next(t, i % 10 == 0, false, true, t - 300)), int(D)) << i;
        policy.notePicture(t, t - 100);
    }
    policy.notePicture(5000, 9000);
    EXPECT_NEAR(double(policy.decoderDelayMs()), 200, 10);
    // Key frames at 990, 1320 and 1650; the clock is on time, then 150 ms
    // and 250 ms behind.
    for (int i = 30; i < 52; ++i) {
        const qint64 t = i * 33, behind = i < 40 ? 0 : i < 50 ? 150 : 250;
        EXPECT_EQ(int(policy.next(t, i % 10 == 0, false, true, t - behind)), int(i < 50 ? K : D)) << "packet at " << t;
    }
}

TEST(FrameDropPolicy, NonReferencePicturesByNalHeader)
{
    const struct {
        const char *name;
        bool hevc;
        std::vector<uint8_t> bytes;
        int maxTemporalIdBefore;
        bool want;
        int maxTemporalIdAfter;
    } cases[] = {
        {"H.264 IDR", false, {0, 0, 0, 1, 0x65, 0x88}, 0, false, 0},
        {"H.264 reference P slice", false, {0, 0, 1, 0x41, 0x9a}, 0, false, 0},
        {"H.264 non-reference slice", false, {0, 0, 1, 0x01, 0x9e}, 0, true, 0},
        {"H.264 SPS, PPS, then a non-reference slice", false,
         {0, 0, 0, 1, 0x67, 0x42, 0, 0, 0, 1, 0x68, 0xce, 0, 0, 1, 0x01, 0x9e}, 0, true, 0},
        {"H.264 parameter sets only", false, {0, 0, 0, 1, 0x67, 0x42, 0, 0, 1, 0x68, 0xce}, 0, false, 0},
        {"HEVC TRAIL_R", true, {0, 0, 0, 1, 0x02, 0x01, 0xd0}, 0, false, 0},
        {"HEVC TRAIL_N", true, {0, 0, 0, 1, 0x00, 0x01, 0xd0}, 0, true, 0},
        {"HEVC RASL_N", true, {0, 0, 1, 0x10, 0x01, 0xd0}, 0, true, 0},
        {"HEVC IDR_W_RADL", true, {0, 0, 1, 0x26, 0x01, 0xaf}, 0, false, 0},
        {"HEVC TSA_N on the top layer", true, {0, 0, 1, 0x04, 0x02, 0xd0}, 1, true, 1},
        {"HEVC TRAIL_N below a layer seen before", true, {0, 0, 1, 0x00, 0x01, 0xd0}, 1, false, 1},
        {"HEVC TRAIL_N below a layer its SPS announces", true,
         {0, 0, 1, 0x42, 0x01, 0x03, 0x01, 0, 0, 1, 0x00, 0x01, 0xd0}, 0, false, 1},
        {"HEVC VPS, SPS, PPS of one layer, then TRAIL_N", true,
         {0, 0, 1, 0x40, 0x01, 0x0c, 0, 0, 1, 0x42, 0x01, 0x01, 0x01, 0, 0, 1, 0x44, 0x01, 0xc1, 0, 0, 1, 0x00, 0x01, 0xd0},
         0, true, 0},
        {"no start code", true, {0x00, 0x01, 0xd0, 0x55, 0x12}, 0, false, 0},
        {"cut after the start code", true, {0, 0, 0, 1, 0x00}, 0, false, 0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        int maxTemporalId = c.maxTemporalIdBefore;
        EXPECT_EQ(isNonReferencePicture(c.bytes.data(), int(c.bytes.size()), c.hevc, &maxTemporalId), c.want);
        EXPECT_EQ(maxTemporalId, c.maxTemporalIdAfter);
    }
    int maxTemporalId = 0;
    EXPECT_FALSE(isNonReferencePicture(nullptr, 10, true, &maxTemporalId));
}

} // namespace
