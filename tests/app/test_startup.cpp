// Start-up: the splash's progress arithmetic and timing, the dark style, and
// the real program surviving its splash with a path that does not exist. The
// tests' main dresses the application as the viewer dresses it.
#include "DarkStyle.h"
#include "StartupSplash.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>

#include <csignal>

TEST(StartupSplash, PercentAndBarEdgeFollowTheClock)
{
    // 870 ms is exactly 29 %: a floating-point product lands just under it.
    const struct { qint64 elapsedMs; int percent, barRight; } cases[] = {
        {0, 0, -1}, {870, 29, 184}, {1499, 49, 312}, {2999, 99, 632}};
    for (const auto &c : cases) {
        EXPECT_EQ(StartupSplash::percentAt(c.elapsedMs), c.percent) << c.elapsedMs;
        EXPECT_EQ(StartupSplash::barRightEdge(c.percent, 640), c.barRight) << c.elapsedMs;
    }
}

// The bar fills the bottom 30 rows up to at most column 632, in dark red.
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
    EXPECT_TRUE(elapsed >= StartupSplash::durationMs && elapsed < StartupSplash::durationMs + 1000) << elapsed;
    EXPECT_EQ(timeUp.count(), 1);
    const QString percent = QRegularExpression("^Loading : (\\d+)%\\.\\.\\.$").match(splash.message()).captured(1);
    EXPECT_TRUE(percent.toInt() >= 90 && percent.toInt() <= 99) << splash.message().toStdString();
    const struct { int x, y; const char *colour; } points[] = {
        {600, 330, "#900000"}, {0, 359, "#900000"}, {600, 329, "#000000"}, {639, 345, "#000000"}};
    for (const auto &p : points)
        EXPECT_EQ(QColor(splash.pixmap().toImage().pixel(p.x, p.y)).name().toStdString(), p.colour) << p.y;
    splash.close();
}

TEST(DarkStyle, GivesTheApplicationADarkPaletteAndItsStyleSheet)
{
    const auto lightness = [](QPalette::ColorRole role) { return QApplication::palette().color(role).lightness(); };
    EXPECT_LT(std::max(lightness(QPalette::Window), lightness(QPalette::Base)), 80);
    EXPECT_GT(std::min(lightness(QPalette::WindowText), lightness(QPalette::Text)), 180);
    EXPECT_TRUE(qApp->styleSheet().contains(QStringLiteral("QToolTip")));
    // A checked button (the event list's active filter) looks unlike the others.
    QPushButton plain(QStringLiteral("All")), lit(QStringLiteral("All"));
    lit.setCheckable(true);
    lit.setChecked(true);
    const auto fill = [](QPushButton &button) {
        button.resize(80, 30);
        return button.grab().toImage().pixelColor(6, 6).name().toStdString();
    };
    EXPECT_NE(fill(plain), fill(lit));
}

TEST(Viewer, StartsPastTheSplashWithAMissingPath)
{
    QProcess viewer;
    viewer.setProcessChannelMode(QProcess::MergedChannels);
    viewer.start(QStringLiteral(ZV_VIEWER_BINARY), {QStringLiteral("/no/such/card/record")});
    ASSERT_TRUE(viewer.waitForStarted());
    EXPECT_FALSE(viewer.waitForFinished(4500)) << viewer.readAll().toStdString();
    viewer.kill();
    viewer.waitForFinished();
    const QString log = QString::fromLocal8Bit(viewer.readAll());
    EXPECT_TRUE(log.contains(QStringLiteral("OPENGL")) || log.contains(QStringLiteral("GLES"))) << log.toStdString();
}

// SIGTERM, SIGINT and SIGHUP close the viewer the normal way, while it plays
// and while it idles: the playback threads end in order, the viewer's
// settings are saved whole, and the exit status is 0, within three seconds.
TEST(Viewer, StopSignalsCloseItCleanly)
{
    const struct { int sig; bool playing; } cases[] = {{SIGTERM, true}, {SIGINT, true}, {SIGHUP, false}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.sig);
        QProcess viewer;
        viewer.setProcessChannelMode(QProcess::MergedChannels);
        QTemporaryDir home;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("HOME"), home.path());
        env.remove(QStringLiteral("XDG_CONFIG_HOME"));
        viewer.setProcessEnvironment(env);
        QStringList args = {QString::fromLocal8Bit(qgetenv("ZV_FIXTURE_DIR")) + QStringLiteral("/record")};
        if (c.playing)
            args << QStringLiteral("--play") << QStringLiteral("0");
        viewer.start(QStringLiteral(ZV_VIEWER_BINARY), args);
        ASSERT_TRUE(viewer.waitForStarted());
        QByteArray log;
        QElapsedTimer waited;
        waited.start();
        const QByteArray ready = c.playing ? "ReadThread::run...start" : "real max channel";
        while (!log.contains(ready) && waited.elapsed() < 15000 && viewer.state() == QProcess::Running) {
            viewer.waitForReadyRead(100);
            log += viewer.readAll();
        }
        ASSERT_TRUE(log.contains(ready)) << log.constData();
        QThread::msleep(700);
        QElapsedTimer clock;
        clock.start();
        ::kill(pid_t(viewer.processId()), c.sig);
        ASSERT_TRUE(viewer.waitForFinished(3000)) << "still running";
        EXPECT_LT(clock.elapsed(), 3000);
        log += viewer.readAll();
        EXPECT_EQ(viewer.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(viewer.exitCode(), 0) << log.constData();
        const QString settings = home.path() + QStringLiteral("/Documents/ZidavOva");
        EXPECT_EQ(QDir(settings).entryList({QStringLiteral("config.ini*")}, QDir::Files | QDir::Hidden),
                  QStringList{QStringLiteral("config.ini")});
        EXPECT_EQ(QSettings(settings + QStringLiteral("/config.ini"), QSettings::IniFormat).value(QStringLiteral("Event/Diaplay_KM")).toString(),
                  QStringLiteral("true"));
        if (c.playing) {
            // Threads ended in the order render, decode, read.
            const int render = log.indexOf("RenderThread...end"), decode = log.indexOf("DecodeThread...end"),
                      read = log.indexOf("ReadThread...end");
            EXPECT_TRUE(render >= 0 && render < decode && decode < read) << log.constData();
        }
    }
}

int main(int argc, char **argv)
{
    Q_INIT_RESOURCE(resources);
    QApplication app(argc, argv);
    QApplication::setStyle(new DarkStyle);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
