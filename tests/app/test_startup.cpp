// Start-up: the splash's progress arithmetic and timing, the dark style, and
// the real program surviving its splash with a path that does not exist.
#include "DarkStyle.h"
#include "StartupSplash.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <gtest/gtest.h>

void PrintTo(const QColor &c, std::ostream *os)
{
    *os << c.name().toStdString();
}

TEST(StartupSplash, PercentAndBarEdgeFollowTheClock)
{
    struct Case
    {
        qint64 elapsedMs;
        int percent;
        int barRight;
    };
    // 870 ms is exactly 29 %: a floating-point product lands just under it.
    const Case cases[] = {{0, 0, -1}, {870, 29, 184}, {1499, 49, 312}, {2999, 99, 632}};
    for (const Case &c : cases) {
        const int percent = StartupSplash::percentAt(c.elapsedMs);
        EXPECT_EQ(percent, c.percent) << c.elapsedMs;
        EXPECT_EQ(StartupSplash::barRightEdge(percent, 640), c.barRight) << c.elapsedMs;
    }
}

TEST(StartupSplash, LastsJustOverThreeSecondsAndNeverShowsAHundred)
{
    QPixmap picture(640, 360);
    picture.fill(Qt::black);
    StartupSplash splash(picture);
    QSignalSpy timeUp(&splash, &StartupSplash::timeUp);
    QElapsedTimer clock;
    clock.start();
    splash.start();
    ASSERT_TRUE(timeUp.wait(6000));
    const qint64 elapsed = clock.elapsed();
    EXPECT_GE(elapsed, StartupSplash::durationMs);
    EXPECT_LT(elapsed, StartupSplash::durationMs + 1000);
    EXPECT_EQ(timeUp.count(), 1);

    const QRegularExpressionMatch shown =
        QRegularExpression(QStringLiteral("^Loading : (\\d+)%\\.\\.\\.$")).match(splash.message());
    ASSERT_TRUE(shown.hasMatch()) << splash.message().toStdString();
    EXPECT_GE(shown.captured(1).toInt(), 90);
    EXPECT_LE(shown.captured(1).toInt(), 99);

    // The bar fills the bottom 30 rows up to at most column 632, in dark red.
    const QImage shot = splash.pixmap().toImage();
    EXPECT_EQ(QColor(shot.pixel(600, 330)), QColor(144, 0, 0));
    EXPECT_EQ(QColor(shot.pixel(0, 359)), QColor(144, 0, 0));
    EXPECT_EQ(QColor(shot.pixel(600, 329)), QColor(Qt::black));
    EXPECT_EQ(QColor(shot.pixel(639, 345)), QColor(Qt::black));
    splash.close();
}

TEST(DarkStyle, GivesTheApplicationADarkPaletteAndItsStyleSheet)
{
    const QPalette palette = QApplication::palette();
    EXPECT_LT(palette.color(QPalette::Window).lightness(), 80);
    EXPECT_LT(palette.color(QPalette::Base).lightness(), 80);
    EXPECT_GT(palette.color(QPalette::WindowText).lightness(), 180);
    EXPECT_GT(palette.color(QPalette::Text).lightness(), 180);
    EXPECT_TRUE(qApp->styleSheet().contains(QStringLiteral("QToolTip")));
}

TEST(Viewer, StartsPastTheSplashWithAMissingPath)
{
    QProcess viewer;
    viewer.setProcessChannelMode(QProcess::MergedChannels);
    viewer.start(QStringLiteral(ZV_VIEWER_BINARY), {QStringLiteral("/no/such/card/record")});
    ASSERT_TRUE(viewer.waitForStarted());
    EXPECT_FALSE(viewer.waitForFinished(4500)) << viewer.readAll().toStdString();
    EXPECT_EQ(viewer.state(), QProcess::Running);
    viewer.kill();
    viewer.waitForFinished();
    const QString log = QString::fromLocal8Bit(viewer.readAll());
    EXPECT_TRUE(log.contains(QStringLiteral("OPENGL")) || log.contains(QStringLiteral("GLES")))
        << log.toStdString();
}
