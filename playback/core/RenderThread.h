#pragma once
// The consumer end of playback and owner of its clock: releases decoded
// pictures when their media time is due, by play mode and speed, through
// the queued decodedFrame signal; feeds the sound; keeps the record of the
// last shown frame of the leading channel (the restart point) and the
// current GPS fix, both read by the GUI under a lock.
#include "AudioPlayer.h"
#include "FrameQueue.h"
#include "PaneView.h"
#include "PlaybackWorker.h"
#include "TelemetryTrack.h"

#include <QElapsedTimer>
#include <atomic>
#include <mutex>

class DecodeThread;
class PlaybackClock;
class ReadThread;

class RenderThread : public PlaybackWorker
{
    Q_OBJECT
public:
    enum Mode { Forward = 0, StepForward = 1, FastForward = 3, Backward = 5, StepBackward = 6, FastBackward = 8 };
    static constexpr double FastRate = 3.0;
    static constexpr int LateMs = 20; // shown this much after its due time counts as late
    // In forward play a picture this far behind the clock is dropped, not shown.
    static constexpr int MaxLateMs = 100;

    struct Stats {
        int noPicture = 0;
        int late = 0;
        int maxLateMs = 0;
        qint64 audioBytes = 0;
        int dropped[9] = {}; // per channel: decoded, then too late to show
    };

    RenderThread(ReadThread *readThread, DecodeThread *decodeThread, PaneView *view, QObject *parent = nullptr);
    ~RenderThread() override;

    void setChannelCount(int count) { channelCount = qBound(0, count, 9); }
    // Where the running clock is published for the decode thread.
    void setClock(PlaybackClock *value) { clock = value; }
    // Index store: PCM at 8192 Hz; record files: AAC of the recording's rate
    // and channel count. Takes effect at the next start; later the device is
    // opened again whenever sound of another format (or the first sound,
    // after recordings without) arrives.
    void setAudioFormat(AudioPlayer::Kind kind, int rate, int channels);

    // Starts the thread in mode (Forward or Backward), clock unset.
    void startPlaying(int mode);
    void setPlayMode(int mode);
    int playMode() const { return mode.load(); }
    void setSpeed(float value) { speed = value; }
    float currentSpeed() const { return speed.load(); }
    // Single steps run while paused; each ends when a frame of the leading
    // channel was shown. Steps asked in a row are counted, none is lost; a
    // step in the other direction drops the ones not yet shown.
    void stepForward();
    void stepBackward();
    bool stepPending() const { return pendingStep.load() != 0; }
    // After a reposition (thread parked): the next shown frame sets the
    // clock, and the render thread empties its sound buffers itself. With
    // a time (a change of direction), playback continues from the frame on
    // screen: each channel drops frames up to that time (backward: from it
    // on), so the next frame shown is the neighbour of the one on screen.
    void restartClock(qint64 continueAfterMs = -1, bool backward = false);

    int setVolume(int percent) { return player.setVolume(percent); }
    int volume() const { return player.volume(); }
    int audioRate() const { return player.deviceRate(); }
    int audioChannels() const { return player.deviceChannels(); }

    // The record of the last shown frame of the leading channel; false
    // before one was shown.
    bool currentRecord(FrameIndexEntry *out) const;
    // The GPS fix playback last passed; invalid (and of no recording) after
    // a start or a reposition until the next fix arrives.
    GpsFix currentGpsFix() const;
    Stats stats() const;
    void resetStats();

signals:
    // The receiver owns the item.
    void decodedFrame(H26xFrameItem *item);
    void stepDone();

protected:
    void work() override;

private:
    void playRound(bool fast, bool back);
    bool everyChannelReady();
    bool singleStep(bool back);
    bool takeShowable(int channel, bool fast);
    void show(H26xFrameItem *item, int lateMs);
    void feedAudio(bool active);
    void adoptAudioFormat(int recordingIndex);
    void followTelemetry(qint64 timeMs, bool back);

    void publishClock(bool running);

    ReadThread *read;
    DecodeThread *decode;
    PaneView *view;
    PlaybackClock *clock = nullptr;
    AudioPlayer player;
    AudioPlayer::Kind audioKind = AudioPlayer::Pcm;
    int audioRateWanted = AudioPlayer::PcmRate;
    int audioChannelsWanted = 1;
    bool audioRunning = false;

    std::atomic<int> channelCount{1};
    std::atomic<int> mode{Forward};
    std::atomic<float> speed{1.0f};
    // Steps asked and not yet shown: positive forward, negative backward.
    std::atomic<int> pendingStep{0};
    std::atomic<bool> clockRestart{false};
    // Continuing from the frame on screen: channels (bit c) still dropping
    // frames not beyond continueMs in the direction continueBackward.
    std::atomic<int> continuing{0};
    std::atomic<qint64> continueMs{0};
    std::atomic<bool> continueBackward{false};
    int audioRecording = -1; // catalogue index of the sound last fed

    // Clock: media time clockBase at the timer's last restart.
    QElapsedTimer timer;
    QElapsedTimer startWait; // since forward play first waited for a channel to be ready
    bool clockSet = false;
    qint64 clockBase = 0;
    double clockRate = 1.0;
    qint64 videoTime = 0; // last shown time of the leading channel
    int videoRecording = -1; // and its recording
    qint64 channelTime[9] = {}; // last shown time of each channel
    // After a jump ahead (a gap between recordings): frames from before
    // segmentStartMs keep the clock they had, jumpSpanMs behind the new one.
    qint64 segmentStartMs = 0;
    qint64 jumpSpanMs = 0;

    mutable std::mutex stateLock;
    FrameIndexEntry current;
    bool haveCurrent = false;
    GpsFix gpsFix;
    Stats counters;
};
