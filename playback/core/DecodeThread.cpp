#include "DecodeThread.h"

#include "LogCategories.h"
#include "ParallelRounds.h"
#include "PlaybackClock.h"
#include "ReadThread.h"
#include "ThreadPriority.h"

#include <QDebug>

#include <algorithm>

namespace {
// The single-pane fallback happens at most once while the program runs.
std::atomic<bool> slowReported{false};
} // namespace

DecodeThread::DecodeThread(ReadThread *readThread, PaneView *v, QObject *parent)
    : PlaybackWorker(parent), read(readThread), view(v)
{
    for (int c = 0; c < Channels; ++c) {
        decoders[c].reset(new H265Decoder(c));
        drained[c] = false;
        droppedFrames[c] = 0;
        recordingOf[c] = -1;
    }
}

DecodeThread::~DecodeThread()
{
    stopAndJoin();
    flush();
}

int DecodeThread::initCodec(const QVector<PaneSpec> &specs)
{
    clearFlagsForStart();
    flush();
    const int channels = std::min<int>(specs.size(), Channels);
    const int cores = std::max(1, QThread::idealThreadCount());
    // One channel: its decoder's frame threads use every core. More: one
    // lane per core, at most one per channel, each decoder on its own,
    // except a channel with more than a lane's share of all the pixels (a
    // 2160p camera beside 1080p ones): a single thread could not keep up
    // with it, so its frame threads take the cores the others leave.
    laneCount = channels > 1 ? std::min(cores, channels) : 1;
    qint64 totalPixels = 0;
    for (int i = 0; i < channels; ++i)
        totalPixels += qint64(specs[i].width) * specs[i].height;
    for (int i = 0; i < Channels; ++i)
        order[i] = i;
    std::stable_sort(order, order + channels, [&](int a, int b) {
        return qint64(specs[a].width) * specs[a].height > qint64(specs[b].width) * specs[b].height;
    });
    for (int i = 0; i < channels; ++i) {
        const PaneSpec &s = specs[i];
        const int codec = codecTypes.isEmpty() ? int(H265Decoder::H265) : codecTypes.value(i, codecTypes.last());
        const bool large = qint64(s.width) * s.height * laneCount > totalPixels;
        const int decoderThreads = laneCount == 1 || large ? std::max(2, cores) : 1;
        if (decoders[i]->initCodec(codec, s.width, s.height, decoderThreads) < 0) {
            qCWarning(lcPlayback, "DecodeThread::initCodec error");
            return -1;
        }
    }
    start();
    return 0;
}

void DecodeThread::flush()
{
    for (int c = 0; c < Channels; ++c) {
        outputs[c].clear();
        for (H26xFrameItem *item : backStacks[c])
            delete item;
        backStacks[c].clear();
        keySeen[c] = false;
        recordingOf[c] = -1;
        drained[c] = false;
        policies[c].reset();
    }
    decoderFlushPending = true;
}

void DecodeThread::work()
{
    qCDebug(lcPlayback, "DecodeThread::run...start");
    ThreadPriority::lowerCallingThreadForDecoding();
    for (int c = 0; c < Channels; ++c) {
        keySeen[c] = false;
        recordingOf[c] = -1;
        policies[c].reset();
        maxTemporalId[c] = 0;
        droppedFrames[c] = 0;
    }
    timer.start();
    totalNs = 0;
    weightedCount = 0;
    // Started here so that the lanes inherit this thread's lowered priority.
    ParallelRounds rounds(laneCount);
    while (checkpoint()) {
        if (decoderFlushPending.exchange(false))
            for (auto &decoder : decoders)
                decoder->flush();
        if (isPaused()) {
            nap(50);
            continue;
        }
        // Sleeps only when a round found nothing to do, so a busy decoder
        // runs at full speed.
        if (!step(rounds))
            nap(1);
    }
    qCDebug(lcPlayback, "[%s::%d]DecodeThread...end", "run", __LINE__);
}

bool DecodeThread::step(ParallelRounds &rounds)
{
    // Each channel is one task: its decoder, queues and state are touched by
    // one lane at a time, and by this thread between rounds. A round goes on
    // while any channel finds work, so lanes never wait for each other.
    return rounds.run(
        channelCount, [this](int i) { return stepChannel(order[i]); },
        [this] { return interruptRequested() || isPaused() || decoderFlushPending.load(); });
}

// Takes the channel's next frame to decode, if its output has room.
bool DecodeThread::stepChannel(int c)
{
    const int limit = backward ? 40 : (fastForward ? 20 : 10);
    if (isStopped() || !view->isVisible(c) || outputs[c].size() > limit)
        return false;
    // Read before looking at the queue: the read thread queues a channel's
    // last frame and only then says it has ended, so an empty queue seen
    // after "ended" is empty for good. The other order could drain the
    // decoder while the last frame was being queued, and that frame would
    // never be decoded, shown or counted.
    const bool ended = read->hasEnded();
    // Frames that are not to be decoded are passed over at once, so a
    // channel skipping to its next key frame catches up in one round.
    bool took = false;
    while (H26xFrameItem *item = read->video(c).take()) {
        took = true;
        if (!admit(c, item)) {
            delete item;
            continue;
        }
        decodeOne(c, item);
        delete item;
        break;
    }
    if (!took && ended && !drained[c]) {
        drainDecoder(c);
        releaseBackStack(c);
        drained[c] = true;
    }
    return took;
}

// Whether the channel's decoder gets this frame: not before a key frame of
// its recording, and in forward play not when the channel runs so late that
// the frame is dropped.
bool DecodeThread::admit(int c, H26xFrameItem *item)
{
    if (item->catalogueIndex() != recordingOf[c]) {
        // Another recording: its frames must not be decoded against the
        // pictures of the last one.
        recordingOf[c] = item->catalogueIndex();
        keySeen[c] = false;
        policies[c].reset();
    }
    if (item->isKeyFrame())
        keySeen[c] = true;
    if (!keySeen[c])
        return false;

    // Lateness is judged within the recording the clock is in.
    qint64 now = 0;
    int clockRecording = -1;
    const bool timed = !backward && !fastForward && clock && clock->nowMs(&now, &clockRecording)
        && clockRecording == item->catalogueIndex();
    const bool hevc = decoders[c]->codecType() == H265Decoder::H265;
    const bool nonReference = timed && isNonReferencePicture(item->data(), item->size(), hevc, &maxTemporalId[c]);
    const bool wasSkipping = policies[c].skippingToKeyFrame();
    const FrameDropPolicy::Action action = policies[c].next(item->timeMs(), item->isKeyFrame(), nonReference, timed, now);
    decoders[c]->setSkipNonReference(policies[c].droppingNonReference());
    switch (action) {
    case FrameDropPolicy::Action::Decode:
        return true;
    case FrameDropPolicy::Action::DropNonReference:
        ++droppedFrames[c];
        return false;
    case FrameDropPolicy::Action::DropToKeyFrame:
        if (!wasSkipping) {
            // What the decoder still holds is older still: it goes too.
            droppedFrames[c] += decoders[c]->flush();
            // Its picture would come out this late: the clock's lead over
            // the frame plus the decoder's delay.
            qCDebug(lcPlayback, "[%s::%d]channel %d is %lld ms late: skipping to the next key frame", "admit",
                    __LINE__, c, static_cast<long long>(now + policies[c].decoderDelayMs() - item->timeMs()));
        }
        ++droppedFrames[c];
        return false;
    }
    return true;
}

void DecodeThread::decodeOne(int c, H26xFrameItem *item)
{
    // Backward: a key frame starts the next (earlier) GOP, so the GOP on the
    // stack is complete once the decoder has given back its last pictures.
    if (backward && item->isKeyFrame()) {
        drainDecoder(c);
        releaseBackStack(c);
    }
    FrameIndexEntry pictureRecord;
    const qint64 begin = timer.nsecsElapsed();
    AVFrame *picture = decoders[c]->decode(item->data(), item->size(), item->record(), &pictureRecord, item->buffer());
    account(item->record().res, timer.nsecsElapsed() - begin);
    if (picture) {
        qint64 now = 0;
        int clockRecording = -1;
        if (clock && clock->nowMs(&now, &clockRecording) && clockRecording == int(pictureRecord.catalogueIndex))
            policies[c].notePicture(pictureRecord.timeMs(), now);
        handOut(c, new H26xFrameItem(picture, pictureRecord));
    } else {
        FrameIndexEntry none = item->record();
        none.size = 0;
        handOut(c, new H26xFrameItem(nullptr, 0, none));
    }
}

void DecodeThread::handOut(int c, H26xFrameItem *decoded)
{
    if (backward)
        backStacks[c].push_front(decoded);
    else
        outputs[c].append(decoded);
}

void DecodeThread::drainDecoder(int c)
{
    FrameIndexEntry pictureRecord;
    while (AVFrame *picture = decoders[c]->drain(&pictureRecord))
        handOut(c, new H26xFrameItem(picture, pictureRecord));
}

void DecodeThread::releaseBackStack(int c)
{
    for (H26xFrameItem *item : backStacks[c])
        outputs[c].append(item);
    backStacks[c].clear();
}

void DecodeThread::account(int res, qint64 ns)
{
    int weight = 0;
    if (res == 4 || res == 14 || res == 18)
        weight = 1;
    else if (res == 12 || res == 13 || res == 15)
        weight = 2;
    else if (res == 16)
        weight = 4;
    if (!weight)
        return;
    std::lock_guard<std::mutex> lock(accountMutex);
    weightedCount += weight;
    totalNs += ns;
    if (weightedCount > 400 && !slowReported.exchange(true)) {
        // Lanes decode side by side: the machine's time per frame is a
        // lane's time divided among them.
        const qint64 average = totalNs / weightedCount / laneCount;
        qCDebug(lcPlayback, "HD_DEC Time[%lld]", static_cast<long long>(average));
        if (average > SlowDecodeNs)
            emit singlePaneRequested();
    }
}
