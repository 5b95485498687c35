#pragma once
// Between the read and render threads: takes one compressed item per
// visible channel and round, decodes it with that channel's decoder and
// queues the picture for the render thread. Nothing before a channel's key
// frame reaches its decoder, after a start, a flush or a change of
// recording in either direction; in backward play each GOP is held on a
// back stack and released newest first. In forward play a channel that runs
// late against the playback clock drops frames by FrameDropPolicy rather
// than hold the clock back. With more channels than one, the channels of a
// round are decoded side by side on one thread per core, each decoder
// single-threaded: a frame-threaded decoder per channel spends a fifth more
// CPU on the same pictures.
#include "FrameDropPolicy.h"
#include "FrameQueue.h"
#include "H265Decoder.h"
#include "CatalogueItems.h"
#include "PaneView.h"
#include "PlaybackWorker.h"

#include <QElapsedTimer>
#include <QVector>

#include <atomic>
#include <deque>
#include <memory>
#include <mutex>

class ParallelRounds;
class PlaybackClock;
class ReadThread;

class DecodeThread : public PlaybackWorker
{
    Q_OBJECT
public:
    static constexpr int Channels = 9;
    static constexpr qint64 SlowDecodeNs = 3500000; // per weighted frame

    DecodeThread(ReadThread *readThread, PaneView *view, QObject *parent = nullptr);
    ~DecodeThread() override;

    void setChannelCount(int count) { channelCount = qBound(0, count, Channels); }
    // Set before initCodec starts the thread, and while parked.
    void setBackward(bool value) { backward = value; }
    bool isBackward() const { return backward.load(); }
    void setFastForward(bool value) { fastForward = value; }
    // The clock lateness is measured against; none: nothing is dropped.
    void setClock(const PlaybackClock *value) { clock = value; }

    // The codec of each channel's track (H265Decoder::CodecType); channels
    // beyond the list use the last entry, H.265 when it is empty.
    void setCodecTypes(const QVector<int> &types) { codecTypes = types; }
    // Configures decoder i for specs[i] and starts the thread. -1 (thread
    // not started) when a decoder cannot be set up.
    int initCodec(const QVector<PaneSpec> &specs);

    // With the thread parked or stopped: drops the output queues, the back
    // stacks and the key-seen flags; the decoders drop what they still hold
    // on the decode thread itself, before it decodes anything new.
    void flush();

    FrameQueue &output(int channel) { return outputs[channel]; }
    const FrameQueue &output(int channel) const { return outputs[channel]; }
    // Everything of the channel has been decoded and handed on: the read
    // thread ended and the decoder was drained.
    bool isDrained(int channel) const { return drained[channel].load(); }
    // Frames of the channel dropped for lateness since the last start,
    // before decoding or, after a skip, inside the decoder.
    int dropped(int channel) const { return droppedFrames[channel].load(); }
    // Picture buffers the channel's decoder holds (in use or for reuse).
    int pictureBuffers(int channel) const { return decoders[channel]->pool().buffersAllocated(); }

signals:
    // Decoding is too slow for the grid: the GUI should show one pane.
    void singlePaneRequested();

protected:
    void work() override;

private:
    bool step(ParallelRounds &rounds);
    bool stepChannel(int channel);
    bool admit(int channel, H26xFrameItem *item);
    void decodeOne(int channel, H26xFrameItem *item);
    void handOut(int channel, H26xFrameItem *decoded);
    void drainDecoder(int channel);
    void releaseBackStack(int channel);
    void account(int resolutionCode, qint64 ns);

    ReadThread *read;
    PaneView *view;
    const PlaybackClock *clock = nullptr;
    std::unique_ptr<H265Decoder> decoders[Channels];
    FrameQueue outputs[Channels];
    std::deque<H26xFrameItem *> backStacks[Channels];
    bool keySeen[Channels] = {};
    int recordingOf[Channels]; // catalogue index of the channel's last frame taken
    std::atomic<bool> drained[Channels];
    FrameDropPolicy policies[Channels];
    int maxTemporalId[Channels] = {};
    std::atomic<int> droppedFrames[Channels];
    std::atomic<int> channelCount{1};
    std::atomic<bool> backward{false};
    std::atomic<bool> fastForward{false};
    std::atomic<bool> decoderFlushPending{false};
    QVector<int> codecTypes;
    int laneCount = 1;
    // Channels in the order a round hands them out: the largest pictures first.
    int order[Channels] = {0, 1, 2, 3, 4, 5, 6, 7, 8};
    QElapsedTimer timer;
    std::mutex accountMutex;
    qint64 totalNs = 0;
    int weightedCount = 0;
};
