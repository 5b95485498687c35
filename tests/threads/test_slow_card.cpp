// A card reader so slow that loading the next recording takes seconds (the
// second recording of record-slow reads at about 50 KB/s, by the preloaded
// slow_read_shim, so its load takes some 8 s): stopping, choosing another
// entry and closing while the read thread is inside that load all finish
// promptly, and no thread object is destroyed while its thread runs.
#include "PlaybackController.h"
#include "fixture_paths.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QThread>
#include <gtest/gtest.h>

#include <memory>

namespace {

class SlowCard
{
public:
    SlowCard()
    {
        opened = reader.scanCard(fixtureDir() + QStringLiteral("/record-slow")) == 3;
        reader.setMode(2);
        controller = std::make_unique<PlaybackController>(&reader);
        QObject::connect(controller.get(), &PlaybackController::decodedFrame, &context, [this](H26xFrameItem *item) {
            if (item->channel() == 0)
                ++shown;
            delete item;
        }, Qt::QueuedConnection);
    }
    ~SlowCard()
    {
        controller.reset();
        QCoreApplication::processEvents();
    }

    // Plays the last second of entry 0 until half of it was shown: by then
    // every frame of it has been read and the read thread is a little way
    // into the load of the slow entry 1.
    bool playIntoTheSlowLoad()
    {
        if (!opened || controller->open(0) != 0 || !waitForShown(3))
            return false;
        const qint64 end = reader.files().at(0).start.toSecsSinceEpoch() + 30;
        return controller->seek(0, (end - 1) * 1000) == 0 && waitForShown(shown + 5);
    }
    bool waitForShown(int count)
    {
        for (QDeadlineTimer deadline(5000); !deadline.hasExpired() && shown < count; QThread::msleep(5))
            QCoreApplication::processEvents();
        return shown >= count;
    }

    Reader reader;
    std::unique_ptr<PlaybackController> controller;
    QObject context;
    int shown = 0;
    bool opened = false;
};

} // namespace

// The read thread leaves the load within a few reads (render and decode,
// stopped first, are not what is timed: closing the sound device alone
// takes up to a second).
TEST(SlowCard, StopWhileLoadingFinishesPromptly)
{
    SlowCard card;
    ASSERT_TRUE(card.playIntoTheSlowLoad());
    ASSERT_TRUE(card.controller->renderThread()->stopAndWait());
    ASSERT_TRUE(card.controller->decodeThread()->stopAndWait());
    QElapsedTimer clock;
    clock.start();
    EXPECT_TRUE(card.controller->readThread()->stopAndWait()) << "the load outlasted the stop";
    EXPECT_LT(clock.elapsed(), 1000);
    EXPECT_TRUE(card.controller->stop());
}

TEST(SlowCard, ChoosingAnotherEntryWhileLoadingPlaysIt)
{
    SlowCard card;
    ASSERT_TRUE(card.playIntoTheSlowLoad());
    ASSERT_EQ(card.controller->open(2), 0) << card.controller->openError().toStdString();
    EXPECT_TRUE(card.waitForShown(card.shown + 5)) << "entry 2 plays";
}

// Qt aborts the program when a QThread is destroyed while its thread runs.
TEST(SlowCard, ClosingWhileLoadingEndsEveryThreadFirst)
{
    SlowCard card;
    ASSERT_TRUE(card.playIntoTheSlowLoad());
    QElapsedTimer clock;
    clock.start();
    card.controller.reset();
    EXPECT_LT(clock.elapsed(), 3000);
}
