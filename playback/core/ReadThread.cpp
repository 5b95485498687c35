#include "ReadThread.h"

#include "LogCategories.h"

#include <QDebug>

#include <cstdlib>

namespace {
constexpr int KeptInfos = 4;
}

ReadThread::ReadThread(Reader *r, PaneView *v, QObject *parent)
    : PlaybackWorker(parent), reader(r), view(v), workBuffer(new uint8_t[WorkBufferSize])
{
}

ReadThread::~ReadThread()
{
    stopAndWait();
}

int ReadThread::catalogueSize() const
{
    return cardKind == 1 ? reader->banks().size() : reader->files().size();
}

int ReadThread::load(int index, bool backwardLoad, bool keepBuffer)
{
    if (index < 0 || index >= catalogueSize())
        return -1;
    int result = 0;
    if (cardKind == 1) {
        result = reader->loadBankForPlayback(index, reader->banks().at(index), keepBuffer, backwardLoad);
    } else {
        result = reader->loadFileForPlayback(index, reader->files().at(index), keepBuffer) > 0 ? 0 : -1;
        if (backwardLoad)
            reader->buildPlaybackBackwardIndex();
    }
    currentDBIndex = index;
    gpsNormaliser = GpsNormaliser(cardKind == 2);
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
    return result;
}

int ReadThread::openRecording(int index, bool backwardLoad)
{
    ended = false;
    backward = backwardLoad;
    return load(index, backwardLoad, false);
}

int ReadThread::position(int index, qint64 mediaMs, bool backwardLoad)
{
    ended = false;
    if (reader->loadedIndex() != index || backwardLoad != backward.load()) {
        backward = backwardLoad;
        if (load(index, backwardLoad, true) < 0)
            return -1;
    }
    reader->seek(backwardLoad ? 5 : 0, mediaMs / 1000);
    return 0;
}

void ReadThread::startReading()
{
    clearFlagsForStart();
    start();
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

bool ReadThread::layoutDiffers() const
{
    const std::vector<VideoTrack> tracks = reader->videoTracks();
    if (int(tracks.size()) != channelCount)
        return true;
    for (int c = 0; c < int(tracks.size()) && c < paneSpecs.size(); ++c)
        if (int(tracks[c].width) != paneSpecs[c].width || int(tracks[c].height) != paneSpecs[c].height)
            return true;
    return false;
}

// One frame read and routed; false when nothing was done (full or boundary
// wait), so the loop sleeps a little.
bool ReadThread::step()
{
    if (queuesFull(MaxQueuedFrames))
        return false;
    FrameIndexEntry entry;
    const bool back = backward;
    const int length = back ? reader->nextFrameBackward(workBuffer.get(), WorkBufferSize, entry, nullptr)
                            : reader->nextFrame(entry, workBuffer.get(), WorkBufferSize);
    if (length > 0) {
        route(length, entry);
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
    load(next, back, true);
    if (back)
        qCDebug(lcPlayback, "[%s]New data read:%d", "backRead", next);
    if (cardKind == 2 && layoutDiffers()) {
        pause();
        emit layoutChanged(next);
    }
    return true;
}

void ReadThread::route(int length, const FrameIndexEntry &entry)
{
    if (entry.channel >= channelCount)
        return;
    switch (entry.marker) {
    case FrameIndexEntry::Video:
        if (view->isVisible(entry.channel))
            videoQueues[entry.channel].append(new H26xFrameItem(workBuffer.get(), length, entry));
        break;
    case FrameIndexEntry::Audio:
        if (!backward)
            audioQueue.append(new H26xFrameItem(workBuffer.get(), length, entry));
        break;
    case FrameIndexEntry::Gps: {
        // Normalised exactly once, here; the item carries a GpsFix.
        GpsFix fix;
        if (!gpsNormaliser.take(workBuffer.get(), length, entry, &fix))
            return;
        gpsQueue.append(new H26xFrameItem(reinterpret_cast<const uint8_t *>(&fix), int(sizeof fix), entry));
        break;
    }
    case FrameIndexEntry::GSensor:
        gsensorQueue.append(new H26xFrameItem(workBuffer.get(), length, entry));
        break;
    default:
        break;
    }
}
