#include "PlaybackHost.h"

#include "PlaybackController.h"

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

int PlaybackHost::play(int index)
{
    stop();
    return controller->open(index);
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

void PlaybackHost::deliver(H26xFrameItem *item, int itemGeneration)
{
    if (itemGeneration != currentGeneration.load()) {
        delete item;
        return;
    }
    emit decodedFrame(item);
}
