#include "Transport.h"

#include "LogCategories.h"
#include "TransportTarget.h"

#include <QDebug>

Transport::Transport(TransportTarget *t, QObject *parent)
    : QObject(parent), target(t)
{
}

bool Transport::active() const
{
    return target->isRunning();
}

void Transport::started(int playDirection)
{
    direction = playDirection == Backward ? Backward : Forward;
    paused = false;
}

void Transport::play()
{
    if (!active())
        return;
    // From backward play this restarts forward at the frame on screen; going
    // forward it ends fast play or a step and lets a paused reader go on.
    target->play();
    direction = Forward;
    paused = false;
}

void Transport::reverse()
{
    if (!active())
        return;
    if (target->reverse() == 0) {
        direction = Backward;
        paused = false;
    }
}

void Transport::pause()
{
    if (!active())
        return;
    target->pause();
    paused = true;
}

void Transport::resume()
{
    if (!active())
        return;
    target->resume();
    paused = false;
}

void Transport::togglePause()
{
    if (!paused)
        pause();
    else if (direction == Backward)
        reverse();
    else
        play();
}

void Transport::nextFrame()
{
    if (!active())
        return;
    target->stepForward();
    direction = Forward;
    // A step leaves the picture standing.
    paused = true;
}

void Transport::previousFrame()
{
    if (!active())
        return;
    target->stepBackward();
    direction = Backward;
    paused = true;
}

void Transport::fastForward()
{
    if (!active() || direction != Forward)
        return;
    target->fastForward();
    paused = false;
}

void Transport::fastBackward()
{
    if (!active() || direction != Backward)
        return;
    target->fastBackward();
    paused = false;
}

void Transport::nextBank()
{
    stepBank(1);
}

void Transport::previousBank()
{
    stepBank(-1);
}

void Transport::stepBank(int delta)
{
    if (!active())
        return;
    const int last = target->currentIndex();
    qCDebug(lcShell, "lastBankNum : %d", last);
    const int next = last + delta;
    // Past the first or the last recording there is nothing to go to.
    if (last < 0 || next < 0 || next >= catalogueSize)
        return;
    emit openRequested(next, direction);
}

void Transport::seek(int index, qint64 targetSecond)
{
    if (!active() || index < 0)
        return;
    target->seek(index, targetSecond * 1000);
}

void Transport::setSpeed(float speed)
{
    target->setSpeed(speed);
}
