#include "PlaybackHost.h"

#include "PlaybackController.h"

#include <QCoreApplication>

PlaybackHost::PlaybackHost(Reader *reader, QObject *parent)
    : QObject(parent)
    , controller(std::make_unique<PlaybackController>(reader))
{
    // Runs on the render thread: the generation is read when the frame is
    // made, the delivery is queued to this object's (the GUI) thread.
    // A channel has at most one picture on its way: when the GUI thread
    // falls behind, a newer picture replaces the one not yet delivered
    // instead of queueing up behind it (each holds a decoder's picture).
    connect(controller.get(), &PlaybackController::decodedFrame, this, [this](H26xFrameItem *item) {
        const int itemGeneration = currentGeneration.load();
        const int c = item ? item->channel() : -1;
        if (c < 0 || c >= MaxChannels) {
            QMetaObject::invokeMethod(this, [this, item, itemGeneration] { deliver(item, itemGeneration); },
                                      Qt::QueuedConnection);
            return;
        }
        std::unique_ptr<H26xFrameItem> replaced;
        bool post = false;
        {
            std::lock_guard<std::mutex> locker(pendingLock);
            replaced.reset(pending[c].item);
            post = !replaced;
            pending[c] = {item, itemGeneration};
        }
        if (post)
            QMetaObject::invokeMethod(this, [this, c] { deliverPending(c); }, Qt::QueuedConnection);
    }, Qt::DirectConnection);
    connect(controller.get(), &PlaybackController::layoutChanged, this, &PlaybackHost::layoutChanged);
    connect(controller.get(), &PlaybackController::recordingSkipped, this, &PlaybackHost::recordingSkipped);
}

PlaybackHost::~PlaybackHost()
{
    stop();
    for (Pending &p : pending)
        delete p.item;
}

void PlaybackHost::deliverPending(int channel)
{
    Pending p;
    {
        std::lock_guard<std::mutex> locker(pendingLock);
        std::swap(p, pending[channel]);
    }
    if (p.item)
        deliver(p.item, p.generation);
}

void PlaybackHost::stop()
{
    controller->stop();
    ++currentGeneration;
    shownSinceOpen = false;
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

QString PlaybackHost::playError() const
{
    return controller->openError();
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
    if (restartPointKnown())
        controller->setPaneView(layout, selectedChannel);
    else
        controller->paneView()->publish(layout, selectedChannel);
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

int PlaybackHost::playMode() const
{
    return controller->renderThread()->playMode();
}

GpsFix PlaybackHost::currentGpsFix() const
{
    return controller->renderThread()->currentGpsFix();
}

TelemetrySnapshotPtr PlaybackHost::telemetry(int index) const
{
    ReadThread::RecordingInfo info;
    if (!controller->readThread()->recordingInfo(index, &info))
        return nullptr;
    return info.telemetry;
}

int PlaybackHost::currentIndex() const
{
    FrameIndexEntry record;
    if (restartPointKnown() && controller->renderThread()->currentRecord(&record))
        return record.catalogueIndex;
    return openedIndex;
}

template <typename Command> auto PlaybackHost::repositioning(Command command, bool fromScreen)
{
    RenderThread *render = controller->renderThread();
    // The steps asked before are shown first, and the frames already made
    // reach the panes: the command starts from the frame on screen.
    if (fromScreen)
        controller->waitForSteps();
    render->park();
    if (fromScreen)
        QCoreApplication::sendPostedEvents(this, QEvent::MetaCall);
    ++currentGeneration;
    const auto result = command();
    render->unpark();
    return result;
}

// Direction changes restart at the frame on screen: refused before one of
// this run was shown.
void PlaybackHost::play()
{
    if (controller->direction() == RenderThread::Forward)
        controller->play();
    else if (restartPointKnown())
        repositioning([this] { controller->play(); return 0; });
}

int PlaybackHost::reverse()
{
    if (controller->direction() == RenderThread::Backward)
        return controller->reverse();
    if (!restartPointKnown())
        return -1;
    return repositioning([this] { return controller->reverse(); });
}

void PlaybackHost::pause() { controller->pause(); }
void PlaybackHost::resume() { controller->resume(); }
void PlaybackHost::stepForward()
{
    if (controller->direction() == RenderThread::Forward)
        controller->stepForward();
    else if (restartPointKnown())
        // Paused first: after the restart the render thread shows nothing
        // in its old mode before the step.
        repositioning([this] { controller->pause(); controller->stepForward(); return 0; });
}

void PlaybackHost::stepBackward()
{
    if (controller->direction() == RenderThread::Backward)
        controller->stepBackward();
    else if (restartPointKnown())
        repositioning([this] { controller->pause(); controller->stepBackward(); return 0; });
}

void PlaybackHost::fastForward() { controller->fastForward(); }
void PlaybackHost::fastBackward() { controller->fastBackward(); }
int PlaybackHost::seek(int index, qint64 mediaMs)
{
    return repositioning([&] { return controller->seek(index, mediaMs); }, false);
}
void PlaybackHost::setSpeed(float speed) { controller->setSpeed(speed); }

void PlaybackHost::deliver(H26xFrameItem *item, int itemGeneration)
{
    if (itemGeneration != currentGeneration.load()) {
        delete item;
        return;
    }
    shownSinceOpen = true;
    emit decodedFrame(item);
}
