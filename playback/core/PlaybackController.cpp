#include "PlaybackController.h"

#include "LogCategories.h"
#include <QElapsedTimer>

PlaybackController::PlaybackController(Reader *r, QObject *parent)
    : QObject(parent), reader(r), read(r, &view), decode(&read, &view), render(&read, &decode, &view)
{
    qRegisterMetaType<H26xFrameItem *>();
    decode.setClock(&clock);
    render.setClock(&clock);
    connect(&render, &RenderThread::decodedFrame, this, &PlaybackController::decodedFrame, Qt::DirectConnection);
    connect(&read, &ReadThread::playEnd, this, &PlaybackController::playEnd, Qt::QueuedConnection);
    connect(&read, &ReadThread::recordingSkipped, this, &PlaybackController::recordingSkipped, Qt::QueuedConnection);
    connect(&read, &ReadThread::layoutChanged, this, [this](int index) {
        layoutIndex = index;
        layoutWait.start();
    }, Qt::QueuedConnection);
    layoutWait.setInterval(20);
    connect(&layoutWait, &QTimer::timeout, this, [this] {
        // A stop or a reposition meanwhile took playback elsewhere.
        if (!isRunning() || !read.hasEnded()) {
            layoutWait.stop();
            return;
        }
        if (!everythingShown())
            return;
        layoutWait.stop();
        emit layoutChanged(layoutIndex);
    });
    connect(&decode, &DecodeThread::singlePaneRequested, this, &PlaybackController::singlePaneRequested,
            Qt::QueuedConnection);
}

PlaybackController::~PlaybackController()
{
    stop();
}

bool PlaybackController::stop()
{
    layoutWait.stop();
    const bool renderDone = render.stopAndWait();
    const bool decodeDone = decode.stopAndWait();
    const bool readDone = read.stopAndWait();
    return renderDone && decodeDone && readDone;
}

bool PlaybackController::isRunning() const
{
    return render.isRunning() && decode.isRunning() && read.isRunning();
}

// The recorded channels with their sizes (1280 x 720 when unknown) and the
// codec each track uses: H.264 in the index store, per track in record files.
void PlaybackController::buildPaneSpecs()
{
    codecs.clear();
    if (reader->mode() == 1) {
        const int n = qBound(1, reader->headChannelCount(), DecodeThread::Channels);
        specs = ::buildPaneSpecs(n, reader->widths(), reader->heights()).mid(0, n);
        codecs.append(H265Decoder::H264);
        return;
    }
    const std::vector<VideoTrack> tracks = reader->videoTracks();
    QVector<int> widths, heights;
    for (size_t c = 0; c < tracks.size() && c < size_t(DecodeThread::Channels); ++c) {
        widths.append(int(tracks[c].width));
        heights.append(int(tracks[c].height));
        codecs.append(tracks[c].codec == VideoCodec::H264 ? H265Decoder::H264 : H265Decoder::H265);
    }
    specs = ::buildPaneSpecs(widths.size(), widths, heights).mid(0, qMax(1, widths.size()));
}

int PlaybackController::open(int index, bool backward)
{
    lastOpenError.clear();
    // A thread still running must not be reconfigured under its feet.
    if (!stop()) {
        qCWarning(lcPlayback, "[%s::%d]a playback thread did not stop", "open", __LINE__);
        lastOpenError = QStringLiteral("playback did not stop");
        return -1;
    }
    read.setCardKind(reader->mode());
    backwardPlay = backward;
    const int opened = read.openRecording(index, backward);
    if (opened < 0) {
        lastOpenError = read.loadError();
        return opened;
    }
    openedIndex = index;
    buildPaneSpecs();
    const int n = specs.size();
    read.setChannelCount(n);
    decode.setChannelCount(n);
    render.setChannelCount(n);
    if (reader->mode() == 1) {
        render.setAudioFormat(AudioPlayer::Pcm, AudioPlayer::PcmRate, 1);
    } else {
        const AudioDescription audio = reader->audioDescription();
        render.setAudioFormat(AudioPlayer::Aac, audio.sampleRate, audio.channels);
    }
    render.resetStats();
    read.clearAll();
    read.startReading();
    // The direction is set before initCodec starts the decode thread.
    decode.setBackward(backward);
    decode.setFastForward(false);
    decode.setCodecTypes(codecs);
    if (decode.initCodec(specs) < 0) {
        stop();
        lastOpenError = QStringLiteral("its video cannot be decoded");
        return -1;
    }
    render.startPlaying(direction());
    return 0;
}

bool PlaybackController::everythingShown() const
{
    for (int c = 0; c < specs.size(); ++c)
        if (view.isVisible(c) && (!decode.isDrained(c) || decode.output(c).size() > 0))
            return false;
    return true;
}

bool PlaybackController::restartPoint(int *index, qint64 *mediaMs) const
{
    FrameIndexEntry record;
    if (!render.currentRecord(&record))
        return false;
    *index = record.catalogueIndex;
    *mediaMs = record.timeMs();
    return true;
}

int PlaybackController::reposition(int index, qint64 mediaMs, bool backward, bool continueFromScreen)
{
    if (!isRunning())
        return -1;
    // Park consumers first so nobody takes from a queue being flushed.
    const bool parked = render.park() && decode.park() && read.park();
    int result = -1;
    if (parked) {
        decode.flush();
        read.clearAll();
        result = read.position(index, mediaMs, backward);
        if (result == 0) {
            backwardPlay = backward;
            decode.setBackward(backward);
            decode.setFastForward(false);
        } else {
            // The named recording did not load: carry on from the frame on screen.
            int here = openedIndex;
            qint64 hereMs = mediaMs;
            restartPoint(&here, &hereMs);
            read.position(here, hereMs, backwardPlay);
        }
        if (result == 0 && continueFromScreen)
            render.restartClock(mediaMs, backward);
        else
            render.restartClock();
    }
    read.unpark();
    decode.unpark();
    render.unpark();
    return result;
}

void PlaybackController::play()
{
    if (backwardPlay) {
        int index = openedIndex;
        qint64 ms = 0;
        if (restartPoint(&index, &ms))
            reposition(index, ms, false, true);
    }
    decode.setFastForward(false);
    render.setPlayMode(RenderThread::Forward);
    read.resume();
}

int PlaybackController::reverse()
{
    if (!backwardPlay) {
        int index = openedIndex;
        qint64 ms = 0;
        if (!restartPoint(&index, &ms))
            return -1;
        const int result = reposition(index, ms, true, true);
        if (result < 0)
            return result;
    }
    decode.setFastForward(false);
    render.setPlayMode(RenderThread::Backward);
    read.resume();
    return 0;
}

void PlaybackController::pause()
{
    render.pause();
    read.pause();
}

void PlaybackController::resume()
{
    render.setPlayMode(direction());
    read.resume();
}

void PlaybackController::stepForward()
{
    if (backwardPlay) {
        int index = openedIndex;
        qint64 ms = 0;
        if (restartPoint(&index, &ms))
            reposition(index, ms, false, true);
    }
    read.resume();
    render.stepForward();
}

void PlaybackController::stepBackward()
{
    if (!backwardPlay) {
        int index = openedIndex;
        qint64 ms = 0;
        if (!restartPoint(&index, &ms) || reposition(index, ms, true, true) < 0)
            return;
    }
    read.resume();
    render.stepBackward();
}

void PlaybackController::waitForSteps(int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    while (render.isRunning() && render.stepPending() && timer.elapsed() < timeoutMs)
        QThread::usleep(500);
}

void PlaybackController::fastForward()
{
    if (backwardPlay)
        return;
    decode.setFastForward(true);
    render.setPlayMode(RenderThread::FastForward);
    read.resume();
}

void PlaybackController::fastBackward()
{
    if (!backwardPlay)
        return;
    render.setPlayMode(RenderThread::FastBackward);
    read.resume();
}

void PlaybackController::setSpeed(float speed)
{
    render.setSpeed(speed);
}

int PlaybackController::seek(int index, qint64 mediaMs)
{
    return reposition(index, mediaMs, backwardPlay);
}

namespace {

// Bit c set for each channel the view has decoded.
int decodedChannels(const PaneView &view)
{
    int mask = 0;
    for (int c = 0; c < DecodeThread::Channels; ++c)
        if (view.isVisible(c))
            mask |= 1 << c;
    return mask;
}

} // namespace

void PlaybackController::setPaneView(int layout, int selectedChannel, int visibleMask)
{
    int index = openedIndex;
    qint64 ms = 0;
    const bool known = restartPoint(&index, &ms);
    const int before = decodedChannels(view);
    view.publish(layout, selectedChannel, visibleMask);
    if (known && decodedChannels(view) != before)
        reposition(index, ms, backwardPlay);
}

int PlaybackController::droppedFrames(int channel) const
{
    if (channel < 0 || channel >= DecodeThread::Channels)
        return 0;
    return decode.dropped(channel) + render.stats().dropped[channel];
}
