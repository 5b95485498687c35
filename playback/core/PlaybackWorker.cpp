#include "PlaybackWorker.h"

#include "LogCategories.h"

#include <QElapsedTimer>

PlaybackWorker::PlaybackWorker(QObject *parent) : QThread(parent) {}

void PlaybackWorker::requestStop()
{
    stopFlag = true;
    pauseFlag = false;
    parkRequest = false;
}

void PlaybackWorker::run()
{
    done.store(false);
    work();
    done.store(true, std::memory_order_release);
}

bool PlaybackWorker::stopAndWait(int timeoutMs)
{
    requestStop();
    if (isRunning() && !wait(unsigned(timeoutMs)))
        return false;
    done.load(std::memory_order_acquire);
    return true;
}

void PlaybackWorker::stopAndJoin()
{
    if (stopAndWait())
        return;
    qCWarning(lcPlayback, "[%s::%d]thread still running after 3 s; waiting for it to end", "stopAndJoin", __LINE__);
    wait();
    done.load(std::memory_order_acquire);
}

bool PlaybackWorker::park(int timeoutMs)
{
    parkRequest = true;
    QElapsedTimer timer;
    timer.start();
    while (isRunning() && !parked.load()) {
        if (timer.elapsed() > timeoutMs) {
            qCWarning(lcPlayback, "[%s::%d]thread did not park within %d ms", "park", __LINE__, timeoutMs);
            return false;
        }
        QThread::usleep(200);
    }
    return true;
}

void PlaybackWorker::unpark()
{
    parkRequest = false;
    // Waits (bounded) until the thread has left its parked sleep, so that a
    // park right after this one cannot mistake the old confirmation for new.
    QElapsedTimer timer;
    timer.start();
    while (isRunning() && parked.load() && timer.elapsed() < 1000)
        QThread::usleep(200);
}

bool PlaybackWorker::checkpoint()
{
    while (parkRequest.load() && !stopFlag.load()) {
        parked = true;
        QThread::usleep(500);
    }
    parked = false;
    return !stopFlag.load();
}

void PlaybackWorker::nap(int ms)
{
    for (int i = 0; i < ms * 2 && !stopFlag.load() && !parkRequest.load(); ++i)
        QThread::usleep(500);
}

void PlaybackWorker::clearFlagsForStart()
{
    stopFlag = false;
    pauseFlag = false;
    parkRequest = false;
    parked = false;
}
