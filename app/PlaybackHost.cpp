#include "PlaybackHost.h"

#include "PlaybackController.h"
#include "TelemetryRecords.h"

PlaybackHost::PlaybackHost(Reader *reader, QObject *parent)
    : QObject(parent)
    , controller(std::make_unique<PlaybackController>(reader))
{
    // Runs on the render thread: the generation is read when the frame is
    // made, the delivery is queued to this object's (the GUI) thread.
    connect(controller.get(), &PlaybackController::decodedFrame, this, [this](H26xFrameItem *item) {
        const int itemGeneration = currentGeneration.load();
        QMetaObject::invokeMethod(this, [this, item, itemGeneration] { deliver(item, itemGeneration); },
                                  Qt::QueuedConnection);
    }, Qt::DirectConnection);
    connect(controller.get(), &PlaybackController::layoutChanged, this, &PlaybackHost::layoutChanged);
}

PlaybackHost::~PlaybackHost()
{
    stop();
}

void PlaybackHost::stop()
{
    controller->stop();
    ++currentGeneration;
}

bool PlaybackHost::isRunning() const
{
    return controller->isRunning();
}

int PlaybackHost::play(int index, bool backward)
{
    stop();
    const int result = controller->open(index, backward);
    if (result == 0)
        openedIndex = index;
    return result;
}

QVector<QSize> PlaybackHost::channelSizes() const
{
    QVector<QSize> sizes;
    for (const PaneSpec &spec : controller->paneSpecs())
        sizes.append(QSize(spec.width, spec.height));
    return sizes;
}

void PlaybackHost::setPaneView(int layout, int selectedChannel)
{
    controller->setPaneView(layout, selectedChannel);
}

bool PlaybackHost::recordingSpan(int index, qint64 *start, qint64 *end) const
{
    ReadThread::RecordingInfo info;
    if (!controller->readThread()->recordingInfo(index, &info))
        return false;
    *start = info.startTime;
    *end = info.endTime;
    return true;
}

void PlaybackHost::setVolume(int percent)
{
    controller->renderThread()->setVolume(percent);
}

int PlaybackHost::deviceVolume() const
{
    return controller->renderThread()->volume();
}

int PlaybackHost::gpsSpeedKmh(int storageMode) const
{
    const GpsSample fix = controller->renderThread()->currentGpsFix();
    // Record files give knots, the index store's NMEA text km/h.
    return storageMode == 2 ? kmhFromKnots(fix.speed) : fix.speed;
}

int PlaybackHost::currentIndex() const
{
    FrameIndexEntry record;
    if (controller->renderThread()->currentRecord(&record))
        return record.catalogueIndex;
    return openedIndex;
}

void PlaybackHost::play() { controller->play(); }
int PlaybackHost::reverse() { return controller->reverse(); }
void PlaybackHost::pause() { controller->pause(); }
void PlaybackHost::resume() { controller->resume(); }
void PlaybackHost::stepForward() { controller->stepForward(); }
void PlaybackHost::stepBackward() { controller->stepBackward(); }
void PlaybackHost::fastForward() { controller->fastForward(); }
void PlaybackHost::fastBackward() { controller->fastBackward(); }
int PlaybackHost::seek(int index, qint64 mediaMs) { return controller->seek(index, mediaMs); }
void PlaybackHost::setSpeed(float speed) { controller->setSpeed(speed); }

void PlaybackHost::deliver(H26xFrameItem *item, int itemGeneration)
{
    if (itemGeneration != currentGeneration.load()) {
        delete item;
        return;
    }
    emit decodedFrame(item);
}
