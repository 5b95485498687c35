// The read, decode and render threads together on generated cards (2
// channels, 320x240, 10 fps, a key frame every 10 frames, 3 recordings of
// 5 s back to back).
#include "PlaybackRecorder.h"
#include "ProcessRun.h"

#include <QDir>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>
#include <tuple>

static constexpr int FramesPerChannel = 150; // 3 recordings x 5 s x 10 fps

// Played to the end of the catalogue (at speed 3 to keep it short): every
// picture of every channel once (shown, or dropped as late and counted), media time strictly in the direction of
// play, the recordings in order, and backward each GOP K P1..P4 comes out
// as P4..P1 K.
TEST(Threads, WholeRunOrderCountsAndBoundaries)
{
    const struct { const char *card; int entry; bool backward; std::vector<int> recordings; } cases[] = {
        {"index", 0, false, {0, 1, 2}}, {"index", 2, true, {2, 1, 0}},
        {"record", 0, false, {0, 1, 2}}, {"record", 2, true, {2, 1, 0}}};
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.card) + (c.backward ? " backward" : " forward"));
        PlaybackRecorder p(c.card);
        ASSERT_TRUE(p.opened);
        ASSERT_EQ(p.controller.open(c.entry, c.backward), 0);
        p.controller.setSpeed(3.0f);
        ASSERT_TRUE(p.runUntil([&] { return p.finished(); }, 20000)) << "playback did not end";
        for (int ch = 0; ch < 2; ++ch) {
            const std::vector<Shown> s = p.ofChannel(ch);
            // A machine too busy to keep up (sanitizers, other jobs) drops
            // late pictures; each one is shown or counted, never lost.
            const int dropped = p.controller.droppedFrames(ch);
            ASSERT_EQ(int(s.size()) + dropped, FramesPerChannel) << "channel " << ch << ", " << dropped << " dropped";
            for (size_t i = 1; i < s.size(); ++i) {
                ASSERT_TRUE(c.backward ? s[i].timeMs < s[i - 1].timeMs : s[i].timeMs > s[i - 1].timeMs) << ch << " at " << i;
                if (c.backward && dropped == 0) {
                    ASSERT_TRUE(s[i].gop == s[i - 1].gop - 1 || s[i - 1].gop == 0) << "GOP order at " << i;
                }
            }
            EXPECT_TRUE(!c.backward || dropped > 0 || s.back().gop == 0) << "the earliest key frame comes last";
        }
        std::vector<int> visited;
        for (const Shown &s : p.shown)
            if (visited.empty() || visited.back() != s.recording)
                visited.push_back(s.recording);
        EXPECT_EQ(visited, c.recordings);
        // What the GUI shows for a frame comes from that frame's recording,
        // not from whichever one the read thread loaded last.
        for (int r : visited) {
            ReadThread::RecordingInfo info;
            ASSERT_TRUE(p.controller.readThread()->recordingInfo(r, &info)) << r;
            EXPECT_EQ(info.startTime, p.reader.mode() == 1 ? p.reader.banks().at(r).start : p.reader.files().at(r).start.toSecsSinceEpoch()) << r;
        }
    }
}

// Media time of channel 0 against wall time over about three seconds; fast
// play shows key frames only.
TEST(Threads, RateFollowsSpeedAndMode)
{
    const struct { float speed; bool fast; double rate /* media ms per wall ms */, tolerance; } cases[] = {
        {1.0f, false, 1.0, 0.05}, {1.5f, false, 1.5, 0.05}, {1.0f, true, 3.0, 0.15}};
    for (const auto &c : cases) {
        SCOPED_TRACE(std::to_string(c.speed) + (c.fast ? " fast" : ""));
        PlaybackRecorder p("index");
        ASSERT_EQ(p.controller.open(0), 0);
        p.controller.setSpeed(c.speed);
        if (c.fast)
            p.controller.fastForward();
        // Leave out the start, where the clock is set by the first picture.
        p.runUntil([&] { return p.ofChannel(0).size() >= 3; }, 5000);
        const size_t from = p.shown.size();
        p.runFor(3000);
        const std::vector<Shown> s = p.ofChannel(0, from);
        ASSERT_GE(s.size(), 4u);
        EXPECT_NEAR(double(s.back().timeMs - s.front().timeMs) / double(s.back().wallMs - s.front().wallMs), c.rate, c.rate * c.tolerance);
        for (const Shown &f : s)
            EXPECT_TRUE(!c.fast || f.gop == 0);
    }
}

// After a seek into another recording, every channel starts with a key
// frame at or before the target, never with a frame that needs an earlier one.
TEST(Threads, SeekStartsEachChannelAtAKeyFrame)
{
    PlaybackRecorder p("index");
    ASSERT_EQ(p.controller.open(0), 0);
    ASSERT_TRUE(p.runUntil([&] { return p.ofChannel(0).size() >= 5; }, 5000));
    const qint64 start2 = p.reader.banks().at(2).start * 1000;
    ASSERT_EQ(p.controller.seek(2, start2 + 2500), 0);
    // Channels are decoded side by side: either may show its first picture first.
    const auto showsRecording2 = [&](int ch) { return !p.ofChannel(ch).empty() && p.ofChannel(ch).back().recording == 2; };
    ASSERT_TRUE(p.runUntil([&] { return showsRecording2(0) && showsRecording2(1); }, 5000));
    for (int ch = 0; ch < 2; ++ch) {
        const std::vector<Shown> s = p.ofChannel(ch);
        auto first = std::find_if(s.begin(), s.end(), [](const Shown &f) { return f.recording == 2; });
        ASSERT_NE(first, s.end());
        EXPECT_EQ(std::make_pair(first->gop, first->timeMs), std::make_pair(0, start2 + 2000)) << "channel " << ch;
    }
}

// Pause holds the picture; play goes on from the paused frame at normal
// speed, not jumping over the time spent paused. Steps while paused show
// exactly one frame of channel 0 each.
TEST(Threads, PauseAndSteps)
{
    PlaybackRecorder p("index");
    ASSERT_EQ(p.controller.open(0), 0);
    ASSERT_TRUE(p.runUntil([&] { return p.ofChannel(0).size() >= 10; }, 5000));
    p.controller.pause();
    p.runFor(300);
    const size_t paused = p.shown.size();
    const qint64 pausedAt = p.ofChannel(0).back().timeMs;
    p.runFor(1000);
    EXPECT_EQ(p.shown.size(), paused) << "nothing is shown while paused";

    for (int step = 1; step <= 3; ++step) {
        const size_t before = p.ofChannel(0).size();
        p.controller.stepForward();
        ASSERT_TRUE(p.runUntil([&] { return !p.controller.renderThread()->stepPending(); }, 3000));
        p.runFor(100);
        const std::vector<Shown> s = p.ofChannel(0);
        ASSERT_EQ(s.size(), before + 1) << "step " << step;
        EXPECT_EQ(s.back().timeMs, pausedAt + 100 * step);
    }

    const qint64 steppedTo = p.ofChannel(0).back().timeMs;
    const size_t resumedFrom = p.shown.size();
    p.controller.play();
    p.runFor(1000);
    const std::vector<Shown> after = p.ofChannel(0, resumedFrom);
    ASSERT_FALSE(after.empty());
    EXPECT_EQ(after.front().timeMs, steppedTo + 100) << "play goes on from the paused frame";
    EXPECT_NEAR(double(after.back().timeMs - steppedTo), 1000.0, 250.0) << "the clock restarted at the paused frame";
}

// Switching to the single pane of channel 1: from then on only channel 1 is
// shown, starting at a key frame near the frame that was on screen; back to
// the grid, both channels again.
TEST(Threads, SinglePaneShowsOnlyItsChannel)
{
    PlaybackRecorder p("index");
    ASSERT_EQ(p.controller.open(0), 0);
    ASSERT_TRUE(p.runUntil([&] { return p.ofChannel(0).size() >= 15; }, 5000));
    const qint64 onScreen = p.ofChannel(0).back().timeMs;
    p.controller.setPaneView(PaneView::Single, 1);
    p.runFor(300); // pictures emitted before the switch arrive meanwhile
    const size_t from = p.shown.size();
    p.runFor(1000);
    ASSERT_GT(p.ofChannel(1, from).size(), 3u);
    EXPECT_TRUE(p.ofChannel(0, from).empty()) << "a hidden channel is not shown";
    EXPECT_LE(std::abs(p.ofChannel(1, from).front().timeMs - onScreen), 1500);

    p.controller.setPaneView(PaneView::TwoByTwo, 0);
    p.runFor(300);
    const size_t grid = p.shown.size();
    p.runFor(1000);
    EXPECT_FALSE(p.ofChannel(0, grid).empty());
    EXPECT_FALSE(p.ofChannel(1, grid).empty());
}

// Fast backward: key frames only, running backward.
TEST(Threads, FastBackwardShowsKeyFramesBackward)
{
    PlaybackRecorder p("index");
    ASSERT_EQ(p.controller.open(2, true), 0);
    p.controller.fastBackward();
    ASSERT_TRUE(p.runUntil([&] { return p.ofChannel(0).size() >= 6; }, 8000));
    const std::vector<Shown> s = p.ofChannel(0);
    for (size_t i = 1; i < s.size(); ++i)
        EXPECT_TRUE(s[i].gop == 0 && s[i].timeMs < s[i - 1].timeMs) << i;
}

// Commands to threads that are not running change nothing and return.
TEST(Threads, CommandsWhileStoppedAreIgnored)
{
    PlaybackRecorder p("index");
    EXPECT_EQ(p.controller.seek(1, p.reader.banks().at(1).start * 1000), -1);
    EXPECT_EQ(p.controller.reverse(), -1);
    p.controller.stepForward();
    p.controller.play();
    p.runFor(200);
    EXPECT_TRUE(p.shown.empty());
    EXPECT_FALSE(p.controller.isRunning());
    EXPECT_EQ(p.controller.open(99), -1) << "no such entry";
}

// An index card of count banks in one sparse data file, built from the
// "index" card: the banks in playable are copies of its three recordings in
// turn (65536 gets the first, so 65536..65538 run on in time), the others
// hold a bank header alone (listed, with no frames). The sort key puts bank
// i at catalogue index i.
static QString manyBanksCard(const QTemporaryDir &dir, int count, const std::set<int> &playable)
{
    const QString source = QDir(fixtureDir()).filePath(QStringLiteral("index"));
    QByteArray head = readFile(source + QStringLiteral("/index.ibx"));
    const QByteArray banks = readFile(source + QStringLiteral("/00.ibx"));
    const qint64 bankSize = qint64(leAt(head, 84, 4)), headerAt = 16384;
    if (head.size() < 93 || bankSize <= headerAt || banks.size() < 3 * bankSize)
        return {};
    head.replace(20, 8, QByteArray(8, '\0')); // area size 0: data file 00 alone
    QFile data(dir.filePath(QStringLiteral("00.ibx")));
    if (!writeFile(dir.filePath(QStringLiteral("index.ibx")), head) || !data.open(QIODevice::WriteOnly))
        return {};
    for (int i = 0; i < count; ++i) {
        const bool whole = playable.count(i) > 0;
        // A whole bank, or its header alone.
        QByteArray bytes = banks.mid((i + 2) % 3 * bankSize + (whole ? 0 : headerAt), whole ? int(bankSize) : 203);
        const int header = whole ? int(headerAt) : 0;
        const auto put32 = [&](int at, quint32 v) {
            for (int b = 0; b < 4; ++b)
                bytes[header + at + b] = char(v >> (8 * b));
        };
        put32(32, quint32(i));
        if (!whole) {
            put32(7, 33792); // frame data ends where it begins
            put32(19, quint32(1678772725 + 5 * i + 5));
            put32(23, quint32(1678772725 + 5 * i));
        }
        if (!data.seek(i * bankSize + (whole ? 0 : headerAt)) || data.write(bytes) != bytes.size())
            return {};
    }
    return data.resize(count * bankSize) ? dir.path() : QString();
}

// Entry 65,537 (index 65536) of a card of 65,540 plays as itself: its
// pictures carry its own index and times, playback moves on to 65537, and
// backward play from 65538 restarts at the frame on screen and goes back to
// 65537, never to the entries whose indexes agree in the low 16 bits.
TEST(Threads, EntriesPastSixteenBitIndexesPlayAsThemselves)
{
    QTemporaryDir dir;
    const std::set<int> playable = {0, 1, 2, 3, 65534, 65535, 65536, 65537, 65538, 65539};
    const QString card = manyBanksCard(dir, 65540, playable);
    ASSERT_FALSE(card.isEmpty());
    PlaybackRecorder p(card);
    ASSERT_TRUE(p.opened);
    ASSERT_EQ(p.reader.banks().size(), 65540);
    const qint64 start65536 = p.reader.banks().at(65536).start * 1000;

    ASSERT_EQ(p.controller.open(65536), 0);
    p.controller.setSpeed(3.0f);
    ASSERT_TRUE(p.runUntil([&] { return !p.shown.empty() && p.shown.back().recording != p.shown.front().recording; }, 8000));
    EXPECT_EQ(p.shown.front().recording, 65536);
    EXPECT_GE(p.shown.front().timeMs, start65536);
    EXPECT_LT(p.shown.front().timeMs, start65536 + 5000);
    EXPECT_EQ(p.shown.back().recording, 65537);

    ASSERT_EQ(p.controller.open(65538), 0);
    const auto shownOf = [&](int recording) {
        return std::count_if(p.shown.begin(), p.shown.end(), [&](const Shown &s) { return s.recording == recording; });
    };
    ASSERT_TRUE(p.runUntil([&] { return shownOf(65538) >= 10; }, 5000));
    const size_t from = p.shown.size();
    ASSERT_EQ(p.controller.reverse(), 0);
    ASSERT_TRUE(p.runUntil([&] { return p.shown.back().recording != 65538; }, 8000));
    std::set<int> visited;
    for (size_t i = from; i < p.shown.size(); ++i)
        visited.insert(p.shown[i].recording);
    EXPECT_EQ(visited, (std::set<int>{65537, 65538}));
}

// Counts of the shown pictures by recording and channel.
static std::map<std::pair<int, int>, int> countsByRecording(const std::vector<Shown> &shown)
{
    std::map<std::pair<int, int>, int> counts;
    for (const Shown &s : shown)
        ++counts[{s.recording, s.channel}];
    return counts;
}

// record-skip: the first 64 KiB of entries 1 (MF2) and 2 (MP4) are zeroed,
// their trailers intact. Playing into them in either direction shows every
// picture of the good recordings around them and reports both as passed
// over with a reason; choosing one of them says why it cannot be played.
TEST(Threads, UnplayableRecordingsArePassedOver)
{
    const struct { int entry; bool backward; std::vector<int> recordings, skipped; } cases[] = {
        {0, false, {0, 3}, {1, 2}}, {3, true, {3, 0}, {2, 1}}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.backward ? "backward" : "forward");
        PlaybackRecorder p("record-skip");
        ASSERT_TRUE(p.opened);
        ASSERT_EQ(p.controller.open(c.entry, c.backward), 0);
        p.controller.setSpeed(3.0f);
        ASSERT_TRUE(p.runUntil([&] { return p.finished(); }, 20000)) << "playback stopped at a damaged recording";
        EXPECT_EQ(p.recordings(), c.recordings);
        const auto counts = countsByRecording(p.shown);
        for (int ch = 0; ch < 2; ++ch) {
            // Late pictures a busy machine drops are counted, never lost.
            const int dropped = p.controller.droppedFrames(ch);
            int shown = 0;
            for (int r : c.recordings) {
                const int n = counts.count({r, ch}) ? counts.at({r, ch}) : 0;
                shown += n;
                if (dropped == 0) {
                    EXPECT_EQ(n, 50) << "recording " << r << " channel " << ch;
                }
            }
            EXPECT_EQ(shown + dropped, 50 * int(c.recordings.size())) << "channel " << ch;
        }
        ASSERT_EQ(p.skipped.size(), c.skipped.size());
        for (size_t i = 0; i < c.skipped.size(); ++i) {
            EXPECT_EQ(p.skipped[i].first, c.skipped[i]);
            EXPECT_FALSE(p.skipped[i].second.isEmpty());
        }
    }
    PlaybackRecorder p("record-skip");
    EXPECT_EQ(p.controller.open(2), -1);
    EXPECT_EQ(p.controller.openError().toStdString(), "it is not a readable MP4 recording");
}

// record-claims: trailers and track tables claim 65536x32768 (entry 0) and
// 7680x4320 (entry 1) for 320x240 video. The absurd size gives the default
// panes instead of a failed allocation; every picture, whatever was
// claimed, is the 115200 bytes of a 320x240 picture.
TEST(Threads, PicturesHaveTheDecodedSizeWhateverTheHeaderClaims)
{
    PlaybackRecorder p("record-claims");
    ASSERT_TRUE(p.opened);
    ASSERT_EQ(p.controller.open(0), 0);
    for (const PaneSpec &spec : p.controller.paneSpecs())
        EXPECT_EQ(std::make_pair(spec.width, spec.height), std::make_pair(1280, 720));
    p.controller.setSpeed(3.0f);
    ASSERT_TRUE(p.runUntil([&] { return p.finished(); }, 20000));
    EXPECT_EQ(p.recordings(), (std::vector<int>{0, 1}));
    EXPECT_EQ(p.shown.size(), 80u);
    for (const Shown &s : p.shown)
        ASSERT_EQ(std::make_tuple(s.width, s.height, s.bytes), std::make_tuple(320, 240, 115200)) << s.recording;
}

// Media time spanned by the items of a queue (taken out of it; its
// consumer held still).
static qint64 spanMs(FrameQueue &q)
{
    int64_t first = -1, last = -1;
    while (H26xFrameItem *item = q.take()) {
        first = first < 0 ? item->timeMs() : std::min(first, item->timeMs());
        last = std::max(last, item->timeMs());
        delete item;
    }
    return last - first;
}

// With no visible pane showing video (the single view of a filler pane of
// a 2-channel card, or of a channel missing from the recordings played),
// reading stops some seconds ahead instead of racing through the card:
// sound and telemetry queued span a few seconds at most.
TEST(Threads, ReadAheadIsBoundedWhenNoVisiblePaneHasVideo)
{
    const struct { const char *card; int entry, layout, selected, mask; } views[] = {
        {"index", 0, PaneView::Single, 2, PaneView::AllChannels},
        {"index", 0, PaneView::TwoByTwo, 0, 1 << 2},
        // Entries 1 to 3 lack the third channel.
        {"record-partial", 1, PaneView::Single, 2, PaneView::AllChannels}};
    for (const auto &v : views) {
        SCOPED_TRACE(std::string(v.card) + " layout " + std::to_string(v.layout));
        PlaybackRecorder p(v.card);
        ASSERT_TRUE(p.opened);
        p.controller.paneView()->publish(v.layout, v.selected, v.mask);
        ASSERT_EQ(p.controller.open(v.entry), 0);
        p.runFor(1500);
        // Held still (a stop would empty the queues) while the queues are looked at.
        ReadThread *read = p.controller.readThread();
        ASSERT_TRUE(p.controller.renderThread()->park() && p.controller.decodeThread()->park() && read->park());
        EXPECT_FALSE(read->hasEnded()) << "the whole card was read";
        const qint64 bound = ReadThread::MaxReadAheadMs + 1000;
        const qint64 sound = spanMs(read->audio());
        EXPECT_GE(sound, 2000) << "reading stopped too early";
        EXPECT_LE(sound, bound);
        EXPECT_LE(spanMs(read->gps()), bound);
        EXPECT_LE(spanMs(read->gsensor()), bound);
        EXPECT_TRUE(p.shown.empty());
    }
}

// index-gaps: three banks 40 s apart; the second one's video starts half a
// key-frame interval in, with no key frame first. Nothing of it is decoded
// against the pictures of the bank before: in both directions every
// recording of each channel starts (forward) or ends (backward) with a key
// frame, and the frames before the cut bank's first key frame are never
// shown. The gaps do not stop reading.
TEST(Threads, EachRecordingStartsAtAKeyFrameOfItsOwn)
{
    const struct { int entry; bool backward; std::vector<int> recordings; } cases[] = {
        {0, false, {0, 1, 2}}, {2, true, {2, 1, 0}}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.backward ? "backward" : "forward");
        PlaybackRecorder p("index-gaps");
        ASSERT_TRUE(p.opened);
        ASSERT_EQ(p.controller.open(c.entry, c.backward), 0);
        p.controller.setSpeed(3.0f);
        ASSERT_TRUE(p.runUntil([&] { return p.finished(); }, 20000)) << "reading stopped at a gap";
        EXPECT_EQ(p.recordings(), c.recordings);
        const auto counts = countsByRecording(p.shown);
        for (int ch = 0; ch < 2; ++ch) {
            const std::vector<Shown> s = p.ofChannel(ch);
            for (int r : c.recordings) {
                const auto first = std::find_if(s.begin(), s.end(), [r](const Shown &f) { return f.recording == r; });
                ASSERT_NE(first, s.end());
                const Shown &earliest = c.backward ? *std::find_if(s.rbegin(), s.rend(), [r](const Shown &f) { return f.recording == r; })
                                                   : *first;
                EXPECT_EQ(earliest.gop, 0) << "recording " << r << " channel " << ch;
                EXPECT_EQ(counts.at({r, ch}), r == 1 ? 20 : 30) << "recording " << r << " channel " << ch;
            }
        }
    }
}

// Selecting another pane of the same grid decodes the same channels:
// playback goes on from where it is, never back to an earlier key frame.
TEST(Threads, SelectingAnotherPaneOfTheGridGoesOn)
{
    PlaybackRecorder p("index");
    ASSERT_EQ(p.controller.open(0), 0);
    ASSERT_TRUE(p.runUntil([&] { return p.ofChannel(0).size() >= 12 && p.ofChannel(0).back().gop >= 3; }, 5000));
    const size_t from = p.ofChannel(0).size();
    p.controller.setPaneView(PaneView::TwoByTwo, 1);
    p.runFor(800);
    const std::vector<Shown> s = p.ofChannel(0);
    ASSERT_GT(s.size(), from + 4);
    for (size_t i = from; i < s.size(); ++i)
        ASSERT_EQ(s[i].timeMs, s[i - 1].timeMs + 100) << "frame " << i;
}

// A decoder made too slow for the card (a test hook sleeps in every decode:
// two channels of 10 fps, decoded side by side, need 10 decodes a second
// each, and 120 ms each cannot keep up): the clock keeps real time, the late channels drop frames and count
// them, no picture is shown more than 100 ms late (by the render thread's
// own measure and against the wall clock) and none out of order. Without
// the hook nothing is dropped.
TEST(Threads, SlowDecodingDropsFramesAndKeepsTheClock)
{
    const struct { int delayMs; bool drops; } cases[] = {{0, false}, {120, true}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.delayMs);
        qputenv("ZV_TEST_DECODE_DELAY_MS", QByteArray::number(c.delayMs));
        PlaybackRecorder p("record");
        qunsetenv("ZV_TEST_DECODE_DELAY_MS");
        ASSERT_TRUE(p.opened);
        ASSERT_EQ(p.controller.open(0), 0);
        // The first recording (5 s) and a little of the next.
        ASSERT_TRUE(p.runUntil([&] { return !p.shown.empty() && p.shown.back().recording > 0; }, 12000));
        const RenderThread::Stats stats = p.controller.renderThread()->stats();
        EXPECT_LE(stats.maxLateMs, RenderThread::MaxLateMs);
        EXPECT_EQ(p.changedWhileHeld, 0);
        for (int ch = 0; ch < 2; ++ch) {
            SCOPED_TRACE(ch);
            std::vector<Shown> s = p.ofChannel(ch);
            s.erase(std::remove_if(s.begin(), s.end(), [](const Shown &f) { return f.recording != 0; }), s.end());
            ASSERT_FALSE(s.empty());
            for (size_t i = 1; i < s.size(); ++i) {
                ASSERT_GT(s[i].timeMs, s[i - 1].timeMs) << "out of order at " << i;
                // Against the first picture of channel 0, which set the clock;
                // the queued hand-over to this thread adds a little.
                const Shown first = p.ofChannel(0).front();
                const qint64 late = (s[i].wallMs - first.wallMs) - (s[i].timeMs - first.timeMs);
                EXPECT_LT(late, RenderThread::MaxLateMs + 150) << "picture " << i;
            }
            const int dropped = p.controller.droppedFrames(ch);
            if (c.drops) {
                EXPECT_GT(dropped, 0);
                EXPECT_LT(int(s.size()), 50);
                EXPECT_GE(int(s.size()), 5) << "at least the key frames are shown";
            } else {
                EXPECT_EQ(dropped, 0);
                EXPECT_EQ(int(s.size()), 50);
            }
        }
    }
}
