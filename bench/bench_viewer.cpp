// The viewer itself playing the 8-channel benchmark card (BenchCards.h) in
// its 3 x 3 grid: the GUI thread's longest stall (the longest gap between two
// ticks of a 2 ms timer) while the card plays, and how many pictures each
// pane painted. Needs a display (make bench runs it under Xvfb, where
// OpenGL is Mesa's software renderer and shares the two cores, so the panes
// paint without it; ZV_PANE_RENDERER=opengl measures the OpenGL panes).
#include "BenchCards.h"
#include "PaneManager.h"
#include "PlaybackHost.h"
#include "TalGLWidget.h"
#include "TalViewerMainDialog.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QLoggingCategory>
#include <QOpenGLContext>
#include <QTimer>

#include <algorithm>
#include <vector>

namespace {

constexpr int TickMs = 2;
constexpr int TargetStallMs = 50;

// Counts the paints of one pane's view.
class PaintCounter : public QObject
{
public:
    int paints = 0;
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Paint)
            ++paints;
        return false;
    }
};

} // namespace

int main(int argc, char **argv)
{
    Q_INIT_RESOURCE(resources);
    const bool gles = QOpenGLContext::openGLModuleType() == QOpenGLContext::LibGLES;
    QCoreApplication::setAttribute(gles ? Qt::AA_UseOpenGLES : Qt::AA_UseDesktopOpenGL);
    QApplication app(argc, argv);
    QLoggingCategory::setFilterRules(QStringLiteral("zidavova.*.debug=false"));
    qputenv("SDL_AUDIODRIVER", "dummy");
    const QString build = qEnvironmentVariable("ZV_BINARY_DIR", QDir::currentPath());
    const PlayCard card = playCards().first();
    const QString root = benchCard(build, card);
    if (root.isEmpty()) {
        fprintf(stderr, "bench_viewer: cannot generate %s\n", card.name);
        return 1;
    }
    printf("-- viewer, %s, %d s, film grain (load average %.2f)\n", card.title, card.seconds, loadAverage());
    fflush(stdout);

    TalViewerMainDialog window;
    window.setStartPath(root);
    window.setStartEntry(0);
    window.resize(1920, 1080);
    window.show();

    // Waits for the first picture, then watches the GUI thread while the card plays.
    QElapsedTimer wall;
    wall.start();
    QElapsedTimer sinceTick;
    qint64 longestGap = 0;
    std::vector<qint64> gaps;
    qint64 playedMs = -1;
    std::vector<std::unique_ptr<PaintCounter>> counters;
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    QObject::connect(&tick, &QTimer::timeout, &app, [&] {
        if (playedMs < 0) {
            if (window.paneGrid()->paneCount() < card.channels || !window.paneGrid()->hasVideo(0)) {
                if (wall.elapsed() > 60000)
                    app.exit(1);
                return;
            }
            printf("panes: %s\n", window.paneGrid()->view(0)->isRaster() ? "painted without OpenGL (software renderer)"
                                                                           : "drawn with OpenGL");
            fflush(stdout);
            for (int i = 0; i < card.channels; ++i) {
                counters.emplace_back(new PaintCounter);
                window.paneGrid()->view(i)->installEventFilter(counters.back().get());
            }
            wall.restart();
            sinceTick.start();
            playedMs = 0;
            return;
        }
        const qint64 gap = sinceTick.restart();
        longestGap = std::max(longestGap, gap);
        gaps.push_back(gap);
        playedMs = wall.elapsed();
        if (playedMs >= card.seconds * 1000 - 500)
            app.exit(0);
    });
    tick.start(TickMs);
    if (app.exec() != 0) {
        fprintf(stderr, "bench_viewer: no picture within 60 s\n");
        return 1;
    }
    QStringList paints;
    for (const auto &c : counters)
        paints.append(QString::number(c->paints));
    // One long stall reads differently from a GUI thread that is always slow.
    std::sort(gaps.begin(), gaps.end());
    const qint64 p95 = gaps.empty() ? 0 : gaps[gaps.size() * 95 / 100];
    printf("viewer: longest GUI-thread stall %lld ms (95th percentile %lld ms) over %.1f s of play (target < %d); "
           "paints per pane %s (%d pictures per channel)\n",
           static_cast<long long>(longestGap), static_cast<long long>(p95), playedMs / 1000.0, TargetStallMs,
           qPrintable(paints.join(' ')), card.fps * card.seconds);
    return 0;
}
