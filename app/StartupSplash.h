#pragma once
// The three-second start-up picture with its "Loading" message and a red
// progress bar painted along its bottom edge.
#include <QElapsedTimer>
#include <QPixmap>
#include <QSplashScreen>
#include <QTimer>

class StartupSplash : public QSplashScreen
{
    Q_OBJECT

public:
    // The splash stays until more than this many milliseconds have passed.
    static constexpr int durationMs = 3000;
    static constexpr int barHeight = 30;

    explicit StartupSplash(const QPixmap &picture);

    // Percent shown after elapsedMs: trunc(elapsedMs / 3000 * 100), in exact
    // integer arithmetic, so 0..99 for as long as the splash is up.
    static int percentAt(qint64 elapsedMs);
    // Right-most pixel column of the bar for percent over a picture of width
    // pixels; -1 when the bar is still empty.
    static int barRightEdge(int percent, int width);

    // Shows the picture, lets it paint once, then ticks until timeUp().
    void start();

signals:
    // Emitted once, when the three seconds are over.
    void timeUp();

private:
    void tick();

    QPixmap picture;
    QElapsedTimer clock;
    QTimer ticker;
};
