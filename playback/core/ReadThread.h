#pragma once
// Head of the playback pipeline: pulls the frames of the current recording
// from the Reader, one at a time, and sorts them into nine video queues and
// the audio, GPS and G-sensor queues. At the end of a recording it moves on
// to the next one (forward) or the previous one (backward).
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

class ReadThread : public PlaybackWorker
{
    Q_OBJECT
public:
    static constexpr int WorkBufferSize = 0x500000;
    static constexpr int Channels = 9;
    // Back-pressure on every channel the decoder consumes.
    static constexpr int MaxQueuedFrames = 90;
    static constexpr qint64 MaxQueuedBytes = 24 * 1024 * 1024;

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
    void setPaneSpecs(const QVector<PaneSpec> &specs) { paneSpecs = specs; }

    // Loads a recording of the current store at its start, backward with the
    // backward index (record files get one built after the load). 0; -1 no
    // such entry or it did not load.
    int openRecording(int index, bool backward);
    // With the thread parked or stopped: reopens index when the Reader holds
    // another recording or the direction changes, then positions at mediaMs.
    int position(int index, qint64 mediaMs, bool backward);
    // Starts reading in the direction of the last openRecording.
    void startReading();

    bool isBackward() const { return backward.load(); }
    // The end (or, backward, the start) of the catalogue was reached.
    bool hasEnded() const { return ended.load(); }
    int currentIndex() const { return currentDBIndex.load(); }
    bool recordingInfo(int index, RecordingInfo *out) const;

    FrameQueue &video(int channel) { return videoQueues[channel]; }
    FrameQueue &audio() { return audioQueue; }
    FrameQueue &gps() { return gpsQueue; }
    FrameQueue &gsensor() { return gsensorQueue; }
    void clearAll();

signals:
    // A record file with another channel layout was opened; reading paused.
    void layoutChanged(int index);
    // Reading ran past the last (direction 0) or first (direction 5) recording.
    void playEnd(int direction);
    void recordingOpened(int index);

protected:
    void work() override;

private:
    int catalogueSize() const;
    int load(int index, bool backwardLoad, bool keepBuffer);
    bool step();
    void route(int length, const FrameIndexEntry &entry);
    bool queuesFull(int limit) const;
    bool layoutDiffers() const;

    Reader *reader;
    PaneView *view;
    std::unique_ptr<uint8_t[]> workBuffer;
    FrameQueue videoQueues[Channels];
    FrameQueue audioQueue, gpsQueue, gsensorQueue;
    GpsNormaliser gpsNormaliser;
    std::atomic<int> cardKind{1};
    std::atomic<int> channelCount{1};
    std::atomic<int> currentDBIndex{-1};
    std::atomic<bool> backward{false};
    std::atomic<bool> ended{false};
    QVector<PaneSpec> paneSpecs;

    mutable std::mutex infoLock;
    std::map<int, RecordingInfo> infos; // the last few recordings opened
};
