#pragma once
// What the transport commands drive: the playback threads behind the main
// window (PlaybackHost), or a recording stand-in in the tests.
#include <QtGlobal>

class TransportTarget
{
public:
    virtual ~TransportTarget() = default;

    virtual bool isRunning() const = 0;
    // Catalogue index of the recording on screen (the leading channel's last
    // shown frame), else of the one opened; -1 before any.
    virtual int currentIndex() const = 0;
    virtual void play() = 0;
    // 0, or negative when there is no frame to turn back from.
    virtual int reverse() = 0;
    virtual void pause() = 0;
    virtual void resume() = 0;
    virtual void stepForward() = 0;
    virtual void stepBackward() = 0;
    virtual void fastForward() = 0;
    virtual void fastBackward() = 0;
    virtual int seek(int index, qint64 mediaMs) = 0;
    virtual void setSpeed(float speed) = 0;
};
