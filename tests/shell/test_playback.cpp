// The whole window playing the generated cards: a double-click on the first
// entry puts every channel's picture into its pane within two seconds, each
// pane shows what ffmpeg decodes from its own channel of the same recording,
// and closing while playing ends cleanly.
#include "EventMenuWidget.h"
#include "PaneManager.h"
#include "PlaybackHost.h"
#include "ProcessRun.h"
#include "TalGLWidget.h"
#include "TalViewerMainDialog.h"
#include "fixture_paths.h"

#include <QDir>
#include <QElapsedTimer>
#include <QImage>
#include <QTableWidget>
#include <QTest>
#include <gtest/gtest.h>

#include <cmath>

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
