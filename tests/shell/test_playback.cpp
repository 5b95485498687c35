// The whole window playing the generated cards: a double-click on the first
// entry puts every channel's picture into its pane within two seconds, the
// pictures are those ffmpeg decodes from the same recording, and closing
// while playing ends cleanly.
#include "EventMenuWidget.h"
#include "PaneManager.h"
#include "PlaybackHost.h"
#include "TalGLWidget.h"
#include "TalViewerMainDialog.h"
#include "fixture_paths.h"

#include <QDir>
#include <QElapsedTimer>
#include <QImage>
#include <QProcess>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

#include <cmath>

namespace {

double psnr(const QImage &a, const QImage &b)
{
    double sum = 0;
    for (int y = 0; y < a.height(); ++y) {
        for (int x = 0; x < a.width(); ++x) {
            const QRgb p = a.pixel(x, y), q = b.pixel(x, y);
            const int d[] = {qRed(p) - qRed(q), qGreen(p) - qGreen(q), qBlue(p) - qBlue(q)};
            for (int v : d)
                sum += v * v;
        }
    }
    const double mse = sum / (3.0 * a.width() * a.height());
    return mse == 0 ? 99.0 : 10.0 * std::log10(255.0 * 255.0 / mse);
}

// Channel c's first picture of a recording as ffmpeg decodes it, scaled to size.
QImage ffmpegPicture(const QString &file, int channel, const QSize &size, const QString &dir)
{
    const QString out = QDir(dir).filePath(QStringLiteral("ch%1.png").arg(channel));
    QProcess ffmpeg;
    ffmpeg.start(QStringLiteral("ffmpeg"),
                 {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-y"), QStringLiteral("-i"), file,
                  QStringLiteral("-map"), QStringLiteral("0:v:%1").arg(channel), QStringLiteral("-frames:v"),
                  QStringLiteral("1"), QStringLiteral("-vf"),
                  QStringLiteral("scale=%1:%2").arg(size.width()).arg(size.height()), out});
    ffmpeg.waitForFinished(30000);
    return QImage(out).convertToFormat(QImage::Format_RGB32);
}

void doubleClickFirstRow(TalViewerMainDialog &window)
{
    auto *table = window.eventList()->findChild<QTableWidget *>(QStringLiteral("tableWidget"));
    ASSERT_GT(table->rowCount(), 0);
    emit table->cellDoubleClicked(0, 1);
}

bool everyPaneHasVideo(TalViewerMainDialog &window)
{
    for (int i = 0; i < window.paneGrid()->paneCount(); ++i) {
        if (!window.paneGrid()->hasVideo(i))
            return false;
    }
    return true;
}

} // namespace

TEST(Playback, DoubleClickShowsEveryChannelWithinTwoSeconds)
{
    for (const char *name : {"record", "index"}) {
        const QString root = QDir(fixtureDir()).filePath(QLatin1String(name));
        TalViewerMainDialog window;
        window.setStartPath(root);
        window.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
        ASSERT_EQ(window.paneGrid()->paneCount(), 2) << name;

        doubleClickFirstRow(window);
        QElapsedTimer clock;
        clock.start();
        while (!everyPaneHasVideo(window) && clock.elapsed() < 2000)
            QTest::qWait(20);
        EXPECT_TRUE(everyPaneHasVideo(window)) << name;
        EXPECT_TRUE(window.playbackHost()->isRunning()) << name;
        EXPECT_EQ(window.eventList()->currentIndex(), 0) << name;
        window.close();
        EXPECT_FALSE(window.playbackHost()->isRunning()) << name;
    }
}

TEST(Playback, EachPaneShowsItsOwnChannel)
{
    const QString root = QDir(fixtureDir()).filePath(QStringLiteral("record"));
    const QString first = QDir(root + QStringLiteral("/record"))
                              .entryInfoList({QStringLiteral("*.mp4")}, QDir::Files, QDir::Name)
                              .first()
                              .filePath();
    QTemporaryDir work;
    TalViewerMainDialog window;
    window.setStartPath(root);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    doubleClickFirstRow(window);
    QElapsedTimer clock;
    clock.start();
    while (!everyPaneHasVideo(window) && clock.elapsed() < 2000)
        QTest::qWait(20);
    ASSERT_TRUE(everyPaneHasVideo(window));
    // The first pictures of a recording are still close to its first frame.
    QTest::qWait(100);
    QImage shots[2], references[2];
    for (int c = 0; c < 2; ++c) {
        TalGLWidget *view = window.paneGrid()->view(c);
        shots[c] = view->grabFramebuffer().convertToFormat(QImage::Format_RGB32);
        references[c] = ffmpegPicture(first, c, shots[c].size(), work.path());
        ASSERT_FALSE(references[c].isNull()) << c;
    }
    for (int c = 0; c < 2; ++c) {
        const double own = psnr(shots[c], references[c]);
        const double other = psnr(shots[c], references[1 - c]);
        EXPECT_GT(own, 20.0) << "channel " << c;
        EXPECT_GT(own, other + 3.0) << "channel " << c << " looks like channel " << 1 - c;
    }
    window.close();
}
