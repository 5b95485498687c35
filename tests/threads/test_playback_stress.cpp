// Random transport commands against the running threads: no crash, no
// deadlock (every command returns within a bound), and playback still
// works afterwards; on an index card, and on a record card whose damaged
// recordings are passed over and whose sound starts after one without.
// Each channel's last picture stays held, as a pane holds it, across every
// stop, seek and change of direction, and is never written meanwhile.
// Run under ThreadSanitizer by make tsan.
#include "PlaybackRecorder.h"

#include <gtest/gtest.h>

#include <random>

TEST(Stress, RandomCommands)
{
    const struct { const char *card; int commands; } cases[] = {{"index", 1000}, {"record-skip", 400}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.card);
        PlaybackRecorder p(c.card);
        ASSERT_TRUE(p.opened);
        std::mt19937 random(12345);
        const bool banks = p.reader.mode() == 1;
        const int entries = banks ? p.reader.banks().size() : p.reader.files().size();
        const auto startOf = [&](int entry) {
            return banks ? p.reader.banks().at(entry).start : p.reader.files().at(entry).start.toSecsSinceEpoch();
        };
        qint64 slowest = 0;
        for (int i = 0; i < c.commands; ++i) {
            QElapsedTimer t;
            t.start();
            const int entry = int(random() % unsigned(entries));
            const qint64 at = startOf(entry) * 1000 + qint64(random() % 5000);
            switch (random() % 12) {
            case 0: p.controller.open(entry, random() % 2); break;
            case 1: p.controller.stop(); break;
            case 2: p.controller.seek(entry, at); break;
            case 3: p.controller.pause(); break;
            case 4: p.controller.resume(); break;
            case 5: p.controller.stepForward(); break;
            case 6: p.controller.stepBackward(); break;
            case 7: p.controller.play(); break;
            case 8: p.controller.reverse(); break;
            case 9: random() % 2 ? p.controller.fastForward() : p.controller.fastBackward(); break;
            case 10: p.controller.setSpeed(random() % 2 ? 1.5f : 1.0f); break;
            case 11: p.controller.setPaneView(int(random() % 4), int(random() % 2)); break;
            }
            slowest = std::max(slowest, t.elapsed());
            p.runFor(int(random() % 4));
        }
        EXPECT_LT(slowest, 8000) << "a command waited too long";

        p.controller.setPaneView(PaneView::TwoByTwo, 0);
        ASSERT_EQ(p.controller.open(0), 0);
        const size_t before = p.shown.size();
        EXPECT_TRUE(p.runUntil([&] { return p.shown.size() > before + 10; }, 5000)) << "playback works after the storm";
        EXPECT_EQ(p.changedWhileHeld, 0) << "a picture held by its pane was written again";
    }
}
