// The whole window playing the generated cards: a double-click on the first
// entry puts every channel's picture into its pane within two seconds, each
// pane shows what ffmpeg decodes from its own channel of the same recording,
// and closing while playing ends cleanly; damaged headers and recordings.
#include "DisplayInfoWidget.h"
#include "EventMenuWidget.h"
#include "PaneManager.h"
#include "PlaybackHost.h"
#include "ProcessRun.h"
#include "TalGLWidget.h"
#include "TalViewerMainDialog.h"
#include "TelemetryFeed.h"
#include "TimeDisplayWidget.h"
#include "fixture_paths.h"

#include <QDir>
#include <QElapsedTimer>
#include <QImage>
#include <QMap>
#include <QTableWidget>
#include <QTest>
#include <QThread>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>

namespace {

// shot (RGB888) against packed rgb24 of the same size.
double psnr(const QImage &shot, const QByteArray &rgb)
{
    const int w = shot.width() * 3;
    if (rgb.size() != w * shot.height())
        return 0;
    double sum = 0;
    for (int y = 0; y < shot.height(); ++y)
        for (int i = 0; i < w; ++i)
            sum += std::pow(shot.constScanLine(y)[i] - quint8(rgb[y * w + i]), 2);
    return sum == 0 ? 99.0 : 10.0 * std::log10(255.0 * 255.0 * w * shot.height() / sum);
}

bool everyPaneHasVideo(TalViewerMainDialog &window)
{
    for (int i = 0; i < window.paneGrid()->paneCount(); ++i)
        if (!window.paneGrid()->hasVideo(i))
            return false;
    return true;
}

} // namespace

TEST(Playback, DoubleClickShowsEachChannelInItsOwnPaneWithinTwoSeconds)
{
    for (const char *name : {"record", "index"}) {
        const QString root = QDir(fixtureDir()).filePath(QLatin1String(name));
        TalViewerMainDialog window;
        window.setStartPath(root);
        window.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
        ASSERT_EQ(window.paneGrid()->paneCount(), 2) << name;
        auto *table = window.eventList()->findChild<QTableWidget *>(QStringLiteral("tableWidget"));
        ASSERT_GT(table->rowCount(), 0);
        emit table->cellDoubleClicked(0, 1);
        QElapsedTimer clock;
        clock.start();
        while (!everyPaneHasVideo(window) && clock.elapsed() < 2000)
            QTest::qWait(20);
        ASSERT_TRUE(everyPaneHasVideo(window)) << name;
        EXPECT_TRUE(window.playbackHost()->isRunning()) << name;
        EXPECT_EQ(window.eventList()->currentIndex(), 0) << name;
        if (QLatin1String(name) == QLatin1String("record")) {
            // The first pictures of a recording are still close to its first frame.
            QTest::qWait(100);
            const QString first =
                QDir(root + QStringLiteral("/record")).entryInfoList({"*.mp4"}, QDir::Files, QDir::Name)[0].filePath();
            QImage shots[2];
            QByteArray references[2];
            for (int c = 0; c < 2; ++c) {
                shots[c] = window.paneGrid()->view(c)->grabFramebuffer().convertToFormat(QImage::Format_RGB888);
                references[c] = toolOutput("ffmpeg", {"-v", "error", "-i", first, "-map", QStringLiteral("0:v:%1").arg(c),
                                                      "-frames:v", "1", "-vf",
                                                      QStringLiteral("scale=%1:%2").arg(shots[c].width()).arg(shots[c].height()),
                                                      "-f", "rawvideo", "-pix_fmt", "rgb24", "-"});
            }
            for (int c = 0; c < 2; ++c) {
                const double own = psnr(shots[c], references[c]), other = psnr(shots[c], references[1 - c]);
                EXPECT_GT(own, 20.0) << "channel " << c;
                EXPECT_GT(own, other + 3.0) << "channel " << c << " looks like channel " << 1 - c;
            }
        }
        window.close();
        EXPECT_FALSE(window.playbackHost()->isRunning()) << name;
    }
}

namespace {

QTableWidget *table(TalViewerMainDialog &window)
{
    return window.eventList()->findChild<QTableWidget *>(QStringLiteral("tableWidget"));
}

bool waitFor(const std::function<bool()> &done, int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < timeoutMs)
        QTest::qWait(20);
    return done();
}

} // namespace

// record-claims: the trailer of its first recording claims 65536x32768 for
// each channel. The card opens with the default 1280x720 panes (no attempt
// at a 2^31-pixel picture), and the pictures show at their real 320x240.
TEST(Playback, AbsurdClaimedSizesGiveDefaultPanesShowingTheRealPictures)
{
    TalViewerMainDialog window;
    window.setStartPath(QDir(fixtureDir()).filePath(QStringLiteral("record-claims")));
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    for (const PaneSpec &spec : window.loadedPaneSpecs())
        EXPECT_EQ(std::make_pair(spec.width, spec.height), std::make_pair(1280, 720));
    emit table(window)->cellDoubleClicked(0, 1);
    ASSERT_TRUE(waitFor([&] { return everyPaneHasVideo(window); }, 2000));
    EXPECT_EQ(QSize(window.paneGrid()->view(0)->pictureWidth(), window.paneGrid()->view(0)->pictureHeight()), QSize(320, 240));
}

// record-skip: entries 1 and 2 cannot be played (their first 64 KiB are
// zeroed, their trailers intact). Entry 0 plays to its end, both are passed
// over, marked and explained, and playback goes on with entry 3; choosing
// one of them afterwards empties panes and time bar and says why.
TEST(Playback, UnplayableEntriesArePassedOverMarkedAndExplained)
{
    TalViewerMainDialog window;
    window.setStartPath(QDir(fixtureDir()).filePath(QStringLiteral("record-skip")));
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    QMap<int, int> leadingFrames;
    QObject::connect(&window, &TalViewerMainDialog::leadingFrameShown, [&](int index, qint64) { ++leadingFrames[index]; });
    emit table(window)->cellDoubleClicked(0, 1);
    ASSERT_TRUE(waitFor([&] { return leadingFrames.value(3) > 0; }, 12000)) << "playback did not reach entry 3";
    EXPECT_GE(leadingFrames.value(0), 48) << "entry 0 was cut short";
    EXPECT_EQ(leadingFrames.keys(), (QList<int>{0, 3}));
    EXPECT_EQ(window.eventList()->currentIndex(), 3);
    for (int entry : {1, 2}) {
        const QString reason = window.eventList()->unplayableReason(entry);
        EXPECT_FALSE(reason.isEmpty()) << entry;
        EXPECT_EQ(table(window)->item(entry, 0)->toolTip(), QStringLiteral("Cannot be played: ") + reason);
    }
    EXPECT_TRUE(window.eventList()->unplayableReason(0).isEmpty());
    EXPECT_EQ(window.eventList()->notice().toStdString(), "Entry 2 was skipped: it is not a readable MP4 recording.");

    emit table(window)->cellDoubleClicked(1, 1);
    QTest::qWait(300);
    EXPECT_FALSE(window.playbackHost()->isRunning());
    for (int i = 0; i < window.paneGrid()->paneCount(); ++i)
        EXPECT_FALSE(window.paneGrid()->hasVideo(i)) << "pane " << i << " still shows a picture";
    EXPECT_EQ(window.timeBar()->label().toStdString(), "00:00:00/00:00:00");
    EXPECT_EQ(window.telemetryFeed()->recordingIndex(), -1) << "the telemetry of entry 3 is still shown";
    EXPECT_TRUE(window.overlayLine()->text().isEmpty()) << window.overlayLine()->text().toStdString();
    EXPECT_EQ(window.eventList()->notice().toStdString(), "Entry 1 could not be played: it is not a readable MF2 recording.");
}

// A GUI thread that falls behind (here: busy for 1.5 s) gets only each
// channel's newest picture when it runs again, not the 15 pictures per
// channel made meanwhile, each of which would hold a decoder's picture in
// its event queue; and playback goes on in order afterwards.
TEST(Playback, AGuiThreadThatFallsBehindGetsEachChannelsNewestPicture)
{
    TalViewerMainDialog window;
    window.setStartPath(QDir(fixtureDir()).filePath(QStringLiteral("record")));
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    std::vector<std::pair<int, qint64>> arrived;
    QObject::connect(window.playbackHost(), &PlaybackHost::decodedFrame, &window,
                     [&](H26xFrameItem *item) { arrived.push_back({item->channel(), item->timeMs()}); });
    emit table(window)->cellDoubleClicked(0, 1);
    ASSERT_TRUE(waitFor([&] { return arrived.size() >= 6; }, 3000));
    const qint64 before = arrived.back().second;
    arrived.clear();
    QThread::msleep(1500);
    QCoreApplication::processEvents();
    ASSERT_FALSE(arrived.empty());
    for (int c = 0; c < 2; ++c) {
        const auto n = std::count_if(arrived.begin(), arrived.end(), [c](const auto &a) { return a.first == c; });
        EXPECT_LE(n, 1) << "channel " << c;
    }
    EXPECT_GE(arrived.front().second, before + 1000) << "an old picture was delivered";
    const size_t from = arrived.size();
    ASSERT_TRUE(waitFor([&] { return arrived.size() >= from + 6; }, 3000));
    for (size_t i = from; i < arrived.size(); ++i)
        for (size_t j = 0; j < i; ++j)
            EXPECT_TRUE(arrived[j].first != arrived[i].first || arrived[j].second < arrived[i].second) << i;
    window.close();
}
