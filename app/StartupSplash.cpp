#include "StartupSplash.h"

#include <QApplication>
#include <QPainter>

namespace {
const QColor barColour(144, 0, 0);
constexpr int tickMs = 25;
}

StartupSplash::StartupSplash(const QPixmap &picture)
    : QSplashScreen(picture)
    , picture(picture)
{
    ticker.setInterval(tickMs);
    connect(&ticker, &QTimer::timeout, this, &StartupSplash::tick);
}

int StartupSplash::percentAt(qint64 elapsedMs)
{
    return int(elapsedMs * 100 / durationMs);
}

int StartupSplash::barRightEdge(int percent, int width)
{
    return percent * width / 100 - 1;
}

void StartupSplash::start()
{
    show();
    QApplication::processEvents();
    clock.start();
    tick();
    ticker.start();
}

void StartupSplash::tick()
{
    const qint64 elapsed = clock.elapsed();
    if (elapsed >= durationMs) {
        ticker.stop();
        emit timeUp();
        return;
    }
    const int percent = percentAt(elapsed);
    showMessage(tr("Loading : %1%...").arg(percent), Qt::AlignBottom | Qt::AlignRight, Qt::white);
    // A missing picture leaves the splash empty; there is nothing to paint on.
    if (picture.isNull())
        return;
    const int right = barRightEdge(percent, picture.width());
    if (right >= 0) {
        QPainter painter(&picture);
        painter.fillRect(QRect(QPoint(0, picture.height() - barHeight),
                               QPoint(right, picture.height() - 1)),
                         barColour);
    }
    setPixmap(picture);
}
