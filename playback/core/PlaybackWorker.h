#pragma once
// What the read, decode and render threads share: stop, pause and park
// flags as atomics, and the park hand-shake. A flush, seek or direction
// change only touches a parked thread: the controller asks it to park, the
// thread confirms at the top of its loop and sleeps there until released.
// Every wait here is bounded and gives way to a stop.
#include <QThread>

#include <atomic>

class PlaybackWorker : public QThread
{
    Q_OBJECT
public:
    explicit PlaybackWorker(QObject *parent = nullptr);

    // Asks the loop to end; also clears pause and park so nothing holds it.
    void requestStop();
    bool isStopped() const { return stopFlag.load(); }
    // Stops and waits up to timeoutMs; true when the thread has finished.
    bool stopAndWait(int timeoutMs = 3000);
    // Stops and waits as long as the thread runs: what a destructor calls,
    // since a QThread must never be destroyed while its thread runs.
    void stopAndJoin();

    void pause() { pauseFlag = true; }
    void resume() { pauseFlag = false; }
    bool isPaused() const { return pauseFlag.load(); }

    // Asks the thread to park and waits up to timeoutMs for it to confirm.
    // True when it is parked or not running at all.
    bool park(int timeoutMs = 2000);
    void unpark();
    bool isParked() const { return parked.load(); }

protected:
    // The thread's loop.
    virtual void work() = 0;
    // Call at the top of every loop round: sleeps while parked. False once
    // the thread is to stop.
    bool checkpoint();
    // Sleeps ms, waking early on a stop or park request.
    void nap(int ms);
    void clearFlagsForStart();
    // On the thread itself: a stop or park was asked, so long work (a
    // recording load) should end early.
    bool interruptRequested() const { return stopFlag.load() || parkRequest.load(); }

private:
    void run() final;

    // Set as the loop's last act and read after the join: the hand-over of
    // everything the thread wrote, in a form ThreadSanitizer sees (QThread's
    // own join goes through QtCore's uninstrumented mutex).
    std::atomic<bool> done{false};
    std::atomic<bool> stopFlag{false};
    std::atomic<bool> pauseFlag{false};
    std::atomic<bool> parkRequest{false};
    std::atomic<bool> parked{false};
};
