#pragma once
// Starts, stops and redirects the read, decode and render threads: what the
// main window (and the headless harness) calls for play, reverse, pause,
// steps, fast play, seek and layout changes. All calls come from one thread
// (the GUI's). A reposition parks render, decode and read in that order,
// flushes, repositions the Reader and releases them again; every wait is
// bounded. The workers reach the caller only through queued signals.
#include "DecodeThread.h"
#include "PaneView.h"
#include "ReadThread.h"
#include "RenderThread.h"

#include <QMetaType>
#include <QObject>
#include <QVector>

Q_DECLARE_METATYPE(H26xFrameItem *)

class PlaybackController : public QObject
{
    Q_OBJECT
public:
    explicit PlaybackController(Reader *reader, QObject *parent = nullptr);
    ~PlaybackController() override;

    // Stops everything and plays catalogue entry index from its start
    // (backward: from its end). 0, or -1 when the entry does not load or a
    // decoder cannot be set up.
    int open(int index, bool backward = false);
    // Stops render, decode and read in that order, each within a bounded
    // wait; false when one of them did not finish in time.
    bool stop();
    bool isRunning() const;

    // Forward play (from backward: restarts forward at the frame on screen;
    // from fast play or pause: normal play again).
    void play();
    // Backward play from the frame on screen; -1 before one was shown.
    int reverse();
    void pause();
    void resume();
    void stepForward();
    void stepBackward();
    void fastForward();
    void fastBackward();
    void setSpeed(float speed);
    // Moves playback to mediaMs of catalogue entry index in the current
    // direction, keeping the user's pause. Ignored (-1) while not running.
    int seek(int index, qint64 mediaMs);
    // The GUI publishes a new layout or selection; the frames of channels that
    // became visible start at the frame on screen.
    void setPaneView(int layout, int selectedChannel, int visibleMask = PaneView::AllChannels);

    int direction() const { return backwardPlay ? RenderThread::Backward : RenderThread::Forward; }
    const QVector<PaneSpec> &paneSpecs() const { return specs; }
    int channelCount() const { return specs.size(); }

    ReadThread *readThread() { return &read; }
    DecodeThread *decodeThread() { return &decode; }
    RenderThread *renderThread() { return &render; }
    PaneView *paneView() { return &view; }

signals:
    // Emitted on the render thread: a receiver on another thread gets it
    // queued and owns the item (and must destroy what it does not show).
    void decodedFrame(H26xFrameItem *item);
    void playEnd(int direction);
    void layoutChanged(int index);
    void singlePaneRequested();

private:
    void buildPaneSpecs();
    int reposition(int index, qint64 mediaMs, bool backward);
    bool restartPoint(int *index, qint64 *mediaMs) const;

    Reader *reader;
    PaneView view;
    ReadThread read;
    DecodeThread decode;
    RenderThread render;
    QVector<PaneSpec> specs; // one per recorded channel
    QVector<int> codecs;
    bool backwardPlay = false;
    int openedIndex = -1;
};
