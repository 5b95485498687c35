#pragma once
// The playback clock as the render thread last published it, for the decode
// thread to tell how late a channel runs: the media time playback is at and
// the recording it belongs to (times of another recording say nothing about
// lateness: the clock jumps when playback reaches it). Only forward play at
// a running clock publishes; paused, stepping, backward or fast play publish
// nothing, and nothing is dropped for lateness then.
#include <QtGlobal>

#include <mutex>

class PlaybackClock
{
public:
    void publish(qint64 nowMs, int recording)
    {
        std::lock_guard<std::mutex> locker(lock);
        now = nowMs;
        nowRecording = recording;
        running = true;
    }
    void clear()
    {
        std::lock_guard<std::mutex> locker(lock);
        running = false;
    }
    // The media time playback is at in recording; false when no clock runs.
    bool nowMs(qint64 *outMs, int *outRecording) const
    {
        std::lock_guard<std::mutex> locker(lock);
        *outMs = now;
        *outRecording = nowRecording;
        return running;
    }

private:
    mutable std::mutex lock;
    qint64 now = 0;
    int nowRecording = -1;
    bool running = false;
};
