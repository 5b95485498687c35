#pragma once
// The main window's side of the playback threads. Frames decoded before a
// stop must never reach panes rebuilt after it: every stop starts a new
// playback generation, each frame is tagged on the render thread with the
// generation it was made in, and frames of an older generation are destroyed
// when they arrive on the GUI thread.
#include "H26xFrameItem.h"

#include <QObject>
#include <QSize>
#include <QVector>

#include <atomic>
#include <memory>

class PlaybackController;
class Reader;

class PlaybackHost : public QObject
{
    Q_OBJECT

public:
    explicit PlaybackHost(Reader *reader, QObject *parent = nullptr);
    ~PlaybackHost() override;

    // Stops render, decode and read threads (in that order) and waits for them.
    void stop();
    bool isRunning() const;
    // Stops, then plays catalogue entry index forward: 0, or negative when
    // it does not load or cannot be decoded.
    int play(int index);
    // Picture size of each channel of the recording playing.
    QVector<QSize> channelSizes() const;
    // The grid shows this layout and selected pane.
    void setPaneView(int layout, int selectedChannel);
    int generation() const { return currentGeneration.load(); }

signals:
    // On the GUI thread; the receiver owns the item.
    void decodedFrame(H26xFrameItem *item);

private:
    void deliver(H26xFrameItem *item, int itemGeneration);

    std::unique_ptr<PlaybackController> controller;
    std::atomic<int> currentGeneration{0};
};
