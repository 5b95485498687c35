#pragma once
// Head of the playback pipeline: pulls the frames of the current recording
// from the Reader, one at a time, and sorts them into nine video queues and
// the audio, GPS and G-sensor queues. At the end of a recording it moves on
// to the next one (forward) or the previous one (backward), passing over a
// recording that cannot be loaded. It reads no further ahead of what the
// render thread last showed than a few seconds of media, whatever is shown.
#include "FrameQueue.h"
#include "CatalogueItems.h"
#include "PaneView.h"
#include "PlaybackWorker.h"
#include "Reader.h"
#include "TelemetryTrack.h"

#include <QVector>

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

struct AVBufferPool;
struct AVBufferRef;

class ReadThread : public PlaybackWorker
{
    Q_OBJECT
public:
    // The most a frame may take (the reader refuses larger ones).
    static constexpr int WorkBufferSize = 0x500000;
    // Frames are read one after another into reference-counted buffers of
    // this size, which their items (and the decoder's packets) reference; a
    // buffer is reused once nothing refers to it any more.
    static constexpr int ReadBufferSize = WorkBufferSize + 0x300000;
    static constexpr int Channels = 9;
    // Back-pressure on every channel the decoder consumes.
    static constexpr int MaxQueuedFrames = 90;
    static constexpr qint64 MaxQueuedBytes = 24 * 1024 * 1024;
    // How far reading runs ahead of the picture on screen (or, before one
    // was shown, of the first frame read), in media time.
    static constexpr qint64 MaxReadAheadMs = 4000;
    // A visible channel of the recording being read with fewer compressed
    // frames than this is fed beyond MaxReadAheadMs: its decoder would run
    // dry across a gap between recordings or a long backward GOP.
    static constexpr int StarvingFrames = 4;
    // The queues of sound and telemetry never hold more than this.
    static constexpr int MaxQueuedOther = 4000;
    static constexpr qint64 MaxQueuedOtherBytes = 8 * 1024 * 1024;

    // What the GUI shows for a recording, kept per catalogue index so it can
    // be asked for the recording of the frame on screen, not the last loaded.
    struct RecordingInfo {
        int index = -1;
        qint64 startTime = 0;
        qint64 endTime = 0;
        TelemetrySnapshotPtr telemetry; // never null once opened
        AudioDescription audio;
        std::vector<VideoTrack> tracks;
    };

    ReadThread(Reader *reader, PaneView *view, QObject *parent = nullptr);
    ~ReadThread() override;

    // Set while the thread is stopped or parked.
    void setCardKind(int storageMode) { cardKind = storageMode; }
    void setChannelCount(int count) { channelCount = qBound(0, count, Channels); }

    // Loads a recording of the current store at its start, backward with the
    // backward index (record files get one built after the load). 0; -1 no
    // such entry or it cannot be played (loadError() says why).
    int openRecording(int index, bool backward);
    QString loadError() const;
    // With the thread parked or stopped: reopens index when the Reader holds
    // another recording or the direction changes, then positions at mediaMs.
    int position(int index, qint64 mediaMs, bool backward);
    // Starts reading in the direction of the last openRecording.
    void startReading();

    bool isBackward() const { return backward.load(); }
    // Nothing more is read in this run: the end (or, backward, the start) of
    // the catalogue was reached, or the next recording needs other panes.
    bool hasEnded() const { return ended.load(); }
    int currentIndex() const { return currentDBIndex.load(); }
    bool recordingInfo(int index, RecordingInfo *out) const;

    // The render thread showed a picture of this media time.
    void notePlayed(qint64 mediaMs);

    FrameQueue &video(int channel) { return videoQueues[channel]; }
    FrameQueue &audio() { return audioQueue; }
    FrameQueue &gps() { return gpsQueue; }
    FrameQueue &gsensor() { return gsensorQueue; }
    void clearAll();

signals:
    // The next record file has other channels (or codecs): reading ended
    // before it, so that it is played anew once what was read is shown.
    void layoutChanged(int index);
    // Reading ran past the last (direction 0) or first (direction 5) recording.
    void playEnd(int direction);
    void recordingOpened(int index);
    // Recording index cannot be played (reason, as a person would be told);
    // reading went on with the one after it.
    void recordingSkipped(int index, const QString &reason);

protected:
    void work() override;

private:
    enum LoadResult { Loaded, Failed, Interrupted };

    int catalogueSize() const;
    // interruptible: on the thread itself, a stop or park ends the load.
    LoadResult load(int index, bool backwardLoad, bool keepBuffer, bool interruptible);
    bool step();
    uint8_t *readSpace();
    void route(const uint8_t *data, int length, const FrameIndexEntry &entry);
    bool queuesFull(int limit) const;
    bool mayReadOn() const;
    qint64 aheadOfPlayback() const;
    void restartReadAhead();
    bool layoutDiffers() const;

    Reader *reader;
    PaneView *view;
    AVBufferPool *readBuffers = nullptr;
    AVBufferRef *readBuffer = nullptr; // the one frames are read into now
    size_t readBufferUsed = 0;
    FrameQueue videoQueues[Channels];
    FrameQueue audioQueue, gpsQueue, gsensorQueue;
    GpsNormaliser gpsNormaliser;
    std::atomic<int> cardKind{1};
    std::atomic<int> channelCount{1};
    std::atomic<int> currentDBIndex{-1};
    std::atomic<bool> backward{false};
    std::atomic<bool> ended{false};
    // The video tracks of the recording playback was started with.
    std::vector<VideoTrack> startTracks;

    // Read-ahead: the newest media time read and the first one read since
    // the last start or reposition (read thread only, or while it is parked
    // or stopped); the time of the last picture shown (render thread).
    qint64 readMs = 0;
    qint64 originMs = 0;
    bool originKnown = false;
    std::atomic<qint64> playedMs{0};
    std::atomic<bool> playedKnown{false};
    // Video channels of the recording being read (bit c for channel c).
    uint32_t presentChannels = 0;

    mutable std::mutex infoLock;
    std::map<int, RecordingInfo> infos; // the last few recordings opened
    QString lastLoadError;
};
