#pragma once
// Starts, stops and redirects the read, decode and render threads: what the
// main window (and the headless harness) calls for play, reverse, pause,
// steps, fast play, seek and layout changes. All calls come from one thread
// (the GUI's). A reposition parks render, decode and read in that order,
// flushes, repositions the Reader and releases them again; every wait is
// bounded. The workers reach the caller only through queued signals.
#include "DecodeThread.h"
#include "PaneView.h"
#include "PlaybackClock.h"
#include "ReadThread.h"
#include "RenderThread.h"

#include <QMetaType>
#include <QObject>
#include <QTimer>
#include <QVector>

Q_DECLARE_METATYPE(H26xFrameItem *)

class PlaybackController : public QObject
{
    Q_OBJECT
public:
    explicit PlaybackController(Reader *reader, QObject *parent = nullptr);
    ~PlaybackController() override;

    // Stops everything and plays catalogue entry index from its start
    // (backward: from its end). 0, or -1 when the entry cannot be played or
    // a decoder cannot be set up; openError() then says why.
    int open(int index, bool backward = false);
    QString openError() const { return lastOpenError; }
    // Stops render, decode and read in that order, each within a bounded
    // wait; false when one of them did not finish in time.
    bool stop();
    bool isRunning() const;

    // Forward play (from backward: goes on forward from the frame on screen;
    // from fast play or pause: normal play again).
    void play();
    // Backward play from the frame before the one on screen; -1 before one
    // was shown.
    int reverse();
    void pause();
    void resume();
    // One frame on from the one on screen, in either direction; steps asked
    // in a row each show one frame.
    void stepForward();
    void stepBackward();
    // Waits (up to timeoutMs) until the steps asked so far were shown, so a
    // change of direction starts from the frame they leave on screen.
    void waitForSteps(int timeoutMs = 1000);
    void fastForward();
    void fastBackward();
    void setSpeed(float speed);
    // Moves playback to mediaMs of catalogue entry index in the current
    // direction, keeping the user's pause. Ignored (-1) while not running.
    int seek(int index, qint64 mediaMs);
    // The GUI publishes a new layout or selection. Only when the channels to
    // decode change is playback repositioned at the frame on screen (so the
    // frames of channels that became visible start there); another pane
    // selected in the same grid changes nothing.
    void setPaneView(int layout, int selectedChannel, int visibleMask = PaneView::AllChannels);

    int direction() const { return backwardPlay ? RenderThread::Backward : RenderThread::Forward; }
    const QVector<PaneSpec> &paneSpecs() const { return specs; }
    int channelCount() const { return specs.size(); }
    // Frames of channel dropped since the last open because playback ran
    // late: left undecoded by the decode thread, or decoded and too late for
    // the render thread to show.
    int droppedFrames(int channel) const;

    ReadThread *readThread() { return &read; }
    DecodeThread *decodeThread() { return &decode; }
    RenderThread *renderThread() { return &render; }
    PaneView *paneView() { return &view; }

signals:
    // Emitted on the render thread: a receiver on another thread gets it
    // queued and owns the item (and must destroy what it does not show).
    void decodedFrame(H26xFrameItem *item);
    void playEnd(int direction);
    // Playback reached recording index, which needs other panes or
    // decoders; every picture read before it has been shown. Play it anew.
    void layoutChanged(int index);
    // A recording reached in playback cannot be played and was passed over.
    void recordingSkipped(int index, const QString &reason);
    void singlePaneRequested();

private:
    void buildPaneSpecs();
    // continueFromScreen: a change of direction, whose next frame is the
    // neighbour of the one on screen at mediaMs.
    int reposition(int index, qint64 mediaMs, bool backward, bool continueFromScreen = false);
    bool restartPoint(int *index, qint64 *mediaMs) const;
    bool everythingShown() const;

    Reader *reader;
    PaneView view;
    PlaybackClock clock;
    ReadThread read;
    DecodeThread decode;
    RenderThread render;
    QVector<PaneSpec> specs; // one per recorded channel
    QVector<int> codecs;
    bool backwardPlay = false;
    int openedIndex = -1;
    QString lastOpenError;
    // Waits for the pictures read before a recording with other channels.
    QTimer layoutWait;
    int layoutIndex = -1;
};
