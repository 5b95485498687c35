#include "ReadThread.h"

#include "LogCategories.h"

#include <QDebug>

#include <cstdlib>
#include <cstring>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/buffer.h>
}

namespace {
constexpr int KeptInfos = 4;
// Frames start at this alignment within a read buffer.
constexpr size_t FrameAlignment = 64;
} // namespace

ReadThread::ReadThread(Reader *r, PaneView *v, QObject *parent)
    : PlaybackWorker(parent), reader(r), view(v), readBuffers(av_buffer_pool_init(ReadBufferSize, av_buffer_alloc))
{
}

ReadThread::~ReadThread()
{
    stopAndJoin();
    clearAll();
    av_buffer_unref(&readBuffer);
    // Buffers still referenced elsewhere are freed when let go.
    av_buffer_pool_uninit(&readBuffers);
}

// Room for the largest frame and the decoder's zero padding after it: in the
// current read buffer, or in a fresh one.
uint8_t *ReadThread::readSpace()
{
    const size_t needed = size_t(WorkBufferSize) + AV_INPUT_BUFFER_PADDING_SIZE;
    if (!readBuffer || readBufferUsed + needed > size_t(ReadBufferSize)) {
        av_buffer_unref(&readBuffer);
        readBuffer = readBuffers ? av_buffer_pool_get(readBuffers) : nullptr;
        readBufferUsed = 0;
        if (!readBuffer)
            return nullptr;
    }
    return readBuffer->data + readBufferUsed;
}

int ReadThread::catalogueSize() const
{
    return cardKind == 1 ? reader->banks().size() : reader->files().size();
}

ReadThread::LoadResult ReadThread::load(int index, bool backwardLoad, bool keepBuffer, bool interruptible)
{
    if (index < 0 || index >= catalogueSize()) {
        std::lock_guard<std::mutex> locker(infoLock);
        lastLoadError = QStringLiteral("there is no such entry");
        return Failed;
    }
    const LoadCancel cancel = [this, interruptible] { return interruptible && interruptRequested(); };
    int result = 0;
    if (cardKind == 1) {
        result = reader->loadBankForPlayback(index, reader->banks().at(index), keepBuffer, backwardLoad, 0, cancel);
    } else {
        const qint64 bytes = reader->loadFileForPlayback(index, reader->files().at(index), keepBuffer, cancel);
        result = bytes == LoadCancelled ? int(LoadCancelled) : bytes > 0 ? 0 : -1;
        if (result == 0 && backwardLoad)
            reader->buildPlaybackBackwardIndex();
    }
    if (result == LoadCancelled)
        return Interrupted;
    currentDBIndex = index;
    gpsNormaliser = GpsNormaliser(cardKind == 2);
    // A recording that does not load, or loads without a frame, cannot be played.
    QString error = reader->playbackLoadError();
    if (result < 0 && error.isEmpty())
        error = QStringLiteral("it cannot be read");
    {
        std::lock_guard<std::mutex> locker(infoLock);
        lastLoadError = error;
    }
    if (!error.isEmpty())
        return Failed;
    presentChannels = reader->playbackVideoChannels();
    RecordingInfo info;
    info.index = index;
    info.startTime = reader->startTime();
    info.endTime = reader->endTime();
    info.telemetry = std::make_shared<const TelemetrySnapshot>(reader->telemetrySnapshot());
    info.audio = reader->audioDescription();
    info.tracks = reader->videoTracks();
    {
        std::lock_guard<std::mutex> locker(infoLock);
        infos[index] = std::move(info);
        while (infos.size() > KeptInfos) {
            auto farthest = infos.begin();
            for (auto it = infos.begin(); it != infos.end(); ++it)
                if (std::abs(it->first - index) > std::abs(farthest->first - index))
                    farthest = it;
            infos.erase(farthest);
        }
    }
    emit recordingOpened(index);
    return Loaded;
}

int ReadThread::openRecording(int index, bool backwardLoad)
{
    ended = false;
    backward = backwardLoad;
    if (load(index, backwardLoad, false, false) != Loaded)
        return -1;
    startTracks = reader->videoTracks();
    return 0;
}

QString ReadThread::loadError() const
{
    std::lock_guard<std::mutex> locker(infoLock);
    return lastLoadError;
}

int ReadThread::position(int index, qint64 mediaMs, bool backwardLoad)
{
    ended = false;
    restartReadAhead();
    if (reader->loadedIndex() != index || backwardLoad != backward.load()) {
        backward = backwardLoad;
        if (load(index, backwardLoad, true, false) != Loaded)
            return -1;
    }
    reader->seekMs(backwardLoad ? 5 : 0, mediaMs);
    return 0;
}

void ReadThread::startReading()
{
    restartReadAhead();
    clearFlagsForStart();
    start();
}

void ReadThread::restartReadAhead()
{
    originKnown = false;
    playedKnown = false;
}

void ReadThread::notePlayed(qint64 mediaMs)
{
    playedMs = mediaMs;
    playedKnown = true;
}

bool ReadThread::recordingInfo(int index, RecordingInfo *out) const
{
    std::lock_guard<std::mutex> locker(infoLock);
    const auto it = infos.find(index);
    if (it == infos.end())
        return false;
    *out = it->second;
    return true;
}

void ReadThread::clearAll()
{
    for (FrameQueue &q : videoQueues)
        q.clear();
    audioQueue.clear();
    gpsQueue.clear();
    gsensorQueue.clear();
}

void ReadThread::work()
{
    qCDebug(lcPlayback, "ReadThread::run...start");
    while (checkpoint()) {
        if (isPaused() || ended) {
            nap(20);
            continue;
        }
        if (!step())
            nap(2);
    }
    clearAll();
    qCDebug(lcPlayback, "[%s::%d]ReadThread...end", "run", __LINE__);
}

bool ReadThread::queuesFull(int limit) const
{
    for (int c = 0; c < channelCount; ++c) {
        if (!view->isVisible(c))
            continue;
        if (videoQueues[c].size() > limit || videoQueues[c].bytes() > MaxQueuedBytes)
            return true;
    }
    return false;
}

// Media time read beyond the picture on screen (before one was shown, beyond
// the first frame read), in the direction of reading.
qint64 ReadThread::aheadOfPlayback() const
{
    if (!originKnown)
        return 0;
    const qint64 reference = playedKnown ? playedMs.load() : originMs;
    return qMax<qint64>(0, backward ? reference - readMs : readMs - reference);
}

// Every queue is bounded by how far reading runs ahead of playback: sound
// and telemetry as much as video, even when no visible pane has video (a
// filler pane, a channel this recording lacks).
bool ReadThread::mayReadOn() const
{
    if (queuesFull(MaxQueuedFrames))
        return false;
    for (const FrameQueue *q : {&audioQueue, &gpsQueue, &gsensorQueue})
        if (q->size() > MaxQueuedOther || q->bytes() > MaxQueuedOtherBytes)
            return false;
    if (aheadOfPlayback() <= MaxReadAheadMs)
        return true;
    for (int c = 0; c < channelCount; ++c)
        if ((presentChannels & (1u << c)) && view->isVisible(c) && videoQueues[c].size() < StarvingFrames)
            return true;
    return false;
}

// A recording needs other panes and decoders when its channel count or the
// codec of a channel differs; a picture size alone does not (each picture
// carries its own).
bool ReadThread::layoutDiffers() const
{
    const std::vector<VideoTrack> tracks = reader->videoTracks();
    if (tracks.size() != startTracks.size())
        return true;
    for (size_t c = 0; c < tracks.size(); ++c)
        if (tracks[c].codec != startTracks[c].codec)
            return true;
    return false;
}

// One frame read and routed; false when nothing was done (full or boundary
// wait), so the loop sleeps a little.
bool ReadThread::step()
{
    if (!mayReadOn())
        return false;
    FrameIndexEntry entry;
    const bool back = backward;
    uint8_t *space = readSpace();
    if (!space)
        return false;
    const int length = back ? reader->nextFrameBackward(space, WorkBufferSize, entry, nullptr)
                            : reader->nextFrame(entry, space, WorkBufferSize);
    if (length > 0) {
        memset(space + length, 0, AV_INPUT_BUFFER_PADDING_SIZE);
        const qint64 t = entry.timeMs();
        if (!originKnown) {
            originMs = readMs = t;
            originKnown = true;
        }
        readMs = back ? qMin(readMs, t) : qMax(readMs, t);
        route(space, length, entry);
        readBufferUsed = (readBufferUsed + size_t(length) + AV_INPUT_BUFFER_PADDING_SIZE + FrameAlignment - 1)
                         & ~(FrameAlignment - 1);
        return true;
    }
    // Recording exhausted: let the consumers drain before the next one opens.
    if (queuesFull(back ? 5 : 30))
        return false;
    const int next = currentDBIndex + (back ? -1 : 1);
    if (next < 0 || next >= catalogueSize()) {
        qCDebug(lcPlayback, "Play end!!!!!!!");
        ended = true;
        emit playEnd(back ? 5 : 0);
        return false;
    }
    const LoadResult loaded = load(next, back, true, true);
    if (loaded == Interrupted)
        return false; // stopping, or tried again once the park is over
    if (loaded == Failed) {
        // Playback goes on with the recording after it.
        const QString reason = loadError();
        qCWarning(lcPlayback, "[%s::%d]recording %d cannot be played (%s); it is skipped", "step", __LINE__, next,
                 qPrintable(reason));
        emit recordingSkipped(next, reason);
        return true;
    }
    if (back)
        qCDebug(lcPlayback, "[%s]New data read:%d", "backRead", next);
    if (cardKind == 2 && layoutDiffers()) {
        // What was read still plays to its end; then it is played anew.
        ended = true;
        emit layoutChanged(next);
        return false;
    }
    return true;
}

// Video, sound and G-sensor items reference the frame where it was read.
void ReadThread::route(const uint8_t *data, int length, const FrameIndexEntry &entry)
{
    if (entry.channel >= channelCount)
        return;
    switch (entry.marker) {
    case FrameIndexEntry::Video:
        if (view->isVisible(entry.channel))
            videoQueues[entry.channel].append(new H26xFrameItem(readBuffer, data, length, entry));
        break;
    case FrameIndexEntry::Audio:
        if (!backward)
            audioQueue.append(new H26xFrameItem(readBuffer, data, length, entry));
        break;
    case FrameIndexEntry::Gps: {
        // Normalised exactly once, here; the item carries a GpsFix.
        GpsFix fix;
        if (!gpsNormaliser.take(data, length, entry, &fix))
            return;
        gpsQueue.append(new H26xFrameItem(reinterpret_cast<const uint8_t *>(&fix), int(sizeof fix), entry));
        break;
    }
    case FrameIndexEntry::GSensor:
        gsensorQueue.append(new H26xFrameItem(readBuffer, data, length, entry));
        break;
    default:
        break;
    }
}
