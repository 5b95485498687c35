// 1,000 random transport commands against the running threads: no crash,
// no deadlock (every command returns within a bound), and playback still
// works afterwards. Run under ThreadSanitizer by make tsan.
#include "PlaybackRecorder.h"

#include <gtest/gtest.h>

#include <random>

TEST(Stress, ThousandRandomCommands)
{
    PlaybackRecorder p("index");
    ASSERT_TRUE(p.opened);
    std::mt19937 random(12345);
    const int entries = p.reader.banks().size();
    qint64 slowest = 0;
    for (int i = 0; i < 1000; ++i) {
        QElapsedTimer t;
        t.start();
        const int entry = int(random() % unsigned(entries));
        const qint64 at = p.reader.banks().at(entry).start * 1000 + qint64(random() % 5000);
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
}
