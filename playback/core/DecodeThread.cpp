#include "DecodeThread.h"

#include "LogCategories.h"
#include "ReadThread.h"

#include <QDebug>

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
    for (int i = 0; i < specs.size() && i < Channels; ++i) {
        const PaneSpec &s = specs[i];
        const int codec = codecTypes.isEmpty() ? int(H265Decoder::H265) : codecTypes.value(i, codecTypes.last());
        if (decoders[i]->initCodec(codec, s.width, s.height) < 0) {
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
    }
    decoderFlushPending = true;
}

void DecodeThread::work()
{
    qCDebug(lcPlayback, "DecodeThread::run...start");
    for (int c = 0; c < Channels; ++c) {
        keySeen[c] = false;
        recordingOf[c] = -1;
    }
    timer.start();
    totalNs = 0;
    weightedCount = 0;
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
        if (!step())
            nap(1);
    }
    qCDebug(lcPlayback, "[%s::%d]DecodeThread...end", "run", __LINE__);
}

bool DecodeThread::step()
{
    bool worked = false;
    const int limit = backward ? 40 : (fastForward ? 20 : 10);
    for (int c = 0; c < channelCount; ++c) {
        if (isStopped())
            return worked;
        if (!view->isVisible(c) || outputs[c].size() > limit)
            continue;
        H26xFrameItem *item = read->video(c).take();
        if (!item) {
            if (read->hasEnded() && !drained[c]) {
                drainDecoder(c);
                releaseBackStack(c);
                drained[c] = true;
            }
            continue;
        }
        if (item->catalogueIndex() != recordingOf[c]) {
            // Another recording: its frames must not be decoded against the
            // pictures of the last one.
            recordingOf[c] = item->catalogueIndex();
            keySeen[c] = false;
        }
        if (item->isKeyFrame())
            keySeen[c] = true;
        if (!keySeen[c]) {
            delete item;
            continue;
        }
        decodeOne(c, item);
        delete item;
        worked = true;
    }
    return worked;
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
    const int n = decoders[c]->decode(item->data(), item->size(), item->record(), pictureBuffer(c), &pictureRecord);
    account(item->record().res, timer.nsecsElapsed() - begin);
    if (n > 0) {
        spares[c]->record() = pictureRecord;
        handOut(c, spares[c].release());
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
    while (decoders[c]->drain(pictureBuffer(c), &pictureRecord) > 0) {
        spares[c]->record() = pictureRecord;
        handOut(c, spares[c].release());
    }
}

// The spare item takes the picture of the size the decoder produced.
H265Decoder::PictureBuffer DecodeThread::pictureBuffer(int c)
{
    return [this, c](int width, int height, int bytes) {
        if (!spares[c] || spares[c]->size() != bytes)
            spares[c].reset(new H26xFrameItem(bytes, FrameIndexEntry()));
        spares[c]->setPictureSize(width, height);
        return spares[c]->data();
    };
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
    weightedCount += weight;
    totalNs += ns;
    if (weightedCount > 400 && !slowReported.exchange(true)) {
        const qint64 average = totalNs / weightedCount;
        qCDebug(lcPlayback, "HD_DEC Time[%lld]", static_cast<long long>(average));
        if (average > SlowDecodeNs)
            emit singlePaneRequested();
    }
}
