#pragma once
// The main window's transport commands: play, reverse, frame steps, fast
// play, pause and resume, seek and recording steps, with the remembered
// direction (0 forward, 5 backward). Nothing happens while no recording is
// playing (before the first play, after a stop for a reload); recording
// steps stay inside the catalogue and are carried out by the main window,
// which opens the recording and builds its panes.
#include <QObject>

class TransportTarget;

class Transport : public QObject
{
    Q_OBJECT

public:
    enum Direction { Forward = 0, Backward = 5 };

    explicit Transport(TransportTarget *target, QObject *parent = nullptr);

    int playDirection() const { return direction; }
    bool isPaused() const { return paused; }
    // Recordings in the catalogue, for the bounds of the recording steps.
    void setCatalogueSize(int size) { catalogueSize = size; }
    // An entry was opened and plays in direction from its start (or end).
    void started(int direction);

public slots:
    void play();
    void reverse();
    void pause();
    void resume();
    // Space: pause while playing, else play on in the remembered direction.
    void togglePause();
    void nextFrame();
    void previousFrame();
    void fastForward();
    void fastBackward();
    void nextBank();
    void previousBank();
    // targetSecond of catalogue entry index, in the current direction.
    void seek(int index, qint64 targetSecond);
    void setSpeed(float speed);

signals:
    // Open entry index and play it in direction (Forward or Backward).
    void openRequested(int index, int direction);

private:
    bool active() const;
    void stepBank(int delta);

    TransportTarget *target;
    int direction = Forward;
    bool paused = false;
    int catalogueSize = 0;
};
