#pragma once
// The main window's side of the playback threads. Frames decoded before a
// stop must never reach panes rebuilt after it: every stop starts a new
// playback generation, each frame is tagged on the render thread with the
// generation it was made in, and frames of an older generation are destroyed
// when they arrive on the GUI thread.
#include "H26xFrameItem.h"
#include "TelemetryTrack.h"
#include "TransportTarget.h"

#include <QObject>
#include <QSize>
#include <QVector>

#include <atomic>
#include <memory>
#include <mutex>

class PlaybackController;
class Reader;

class PlaybackHost : public QObject, public TransportTarget
{
    Q_OBJECT

public:
    explicit PlaybackHost(Reader *reader, QObject *parent = nullptr);
    ~PlaybackHost() override;

    // Stops render, decode and read threads (in that order) and waits for them.
    void stop();
    bool isRunning() const override;
    // Stops, then plays catalogue entry index forward (backward: from its
    // end): 0, or negative when it cannot be played; playError() says why.
    int play(int index, bool backward = false);
    QString playError() const;
    // Picture size of each channel of the recording playing.
    QVector<QSize> channelSizes() const;
    // The grid shows this layout and selected pane.
    void setPaneView(int layout, int selectedChannel);
    int generation() const { return currentGeneration.load(); }
    // Start and end (seconds) of a recording the read thread opened.
    bool recordingSpan(int index, qint64 *start, qint64 *end) const;
    // Percent 0..100; the sound device's volume (0..128) after it.
    void setVolume(int percent);
    int deviceVolume() const;
    // The render thread's play mode (RenderThread::Mode).
    int playMode() const;
    // The GPS fix playback last passed (already in decimal degrees and km/h).
    GpsFix currentGpsFix() const;
    // The telemetry of a recording the read thread opened; null when unknown.
    TelemetrySnapshotPtr telemetry(int index) const;

    int currentIndex() const override;
    void play() override;
    int reverse() override;
    void pause() override;
    void resume() override;
    void stepForward() override;
    void stepBackward() override;
    void fastForward() override;
    void fastBackward() override;
    int seek(int index, qint64 mediaMs) override;
    void setSpeed(float speed) override;

signals:
    // On the GUI thread; the receiver owns the item.
    void decodedFrame(H26xFrameItem *item);
    // Playback reached recording index, whose channels differ from those
    // shown; reading waits until the recording is played anew.
    void layoutChanged(int index);
    // Recording index cannot be played and was passed over.
    void recordingSkipped(int index, const QString &reason);

private:
    void deliver(H26xFrameItem *item, int itemGeneration);
    void deliverPending(int channel);
    // Runs a repositioning command with the render thread held, so frames
    // made before it (still queued to the GUI) are not shown after it. A
    // change of direction (fromScreen) goes on from the last frame made, so
    // those reach the panes first; a seek drops them.
    template <typename Command> auto repositioning(Command command, bool fromScreen = true);

    std::unique_ptr<PlaybackController> controller;
    // The render thread's record of the frame on screen is only this run's
    // once a frame of this run reached the GUI; until then it may still be
    // the previous run's, and nothing may restart from it.
    bool restartPointKnown() const { return shownSinceOpen; }

    std::atomic<int> currentGeneration{0};
    // Each channel's picture on its way to the GUI thread, with its generation.
    static constexpr int MaxChannels = 9;
    struct Pending { H26xFrameItem *item = nullptr; int generation = 0; };
    std::mutex pendingLock;
    Pending pending[MaxChannels];
    int openedIndex = -1;
    bool shownSinceOpen = false;
};
